/* Window classes and windows: registration errors, geometry, text, window
 * data, visibility, look-up, foreground, the default procedure, cursors and
 * metrics, as Win32 behaves. Host-only parts (Z order walk for drawing, pen
 * routing, exposure, window change events) are marked and left out of the
 * Windows build. */
#include "test_window_recorder.h"
#include "known_difference.h"

#include <algorithm>
#include <cstring>

#if !defined(_WIN32)
#include "plat/host.h"
#include "../../platform/src/window_internal.h"
#endif

using rec::Expect;
using rec::posted;
using rec::sent;

namespace {

class Windows : public rec::Fixture {};

LRESULT CALLBACK plain_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return DefWindowProcW(w, m, wp, lp);
}

/* Answers WM_NCCREATE itself, without the default procedure. */
LRESULT CALLBACK own_nccreate_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_NCCREATE) return TRUE;
  return DefWindowProcW(w, m, wp, lp);
}

WNDCLASSW make_class(const WCHAR* name, WNDPROC proc = plain_proc) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = name;
  return wc;
}

bool same_rect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST_F(Windows, ClassRegistration) {
  HINSTANCE me = GetModuleHandleW(nullptr);
  WNDCLASSW wc = make_class(TEXT("VelmarTestClassA"));
  SetLastError(0xBEEF);
  ASSERT_NE(0, RegisterClassW(&wc));
  KNOWN_WINE_DIFFERENCE_EQ("Wine's RegisterClassW clears the last error on success", GetLastError(),
                           (DWORD)ERROR_SUCCESS, 0xBEEFu);

  struct Probe {
    const char* what;
    std::function<bool()> fails;
    DWORD error;
  };
  HWND window = nullptr;
  const Probe probes[] = {
      {"register again", [&] { return RegisterClassW(&wc) == 0; }, ERROR_CLASS_ALREADY_EXISTS},
      {"register in other case",
       [&] {
         WNDCLASSW upper = make_class(TEXT("VELMARTESTCLASSA"));
         return RegisterClassW(&upper) == 0;
       },
       ERROR_CLASS_ALREADY_EXISTS},
      {"create of unknown class",
       [&] {
         return CreateWindowExW(0, TEXT("VelmarNoSuchClass"), TEXT(""), WS_POPUP, 0, 0, 1, 1,
                                nullptr, nullptr, me, nullptr) == nullptr;
       },
       ERROR_CANNOT_FIND_WND_CLASS},
      {"unregister unknown", [&] { return !UnregisterClassW(TEXT("VelmarNoSuchClass"), me); },
       ERROR_CLASS_DOES_NOT_EXIST},
      {"unregister with a window",
       [&] {
         window = CreateWindowExW(0, TEXT("velmartestclassa"), TEXT(""), WS_POPUP, 0, 0, 1, 1,
                                  nullptr, nullptr, me, nullptr);
         return window != nullptr && !UnregisterClassW(TEXT("VelmarTestClassA"), me);
       },
       ERROR_CLASS_HAS_WINDOWS},
  };
  for (const Probe& p : probes) {
    SCOPED_TRACE(p.what);
    SetLastError(0xBEEF);
    EXPECT_TRUE(p.fails());
    if (p.error == ERROR_CANNOT_FIND_WND_CLASS) {
      KNOWN_WINE_DIFFERENCE_EQ("Wine refuses a window of an unknown class with another code",
                               GetLastError(), (DWORD)ERROR_CLASS_DOES_NOT_EXIST, p.error);
    } else {
      EXPECT_EQ(p.error, GetLastError());
    }
  }
  DestroyWindow(window);
  EXPECT_TRUE(UnregisterClassW(TEXT("VelmarTestClassA"), me));
  /* Unregistered, the name is free again. */
  ATOM again = RegisterClassW(&wc);
  EXPECT_NE(0, again);
  UnregisterClassW(TEXT("VelmarTestClassA"), me);
}

