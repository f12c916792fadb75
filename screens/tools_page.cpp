/* Tools page (PAGE_TOOLS): the device's settings programs, the FM transmitter
 * program and the way to the service numbers. Programs start on worker threads. */
#include "launcher_page.h"
#include "nav_stack.h"
#include "pages.h"
#include "side_programs.h"

static int tools_click(ButtonGroup*, int id, int, int, int) {
  switch (id) {
    case PAGE_BACK_BUTTON: return launcher_back();
    case 1101: launch_detached_async(TEXT("\\residentflash2\\Clock.exe")); break;
    case 1102: launch_detached_async(TEXT("\\residentflash2\\Volume.exe")); break;
    case 1103: launch_detached_async(TEXT("\\residentflash2\\Backlight.exe")); break;
    case 1104: fm_program_async(); break;
    case 1105: launch_detached_async(TEXT("\\residentflash2\\Satellites.exe")); break;
    case 1106: return nav_click_result(nav_push(PAGE_SERVICE_NUMBERS, 0));
    case 1107: launch_detached_async(TEXT("\\residentflash2\\System.exe")); break;
    default: break;
  }
  return 0;
}

static const int tools_buttons[] = {PAGE_BACK_BUTTON, 1101, 1102, 1103, 1104, 1105, 1106, 1107};
static const LauncherSpec tools_spec = {PAGE_TOOLS, 100, tools_buttons, PAGE_COUNT_OF(tools_buttons),
                                        1100, 1111, 1117, tools_click};

int tools_page_register(void) { return LauncherPage<tools_spec>::register_page(); }
