#include "shell_globals.h"

HWND main_window;
int screen_width = 800;
int screen_height = 480;
HINSTANCE app_instance;

int bt_info_present;
int fm_enabled;
int bt_started_by_shell;
HWND previous_foreground;
int camera_shown;
int clock_set;
WCHAR clock_text[CLOCK_TEXT_SIZE];
WCHAR device_id[DEVICE_ID_SIZE];
HANDLE tts_handle;
int debug_level;
volatile int capture_active;

CallInfo call_info;
