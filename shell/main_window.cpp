#include "main_window.h"

#include <string.h>

#include "bt_bridge.h"
#include "ini_reader.h"
#include "module_path.h"
#include "nav_stack.h"
#include "pages.h"
#include "shell_globals.h"
#include "shell_init.h"
#include "side_programs.h"

/* Device-change events of WM_DEVICECHANGE. */
#define DEVICE_ARRIVED 0x8000
#define DEVICE_REMOVED 0x8004
/* The device name follows the broadcast header's size, type and reserved words. */
#define DEVICE_NAME_OFFSET 12

/* The size config.ini's path and its GZDTMF_NUMBER value are read with. */
#define PATH_SIZE 260
#define NUMBER_LIST_SIZE 260

/* The camera picture laid over the navigation program: standard 0, placed
 * at (401, 65), 400 x 350, cropped 100, 45, 100, 35. */
static const CameraPicture navigation_camera_picture = {0, 401, 65, 400, 350, 100, 45, 100, 35};

void raise_shell(void) {
  ShowWindow(main_window, SW_SHOW);
  SetWindowPos(main_window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  SetForegroundWindow(main_window);
}

void show_call_page(int id) {
  nav_push(id, 0);
  HWND front = GetForegroundWindow();
  if (front != main_window) {
    raise_shell();
    previous_foreground = front;
  }
}

int call_page_current(void) {
  int id = vx_page_current_id(page_manager);
  return id == PAGE_INCOMING_CALL || id == PAGE_DIALING || id == PAGE_IN_CALL;
}

int number_in_list(const WCHAR* list, const WCHAR* number) {
  if (!list || !number || !number[0]) return 0;
  size_t length = wcslen(number);
  /* Every item, not only the first place the number occurs: "22" is the
   * second item of "122*22". */
  for (const WCHAR* item = list;;) {
    const WCHAR* end = wcschr(item, TEXT('*'));
    size_t item_length = end ? (size_t)(end - item) : wcslen(item);
    if (item_length == length && wcsncmp(item, number, length) == 0) return 1;
    if (!end) return 0;
    item = end + 1;
  }
}

void format_clock_text(const SYSTEMTIME* time, WCHAR* text, int size) {
  static const WCHAR weekdays[] = TEXT("日一二三四五六");
  if (!text || size < 1) return;
  text[0] = 0;
  if (!time) return;
  WCHAR weekday = weekdays[time->wDayOfWeek % 7];
  _snwprintf(text, (size_t)size - 1, TEXT("%.4d-%.2d-%.2d 星期%c %.2d:%.2d"), (int)time->wYear,
             (int)time->wMonth, (int)time->wDay, weekday, (int)time->wHour, (int)time->wMinute);
  text[size - 1] = 0;
}

/* WM_COPYDATA 256, sent by another program: the service-centre dialing page,
 * or the no-phone notice without Bluetooth information; the shell comes to
 * the front. The data block is not read. */
static void open_dialing_page(void) {
  if (bt_info_present) {
    call_info.mode = CALL_MODE_CENTRE;
    nav_push(PAGE_DIALING, 0);
  } else {
    nav_push(PAGE_NO_PHONE, 0);
  }
  raise_shell();
}

/* WM_TIMER 100: the date line, once the clock has been set from GPS. */
static void update_clock_text(HWND window) {
  if (clock_set != 1) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  format_clock_text(&now, clock_text, CLOCK_TEXT_SIZE);
  InvalidateRect(window, NULL, TRUE);
}

/* WM_DEVICECHANGE: the SD card "DSK1:" arriving or leaving. */
static void watch_sd_card(WPARAM event, LPARAM header) {
  if ((event != DEVICE_ARRIVED && event != DEVICE_REMOVED) || !header) return;
  const WCHAR* name = (const WCHAR*)((const BYTE*)header + DEVICE_NAME_OFFSET);
  if (_wcsicmp(name, SD_CARD_DEVICE) != 0) return;
  if (event == DEVICE_ARRIVED) {
    Sleep(SD_CARD_SETTLE_MS);
    debug_level_read();
    sd_autostart();
  } else {
    debug_level = 0;
  }
}

/* WM_CAMERA_SHOW: the camera picture over the navigation program, when that
 * program is in front and the picture is not shown yet. */
static void show_camera(void) {
  if (camera_shown) return;
  HWND navigation = FindWindowW(NULL, CAMERA_WINDOW_TITLE);
  if (!navigation || GetForegroundWindow() != navigation) return;
  camera_show(&navigation_camera_picture);
  camera_shown = 1;
}

static void hide_camera(void) {
  if (!camera_shown) return;
  camera_hide();
  camera_shown = 0;
}

/* WM_BT_INCOMING_CALL: the caller's number from the information file; a
 * service-centre number is answered at once without a page, any other
 * shows the incoming-call page. */
static void incoming_call(void) {
  char text[BT_INFO_MAX + 1];
  memset(text, 0, sizeof text);
  bt_read_number(text, BT_INFO_MAX);
  WCHAR wide[BT_INFO_MAX + 1];
  int units = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, BT_INFO_MAX + 1);
  if (units <= 0) wide[0] = 0;
  lstrcpynW(call_info.number, wide, CALL_NUMBER_SIZE);

  WCHAR config[PATH_SIZE];
  WCHAR list[NUMBER_LIST_SIZE];
  list[0] = 0;
  if (module_file_path(config, PATH_SIZE, NULL, TEXT("config.ini")) == 0)
    ini_read_string(TEXT("CONFIG"), TEXT("GZDTMF_NUMBER"), TEXT(""), list, NUMBER_LIST_SIZE, config);
  if (number_in_list(list, call_info.number)) {
    call_info.mode = CALL_MODE_CENTRE;
    bt_answer();
  } else {
    call_info.mode = CALL_MODE_NUMBER;
    show_call_page(PAGE_INCOMING_CALL);
  }
}

