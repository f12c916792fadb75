#include "main_window.h"

#include <string.h>

#include "nav_stack.h"
#include "shell_globals.h"

/* Growth step of the page list. */
#define PAGE_LIST_STEP 12

/* WM_CREATE: the page manager for this window and an empty navigation stack.
 * 0 accepts the window, -1 refuses it. */
static LRESULT on_create(HWND window) {
  main_window = window;
  page_manager = vx_page_create(window, PAGE_LIST_STEP);
  if (!page_manager) return -1;
  memset(&nav_stack, 0, sizeof nav_stack);
  return 0;
}

/* WM_DESTROY: leaves the current page, releases the pages and ends the
 * message loop. */
static void on_destroy(void) {
  vx_page_destroy(page_manager);
  page_manager = NULL;
  PostQuitMessage(0);
}

/* WM_ERASEBKGND: composes the whole screen off-screen, starting from what the
 * window shows now, lets the current page draw over it and copies the result
 * back in one block transfer, so no half-drawn page is ever seen. */
static void paint_current_page(HWND window) {
  HDC window_dc = GetDC(window);
  if (!window_dc) return;
  HDC memory_dc = CreateCompatibleDC(window_dc);
  HBITMAP bitmap = memory_dc ? CreateCompatibleBitmap(window_dc, screen_width, screen_height) : NULL;
  if (bitmap) {
    HGDIOBJ old_bitmap = SelectObject(memory_dc, bitmap);
    BitBlt(memory_dc, 0, 0, screen_width, screen_height, window_dc, 0, 0, SRCCOPY);
    vx_page_paint(page_manager, memory_dc);
    BitBlt(window_dc, 0, 0, screen_width, screen_height, memory_dc, 0, 0, SRCCOPY);
    SelectObject(memory_dc, old_bitmap);
    DeleteObject(bitmap);
  }
  if (memory_dc) DeleteDC(memory_dc);
  ReleaseDC(window, window_dc);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  /* The pen position: both words of lParam, unsigned. */
  int x = (int)LOWORD(lparam);
  int y = (int)HIWORD(lparam);
  switch (message) {
    case WM_CREATE:
      return on_create(window);
    case WM_DESTROY:
      on_destroy();
      break;
    case WM_ERASEBKGND:
      paint_current_page(window);
      return 0;
    case WM_PAINT: {
      /* Everything is drawn by the erase above; this only validates (and
       * sends the pending WM_ERASEBKGND). */
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_MOUSEMOVE:
      return vx_page_mouse_move(page_manager, x, y);
    case WM_LBUTTONDOWN:
      return vx_page_lbutton_down(page_manager, x, y);
    case WM_LBUTTONUP:
      return vx_page_lbutton_up(page_manager, x, y);
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}
