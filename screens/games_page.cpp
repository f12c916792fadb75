/* Games page (PAGE_GAMES): ten game cards and a back button; each card starts
 * its game on a worker thread. */
#include "page_common.h"
#include "pages.h"

#include "nav_stack.h"
#include "side_programs.h"
#include "vx_font.h"

static Page games_page;
static PagePicture background;
static PageControls controls;

static const WCHAR* const games[] = {
    TEXT("\\residentflash2\\Russians.exe"),
    TEXT("\\residentflash2\\Xiangqi.exe"),
    TEXT("\\residentflash2\\Gomoku.exe"),
    TEXT("\\residentflash2\\Puzzle.exe"),
    TEXT("\\residentflash2\\Snake.exe"),
    TEXT("\\residentflash2\\Landlords\\landlords.exe"),
    TEXT("\\residentflash2\\Majiang\\majiang.exe"),
    TEXT("\\residentflash2\\Breakout\\breakout.exe"),
    TEXT("\\residentflash2\\Beads\\beads.exe"),
    TEXT("\\residentflash2\\Bubbles\\bubbles.exe"),
};

static int games_click(ButtonGroup*, int id, int, int, int) {
  if (id == PAGE_BACK_BUTTON) {
    nav_back();
    return -1;
  }
  if (id >= 1200 && id < 1200 + PAGE_COUNT_OF(games)) launch_detached_async(games[id - 1200]);
  return 0;
}

static int games_enter(int, int, int) {
  static const int buttons[] = {PAGE_BACK_BUTTON, 1200, 1201, 1202, 1203, 1204,
                                1205, 1206, 1207, 1208, 1209};
  page_picture_find(&background, 100);
  page_controls_build(&controls, games_click, buttons, PAGE_COUNT_OF(buttons), PAGE_LABEL_HEIGHT,
                      PAGE_FACE_DEFAULT);
  return 0;
}

static int games_paint(HDC given) {
  PagePaint paint;
  HDC dc = page_paint_begin(&paint, given);
  if (!dc) return 0;
  page_picture_draw(&background, dc, 0);
  vx_button_draw_all(controls.group, dc);
  page_paint_text(&paint, controls.title_font, PAGE_WHITE);
  vx_draw_skin_text(dc, 1299);
  page_paint_text(&paint, controls.label_font, PAGE_WHITE);
  for (int id = 1210; id <= 1219; ++id) vx_draw_skin_text(dc, id);
  page_paint_end(&paint);
  return 0;
}

static int games_down(int x, int y) { return page_controls_down(&controls, x, y); }
static int games_move(int x, int y) { return page_controls_move(&controls, x, y); }
static int games_up(int x, int y) { return page_controls_up(&controls, x, y); }

static void games_leave(int) {
  page_picture_release(&background);
  page_controls_release(&controls);
}

int games_page_register(void) {
  return page_register(&games_page, PAGE_GAMES, games_paint, games_move, games_down, games_up,
                       games_enter, games_leave);
}
