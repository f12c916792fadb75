/* Window classes, windows, Z order, foreground and focus, invalidation and
 * painting, the default window procedure, input routing and the system
 * metrics. The queues and message calls are in message.cpp. */
#include <algorithm>
#include <cstring>

#include "gdi_internal.h"
#include "plat/host.h"
#include "window_state.h"

/* The host entry's options, when the host entry is linked. */
namespace plat {
__attribute__((weak)) HostOptions& host_options();
}  // namespace plat

namespace plat {

namespace {

HDC window_dc(HWND window, const RECT* clip) { return gdi_window_dc(window, clip); }

void release_window_dc(HDC dc) { gdi_release_window_dc(dc); }

std::u16string copy_text(const WCHAR* s) {
  if (!s) return std::u16string();
  size_t n = 0;
  while (s[n]) n++;
  return std::u16string(s, n);
}

/* Copies at most max_count - 1 units and a terminator; returns the units copied. */
int copy_out(const std::u16string& text, WCHAR* buffer, int max_count) {
  if (!buffer || max_count <= 0) return 0;
  size_t n = std::min(text.size(), (size_t)max_count - 1);
  memcpy(buffer, text.data(), n * sizeof(WCHAR));
  buffer[n] = 0;
  return (int)n;
}

size_t z_index_locked(HWND window) {
  auto& z = wm().z;
  return (size_t)(std::find(z.begin(), z.end(), window) - z.begin());
}

/* Moves a window to the top of its band (topmost or not). */
bool raise_locked(WindowRecord& w) {
  auto& m = wm();
  auto& z = m.z;
  size_t at = z_index_locked(w.handle);
  if (at < z.size()) z.erase(z.begin() + (long)at);
  size_t to = 0;
  if (!w.topmost()) {
    while (to < z.size()) {
      WindowRecord* other = window_locked(z[to]);
      if (!other || !other->topmost()) break;
      to++;
    }
  }
  z.insert(z.begin() + (long)to, w.handle);
  m.stack_version++;
  return at != to;
}

/* Invalidates, with erase, whatever of the visible windows behind `z_from`
 * lies under the screen rectangle. */
void expose_below_locked(size_t z_from, const RECT& screen) {
  auto& m = wm();
  for (size_t i = z_from; i < m.z.size(); i++) {
    WindowRecord* w = window_locked(m.z[i]);
    if (!w || !w->visible()) continue;
    RECT part = rect_intersect(screen, w->rect);
    if (rect_empty(part)) continue;
    RECT client{part.left - w->rect.left, part.top - w->rect.top, part.right - w->rect.left,
                part.bottom - w->rect.top};
    invalidate_locked(*w, &client, true);
  }
}

/* Makes a window visible or hidden; returns whether that changed. */
bool set_visible_locked(WindowRecord& w, bool visible) {
  if (w.visible() == visible) return false;
  auto& m = wm();
  if (visible) {
    w.style |= WS_VISIBLE;
    invalidate_locked(w, nullptr, true);
  } else {
    w.style &= ~(DWORD)WS_VISIBLE;
    w.has_update = false;
    w.erase = false;
    expose_below_locked(z_index_locked(w.handle) + 1, w.rect);
  }
  m.stack_version++;
  return true;
}

/* The first visible window in Z order other than `except`, for activation
 * after the active window went away. */
HWND next_active_locked(HWND except) {
  for (HWND h : wm().z) {
    if (h == except) continue;
    WindowRecord* w = window_locked(h);
    if (w && w->visible() && w->state == WindowState::alive) return h;
  }
  return nullptr;
}

/* Sends to a window of the calling thread, or queues a notification (not
 * awaited) for a window of another thread. */
void deliver(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  SendNotifyMessageW(window, message, wparam, lparam);
}

/* Makes `window` the foreground (active) window: WM_ACTIVATE to the window
 * that loses it and to the one that gains it; the gaining one is raised. */
void activate(HWND window) {
  HWND old;
  bool raised = false;
  RemoteWindows* remote;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    auto& m = wm();
    WindowRecord* w = window ? window_locked(window) : nullptr;
    if (window && !w) return;
    old = m.foreground;
    if (w) raised = raise_locked(*w);
    m.foreground = window;
    remote = remote_locked();
  }
  /* The foreground is the device's: another process's window may have had it. */
  bool from_elsewhere = remote && window && remote->claim_foreground(window);
  if (raised) notify_observers(window, WindowChange::raised);
  if (old == window && !from_elsewhere) return;
  if (old == window) old = nullptr;
  if (old) {
    deliver(old, WM_ACTIVATE, WA_INACTIVE, (LPARAM)window);
    /* A thread that loses the activation loses its focus with it. */
    HWND lost = nullptr;
    {
      std::lock_guard<std::mutex> guard(wm().lock);
      WindowRecord* o = window_locked(old);
      WindowRecord* n = window_locked(window);
      if (o && o->queue->focus && (!n || n->queue != o->queue)) {
        lost = o->queue->focus;
        o->queue->focus = nullptr;
      }
    }
    if (lost) deliver(lost, WM_KILLFOCUS, 0, 0);
  }
  if (window) {
    notify_observers(window, WindowChange::foreground);
    deliver(window, WM_ACTIVATE, WA_ACTIVE, (LPARAM)old);
  }
}

void destroy_record_locked(WindowRecord& w) {
  auto& m = wm();
  size_t at = z_index_locked(w.handle);
  if (at < m.z.size()) m.z.erase(m.z.begin() + (long)at);
  Queue& q = *w.queue;
  q.timers.erase(std::remove_if(q.timers.begin(), q.timers.end(),
                                [&](const Timer& t) { return t.hwnd == w.handle; }),
                 q.timers.end());
  auto drop = [&](std::deque<QueuedMessage>& list) {
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const QueuedMessage& e) { return e.msg.hwnd == w.handle; }),
               list.end());
  };
  drop(q.posted);
  drop(q.input);
  if (q.focus == w.handle) q.focus = nullptr;
  if (m.capture == w.handle) m.capture = nullptr;
  if (m.foreground == w.handle) m.foreground = nullptr;
  if (w.cls) w.cls->windows--;
  w.state = WindowState::gone;
  w.has_update = false;
  m.windows.erase(w.handle);
  m.stack_version++;
}

