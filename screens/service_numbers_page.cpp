/* Service-numbers page (PAGE_SERVICE_NUMBERS): the service centre's number
 * and the recall number as config.ini holds them, each under its name and
 * with a button that opens the keypad to change it. */
#include "page_common.h"
#include "pages.h"

#include "ini_reader.h"
#include "module_path.h"
#include "nav_stack.h"
#include "vx_font.h"

#define NUMBERS_SIZE 40
#define EDIT_CENTRE 1404
#define EDIT_RECALL 1405
/* The skin's names of the two numbers, drawn beside them when it has them. */
#define LABEL_CENTRE 1406
#define LABEL_RECALL 1407

static Page service_numbers_page;
static PagePicture background;
static PagePicture panel;
static PageControls controls;
static WCHAR centre_number[NUMBERS_SIZE];
static WCHAR recall_number[NUMBERS_SIZE];

static int service_numbers_click(ButtonGroup*, int id, int, int, int) {
  switch (id) {
    case PAGE_BACK_BUTTON: return nav_click_result(nav_back());
    case EDIT_CENTRE: return nav_click_result(nav_push(PAGE_NUMBER_ENTRY, 0));
    case EDIT_RECALL: return nav_click_result(nav_push(PAGE_NUMBER_ENTRY, 1));
    default: return 0;
  }
}

static int service_numbers_enter(int, int, int) {
  static const int buttons[] = {PAGE_BACK_BUTTON, EDIT_CENTRE, EDIT_RECALL};
  WCHAR path[MAX_PATH];
  centre_number[0] = recall_number[0] = 0;
  if (module_file_path(path, MAX_PATH, NULL, TEXT("config.ini")) == 0) {
    ini_read_string(TEXT("CONFIG"), TEXT("CENTER_NUMBER"), NULL, centre_number, NUMBERS_SIZE, path);
    ini_read_string(TEXT("CONFIG"), TEXT("RECALL_NUMBER"), NULL, recall_number, NUMBERS_SIZE, path);
  }
  page_picture_find(&background, 100);
  page_picture_find(&panel, 1401);
  page_controls_build(&controls, service_numbers_click, buttons, PAGE_COUNT_OF(buttons), 32,
                      PAGE_FACE_SONG);
  return 0;
}

static int service_numbers_paint(HDC given) {
  PagePaint paint;
  HDC dc = page_paint_begin(&paint, given);
  if (!dc) return 0;
  page_picture_draw(&background, dc, 0);
  page_picture_draw(&panel, dc, 0);
  vx_button_draw_all(controls.group, dc);
  page_paint_text(&paint, controls.title_font, PAGE_WHITE);
  vx_draw_skin_text(dc, 1400);
  page_paint_text(&paint, controls.label_font, PAGE_ACCENT);
  vx_draw_skin_text(dc, LABEL_CENTRE);
  vx_draw_skin_text(dc, LABEL_RECALL);
  page_paint_text(&paint, controls.label_font, PAGE_WHITE);
  vx_draw_text_in_item(dc, 1402, centre_number);
  vx_draw_text_in_item(dc, 1403, recall_number);
  page_paint_end(&paint);
  return 0;
}

static int service_numbers_down(int x, int y) { return page_controls_down(&controls, x, y); }
static int service_numbers_move(int x, int y) { return page_controls_move(&controls, x, y); }
static int service_numbers_up(int x, int y) { return page_controls_up(&controls, x, y); }

static void service_numbers_leave(int) {
  page_picture_release(&background);
  page_picture_release(&panel);
  page_controls_release(&controls);
}

int service_numbers_page_register(void) {
  return page_register(&service_numbers_page, PAGE_SERVICE_NUMBERS, service_numbers_paint,
                       service_numbers_move, service_numbers_down, service_numbers_up,
                       service_numbers_enter, service_numbers_leave);
}
