#include "side_programs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ini_reader.h"
#include "module_path.h"
#include "shell_globals.h"

namespace {

/* Shortcut and auto-start files: at most this many bytes are read. */
const int kFileTextMax = 260;
const int kPathMax = 260;

/* Starts `path` with an optional command line; the caller gets the handles. */
BOOL start_program(const WCHAR* path, const WCHAR* command_line, PROCESS_INFORMATION* process) {
  memset(process, 0, sizeof *process);
  if (!path) return FALSE;
  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  /* CreateProcessW may write into its command line: give it a copy. */
  WCHAR* args = NULL;
  if (command_line && *command_line) {
    size_t n = wcslen(command_line) + 1;
    args = (WCHAR*)malloc(n * sizeof(WCHAR));
    if (!args) return FALSE;
    memcpy(args, command_line, n * sizeof(WCHAR));
  }
  BOOL ok = CreateProcessW(path, args, NULL, NULL, FALSE, 0, NULL, NULL, &startup, process);
  free(args);
  return ok;
}

void close_process(PROCESS_INFORMATION* process) {
  CloseHandle(process->hThread);
  CloseHandle(process->hProcess);
}

/* Raises a window: show, top of the Z order without moving or sizing, foreground. */
void raise_window(HWND window) {
  ShowWindow(window, SW_SHOW);
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  SetForegroundWindow(window);
}

/* Reads at most `max` bytes of a file into `text` (max + 1 bytes, zeroed
 * first, so always terminated). The bytes read, or -1 when it does not open. */
int read_text_file(const WCHAR* path, char* text, int max) {
  memset(text, 0, (size_t)max + 1);
  FILE* file = _wfopen(path, TEXT("rb"));
  if (!file) return -1;
  int n = (int)fread(text, 1, (size_t)max, file);
  fclose(file);
  return n;
}

/* ANSI text (terminated) to UTF-16 in `out` (capacity units, terminated). */
void ansi_to_wide(const char* text, WCHAR* out, int capacity) {
  out[0] = 0;
  if (!*text) return;
  int n = MultiByteToWideChar(CP_ACP, 0, text, (int)strlen(text), out, capacity - 1);
  out[n > 0 ? n : 0] = 0;
}

/* ---- Camera ---- */

HANDLE camera_vip = INVALID_HANDLE_VALUE;
HANDLE camera_sca = INVALID_HANDLE_VALUE;
HANDLE camera_semaphore = NULL;
HANDLE camera_mutex = NULL;

HANDLE open_camera_device(const WCHAR* name) {
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                     OPEN_EXISTING, 0, NULL);
}

void put16(BYTE* at, unsigned value) {
  at[0] = (BYTE)(value & 0xFF);
  at[1] = (BYTE)((value >> 8) & 0xFF);
}

void put32(BYTE* at, DWORD value) {
  put16(at, value & 0xFFFF);
  put16(at + 2, value >> 16);
}

/* Results are not checked: a missing driver simply fails the request. */
void camera_request(DWORD code, BYTE* input, DWORD size) {
  DWORD returned = 0;
  DeviceIoControl(camera_sca, code, input, size, NULL, 0, &returned, NULL);
}

/* ---- Worker threads ---- */

WCHAR* copy_path(const WCHAR* path) {
  if (!path) return NULL;
  size_t n = wcslen(path) + 1;
  WCHAR* copy = (WCHAR*)malloc(n * sizeof(WCHAR));
  if (copy) memcpy(copy, path, n * sizeof(WCHAR));
  return copy;
}

void start_worker(LPTHREAD_START_ROUTINE entry, void* argument) {
  HANDLE thread = CreateThread(NULL, 0, entry, argument, 0, NULL);
  if (thread)
    CloseHandle(thread);
  else
    free(argument);
}

DWORD WINAPI launch_detached_thread(LPVOID argument) {
  launch_detached((const WCHAR*)argument);
  free(argument);
  return 0;
}

