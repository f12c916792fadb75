/* The state of the window manager, shared by window.cpp (classes, windows,
 * Z order, painting, input routing) and message.cpp (queues, sending,
 * posting, timers). Private to those two sources.
 *
 * One lock guards everything here. Window procedures, observers and the
 * GDI hooks are always called with the lock released. */
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "plat/kernel.h"
#include "plat/user.h"
#include "window_internal.h"

namespace plat {

struct Queue;

struct ClassRecord {
  std::u16string name;
  ATOM atom = 0;
  DWORD process_id = 0;
  WNDCLASSW info{};  /* lpszClassName and lpszMenuName are not kept */
  int windows = 0;   /* live windows of the class */
};

enum class WindowState { alive, destroying, gone };

struct WindowRecord {
  HWND handle = nullptr;
  std::shared_ptr<ClassRecord> cls;
  WNDPROC proc = nullptr;
  DWORD style = 0, ex_style = 0;
  RECT rect{};  /* screen coordinates; the client area is the whole window */
  std::u16string title;
  HINSTANCE instance = nullptr;
  HMENU menu = nullptr;
  HWND owner = nullptr;
  LONG_PTR userdata = 0;
  std::vector<uint8_t> extra;
  std::shared_ptr<Queue> queue;
  DWORD thread_id = 0, process_id = 0;
  WindowState state = WindowState::alive;
  /* The update region, as its bounding rectangle in client coordinates. */
  bool has_update = false;
  bool erase = false;
  RECT update{};

  bool visible() const { return (style & WS_VISIBLE) != 0; }
  bool topmost() const { return (ex_style & WS_EX_TOPMOST) != 0; }
  LONG width() const { return rect.right - rect.left; }
  LONG height() const { return rect.bottom - rect.top; }
};

/* A message sent to a window of another thread, waiting in that thread's queue. */
struct SentRequest {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
  LRESULT result = 0;
  bool done = false;
  std::shared_ptr<Queue> sender;  /* null: nobody waits (SendNotifyMessageW) */
  /* WM_COPYDATA: the receiver's own copy of the block. */
  COPYDATASTRUCT copy{};
  std::vector<uint8_t> copy_bytes;
};

struct Timer {
  HWND hwnd = nullptr;
  UINT_PTR id = 0;
  uint64_t period = 0;  /* device ms */
  uint64_t due = 0;     /* device ms */
  TIMERPROC procedure = nullptr;
};

struct QueuedMessage {
  MSG msg{};
  DWORD kind = QS_POSTMESSAGE;  /* QS_POSTMESSAGE, QS_KEY, QS_MOUSEMOVE or QS_MOUSEBUTTON */
};

/* The message queue of one thread. */
struct Queue {
  DWORD thread_id = 0;
  DWORD process_id = 0;
  bool alive = true;
  std::condition_variable wake;
  std::deque<std::shared_ptr<SentRequest>> sent;
  std::deque<QueuedMessage> posted;
  std::deque<QueuedMessage> input;
  std::vector<Timer> timers;
  bool quit = false;
  int quit_code = 0;
  HWND focus = nullptr;
  DWORD added = 0;        /* QS_ bits added since the last look (GetQueueStatus) */
  int handling_sent = 0;  /* depth of messages sent by other threads being handled */
  UINT_PTR next_thread_timer = 1;
};

struct WindowManager {
  std::mutex lock;
  std::vector<std::shared_ptr<ClassRecord>> classes;
  std::unordered_map<HWND, std::shared_ptr<WindowRecord>> windows;
  std::vector<HWND> z;  /* top-level windows, front to back; topmost ones first */
  std::unordered_map<DWORD, std::shared_ptr<Queue>> queues;
  HWND foreground = nullptr;
  HWND capture = nullptr;
  bool pen_down = false;
  POINT cursor{};
  uintptr_t next_handle = 0x10010;
  ATOM next_atom = 0xC100;
  uint64_t stack_version = 1;
  int screen_width = 800, screen_height = 480;
  bool screen_set = false;
  HCURSOR cursor_shape = nullptr;
  int cursor_count = 0;
  std::vector<WindowObserver> observers;
  RemoteWindows* remote = nullptr;
  bool remote_chosen = false; /* by window_set_remote, or device_windows() installed */
};

WindowManager& wm();

/* The calling thread's queue, made on first use. Call without the lock. */
std::shared_ptr<Queue> current_queue();

/* Window titles and class names compare without regard to ASCII case. */
bool equal_nocase(const std::u16string& a, const WCHAR* b);

/* With the lock held: the registry of other processes' windows, or null. */
RemoteWindows* remote_locked();

/* Handles what other threads and processes have sent to the calling thread
 * (lock not held). */
void handle_sent_messages();

/* A window of another process became the device's foreground window: the
 * local one that had the place loses it (lock not held). */
void lose_foreground(HWND window);

/* With the lock held: the live (or being destroyed) window of a handle. */
WindowRecord* window_locked(HWND window);

/* With the lock held: the window's update region grows by `rect` (client
 * coordinates, clipped to the client area); wakes the owner's queue. */
void invalidate_locked(WindowRecord& w, const RECT* rect, bool erase);

/* With the lock held: drops a dead thread's windows without messages. When
 * the foreground window was one of them, the first visible window in Z order
 * takes its place and is returned (else null). */
HWND drop_thread_windows_locked(DWORD thread_id, std::vector<HWND>* dropped);

/* Tells a window that drop_thread_windows_locked made it the foreground
 * window (lock not held). */
void announce_activation(HWND window);

/* Calls a window's procedure (lock not held); 0 when the window is gone. */
LRESULT call_window(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

/* Observers see a change of a window (lock not held). */
void notify_observers(HWND window, WindowChange change);

/* Rectangle helpers. */
inline bool rect_empty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }
inline RECT rect_intersect(const RECT& a, const RECT& b) {
  RECT r{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
         a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
  if (rect_empty(r)) r = RECT{0, 0, 0, 0};
  return r;
}
inline RECT rect_union(const RECT& a, const RECT& b) {
  if (rect_empty(a)) return b;
  if (rect_empty(b)) return a;
  return RECT{a.left < b.left ? a.left : b.left, a.top < b.top ? a.top : b.top,
              a.right > b.right ? a.right : b.right, a.bottom > b.bottom ? a.bottom : b.bottom};
}
inline bool rect_contains(const RECT& r, LONG x, LONG y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

}  // namespace plat
