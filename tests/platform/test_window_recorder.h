/* Helpers of the window and message tests: a window procedure that records
 * what it sees, a pump that records what it retrieves, and the comparison of
 * a recorded sequence with an expected table. Written against <windows.h>
 * only, so that the tests also build for Windows. */
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

namespace rec {

enum How { sent, posted };

/* Flags of an expected entry. */
enum : unsigned {
  wparam = 1,   /* compare wParam */
  lparam = 2,   /* compare lParam */
  optional = 4, /* may be missing */
};

struct Seen {
  HWND window;
  UINT message;
  How how;
  WPARAM wp;
  LPARAM lp;
  DWORD thread;
};

struct Expect {
  UINT message;
  How how;
  unsigned flags = 0;
  WPARAM wp = 0;
  LPARAM lp = 0;
  HWND window = nullptr; /* null: any window */
};

/* The messages the tests look at; everything else a window manager may send
 * (sizing, activation, non-client painting) is left out of the record. */
inline bool watched(UINT m) {
  switch (m) {
    case WM_NCCREATE:
    case WM_CREATE:
    case WM_DESTROY:
    case WM_NCDESTROY:
    case WM_SIZE:
    case WM_MOVE:
    case WM_PAINT:
    case WM_ERASEBKGND:
    case WM_TIMER:
    case WM_COPYDATA:
    case WM_CLOSE:
    case WM_KEYDOWN:
    case WM_CHAR:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      return true;
    default:
      return m >= WM_USER && m < WM_USER + 100;
  }
}

inline std::string name(UINT m) {
  switch (m) {
    case WM_NCCREATE: return "WM_NCCREATE";
    case WM_CREATE: return "WM_CREATE";
    case WM_DESTROY: return "WM_DESTROY";
    case WM_NCDESTROY: return "WM_NCDESTROY";
    case WM_SIZE: return "WM_SIZE";
    case WM_MOVE: return "WM_MOVE";
    case WM_PAINT: return "WM_PAINT";
    case WM_ERASEBKGND: return "WM_ERASEBKGND";
    case WM_TIMER: return "WM_TIMER";
    case WM_COPYDATA: return "WM_COPYDATA";
    case WM_CLOSE: return "WM_CLOSE";
    case WM_KEYDOWN: return "WM_KEYDOWN";
    case WM_CHAR: return "WM_CHAR";
    case WM_MOUSEMOVE: return "WM_MOUSEMOVE";
    case WM_LBUTTONDOWN: return "WM_LBUTTONDOWN";
    case WM_LBUTTONUP: return "WM_LBUTTONUP";
    case WM_QUIT: return "WM_QUIT";
    default:
      if (m >= WM_USER) return "WM_USER+" + std::to_string(m - WM_USER);
      return "0x" + std::to_string(m);
  }
}

/* What the test's windows do beyond recording: return true with *result set
 * to handle a message, false to let DefWindowProcW have it. */
using React = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT* result)>;

struct Log {
  std::mutex lock;
  std::vector<Seen> seen;
  React react;
};

inline Log& log() {
  static Log* l = new Log;
  return *l;
}

inline void clear() {
  std::lock_guard<std::mutex> guard(log().lock);
  log().seen.clear();
}

inline std::vector<Seen> take() {
  std::lock_guard<std::mutex> guard(log().lock);
  std::vector<Seen> s = log().seen;
  log().seen.clear();
  return s;
}

inline void set_react(React react) {
  std::lock_guard<std::mutex> guard(log().lock);
  log().react = std::move(react);
}

inline void note(HWND w, UINT m, How how, WPARAM wp, LPARAM lp) {
  if (!watched(m)) return;
  std::lock_guard<std::mutex> guard(log().lock);
  log().seen.push_back(Seen{w, m, how, wp, lp, GetCurrentThreadId()});
}

/* The message the pump of this thread is dispatching, so that the procedure
 * does not record it a second time as sent. */
inline const MSG*& dispatching() {
  static thread_local const MSG* current = nullptr;
  return current;
}

inline LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  const MSG* d = dispatching();
  if (d && d->hwnd == w && d->message == m && d->wParam == wp && d->lParam == lp) {
    dispatching() = nullptr;
  } else {
    note(w, m, sent, wp, lp);
  }
  React react;
  {
    std::lock_guard<std::mutex> guard(log().lock);
    react = log().react;
  }
  LRESULT result = 0;
  if (react && react(w, m, wp, lp, &result)) return result;
  return DefWindowProcW(w, m, wp, lp);
}