WindowRecord* checked_locked(HWND window) {
  WindowRecord* w = window_locked(window);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

}  // namespace

/* ---- Shared with message.cpp and window_remote.cpp ---- */

bool equal_nocase(const std::u16string& a, const WCHAR* b) {
  size_t n = 0;
  while (b[n]) n++;
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; i++) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = (char16_t)(x - 32);
    if (y >= u'a' && y <= u'z') y = (char16_t)(y - 32);
    if (x != y) return false;
  }
  return true;
}


WindowManager& wm() {
  static WindowManager* manager = new WindowManager;
  return *manager;
}

WindowRecord* window_locked(HWND window) {
  if (!window) return nullptr;
  auto& m = wm();
  auto it = m.windows.find(window);
  if (it == m.windows.end() || it->second->state == WindowState::gone) return nullptr;
  return it->second.get();
}

void invalidate_locked(WindowRecord& w, const RECT* rect, bool erase) {
  if (!w.visible() || w.state == WindowState::gone) return;
  RECT client{0, 0, w.width(), w.height()};
  RECT part = rect ? rect_intersect(*rect, client) : client;
  if (rect_empty(part)) return;
  w.update = w.has_update ? rect_union(w.update, part) : part;
  w.has_update = true;
  if (erase) w.erase = true;
  w.queue->added |= QS_PAINT;
  w.queue->wake.notify_all();
}

HWND drop_thread_windows_locked(DWORD thread_id, std::vector<HWND>* dropped) {
  auto& m = wm();
  bool had_foreground = false;
  std::vector<std::shared_ptr<WindowRecord>> mine;
  for (auto& entry : m.windows)
    if (entry.second->thread_id == thread_id) mine.push_back(entry.second);
  for (auto& w : mine) {
    if (w->visible()) expose_below_locked(z_index_locked(w->handle) + 1, w->rect);
    if (m.foreground == w->handle) had_foreground = true;
    destroy_record_locked(*w);
    dropped->push_back(w->handle);
  }
  if (!had_foreground) return nullptr;
  HWND next = next_active_locked(nullptr);
  if (WindowRecord* w = window_locked(next)) {
    raise_locked(*w);
    m.foreground = next;
  }
  return next;
}

void announce_activation(HWND window) {
  notify_observers(window, WindowChange::foreground);
  deliver(window, WM_ACTIVATE, WA_ACTIVE, 0);
}

LRESULT call_window(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  WNDPROC proc;
  std::shared_ptr<WindowRecord> keep;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    auto it = wm().windows.find(window);
    if (it == wm().windows.end() || it->second->state == WindowState::gone) return 0;
    keep = it->second;
    proc = keep->proc;
  }
  return proc ? proc(window, message, wparam, lparam) : 0;
}

void notify_observers(HWND window, WindowChange change) {
  std::vector<WindowObserver> observers;
  RemoteWindows* remote;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    observers = wm().observers;
    remote = remote_locked();
  }
  if (remote) remote->changed(window, change);
  for (auto& observer : observers) observer(window, change);
}

RemoteWindows* remote_locked() {
  auto& m = wm();
  if (!m.remote_chosen && !device_root().empty()) {
    m.remote = device_windows();
    m.remote_chosen = true;
  }
  return m.remote;
}

void lose_foreground(HWND window) {
  HWND focus = nullptr;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    WindowRecord* w = window_locked(window);
    if (!w || wm().foreground != window) return;
    wm().foreground = nullptr;
    focus = w->queue->focus;
    w->queue->focus = nullptr;
  }
  deliver(window, WM_ACTIVATE, WA_INACTIVE, 0);
  if (focus) deliver(focus, WM_KILLFOCUS, 0, 0);
}

/* ---- window_internal.h ---- */

void set_screen_size(int width, int height) {
  if (width <= 0 || height <= 0) return;
  std::lock_guard<std::mutex> guard(wm().lock);
  wm().screen_width = width;
  wm().screen_height = height;
  wm().screen_set = true;
}

std::vector<WindowPlace> window_stack() {
  std::lock_guard<std::mutex> guard(wm().lock);
  std::vector<WindowPlace> places;
  for (HWND h : wm().z) {
    WindowRecord* w = window_locked(h);
    if (w) places.push_back(WindowPlace{h, w->rect, w->visible(), w->topmost()});
  }
  return places;
}

uint64_t window_stack_version() {
  std::lock_guard<std::mutex> guard(wm().lock);
  return wm().stack_version;
}

bool window_screen_rect(HWND window, RECT* rect) {
  std::lock_guard<std::mutex> guard(wm().lock);
  WindowRecord* w = window_locked(window);
  if (!w) return false;
  *rect = w->rect;
  return true;
}

