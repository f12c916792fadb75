/* What the window manager offers the rest of the platform below the Win32
 * line: the GDI module (where windows are on the screen and in what order),
 * the simulator's input (pen and keys) and its event log (window changes).
 *
 * Window DCs come from the GDI module (gdi_internal.h): BeginPaint, GetDC,
 * EndPaint and ReleaseDC call gdi_window_dc and gdi_release_window_dc, never
 * with the window manager's lock held; the GDI module asks window_stack and
 * window_screen_rect below for the window's place and what covers it.
 *
 * Windows of other processes. Inside one host process, the stand-in device
 * programs are "processes" of their own (their threads report their own
 * process id): their windows are in the local table like any other and are
 * found, shown, raised, sent and posted to directly. Windows of processes
 * that run as separate host processes on the same device root plug in through
 * RemoteWindows below; device_windows() is the registry of the device root
 * (window_remote.cpp), installed by itself once a device root is set. The
 * Win32 calls look a handle up locally first and hand it to the registry when
 * it is not local; FindWindowW asks the registry when no local window matches;
 * GetForegroundWindow asks it first, as the foreground is the device's. */
#pragma once

#include <functional>
#include <vector>

#include "plat/user.h"

namespace plat {

/* ---- Screen size reported by GetSystemMetrics: set here (the screen's
 * opening does it), else the host options' --screen, else 800 x 480. ---- */
void set_screen_size(int width, int height);

/* ---- Where the windows are, for drawing and clipping. ---- */
struct WindowPlace {
  HWND window;
  RECT rect;  /* screen coordinates of the client area (= the window) */
  bool visible;
  bool topmost;
};
/* Every top-level window, front to back. */
std::vector<WindowPlace> window_stack();
/* Changes whenever a window is created, destroyed, shown, hidden, moved,
 * resized or changes its Z position (so clip regions can be cached). */
uint64_t window_stack_version();
/* The client area in screen coordinates; false for an unknown window. */
bool window_screen_rect(HWND window, RECT* rect);
/* The topmost visible window containing the screen point, or null. */
HWND window_at(int x, int y);

/* ---- Input from the simulator ---- */
enum class PointerKind { down, move, up };
/* One pen event at a screen point: posted to the window that captured the
 * pen, else to the topmost visible window containing the point, as
 * WM_LBUTTONDOWN / WM_MOUSEMOVE / WM_LBUTTONUP with client coordinates in
 * lParam and MK_LBUTTON in wParam while the pen is down. A pen down on a
 * window that is not in the foreground brings it there first. Returns the
 * window that got the message, or null. */
HWND pointer_event(PointerKind kind, int x, int y);
/* WM_KEYDOWN (down) or WM_KEYUP with the virtual key, posted to the focus
 * window of the foreground window's thread, else to the foreground window.
 * Returns the window that got it, or null. */
HWND key_event(UINT virtual_key, bool down);

/* ---- Window changes, for the event log ---- */
/* `raised`: moved to the top of the Z order by activation, or asked to go
 * there by SetWindowPos (HWND_TOP, HWND_TOPMOST, HWND_NOTOPMOST) even when it
 * was there already. `shown` / `hidden` / `foreground` only on a change. */
enum class WindowChange { created, destroyed, shown, hidden, raised, foreground };
using WindowObserver = std::function<void(HWND window, WindowChange change)>;
/* Observers are called on the thread that made the change, without any lock
 * of the window manager held (they may call GetWindowTextW and the like). */
void window_observe(WindowObserver observer);
void window_observers_clear();

/* ---- Windows of other host processes (see the comment at the top). ---- */
class RemoteWindows {
 public:
  virtual ~RemoteWindows() = default;
  virtual bool owns(HWND window) = 0;
  virtual HWND find(const WCHAR* class_name, const WCHAR* title) = 0;
  /* Previous visibility as ShowWindow reports it. */
  virtual BOOL show(HWND window, int command) = 0;
  virtual BOOL set_pos(HWND window, HWND insert_after, int x, int y, int width, int height,
                       UINT flags) = 0;
  virtual BOOL set_foreground(HWND window) = 0;
  virtual HWND foreground() = 0;
  virtual BOOL visible(HWND window) = 0;
  virtual int text(HWND window, WCHAR* buffer, int max_count) = 0;
  virtual BOOL post(HWND window, UINT message, WPARAM wparam, LPARAM lparam) = 0;
  virtual LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) = 0;
  /* The handle of a new local window, unique on the device; local_next is
   * this process's next free one. */
  virtual uintptr_t new_handle(uintptr_t local_next) { return local_next; }
  /* A local window changed (created, destroyed, shown, hidden, raised, made
   * the foreground window, retitled: `shown` with no change of visibility).
   * Called without the window manager's lock. */
  virtual void changed(HWND window, WindowChange change) { (void)window, (void)change; }
  /* A local window becomes the device's foreground window; true when a
   * window of another process had that place (and has now lost it). */
  virtual bool claim_foreground(HWND window) {
    (void)window;
    return false;
  }
};
/* Installs a registry of remote windows (null: none) in place of the device
 * root's own. */
void window_set_remote(RemoteWindows* remote);
/* The registry of the windows of every host process on the device root. */
RemoteWindows* device_windows();
/* FindWindowW among the windows of this host process only (the simulator's
 * console and screen drive the program of their own process). */
HWND find_local_window(const WCHAR* class_name, const WCHAR* title);

}  // namespace plat
