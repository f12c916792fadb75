/* Number-entry page (PAGE_NUMBER_ENTRY): a keypad that edits the service
 * centre's number (enter argument 0) or the recall number (any other) and
 * saves it to config.ini. */
#include "page_common.h"
#include "pages.h"

#include <string.h>

#include "ini_writer.h"
#include "module_path.h"
#include "nav_stack.h"
#include "vx_font.h"

#define ENTRY_SIZE 40
#define ENTRY_MAX_DIGITS 16
#define DIGIT_ZERO 1503
#define DIGIT_NINE 1512
#define DELETE_LAST 1513
#define SAVE 1514
/* Titles: the plain one, and the skin's titles naming the centre's and the
 * recall number. */
#define TITLE_PLAIN 1500
#define TITLE_CENTRE 1515

static Page number_entry_page;
static PagePicture background;
static PagePicture field;
static PageControls controls;
static int edit_target;
static WCHAR entry[ENTRY_SIZE];

static int entry_length(void) { return (int)lstrlenW(entry); }

static int save_entry(void) {
  if (!entry[0]) return 0;
  WCHAR path[MAX_PATH];
  if (module_file_path(path, MAX_PATH, NULL, TEXT("config.ini")) == 0)
    ini_write_string(TEXT("CONFIG"), edit_target == 0 ? TEXT("CENTER_NUMBER") : TEXT("RECALL_NUMBER"),
                     entry, path);
  return nav_click_result(nav_back());
}

static int number_entry_click(ButtonGroup*, int id, int, int, int) {
  if (id >= DIGIT_ZERO && id <= DIGIT_NINE) {
    const int length = entry_length();
    if (length < ENTRY_MAX_DIGITS) {
      entry[length] = (WCHAR)('0' + id - DIGIT_ZERO);
      page_invalidate();
    }
    return 0;
  }
  switch (id) {
    case DELETE_LAST: {
      const int length = entry_length();
      if (length > 0) {
        entry[length - 1] = 0;
        page_invalidate();
      }
      return 0;
    }
    case SAVE: return save_entry();
    case PAGE_BACK_BUTTON: return nav_click_result(nav_back());
    default: return 0;
  }
}

static int number_entry_enter(int arg1, int, int) {
  static const int buttons[] = {PAGE_BACK_BUTTON, 1503, 1504, 1505, 1506, 1507, 1508,
                                1509, 1510, 1511, 1512, 1513, 1514};
  edit_target = arg1;
  memset(entry, 0, sizeof entry);
  page_picture_find(&background, 100);
  page_picture_find(&field, 1501);
  page_controls_build(&controls, number_entry_click, buttons, PAGE_COUNT_OF(buttons), 38,
                      PAGE_FACE_SONG);
  return 0;
}

static int number_entry_paint(HDC given) {
  PagePaint paint;
  HDC dc = page_paint_begin(&paint, given);
  if (!dc) return 0;
  page_picture_draw(&background, dc, 0);
  page_picture_draw(&field, dc, 0);
  vx_button_draw_all(controls.group, dc);
  page_paint_text(&paint, controls.title_font, PAGE_WHITE);
  /* The title names the number being edited when the skin has such a title. */
  const int title = TITLE_CENTRE + (edit_target == 0 ? 0 : 1);
  vx_draw_skin_text(dc, vx_skin_find(shell_skin, title) ? title : TITLE_PLAIN);
  page_paint_text(&paint, controls.label_font, PAGE_WHITE);
  vx_draw_text_in_item(dc, 1502, entry);
  page_paint_end(&paint);
  return 0;
}

static int number_entry_down(int x, int y) { return page_controls_down(&controls, x, y); }
static int number_entry_move(int x, int y) { return page_controls_move(&controls, x, y); }
static int number_entry_up(int x, int y) { return page_controls_up(&controls, x, y); }

static void number_entry_leave(int) {
  page_picture_release(&background);
  page_picture_release(&field);
  page_controls_release(&controls);
}

int number_entry_page_register(void) {
  return page_register(&number_entry_page, PAGE_NUMBER_ENTRY, number_entry_paint, number_entry_move,
                       number_entry_down, number_entry_up, number_entry_enter, number_entry_leave);
}
