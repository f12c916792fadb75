/* The screen and window DCs: a window's DC draws at the window's place,
 * clipped to its client area, to the visible windows above it and, from
 * BeginPaint, to the update rectangle; GetDC(NULL) draws on the whole screen.
 * Host-only: screenshots as PNG files, and the SDL2 backend (under SDL's
 * dummy video driver) turning mouse buttons into pen messages. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

#include "known_difference.h"
#ifndef _WIN32
#include <SDL2/SDL.h>
#include <png.h>
#include <unistd.h>

#include "../../platform/src/gdi_internal.h"
#endif

namespace {

const COLORREF red = RGB(255, 0, 0), blue = RGB(0, 0, 255), green = RGB(0, 255, 0);

struct ScreenTest : testing::Test {
  HBRUSH red_brush = CreateSolidBrush(red);
  HBRUSH blue_brush = CreateSolidBrush(blue);
  HDC screen = nullptr;
  std::vector<HWND> windows;

  static void SetUpTestSuite() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = TEXT("VelmarScreenTest");
    RegisterClassW(&wc);
  }
  void SetUp() override {
    screen = GetDC(nullptr);
    ASSERT_NE(nullptr, screen);
    RECT all{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    FillRect(screen, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
  }
  void TearDown() override {
    for (HWND w : windows) DestroyWindow(w);
    ReleaseDC(nullptr, screen);
    DeleteObject(red_brush);
    DeleteObject(blue_brush);
  }
  HWND window(int x, int y, int w, int h, bool visible = true) {
    HWND hwnd = CreateWindowExW(0, TEXT("VelmarScreenTest"), TEXT("screen test"),
                                WS_POPUP | (visible ? WS_VISIBLE : 0), x, y, w, h, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(nullptr, hwnd);
    windows.push_back(hwnd);
    return hwnd;
  }
  /* What the screen shows at (x, y). */
  void expect_screen(COLORREF expected, int x, int y) {
    KNOWN_WINE_DIFFERENCE_EQ("Wine's null display driver keeps no pixels of the screen itself",
                             GetPixel(screen, x, y), CLR_INVALID, expected);
  }
  void fill(HDC dc, HBRUSH brush) {
    RECT everything{-1000, -1000, 3000, 3000};
    FillRect(dc, &everything, brush);
  }
};

TEST_F(ScreenTest, WindowDcDrawsAtTheWindowClippedToItsClientArea) {
  HWND w = window(100, 50, 200, 100);
  HDC dc = GetDC(w);
  ASSERT_NE(nullptr, dc);
  fill(dc, red_brush);
  struct Probe {
    int x, y;
    bool inside;
  };
  const Probe probes[] = {{100, 50, true},  {299, 149, true}, {200, 100, true}, {99, 50, false},
                          {300, 50, false}, {100, 150, false}, {100, 49, false}};
  for (const Probe& p : probes) {
    SCOPED_TRACE(testing::Message() << p.x << "," << p.y);
    expect_screen(p.inside ? red : RGB(0, 0, 0), p.x, p.y);
  }
  /* Client coordinates: (0, 0) is the window's corner; outside it reads nothing. */
  EXPECT_EQ(green, SetPixel(dc, 0, 0, green));
  expect_screen(green, 100, 50);
  EXPECT_EQ(green, GetPixel(dc, 0, 0));
  EXPECT_EQ(CLR_INVALID, GetPixel(dc, -1, 0));
  EXPECT_EQ(CLR_INVALID, GetPixel(dc, 200, 0));
  RECT box{};
  EXPECT_EQ(SIMPLEREGION, GetClipBox(dc, &box));
  EXPECT_EQ(0, box.left);
  EXPECT_EQ(200, box.right);
  EXPECT_EQ(100, box.bottom);
  EXPECT_EQ(1, ReleaseDC(w, dc));
}

TEST_F(ScreenTest, WindowsAboveAndHiddenWindowsClip) {
  HWND below = window(0, 0, 100, 100);
  HWND above = window(50, 50, 100, 100);
  HWND hidden = window(200, 0, 50, 50, false);
  ASSERT_TRUE(below && above && hidden);
  HDC dc = GetDC(below);
  fill(dc, blue_brush);
  ReleaseDC(below, dc);
  expect_screen(blue, 10, 10);
  expect_screen(blue, 99, 49);
  expect_screen(RGB(0, 0, 0), 60, 60); /* under the window above */
  dc = GetDC(hidden);
  fill(dc, red_brush);
  ReleaseDC(hidden, dc);
  expect_screen(RGB(0, 0, 0), 210, 10);
  /* The screen's own DC covers everything. */
  fill(screen, red_brush);
  expect_screen(red, 60, 60);
}

TEST_F(ScreenTest, PaintDcIsClippedToTheUpdateRectangle) {
  HWND w = window(10, 10, 100, 80);
  ValidateRect(w, nullptr);
  RECT part{20, 30, 40, 50};
  InvalidateRect(w, &part, FALSE);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(w, &ps);
  ASSERT_NE(nullptr, dc);
  fill(dc, red_brush);
  EndPaint(w, &ps);
  expect_screen(red, 10 + 20, 10 + 30);
  expect_screen(red, 10 + 39, 10 + 49);
  expect_screen(RGB(0, 0, 0), 10 + 19, 10 + 30);
  expect_screen(RGB(0, 0, 0), 10 + 40, 10 + 49);
}

