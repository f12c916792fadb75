/* Message queues, sending and posting, painting order, quit and timers, as
 * Win32 behaves. Host-only parts (device speed, pen and key input from the
 * simulator) are marked and left out of the Windows build. */
#include "test_window_recorder.h"
#include "known_difference.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#if !defined(_WIN32)
#include <chrono>

#include "plat/host.h"
#include "../../platform/src/window_internal.h"
#endif

using rec::Expect;
using rec::optional;
using rec::posted;
using rec::sent;

namespace {

class Messages : public rec::Fixture {};

/* ---- Creation and destruction ---- */

TEST_F(Messages, CreationAndDestructionSequence) {
  int parameter = 0;
  CREATESTRUCTW seen_cs = {};
  std::basic_string<WCHAR> seen_name; /* the name lives as long as the message */
  std::vector<BOOL> alive_during;
  rec::set_react([&](HWND w, UINT m, WPARAM, LPARAM lp, LRESULT*) {
    if (m == WM_CREATE) seen_cs = *(CREATESTRUCTW*)lp, seen_name = seen_cs.lpszName;
    if (m == WM_DESTROY || m == WM_NCDESTROY) alive_during.push_back(IsWindow(w));
    return false;
  });
  HWND w = rec::create(TEXT("Creation"), WS_POPUP, 10, 20, 300, 200, &parameter);
  ASSERT_TRUE(w != nullptr);
  rec::expect_sequence(rec::take(),
                       {{WM_NCCREATE, sent},
                        {WM_CREATE, sent},
                        {WM_SIZE, sent, optional},
                        {WM_MOVE, sent, optional}},
                       "CreateWindowExW");
  EXPECT_EQ(&parameter, seen_cs.lpCreateParams);
  EXPECT_EQ(10, seen_cs.x);
  EXPECT_EQ(20, seen_cs.y);
  EXPECT_EQ(300, seen_cs.cx);
  EXPECT_EQ(200, seen_cs.cy);
  EXPECT_TRUE(seen_name == TEXT("Creation"));

  EXPECT_TRUE(DestroyWindow(w));
  rec::expect_sequence(rec::take(), {{WM_DESTROY, sent}, {WM_NCDESTROY, sent}}, "DestroyWindow");
  EXPECT_EQ((std::vector<BOOL>{TRUE, TRUE}), alive_during);
  EXPECT_FALSE(IsWindow(w));
}

TEST_F(Messages, RefusedCreation) {
  struct Case {
    UINT refusing_message;
    LRESULT refusal;
    std::vector<Expect> expected;
  };
  const Case cases[] = {
      {WM_CREATE, -1, {{WM_NCCREATE, sent}, {WM_CREATE, sent}, {WM_NCDESTROY, sent}}},
      {WM_NCCREATE, FALSE, {{WM_NCCREATE, sent}, {WM_NCDESTROY, sent, optional}}},
  };
  for (const Case& c : cases) {
    rec::set_react([&](HWND, UINT m, WPARAM, LPARAM, LRESULT* result) {
      if (m != c.refusing_message) return false;
      *result = c.refusal;
      return true;
    });
    HWND w = rec::create(TEXT("Refused"));
    EXPECT_TRUE(w == nullptr);
    rec::expect_sequence(rec::take(), c.expected, rec::name(c.refusing_message).c_str());
    EXPECT_TRUE(FindWindowW(rec::class_name, TEXT("Refused")) == nullptr);
  }
}

TEST_F(Messages, ThreadEndDestroysItsWindows) {
  HWND mine = rec::create(TEXT("Survivor"), WS_POPUP | WS_VISIBLE);
  HWND w = nullptr;
  std::function<void()> body = [&] {
    w = rec::create(TEXT("Orphan"), WS_POPUP | WS_VISIBLE);
    SetForegroundWindow(w);
  };
  HANDLE t = rec::run_thread(&body);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 10000));
  CloseHandle(t);
  ASSERT_TRUE(w != nullptr);
