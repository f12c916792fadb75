/* The stand-in programs' common window and the alarm and FM programs. */
#include <windows.h>

#include <map>
#include <mutex>

#include "phone.h"

namespace sim {

namespace {

struct WindowTable {
  std::mutex lock;
  std::map<HWND, StandinHandler> handlers;
};

WindowTable& window_table() {
  static WindowTable table;
  return table;
}

/* The handler of the window being created on this thread, until it is known
 * by its handle. */
thread_local StandinHandler* creating = nullptr;

LRESULT CALLBACK standin_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  StandinHandler handler;
  {
    WindowTable& table = window_table();
    std::lock_guard<std::mutex> guard(table.lock);
    auto it = table.handlers.find(window);
    if (it != table.handlers.end()) {
      handler = it->second;
    } else if (creating) {
      table.handlers[window] = *creating;
      handler = *creating;
    }
  }
  LRESULT result = 0;
  if (handler && handler(window, message, wparam, lparam, &result)) return result;
  if (message == WM_DESTROY) {
    {
      WindowTable& table = window_table();
      std::lock_guard<std::mutex> guard(table.lock);
      table.handlers.erase(window);
    }
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

/* ---- Alarm ---- */

DWORD alarm_main(const std::u16string&) {
  run_standin_window(u"VmAlarm", u"Alarm", true, nullptr);
  return 0;
}

/* ---- FM: the user switches the transmitter and closes the program ---- */

const uint64_t fm_run_ms = 300;
const UINT_PTR fm_timer = 1;

void toggle_use_fm() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kelvory\\GpsNavi", 0, nullptr, 0,
                      KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  DWORD value = 0, type = 0, size = sizeof value;
  if (RegQueryValueExW(key, u"UseFM", nullptr, &type, (BYTE*)&value, &size) != ERROR_SUCCESS)
    value = 0;
  value = value ? 0 : 1;
  RegSetValueExW(key, u"UseFM", 0, REG_DWORD, (const BYTE*)&value, sizeof value);
  RegCloseKey(key);
}

DWORD fm_main(const std::u16string&) {
  run_standin_window(
      u"FmStandin", u"FM", true,
      [](HWND window, UINT message, WPARAM wparam, LPARAM, LRESULT* result) {
        if (message != WM_TIMER || wparam != fm_timer) return false;
        KillTimer(window, fm_timer);
        toggle_use_fm();
        DestroyWindow(window);
        *result = 0;
        return true;
      },
      [](HWND window) { SetTimer(window, fm_timer, (UINT)fm_run_ms, nullptr); });
  return 0;
}

}  // namespace

void run_standin_window(const WCHAR* window_class, const WCHAR* title, bool visible,
                        StandinHandler handler, std::function<void(HWND)> created) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = standin_proc;
  wc.lpszClassName = window_class;
  RegisterClassW(&wc);  /* a second program of the class finds it registered */
  StandinHandler own = handler ? handler : StandinHandler();
  creating = &own;
  HWND window = CreateWindowExW(0, window_class, title, WS_POPUP | (visible ? WS_VISIBLE : 0), 0, 0,
                                GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                nullptr, nullptr, nullptr, nullptr);
  creating = nullptr;
  if (!window) return;
  if (created) created(window);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

HWND shell_window() { return FindWindowW(u"APS", u"APS"); }

bool write_device_file(const WCHAR* path, const std::string& bytes) {
  FILE* file = _wfopen(path, u"wb");
  if (!file) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

std::string ansi_of(const std::string& utf8) {
  std::u16string wide = plat::utf8_to_utf16(utf8);
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), (int)wide.size(), nullptr, 0, nullptr, nullptr);
  std::string out((size_t)(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_ACP, 0, wide.data(), (int)wide.size(), &out[0], n, nullptr, nullptr);
  return out;
}

void programs_attach() {
  plat::register_program(u"\\residentflash2\\Alarm.exe", alarm_main);
  plat::register_program(u"\\residentflash2\\fm.exe", fm_main);
}

void phone_attach(const plat::HostOptions&) {
  phone_standin_attach();
  programs_attach();
  camera_attach();
  device_console_attach();
}

}  // namespace sim
