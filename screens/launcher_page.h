/* The plain page of the launcher pattern: a background picture, a button
 * group, a title and a run of labels from the skin, and a click callback of
 * the page's own. The games, media, tools, no-phone and spare pages are each
 * one LauncherPage over their LauncherSpec; every instance keeps its own
 * static state, as a page module does. */
#pragma once

#include "page_common.h"
#include "nav_stack.h"
#include "vx_font.h"

typedef struct LauncherSpec {
  int page_id;
  int background;          /* skin item of the background picture */
  const int* buttons;      /* button ids in insertion order */
  int button_count;
  int title;               /* skin text drawn with the title font */
  int first_label;         /* skin texts first_label..last_label, label font; */
  int last_label;          /* none when last_label < first_label */
  VxButtonClickFn click;   /* -1 after it switched pages, else 0 */
} LauncherSpec;

template <const LauncherSpec& spec>
struct LauncherPage {
  static Page page;
  static PagePicture background;
  static PageControls controls;

  static int enter(int, int, int) {
    page_picture_find(&background, spec.background);
    page_controls_build(&controls, spec.click, spec.buttons, spec.button_count, PAGE_LABEL_HEIGHT,
                        PAGE_FACE_DEFAULT);
    return 0;
  }

  static int paint(HDC given) {
    PagePaint paint;
    HDC dc = page_paint_begin(&paint, given);
    if (!dc) return 0;
    page_picture_draw(&background, dc, 0);
    vx_button_draw_all(controls.group, dc);
    page_paint_text(&paint, controls.title_font, PAGE_WHITE);
    vx_draw_skin_text(dc, spec.title);
    page_paint_text(&paint, controls.label_font, PAGE_WHITE);
    for (int id = spec.first_label; id <= spec.last_label; ++id) vx_draw_skin_text(dc, id);
    page_paint_end(&paint);
    return 0;
  }

  static int down(int x, int y) { return page_controls_down(&controls, x, y); }
  static int move(int x, int y) { return page_controls_move(&controls, x, y); }
  static int up(int x, int y) { return page_controls_up(&controls, x, y); }

  static void leave(int) {
    page_picture_release(&background);
    page_controls_release(&controls);
  }

  static int register_page(void) {
    return page_register(&page, spec.page_id, paint, move, down, up, enter, leave);
  }
};

template <const LauncherSpec& spec>
Page LauncherPage<spec>::page;
template <const LauncherSpec& spec>
PagePicture LauncherPage<spec>::background;
template <const LauncherSpec& spec>
PageControls LauncherPage<spec>::controls;

/* The click answer of a back button: back one page. */
inline int launcher_back(void) { return nav_click_result(nav_back()); }
