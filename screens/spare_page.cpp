/* Spare page (PAGE_SPARE): a title and a back button; no navigation of the
 * system opens it. */
#include "launcher_page.h"
#include "nav_stack.h"
#include "pages.h"

static int spare_click(ButtonGroup*, int id, int, int, int) {
  return id == PAGE_BACK_BUTTON ? launcher_back() : 0;
}

static const int spare_buttons[] = {PAGE_BACK_BUTTON};
static const LauncherSpec spare_spec = {PAGE_SPARE, 1301, spare_buttons, PAGE_COUNT_OF(spare_buttons),
                                        1300, 0, -1, spare_click};

int spare_page_register(void) { return LauncherPage<spare_spec>::register_page(); }
