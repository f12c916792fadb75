/* Dialing page (PAGE_DIALING): reads the service centre's or the recall
 * number's data in those modes, asks the phone to dial, and shows the call
 * being set up; in those modes with a two-picture animation (timer 200). */
#include "page_common.h"
#include "pages.h"

#include "bt_bridge.h"
#include "call_common.h"
#include "shell_globals.h"
#include "vx_font.h"

#define ANIMATION_FIRST 302
#define ANIMATION_SECOND 303
#define ANIMATION_PERIOD_MS 1000

static Page dialing_page;
static PagePicture background;
/* Both animation pictures while the page shows them (modes 1 and 2); the
 * tick only changes which one is drawn, so neither is decoded again. */
static PagePicture animation[2];
static PagePicture* animation_current;
static PageControls controls;

static int centre_mode(void) {
  return call_info.mode == CALL_MODE_CENTRE || call_info.mode == CALL_MODE_RECALL;
}

static int dialing_click(ButtonGroup*, int id, int, int, int) {
  if (id == CALL_BUTTON_HANGUP || id == CALL_BUTTON_HANGUP_PLAIN) bt_hangup();
  return 0;
}

static void read_called_party(const WCHAR* number_key, const WCHAR* name_key, const WCHAR* detail_key) {
  call_read_config(number_key, call_info.number, CALL_NUMBER_SIZE);
  call_read_config(name_key, call_info.name, CALL_NAME_SIZE);
  call_read_config(detail_key, call_info.detail, CALL_DETAIL_SIZE);
  expand_escapes(call_info.detail);
}

static int dialing_enter(int, int, int) {
  if (call_info.mode == CALL_MODE_CENTRE)
    read_called_party(TEXT("CENTER_NUMBER"), TEXT("CENTER_NAME"), TEXT("CENTER_DETAIL"));
  else if (call_info.mode == CALL_MODE_RECALL)
    read_called_party(TEXT("RECALL_NUMBER"), TEXT("RECALL_NAME"), TEXT("RECALL_DETAIL"));
  bt_dial(call_info.number);
  SetTimer(main_window, TIMER_DIALING_ANIMATION, ANIMATION_PERIOD_MS, dialing_page_animation_tick);
  if (centre_mode()) {
    static const int buttons[] = {CALL_BUTTON_HANGUP};
    page_picture_find(&background, CALL_BACKGROUND_CENTRE);
    page_picture_find(&animation[0], ANIMATION_FIRST);
    page_picture_find(&animation[1], ANIMATION_SECOND);
    animation_current = &animation[0];
    page_controls_build(&controls, dialing_click, buttons, PAGE_COUNT_OF(buttons), PAGE_LABEL_HEIGHT,
                        PAGE_FACE_DEFAULT);
  } else {
    static const int buttons[] = {CALL_BUTTON_HANGUP_PLAIN};
    page_picture_find(&background, CALL_BACKGROUND_PLAIN);
    animation_current = NULL;
    page_controls_build(&controls, dialing_click, buttons, PAGE_COUNT_OF(buttons), PAGE_LABEL_HEIGHT,
                        PAGE_FACE_DEFAULT);
  }
  return 0;
}

void CALLBACK dialing_page_animation_tick(HWND, UINT, UINT_PTR, DWORD) {
  if (!animation_current) return;
  animation_current = animation_current == &animation[0] ? &animation[1] : &animation[0];
  page_invalidate();
}

static int dialing_paint(HDC given) {
  PagePaint paint;
  HDC dc = page_paint_begin(&paint, given);
  if (!dc) return 0;
  page_picture_draw(&background, dc, 0);
  if (animation_current) page_picture_draw(animation_current, dc, 0);
  vx_button_draw_all(controls.group, dc);
  call_draw_mode_texts(&paint, &controls, TEXT("正在拨号"));
  page_paint_end(&paint);
  return 0;
}

static int dialing_down(int x, int y) { return page_controls_down(&controls, x, y); }
static int dialing_move(int x, int y) { return page_controls_move(&controls, x, y); }
static int dialing_up(int x, int y) { return page_controls_up(&controls, x, y); }

static void dialing_leave(int) {
  KillTimer(main_window, TIMER_DIALING_ANIMATION);
  animation_current = NULL;
  page_picture_release(&background);
  page_picture_release(&animation[0]);
  page_picture_release(&animation[1]);
  page_controls_release(&controls);
}

int dialing_page_register(void) {
  return page_register(&dialing_page, PAGE_DIALING, dialing_paint, dialing_move, dialing_down,
                       dialing_up, dialing_enter, dialing_leave);
}
