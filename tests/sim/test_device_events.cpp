/* The events that the simulator writes from the hooks of the page manager and
 * of the window manager. */
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "device_events.h"
#include "event_lines.h"
#include "vx_page.h"

namespace {

int enter_page(int, int, int) { return 0; }

TEST(DeviceEvents, PageChangesAreLoggedAndSeenByExpectPage) {
  sim::event_lines_reset();
  sim::event_lines_attach();
  vx_page_set_observer(sim::page_event);
  Page pages[2] = {{-1, 0, 0, nullptr, nullptr, nullptr, nullptr, 0, enter_page, nullptr, 0, nullptr},
                   {-1, 5, 0, nullptr, nullptr, nullptr, nullptr, 0, enter_page, nullptr, 0, nullptr}};
  PageManager* manager = vx_page_create(nullptr, 12);
  ASSERT_NE(manager, nullptr);
  for (Page& page : pages) ASSERT_EQ(vx_page_add(manager, &page), 1);

  ASSERT_EQ(vx_page_switch(manager, 5, 0, 0, 0, 0), 0);
  EXPECT_TRUE(sim::event_lines_expect(",\"ev\":\"page\",\"id\":5}", 0, nullptr));
  EXPECT_TRUE(sim::event_lines_expect_page(5, 0, nullptr));
  /* A refused switch is no page change. */
  EXPECT_EQ(vx_page_switch(manager, 7, 0, 0, 0, 0), -1);
  ASSERT_EQ(vx_page_switch(manager, 0, 0, 0, 0, 0), 0);
  EXPECT_TRUE(sim::event_lines_expect_page(0, 0, nullptr));
  EXPECT_FALSE(sim::event_lines_expect("\"id\":7", 0, nullptr));

  vx_page_destroy(manager);
  vx_page_set_observer(nullptr);
}

LRESULT CALLBACK plain_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST(DeviceEvents, WindowChangesAreLoggedWithTitleAndAction) {
  sim::event_lines_reset();
  sim::event_lines_attach();
  sim::window_events_attach();
  WNDCLASSW c = {};
  c.lpfnWndProc = plain_proc;
  c.hInstance = GetModuleHandleW(nullptr);
  c.lpszClassName = TEXT("EventsWindow");
  ASSERT_NE(RegisterClassW(&c), 0);
  HWND window = CreateWindowExW(0, TEXT("EventsWindow"), TEXT("kvybluetooth"), WS_POPUP, 0, 0, 100,
                                100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(sim::event_lines_expect("\"ev\":\"window\"", 0, nullptr));

  const struct {
    const char* what;
    bool (*change)(HWND);
    const char* line;
  } cases[] = {
      {"show", [](HWND w) { return ShowWindow(w, SW_SHOW) == FALSE; },
       "\"ev\":\"window\",\"title\":\"kvybluetooth\",\"action\":\"show\"}"},
      {"top", [](HWND w) { return SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE) != FALSE; },
       "\"ev\":\"window\",\"title\":\"kvybluetooth\",\"action\":\"top\"}"},
      {"foreground", [](HWND w) { return SetForegroundWindow(w) != FALSE; },
       "\"ev\":\"window\",\"title\":\"kvybluetooth\",\"action\":\"foreground\"}"},
      {"hide", [](HWND w) { return ShowWindow(w, SW_HIDE) != FALSE; },
       "\"ev\":\"window\",\"title\":\"kvybluetooth\",\"action\":\"hide\"}"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    ASSERT_TRUE(k.change(window));
    EXPECT_TRUE(sim::event_lines_expect(k.line, 0, nullptr));
  }
  DestroyWindow(window);
  UnregisterClassW(TEXT("EventsWindow"), GetModuleHandleW(nullptr));
}

}  // namespace
