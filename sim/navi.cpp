/* The navigation program's stand-in. It runs one window, titled "ZRNC_VmNavi"
 * unless the console names another title, and writes a `copydata` event for
 * every WM_COPYDATA it receives: the window's title, wParam, the byte count
 * and the UTF-16 text of the block up to its first terminator. Started by
 * CreateProcessW at \sdmmc\Navi\Navi.exe (as the shell does) or by the console. */
#include "navi.h"

#include <windows.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "device_commands.h"

namespace sim {

namespace {

const WCHAR kClass[] = u"ZRNC_NaviStandIn";
const std::u16string kDefaultTitle = u"ZRNC_VmNavi";
const char16_t kProgramPath[] = u"\\sdmmc\\Navi\\Navi.exe";


LRESULT CALLBACK navi_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COPYDATA: {
      const COPYDATASTRUCT* data = (const COPYDATASTRUCT*)lparam;
      WCHAR title[256] = {0};
      GetWindowTextW(window, title, 256);
      std::u16string text;
      if (data && data->lpData) {
        const WCHAR* units = (const WCHAR*)data->lpData;
        for (DWORD i = 0; i < data->cbData / 2 && units[i]; ++i) text += units[i];
      }
      plat::Event("copydata")
          .str("to", title)
          .num("wparam", (long long)wparam)
          .num("bytes", data ? (long long)data->cbData : 0)
          .str("text", plat::utf16_to_utf8(text));
      return TRUE;
    }
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void register_class() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = navi_procedure;
    window_class.hInstance = GetModuleHandleW(NULL);
    window_class.lpszClassName = kClass;
    RegisterClassW(&window_class);
  });
}

/* The program: raises a window that runs already, else runs its own until it
 * is closed. */
DWORD navi_main(const std::u16string& title) {
  if (HWND running = FindWindowW(kClass, NULL)) {
    SetForegroundWindow(running);
    return 0;
  }
  register_class();
  HWND window = CreateWindowExW(0, kClass, title.c_str(), WS_VISIBLE, 0, 0, 800, 480, NULL, NULL,
                                GetModuleHandleW(NULL), NULL);
  if (!window) return 1;
  SetForegroundWindow(window);
  MSG msg;
  while (GetMessageW(&msg, NULL, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

bool run_navi(const std::string& args, std::string* error) {
  std::string verb = args.substr(0, args.find(' '));
  std::string rest = verb.size() < args.size() ? args.substr(verb.size() + 1) : std::string();
  while (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
  if (verb == "start") {
    if (FindWindowW(kClass, NULL)) {
      *error = "the navigation program runs already";
      return false;
    }
    std::u16string title = rest.empty() ? kDefaultTitle : plat::utf8_to_utf16(rest);
    std::thread([title] { navi_main(title); }).detach();
    /* Back once the window exists, so the next command finds it. */
    for (int i = 0; i < 2000 && !FindWindowW(kClass, NULL); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!FindWindowW(kClass, NULL)) {
      *error = "the navigation program's window did not appear";
      return false;
    }
    return true;
  }
  if (verb == "stop" && rest.empty()) {
    HWND window = FindWindowW(kClass, NULL);
    if (!window) {
      *error = "the navigation program does not run";
      return false;
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    for (int i = 0; i < 2000 && FindWindowW(kClass, NULL); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return !FindWindowW(kClass, NULL) || (*error = "the navigation program did not stop", false);
  }
  *error = "usage: navi start [TITLE] | navi stop";
  return false;
}

}  // namespace

void navi_attach(const plat::HostOptions& options) {
  (void)options;
  plat::register_program(kProgramPath, [](const std::u16string&) { return navi_main(kDefaultTitle); });
  register_device_command({"navi", "navi start [TITLE] | navi stop", run_navi});
}

}  // namespace sim
