/* The shell's process-wide state: the main window and the screen it covers,
 * the flags and texts that the window procedure, the start-up sequence and
 * the pages share, and the current call. Written and read without a lock:
 * each flag is one aligned word written by one side. */
#pragma once

#include <windows.h>

/* The main window; stored by its creation handler, null before. */
extern HWND main_window;
/* The screen size in pixels: 800 x 480 until the entry reads the system
 * metrics at start-up; unchanged afterwards. */
extern int screen_width;
extern int screen_height;
/* The program's instance, kept for the window class. */
extern HINSTANCE app_instance;

/* 0/1: the Bluetooth information file holds more than one byte. */
extern int bt_info_present;
/* 0/1: the FM transmitter is in use (registry value UseFM). */
extern int fm_enabled;
/* 0/1: the shell itself started the Bluetooth program. */
extern int bt_started_by_shell;
/* The window in front before the shell raised itself for a call; null when none. */
extern HWND previous_foreground;
/* 0/1: the camera picture is shown over the navigation program. */
extern int camera_shown;
/* 0/1: the system clock has been set from GPS; the date line exists only after that. */
extern int clock_set;
#define CLOCK_TEXT_SIZE 40
/* The date and time line the desktop draws; empty until clock_set. */
extern WCHAR clock_text[CLOCK_TEXT_SIZE];
/* The size the device ID is read with: at most 7 characters and the terminator. */
#define DEVICE_ID_SIZE 8
/* CONFIG key ID of config.ini. */
extern WCHAR device_id[DEVICE_ID_SIZE];
/* The handle tts_init returned; 0 when none. */
extern HANDLE tts_handle;
/* Switches the diagnostic logs: 3 message verdicts and hand-offs, 4 also every frame. */
extern int debug_level;

/* 0/1: set by the in-call page while the call audio's filled buffers are to
 * be analysed and queued again by the capture callback. */
extern volatile int capture_active;

/* Call modes. */
#define CALL_MODE_NUMBER 0
#define CALL_MODE_CENTRE 1
#define CALL_MODE_RECALL 2

#define CALL_NUMBER_SIZE 20
#define CALL_NAME_SIZE 40
#define CALL_DETAIL_SIZE 260

/* The current call; zeroed as a whole at the end of a call. */
typedef struct CallInfo {
  int mode;                          /* CALL_MODE_... */
  WCHAR number[CALL_NUMBER_SIZE];    /* the remote number, at most 19 characters */
  WCHAR name[CALL_NAME_SIZE];
  WCHAR detail[CALL_DETAIL_SIZE];
} CallInfo;

extern CallInfo call_info;
