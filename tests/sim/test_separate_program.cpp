/* A device program as a host process of its own, as it is on the device: this
 * test program stands in for the navigation program beside a Velmar run
 * (build/bin/Velmar, driven through its console). It finds the shell's window,
 * sends it WM_COPYDATA 256 (the service-centre dialing page), and once the
 * operator's destination arrives in the call audio it receives the shell's
 * WM_COPYDATA answer: the record text in the whole 520-byte block. */
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "plat/host.h"

namespace {

struct Received {
  int count = 0;
  WPARAM wparam = 0;
  DWORD bytes = 0;
  std::u16string text;
} received;

LRESULT CALLBACK navi_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_COPYDATA) {
    const auto* data = (const COPYDATASTRUCT*)lp;
    received.count++;
    received.wparam = wp;
    received.bytes = data->cbData;
    received.text.clear();
    const WCHAR* units = (const WCHAR*)data->lpData;
    for (DWORD i = 0; units && i < data->cbData / 2 && units[i]; i++) received.text += units[i];
    return TRUE;
  }
  return DefWindowProcW(w, m, wp, lp);
}

/* Handles this thread's messages until `done` or `ms` of real time. */
template <class Done>
bool pump_until(Done done, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(SeparateProgram, TalksWithTheShellByWindowMessages) {
  char dir[] = "/tmp/velmar-separate-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  const std::string run = dir, device = run + "/device", events = run + "/events.log";

  int input[2];
  ASSERT_EQ(0, pipe(input));
  pid_t velmar = fork();
  if (velmar == 0) {
    dup2(input[0], 0);
    close(input[0]);
    close(input[1]);
    execl(VELMAR_EXE, VELMAR_EXE, "--headless", "--device", device.c_str(), "--script", "-",
          "--events", events.c_str(), "--speed", "4", (char*)nullptr);
    _exit(127);
  }
  close(input[0]);
  auto say = [&](const std::string& lines) {
    ASSERT_EQ((ssize_t)lines.size(), write(input[1], lines.data(), lines.size()));
  };

  /* The device root is Velmar's once it has laid out the fresh device. */
  struct stat st;
  for (int i = 0; i < 2000 && stat((device + "/residentflash2/Velmar/config.ini").c_str(), &st) != 0; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  plat::set_device_root(device);
  HWND shell = nullptr;
  ASSERT_TRUE(pump_until([&] { return (shell = FindWindowW(TEXT("APS"), TEXT("APS"))) != nullptr; }, 10000))
      << read_file(events);

  WNDCLASSW wc = {};
  wc.lpfnWndProc = navi_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = TEXT("SeparateNavi");
  RegisterClassW(&wc);
  HWND navi = CreateWindowExW(0, wc.lpszClassName, TEXT("ZRNC_VmNavi"), WS_POPUP, 0, 0, 800, 480,
                              nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(nullptr, navi);

  say("phone start\nphone info 13800000000\n");
  ASSERT_TRUE(pump_until([&] { return stat((device + "/temp/BluetoothInfo.txt").c_str(), &st) == 0; }, 10000));
  COPYDATASTRUCT empty = {};
  SendMessageW(shell, WM_COPYDATA, 256, (LPARAM)&empty);
  say("expect-page 3\nphone active\nexpect-page 4\ndtmf 02#0113456700225432\n");
  EXPECT_TRUE(pump_until([] { return received.count > 0; }, 30000)) << read_file(events);
  EXPECT_EQ(1, received.count);
  EXPECT_EQ((WPARAM)256, received.wparam);
  EXPECT_EQ((DWORD)520, received.bytes);
  EXPECT_EQ(plat::utf8_to_utf16("(TNC,2,0,22.543200,113.456700,话务员设定地址)"), received.text);
  /* The shell brings the navigation program to the front with it. */
  EXPECT_TRUE(pump_until([&] { return GetForegroundWindow() == navi; }, 5000));

  say("phone ended\nexpect-page 0\nquit\n");
  close(input[1]);
  int status = 0;
  bool ended = pump_until([&] { return waitpid(velmar, &status, WNOHANG) == velmar; }, 30000);
  if (!ended) {
    kill(velmar, SIGKILL);
    waitpid(velmar, &status, 0);
  }
  EXPECT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read_file(events);
  std::string log = read_file(events);
  EXPECT_NE(std::string::npos, log.find("\"ev\":\"page\",\"id\":3")) << "WM_COPYDATA 256 opened the dialing page";
  DestroyWindow(navi);
  std::string command = "rm -rf '" + run + "'";
  EXPECT_EQ(0, system(command.c_str()));
}

}  // namespace