#if !defined(_WIN32)
  /* Host differs: the windows go while the thread unwinds, which may be just
   * after its handle is signalled (the kernel offers no hook before that). */
  for (int i = 0; i < 5000 && IsWindow(w); i++) Sleep(1);
#endif
  EXPECT_FALSE(IsWindow(w));
  EXPECT_TRUE(FindWindowW(nullptr, TEXT("Orphan")) == nullptr);
#if !defined(_WIN32)
  /* Host: the next visible window takes over the foreground. */
  EXPECT_EQ(mine, GetForegroundWindow());
#endif
  DestroyWindow(mine);
}

/* ---- Painting ---- */

TEST_F(Messages, InvalidationsCoalesceIntoOnePaint) {
  struct Case {
    const char* what;
    BOOL erase[3];
    bool erase_expected;
  };
  const Case cases[] = {
      {"no erase", {FALSE, FALSE, FALSE}, false},
      {"one erase", {FALSE, TRUE, FALSE}, true},
  };
  const RECT parts[3] = {{10, 10, 20, 20}, {50, 5, 60, 15}, {30, 40, 35, 45}};
  const RECT united = {10, 5, 60, 45};
  for (const Case& c : cases) {
    HWND w = rec::create(TEXT("Paint"), WS_POPUP | WS_VISIBLE);
    ASSERT_TRUE(w != nullptr);
    rec::pump();
    ValidateRect(w, nullptr);
    rec::clear();

    PAINTSTRUCT ps = {};
    HDC dc = nullptr;
    WPARAM erase_dc = 0;
    rec::set_react([&](HWND, UINT m, WPARAM wp, LPARAM, LRESULT* result) {
      if (m == WM_ERASEBKGND) erase_dc = wp;
      if (m != WM_PAINT) return false;
      dc = BeginPaint(w, &ps);
      EndPaint(w, &ps);
      *result = 0;
      return true;
    });
    for (int i = 0; i < 3; i++) EXPECT_TRUE(InvalidateRect(w, &parts[i], c.erase[i]));
    RECT update;
    EXPECT_TRUE(GetUpdateRect(w, &update, FALSE));
    EXPECT_EQ(0, memcmp(&united, &update, sizeof(RECT))) << c.what;
    rec::pump();
    std::vector<Expect> expected = {{WM_PAINT, posted}};
    if (c.erase_expected) expected.push_back({WM_ERASEBKGND, sent});
    rec::expect_sequence(rec::take(), expected, c.what);
    EXPECT_TRUE(dc != nullptr);
    EXPECT_EQ(0, memcmp(&united, &ps.rcPaint, sizeof(RECT))) << c.what;
    /* The default WM_ERASEBKGND of a class without a brush erases nothing. */
    EXPECT_EQ(c.erase_expected ? TRUE : FALSE, ps.fErase) << c.what;
    if (c.erase_expected) {
      EXPECT_EQ((WPARAM)dc, erase_dc) << c.what;
    }
    EXPECT_FALSE(GetUpdateRect(w, &update, FALSE)) << c.what;
    rec::pump();
    EXPECT_TRUE(rec::take().empty()) << c.what << ": painted twice";
    rec::set_react(nullptr);
    DestroyWindow(w);
    rec::clear();
  }
}

TEST_F(Messages, PaintIsValidatedByDefaultOrExplicitly) {
  HWND w = rec::create(TEXT("Validate"), WS_POPUP | WS_VISIBLE);
  ASSERT_TRUE(w != nullptr);
  rec::pump();
  rec::clear();

  /* Validated before the loop runs: no WM_PAINT at all. */
  InvalidateRect(w, nullptr, TRUE);
  ValidateRect(w, nullptr);
  rec::pump();
  EXPECT_TRUE(rec::take().empty());

  /* Left to DefWindowProcW: one WM_PAINT, erased inside its BeginPaint. */
  InvalidateRect(w, nullptr, TRUE);
  rec::pump();
  rec::expect_sequence(rec::take(), {{WM_PAINT, posted}, {WM_ERASEBKGND, sent}}, "default paint");

  /* UpdateWindow sends WM_PAINT at once when there is something to paint... */
  InvalidateRect(w, nullptr, FALSE);
  EXPECT_TRUE(UpdateWindow(w));
  rec::expect_sequence(rec::take(), {{WM_PAINT, sent}}, "UpdateWindow");
  /* ...and nothing when there is not. */
  EXPECT_TRUE(UpdateWindow(w));
  EXPECT_TRUE(rec::take().empty());
  DestroyWindow(w);
}