/* WM_BT_CALL_ENDED: home, and the window that was in front before the call
 * comes back. Nothing when no call page is current. */
static void call_ended(void) {
  if (!call_page_current()) return;
  memset(&call_info, 0, sizeof call_info);
  nav_home();
  if (previous_foreground) {
    ShowWindow(previous_foreground, SW_SHOW);
    SetWindowPos(previous_foreground, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    SetForegroundWindow(previous_foreground);
    previous_foreground = NULL;
  }
}

/* WM_HANGUP_HOME: another program ends the call and sends the shell home;
 * the previous foreground window is left as it is. */
static void hangup_home(void) {
  if (!call_page_current()) return;
  bt_hangup();
  memset(&call_info, 0, sizeof call_info);
  nav_home();
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
      return shell_init_create(window);
    case WM_DESTROY:
      shell_init_destroy();
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
    case WM_COPYDATA:
      if (wparam == COPYDATA_OPEN_DIALING) open_dialing_page();
      return 0;
    case WM_KEYDOWN:
      if (wparam == VK_MENU) raise_shell();
      break;
    case WM_TIMER:
      if (wparam == SHELL_CLOCK_TIMER_ID) update_clock_text(window);
      return 0;
    case WM_MOUSEMOVE:
      return vx_page_mouse_move(page_manager, x, y);
    case WM_LBUTTONDOWN:
      return vx_page_lbutton_down(page_manager, x, y);
    case WM_LBUTTONUP:
      return vx_page_lbutton_up(page_manager, x, y);
    case WM_DEVICECHANGE:
      watch_sd_card(wparam, lparam);
      break;
    case WM_CAMERA_SHOW:
      show_camera();
      break;
    case WM_CAMERA_HIDE:
      hide_camera();
      break;
    case WM_BT_INCOMING_CALL:
      incoming_call();
      return 0;
    case WM_BT_INFO_CHANGED:
      bt_info_present = bt_read_info_present();
      InvalidateRect(window, NULL, TRUE);
      return 0;
    case WM_BT_CALL_ENDED:
      call_ended();
      return 0;
    case WM_BT_CALL_ACTIVE:
      show_call_page(PAGE_IN_CALL);
      return 0;
    case WM_HANGUP_HOME:
      hangup_home();
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}
