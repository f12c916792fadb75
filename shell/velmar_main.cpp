#include "velmar_main.h"

#include <string.h>

#include "main_window.h"
#include "shell_globals.h"

/* Held, never released or closed, for the life of the process. */
static HANDLE single_instance_mutex;

void read_screen_size(void) {
  int width = GetSystemMetrics(SM_CXSCREEN);
  int height = GetSystemMetrics(SM_CYSCREEN);
  if (width > 0 && height > 0) {
    screen_width = width;
    screen_height = height;
  }
}

HWND create_main_window(HINSTANCE instance) {
  app_instance = instance;
  WNDCLASSW window_class;
  memset(&window_class, 0, sizeof window_class);
  window_class.style = 0;
  window_class.lpfnWndProc = main_window_proc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(NULL, IDC_ARROW);
  window_class.lpszClassName = MAIN_WINDOW_CLASS;
  if (!RegisterClassW(&window_class)) return NULL;

  HWND window = CreateWindowExW(0, MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE, WS_POPUP | WS_SYSMENU, 0, 0,
                                screen_width, screen_height, NULL, NULL, instance, NULL);
  if (!window || !IsWindow(window)) return NULL;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  return window;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR command_line, int show) {
  (void)previous;
  (void)command_line;
  (void)show;

  single_instance_mutex = CreateMutexW(NULL, FALSE, SINGLE_INSTANCE_MUTEX);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    /* Another shell runs: bring it to the front and create nothing. */
    HWND running = FindWindowW(MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE);
    if (running) {
      ShowWindow(running, SW_SHOW);
      SetForegroundWindow(running);
    }
    return SHELL_EXIT_ALREADY_RUNNING;
  }

  read_screen_size();
  HWND window = create_main_window(instance);
  if (!window) return SHELL_EXIT_NO_WINDOW;
  SetForegroundWindow(window);

  MSG msg;
  while (GetMessageW(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return SHELL_EXIT_NORMAL;
}
