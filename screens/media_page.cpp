/* Media and office page (PAGE_MEDIA): five programs, each run as a launch
 * entry on a worker thread that waits for the program to end. */
#include "launcher_page.h"
#include "nav_stack.h"
#include "pages.h"
#include "side_programs.h"

static const WCHAR* const programs[] = {
    TEXT("\\residentflash2\\Player\\Player.exe"),
    TEXT("\\residentflash2\\Photos.exe"),
    TEXT("\\residentflash2\\Flash.exe"),
    TEXT("\\residentflash2\\Calculator.exe"),
    TEXT("\\residentflash2\\Calendar.exe"),
};

static int media_click(ButtonGroup*, int id, int, int, int) {
  if (id == PAGE_BACK_BUTTON) return launcher_back();
  if (id >= 1001 && id < 1001 + PAGE_COUNT_OF(programs)) launch_entry_async(programs[id - 1001]);
  return 0;
}

static const int media_buttons[] = {PAGE_BACK_BUTTON, 1001, 1002, 1003, 1004, 1005};
static const LauncherSpec media_spec = {PAGE_MEDIA, 100, media_buttons, PAGE_COUNT_OF(media_buttons),
                                        1000, 1011, 1015, media_click};

int media_page_register(void) { return LauncherPage<media_spec>::register_page(); }