namespace {
HWND window_at_locked(int x, int y) {
  for (HWND h : wm().z) {
    WindowRecord* w = window_locked(h);
    if (w && w->visible() && rect_contains(w->rect, x, y)) return h;
  }
  return nullptr;
}

void post_input_locked(WindowRecord& w, UINT message, WPARAM wparam, LPARAM lparam, DWORD kind) {
  auto& m = wm();
  Queue& q = *w.queue;
  QueuedMessage e;
  e.msg.hwnd = w.handle;
  e.msg.message = message;
  e.msg.wParam = wparam;
  e.msg.lParam = lparam;
  e.msg.time = GetTickCount();
  e.msg.pt = m.cursor;
  e.kind = kind;
  /* Pen moves coalesce: a newer position replaces one not yet retrieved. */
  if (message == WM_MOUSEMOVE && !q.input.empty() && q.input.back().msg.message == WM_MOUSEMOVE &&
      q.input.back().msg.hwnd == w.handle) {
    q.input.back() = e;
  } else {
    q.input.push_back(e);
  }
  q.added |= kind;
  q.wake.notify_all();
}
}  // namespace

HWND window_at(int x, int y) {
  std::lock_guard<std::mutex> guard(wm().lock);
  return window_at_locked(x, y);
}

HWND pointer_event(PointerKind kind, int x, int y) {
  HWND target;
  bool activate_first = false;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    auto& m = wm();
    m.cursor = POINT{x, y};
    if (kind == PointerKind::down) m.pen_down = true;
    if (kind == PointerKind::up) m.pen_down = false;
    target = m.capture && window_locked(m.capture) ? m.capture : window_at_locked(x, y);
    if (!target) return nullptr;
    activate_first = kind == PointerKind::down && m.foreground != target;
  }
  if (activate_first) activate(target);
  std::lock_guard<std::mutex> guard(wm().lock);
  auto& m = wm();
  WindowRecord* w = window_locked(target);
  if (!w) return nullptr;
  LPARAM at = MAKELPARAM((WORD)(SHORT)(x - w->rect.left), (WORD)(SHORT)(y - w->rect.top));
  switch (kind) {
    case PointerKind::down:
      post_input_locked(*w, WM_LBUTTONDOWN, MK_LBUTTON, at, QS_MOUSEBUTTON);
      break;
    case PointerKind::move:
      post_input_locked(*w, WM_MOUSEMOVE, m.pen_down ? MK_LBUTTON : 0, at, QS_MOUSEMOVE);
      break;
    case PointerKind::up:
      post_input_locked(*w, WM_LBUTTONUP, 0, at, QS_MOUSEBUTTON);
      break;
  }
  return target;
}

HWND key_event(UINT virtual_key, bool down) {
  std::lock_guard<std::mutex> guard(wm().lock);
  WindowRecord* fg = window_locked(wm().foreground);
  if (!fg) return nullptr;
  WindowRecord* target = window_locked(fg->queue->focus);
  if (!target) target = fg;
  LPARAM flags = down ? 1 : (LPARAM)(DWORD)0xC0000001u;
  post_input_locked(*target, down ? WM_KEYDOWN : WM_KEYUP, virtual_key, flags, QS_KEY);
  return target->handle;
}

void window_observe(WindowObserver observer) {
  std::lock_guard<std::mutex> guard(wm().lock);
  wm().observers.push_back(std::move(observer));
}

void window_observers_clear() {
  std::lock_guard<std::mutex> guard(wm().lock);
  wm().observers.clear();
}

void window_set_remote(RemoteWindows* remote) {
  std::lock_guard<std::mutex> guard(wm().lock);
  wm().remote = remote;
  wm().remote_chosen = true;
}

}  // namespace plat

using namespace plat;

namespace {

RemoteWindows* remote_for(HWND window) {
  RemoteWindows* remote;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    remote = remote_locked();
  }
  return remote && window && remote->owns(window) ? remote : nullptr;
}

/* A handle that is not local: the remote registry's, or an invalid handle. */
RemoteWindows* remote_or_invalid(HWND window) {
  RemoteWindows* remote = remote_for(window);
  if (!remote) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return remote;
}

bool is_local(HWND window) {
  std::lock_guard<std::mutex> guard(wm().lock);
  return window_locked(window) != nullptr;
}

std::shared_ptr<ClassRecord> find_class_locked(LPCWSTR name, DWORD process_id,
                                               HINSTANCE instance, bool any_instance) {
  for (auto& c : wm().classes) {
    if (c->process_id != process_id) continue;
    if (!any_instance && c->info.hInstance != instance) continue;
    if (IS_INTRESOURCE(name) ? c->atom == (ATOM)(uintptr_t)name : equal_nocase(c->name, name))
      return c;
  }
  return nullptr;
}

}  // namespace

/* ---- Classes ---- */

