/* The Bluetooth phone program's stand-in and the `phone` command. */
#include <windows.h>

#include <chrono>
#include <thread>

#include "device_commands.h"
#include "phone.h"

namespace sim {

namespace {

/* The protocol as the phone program knows it (its own copy, as another
 * program of the device would have). */
const UINT WM_BT_DIAL = 8027, WM_BT_INCOMING_CALL = 8028, WM_BT_INFO_CHANGED = 8029,
           WM_BT_CALL_ENDED = 8030, WM_BT_HANGUP = 8031, WM_BT_SEND_KEY = 8032,
           WM_BT_CALL_ACTIVE = 8033, WM_BT_ANSWER = 8034;
const WCHAR BT_WINDOW_TITLE[] = u"kvybluetooth";
const WCHAR BT_PROGRAM_PATH[] = u"\\residentflash2\\Bluetooth.exe";
const WCHAR BT_INFO_FILE[] = u"\\temp\\BluetoothInfo.txt";
const WCHAR BT_CLIENT_KEY[] = u"Software\\Kelvory\\Bluetooth";
const WCHAR BT_CLIENT_VALUE[] = u"ClientNo";


const char* bt_message_name(UINT message) {
  switch (message) {
    case WM_BT_DIAL: return "WM_BT_DIAL";
    case WM_BT_HANGUP: return "WM_BT_HANGUP";
    case WM_BT_SEND_KEY: return "WM_BT_SEND_KEY";
    case WM_BT_ANSWER: return "WM_BT_ANSWER";
  }
  return nullptr;
}

/* ClientNo as the phone reads it when it dials; empty when missing. */
std::string client_number() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, BT_CLIENT_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::string();
  WCHAR text[128] = {0};
  DWORD type = 0, size = sizeof text - sizeof(WCHAR);
  LONG result = RegQueryValueExW(key, BT_CLIENT_VALUE, nullptr, &type, (BYTE*)text, &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ) return std::string();
  return plat::utf16_to_utf8(text);
}

bool phone_message(HWND, UINT message, WPARAM wparam, LPARAM, LRESULT* result) {
  const char* name = bt_message_name(message);
  if (!name) return false;
  plat::Event("bt").str("msg", std::string(name)).num("wparam", (long long)wparam)
      .str("clientno", client_number());
  *result = 0;
  return true;
}

/* The program: one instance; a second start ends at once. */
DWORD phone_run(bool visible) {
  if (FindWindowW(nullptr, BT_WINDOW_TITLE)) return 0;
  run_standin_window(u"KvyBluetooth", BT_WINDOW_TITLE, visible, phone_message);
  return 0;
}

/* Started by another program (the shell): it comes up in front. */
DWORD phone_main(const std::u16string&) { return phone_run(true); }

/* Waits in real time for the phone's window to exist or to be gone. */
bool wait_phone_window(bool exists) {
  for (int i = 0; i < 2000; i++) {
    if ((FindWindowW(nullptr, BT_WINDOW_TITLE) != nullptr) == exists) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

bool send_to_shell(UINT message, std::string* error) {
  HWND shell = shell_window();
  if (!shell) {
    *error = "phone: the shell's window does not exist";
    return false;
  }
  SendMessageW(shell, message, 0, 0);
  return true;
}

bool write_info(const std::string& utf8, std::string* error) {
  if (!write_device_file(BT_INFO_FILE, ansi_of(utf8))) {
    *error = "phone: cannot write \\temp\\BluetoothInfo.txt";
    return false;
  }
  return true;
}

bool run_phone(const std::string& args, std::string* error) {
  size_t space = args.find(' ');
  std::string verb = args.substr(0, space);
  std::string rest = space == std::string::npos ? std::string() : args.substr(space + 1);
  size_t first = rest.find_first_not_of(' ');
  rest = first == std::string::npos ? std::string() : rest.substr(first);
  if (verb == "start" && rest.empty()) {
    /* Running in the background, as after power-on. */
    if (!FindWindowW(nullptr, BT_WINDOW_TITLE)) std::thread([] { phone_run(false); }).detach();
    if (!wait_phone_window(true)) {
      *error = "phone: the window did not appear";
      return false;
    }
    return true;
  }
  if (verb == "stop" && rest.empty()) {
    if (HWND phone = FindWindowW(nullptr, BT_WINDOW_TITLE)) SendMessageW(phone, WM_CLOSE, 0, 0);
    if (!wait_phone_window(false)) {
      *error = "phone: the window did not close";
      return false;
    }
    return true;
  }
  if (verb == "info" && !rest.empty()) {
    if (rest == "-") {
      DeleteFileW(BT_INFO_FILE);
    } else if (!write_info(rest, error)) {
      return false;
    }
    return send_to_shell(WM_BT_INFO_CHANGED, error);
  }
  if (verb == "incoming" && !rest.empty()) {
    if (!write_info(rest, error)) return false;
    return send_to_shell(WM_BT_INCOMING_CALL, error);
  }
  if (verb == "active" && rest.empty()) return send_to_shell(WM_BT_CALL_ACTIVE, error);
  if (verb == "ended" && rest.empty()) return send_to_shell(WM_BT_CALL_ENDED, error);
  return false;
}

}  // namespace

void phone_standin_attach() {
  plat::register_program(BT_PROGRAM_PATH, phone_main);
  register_device_command(
      {"phone", "phone start|stop|info TEXT|info -|incoming NUMBER|active|ended", run_phone});
}

}  // namespace sim
