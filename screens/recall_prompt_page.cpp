/* Recall prompt (PAGE_RECALL_PROMPT): offers to have the operator call back;
 * yes dials the recall number, no returns to the desktop. */
#include "page_common.h"
#include "pages.h"

#include "nav_stack.h"
#include "shell_globals.h"
#include "vx_font.h"

#define RECALL_YES 701
#define RECALL_NO 702

static Page recall_prompt_page;
static PagePicture background;
static PageControls controls;

static int recall_prompt_click(ButtonGroup*, int id, int, int, int) {
  if (id == RECALL_YES) {
    call_info.mode = CALL_MODE_RECALL;
    return nav_click_result(nav_push(PAGE_DIALING, 0));
  }
  if (id == RECALL_NO) return nav_click_result(nav_back());
  return 0;
}

static int recall_prompt_enter(int, int, int) {
  static const int buttons[] = {RECALL_YES, RECALL_NO};
  page_picture_find(&background, 700);
  page_controls_build(&controls, recall_prompt_click, buttons, PAGE_COUNT_OF(buttons), 38,
                      PAGE_FACE_DEFAULT);
  return 0;
}

static int recall_prompt_paint(HDC given) {
  PagePaint paint;
  HDC dc = page_paint_begin(&paint, given);
  if (!dc) return 0;
  page_picture_draw(&background, dc, 0);
  vx_button_draw_all(controls.group, dc);
  page_paint_text(&paint, controls.label_font, PAGE_WHITE);
  vx_draw_skin_text(dc, 705);
  page_paint_end(&paint);
  return 0;
}

static int recall_prompt_down(int x, int y) { return page_controls_down(&controls, x, y); }
static int recall_prompt_move(int x, int y) { return page_controls_move(&controls, x, y); }
static int recall_prompt_up(int x, int y) { return page_controls_up(&controls, x, y); }

static void recall_prompt_leave(int) {
  page_picture_release(&background);
  page_controls_release(&controls);
}

int recall_prompt_page_register(void) {
  return page_register(&recall_prompt_page, PAGE_RECALL_PROMPT, recall_prompt_paint,
                       recall_prompt_move, recall_prompt_down, recall_prompt_up,
                       recall_prompt_enter, recall_prompt_leave);
}
