/* Tools page (PAGE_TOOLS): the device's settings programs, the FM transmitter
 * program and the way to the service numbers. Programs start on worker threads. */
#include "page_common.h"
#include "pages.h"

#include "nav_stack.h"
#include "side_programs.h"
#include "vx_font.h"

static Page tools_page;
static PagePicture background;
static PageControls controls;

static int tools_click(ButtonGroup*, int id, int, int, int) {
  switch (id) {
    case PAGE_BACK_BUTTON:
      nav_back();
      return -1;
    case 1101: launch_detached_async(TEXT("\\residentflash2\\Clock.exe")); break;
    case 1102: launch_detached_async(TEXT("\\residentflash2\\Volume.exe")); break;
    case 1103: launch_detached_async(TEXT("\\residentflash2\\Backlight.exe")); break;
    case 1104: fm_program_async(); break;
    case 1105: launch_detached_async(TEXT("\\residentflash2\\Satellites.exe")); break;
    case 1106:
      nav_push(PAGE_SERVICE_NUMBERS, 0);
      return -1;
    case 1107: launch_detached_async(TEXT("\\residentflash2\\System.exe")); break;
    default: break;
  }
  return 0;
}

static int tools_enter(int, int, int) {
  static const int buttons[] = {PAGE_BACK_BUTTON, 1101, 1102, 1103, 1104, 1105, 1106, 1107};
  page_picture_find(&background, 100);
  page_controls_build(&controls, tools_click, buttons, PAGE_COUNT_OF(buttons), PAGE_LABEL_HEIGHT,
                      PAGE_FACE_DEFAULT);
  return 0;
}

static int tools_paint(HDC given) {
  PagePaint paint;
  HDC dc = page_paint_begin(&paint, given);
  if (!dc) return 0;
  page_picture_draw(&background, dc, 0);
  vx_button_draw_all(controls.group, dc);
  page_paint_text(&paint, controls.title_font, PAGE_WHITE);
  vx_draw_skin_text(dc, 1100);
  page_paint_text(&paint, controls.label_font, PAGE_WHITE);
  for (int id = 1111; id <= 1117; ++id) vx_draw_skin_text(dc, id);
  page_paint_end(&paint);
  return 0;
}

static int tools_down(int x, int y) { return page_controls_down(&controls, x, y); }
static int tools_move(int x, int y) { return page_controls_move(&controls, x, y); }
static int tools_up(int x, int y) { return page_controls_up(&controls, x, y); }

static void tools_leave(int) {
  page_picture_release(&background);
  page_controls_release(&controls);
}

int tools_page_register(void) {
  return page_register(&tools_page, PAGE_TOOLS, tools_paint, tools_move, tools_down, tools_up,
                       tools_enter, tools_leave);
}
