#include "shell_init.h"

#include <string.h>

#include "bt_bridge.h"
#include "gps_wiring.h"
#include "ini_reader.h"
#include "module_path.h"
#include "nav_stack.h"
#include "pages.h"
#include "shell_globals.h"
#include "side_programs.h"
#include "tts.h"
#include "ui_language.h"
#include "vx_skin.h"

#define PATH_SIZE 260

/* The start-up thread, kept so that shutdown can let it finish before the
 * TTS engine it may still be starting is released. */
static HANDLE startup_thread;

/* A 4-byte registry value of the open key; 0 when it is missing or not 4 bytes. */
static DWORD read_flag(HKEY key, const WCHAR* name) {
  DWORD value = 0;
  DWORD type = 0;
  DWORD size = sizeof value;
  if (RegQueryValueExW(key, name, NULL, &type, (BYTE*)&value, &size) != ERROR_SUCCESS ||
      size != sizeof value)
    return 0;
  return value;
}

DWORD WINAPI shell_startup_thread(LPVOID unused) {
  (void)unused;
  WCHAR path[PATH_SIZE];
  if (module_file_path(path, PATH_SIZE, NULL, SHELL_TTS_DATA_FILE) == 0) tts_handle = tts_init(path);

  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHELL_GPSNAVI_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    fm_enabled = read_flag(key, TEXT("UseFM")) != 0;
    if (read_flag(key, TEXT("BlueToothAutoRun")) != 0) {
      /* Only a program that started counts as started by the shell (the
       * desktop's indicator shows it). */
      if (launch_detached(SHELL_BLUETOOTH_PROGRAM) == 0) bt_started_by_shell = 1;
      Sleep(SHELL_BLUETOOTH_WAIT_MS);
    }
    RegCloseKey(key);
  }

  if (bt_started_by_shell) {
    /* The Bluetooth program runs in the background until the user asks for it. */
    HWND bluetooth = FindWindowW(NULL, SHELL_BLUETOOTH_TITLE);
    if (bluetooth) ShowWindow(bluetooth, SW_HIDE);
  }
  return 0;
}

/* The skin of "Velmar.res" beside the program in the device's language. */
static VxSkin* load_skin(void) {
  WCHAR path[PATH_SIZE];
  if (module_file_path(path, PATH_SIZE, NULL, SHELL_RESOURCE_FILE) != 0) return NULL;
  return vx_skin_load(path, get_mui_language(), 1);
}

/* Waits for the start-up thread at most SHELL_STARTUP_WAIT_MS, handling the
 * messages sent to this thread's windows meanwhile (the thread may be hiding
 * a window whose program is itself waiting on the shell). Returns whether
 * the thread ended; one that blocks (a TTS engine or a Bluetooth start that
 * hangs) is left running, and said so on the debug output. */
static bool finish_startup_thread(void) {
  if (!startup_thread) return true;
  MSG msg;
  DWORD start = GetTickCount();
  bool ended = true;
  while (WaitForSingleObject(startup_thread, 10) == WAIT_TIMEOUT) {
    if (GetTickCount() - start >= SHELL_STARTUP_WAIT_MS) {
      ended = false;
      break;
    }
    PeekMessageW(&msg, NULL, 0, 0, PM_NOREMOVE);
  }
  CloseHandle(startup_thread);
  startup_thread = NULL;
  if (!ended)
    OutputDebugStringW(TEXT("Velmar: the start-up thread has not ended after 3 s; shutting down ")
                       TEXT("without releasing the TTS engine\r\n"));
  return ended;
}

int shell_init_create(HWND window) {
  shell_skin = load_skin();
  if (!shell_skin) {
    MessageBoxW(NULL, SHELL_LOAD_SKIN_FAILED, NULL, MB_OK);
    return -1;
  }
  main_window = window;
  page_manager = vx_page_create(window, SHELL_PAGE_LIST_STEP);
  if (!page_manager) {
    /* A refused window gets no WM_DESTROY: nothing else would free the skin. */
    vx_skin_free(shell_skin);
    shell_skin = NULL;
    return -1;
  }
  pages_register_all();
  memset(&nav_stack, 0, sizeof nav_stack);

  startup_thread = CreateThread(NULL, 0, shell_startup_thread, NULL, 0, NULL);

  gps_wiring_start();

  WCHAR config[PATH_SIZE];
  device_id[0] = 0;
  if (module_file_path(config, PATH_SIZE, NULL, TEXT("config.ini")) == 0)
    ini_read_string(TEXT("CONFIG"), TEXT("ID"), TEXT(""), device_id, DEVICE_ID_SIZE, config);

  bt_info_present = bt_read_info_present();

  nav_stack.entries[0] = PAGE_DESKTOP;
  vx_page_switch(page_manager, PAGE_DESKTOP, 1, 0, 0, 0);

  SetTimer(window, SHELL_CLOCK_TIMER_ID, SHELL_CLOCK_TIMER_MS, NULL);
  debug_level_read();
  return 0;
}

void shell_init_destroy(void) {
  KillTimer(main_window, SHELL_CLOCK_TIMER_ID);
  if (shell_gps_data) gps_wiring_stop();
  /* The engine of a start-up thread that still runs may be in use by it. */
  if (finish_startup_thread() && tts_handle) {
    tts_uninit(tts_handle);
    tts_handle = 0;
  }
  if (page_manager) {
    vx_page_destroy(page_manager);
    page_manager = NULL;
  }
  if (shell_skin) {
    vx_skin_free(shell_skin);
    shell_skin = NULL;
  }
  PostQuitMessage(0);
}
