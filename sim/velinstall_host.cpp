/* velinstall on the simulated device: the host entry with the installer's
 * program record. No display and no console; --as names the device path of
 * the running installer (default \sdmmc\velinstall.exe), from which it finds
 * its script. */
#include "plat/host.h"

int main(int argc, char** argv) {
  static const plat::HostProgram program = {"velinstall", u"\\sdmmc\\velinstall.exe", nullptr,
                                            nullptr};
  return plat::host_main(argc, argv, program);
}
