/* Games page (PAGE_GAMES): ten game cards and a back button; each card starts
 * its game on a worker thread. */
#include "launcher_page.h"
#include "nav_stack.h"
#include "pages.h"
#include "side_programs.h"

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
  if (id == PAGE_BACK_BUTTON) return launcher_back();
  if (id >= 1200 && id < 1200 + PAGE_COUNT_OF(games)) launch_detached_async(games[id - 1200]);
  return 0;
}

static const int games_buttons[] = {PAGE_BACK_BUTTON, 1200, 1201, 1202, 1203, 1204,
                                    1205, 1206, 1207, 1208, 1209};
static const LauncherSpec games_spec = {PAGE_GAMES, 100, games_buttons, PAGE_COUNT_OF(games_buttons),
                                        1299, 1210, 1219, games_click};

int games_page_register(void) { return LauncherPage<games_spec>::register_page(); }
