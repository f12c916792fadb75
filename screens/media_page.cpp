/* Media and office page (PAGE_MEDIA): five programs, each run as a launch
 * entry on a worker thread that waits for the program to end. */
#include "page_common.h"
#include "pages.h"

#include "nav_stack.h"
#include "side_programs.h"
#include "vx_font.h"

static Page media_page;
static PagePicture background;
static PageControls controls;

static const WCHAR* const programs[] = {
    TEXT("\\residentflash2\\Player\\Player.exe"),
    TEXT("\\residentflash2\\Photos.exe"),
    TEXT("\\residentflash2\\Flash.exe"),
    TEXT("\\residentflash2\\Calculator.exe"),
    TEXT("\\residentflash2\\Calendar.exe"),
};

static int media_click(ButtonGroup*, int id, int, int, int) {
  if (id == PAGE_BACK_BUTTON) {
    nav_back();
    return -1;
  }
  if (id >= 1001 && id < 1001 + PAGE_COUNT_OF(programs)) launch_entry_async(programs[id - 1001]);
  return 0;
}

static int media_enter(int, int, int) {
  static const int buttons[] = {PAGE_BACK_BUTTON, 1001, 1002, 1003, 1004, 1005};
  page_picture_find(&background, 100);
  page_controls_build(&controls, media_click, buttons, PAGE_COUNT_OF(buttons), PAGE_LABEL_HEIGHT,
                      PAGE_FACE_DEFAULT);
  return 0;
}

static int media_paint(HDC given) {
  PagePaint paint;
  HDC dc = page_paint_begin(&paint, given);
  if (!dc) return 0;
  page_picture_draw(&background, dc, 0);
  vx_button_draw_all(controls.group, dc);
  page_paint_text(&paint, controls.title_font, PAGE_WHITE);
  vx_draw_skin_text(dc, 1000);
  page_paint_text(&paint, controls.label_font, PAGE_WHITE);
  for (int id = 1011; id <= 1015; ++id) vx_draw_skin_text(dc, id);
  page_paint_end(&paint);
  return 0;
}

static int media_down(int x, int y) { return page_controls_down(&controls, x, y); }
static int media_move(int x, int y) { return page_controls_move(&controls, x, y); }
static int media_up(int x, int y) { return page_controls_up(&controls, x, y); }

static void media_leave(int) {
  page_picture_release(&background);
  page_controls_release(&controls);
}

int media_page_register(void) {
  return page_register(&media_page, PAGE_MEDIA, media_paint, media_move, media_down, media_up,
                       media_enter, media_leave);
}
