/* The message queues: one per thread, made on first use. Retrieval order is
 * that of Windows: messages sent by other threads (handled inside the call),
 * posted messages, input, the quit message, WM_PAINT for a window with an
 * update region, and WM_TIMER for an expired timer. WM_PAINT and WM_TIMER are
 * never queued: they are made when nothing else is waiting, so several
 * invalidations give one WM_PAINT and a late timer gives one WM_TIMER.
 *
 * A message sent to a window of another thread waits in that thread's queue;
 * the sender waits on its own queue and handles what other threads send to
 * it meanwhile, so two threads sending to each other cannot deadlock. */
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "plat/host.h"
#include "window_state.h"

namespace plat {

namespace {

/* Posted messages beyond this many make PostMessageW fail, as on Windows. */
const size_t posted_limit = 10000;

/* Waits for a timer are cut into slices so that a change of the device
 * speed is seen soon. */
const double longest_wait_ms = 100.0;

/* Ends a thread's queue: its windows go, senders waiting on it get 0. */
void end_queue(const std::shared_ptr<Queue>& q) {
  std::vector<HWND> dropped;
  HWND new_foreground;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    auto& m = wm();
    q->alive = false;
    for (auto& request : q->sent) {
      request->done = true;
      if (request->sender) request->sender->wake.notify_all();
    }
    q->sent.clear();
    q->posted.clear();
    q->input.clear();
    q->timers.clear();
    new_foreground = drop_thread_windows_locked(q->thread_id, &dropped);
    auto it = m.queues.find(q->thread_id);
    if (it != m.queues.end() && it->second == q) m.queues.erase(it);
  }
  for (HWND h : dropped) notify_observers(h, WindowChange::destroyed);
  if (new_foreground) announce_activation(new_foreground);
}

struct QueueHolder {
  std::shared_ptr<Queue> queue;
  ~QueueHolder() {
    if (queue) end_queue(queue);
  }
};

thread_local QueueHolder t_queue;

bool in_range(UINT message, UINT first, UINT last) {
  if (first == 0 && last == 0) return true;
  return message >= first && message <= last;
}

/* hwnd filter of GetMessageW: null any, (HWND)-1 thread messages only. */
bool window_matches(HWND hwnd, HWND filter) {
  if (!filter) return true;
  if (filter == (HWND)(LONG_PTR)-1) return hwnd == nullptr;
  return hwnd == filter;
}

/* With the lock held: the QS_ bits of what is waiting in the queue. */
DWORD status_locked(Queue& q) {
  DWORD bits = 0;
  if (!q.sent.empty()) bits |= QS_SENDMESSAGE;
  if (!q.posted.empty() || q.quit) bits |= QS_POSTMESSAGE;
  for (auto& e : q.input) bits |= e.kind;
  for (auto& entry : wm().windows) {
    WindowRecord& w = *entry.second;
    if (w.queue.get() == &q && w.has_update && w.visible()) {
      bits |= QS_PAINT;
      break;
    }
  }
  uint64_t now = device_ms();
  for (auto& t : q.timers)
    if (t.due <= now) bits |= QS_TIMER;
  return bits;
}

/* Handles one message that another thread sent (lock held on entry and on
 * return, released around the window procedure). */
void handle_sent(Queue& q, std::unique_lock<std::mutex>& lock) {
  std::shared_ptr<SentRequest> request = q.sent.front();
  q.sent.pop_front();
  lock.unlock();
  q.handling_sent++;
  LRESULT result = call_window(request->hwnd, request->message, request->wparam, request->lparam);
  q.handling_sent--;
  lock.lock();
  request->result = result;
  request->done = true;
  if (request->sender) request->sender->wake.notify_all();
}

enum class Take { get, peek };

/* The next message for the calling thread, in the order of Windows. For
 * Take::get it waits; for Take::peek it returns false when there is none. */
bool next_message(Queue& q, MSG* out, HWND filter, UINT first, UINT last, UINT remove, Take take) {
  std::unique_lock<std::mutex> lock(wm().lock);
  auto& m = wm();
  for (;;) {
    q.added = 0;
    if (!q.sent.empty()) {
      handle_sent(q, lock);
      continue;
    }
    for (auto* list : {&q.posted, &q.input}) {
      for (auto it = list->begin(); it != list->end(); ++it) {
        if (!window_matches(it->msg.hwnd, filter) || !in_range(it->msg.message, first, last))
          continue;
        *out = it->msg;
        if (remove & PM_REMOVE) list->erase(it);
        return true;
      }
    }
    if (q.quit && (!filter || filter == (HWND)(LONG_PTR)-1) && in_range(WM_QUIT, first, last)) {
      memset(out, 0, sizeof(*out));
      out->message = WM_QUIT;
      out->wParam = (WPARAM)(INT_PTR)q.quit_code;
      out->time = GetTickCount();
      out->pt = m.cursor;
      if (remove & PM_REMOVE) q.quit = false;
      return true;
    }
    if (in_range(WM_PAINT, first, last)) {
      for (HWND h : m.z) {
        WindowRecord* w = window_locked(h);
        if (!w || w->queue.get() != &q || !w->has_update || !w->visible()) continue;
        if (filter && filter != h) continue;
        memset(out, 0, sizeof(*out));
        out->hwnd = h;
        out->message = WM_PAINT;
        out->time = GetTickCount();
        out->pt = m.cursor;
        return true;
      }
    }
    uint64_t now = device_ms();
    Timer* due = nullptr;
    bool any_timer = false;
    uint64_t next_due = UINT64_MAX;
    if (in_range(WM_TIMER, first, last)) {
      for (auto& t : q.timers) {
        if (!window_matches(t.hwnd, filter)) continue;
        any_timer = true;
        next_due = std::min(next_due, t.due);
        if (t.due <= now && (!due || t.due < due->due)) due = &t;
      }
    }
    if (due) {
      memset(out, 0, sizeof(*out));
      out->hwnd = due->hwnd;
      out->message = WM_TIMER;
      out->wParam = due->id;
      out->lParam = (LPARAM)due->procedure;
      out->time = (DWORD)now;
      out->pt = m.cursor;
      if (remove & PM_REMOVE) due->due = now + due->period;
      return true;
    }
    if (take == Take::peek) return false;
    if (any_timer) {
      double real_ms = std::min(longest_wait_ms, (double)(next_due - now) / speed());
      q.wake.wait_for(lock, std::chrono::microseconds((long long)std::ceil(real_ms * 1000.0) + 1));
    } else {
      q.wake.wait(lock);
    }
  }
}

bool posts_pointer(UINT message) {
  return message == WM_COPYDATA || message == WM_SETTEXT || message == WM_GETTEXT ||
         message == WM_CREATE || message == WM_NCCREATE;
}

/* With the lock held: enters a posted message in a queue. */
bool post_locked(Queue& q, HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (q.posted.size() >= posted_limit) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return false;
  }
  QueuedMessage e;
  e.msg.hwnd = window;
  e.msg.message = message;
  e.msg.wParam = wparam;
  e.msg.lParam = lparam;
  e.msg.time = GetTickCount();
  e.msg.pt = wm().cursor;
  q.posted.push_back(e);
  q.added |= QS_POSTMESSAGE;
  q.wake.notify_all();
  return true;
}