/* Records and dispatches one retrieved message. */
inline void dispatch(const MSG& msg) {
  note(msg.hwnd, msg.message, posted, msg.wParam, msg.lParam);
  dispatching() = &msg;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  dispatching() = nullptr;
}

/* Handles every message that is waiting for this thread. */
inline void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) dispatch(msg);
}

const WCHAR* const class_name = TEXT("VelmarTestRecorder");

inline void register_class() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = class_name;
  wc.cbWndExtra = 8;
  RegisterClassW(&wc); /* a second registration fails harmlessly */
}

/* A recording popup window of the calling thread. */
inline HWND create(const WCHAR* title, DWORD style = WS_POPUP, int x = 0, int y = 0, int w = 200,
                   int h = 100, LPVOID parameter = nullptr) {
  register_class();
  return CreateWindowExW(0, class_name, title, style, x, y, w, h, nullptr, nullptr,
                         GetModuleHandleW(nullptr), parameter);
}

inline std::string describe(const std::vector<Seen>& seen) {
  std::string s;
  for (auto& e : seen)
    s += "  " + name(e.message) + (e.how == sent ? " sent" : " posted") + " wp=" +
         std::to_string((unsigned long long)e.wp) + " lp=" + std::to_string((long long)e.lp) + "\n";
  return s;
}

inline std::string describe(const std::vector<Expect>& expected) {
  std::string s;
  for (auto& e : expected)
    s += "  " + name(e.message) + (e.how == sent ? " sent" : " posted") +
         ((e.flags & optional) ? " (optional)" : "") + "\n";
  return s;
}

inline bool same(const Expect& e, const Seen& s) {
  if (e.message != s.message || e.how != s.how) return false;
  if ((e.flags & wparam) && e.wp != s.wp) return false;
  if ((e.flags & lparam) && e.lp != s.lp) return false;
  if (e.window && e.window != s.window) return false;
  return true;
}

/* Compares the record with the table: every entry in order, optional ones
 * may be missing; nothing else may appear. */
inline void expect_sequence(const std::vector<Seen>& seen, const std::vector<Expect>& expected,
                            const char* what) {
  size_t i = 0, j = 0;
  bool ok = true;
  while (i < expected.size() || j < seen.size()) {
    if (i < expected.size() && j < seen.size() && same(expected[i], seen[j])) {
      i++;
      j++;
    } else if (i < expected.size() && (expected[i].flags & optional)) {
      i++;
    } else {
      ok = false;
      break;
    }
  }
  EXPECT_TRUE(ok) << what << ": expected\n" << describe(expected) << "seen\n" << describe(seen);
}

/* A thread with a recording window of its own, running a message loop until
 * WM_QUIT (sent by stop()). */
class WindowThread {
 public:
  explicit WindowThread(const WCHAR* title) : title_(title) {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, main, this, 0, &id_);
    WaitForSingleObject(ready_, 10000);
  }
  ~WindowThread() { stop(); }
  void stop() {
    if (!thread_) return;
    PostThreadMessageW(id_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(ready_);
    thread_ = nullptr;
  }
  HWND window() const { return window_; }
  DWORD id() const { return id_; }

 private:
  static DWORD WINAPI main(LPVOID self_pointer) {
    auto* self = (WindowThread*)self_pointer;
    self->window_ = create(self->title_);
    SetEvent(self->ready_);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) dispatch(msg);
    if (IsWindow(self->window_)) DestroyWindow(self->window_);
    return 0;
  }
  const WCHAR* title_;
  HANDLE ready_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD id_ = 0;
  HWND window_ = nullptr;
};

/* Starts a thread that runs `body` and returns its handle. */
inline HANDLE run_thread(std::function<void()>* body) {
  return CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        (*(std::function<void()>*)p)();
        return 0;
      },
      body, 0, nullptr);
}

/* Waits (up to 10 s) until the calling thread's queue holds something of `bits`. */
inline bool wait_for_queue(UINT bits) {
  for (int i = 0; i < 10000; i++) {
    if (HIWORD(GetQueueStatus(bits)) & bits) return true;
    Sleep(1);
  }
  return false;
}

/* Clears the record and the reactions at the start and end of every test. */
class Fixture : public ::testing::Test {
 protected:
  void SetUp() override {
    set_react(nullptr);
    pump();
    clear();
  }
  void TearDown() override {
    set_react(nullptr);
    pump();
    clear();
  }
};

}  // namespace rec
