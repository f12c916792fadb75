/* No-phone page (PAGE_NO_PHONE): the notice that no Bluetooth phone is
 * connected, and a back button. */
#include "page_common.h"
#include "pages.h"

#include "nav_stack.h"
#include "vx_font.h"

static Page no_phone_page;
static PagePicture background;
static PageControls controls;

static int no_phone_click(ButtonGroup*, int id, int, int, int) {
  if (id != PAGE_BACK_BUTTON) return 0;
  nav_back();
  return -1;
}

static int no_phone_enter(int, int, int) {
  static const int buttons[] = {PAGE_BACK_BUTTON};
  page_picture_find(&background, 401);
  page_controls_build(&controls, no_phone_click, buttons, PAGE_COUNT_OF(buttons), PAGE_LABEL_HEIGHT,
                      PAGE_FACE_DEFAULT);
  return 0;
}

static int no_phone_paint(HDC given) {
  PagePaint paint;
  HDC dc = page_paint_begin(&paint, given);
  if (!dc) return 0;
  page_picture_draw(&background, dc, 0);
  vx_button_draw_all(controls.group, dc);
  page_paint_text(&paint, controls.title_font, PAGE_WHITE);
  vx_draw_skin_text(dc, 402);
  page_paint_end(&paint);
  return 0;
}

static int no_phone_down(int x, int y) { return page_controls_down(&controls, x, y); }
static int no_phone_move(int x, int y) { return page_controls_move(&controls, x, y); }
static int no_phone_up(int x, int y) { return page_controls_up(&controls, x, y); }

static void no_phone_leave(int) {
  page_picture_release(&background);
  page_controls_release(&controls);
}

int no_phone_page_register(void) {
  return page_register(&no_phone_page, PAGE_NO_PHONE, no_phone_paint, no_phone_move, no_phone_down,
                       no_phone_up, no_phone_enter, no_phone_leave);
}
