/* Velmar on the simulated device: the host entry with the shell's program
 * record. Before the shell starts, the display opens, the page manager's
 * observer and the window observer write their events, and the console
 * starts reading commands. */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "window_internal.h"

#include <cstdio>
#include <cstdlib>

#include "call_audio.h"
#include "console.h"
#include "device_events.h"
#include "event_lines.h"
#include "gdi_internal.h"
#include "gps_feed.h"
#include "gps_wiring.h"
#include "main_window.h"
#include "navi.h"
#include "phone.h"
#include "plat/host.h"
#include "vx_page.h"

namespace {

/* A script's input: standard input for "-", else the file. */
int script_input(const std::string& script) {
  if (script == "-") return dup(0);
  int fd = open(script.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fprintf(stderr, "Velmar: cannot read the script %s\n", script.c_str());
    exit(2);
  }
  return fd;
}

/* Where the console reads first: the script, and without a script standard
 * input when it is a terminal or a pipe; -1 for no console. */
int console_input(const plat::HostOptions& options) {
  if (!options.script.empty()) return script_input(options.script);
  struct stat st;
  if (isatty(0) || (fstat(0, &st) == 0 && S_ISFIFO(st.st_mode))) return dup(0);
  return -1;
}

void attach(const plat::HostOptions& options) {
  int fd = console_input(options);
  plat::screen_open(options.screen_width, options.screen_height,
                    options.headless ? plat::ScreenBackendKind::headless
                                     : plat::ScreenBackendKind::sdl);
  /* Closing the SDL window closes the shell, whatever window is in front. */
  plat::screen_on_quit([] {
    if (HWND window = plat::find_local_window(MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE))
      PostMessageW(window, WM_CLOSE, 0, 0);
  });
  vx_page_set_observer(sim::page_event);
  gps_wiring_set_observer(sim::gps_event);
  sim::window_events_attach();
  sim::call_audio_attach(options);
  sim::navi_attach(options);
  sim::gps_attach(options);
  sim::phone_attach(options);
  if (fd >= 0) {
    sim::ConsoleSetup setup;
    setup.fd = fd;
    for (const std::string& script : options.then_scripts) setup.then_fds.push_back(script_input(script));
    setup.window_class = MAIN_WINDOW_CLASS;
    setup.window_title = MAIN_WINDOW_TITLE;
    sim::console_start(setup);
  }
}

void detach(int exit_code) {
  int status = sim::console_finish();
  plat::screen_close();
  if (status < 0) return;
  /* A failed expectation: the program's own end is logged, the run's status
   * is the console's. */
  plat::Event("exit").num("code", exit_code);
  plat::event_log_close();
  fflush(nullptr);
  _Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  /* Before the host entry, so that the console sees the start line too. */
  sim::event_lines_attach();
  static const plat::HostProgram program = {"Velmar", u"\\residentflash2\\Velmar\\Velmar.exe",
                                            attach, detach};
  return plat::host_main(argc, argv, program);
}
