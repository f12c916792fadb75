/* Handing a destination to the navigation program, and bringing that program
 * to the front (starting it when it does not run).
 *
 * The navigation program is found by its window "ZRNC_VmNavi", else
 * "TitleNavi". A running program gets the record text by WM_COPYDATA; a
 * program that is not running gets it in "zrnc.dest" beside its executable
 * (CONFIG keys NAVI1, then NAVI2, of config.ini) and is started with "show".
 * When neither path names an existing file the map card is missing and the
 * prompt "请插入地图卡" is spoken. */
#pragma once

#include <windows.h>

/* The destination set by the service-centre operator, in degrees. */
typedef struct DestinationRecord {
  double first;    /* from the first signed number of command 2 */
  double second;   /* from the second signed number of command 2 */
} DestinationRecord;

/* The shell's one destination record, written by command 2. */
extern DestinationRecord destination_record;

#define NAV_TEXT_SIZE 260
#define NAV_COPYDATA_WPARAM 256
#define NAV_COPYDATA_BYTES (NAV_TEXT_SIZE * 2)
#define NAV_WINDOW_TITLE TEXT("ZRNC_VmNavi")
#define NAV_WINDOW_TITLE_ALT TEXT("TitleNavi")
#define NAV_DEST_FILE_NAME "zrnc.dest"
#define NAV_DEST_CODE_PAGE 936

/* The record text "(TNC,2,0,<second>,<first>,话务员设定地址)" with six
 * decimals each, into buffer (capacity characters, terminated). Its length,
 * or -1 when it does not fit. */
int nav_format_record(const DestinationRecord* record, WCHAR* buffer, int capacity);
/* The same text in GBK bytes (terminated). Its byte count, or -1. */
int nav_format_record_ansi(const DestinationRecord* record, char* buffer, int capacity);

/* Sends the record text to the navigation window by WM_COPYDATA (wParam 256,
 * 520 bytes) and logs it; with a null record or window nothing is sent. */
void nav_handoff_message(const DestinationRecord* record, HWND window);
/* Writes the record text in GBK to "zrnc.dest" in the folder of program_path
 * and logs it; nothing with a null record or path, or a path without "\" or "/". */
void nav_handoff_file(const DestinationRecord* record, const WCHAR* program_path);
/* Both of the above: the message when window is not null, else the file. */
void nav_handoff(const DestinationRecord* record, HWND window, const WCHAR* program_path);

/* The navigation launch, on the caller's thread (never the UI thread: it may
 * block on the navigation program, and waits 100 ms after the prompt). record
 * may be null (the desktop's button): the program is only raised or started.
 * Returns 0. */
int nav_launch(const DestinationRecord* record);

/* Thread entry of the desktop's navigation button: nav_launch(null). */
DWORD WINAPI nav_start_thread(LPVOID unused);
/* Starts nav_start_thread on a new thread and closes its handle.
 * 0, or -1 when no thread could be made. */
int nav_start_async(void);