ATOM WINAPI RegisterClassW(const WNDCLASSW* window_class) {
  if (!window_class || !window_class->lpszClassName || IS_INTRESOURCE(window_class->lpszClassName) ||
      !window_class->lpszClassName[0] || window_class->cbWndExtra < 0 ||
      window_class->cbClsExtra < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD pid = GetCurrentProcessId();
  std::lock_guard<std::mutex> guard(wm().lock);
  auto& m = wm();
  if (find_class_locked(window_class->lpszClassName, pid, window_class->hInstance, false)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto c = std::make_shared<ClassRecord>();
  c->name = copy_text(window_class->lpszClassName);
  c->atom = m.next_atom++;
  c->process_id = pid;
  c->info = *window_class;
  c->info.lpszClassName = nullptr;
  c->info.lpszMenuName = nullptr;
  m.classes.push_back(c);
  return c->atom;
}

BOOL WINAPI UnregisterClassW(LPCWSTR class_name, HINSTANCE instance) {
  if (!class_name) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  DWORD pid = GetCurrentProcessId();
  std::lock_guard<std::mutex> guard(wm().lock);
  auto c = find_class_locked(class_name, pid, instance, false);
  if (!c) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  if (c->windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return FALSE;
  }
  auto& list = wm().classes;
  list.erase(std::find(list.begin(), list.end(), c));
  return TRUE;
}

/* ---- Windows ---- */

static BOOL destroy_window(HWND window, bool announce);

HWND WINAPI CreateWindowExW(DWORD ex_style, LPCWSTR class_name, LPCWSTR window_name, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID parameter) {
  if (style & WS_CHILD) {
    SetLastError(parent ? ERROR_NOT_SUPPORTED : ERROR_TLW_WITH_WSCHILD);
    return nullptr;
  }
  if (!class_name) {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  std::shared_ptr<Queue> queue = current_queue();
  DWORD pid = GetCurrentProcessId();
  HWND handle;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    auto& m = wm();
    if (parent && !window_locked(parent)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    auto cls = find_class_locked(class_name, pid, instance, false);
    if (!cls) cls = find_class_locked(class_name, pid, instance, true);
    if (!cls) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    bool popup = (style & WS_POPUP) != 0;
    if (x == CW_USEDEFAULT) x = y = 0;
    if (width == CW_USEDEFAULT) {
      width = popup ? 0 : m.screen_width;
      height = popup ? 0 : m.screen_height;
    }
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    auto w = std::make_shared<WindowRecord>();
    RemoteWindows* remote = remote_locked();
    uintptr_t value = remote ? remote->new_handle(m.next_handle) : m.next_handle;
    while (m.windows.count((HWND)value)) value += 4;
    handle = (HWND)value;
    m.next_handle = value + 4;
    w->handle = handle;
    w->cls = cls;
    w->proc = cls->info.lpfnWndProc;
    w->style = style & ~(DWORD)WS_VISIBLE;
    w->ex_style = ex_style;
    w->rect = RECT{x, y, x + width, y + height};
    w->instance = instance;
    w->menu = menu;
    w->owner = parent;
    w->extra.assign((size_t)cls->info.cbWndExtra, 0);
    w->queue = queue;
    w->thread_id = queue->thread_id;
    w->process_id = pid;
    cls->windows++;
    m.windows[handle] = w;
    raise_locked(*w);
  }
  CREATESTRUCTW cs;
  cs.lpCreateParams = parameter;
  cs.hInstance = instance;
  cs.hMenu = menu;
  cs.hwndParent = parent;
  cs.cy = height;
  cs.cx = width;
  cs.y = y;
  cs.x = x;
  cs.style = (LONG)style;
  cs.lpszName = window_name;
  cs.lpszClass = class_name;
  cs.dwExStyle = ex_style;
  if (!SendMessageW(handle, WM_NCCREATE, 0, (LPARAM)&cs)) {
    SendMessageW(handle, WM_NCDESTROY, 0, 0);
    std::lock_guard<std::mutex> guard(wm().lock);
    if (WindowRecord* w = window_locked(handle)) destroy_record_locked(*w);
    return nullptr;
  }
  if (SendMessageW(handle, WM_CREATE, 0, (LPARAM)&cs) == -1) {
    destroy_window(handle, false);
    return nullptr;
  }
  if (!IsWindow(handle)) return nullptr;
  SendMessageW(handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
  SendMessageW(handle, WM_MOVE, 0, MAKELPARAM(x, y));
  notify_observers(handle, WindowChange::created);
  if (style & WS_VISIBLE) ShowWindow(handle, SW_SHOW);
  return IsWindow(handle) ? handle : nullptr;
}

BOOL WINAPI DestroyWindow(HWND window) { return destroy_window(window, true); }

/* A window whose WM_CREATE refused it gets WM_NCDESTROY only, as on Windows:
 * it never was, for its procedure. */
static BOOL destroy_window(HWND window, bool announce) {
  DWORD tid = GetCurrentThreadId();
  std::vector<HWND> owned;
  bool was_visible, was_foreground;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    auto& m = wm();
    WindowRecord* w = checked_locked(window);
    if (!w) return FALSE;
    if (w->thread_id != tid) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (w->state != WindowState::alive) return TRUE;
    w->state = WindowState::destroying;
    for (auto& entry : m.windows)
      if (entry.second->owner == window && entry.second->state == WindowState::alive)
        owned.push_back(entry.first);
    was_visible = set_visible_locked(*w, false);
    was_foreground = m.foreground == window;
  }
  for (HWND h : owned) DestroyWindow(h);
  if (was_visible) notify_observers(window, WindowChange::hidden);
  if (was_foreground) {
    HWND next;
    {
      std::lock_guard<std::mutex> guard(wm().lock);
      next = next_active_locked(window);
    }
    activate(next);
  }
  if (announce) SendMessageW(window, WM_DESTROY, 0, 0);
  SendMessageW(window, WM_NCDESTROY, 0, 0);
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    auto it = wm().windows.find(window);
    if (it != wm().windows.end()) destroy_record_locked(*it->second);
  }
  notify_observers(window, WindowChange::destroyed);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND window) {
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    if (window_locked(window)) return TRUE;
  }
  return remote_for(window) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND window) {
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    WindowRecord* w = window_locked(window);
    if (w) return w->visible();
  }
  RemoteWindows* remote = remote_for(window);
  return remote ? remote->visible(window) : FALSE;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
  if (!is_local(window)) {
    RemoteWindows* remote = remote_or_invalid(window);
    return remote ? remote->show(window, command) : FALSE;
  }
  bool was_visible = IsWindowVisible(window) != FALSE;
  bool activate_it = false;
  switch (command) {
    case SW_HIDE:
    case SW_SHOWNOACTIVATE:
    case SW_SHOWNA:
      break;
    case SW_SHOWNORMAL:
    case SW_SHOWMAXIMIZED:
    case SW_SHOW:
    case SW_RESTORE:
    case SW_SHOWDEFAULT:
      activate_it = true;
      break;
    default:
      /* Minimizing is not part of this device's window manager. */
      return was_visible;
  }
  bool show = command != SW_HIDE;
  if (show != was_visible) SendMessageW(window, WM_SHOWWINDOW, show, 0);
  bool changed;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    WindowRecord* w = window_locked(window);
    if (!w) return was_visible;
    changed = set_visible_locked(*w, show);
  }
  if (changed) notify_observers(window, show ? WindowChange::shown : WindowChange::hidden);
  if (!show) {
    HWND next = nullptr;
    bool was_foreground;
    {
      std::lock_guard<std::mutex> guard(wm().lock);
      was_foreground = wm().foreground == window;
      if (was_foreground) next = next_active_locked(window);
    }
    if (was_foreground) activate(next);
  } else if (activate_it) {
    activate(window);
  }
  return was_visible;
}