/* ---- Retrieval order ---- */

TEST_F(Messages, SentThenPostedThenPaintThenTimer) {
  HWND w = rec::create(TEXT("Order"), WS_POPUP | WS_VISIBLE);
  ASSERT_TRUE(w != nullptr);
  rec::pump();
  ValidateRect(w, nullptr);
  rec::clear();

  /* The timer stops at its first tick, so a slow machine cannot see two. */
  rec::set_react([&](HWND, UINT m, WPARAM wp, LPARAM, LRESULT*) {
    if (m == WM_TIMER && wp == 7) KillTimer(w, 7);
    return false;
  });
  ASSERT_EQ(7u, SetTimer(w, 7, 100, nullptr));
  PostMessageW(w, WM_USER + 1, 1, 0);
  InvalidateRect(w, nullptr, FALSE);
  Sleep(350); /* several periods: still one WM_TIMER */
  PostMessageW(w, WM_USER + 2, 2, 0);
  std::function<void()> sender = [&] { SendMessageW(w, WM_USER + 3, 3, 0); };
  HANDLE t = rec::run_thread(&sender);
  ASSERT_TRUE(rec::wait_for_queue(QS_SENDMESSAGE));
  rec::pump();
  WaitForSingleObject(t, 10000);
  CloseHandle(t);
  rec::expect_sequence(rec::take(),
                       {{WM_USER + 3, sent, rec::wparam, 3},
                        {WM_USER + 1, posted, rec::wparam, 1},
                        {WM_USER + 2, posted, rec::wparam, 2},
                        {WM_PAINT, posted},
                        {WM_TIMER, posted, rec::wparam, 7}},
                       "retrieval order");
  DestroyWindow(w);
}

TEST_F(Messages, QuitComesAfterPostedMessagesAndBeforePaint) {
  HWND w = rec::create(TEXT("Quit"), WS_POPUP | WS_VISIBLE);
  ASSERT_TRUE(w != nullptr);
  rec::pump();
  ValidateRect(w, nullptr);
  rec::clear();

  PostMessageW(w, WM_USER + 1, 0, 0);
  PostQuitMessage(7);
  PostMessageW(w, WM_USER + 2, 0, 0);
  InvalidateRect(w, nullptr, FALSE);
  MSG msg;
  std::vector<UINT> order;
  BOOL result;
  while ((result = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
    order.push_back(msg.message);
    DispatchMessageW(&msg);
  }
  EXPECT_EQ(FALSE, result);
  EXPECT_EQ((UINT)WM_QUIT, msg.message);
  EXPECT_EQ(7u, msg.wParam);
  EXPECT_TRUE(msg.hwnd == nullptr);
  EXPECT_EQ((std::vector<UINT>{WM_USER + 1, WM_USER + 2}), order);
  /* The quit message is taken once; the paint is still there. */
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ((UINT)WM_PAINT, msg.message);
  ValidateRect(w, nullptr);
  DestroyWindow(w);
}

TEST_F(Messages, PeekWithoutRemovingAndFilters) {
  HWND a = rec::create(TEXT("PeekA"));
  HWND b = rec::create(TEXT("PeekB"));
  ASSERT_TRUE(a && b);
  PostMessageW(a, WM_USER + 1, 0, 0);
  PostMessageW(b, WM_USER + 2, 0, 0);
  PostThreadMessageW(GetCurrentThreadId(), WM_USER + 3, 0, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ((UINT)WM_USER + 1, msg.message);
  ASSERT_TRUE(PeekMessageW(&msg, b, 0, 0, PM_REMOVE)); /* by window */
  EXPECT_EQ((UINT)WM_USER + 2, msg.message);
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE)); /* by range */
  EXPECT_EQ((UINT)WM_USER + 3, msg.message);
  EXPECT_TRUE(msg.hwnd == nullptr);
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ((UINT)WM_USER + 1, msg.message);
  EXPECT_EQ(a, msg.hwnd);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(a);
  DestroyWindow(b);
}