DWORD WINAPI launch_entry_thread(LPVOID argument) {
  launch_entry((const WCHAR*)argument);
  free(argument);
  return 0;
}

DWORD WINAPI fm_program_thread(LPVOID) {
  fm_program();
  return 0;
}

DWORD WINAPI alarm_program_thread(LPVOID) {
  alarm_program();
  return 0;
}

}  // namespace

int launch_detached(const WCHAR* path) { return launch_detached_command(path, NULL); }

int launch_detached_command(const WCHAR* path, const WCHAR* command_line) {
  PROCESS_INFORMATION process;
  if (!start_program(path, command_line, &process)) return -1;
  close_process(&process);
  return 0;
}

int launch_and_wait(const WCHAR* path, const WCHAR* command_line) {
  PROCESS_INFORMATION process;
  if (!start_program(path, command_line, &process)) return -1;
  WaitForSingleObject(process.hThread, INFINITE);
  close_process(&process);
  return 0;
}

int launch_entry(const WCHAR* path) {
  if (!path) return -1;
  if (wcsstr(path, TEXT(".lnk"))) return launch_shortcut(path);
  launch_and_wait(path, NULL);
  return 0;
}

int shortcut_parse(const char* text, int length, WCHAR* program, WCHAR* command_line,
                   int capacity) {
  if (capacity <= 0) return 0;
  program[0] = 0;
  command_line[0] = 0;
  if (!text || length <= 0) return 0;
  char bytes[kFileTextMax + 1];
  int n = length < kFileTextMax ? length : kFileTextMax;
  memcpy(bytes, text, (size_t)n);
  bytes[n] = 0;
  WCHAR wide[kFileTextMax + 1];
  ansi_to_wide(bytes, wide, kFileTextMax + 1);
  WCHAR* hash = wcschr(wide, TEXT('#'));
  if (!hash) return 0;
  WCHAR* start = hash + 1;
  WCHAR* space = wcschr(start, TEXT(' '));
  if (space) {
    *space = 0;
    lstrcpynW(command_line, space + 1, capacity);
  }
  lstrcpynW(program, start, capacity);
  return 1;
}

int launch_shortcut(const WCHAR* path) {
  if (!path) return -1;
  char text[kFileTextMax + 1];
  int n = read_text_file(path, text, kFileTextMax);
  if (n <= 0) return 0;
  WCHAR program[kFileTextMax + 1], command_line[kFileTextMax + 1];
  if (!shortcut_parse(text, n, program, command_line, kFileTextMax + 1)) return 0;
  launch_and_wait(program, command_line[0] ? command_line : NULL);
  return 0;
}