BOOL WINAPI UpdateWindow(HWND window) {
  bool paint;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    WindowRecord* w = checked_locked(window);
    if (!w) return FALSE;
    paint = w->has_update && w->visible();
  }
  if (paint) SendMessageW(window, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL WINAPI SetWindowPos(HWND window, HWND insert_after, int x, int y, int width, int height,
                         UINT flags) {
  bool moved = false, sized = false, raised = false, shown = false, hidden = false;
  bool visible;
  RECT rect;
  if (!is_local(window)) {
    RemoteWindows* remote = remote_or_invalid(window);
    return remote ? remote->set_pos(window, insert_after, x, y, width, height, flags) : FALSE;
  }
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    auto& m = wm();
    WindowRecord* w = checked_locked(window);
    if (!w) return FALSE;
    RECT old = w->rect;
    bool was_visible = w->visible();
    size_t old_z = z_index_locked(window);
    rect = old;
    if (!(flags & SWP_NOMOVE)) {
      rect.right = x + w->width();
      rect.bottom = y + w->height();
      rect.left = x;
      rect.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
      rect.right = rect.left + (width < 0 ? 0 : width);
      rect.bottom = rect.top + (height < 0 ? 0 : height);
    }
    moved = rect.left != old.left || rect.top != old.top;
    sized = rect.right - rect.left != old.right - old.left ||
            rect.bottom - rect.top != old.bottom - old.top;
    if (moved || sized) {
      w->rect = rect;
      m.stack_version++;
    }
    if (!(flags & SWP_NOZORDER)) {
      if (insert_after == HWND_TOPMOST) w->ex_style |= WS_EX_TOPMOST;
      if (insert_after == HWND_NOTOPMOST) w->ex_style &= ~(DWORD)WS_EX_TOPMOST;
      auto& z = m.z;
      if (insert_after == HWND_BOTTOM) {
        z.erase(z.begin() + (long)old_z);
        z.push_back(window);
        m.stack_version++;
      } else if (insert_after == HWND_TOP || insert_after == HWND_TOPMOST ||
                 insert_after == HWND_NOTOPMOST) {
        /* An asked-for raise is reported even when the window was on top. */
        raise_locked(*w);
        raised = true;
      } else if (window_locked(insert_after) && insert_after != window) {
        z.erase(z.begin() + (long)old_z);
        z.insert(z.begin() + (long)z_index_locked(insert_after) + 1, window);
        m.stack_version++;
      }
    }
    if (flags & SWP_SHOWWINDOW) shown = set_visible_locked(*w, true);
    if (flags & SWP_HIDEWINDOW) hidden = set_visible_locked(*w, false);
    visible = w->visible();
    if (was_visible && visible && (moved || sized || z_index_locked(window) != old_z)) {
      expose_below_locked(z_index_locked(window) + 1, old);
      if (!(flags & SWP_NOREDRAW)) invalidate_locked(*w, nullptr, true);
    }
  }
  if (sized) deliver(window, WM_SIZE, SIZE_RESTORED,
                     MAKELPARAM(rect.right - rect.left, rect.bottom - rect.top));
  if (moved) deliver(window, WM_MOVE, 0, MAKELPARAM(rect.left, rect.top));
  if (shown) notify_observers(window, WindowChange::shown);
  if (hidden) notify_observers(window, WindowChange::hidden);
  if (raised) notify_observers(window, WindowChange::raised);
  if (!(flags & SWP_NOACTIVATE) && visible) activate(window);
  return TRUE;
}

BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(window, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL WINAPI SetForegroundWindow(HWND window) {
  if (!is_local(window)) {
    RemoteWindows* remote = remote_or_invalid(window);
    return remote ? remote->set_foreground(window) : FALSE;
  }
  activate(window);
  return TRUE;
}

HWND WINAPI GetForegroundWindow(void) {
  RemoteWindows* remote;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    remote = remote_locked();
  }
  HWND elsewhere = remote ? remote->foreground() : nullptr;
  if (elsewhere && !is_local(elsewhere)) return elsewhere;
  std::lock_guard<std::mutex> guard(wm().lock);
  return wm().foreground;
}

