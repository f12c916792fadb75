#include "bt_bridge.h"

#include <stdio.h>
#include <string.h>

#include "shell_globals.h"
#include "side_programs.h"

namespace {

/* Sends one message to the phone program's window; dropped when it is absent. */
void send_to_phone(UINT message, WPARAM wparam) {
  HWND phone = FindWindowW(NULL, BT_WINDOW_TITLE);
  if (phone) SendMessageW(phone, message, wparam, 0);
}

/* Reads the information file into `text` (BT_INFO_MAX bytes, zeroed first) and
 * returns the length of its text; -1 when the file does not open. The last
 * byte always stays zero, so a longer file gives at most 259 bytes of text. */
int read_info(const WCHAR* mode, char* text) {
  memset(text, 0, BT_INFO_MAX);
  FILE* file = _wfopen(BT_INFO_FILE, mode);
  if (!file) return -1;
  fread(text, 1, BT_INFO_MAX - 1, file);
  fclose(file);
  return (int)strlen(text);
}

DWORD WINAPI show_program_thread(LPVOID) {
  bt_show_program();
  return 0;
}

}  // namespace

int bt_dial(const WCHAR* number) {
  if (!number) return -1;
  HKEY key = NULL;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, BT_CLIENT_KEY, 0, NULL, 0, KEY_READ | KEY_WRITE, NULL,
                      &key, &disposition) == ERROR_SUCCESS) {
    DWORD bytes = (DWORD)((lstrlenW(number) + 1) * sizeof(WCHAR));
    RegSetValueExW(key, BT_CLIENT_VALUE, 0, REG_SZ, (const BYTE*)number, bytes);
    RegFlushKey(key);
    RegCloseKey(key);
  }
  send_to_phone(WM_BT_DIAL, 0);
  return 0;
}

void bt_answer(void) { send_to_phone(WM_BT_ANSWER, 0); }

void bt_hangup(void) { send_to_phone(WM_BT_HANGUP, 0); }

void bt_send_key(int key_index) { send_to_phone(WM_BT_SEND_KEY, (WPARAM)key_index); }

int bt_read_info_present(void) {
  char text[BT_INFO_MAX];
  return read_info(TEXT("rb"), text) > 1 ? 1 : 0;
}

int bt_read_number(char* buffer, int capacity) {
  if (!buffer || capacity <= 0) return 0;
  char text[BT_INFO_MAX];
  /* "r+" as the phone program expects of its readers; the file is only read. */
  int length = read_info(TEXT("r+"), text);
  if (length <= 0) return 0;
  int count = length < capacity ? length : capacity;
  memcpy(buffer, text, (size_t)count);
  return count;
}

void bt_show_program(void) {
  HWND phone = FindWindowW(NULL, BT_WINDOW_TITLE);
  if (phone) {
    ShowWindow(phone, SW_SHOW);
    SetWindowPos(phone, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    SetForegroundWindow(phone);
    return;
  }
  /* Only a program that did start counts as started by the shell. */
  if (launch_detached(BT_PROGRAM_PATH) == 0) bt_started_by_shell = 1;
}

void bt_show_program_async(void) {
  HANDLE thread = CreateThread(NULL, 0, show_program_thread, NULL, 0, NULL);
  if (thread) CloseHandle(thread);
}