/* ---- Across threads ---- */

TEST_F(Messages, SendAcrossThreadsBlocksUntilHandled) {
  rec::WindowThread other(TEXT("SendTarget"));
  ASSERT_TRUE(other.window() != nullptr);
  std::atomic<bool> handled{false};
  DWORD handler_thread = 0;
  BOOL in_send = FALSE;
  rec::set_react([&](HWND, UINT m, WPARAM wp, LPARAM lp, LRESULT* result) {
    if (m != WM_USER + 1) return false;
    handler_thread = GetCurrentThreadId();
    in_send = InSendMessage();
    Sleep(50);
    handled = true;
    *result = (LRESULT)(wp + lp);
    return true;
  });
  EXPECT_EQ(42, SendMessageW(other.window(), WM_USER + 1, 40, 2));
  EXPECT_TRUE(handled);
  EXPECT_EQ(other.id(), handler_thread);
  EXPECT_TRUE(in_send);
  /* A direct call on the window's own thread is not "in send". */
  EXPECT_FALSE(InSendMessage());
}

TEST_F(Messages, NestedSendBackToTheBlockedSender) {
  HWND mine = rec::create(TEXT("Sender"));
  rec::WindowThread other(TEXT("Receiver"));
  ASSERT_TRUE(mine && other.window());
  rec::clear();
  DWORD me = GetCurrentThreadId();
  DWORD back_thread = 0;
  rec::set_react([&](HWND w, UINT m, WPARAM, LPARAM, LRESULT* result) {
    if (w == other.window() && m == WM_USER + 1) {
      *result = SendMessageW(mine, WM_USER + 2, 0, 0) + 1;
      return true;
    }
    if (w == mine && m == WM_USER + 2) {
      back_thread = GetCurrentThreadId();
      *result = 10;
      return true;
    }
    return false;
  });
  EXPECT_EQ(11, SendMessageW(other.window(), WM_USER + 1, 0, 0));
  EXPECT_EQ(me, back_thread);
  rec::expect_sequence(rec::take(),
                       {{WM_USER + 1, sent, 0, 0, 0, other.window()}, {WM_USER + 2, sent, 0, 0, 0, mine}},
                       "nested send");
  DestroyWindow(mine);
}

/* The GPS reader sends to the UI thread while the UI thread itself waits in
 * a send to the phone program's thread: the UI thread still handles it. */
TEST_F(Messages, ThreeThreadsSendingDoNotDeadlock) {
  HWND ui = rec::create(TEXT("UiWindow"));
  rec::WindowThread phone(TEXT("PhoneWindow"));
  ASSERT_TRUE(ui && phone.window());
  rec::clear();
  HANDLE phone_busy = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE ui_handled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD phone_wait = WAIT_FAILED;
  rec::set_react([&](HWND w, UINT m, WPARAM, LPARAM, LRESULT* result) {
    if (w == phone.window() && m == WM_USER + 1) {
      SetEvent(phone_busy);
      phone_wait = WaitForSingleObject(ui_handled, 5000);
      *result = 1;
      return true;
    }
    if (w == ui && m == WM_USER + 2) {
      SetEvent(ui_handled);
      *result = 2;
      return true;
    }
    return false;
  });
  LRESULT gps_result = 0;
  std::function<void()> gps = [&] {
    WaitForSingleObject(phone_busy, 5000);
    gps_result = SendMessageW(ui, WM_USER + 2, 0, 0);
  };
  HANDLE gps_thread = rec::run_thread(&gps);
  EXPECT_EQ(1, SendMessageW(phone.window(), WM_USER + 1, 0, 0));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gps_thread, 10000));
  EXPECT_EQ((DWORD)WAIT_OBJECT_0, phone_wait);
  EXPECT_EQ(2, gps_result);
  rec::expect_sequence(rec::take(),
                       {{WM_USER + 1, sent, 0, 0, 0, phone.window()}, {WM_USER + 2, sent, 0, 0, 0, ui}},
                       "three threads");
  CloseHandle(gps_thread);
  CloseHandle(phone_busy);
  CloseHandle(ui_handled);
  DestroyWindow(ui);
}