HWND WINAPI GetActiveWindow(void) {
  DWORD tid = GetCurrentThreadId();
  std::lock_guard<std::mutex> guard(wm().lock);
  WindowRecord* w = window_locked(wm().foreground);
  return w && w->thread_id == tid ? w->handle : nullptr;
}

/* With the lock held: the first local window in Z order that matches. */
static HWND find_locked(LPCWSTR class_name, LPCWSTR window_name);

HWND plat::find_local_window(const WCHAR* class_name, const WCHAR* title) {
  std::lock_guard<std::mutex> guard(wm().lock);
  return find_locked(class_name, title);
}

HWND WINAPI FindWindowW(LPCWSTR class_name, LPCWSTR window_name) {
  RemoteWindows* remote;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    if (HWND h = find_locked(class_name, window_name)) return h;
    remote = remote_locked();
  }
  return remote ? remote->find(class_name, window_name) : nullptr;
}

static HWND find_locked(LPCWSTR class_name, LPCWSTR window_name) {
  for (HWND h : wm().z) {
    WindowRecord* w = window_locked(h);
    if (!w || w->state != WindowState::alive) continue;
    if (class_name) {
      if (IS_INTRESOURCE(class_name) ? w->cls->atom != (ATOM)(uintptr_t)class_name
                                     : !equal_nocase(w->cls->name, class_name))
        continue;
    }
    if (window_name && !equal_nocase(w->title, window_name)) continue;
    return h;
  }
  return nullptr;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
  std::lock_guard<std::mutex> guard(wm().lock);
  WindowRecord* w = checked_locked(window);
  if (!w || !rect) return FALSE;
  *rect = RECT{0, 0, w->width(), w->height()};
  return TRUE;
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
  std::lock_guard<std::mutex> guard(wm().lock);
  WindowRecord* w = checked_locked(window);
  if (!w || !rect) return FALSE;
  *rect = w->rect;
  return TRUE;
}

BOOL WINAPI ClientToScreen(HWND window, LPPOINT point) {
  std::lock_guard<std::mutex> guard(wm().lock);
  WindowRecord* w = checked_locked(window);
  if (!w || !point) return FALSE;
  point->x += w->rect.left;
  point->y += w->rect.top;
  return TRUE;
}

BOOL WINAPI ScreenToClient(HWND window, LPPOINT point) {
  std::lock_guard<std::mutex> guard(wm().lock);
  WindowRecord* w = checked_locked(window);
  if (!w || !point) return FALSE;
  point->x -= w->rect.left;
  point->y -= w->rect.top;
  return TRUE;
}

/* The text of a window of the calling thread is asked for with WM_GETTEXT, as
 * on Windows; windows of other threads are read directly, so that reading a
 * title never waits on a busy thread. */
int WINAPI GetWindowTextW(HWND window, LPWSTR text, int max_count) {
  DWORD tid = GetCurrentThreadId();
  bool local;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    WindowRecord* w = window_locked(window);
    local = w != nullptr;
    if (w && w->thread_id != tid) return copy_out(w->title, text, max_count);
  }
  if (!local) {
    RemoteWindows* remote = remote_or_invalid(window);
    if (remote) return remote->text(window, text, max_count);
    if (text && max_count > 0) text[0] = 0;
    return 0;
  }
  if (!text || max_count <= 0) return 0;
  return (int)SendMessageW(window, WM_GETTEXT, (WPARAM)max_count, (LPARAM)text);
}

int WINAPI GetWindowTextLengthW(HWND window) {
  DWORD tid = GetCurrentThreadId();
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    WindowRecord* w = checked_locked(window);
    if (!w) return 0;
    if (w->thread_id != tid) return (int)w->title.size();
  }
  return (int)SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
}

BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text) {
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    if (!checked_locked(window)) return FALSE;
  }
  return SendMessageW(window, WM_SETTEXT, 0, (LPARAM)text) ? TRUE : FALSE;
}

namespace {

bool window_long(HWND window, int index, LONG_PTR* value, const LONG_PTR* new_value, bool wide) {
  std::lock_guard<std::mutex> guard(wm().lock);
  WindowRecord* w = checked_locked(window);
  if (!w) return false;
  LONG_PTR old = 0;
  if (index >= 0) {
    size_t size = wide ? sizeof(LONG_PTR) : sizeof(LONG);
    if ((size_t)index + size > w->extra.size()) {
      SetLastError(ERROR_INVALID_INDEX);
      return false;
    }
    if (wide) {
      memcpy(&old, &w->extra[(size_t)index], size);
      if (new_value) memcpy(&w->extra[(size_t)index], new_value, size);
    } else {
      LONG v;
      memcpy(&v, &w->extra[(size_t)index], size);
      old = v;
      if (new_value) {
        v = (LONG)*new_value;
        memcpy(&w->extra[(size_t)index], &v, size);
      }
    }
    *value = old;
    return true;
  }
  switch (index) {
    case GWLP_WNDPROC:
      if (!wide) break;
      old = (LONG_PTR)w->proc;
      if (new_value) w->proc = (WNDPROC)*new_value;
      break;
    case GWLP_HINSTANCE:
      if (!wide) break;
      old = (LONG_PTR)w->instance;
      if (new_value) w->instance = (HINSTANCE)*new_value;
      break;
    case GWLP_ID:
      old = (LONG_PTR)w->menu;
      if (new_value) w->menu = (HMENU)*new_value;
      break;
    case GWLP_USERDATA:
      old = w->userdata;
      if (new_value) w->userdata = *new_value;
      break;
    case GWL_STYLE: {
      old = (LONG)w->style;
      if (new_value) {
        /* Visibility follows WS_VISIBLE without a repaint, as on Windows. */
        bool was_visible = w->visible();
        w->style = (DWORD)*new_value;
        if (was_visible != w->visible()) wm().stack_version++;
      }
      break;
    }
    case GWL_EXSTYLE:
      old = (LONG)w->ex_style;
      if (new_value) w->ex_style = (DWORD)*new_value;
      break;
    default:
      SetLastError(ERROR_INVALID_INDEX);
      return false;
  }
  if (!wide && (index == GWLP_WNDPROC || index == GWLP_HINSTANCE)) {
    SetLastError(ERROR_INVALID_INDEX);
    return false;
  }
  *value = old;
  return true;
}

}  // namespace

