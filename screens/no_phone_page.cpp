/* No-phone page (PAGE_NO_PHONE): the notice that no Bluetooth phone is
 * connected, and a back button. */
#include "launcher_page.h"
#include "nav_stack.h"
#include "pages.h"

static int no_phone_click(ButtonGroup*, int id, int, int, int) {
  return id == PAGE_BACK_BUTTON ? launcher_back() : 0;
}

static const int no_phone_buttons[] = {PAGE_BACK_BUTTON};
static const LauncherSpec no_phone_spec = {PAGE_NO_PHONE, 401, no_phone_buttons,
                                           PAGE_COUNT_OF(no_phone_buttons), 402, 0, -1,
                                           no_phone_click};

int no_phone_page_register(void) { return LauncherPage<no_phone_spec>::register_page(); }