TEST_F(Messages, CopyDataAcrossThreads) {
  rec::WindowThread navi(TEXT("CopyDataTarget"));
  HWND mine = rec::create(TEXT("CopyDataSender"));
  ASSERT_TRUE(mine && navi.window());
  WCHAR text[260] = TEXT("(TNC,2,0,116.3,39.9,x)");
  std::vector<unsigned char> received;
  COPYDATASTRUCT seen = {};
  WPARAM from = 0;
  rec::set_react([&](HWND, UINT m, WPARAM wp, LPARAM lp, LRESULT* result) {
    if (m != WM_COPYDATA) return false;
    from = wp;
    seen = *(const COPYDATASTRUCT*)lp;
    received.assign((const unsigned char*)seen.lpData, (const unsigned char*)seen.lpData + seen.cbData);
    *result = TRUE;
    return true;
  });
  COPYDATASTRUCT cd = {256, sizeof(text), text};
  EXPECT_EQ(TRUE, SendMessageW(navi.window(), WM_COPYDATA, (WPARAM)mine, (LPARAM)&cd));
  EXPECT_EQ((WPARAM)mine, from);
  EXPECT_EQ(256u, seen.dwData);
  EXPECT_EQ((DWORD)sizeof(text), seen.cbData);
  ASSERT_EQ(sizeof(text), received.size());
  EXPECT_EQ(0, memcmp(text, received.data(), sizeof(text)));
#if !defined(_WIN32)
  /* The host hands the receiver a copy, as another process would get. */
  EXPECT_NE((void*)text, seen.lpData);
#endif
  /* WM_COPYDATA cannot be posted. */
  SetLastError(0xBEEF);
  EXPECT_FALSE(PostMessageW(navi.window(), WM_COPYDATA, 0, (LPARAM)&cd));
  EXPECT_EQ((DWORD)ERROR_MESSAGE_SYNC_ONLY, GetLastError());
  DestroyWindow(mine);
}

/* A broadcast reaches every top-level window, whichever thread owns it;
 * WM_NULL with a marker is harmless to any other window on the desktop. */
TEST_F(Messages, BroadcastReachesWindowsOfEveryThread) {
  rec::WindowThread one(TEXT("BroadcastOne"));
  rec::WindowThread two(TEXT("BroadcastTwo"));
  HWND mine = rec::create(TEXT("BroadcastMine"));
  HWND hidden = rec::create(TEXT("BroadcastHidden"));
  ASSERT_TRUE(mine && hidden && one.window() && two.window());
  const LPARAM marker = 0x5EC0DE;
  std::mutex lock;
  std::vector<std::pair<HWND, WPARAM>> got;
  rec::set_react([&](HWND w, UINT m, WPARAM wp, LPARAM lp, LRESULT* result) {
    if (m != WM_NULL || lp != marker) return false;
    std::lock_guard<std::mutex> guard(lock);
    got.push_back({w, wp});
    *result = 0;
    return true;
  });
  auto count = [&](HWND w, WPARAM wp) {
    std::lock_guard<std::mutex> guard(lock);
    return std::count(got.begin(), got.end(), std::make_pair(w, wp));
  };
  SendMessageW(HWND_BROADCAST, WM_NULL, 1, marker);
  for (HWND w : {mine, hidden, one.window(), two.window()}) EXPECT_EQ(1, count(w, 1));

  EXPECT_TRUE(PostMessageW(HWND_BROADCAST, WM_NULL, 2, marker));
  rec::pump();
  for (int i = 0; i < 5000 && (count(one.window(), 2) == 0 || count(two.window(), 2) == 0); i++)
    Sleep(1);
  for (HWND w : {mine, hidden, one.window(), two.window()}) EXPECT_EQ(1, count(w, 2));
  DestroyWindow(mine);
  DestroyWindow(hidden);
}