/* Sends to a window of another thread; with `wait`, blocks (handling what is
 * sent to this thread meanwhile) until the target has handled it. */
LRESULT send_across(const std::shared_ptr<Queue>& target, HWND window, UINT message,
                    WPARAM wparam, LPARAM lparam, bool wait) {
  auto request = std::make_shared<SentRequest>();
  request->hwnd = window;
  request->message = message;
  request->wparam = wparam;
  request->lparam = lparam;
  if (message == WM_COPYDATA && lparam) {
    /* The receiver gets its own copy of the block, as another process would. */
    const auto* data = (const COPYDATASTRUCT*)lparam;
    request->copy = *data;
    if (data->lpData && data->cbData) {
      auto* bytes = (const uint8_t*)data->lpData;
      request->copy_bytes.assign(bytes, bytes + data->cbData);
      request->copy.lpData = request->copy_bytes.data();
    } else {
      request->copy.lpData = nullptr;
    }
    request->lparam = (LPARAM)&request->copy;
  }
  std::shared_ptr<Queue> me = wait ? current_queue() : nullptr;
  std::unique_lock<std::mutex> lock(wm().lock);
  if (!target->alive) return 0;
  request->sender = me;
  target->sent.push_back(request);
  target->added |= QS_SENDMESSAGE;
  target->wake.notify_all();
  if (!wait) return 0;
  while (!request->done) {
    if (!me->sent.empty()) {
      handle_sent(*me, lock);
      continue;
    }
    me->wake.wait(lock);
  }
  return request->result;
}

/* Sends a message; `wait` false queues it for another thread's window
 * without waiting. Returns false with the last error set for a bad handle. */