TEST_F(ScreenTest, BlockTransfersBetweenScreenAndMemory) {
  HWND w = window(40, 20, 60, 40);
  HDC dc = GetDC(w);
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, 60, 40);
  HGDIOBJ old = SelectObject(mem, bitmap);
  RECT all{0, 0, 60, 40}, corner{0, 0, 10, 10};
  FillRect(mem, &all, blue_brush);
  FillRect(mem, &corner, red_brush);
  /* The page way of painting: compose off-screen, copy in one transfer. */
  ASSERT_TRUE(BitBlt(dc, 0, 0, 60, 40, mem, 0, 0, SRCCOPY));
  expect_screen(red, 40, 20);
  expect_screen(blue, 99, 59);
  expect_screen(RGB(0, 0, 0), 100, 59);
  /* And back: the screen's pixels under the window into memory. */
  FillRect(mem, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
  ASSERT_TRUE(BitBlt(mem, 0, 0, 60, 40, dc, 0, 0, SRCCOPY));
  EXPECT_EQ(red, GetPixel(mem, 5, 5));
  EXPECT_EQ(blue, GetPixel(mem, 59, 39));
  SelectObject(mem, old);
  DeleteObject(bitmap);
  DeleteDC(mem);
  ReleaseDC(w, dc);
}

#ifndef _WIN32
struct PngPicture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

bool read_png(const std::string& path, PngPicture* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  out->width = (int)image.width;
  out->height = (int)image.height;
  out->rgb.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, out->rgb.data(), 0, nullptr) != 0;
}

/* Host: the screen opened at a size is a framebuffer of that size, reported
 * by the system metrics, and a screenshot shows it. Runs last among these
 * tests since it changes the screen. */
TEST(ScreenHost, ScreenshotIsAPngOfTheScreen) {
  EXPECT_EQ(plat::ScreenBackendKind::headless,
            plat::screen_open(320, 200, plat::ScreenBackendKind::headless));
  EXPECT_EQ(320, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(200, GetSystemMetrics(SM_CYSCREEN));
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(320, GetDeviceCaps(screen, HORZRES));
  SetPixel(screen, 5, 7, RGB(10, 20, 30));
  SetPixel(screen, 319, 199, RGB(255, 128, 0));
  ReleaseDC(nullptr, screen);
  std::string path = testing::TempDir() + "velmar_screen_" + std::to_string(getpid()) + ".png";
  ASSERT_TRUE(plat::screen_screenshot(path));
  PngPicture picture;
  ASSERT_TRUE(read_png(path, &picture));
  EXPECT_EQ(320, picture.width);
  EXPECT_EQ(200, picture.height);
  auto at = [&](int x, int y) {
    const uint8_t* p = &picture.rgb[((size_t)y * picture.width + x) * 3];
    return RGB(p[0], p[1], p[2]);
  };
  EXPECT_EQ(RGB(10, 20, 30), at(5, 7));
  EXPECT_EQ(RGB(255, 128, 0), at(319, 199));
  EXPECT_EQ(RGB(0, 0, 0), at(6, 7)); /* a fresh screen is black */
  remove(path.c_str());
  EXPECT_FALSE(plat::screen_screenshot("/nonexistent-folder/x.png"));
}

/* Host: the SDL backend's mouse becomes the pen. SDL's dummy video driver
 * stands in for a display. */
TEST(ScreenHost, SdlMouseButtonsBecomePenMessages) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  if (plat::screen_open(320, 200, plat::ScreenBackendKind::sdl) != plat::ScreenBackendKind::sdl)
    GTEST_SKIP() << "SDL's dummy video driver is not available";
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = TEXT("VelmarPenTest");
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(0, TEXT("VelmarPenTest"), TEXT("pen"), WS_POPUP | WS_VISIBLE, 20, 10,
                           100, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(nullptr, w);
  auto push = [](Uint32 type, int x, int y) {
    SDL_Event e{};
    e.type = type;
    if (type == SDL_MOUSEMOTION) {
      e.motion.x = x;
      e.motion.y = y;
      e.motion.state = SDL_BUTTON_LMASK;
    } else {
      e.button.button = SDL_BUTTON_LEFT;
      e.button.x = x;
      e.button.y = y;
      e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    }
    return SDL_PushEvent(&e) == 1;
  };
  ASSERT_TRUE(push(SDL_MOUSEBUTTONDOWN, 30, 40));
  ASSERT_TRUE(push(SDL_MOUSEMOTION, 35, 45));
  ASSERT_TRUE(push(SDL_MOUSEBUTTONUP, 36, 46));
  const UINT want[3] = {WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP};
  const POINT where[3] = {{10, 30}, {15, 35}, {16, 36}}; /* client coordinates */
  int seen = 0;
  for (int tries = 0; tries < 400 && seen < 3; tries++) {
    MSG msg;
    while (seen < 3 && PeekMessageW(&msg, w, 0, 0, PM_REMOVE)) {
      if (msg.message < WM_MOUSEFIRST || msg.message > WM_MOUSELAST) continue;
      EXPECT_EQ(want[seen], msg.message);
      EXPECT_EQ(where[seen].x, GET_X_LPARAM(msg.lParam));
      EXPECT_EQ(where[seen].y, GET_Y_LPARAM(msg.lParam));
      seen++;
    }
    Sleep(5);
  }
  EXPECT_EQ(3, seen);
  DestroyWindow(w);
  plat::screen_close();
}
#endif

}  // namespace