TEST_F(Messages, PostThreadMessageNeedsAQueue) {
  HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE has_queue = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  MSG got = {};
  std::function<void()> body = [&] {
    WaitForSingleObject(go, 10000);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); /* makes the queue */
    SetEvent(has_queue);
    GetMessageW(&got, nullptr, 0, 0);
  };
  DWORD id = 0;
  HANDLE t = CreateThread(
      nullptr, 0, [](LPVOID p) -> DWORD { (*(std::function<void()>*)p)(); return 0; }, &body, 0,
      &id);
  SetLastError(0xBEEF);
  EXPECT_FALSE(PostThreadMessageW(id, WM_USER + 5, 1, 2));
  EXPECT_EQ((DWORD)ERROR_INVALID_THREAD_ID, GetLastError());
  SetEvent(go);
  WaitForSingleObject(has_queue, 10000);
  SetLastError(0xBEEF);
  EXPECT_TRUE(PostThreadMessageW(id, WM_USER + 5, 1, 2));
  EXPECT_EQ(0xBEEFu, GetLastError());
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(t, 10000));
  EXPECT_EQ((UINT)WM_USER + 5, got.message);
  EXPECT_TRUE(got.hwnd == nullptr);
  EXPECT_EQ(1u, got.wParam);
  EXPECT_EQ(2, got.lParam);
  CloseHandle(t);
  CloseHandle(go);
  CloseHandle(has_queue);
}