bool send_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam, bool wait,
                  LRESULT* result) {
  DWORD tid = GetCurrentThreadId();
  std::shared_ptr<Queue> target;
  RemoteWindows* remote = nullptr;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    WindowRecord* w = window_locked(window);
    if (w) {
      if (w->thread_id != tid) target = w->queue;
    } else {
      remote = remote_locked();
      if (!remote || !remote->owns(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
      }
    }
  }
  if (remote) {
    *result = remote->send(window, message, wparam, lparam);
    return true;
  }
  if (!target) {
    *result = call_window(window, message, wparam, lparam);
    return true;
  }
  *result = send_across(target, window, message, wparam, lparam, wait);
  return true;
}

/* The top-level windows that a broadcast reaches, front to back. */
std::vector<HWND> broadcast_targets() {
  std::lock_guard<std::mutex> guard(wm().lock);
  std::vector<HWND> targets;
  for (HWND h : wm().z) {
    WindowRecord* w = window_locked(h);
    if (w && w->state == WindowState::alive) targets.push_back(h);
  }
  return targets;
}

}  // namespace

void handle_sent_messages() {
  std::shared_ptr<Queue> q = current_queue();
  std::unique_lock<std::mutex> lock(wm().lock);
  while (!q->sent.empty()) handle_sent(*q, lock);
}

std::shared_ptr<Queue> current_queue() {
  if (t_queue.queue) return t_queue.queue;
  auto q = std::make_shared<Queue>();
  q->thread_id = GetCurrentThreadId();
  q->process_id = GetCurrentProcessId();
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    wm().queues[q->thread_id] = q;
  }
  t_queue.queue = q;
  return q;
}

}  // namespace plat

using namespace plat;

