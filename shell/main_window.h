/* The main window's procedure, the hub of the shell: creation and shutdown,
 * flicker-free painting of the current page from WM_ERASEBKGND, touch input
 * routed to the current page, the Bluetooth program's call notifications
 * (switching to the call pages and raising the shell), the clock/date line,
 * the SD card watch, the camera picture and the requests of other programs. */
#pragma once

#include <windows.h>

/* Class and title of the main window. */
#define MAIN_WINDOW_CLASS TEXT("APS")
#define MAIN_WINDOW_TITLE TEXT("APS")

/* Private messages that other programs send to the shell. */
#define WM_CAMERA_SHOW 7028
#define WM_CAMERA_HIDE 7029
#define WM_HANGUP_HOME 30583
/* WM_COPYDATA's wParam that opens the service-centre dialing page. */
#define COPYDATA_OPEN_DIALING 256

/* The window, in the foreground, over which the camera picture is shown. */
#define CAMERA_WINDOW_TITLE TEXT("TitleNavi")
/* The SD card's device name in WM_DEVICECHANGE. */
#define SD_CARD_DEVICE TEXT("DSK1:")
/* How long the shell waits after the SD card arrived before reading it. */
#define SD_CARD_SETTLE_MS 1000

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

/* Shows the main window, puts it on top of the Z order without moving or
 * sizing it and makes it the foreground window. */
void raise_shell(void);
/* nav_push(id); then, when another window is in front, raises the shell and
 * keeps that window in previous_foreground. */
void show_call_page(int id);
/* 1 when a call page (incoming call, dialing, in call) is current. */
int call_page_current(void);
/* 1 when `number` is one of the items of the "*"-separated `list`; an empty
 * number is never listed. */
int number_in_list(const WCHAR* list, const WCHAR* number);
/* Writes "YYYY-MM-DD 星期X HH:MM" for `time` into `text` (size characters). */
void format_clock_text(const SYSTEMTIME* time, WCHAR* text, int size);
