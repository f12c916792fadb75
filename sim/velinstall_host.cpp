/* velinstall on the simulated device: the host entry with the installer's
 * program record. No display and no console; --as names the device path of
 * the running installer (default \sdmmc\velinstall.exe), from which it finds
 * its script. Only the host options that concern the installer are taken. */
#include <stdio.h>
#include <string.h>

#include "plat/host.h"

namespace {

const char kUsage[] =
    "options:\n"
    "  --device DIR        the device root (default ./device-run, made from the template)\n"
    "  --events FILE       the event log, the message boxes among its events (default: none)\n"
    "  --as DEVICE_PATH    the device path of the running installer (default\n"
    "                      \\sdmmc\\velinstall.exe); its script is that path up to the\n"
    "                      first \".\", then \".ini\"\n"
    "  --help              this text\n";

/* The option of arg ("--device" of "--device=x"), when it is one. */
bool is_option(const char* arg, const char* option) {
  size_t n = strlen(option);
  return strncmp(arg, option, n) == 0 && (arg[n] == 0 || arg[n] == '=');
}

}  // namespace

int main(int argc, char** argv) {
  static const plat::HostProgram program = {"velinstall", u"\\sdmmc\\velinstall.exe", nullptr,
                                            nullptr};
  const char* name = argc > 0 && argv[0] ? argv[0] : "velinstall";
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      printf("usage: %s [options]\n%s", name, kUsage);
      return 0;
    }
    bool known = false;
    for (const char* option : {"--device", "--events", "--as"}) {
      if (!is_option(arg, option)) continue;
      known = true;
      /* Its value is the next argument unless given after "=". */
      if (!strchr(arg, '=')) i++;
    }
    if (!known) {
      fprintf(stderr, "%s: unknown option: %s\n%s", name, arg, kUsage);
      return 2;
    }
  }
  return plat::host_main(argc, argv, program);
}
