/* Incoming-call page (PAGE_INCOMING_CALL): rings, shows the caller's number,
 * answers or rejects through the phone. The page changes when the phone
 * reports the call active or ended. */
#include "page_common.h"
#include "pages.h"

#include "bt_bridge.h"
#include "call_common.h"
#include "shell_globals.h"
#include "vx_font.h"

#define INCOMING_ANSWER 535
#define INCOMING_TITLE 532
#define RING_TONE TEXT("residentflash2\\localring.wav")

static Page incoming_call_page;
static PagePicture background;
static PageControls controls;

static int incoming_call_click(ButtonGroup*, int id, int, int, int) {
  if (id == INCOMING_ANSWER) bt_answer();
  if (id == CALL_BUTTON_HANGUP_PLAIN) bt_hangup();
  return 0;
}

static int incoming_call_enter(int, int, int) {
  static const int buttons[] = {INCOMING_ANSWER, CALL_BUTTON_HANGUP_PLAIN};
  PlaySoundW(RING_TONE, NULL, SND_FILENAME | SND_ASYNC | SND_LOOP);
  page_picture_find(&background, CALL_BACKGROUND_PLAIN);
  page_controls_build(&controls, incoming_call_click, buttons, PAGE_COUNT_OF(buttons),
                      PAGE_LABEL_HEIGHT, PAGE_FACE_DEFAULT);
  return 0;
}

static int incoming_call_paint(HDC given) {
  PagePaint paint;
  HDC dc = page_paint_begin(&paint, given);
  if (!dc) return 0;
  page_picture_draw(&background, dc, 0);
  vx_button_draw_all(controls.group, dc);
  page_paint_text(&paint, controls.title_font, PAGE_WHITE);
  vx_draw_skin_text(dc, INCOMING_TITLE);
  page_paint_text(&paint, controls.label_font, PAGE_WHITE);
  vx_draw_text_centred_in_item(dc, CALL_ITEM_NUMBER, call_info.number);
  page_paint_end(&paint);
  return 0;
}

static int incoming_call_down(int x, int y) { return page_controls_down(&controls, x, y); }
static int incoming_call_move(int x, int y) { return page_controls_move(&controls, x, y); }
static int incoming_call_up(int x, int y) { return page_controls_up(&controls, x, y); }

static void incoming_call_leave(int) {
  PlaySoundW(NULL, NULL, 0);
  page_picture_release(&background);
  page_controls_release(&controls);
}

int incoming_call_page_register(void) {
  return page_register(&incoming_call_page, PAGE_INCOMING_CALL, incoming_call_paint,
                       incoming_call_move, incoming_call_down, incoming_call_up,
                       incoming_call_enter, incoming_call_leave);
}
