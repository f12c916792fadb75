/* The destination hand-off and the navigation launch. */
#include "nav_handoff.h"

#include <stdio.h>
#include <string.h>

#include "ini_reader.h"
#include "module_path.h"
#include "shell_globals.h"
#include "side_programs.h"
#include "tts.h"

DestinationRecord destination_record;

namespace {

const WCHAR kRecordTemplate[] = TEXT("(TNC,2,0,%f,%f,话务员设定地址)");
const WCHAR kNoMapCard[] = TEXT("请插入地图卡");
const WCHAR kLogPath[] = TEXT("sdmmc\\dest.txt");
const WCHAR kConfigName[] = TEXT("config.ini");
const WCHAR kSection[] = TEXT("CONFIG");
const WCHAR kShowCommand[] = TEXT("show");
const int kPathSize = 260;
/* GBK takes at most two bytes a character. */
const int kAnsiSize = NAV_TEXT_SIZE * 2;

/* Appends one line to the hand-off log when the level asks for it. The
 * stream is text: each "\n" is written as "\r\n". */
void log_wide(const WCHAR* text) {
  if (debug_level < 3) return;
  /* Converted here rather than by the stream: the C library's own conversion
   * follows its locale, not the device's code page. */
  char ansi[kAnsiSize + 1];
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, (int)sizeof ansi, NULL, NULL);
  if (n <= 0) return;
  FILE* log = _wfopen(kLogPath, TEXT("a+"));
  if (!log) return;
  fprintf(log, "%s\n", ansi);
  fclose(log);
}

void log_ansi(const char* text) {
  if (debug_level < 3) return;
  FILE* log = _wfopen(kLogPath, TEXT("a+"));
  if (!log) return;
  fprintf(log, "%s\t" NAV_DEST_FILE_NAME "\n", text);
  fclose(log);
}

/* Reads CONFIG key of config.ini into path (kPathSize characters, empty when
 * missing) and answers whether that file opens for reading. */
bool navi_path_opens(const WCHAR* key, WCHAR* path) {
  path[0] = 0;
  WCHAR config[kPathSize];
  if (module_file_path(config, kPathSize, NULL, kConfigName) != 0) return false;
  if (ini_lookup_value(config, kSection, key, path, kPathSize, INI_VALUE_STRING) != INI_LOOKUP_OK)
    path[0] = 0;
  if (path[0] == 0) return false;
  FILE* probe = _wfopen(path, TEXT("r"));
  if (!probe) return false;
  fclose(probe);
  return true;
}

HWND find_navigation_window(void) {
  HWND window = FindWindowW(NULL, NAV_WINDOW_TITLE);
  if (!window) window = FindWindowW(NULL, NAV_WINDOW_TITLE_ALT);
  return window;
}

}  // namespace

int nav_format_record(const DestinationRecord* record, WCHAR* buffer, int capacity) {
  if (!record || !buffer || capacity < 1) return -1;
  int n = _snwprintf(buffer, (size_t)capacity, kRecordTemplate, record->second, record->first);
  if (n < 0 || n >= capacity) {
    buffer[0] = 0;
    return -1;
  }
  return n;
}

int nav_format_record_ansi(const DestinationRecord* record, char* buffer, int capacity) {
  if (!buffer || capacity < 1) return -1;
  buffer[0] = 0;
  WCHAR wide[NAV_TEXT_SIZE];
  int length = nav_format_record(record, wide, NAV_TEXT_SIZE);
  if (length < 0) return -1;
  int n = WideCharToMultiByte(NAV_DEST_CODE_PAGE, 0, wide, length, buffer, capacity - 1, NULL, NULL);
  if (n <= 0) {
    buffer[0] = 0;
    return -1;
  }
  buffer[n] = 0;
  return n;
}

void nav_handoff_message(const DestinationRecord* record, HWND window) {
  if (!record || !window) return;
  /* The whole buffer goes, whatever the text's length: zero it first so that
   * nothing of the stack follows the text. */
  WCHAR text[NAV_TEXT_SIZE];
  memset(text, 0, sizeof text);
  if (nav_format_record(record, text, NAV_TEXT_SIZE) < 0) return;
  COPYDATASTRUCT data;
  data.dwData = 0;
  data.cbData = NAV_COPYDATA_BYTES;
  data.lpData = text;
  SendMessageW(window, WM_COPYDATA, (WPARAM)NAV_COPYDATA_WPARAM, (LPARAM)&data);
  log_wide(text);
}

void nav_handoff_file(const DestinationRecord* record, const WCHAR* program_path) {
  if (!record || !program_path) return;
  WCHAR path[kPathSize];
  size_t length = wcslen(program_path);
  if (length >= (size_t)kPathSize) return;
  wcscpy(path, program_path);
  WCHAR* separator = wcsrchr(path, TEXT('\\'));
  if (!separator) separator = wcsrchr(path, TEXT('/'));
  if (!separator) return;
  char text[kAnsiSize + 1];
  int bytes = nav_format_record_ansi(record, text, (int)sizeof text);
  if (bytes < 0) return;
  const WCHAR file_name[] = TEXT("zrnc.dest");
  size_t folder = (size_t)(separator - path) + 1;
  if (folder + wcslen(file_name) >= (size_t)kPathSize) return;
  wcscpy(separator + 1, file_name);
  FILE* out = _wfopen(path, TEXT("wb"));
  if (out) {
    fwrite(text, 1, (size_t)bytes, out);
    fclose(out);
  }
  log_ansi(text);
}

void nav_handoff(const DestinationRecord* record, HWND window, const WCHAR* program_path) {
  if (window)
    nav_handoff_message(record, window);
  else
    nav_handoff_file(record, program_path);
}

int nav_launch(const DestinationRecord* record) {
  HWND window = find_navigation_window();
  if (window) {
    nav_handoff_message(record, window);
    SetForegroundWindow(window);
    return 0;
  }
  WCHAR program[kPathSize];
  if (!navi_path_opens(TEXT("NAVI1"), program) && !navi_path_opens(TEXT("NAVI2"), program)) {
    tts_play(tts_handle, kNoMapCard, (int)wcslen(kNoMapCard));
    Sleep(100);
    return 0;
  }
  nav_handoff_file(record, program);
  launch_detached_command(program, kShowCommand);
  return 0;
}

DWORD WINAPI nav_start_thread(LPVOID unused) {
  (void)unused;
  nav_launch(NULL);
  return 0;
}

int nav_start_async(void) {
  HANDLE thread = CreateThread(NULL, 0, nav_start_thread, NULL, 0, NULL);
  if (!thread) return -1;
  CloseHandle(thread);
  return 0;
}