TEST_F(Messages, InvalidWindowHandles) {
  HWND gone = rec::create(TEXT("Gone"));
  DestroyWindow(gone);
  RECT r;
  struct Probe {
    const char* call;
    std::function<bool()> fails;
  };
  const Probe probes[] = {
      {"SendMessageW", [&] { return SendMessageW(gone, WM_USER, 0, 0) == 0; }},
      {"PostMessageW", [&] { return !PostMessageW(gone, WM_USER, 0, 0); }},
      {"DestroyWindow", [&] { return !DestroyWindow(gone); }},
      {"ShowWindow", [&] { return !ShowWindow(gone, SW_SHOW); }},
      {"SetWindowPos", [&] { return !SetWindowPos(gone, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE); }},
      {"GetClientRect", [&] { return !GetClientRect(gone, &r); }},
      {"GetWindowRect", [&] { return !GetWindowRect(gone, &r); }},
      {"InvalidateRect", [&] { return !InvalidateRect(gone, nullptr, TRUE); }},
      {"SetTimer", [&] { return SetTimer(gone, 1, 100, nullptr) == 0; }},
      {"GetWindowLongW", [&] { return GetWindowLongW(gone, GWL_STYLE) == 0; }},
      {"SetWindowTextW", [&] { return !SetWindowTextW(gone, TEXT("x")); }},
  };
  for (const Probe& p : probes) {
    SCOPED_TRACE(p.call);
    SetLastError(0xBEEF);
    EXPECT_TRUE(p.fails());
    const DWORD error = GetLastError();
    if (p.call == std::string("DestroyWindow")) {
      KNOWN_WINE_DIFFERENCE_EQ("Wine refuses to destroy a window that is gone with another code", error,
                               (DWORD)ERROR_ACCESS_DENIED, (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    } else if (p.call == std::string("SetTimer")) {
      KNOWN_WINE_DIFFERENCE_EQ("Wine refuses a timer of a window that is gone with another code", error,
                               (DWORD)ERROR_INVALID_HANDLE, (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    } else {
      EXPECT_EQ((DWORD)ERROR_INVALID_WINDOW_HANDLE, error);
    }
  }
  EXPECT_FALSE(IsWindowVisible(gone));
  MSG msg;
  EXPECT_EQ(-1, GetMessageW(&msg, gone, 0, 0));
}

/* ---- Timers ---- */

void CALLBACK count_tick(HWND, UINT message, UINT_PTR, DWORD) {
  if (message == WM_TIMER) rec::note(nullptr, WM_USER + 50, rec::sent, 0, 0);
}

TEST_F(Messages, TimerProcedureAndKill) {
  UINT_PTR id = SetTimer(nullptr, 0, 20, count_tick);
  ASSERT_NE(0u, id);
  MSG msg;
  do {
    ASSERT_GT(GetMessageW(&msg, nullptr, 0, 0), 0);
    rec::dispatch(msg);
  } while (msg.message != WM_TIMER);
  EXPECT_TRUE(msg.hwnd == nullptr);
  EXPECT_EQ(id, msg.wParam);
  rec::expect_sequence(rec::take(), {{WM_TIMER, posted}, {WM_USER + 50, sent}}, "TIMERPROC");
  EXPECT_TRUE(KillTimer(nullptr, id));
  Sleep(100);
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
  SetLastError(0xBEEF);
  EXPECT_FALSE(KillTimer(nullptr, id));
}

/* Any thread of the window's process may start its timer; the ticks arrive
 * on the window's own thread (the dialing page starts its animation timer
 * on a command thread). */
TEST_F(Messages, TimerOfAWindowOfAnotherThread) {
  rec::WindowThread owner(TEXT("TimerOwner"));
  ASSERT_TRUE(owner.window() != nullptr);
  HANDLE ticked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD tick_thread = 0;
  rec::set_react([&](HWND, UINT m, WPARAM wp, LPARAM, LRESULT* result) {
    if (m != WM_TIMER || wp != 200) return false;
    tick_thread = GetCurrentThreadId();
    SetEvent(ticked);
    *result = 0;
    return true;
  });
  EXPECT_EQ(200u, SetTimer(owner.window(), 200, 20, nullptr));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ticked, 10000));
  EXPECT_TRUE(KillTimer(owner.window(), 200));
  EXPECT_EQ(owner.id(), tick_thread);
  CloseHandle(ticked);
}

#if !defined(_WIN32)
/* Host: timer periods are device time, which runs `speed` times real time. */
TEST_F(Messages, TimersFollowTheDeviceSpeed) {
  HWND w = rec::create(TEXT("Speed"));
  ASSERT_TRUE(w != nullptr);
  plat::set_speed(40);
  auto real_start = std::chrono::steady_clock::now();
  DWORD device_start = GetTickCount();
  SetTimer(w, 1, 4000, nullptr);
  MSG msg;
  do {
    ASSERT_GT(GetMessageW(&msg, nullptr, 0, 0), 0);
  } while (msg.message != WM_TIMER);
  DWORD device_elapsed = GetTickCount() - device_start;
  auto real_elapsed = std::chrono::steady_clock::now() - real_start;
  plat::set_speed(1);
  KillTimer(w, 1);
  EXPECT_GE(device_elapsed, 4000u);
  /* 4000 device ms are 100 real ms at speed 40; a timer in real time would
   * take 4 s. */
  EXPECT_LT(real_elapsed, std::chrono::milliseconds(2000));
  DestroyWindow(w);
}

/* A stand-in device program: its own process (on a thread of this host
 * process), its own class, one window, a message loop. */
struct StandIn {
  std::mutex lock;
  std::vector<unsigned char> copied;
  const void* copied_from = nullptr;
};
StandIn& stand_in() {
  static StandIn s;
  return s;
}

LRESULT CALLBACK stand_in_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  switch (m) {
    case WM_COPYDATA: {
      auto* cd = (const COPYDATASTRUCT*)lp;
      std::lock_guard<std::mutex> guard(stand_in().lock);
      stand_in().copied.assign((const unsigned char*)cd->lpData,
                               (const unsigned char*)cd->lpData + cd->cbData);
      stand_in().copied_from = cd->lpData;
      return TRUE;
    }
    case WM_DESTROY:
      PostQuitMessage(5);
      return 0;
    default:
      return DefWindowProcW(w, m, wp, lp);
  }
}

DWORD stand_in_main(const std::u16string&) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = stand_in_proc;
  wc.lpszClassName = TEXT("VelmarTestAlarm");
  if (!RegisterClassW(&wc)) return 1;
  if (!CreateWindowExW(0, wc.lpszClassName, TEXT("AlarmStandIn"), WS_POPUP, 0, 0, 10, 10, nullptr,
                       nullptr, nullptr, nullptr))
    return 2;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return (DWORD)msg.wParam;
}

