#include "device_events.h"

#include <mutex>

#include "plat/host.h"
#include "window_internal.h"

namespace sim {

namespace {

const char* action_of(plat::WindowChange change) {
  switch (change) {
    case plat::WindowChange::shown: return "show";
    case plat::WindowChange::hidden: return "hide";
    case plat::WindowChange::raised: return "top";
    case plat::WindowChange::foreground: return "foreground";
    case plat::WindowChange::created:
    case plat::WindowChange::destroyed: break;
  }
  return nullptr;
}

void window_changed(HWND window, plat::WindowChange change) {
  const char* action = action_of(change);
  if (!action) return;
  WCHAR title[256] = {0};
  GetWindowTextW(window, title, 256);
  plat::Event("window").str("title", title).str("action", std::string(action));
}

}  // namespace

void page_event(int id) { plat::Event("page").num("id", id); }

void gps_event(char status) {
  plat::Event("gps")
      .str("status", status ? std::string(1, status) : std::string())
      .boolean("fix", status == 'A');
}

void window_events_attach() {
  static std::once_flag once;
  std::call_once(once, [] { plat::window_observe(window_changed); });
}

}  // namespace sim