BOOL WINAPI GetMessageW(LPMSG msg, HWND window, UINT filter_min, UINT filter_max) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (window && window != (HWND)(LONG_PTR)-1 && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  std::shared_ptr<Queue> q = current_queue();
  next_message(*q, msg, window, filter_min, filter_max, PM_REMOVE, Take::get);
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI PeekMessageW(LPMSG msg, HWND window, UINT filter_min, UINT filter_max, UINT remove) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (window && window != (HWND)(LONG_PTR)-1 && !IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  std::shared_ptr<Queue> q = current_queue();
  return next_message(*q, msg, window, filter_min, filter_max, remove, Take::peek) ? TRUE : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
  if (!msg) return FALSE;
  if (msg->message == WM_KEYUP || msg->message == WM_SYSKEYDOWN || msg->message == WM_SYSKEYUP)
    return TRUE;
  if (msg->message != WM_KEYDOWN) return FALSE;
  /* Keys that make a character post WM_CHAR (no shift state on this device). */
  UINT vk = (UINT)msg->wParam;
  WCHAR ch = 0;
  if (vk >= '0' && vk <= '9') ch = (WCHAR)vk;
  else if (vk >= 'A' && vk <= 'Z') ch = (WCHAR)(vk - 'A' + 'a');
  else if (vk == VK_SPACE || vk == VK_RETURN || vk == VK_BACK || vk == VK_TAB || vk == VK_ESCAPE)
    ch = (WCHAR)vk;
  if (ch) PostMessageW(msg->hwnd, WM_CHAR, ch, msg->lParam);
  return TRUE;
}

LRESULT WINAPI DispatchMessageW(const MSG* msg) {
  if (!msg) return 0;
  DWORD tid = GetCurrentThreadId();
  if (msg->message == WM_TIMER && msg->lParam) {
    /* Only the procedure of a live timer of this thread is called. */
    bool known = false;
    {
      std::shared_ptr<Queue> q = current_queue();
      std::lock_guard<std::mutex> guard(wm().lock);
      for (auto& t : q->timers)
        if (t.hwnd == msg->hwnd && t.id == msg->wParam && (LPARAM)t.procedure == msg->lParam)
          known = true;
    }
    if (!known) return 0;
    ((TIMERPROC)msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  if (!msg->hwnd) return 0;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    WindowRecord* w = window_locked(msg->hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (w->thread_id != tid) {
      SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
      return 0;
    }
  }
  return call_window(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (posts_pointer(message)) {
    SetLastError(ERROR_MESSAGE_SYNC_ONLY);
    return FALSE;
  }
  if (!window) return PostThreadMessageW(GetCurrentThreadId(), message, wparam, lparam);
  if (window == HWND_BROADCAST) {
    for (HWND h : broadcast_targets()) PostMessageW(h, message, wparam, lparam);
    return TRUE;
  }
  RemoteWindows* remote;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    WindowRecord* w = window_locked(window);
    if (w) return post_locked(*w->queue, window, message, wparam, lparam) ? TRUE : FALSE;
    remote = remote_locked();
  }
  if (remote && remote->owns(window)) return remote->post(window, message, wparam, lparam);
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

BOOL WINAPI PostThreadMessageW(DWORD thread_id, UINT message, WPARAM wparam, LPARAM lparam) {
  if (posts_pointer(message)) {
    SetLastError(ERROR_MESSAGE_SYNC_ONLY);
    return FALSE;
  }
  if (thread_id == GetCurrentThreadId()) current_queue();
  std::lock_guard<std::mutex> guard(wm().lock);
  auto it = wm().queues.find(thread_id);
  if (it == wm().queues.end() || !it->second->alive) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return post_locked(*it->second, nullptr, message, wparam, lparam) ? TRUE : FALSE;
}

LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result = 0;
  if (window == HWND_BROADCAST) {
    for (HWND h : broadcast_targets()) send_message(h, message, wparam, lparam, true, &result);
    return 0;
  }
  send_message(window, message, wparam, lparam, true, &result);
  return result;
}

BOOL WINAPI SendNotifyMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COPYDATA) {
    SetLastError(ERROR_MESSAGE_SYNC_ONLY);
    return FALSE;
  }
  LRESULT result = 0;
  if (window == HWND_BROADCAST) {
    for (HWND h : broadcast_targets()) send_message(h, message, wparam, lparam, false, &result);
    return TRUE;
  }
  return send_message(window, message, wparam, lparam, false, &result) ? TRUE : FALSE;
}

BOOL WINAPI InSendMessage(void) {
  std::shared_ptr<Queue> q = current_queue();
  return q->handling_sent > 0;
}

LRESULT WINAPI CallWindowProcW(WNDPROC procedure, HWND window, UINT message, WPARAM wparam,
                               LPARAM lparam) {
  return procedure ? procedure(window, message, wparam, lparam) : 0;
}

void WINAPI PostQuitMessage(int exit_code) {
  std::shared_ptr<Queue> q = current_queue();
  std::lock_guard<std::mutex> guard(wm().lock);
  q->quit = true;
  q->quit_code = exit_code;
  q->added |= QS_POSTMESSAGE;
  q->wake.notify_all();
}

DWORD WINAPI GetQueueStatus(UINT flags) {
  std::shared_ptr<Queue> q = current_queue();
  std::lock_guard<std::mutex> guard(wm().lock);
  DWORD now = status_locked(*q) & flags;
  DWORD added = q->added & now;
  q->added &= ~(DWORD)flags;
  return MAKELONG(added, now);
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure) {
  std::shared_ptr<Queue> q = window ? nullptr : current_queue();
  DWORD pid = GetCurrentProcessId();
  uint64_t period = elapse < USER_TIMER_MINIMUM ? USER_TIMER_MINIMUM
                    : elapse > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM
                                                  : elapse;
  uint64_t now = device_ms();
  std::lock_guard<std::mutex> guard(wm().lock);
  if (window) {
    WindowRecord* w = window_locked(window);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    /* Any thread of the window's process may set its timers; they run on
     * the window's thread. */
    if (w->process_id != pid) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
    q = w->queue;
  } else {
    bool taken = false;
    for (auto& t : q->timers)
      if (!t.hwnd && t.id == id && id) taken = true;
    if (!taken) {
      do {
        id = q->next_thread_timer++;
      } while (std::any_of(q->timers.begin(), q->timers.end(),
                           [&](const Timer& t) { return !t.hwnd && t.id == id; }));
    }
  }
  Timer* timer = nullptr;
  for (auto& t : q->timers)
    if (t.hwnd == window && t.id == id) timer = &t;
  if (!timer) {
    q->timers.push_back(Timer{});
    timer = &q->timers.back();
  }
  timer->hwnd = window;
  timer->id = id;
  timer->period = period;
  timer->due = now + period;
  timer->procedure = procedure;
  q->wake.notify_all();
  return window && id == 0 ? 1 : id;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
  std::shared_ptr<Queue> q = window ? nullptr : current_queue();
  std::lock_guard<std::mutex> guard(wm().lock);
  if (window) {
    WindowRecord* w = window_locked(window);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    q = w->queue;
  }
  auto& timers = q->timers;
  auto it = std::find_if(timers.begin(), timers.end(),
                         [&](const Timer& t) { return t.hwnd == window && t.id == id; });
  if (it == timers.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  timers.erase(it);
  return TRUE;
}
