/* Starting the Bluetooth program when its window does not exist, with a
 * stand-in program of the host at "\residentflash2\Bluetooth.exe" (host only:
 * the Windows build has no stand-in programs). */
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>

#include "bt_bridge.h"
#include "device_folder.h"
#include "plat/host.h"
#include "shell_globals.h"

namespace {

std::atomic<int> starts{0};
std::atomic<bool> quit{false};

LRESULT CALLBACK standin_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

/* A stand-in of the phone program: a hidden window titled "kvybluetooth". */
DWORD phone_standin(const std::u16string&) {
  starts++;
  WNDCLASSW wc = {};
  wc.lpfnWndProc = standin_proc;
  wc.lpszClassName = u"PhoneStandin";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, u"PhoneStandin", u"kvybluetooth", WS_POPUP, 0, 0, 10, 10,
                                nullptr, nullptr, nullptr, nullptr);
  MSG msg;
  while (!quit && window) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(1);
  }
  if (window) DestroyWindow(window);
  return 0;
}

TEST(BtBridgeStart, SecondPressRaisesTheProgramTheFirstStarted) {
  make_test_device("bt_bridge_start");
  plat::register_program(BT_PROGRAM_PATH, phone_standin);
  bt_started_by_shell = 0;
  bt_show_program();
  EXPECT_EQ(bt_started_by_shell, 1);
  HWND phone = nullptr;
  for (int i = 0; i < 2000 && !phone; i++) {
    phone = FindWindowW(nullptr, u"kvybluetooth");
    if (!phone) Sleep(1);
  }
  ASSERT_TRUE(phone != nullptr);
  EXPECT_FALSE(IsWindowVisible(phone));
  bt_show_program();
  EXPECT_EQ(starts.load(), 1);
  EXPECT_TRUE(IsWindowVisible(phone));
  EXPECT_EQ(GetForegroundWindow(), phone);
  quit = true;
  for (int i = 0; i < 2000 && FindWindowW(nullptr, u"kvybluetooth"); i++) Sleep(1);
  plat::unregister_programs();
}

}  // namespace