LONG WINAPI GetWindowLongW(HWND window, int index) {
  LONG_PTR value = 0;
  return window_long(window, index, &value, nullptr, false) ? (LONG)value : 0;
}

LONG WINAPI SetWindowLongW(HWND window, int index, LONG value) {
  LONG_PTR old = 0, v = value;
  return window_long(window, index, &old, &v, false) ? (LONG)old : 0;
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND window, int index) {
  LONG_PTR value = 0;
  return window_long(window, index, &value, nullptr, true) ? value : 0;
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
  LONG_PTR old = 0;
  return window_long(window, index, &old, &value, true) ? old : 0;
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD process_id) {
  std::lock_guard<std::mutex> guard(wm().lock);
  WindowRecord* w = checked_locked(window);
  if (!w) return 0;
  if (process_id) *process_id = w->process_id;
  return w->thread_id;
}

/* ---- Focus and capture ---- */

HWND WINAPI SetFocus(HWND window) {
  DWORD tid = GetCurrentThreadId();
  std::shared_ptr<Queue> queue = current_queue();
  HWND previous;
  bool needs_activation = false;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    previous = queue->focus;
    if (window) {
      WindowRecord* w = checked_locked(window);
      if (!w) return nullptr;
      if (w->thread_id != tid) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
      }
      needs_activation = wm().foreground != window;
    }
  }
  /* Focusing a window that is not active activates it first; its default
   * WM_ACTIVATE handling may already move the focus to it. */
  if (needs_activation) activate(window);
  HWND old;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    old = queue->focus;
    if (window && !window_locked(window)) return nullptr;
    if (old == window) return previous;
    queue->focus = window;
  }
  if (old) SendMessageW(old, WM_KILLFOCUS, (WPARAM)window, 0);
  if (window) SendMessageW(window, WM_SETFOCUS, (WPARAM)old, 0);
  return previous;
}

HWND WINAPI GetFocus(void) {
  std::shared_ptr<Queue> queue = current_queue();
  std::lock_guard<std::mutex> guard(wm().lock);
  return window_locked(queue->focus) ? queue->focus : nullptr;
}

HWND WINAPI SetCapture(HWND window) {
  HWND previous;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    auto& m = wm();
    if (!checked_locked(window)) return nullptr;
    previous = m.capture;
    m.capture = window;
  }
  if (previous && previous != window) SendMessageW(previous, WM_CAPTURECHANGED, 0, (LPARAM)window);
  return previous;
}

BOOL WINAPI ReleaseCapture(void) {
  HWND previous;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    previous = wm().capture;
    wm().capture = nullptr;
  }
  if (previous) SendMessageW(previous, WM_CAPTURECHANGED, 0, 0);
  return TRUE;
}

HWND WINAPI GetCapture(void) {
  DWORD tid = GetCurrentThreadId();
  std::lock_guard<std::mutex> guard(wm().lock);
  WindowRecord* w = window_locked(wm().capture);
  return w && w->thread_id == tid ? w->handle : nullptr;
}

/* ---- Painting ---- */

BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
  std::lock_guard<std::mutex> guard(wm().lock);
  if (!window) {
    for (HWND h : wm().z)
      if (WindowRecord* w = window_locked(h)) invalidate_locked(*w, nullptr, erase != FALSE);
    return TRUE;
  }
  WindowRecord* w = checked_locked(window);
  if (!w) return FALSE;
  invalidate_locked(*w, rect, erase != FALSE);
  return TRUE;
}

