/* Desktop (PAGE_DESKTOP): the launch buttons, the FM / GPS / Bluetooth
 * indicators, the Bluetooth line, the device ID and the date line. Six taps
 * in the top-left corner that hit no button start the platform's desktop and
 * end the shell. */
#include "page_common.h"
#include "pages.h"

#include "bt_bridge.h"
#include "gps_wiring.h"
#include "nav_handoff.h"
#include "nav_stack.h"
#include "shell_globals.h"
#include "side_programs.h"
#include "vx_font.h"

#define CORNER_SIZE 30
/* Taps counted before the one that ends the shell. */
#define CORNER_TAPS_BEFORE_EXIT 5

enum { INDICATOR_FM, INDICATOR_GPS, INDICATOR_BT, INDICATOR_COUNT };

static Page desktop_page;
static PagePicture background;
static PagePicture indicators[INDICATOR_COUNT];
static PageControls controls;
static int corner_taps;

static int desktop_click(ButtonGroup*, int id, int, int, int) {
  switch (id) {
    case 211:
      if (!bt_info_present) return nav_click_result(nav_push(PAGE_NO_PHONE, 0));
      call_info.mode = CALL_MODE_CENTRE;
      return nav_click_result(nav_push(PAGE_DIALING, 0));
    case 212: nav_start_async(); break;
    case 213: alarm_program_async(); break;
    case 214: bt_show_program_async(); break;
    case 215: launch_detached(TEXT("\\residentflash2\\vmgprs\\app\\camera_dvr.exe")); break;
    case 216: launch_detached(TEXT("\\residentflash2\\MusicPlayer.exe")); break;
    case 217: launch_detached(TEXT("\\Residentflash2\\VideoPlayer.exe")); break;
    case 218: return nav_click_result(nav_push(PAGE_GAMES, 0));
    case 219: launch_detached(TEXT("\\Residentflash2\\EBook.exe")); break;
    case 220: return nav_click_result(nav_push(PAGE_MEDIA, 0));
    case 221: return nav_click_result(nav_push(PAGE_TOOLS, 0));
    default: break;
  }
  return 0;
}

static int desktop_enter(int, int, int) {
  static const int buttons[] = {211, 212, 213, 214, 215, 216, 217, 218, 219, 220, 221};
  corner_taps = 0;
  page_picture_find(&background, 200);
  page_picture_find(&indicators[INDICATOR_FM], 205);
  page_picture_find(&indicators[INDICATOR_GPS], 206);
  page_picture_find(&indicators[INDICATOR_BT], 207);
  page_controls_build(&controls, desktop_click, buttons, PAGE_COUNT_OF(buttons), PAGE_LABEL_HEIGHT,
                      PAGE_FACE_DEFAULT);
  return 0;
}

/* Frame 1 (the left half) shows the indicator on, frame 2 off. */
static int indicator_frame(int on) { return on ? 1 : 2; }

static int desktop_paint(HDC given) {
  PagePaint paint;
  HDC dc = page_paint_begin(&paint, given);
  if (!dc) return 0;
  page_picture_draw(&background, dc, 0);
  page_picture_draw(&indicators[INDICATOR_FM], dc, indicator_frame(fm_enabled));
  page_picture_draw(&indicators[INDICATOR_GPS], dc, indicator_frame(gps_wiring_has_fix()));
  page_picture_draw(&indicators[INDICATOR_BT], dc, indicator_frame(bt_started_by_shell));
  vx_button_draw_all(controls.group, dc);
  page_paint_text(&paint, controls.label_font, PAGE_WHITE);
  vx_draw_skin_text(dc, bt_info_present ? 201 : 208);
  vx_draw_text_in_item(dc, 202, device_id);
  vx_draw_text_in_item(dc, 203, clock_text);
  page_paint_end(&paint);
  return 0;
}

static int desktop_down(int x, int y) { return page_controls_down(&controls, x, y); }
static int desktop_move(int x, int y) { return page_controls_move(&controls, x, y); }

static int desktop_up(int x, int y) {
  const int clicked = vx_button_lbutton_up(controls.group, x, y);
  /* A click that switched pages has left the desktop: its taps no longer count. */
  if (clicked > 0 || vx_page_current_id(page_manager) != PAGE_DESKTOP) return 0;
  if (x >= CORNER_SIZE || y >= CORNER_SIZE) return 0;
  if (corner_taps++ == CORNER_TAPS_BEFORE_EXIT) {
    launch_detached(TEXT("explorer.exe"));
    PostMessageW(main_window, WM_DESTROY, 0, 0);
  }
  return 0;
}

static void desktop_leave(int) {
  page_picture_release(&background);
  for (PagePicture& indicator : indicators) page_picture_release(&indicator);
  page_controls_release(&controls);
}

int desktop_page_register(void) {
  return page_register(&desktop_page, PAGE_DESKTOP, desktop_paint, desktop_move, desktop_down,
                       desktop_up, desktop_enter, desktop_leave);
}
