/* The shell's entry and main window on the platform's real window manager:
 * the window covers the screen for any screen size, WM_CREATE and
 * WM_DESTROY create and destroy the page manager (the whole start-up and
 * shutdown are in test_shell_init.cpp), WM_ERASEBKGND composes the
 * current page over the screen's content, the pen messages reach the page
 * with unsigned coordinates, and the entry's exit codes. */
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main_window.h"
#include "nav_stack.h"
#include "shell_fixture.h"
#include "shell_globals.h"
#include "velmar_main.h"

#ifndef _WIN32
#include "gdi_internal.h"
#endif

namespace {

const COLORREF red = RGB(255, 0, 0);
const COLORREF blue = RGB(0, 0, 255);
const RECT page_rect = {100, 100, 200, 150};

/* A page that paints a blue rectangle and records what it is given. */
std::vector<std::string> page_calls;
COLORREF seen_before_paint;

int page_paint(HDC dc) {
  seen_before_paint = GetPixel(dc, 10, 10);
  HBRUSH brush = CreateSolidBrush(blue);
  FillRect(dc, &page_rect, brush);
  DeleteObject(brush);
  page_calls.push_back("paint");
  return 0;
}
int page_move(int x, int y) {
  page_calls.push_back("move " + std::to_string(x) + "," + std::to_string(y));
  return 11;
}
int page_down(int x, int y) {
  page_calls.push_back("down " + std::to_string(x) + "," + std::to_string(y));
  return 12;
}
int page_up(int x, int y) {
  page_calls.push_back("up " + std::to_string(x) + "," + std::to_string(y));
  return 13;
}
int page_enter(int, int, int) { return 0; }
void page_leave(int code) { page_calls.push_back("leave " + std::to_string(code)); }

Page test_page = {-1, 0, 0, page_paint, page_move, page_down, page_up, 0, page_enter, page_leave, 0, nullptr};

/* Handles everything waiting for this thread; the exit code of a WM_QUIT
 * met on the way, or -1. */
int pump() {
  int quit = -1;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quit = (int)msg.wParam;
      continue;
    }
    DispatchMessageW(&msg);
  }
  return quit;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    /* The program folder with a resource file and configuration. */
    ASSERT_TRUE(device_.open("main-window"));
    ASSERT_TRUE(device_.write(TEXT("Velmar.res"), shell_test::empty_skin()));
    ASSERT_TRUE(device_.write(TEXT("config.ini"), shell_test::default_config()));
  }
  void open(int width, int height) {
#ifndef _WIN32
    plat::screen_open(width, height, plat::ScreenBackendKind::headless);
#else
    (void)width, (void)height; /* the real screen has its one size */
#endif
    read_screen_size();
    for (int& entry : nav_stack.entries) entry = 7;
    nav_stack.top = 9;
    window_ = create_main_window(GetModuleHandleW(nullptr));
  }
  void TearDown() override {
    if (IsWindow(window_)) DestroyWindow(window_);
    pump();
    UnregisterClassW(MAIN_WINDOW_CLASS, GetModuleHandleW(nullptr));
    page_calls.clear();
  }
  ~MainWindowTest() override { device_.close(); }
  HWND window_ = nullptr;
  shell_test::ShellDevice device_;
};

TEST_F(MainWindowTest, CoversTheWholeScreenForAnyScreenSize) {
  struct Size {
    int width, height;
  };
#ifndef _WIN32
  const Size sizes[] = {{800, 480}, {1024, 600}, {480, 272}, {1280, 720}};
#else
  /* A real screen has the one size it has. */
  const Size sizes[] = {{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}};
#endif
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    open(size.width, size.height);
    ASSERT_NE(window_, nullptr);
    EXPECT_EQ(screen_width, size.width);
    EXPECT_EQ(screen_height, size.height);
    RECT rect;
    ASSERT_TRUE(GetWindowRect(window_, &rect));
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, size.width);
    EXPECT_EQ(rect.bottom, size.height);
    EXPECT_TRUE(IsWindowVisible(window_));
    EXPECT_EQ(FindWindowW(TEXT("APS"), TEXT("APS")), window_);
    DWORD style = (DWORD)GetWindowLongW(window_, GWL_STYLE);
    EXPECT_EQ(style & (DWORD)(WS_POPUP | WS_SYSMENU | WS_CAPTION | WS_BORDER | WS_CHILD),
              (DWORD)(WS_POPUP | WS_SYSMENU));

    /* The creation handler's part: the manager, the window, the desktop
     * over an empty stack. */
    EXPECT_EQ(main_window, window_);
    EXPECT_NE(page_manager, nullptr);
    EXPECT_EQ(vx_page_current_id(page_manager), 0);
    EXPECT_EQ(nav_stack.top, 0);
    for (int entry : nav_stack.entries) ASSERT_EQ(entry, 0);
    TearDown();
  }
}