BOOL WINAPI ValidateRect(HWND window, const RECT* rect) {
  if (!window) return InvalidateRect(nullptr, nullptr, TRUE);
  std::lock_guard<std::mutex> guard(wm().lock);
  WindowRecord* w = checked_locked(window);
  if (!w) return FALSE;
  if (!w->has_update) return TRUE;
  if (!rect) {
    w->has_update = false;
    w->erase = false;
    return TRUE;
  }
  /* The bounding rectangle shrinks where `rect` covers a whole band of it. */
  RECT& u = w->update;
  RECT cut = rect_intersect(*rect, u);
  if (rect_empty(cut)) return TRUE;
  bool full_width = cut.left == u.left && cut.right == u.right;
  bool full_height = cut.top == u.top && cut.bottom == u.bottom;
  if (full_width && full_height) {
    w->has_update = false;
    w->erase = false;
  } else if (full_width && cut.top == u.top) {
    u.top = cut.bottom;
  } else if (full_width && cut.bottom == u.bottom) {
    u.bottom = cut.top;
  } else if (full_height && cut.left == u.left) {
    u.left = cut.right;
  } else if (full_height && cut.right == u.right) {
    u.right = cut.left;
  }
  return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND window, LPRECT rect, BOOL erase) {
  bool send_erase = false, has;
  RECT update{};
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    WindowRecord* w = checked_locked(window);
    if (!w) return FALSE;
    has = w->has_update;
    if (has) update = w->update;
    if (has && erase && w->erase) {
      w->erase = false;
      send_erase = true;
    }
  }
  if (rect) *rect = update;
  if (send_erase) {
    HDC dc = window_dc(window, &update);
    SendMessageW(window, WM_ERASEBKGND, (WPARAM)dc, 0);
    release_window_dc(dc);
  }
  return has ? TRUE : FALSE;
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
  RECT update{};
  bool erase;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    WindowRecord* w = checked_locked(window);
    if (!w || !paint) return nullptr;
    if (w->has_update) update = w->update;
    erase = w->has_update && w->erase;
    w->has_update = false;
    w->erase = false;
  }
  memset(paint, 0, sizeof(*paint));
  HDC dc = window_dc(window, &update);
  paint->hdc = dc;
  paint->rcPaint = update;
  if (erase) paint->fErase = SendMessageW(window, WM_ERASEBKGND, (WPARAM)dc, 0) == 0;
  return dc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint) {
  (void)window;
  if (paint && paint->hdc) release_window_dc(paint->hdc);
  return TRUE;
}

HDC WINAPI GetDC(HWND window) {
  if (window) {
    std::lock_guard<std::mutex> guard(wm().lock);
    if (!checked_locked(window)) return nullptr;
  }
  return window_dc(window, nullptr);
}

int WINAPI ReleaseDC(HWND window, HDC dc) {
  (void)window;
  if (!dc) return 0;
  release_window_dc(dc);
  return 1;
}

/* ---- The default window procedure ---- */

LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE: {
      auto* cs = (const CREATESTRUCTW*)lparam;
      std::lock_guard<std::mutex> guard(wm().lock);
      if (WindowRecord* w = window_locked(window))
        w->title = cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName) ? copy_text(cs->lpszName)
                                                                        : std::u16string();
      return TRUE;
    }
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_ERASEBKGND: {
      HBRUSH brush = nullptr;
      RECT client{};
      {
        std::lock_guard<std::mutex> guard(wm().lock);
        WindowRecord* w = window_locked(window);
        if (!w) return 0;
        brush = w->cls->info.hbrBackground;
        client = RECT{0, 0, w->width(), w->height()};
      }
      if (!brush) return 0;
      FillRect((HDC)wparam, &client, brush);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(window, &ps);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_SETTEXT: {
      RemoteWindows* remote;
      {
        std::lock_guard<std::mutex> guard(wm().lock);
        WindowRecord* w = window_locked(window);
        if (!w) return FALSE;
        w->title = copy_text((const WCHAR*)lparam);
        remote = remote_locked();
      }
      /* Other processes find it by its new title. */
      if (remote) remote->changed(window, WindowChange::shown);
      return TRUE;
    }
    case WM_GETTEXT: {
      std::lock_guard<std::mutex> guard(wm().lock);
      WindowRecord* w = window_locked(window);
      if (!w) return 0;
      return copy_out(w->title, (WCHAR*)lparam, (int)wparam);
    }
    case WM_GETTEXTLENGTH: {
      std::lock_guard<std::mutex> guard(wm().lock);
      WindowRecord* w = window_locked(window);
      return w ? (LRESULT)w->title.size() : 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE) {
        DWORD tid = GetCurrentThreadId();
        bool mine;
        {
          std::lock_guard<std::mutex> guard(wm().lock);
          WindowRecord* w = window_locked(window);
          mine = w && w->thread_id == tid && wm().foreground == window;
        }
        if (mine) SetFocus(window);
      }
      return 0;
    default:
      return 0;
  }
}

/* ---- System metrics and cursor ---- */

/* The screen size is the one set by set_screen_size, else the host
 * options' --screen, else 800 x 480. */
int WINAPI GetSystemMetrics(int index) {
  int width, height;
  {
    std::lock_guard<std::mutex> guard(wm().lock);
    width = wm().screen_width;
    height = wm().screen_height;
    if (!wm().screen_set && host_options) {
      width = host_options().screen_width;
      height = host_options().screen_height;
    }
  }
  switch (index) {
    case SM_CXSCREEN:
      return width;
    case SM_CYSCREEN:
      return height;
    default:
      return 0;
  }
}

HCURSOR WINAPI LoadCursorW(HINSTANCE instance, LPCWSTR name) {
  /* Only the standard cursors exist; programs carry no cursor resources. */
  if (instance || !IS_INTRESOURCE(name)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  WORD id = (WORD)(uintptr_t)name;
  if (id < 32512 || id > 32515) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return (HCURSOR)(uintptr_t)(0x1000 + id);
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
  std::lock_guard<std::mutex> guard(wm().lock);
  HCURSOR previous = wm().cursor_shape;
  wm().cursor_shape = cursor;
  return previous;
}

int WINAPI ShowCursor(BOOL show) {
  std::lock_guard<std::mutex> guard(wm().lock);
  return show ? ++wm().cursor_count : --wm().cursor_count;
}

BOOL WINAPI GetCursorPos(LPPOINT point) {
  if (!point) return FALSE;
  std::lock_guard<std::mutex> guard(wm().lock);
  *point = wm().cursor;
  return TRUE;
}
