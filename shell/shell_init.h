/* Bringing the shell up from the main window's WM_CREATE and taking it down
 * from WM_DESTROY: the skin, the page manager and its twelve pages, the
 * navigation stack, the GPS receiver, the configuration values the pages
 * show, the first page and the clock timer. Work that may block (the TTS
 * engine, the registry, the Bluetooth program) runs on a start-up thread so
 * that the first page is shown at once. */
#pragma once

#include <windows.h>

/* The resource file beside the program. */
#define SHELL_RESOURCE_FILE TEXT("Velmar.res")
/* The text of the one message box of a failed start. */
#define SHELL_LOAD_SKIN_FAILED TEXT("LoadSkin failed")
/* Growth step of the page manager's page list. */
#define SHELL_PAGE_LIST_STEP 12
/* The clock/date line's timer on the main window and its period. */
#define SHELL_CLOCK_TIMER_ID 100
#define SHELL_CLOCK_TIMER_MS 30000

/* Registry key of the shell's start-up flags under HKEY_LOCAL_MACHINE. */
#define SHELL_GPSNAVI_KEY TEXT("SOFTWARE\\Kelvory\\GpsNavi")
/* The Bluetooth program started at power-on when BlueToothAutoRun is set,
 * its window's title, and how long the shell waits before hiding it. */
#define SHELL_BLUETOOTH_PROGRAM TEXT("\\residentflash2\\Bluetooth.exe")
#define SHELL_BLUETOOTH_TITLE TEXT("kvybluetooth")
#define SHELL_BLUETOOTH_WAIT_MS 200
/* How long shutdown waits for the start-up thread (device time). */
#define SHELL_STARTUP_WAIT_MS 3000
/* The TTS engine's data file, in the subfolder tts of the program's folder. */
#define SHELL_TTS_DATA_FILE TEXT("tts\\Resource.dat")

/* The creation sequence for the main window: 0 accepts the window, -1 refuses
 * it (after the message box "LoadSkin failed" when the resource file cannot
 * be loaded; silently when the page manager cannot be made). A refused
 * creation leaves nothing allocated. */
int shell_init_create(HWND window);
/* The shutdown sequence: the clock timer, the GPS receiver, the TTS engine,
 * the page manager with its pages and the skin, each only when it exists;
 * then the quit message with exit code 0. */
void shell_init_destroy(void);
/* The start-up thread: TTS engine, the registry flags UseFM and
 * BlueToothAutoRun, the Bluetooth program started and hidden. Always 0. */
DWORD WINAPI shell_startup_thread(LPVOID unused);