TEST_F(MainWindowTest, ErasePaintsThePageOverTheScreenInOneCopy) {
  open(800, 480);
  ASSERT_NE(window_, nullptr);
  ASSERT_EQ(vx_page_add(page_manager, &test_page), 1);
  /* What the screen shows before the page is painted, through the window's
   * DC (it covers the screen; Wine's null display driver keeps pixels of
   * windows only). */
  HDC screen = GetDC(window_);
  RECT all = {0, 0, screen_width, screen_height};
  HBRUSH brush = CreateSolidBrush(red);
  FillRect(screen, &all, brush);
  DeleteObject(brush);

  ASSERT_EQ(vx_page_switch(page_manager, 0, 1, 0, 0, 0), 0);
  pump();
  ASSERT_EQ(page_calls, std::vector<std::string>{"paint"});
  /* The page drew into a copy of the screen, then the copy came back. */
  EXPECT_EQ(seen_before_paint, red);
  EXPECT_EQ(GetPixel(screen, 150, 120), blue);
  EXPECT_EQ(GetPixel(screen, 10, 10), red);
  EXPECT_EQ(GetPixel(screen, screen_width - 1, screen_height - 1), red);

  HDC dc = GetDC(window_);
  EXPECT_EQ(SendMessageW(window_, WM_ERASEBKGND, (WPARAM)dc, 0), 0);
  ReleaseDC(window_, dc);
  ReleaseDC(window_, screen);
}

TEST_F(MainWindowTest, PenMessagesReachThePageWithUnsignedCoordinates) {
  open(800, 480);
  ASSERT_NE(window_, nullptr);
  ASSERT_EQ(vx_page_add(page_manager, &test_page), 1);
  ASSERT_EQ(vx_page_switch(page_manager, 0, 0, 0, 0, 0), 0);
  page_calls.clear();

  const struct {
    UINT message;
    WORD x, y;
    LRESULT result;
    const char* call;
  } cases[] = {
      {WM_LBUTTONDOWN, 700, 400, 12, "down 700,400"},
      {WM_MOUSEMOVE, 0, 479, 11, "move 0,479"},
      {WM_LBUTTONUP, 799, 0, 13, "up 799,0"},
      {WM_LBUTTONDOWN, 40000, 65535, 12, "down 40000,65535"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    page_calls.clear();
    EXPECT_EQ(SendMessageW(window_, c.message, 0, MAKELPARAM(c.x, c.y)), c.result);
    EXPECT_EQ(page_calls, std::vector<std::string>{c.call});
  }
}

TEST_F(MainWindowTest, DestroyLeavesThePageAndEndsTheLoop) {
  open(800, 480);
  ASSERT_NE(window_, nullptr);
  ASSERT_EQ(vx_page_add(page_manager, &test_page), 1);
  ASSERT_EQ(vx_page_switch(page_manager, 0, 0, 0, 0, 0), 0);
  page_calls.clear();
  ASSERT_TRUE(DestroyWindow(window_));
  EXPECT_EQ(page_calls, std::vector<std::string>{"leave 16"});
  EXPECT_EQ(page_manager, nullptr);
  EXPECT_EQ(pump(), 0);
}

LRESULT CALLBACK plain_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

/* The entry holds its mutex for the life of the process, so both of its
 * early ends are taken here in order: a window that cannot be created, then
 * a second start that raises the first shell's window. */
TEST(Entry, NoWindowThenAlreadyRunning) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW taken = {};
  taken.lpfnWndProc = plain_proc;
  taken.hInstance = instance;
  taken.lpszClassName = TEXT("APS");
  ASSERT_NE(RegisterClassW(&taken), 0);
  EXPECT_EQ(wWinMain(instance, nullptr, nullptr, SW_SHOWNORMAL), 16);
  EXPECT_EQ(FindWindowW(TEXT("APS"), TEXT("APS")), nullptr);

  /* A hidden window stands for the shell that runs. */
  HWND running = CreateWindowExW(0, TEXT("APS"), TEXT("APS"), WS_POPUP, 0, 0, 800, 480, nullptr,
                                 nullptr, instance, nullptr);
  ASSERT_NE(running, nullptr);
  ASSERT_FALSE(IsWindowVisible(running));
  EXPECT_EQ(wWinMain(instance, nullptr, nullptr, SW_SHOWNORMAL), -1);
  EXPECT_TRUE(IsWindowVisible(running));
  EXPECT_EQ(GetForegroundWindow(), running);
  DestroyWindow(running);
  pump();
  UnregisterClassW(TEXT("APS"), instance);
}

}  // namespace