/* Host: a stand-in device program is another process: its class name does
 * not clash with ours, its window is found and reached by messages, and
 * WM_COPYDATA gives it a copy of the block. */
TEST_F(Messages, StandInProgramIsAnotherProcess) {
  WNDCLASSW ours = {};
  ours.lpfnWndProc = DefWindowProcW;
  ours.lpszClassName = TEXT("VelmarTestAlarm");
  ASSERT_NE(0, RegisterClassW(&ours));
  plat::register_program(u"\\residentflash2\\TestAlarm.exe", stand_in_main);
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessW(TEXT("\\residentflash2\\TestAlarm.exe"), nullptr, nullptr, nullptr,
                             FALSE, 0, nullptr, nullptr, nullptr, &pi));
  HWND alarm = nullptr;
  for (int i = 0; i < 5000 && !alarm; i++) {
    alarm = FindWindowW(TEXT("VelmarTestAlarm"), TEXT("AlarmStandIn"));
    if (!alarm) Sleep(1);
  }
  ASSERT_TRUE(alarm != nullptr);
  DWORD pid = 0;
  EXPECT_EQ(pi.dwThreadId, GetWindowThreadProcessId(alarm, &pid));
  EXPECT_EQ(pi.dwProcessId, pid);
  EXPECT_NE(GetCurrentProcessId(), pid);

  char block[520];
  for (size_t i = 0; i < sizeof(block); i++) block[i] = (char)(i * 7);
  COPYDATASTRUCT cd = {256, sizeof(block), block};
  EXPECT_EQ(TRUE, SendMessageW(alarm, WM_COPYDATA, 0, (LPARAM)&cd));
  {
    std::lock_guard<std::mutex> guard(stand_in().lock);
    ASSERT_EQ(sizeof(block), stand_in().copied.size());
    EXPECT_EQ(0, memcmp(block, stand_in().copied.data(), sizeof(block)));
    EXPECT_NE((const void*)block, stand_in().copied_from);
  }
  /* Timers of another process's window cannot be set. */
  SetLastError(0xBEEF);
  EXPECT_EQ(0u, SetTimer(alarm, 1, 100, nullptr));
  EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());

  EXPECT_TRUE(PostMessageW(alarm, WM_CLOSE, 0, 0));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 10000));
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(5u, code);
  EXPECT_TRUE(FindWindowW(TEXT("VelmarTestAlarm"), nullptr) == nullptr);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  plat::unregister_programs();
  UnregisterClassW(ours.lpszClassName, nullptr);
}

/* Host: keys from the simulator go to the focus window; TranslateMessage
 * makes the character. */
TEST_F(Messages, KeysGoToTheFocusWindow) {
  HWND a = rec::create(TEXT("KeyA"), WS_POPUP | WS_VISIBLE);
  HWND b = rec::create(TEXT("KeyB"), WS_POPUP | WS_VISIBLE);
  ASSERT_TRUE(a && b);
  SetForegroundWindow(a);
  rec::pump();
  SetFocus(b);
  EXPECT_EQ(b, GetFocus());
  rec::pump();
  ValidateRect(a, nullptr);
  ValidateRect(b, nullptr);
  rec::clear();
  EXPECT_EQ(b, plat::key_event('Q', true));
  rec::pump();
  rec::expect_sequence(rec::take(),
                       {{WM_KEYDOWN, posted, rec::wparam, 'Q', 0, b}, {WM_CHAR, posted, rec::wparam, 'q', 0, b}},
                       "key");
  DestroyWindow(a);
  DestroyWindow(b);
}
#endif

}  // namespace