TEST_F(Windows, Geometry) {
  HWND w = rec::create(TEXT("Geometry"), WS_POPUP, 10, 20, 300, 200);
  ASSERT_TRUE(w != nullptr);
  RECT r;
  ASSERT_TRUE(GetWindowRect(w, &r));
  EXPECT_TRUE(same_rect(RECT{10, 20, 310, 220}, r));
  ASSERT_TRUE(GetClientRect(w, &r));
  EXPECT_TRUE(same_rect(RECT{0, 0, 300, 200}, r));
  POINT p = {5, 6};
  ClientToScreen(w, &p);
  EXPECT_EQ(15, p.x);
  EXPECT_EQ(26, p.y);
  ScreenToClient(w, &p);
  EXPECT_EQ(5, p.x);

  struct Case {
    const char* what;
    int x, y, cx, cy;
    UINT flags;
    RECT expected;
  };
  const Case cases[] = {
      {"move and size", 1, 2, 30, 40, SWP_NOZORDER | SWP_NOACTIVATE, {1, 2, 31, 42}},
      {"no size", 5, 6, 99, 99, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE, {5, 6, 35, 46}},
      {"no move", 99, 99, 50, 60, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE, {5, 6, 55, 66}},
      {"neither", 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE, {5, 6, 55, 66}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(SetWindowPos(w, HWND_TOP, c.x, c.y, c.cx, c.cy, c.flags)) << c.what;
    GetWindowRect(w, &r);
    EXPECT_TRUE(same_rect(c.expected, r)) << c.what << ": " << r.left << "," << r.top << ","
                                          << r.right << "," << r.bottom;
  }
  EXPECT_TRUE(MoveWindow(w, 0, 0, 800, 480, FALSE));
  GetClientRect(w, &r);
  EXPECT_TRUE(same_rect(RECT{0, 0, 800, 480}, r));
  DestroyWindow(w);
}

TEST_F(Windows, Text) {
  HWND w = rec::create(TEXT("Title"));
  ASSERT_TRUE(w != nullptr);
  WCHAR buffer[16];
  EXPECT_EQ(5, GetWindowTextW(w, buffer, 16));
  EXPECT_EQ(0, memcmp(TEXT("Title"), buffer, 6 * sizeof(WCHAR)));
  EXPECT_EQ(5, GetWindowTextLengthW(w));
  EXPECT_TRUE(SetWindowTextW(w, TEXT("kvybluetooth")));
  EXPECT_EQ(3, GetWindowTextW(w, buffer, 4)); /* cut to the buffer, terminated */
  EXPECT_EQ(0, memcmp(TEXT("kvy"), buffer, 4 * sizeof(WCHAR)));
  EXPECT_TRUE(FindWindowW(nullptr, TEXT("kvybluetooth")) == w);

  /* The title is set by the default WM_NCCREATE handling. */
  WNDCLASSW wc = make_class(TEXT("VelmarTestOwnNcCreate"), own_nccreate_proc);
  RegisterClassW(&wc);
  HWND bare = CreateWindowExW(0, wc.lpszClassName, TEXT("Lost"), WS_POPUP, 0, 0, 1, 1, nullptr,
                              nullptr, wc.hInstance, nullptr);
  ASSERT_TRUE(bare != nullptr);
  EXPECT_EQ(0, GetWindowTextLengthW(bare));
  DestroyWindow(bare);
  UnregisterClassW(wc.lpszClassName, wc.hInstance);
  DestroyWindow(w);
}

TEST_F(Windows, WindowData) {
  HWND w = rec::create(TEXT("Data")); /* the recorder's class has 8 extra bytes */
  ASSERT_TRUE(w != nullptr);
  struct Case {
    int index;
    LONG value;
  };
  const Case cases[] = {{GWLP_USERDATA, 0x12345678}, {0, -5}, {4, 77}};
  for (const Case& c : cases) {
    EXPECT_EQ(0, SetWindowLongW(w, c.index, c.value)) << c.index;
    SetLastError(0xBEEF);
    EXPECT_EQ(c.value, SetWindowLongW(w, c.index, c.value + 1)) << c.index;
    EXPECT_EQ(0xBEEFu, GetLastError());
    EXPECT_EQ(c.value + 1, GetWindowLongW(w, c.index)) << c.index;
  }
  for (int bad : {8, 6, -100}) {
    SetLastError(0xBEEF);
    EXPECT_EQ(0, GetWindowLongW(w, bad)) << bad;
    EXPECT_EQ((DWORD)ERROR_INVALID_INDEX, GetLastError()) << bad;
  }
  const LONG shown_bits = (LONG)(WS_POPUP | WS_VISIBLE);
  EXPECT_EQ((LONG)WS_POPUP, GetWindowLongW(w, GWL_STYLE) & shown_bits);
  ShowWindow(w, SW_SHOWNA);
  EXPECT_EQ(shown_bits, GetWindowLongW(w, GWL_STYLE) & shown_bits);

  /* Replacing the procedure redirects the messages. */
  rec::clear();
  WNDPROC old = (WNDPROC)SetWindowLongPtrW(w, GWLP_WNDPROC, (LONG_PTR)plain_proc);
  EXPECT_TRUE(old == rec::proc);
  SendMessageW(w, WM_USER + 9, 0, 0);
  EXPECT_TRUE(rec::take().empty());
  SetWindowLongPtrW(w, GWLP_WNDPROC, (LONG_PTR)old);
  SendMessageW(w, WM_USER + 9, 0, 0);
  EXPECT_EQ(1u, rec::take().size());
  DestroyWindow(w);
}

TEST_F(Windows, ShowWindowReportsThePreviousVisibility) {
  HWND w = rec::create(TEXT("Show"));
  ASSERT_TRUE(w != nullptr);
  struct Step {
    int command;
    BOOL was_visible;
    BOOL visible_after;
  };
  const Step steps[] = {
      {SW_SHOWNORMAL, FALSE, TRUE}, {SW_SHOW, TRUE, TRUE}, {SW_HIDE, TRUE, FALSE},
      {SW_HIDE, FALSE, FALSE},      {SW_SHOWNA, FALSE, TRUE}, {SW_HIDE, TRUE, FALSE},
      {SW_SHOW, FALSE, TRUE},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(s.was_visible, ShowWindow(w, s.command) != FALSE) << s.command;
    EXPECT_EQ(s.visible_after, IsWindowVisible(w)) << s.command;
  }
  /* SWP_HIDEWINDOW / SWP_SHOWWINDOW change the visibility too. */
  SetWindowPos(w, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_HIDEWINDOW);
  EXPECT_FALSE(IsWindowVisible(w));
  SetWindowPos(w, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
  EXPECT_TRUE(IsWindowVisible(w));
  DestroyWindow(w);
}

TEST_F(Windows, FindWindow) {
  WNDCLASSW other = make_class(TEXT("VelmarTestFindB"));
  RegisterClassW(&other);
  HWND a1 = rec::create(TEXT("VelmarFindOne"), WS_POPUP | WS_VISIBLE);
  HWND a2 = rec::create(TEXT("VelmarFindTwo"));
  HWND b1 = CreateWindowExW(0, other.lpszClassName, TEXT("VelmarFindOne"), WS_POPUP, 0, 0, 1, 1,
                            nullptr, nullptr, other.hInstance, nullptr);
  rec::WindowThread elsewhere(TEXT("VelmarFindElsewhere"));
  ASSERT_TRUE(a1 && a2 && b1 && elsewhere.window());
  struct Case {
    const WCHAR* cls;
    const WCHAR* title;
    std::vector<HWND> any_of; /* empty: none */
  };
  const Case cases[] = {
      {rec::class_name, TEXT("VelmarFindTwo"), {a2}},
      {TEXT("velmartestfindb"), nullptr, {b1}},
      {nullptr, TEXT("VelmarFindTwo"), {a2}},
      {nullptr, TEXT("VelmarFindOne"), {a1, b1}},
      {TEXT("VelmarTestFindB"), TEXT("VelmarFindOne"), {b1}},
      {TEXT("VelmarTestFindB"), TEXT("VelmarFindTwo"), {}},
      {nullptr, TEXT("VelmarFindElsewhere"), {elsewhere.window()}},
      {TEXT("VelmarNoSuchClass"), nullptr, {}},
      {nullptr, TEXT("VelmarNoSuchTitle"), {}},
  };
  for (const Case& c : cases) {
    HWND found = FindWindowW(c.cls, c.title);
    bool ok = c.any_of.empty() ? found == nullptr
                               : std::find(c.any_of.begin(), c.any_of.end(), found) != c.any_of.end();
    EXPECT_TRUE(ok) << (c.title ? "by title" : "by class only") << " case " << (&c - cases);
  }
  DestroyWindow(a2);
  EXPECT_TRUE(FindWindowW(nullptr, TEXT("VelmarFindTwo")) == nullptr);
  DestroyWindow(a1);
  DestroyWindow(b1);
  UnregisterClassW(other.lpszClassName, other.hInstance);
}

TEST_F(Windows, Foreground) {
  HWND a = rec::create(TEXT("ForeA"), WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
  HWND b = rec::create(TEXT("ForeB"), WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(SetForegroundWindow(a));
  EXPECT_EQ(a, GetForegroundWindow());
  EXPECT_TRUE(SetForegroundWindow(b));
  EXPECT_EQ(b, GetForegroundWindow());
  EXPECT_EQ(b, GetActiveWindow());
  DestroyWindow(b);
  EXPECT_NE(b, GetForegroundWindow());
  HWND gone = b;
  EXPECT_FALSE(SetForegroundWindow(gone));
  DestroyWindow(a);
}

TEST_F(Windows, DefaultProcedure) {
  HWND w = rec::create(TEXT("Default"), WS_POPUP | WS_VISIBLE);
  ASSERT_TRUE(w != nullptr);
  CREATESTRUCTW cs = {};
  cs.lpszName = TEXT("Renamed");
  struct Case {
    UINT message;
    WPARAM wp;
    LPARAM lp;
    LRESULT expected;
  };
  const Case cases[] = {
      {WM_NCCREATE, 0, (LPARAM)&cs, TRUE},
      {WM_ERASEBKGND, 0, 0, 0}, /* no class brush: nothing erased */
      {WM_USER + 7, 1, 2, 0},
      {WM_TIMER, 3, 0, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, DefWindowProcW(w, c.message, c.wp, c.lp)) << rec::name(c.message);

  /* WM_PAINT validates. */
  rec::pump();
  InvalidateRect(w, nullptr, FALSE);
  EXPECT_EQ(0, DefWindowProcW(w, WM_PAINT, 0, 0));
  RECT r;
  EXPECT_FALSE(GetUpdateRect(w, &r, FALSE));

  /* WM_CLOSE destroys the window. */
  rec::clear();
  EXPECT_EQ(0, SendMessageW(w, WM_CLOSE, 0, 0));
  rec::expect_sequence(rec::take(),
                       {{WM_CLOSE, sent}, {WM_DESTROY, sent}, {WM_NCDESTROY, sent}}, "WM_CLOSE");
  EXPECT_FALSE(IsWindow(w));
}

TEST_F(Windows, CursorAndMetrics) {
  HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
  EXPECT_TRUE(arrow != nullptr);
  HCURSOR before = SetCursor(arrow);
  EXPECT_EQ(arrow, SetCursor(before));
  int shown = ShowCursor(TRUE);
  EXPECT_EQ(shown - 1, ShowCursor(FALSE));
  EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
  EXPECT_GT(GetSystemMetrics(SM_CYSCREEN), 0);
#if !defined(_WIN32)
  plat::set_screen_size(1024, 600);
  EXPECT_EQ(1024, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(600, GetSystemMetrics(SM_CYSCREEN));
  plat::set_screen_size(800, 480);
#endif
}

/* The default WM_ERASEBKGND fills with the class brush and says so, so
 * BeginPaint reports nothing left to erase. */
LRESULT CALLBACK painting_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    /* Paints the whole client area; only the update rectangle may change. */
    RECT all;
    GetClientRect(w, &all);
    HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
    FillRect(dc, &all, green);
    DeleteObject(green);
    SetWindowLongPtrW(w, GWLP_USERDATA, ps.fErase ? 2 : 1);
    EndPaint(w, &ps);
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

TEST_F(Windows, PaintingWithTheClassBrush) {
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
  WNDCLASSW wc = make_class(TEXT("VelmarTestPainting"), painting_proc);
  wc.hbrBackground = blue;
  ASSERT_NE(0, RegisterClassW(&wc));
  HWND w = CreateWindowExW(0, wc.lpszClassName, TEXT("Painting"), WS_POPUP | WS_VISIBLE, 100, 50,
                           200, 100, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_TRUE(w != nullptr);
  SetWindowPos(w, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  rec::pump();
  HDC mine = GetDC(w);
  ASSERT_TRUE(mine != nullptr);
  EXPECT_EQ(1, DefWindowProcW(w, WM_ERASEBKGND, (WPARAM)mine, 0));
  ReleaseDC(w, mine);
  ValidateRect(w, nullptr);

  RECT part = {10, 10, 20, 20};
  InvalidateRect(w, &part, TRUE);
  rec::pump();
  EXPECT_EQ(1, GetWindowLongPtrW(w, GWLP_USERDATA)); /* erased by the brush */
#if !defined(_WIN32)
  /* Host: the window's DC draws on the screen at the window's place,
   * clipped to what was invalid. */
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(RGB(0, 255, 0), GetPixel(screen, 100 + 15, 50 + 15));
  EXPECT_EQ(RGB(0, 0, 255), GetPixel(screen, 100 + 25, 50 + 15));
  EXPECT_EQ(RGB(0, 0, 255), GetPixel(screen, 100 + 5, 50 + 5));
  ReleaseDC(nullptr, screen);
#endif
  DestroyWindow(w);
  UnregisterClassW(wc.lpszClassName, wc.hInstance);
  DeleteObject(blue);
}

#if !defined(_WIN32)

/* Host: the Z order that drawing and pen routing follow. */
TEST_F(Windows, StackOrder) {
  HWND a = rec::create(TEXT("StackA"), WS_POPUP | WS_VISIBLE);
  HWND b = rec::create(TEXT("StackB"), WS_POPUP | WS_VISIBLE);
  HWND c = rec::create(TEXT("StackC"), WS_POPUP | WS_VISIBLE);
  ASSERT_TRUE(a && b && c);
  auto order = [&] {
    std::vector<HWND> mine;
    for (auto& p : plat::window_stack())
      if (p.window == a || p.window == b || p.window == c) mine.push_back(p.window);
    return mine;
  };
  struct Step {
    const char* what;
    HWND window;
    HWND after;
    std::vector<HWND> expected;
  };
  const Step steps[] = {
      {"a to the top", a, HWND_TOP, {a, c, b}},
      {"a to the bottom", a, HWND_BOTTOM, {c, b, a}},
      {"a behind c", a, c, {c, a, b}},
      {"b topmost", b, HWND_TOPMOST, {b, c, a}},
      {"c to the top stays below topmost b", c, HWND_TOP, {b, c, a}},
      {"b no longer topmost", b, HWND_NOTOPMOST, {b, c, a}},
      {"c to the top again", c, HWND_TOP, {c, b, a}},
  };
  SetWindowPos(c, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetWindowPos(b, c, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetWindowPos(a, b, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ASSERT_EQ((std::vector<HWND>{c, b, a}), order());
  for (const Step& s : steps) {
    std::vector<HWND> before = order();
    uint64_t version = plat::window_stack_version();
    SetWindowPos(s.window, s.after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EXPECT_EQ(s.expected, order()) << s.what;
    if (before != s.expected) {
      EXPECT_NE(version, plat::window_stack_version()) << s.what;
    }
  }
  /* Activation raises. */
  SetForegroundWindow(a);
  EXPECT_EQ(a, order().front());
  DestroyWindow(a);
  DestroyWindow(b);
  DestroyWindow(c);
}

/* Host: pen events go to the topmost visible window under the pen, or to the
 * window that captured it, in client coordinates. */
TEST_F(Windows, PenRouting) {
  HWND below = rec::create(TEXT("PenBelow"), WS_POPUP | WS_VISIBLE, 0, 0, 800, 480);
  HWND above = rec::create(TEXT("PenAbove"), WS_POPUP | WS_VISIBLE, 100, 50, 200, 100);
  ASSERT_TRUE(below && above);
  SetWindowPos(above, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  rec::pump();
  rec::clear();
  struct Case {
    plat::PointerKind kind;
    int x, y;
    HWND target;
    UINT message;
    WPARAM wp;
    int cx, cy;
  };
  const Case cases[] = {
      {plat::PointerKind::down, 150, 60, above, WM_LBUTTONDOWN, MK_LBUTTON, 50, 10},
      {plat::PointerKind::move, 120, 55, above, WM_MOUSEMOVE, MK_LBUTTON, 20, 5},
      {plat::PointerKind::up, 120, 55, above, WM_LBUTTONUP, 0, 20, 5},
      {plat::PointerKind::down, 10, 400, below, WM_LBUTTONDOWN, MK_LBUTTON, 10, 400},
      {plat::PointerKind::up, 299, 149, above, WM_LBUTTONUP, 0, 199, 99},
      {plat::PointerKind::move, 300, 150, below, WM_MOUSEMOVE, 0, 300, 150},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.target, plat::pointer_event(c.kind, c.x, c.y)) << c.x << "," << c.y;
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE));
    EXPECT_EQ(c.target, msg.hwnd);
    EXPECT_EQ(c.message, msg.message);
    EXPECT_EQ(c.wp, msg.wParam);
    EXPECT_EQ(c.cx, GET_X_LPARAM(msg.lParam));
    EXPECT_EQ(c.cy, GET_Y_LPARAM(msg.lParam));
  }
  /* Hidden, the upper window no longer takes the pen. */
  ShowWindow(above, SW_HIDE);
  EXPECT_EQ(below, plat::pointer_event(plat::PointerKind::down, 150, 60));
  plat::pointer_event(plat::PointerKind::up, 150, 60);
  /* A captured pen goes to the capturing window wherever it is. */
  ShowWindow(above, SW_SHOWNA);
  SetCapture(below);
  EXPECT_EQ(below, plat::pointer_event(plat::PointerKind::down, 150, 60));
  EXPECT_EQ(below, GetCapture());
  ReleaseCapture();
  EXPECT_EQ(above, plat::pointer_event(plat::PointerKind::up, 150, 60));
  /* A pen down brings its window to the foreground. */
  EXPECT_EQ(below, GetForegroundWindow());
  EXPECT_EQ(above, plat::pointer_event(plat::PointerKind::down, 150, 60));
  EXPECT_EQ(above, GetForegroundWindow());
  plat::pointer_event(plat::PointerKind::up, 150, 60);
  rec::pump();
  DestroyWindow(above);
  DestroyWindow(below);
}

/* Host: moves coalesce while the queue has not taken them. */
TEST_F(Windows, PenMovesCoalesce) {
  HWND w = rec::create(TEXT("PenMoves"), WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
  ASSERT_TRUE(w != nullptr);
  rec::pump();
  plat::pointer_event(plat::PointerKind::down, 1, 1);
  for (int x = 2; x < 10; x++) plat::pointer_event(plat::PointerKind::move, x, 1);
  plat::pointer_event(plat::PointerKind::up, 9, 1);
  rec::clear();
  rec::pump();
  rec::expect_sequence(rec::take(),
                       {{WM_LBUTTONDOWN, posted},
                        {WM_MOUSEMOVE, posted, rec::lparam, 0, MAKELPARAM(9, 1)},
                        {WM_LBUTTONUP, posted}},
                       "coalesced moves");
  DestroyWindow(w);
}

/* Host: the screen has no backing store per window, so what a hidden or
 * moved window uncovers is invalidated (with erase) in the windows below. */
TEST_F(Windows, UncoveredAreasAreInvalidated) {
  HWND below = rec::create(TEXT("ExposeBelow"), WS_POPUP | WS_VISIBLE, 0, 0, 800, 480);
  HWND above = rec::create(TEXT("ExposeAbove"), WS_POPUP | WS_VISIBLE, 100, 50, 200, 100);
  ASSERT_TRUE(below && above);
  rec::pump();
  ValidateRect(below, nullptr);
  ValidateRect(above, nullptr);
  ShowWindow(above, SW_HIDE);
  RECT r;
  ASSERT_TRUE(GetUpdateRect(below, &r, FALSE));
  EXPECT_TRUE(same_rect(RECT{100, 50, 300, 150}, r));
  ValidateRect(below, nullptr);
  /* Hiding the active window activated (and raised) the one below: showing
   * the upper one again activates it on top. */
  ShowWindow(above, SW_SHOW);
  EXPECT_FALSE(GetUpdateRect(below, &r, FALSE));
  SetWindowPos(above, nullptr, 400, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ASSERT_TRUE(GetUpdateRect(below, &r, FALSE));
  EXPECT_TRUE(same_rect(RECT{100, 50, 300, 150}, r));
  rec::pump();
  DestroyWindow(above);
  DestroyWindow(below);
}

/* Host: the simulator's event log hears of the changes of windows. */
TEST_F(Windows, ObserversSeeWindowChanges) {
  std::vector<std::pair<HWND, plat::WindowChange>> changes;
  std::mutex lock;
  plat::window_observe([&](HWND w, plat::WindowChange c) {
    std::lock_guard<std::mutex> guard(lock);
    changes.push_back({w, c});
  });
  HWND w = rec::create(TEXT("Observed"), WS_POPUP, 0, 0, 10, 10);
  ASSERT_TRUE(w != nullptr);
  ShowWindow(w, SW_SHOW);
  SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetForegroundWindow(w);
  ShowWindow(w, SW_HIDE);
  DestroyWindow(w);
  plat::window_observers_clear();
  using C = plat::WindowChange;
  std::vector<C> mine;
  for (auto& e : changes)
    if (e.first == w) mine.push_back(e.second);
  /* Created windows are on top already, so showing does not raise; asking
   * for the top does; the foreground it has already is no change. */
  EXPECT_EQ((std::vector<C>{C::created, C::shown, C::foreground, C::raised, C::hidden, C::destroyed}),
            mine);
}

/* A stand-in for the registry of windows of other host processes: one
 * remote window, and a record of the calls that reached it. */
class FakeRemote : public plat::RemoteWindows {
 public:
  HWND const window = (HWND)(uintptr_t)0x7F000010;
  std::vector<std::string> calls;
  bool owns(HWND w) override { return w == window; }
  HWND find(const WCHAR*, const WCHAR* title) override {
    calls.push_back("find");
    return title && title[0] == u'R' ? window : nullptr;
  }
  BOOL show(HWND, int command) override {
    calls.push_back("show " + std::to_string(command));
    return FALSE;
  }
  BOOL set_pos(HWND, HWND, int, int, int, int, UINT flags) override {
    calls.push_back("set_pos " + std::to_string(flags));
    return TRUE;
  }
  BOOL set_foreground(HWND) override {
    calls.push_back("set_foreground");
    return TRUE;
  }
  HWND foreground() override { return window; }
  BOOL visible(HWND) override { return TRUE; }
  int text(HWND, WCHAR* buffer, int max_count) override {
    calls.push_back("text");
    if (max_count < 2) return 0;
    buffer[0] = u'R';
    buffer[1] = 0;
    return 1;
  }
  BOOL post(HWND, UINT message, WPARAM, LPARAM) override {
    calls.push_back("post " + std::to_string(message));
    return TRUE;
  }
  LRESULT send(HWND, UINT message, WPARAM wparam, LPARAM) override {
    calls.push_back("send " + std::to_string(message));
    return (LRESULT)wparam * 2;
  }
};

/* Host: handles that are not local go to the registry of other processes;
 * local windows are found first. */
TEST_F(Windows, WindowsOfOtherHostProcesses) {
  FakeRemote remote;
  HWND local = rec::create(TEXT("LocalFirst"));
  ASSERT_TRUE(local != nullptr);
  plat::window_set_remote(&remote);
  EXPECT_EQ(local, FindWindowW(nullptr, TEXT("LocalFirst")));
  EXPECT_EQ(remote.window, FindWindowW(nullptr, TEXT("Remote")));
  EXPECT_TRUE(IsWindow(remote.window));
  EXPECT_TRUE(IsWindowVisible(remote.window));
  EXPECT_FALSE(ShowWindow(remote.window, SW_SHOW));
  EXPECT_TRUE(SetWindowPos(remote.window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
  EXPECT_TRUE(SetForegroundWindow(remote.window));
  EXPECT_TRUE(PostMessageW(remote.window, WM_USER + 1, 0, 0));
  EXPECT_EQ(42, SendMessageW(remote.window, WM_USER + 2, 21, 0));
  WCHAR title[8];
  EXPECT_EQ(1, GetWindowTextW(remote.window, title, 8));
  plat::window_set_remote(nullptr);
  EXPECT_FALSE(IsWindow(remote.window));
  EXPECT_EQ((std::vector<std::string>{"find", "show 5", "set_pos 3", "set_foreground",
                                      "post 1025", "send 1026", "text"}),
            remote.calls);
  DestroyWindow(local);
}

#endif

}  // namespace