int read_use_fm(void) {
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, GPSNAVI_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD value = 0, type = 0, size = sizeof value;
  LONG result = RegQueryValueExW(key, TEXT("UseFM"), NULL, &type, (BYTE*)&value, &size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && size == sizeof value && value != 0 ? 1 : 0;
}

void fm_program(void) {
  launch_and_wait(FM_PROGRAM_PATH, NULL);
  fm_enabled = read_use_fm();
}

void alarm_program(void) {
  HWND alarm = FindWindowW(ALARM_WINDOW_CLASS, NULL);
  if (alarm) {
    raise_window(alarm);
    return;
  }
  WCHAR config[kPathMax];
  if (module_file_path(config, kPathMax, NULL, TEXT("config.ini")) != 0) return;
  WCHAR program[kPathMax];
  program[0] = 0;
  if (ini_lookup_value(config, TEXT("CONFIG"), TEXT("ALARM"), program, kPathMax,
                       INI_VALUE_STRING) != INI_LOOKUP_OK)
    return;
  if (program[0]) launch_detached(program);
}

int camera_show(const CameraPicture* picture) {
  if (!picture) return -1;
  if (camera_vip == INVALID_HANDLE_VALUE || camera_sca == INVALID_HANDLE_VALUE) {
    if (camera_vip == INVALID_HANDLE_VALUE) camera_vip = open_camera_device(TEXT("VIP1:"));
    if (camera_sca == INVALID_HANDLE_VALUE) camera_sca = open_camera_device(TEXT("SCA0:"));
  }
  if (!camera_semaphore || !camera_mutex) {
    if (!camera_semaphore)
      camera_semaphore = CreateSemaphoreW(NULL, 0, 40, TEXT("kvycamera_semaphore"));
    if (!camera_mutex) camera_mutex = CreateMutexW(NULL, FALSE, TEXT("kvycamera_mutex"));
  }
  WaitForSingleObject(camera_mutex, INFINITE);
  LONG previous = -1;
  if (ReleaseSemaphore(camera_semaphore, 1, &previous) && previous == 0) {
    BYTE open[24];
    memset(open, 0, sizeof open);
    put16(open + 16, picture->dest_width);
    put16(open + 18, picture->dest_height);
    camera_request(CAMERA_IOCTL_OPEN, open, sizeof open);
  }
  unsigned source_height = picture->standard == 0 ? 240 : 288;
  BYTE window[28];
  memset(window, 0, sizeof window);
  put16(window + 4, picture->crop_left);
  put16(window + 6, picture->crop_top);
  put16(window + 8, 720u - picture->crop_left - picture->crop_right);
  put16(window + 10, source_height - picture->crop_top - picture->crop_bottom);
  put16(window + 12, 720);
  put16(window + 14, source_height);
  put16(window + 16, picture->dest_x);
  put16(window + 18, picture->dest_y);
  put16(window + 20, picture->dest_width);
  put16(window + 22, picture->dest_height);
  window[25] = 1;
  camera_request(CAMERA_IOCTL_WINDOW, window, sizeof window);
  BYTE enable[8];
  memset(enable, 0, sizeof enable);
  enable[4] = 1;
  camera_request(CAMERA_IOCTL_ENABLE, enable, sizeof enable);
  BYTE level[4];
  put32(level, 63);
  camera_request(CAMERA_IOCTL_LEVEL, level, sizeof level);
  BYTE start[4];
  put32(start, 1);
  camera_request(CAMERA_IOCTL_START, start, sizeof start);
  ReleaseMutex(camera_mutex);
  return 0;
}

int camera_hide(void) {
  if (!camera_semaphore || !camera_mutex) return -1;
  WaitForSingleObject(camera_mutex, INFINITE);
  LONG previous = -1;
  if (ReleaseSemaphore(camera_semaphore, 1, &previous) && previous == 1) {
    BYTE close[24];
    memset(close, 0, sizeof close);
    camera_request(CAMERA_IOCTL_CLOSE, close, sizeof close);
  }
  /* Takes back the count just added and this user's own. */
  WaitForSingleObject(camera_semaphore, 0);
  WaitForSingleObject(camera_semaphore, 0);
  ReleaseMutex(camera_mutex);
  return 0;
}

int debug_level_read(void) {
  FILE* file = _wfopen(DEBUG_LEVEL_FILE, TEXT("rb"));
  if (!file) return debug_level;
  unsigned char first = 0;
  if (fread(&first, 1, 1, file) == 1) debug_level = (int)first - '0';
  fclose(file);
  return debug_level;
}

int sd_autostart(void) {
  char text[kFileTextMax + 1];
  /* The last of the 260 bytes stays the terminator: 259 bytes of path. */
  if (read_text_file(SD_AUTORUN_FILE, text, kFileTextMax - 1) <= 0 || !text[0]) return -1;
  WCHAR program[kFileTextMax + 1];
  ansi_to_wide(text, program, kFileTextMax + 1);
  return launch_detached(program);
}

void launch_detached_async(const WCHAR* path) {
  WCHAR* copy = copy_path(path);
  if (copy) start_worker(launch_detached_thread, copy);
}

void launch_entry_async(const WCHAR* path) {
  WCHAR* copy = copy_path(path);
  if (copy) start_worker(launch_entry_thread, copy);
}

void fm_program_async(void) { start_worker(fm_program_thread, NULL); }

void alarm_program_async(void) { start_worker(alarm_program_thread, NULL); }
