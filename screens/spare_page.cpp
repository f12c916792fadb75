/* Spare page (PAGE_SPARE): a title and a back button; no navigation of the
 * system opens it. */
#include "page_common.h"
#include "pages.h"

#include "nav_stack.h"
#include "vx_font.h"

static Page spare_page;
static PagePicture background;
static PageControls controls;

static int spare_click(ButtonGroup*, int id, int, int, int) {
  if (id != PAGE_BACK_BUTTON) return 0;
  nav_back();
  return -1;
}

static int spare_enter(int, int, int) {
  static const int buttons[] = {PAGE_BACK_BUTTON};
  page_picture_find(&background, 1301);
  page_controls_build(&controls, spare_click, buttons, PAGE_COUNT_OF(buttons), PAGE_LABEL_HEIGHT,
                      PAGE_FACE_DEFAULT);
  return 0;
}

static int spare_paint(HDC given) {
  PagePaint paint;
  HDC dc = page_paint_begin(&paint, given);
  if (!dc) return 0;
  page_picture_draw(&background, dc, 0);
  vx_button_draw_all(controls.group, dc);
  page_paint_text(&paint, controls.title_font, PAGE_WHITE);
  vx_draw_skin_text(dc, 1300);
  page_paint_end(&paint);
  return 0;
}

static int spare_down(int x, int y) { return page_controls_down(&controls, x, y); }
static int spare_move(int x, int y) { return page_controls_move(&controls, x, y); }
static int spare_up(int x, int y) { return page_controls_up(&controls, x, y); }

static void spare_leave(int) {
  page_picture_release(&background);
  page_controls_release(&controls);
}

int spare_page_register(void) {
  return page_register(&spare_page, PAGE_SPARE, spare_paint, spare_move, spare_down,
                       spare_up, spare_enter, spare_leave);
}
