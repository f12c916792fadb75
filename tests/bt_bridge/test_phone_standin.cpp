/* The simulated device's phone stand-in, camera drivers and console
 * commands, driven as the console would (host only: the simulator). A test
 * window of class and title "APS" on this test's own thread stands for the
 * shell and records what reaches it. */
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../platform/event_recorder.h"
#include "bt_bridge.h"
#include "device_commands.h"
#include "device_folder.h"
#include "phone.h"

namespace {

struct ShellMessage {
  UINT message;
  WPARAM wparam;
  std::u16string device;  /* WM_DEVICECHANGE: the name at byte offset 12 */
};

std::mutex shell_lock;
std::vector<ShellMessage> shell_messages;

LRESULT CALLBACK shell_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DEVICECHANGE || message == WM_COPYDATA || (message >= 7028 && message <= 7029) ||
      (message >= 8028 && message <= 8033) || message == 30583) {
    ShellMessage m = {message, wparam, u""};
    if (message == WM_DEVICECHANGE && lparam) m.device = (const char16_t*)((const BYTE*)lparam + 12);
    std::lock_guard<std::mutex> guard(shell_lock);
    shell_messages.push_back(m);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

std::vector<ShellMessage> take_shell() {
  std::lock_guard<std::mutex> guard(shell_lock);
  return std::move(shell_messages);
}

/* The shell's stand-in window runs on a thread of its own, as the shell's
 * UI thread would, so that commands sent from this thread are answered. */
struct ShellThread {
  std::atomic<HWND> window{nullptr};
  std::thread thread;
  void start() {
    thread = std::thread([this] {
      WNDCLASSW wc = {};
      wc.lpfnWndProc = shell_proc;
      wc.lpszClassName = u"APS";
      RegisterClassW(&wc);
      HWND w = CreateWindowExW(0, u"APS", u"APS", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                               nullptr);
      window = w;
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    });
    while (!window) Sleep(1);
  }
  void stop() {
    PostMessageW(window, WM_QUIT, 0, 0);
    thread.join();
  }
};

bool run(const std::string& line, std::string* error = nullptr) {
  size_t space = line.find(' ');
  std::string name = line.substr(0, space);
  std::string args = space == std::string::npos ? "" : line.substr(space + 1);
  const sim::DeviceCommand* command = sim::find_device_command(name);
  if (!command) return false;
  std::string ignored;
  return command->run(args, error ? error : &ignored);
}

bool has_line(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

class PhoneStandin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    make_test_device("phone_standin");
    sim::phone_attach(plat::HostOptions());
    shell.start();
  }
  static void TearDownTestSuite() { shell.stop(); }
  void SetUp() override {
    take_shell();
    recorder().take();
  }
  static ShellThread shell;
};

ShellThread PhoneStandin::shell;

TEST_F(PhoneStandin, PhoneRecordsTheShellsMessagesWithClientNo) {
  ASSERT_TRUE(run("phone start"));
  HWND phone = FindWindowW(nullptr, u"kvybluetooth");
  ASSERT_TRUE(phone != nullptr);
  EXPECT_FALSE(IsWindowVisible(phone));
  bt_dial(u"4006601234");
  bt_send_key(11);
  bt_hangup();
  bt_answer();
  std::vector<std::string> lines = recorder().take();
  EXPECT_TRUE(has_line(lines, "\"ev\":\"bt\",\"msg\":\"WM_BT_DIAL\",\"wparam\":0,\"clientno\":\"4006601234\""));
  EXPECT_TRUE(has_line(lines, "\"msg\":\"WM_BT_SEND_KEY\",\"wparam\":11"));
  EXPECT_TRUE(has_line(lines, "\"msg\":\"WM_BT_HANGUP\",\"wparam\":0"));
  EXPECT_TRUE(has_line(lines, "\"msg\":\"WM_BT_ANSWER\",\"wparam\":0"));
  ASSERT_TRUE(run("phone stop"));
  EXPECT_TRUE(FindWindowW(nullptr, u"kvybluetooth") == nullptr);
}

TEST_F(PhoneStandin, PhoneEventsReachTheShell) {
  ASSERT_TRUE(run("phone info 13800000000"));
  EXPECT_EQ(bt_read_info_present(), 1);
  ASSERT_TRUE(run("phone incoming 02087651234"));
  char number[261] = {0};
  EXPECT_EQ(bt_read_number(number, 260), 11);
  EXPECT_STREQ(number, "02087651234");
  ASSERT_TRUE(run("phone active"));
  ASSERT_TRUE(run("phone ended"));
  ASSERT_TRUE(run("phone info -"));
  EXPECT_EQ(bt_read_info_present(), 0);
  std::vector<ShellMessage> seen = take_shell();
  const UINT expected[] = {8029, 8028, 8033, 8030, 8029};
  ASSERT_EQ(seen.size(), 5u);
  for (size_t i = 0; i < 5; i++) EXPECT_EQ(seen[i].message, expected[i]) << i;
  const char* wrong[] = {"phone", "phone ring", "phone start now", "phone info", "phone incoming"};
  for (const char* line : wrong) EXPECT_FALSE(run(line)) << line;
  EXPECT_TRUE(take_shell().empty());
}

TEST_F(PhoneStandin, OtherProgramsMessages) {
  const struct {
    const char* line;
    UINT message;
    WPARAM wparam;
    const char16_t* device;
  } cases[] = {
      {"sd insert", WM_DEVICECHANGE, 0x8000, u"DSK1:"},
      {"sd remove", WM_DEVICECHANGE, 0x8004, u"DSK1:"},
      {"camera show", 7028, 0, u""},
      {"camera hide", 7029, 0, u""},
      {"copydata 256", WM_COPYDATA, 256, u""},
      {"hangup-home", 30583, 0, u""},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(run(c.line)) << c.line;
    std::vector<ShellMessage> seen = take_shell();
    ASSERT_EQ(seen.size(), 1u) << c.line;
    EXPECT_EQ(seen[0].message, c.message) << c.line;
    EXPECT_EQ(seen[0].wparam, c.wparam) << c.line;
    EXPECT_EQ(seen[0].device, c.device) << c.line;
  }
  const char* wrong[] = {"sd", "sd eject", "camera", "camera on", "copydata", "copydata x",
                         "hangup-home now", "foreground", "foreground NoSuchWindow"};
  for (const char* line : wrong) EXPECT_FALSE(run(line)) << line;
  EXPECT_TRUE(take_shell().empty());
}

/* The value as read back: type and bytes. */
bool read_value(HKEY root, const char16_t* key_name, const char16_t* name, DWORD* type,
                std::vector<BYTE>* data) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, key_name, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  BYTE buffer[256];
  DWORD size = sizeof buffer;
  LONG r = RegQueryValueExW(key, name, nullptr, type, buffer, &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return false;
  data->assign(buffer, buffer + size);
  return true;
}

std::vector<BYTE> utf16_bytes(const std::u16string& s) {
  std::vector<BYTE> out;
  for (char16_t c : s) out.insert(out.end(), {(BYTE)(c & 0xFF), (BYTE)(c >> 8)});
  out.insert(out.end(), {0, 0});
  return out;
}

TEST_F(PhoneStandin, RegistryCommand) {
  const struct {
    const char* line;
    HKEY root;
    const char16_t* key;
    const char16_t* name;
    DWORD type;
    std::vector<BYTE> data;
  } cases[] = {
      {"registry HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvory\\GpsNavi UseFM REG_DWORD 1", HKEY_LOCAL_MACHINE,
       u"SOFTWARE\\Kelvory\\GpsNavi", u"UseFM", REG_DWORD, {1, 0, 0, 0}},
      {"registry HKLM\\SOFTWARE\\Kelvory\\GpsNavi BlueToothAutoRun REG_DWORD 0x10203", HKEY_LOCAL_MACHINE,
       u"SOFTWARE\\Kelvory\\GpsNavi", u"BlueToothAutoRun", REG_DWORD, {3, 2, 1, 0}},
      {"registry Software\\Kelvory\\Bluetooth ClientNo REG_SZ 400 660 1234", HKEY_LOCAL_MACHINE,
       u"Software\\Kelvory\\Bluetooth", u"ClientNo", REG_SZ, utf16_bytes(u"400 660 1234")},
      {"registry HKCU\\Test Name REG_SZ", HKEY_CURRENT_USER, u"Test", u"Name", REG_SZ, utf16_bytes(u"")},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(run(c.line)) << c.line;
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(read_value(c.root, c.key, c.name, &type, &data)) << c.line;
    EXPECT_EQ(type, c.type) << c.line;
    EXPECT_EQ(data, c.data) << c.line;
  }
  ASSERT_TRUE(run("registry HKLM\\SOFTWARE\\Kelvory\\GpsNavi UseFM delete"));
  DWORD type = 0;
  std::vector<BYTE> data;
  EXPECT_FALSE(read_value(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kelvory\\GpsNavi", u"UseFM", &type, &data));
  const char* wrong[] = {"registry", "registry K V", "registry K V REG_BINARY 00",
                         "registry K V REG_DWORD", "registry K V REG_DWORD 12x",
                         "registry K V REG_DWORD 0x100000000", "registry K V delete 1"};
  for (const char* line : wrong) EXPECT_FALSE(run(line)) << line;
}

TEST_F(PhoneStandin, ExpectFileReadsEachEncoding) {
  /* "导航" in UTF-8, GBK and UTF-16LE with its mark. */
  ASSERT_TRUE(write_file(u"\\temp\\utf8.txt", "to \xe5\xaf\xbc\xe8\x88\xaa now"));
  ASSERT_TRUE(write_file(u"\\temp\\gbk.txt", "to \xb5\xbc\xba\xbd now"));
  ASSERT_TRUE(write_file(u"\\temp\\utf16.txt", std::string("\xff\xfet\0o\0 \0\xfc\x5b\x2a\x82", 12)));
  const char* found[] = {"expect-file \\temp\\utf8.txt", "expect-file \\temp\\utf8.txt \xe5\xaf\xbc\xe8\x88\xaa now",
                         "expect-file \\temp\\gbk.txt \xe5\xaf\xbc\xe8\x88\xaa", "expect-file \\TEMP\\UTF16.TXT to \xe5\xaf\xbc\xe8\x88\xaa"};
  for (const char* line : found) EXPECT_TRUE(run(line)) << line;
  EXPECT_FALSE(run("expect-file")) << "usage";
}

TEST_F(PhoneStandin, SdWritePutsAnAnsiFileOnTheCard) {
  ASSERT_TRUE(run("sd write GpsAutoRun.ini \\residentflash2\\Alarm.exe"));
  ASSERT_TRUE(run("sd write note.txt \xe5\xaf\xbc\xe8\x88\xaa"));
  char text[64] = {0};
  FILE* f = _wfopen(u"\\sdmmc\\GpsAutoRun.ini", u"rb");
  ASSERT_TRUE(f != nullptr);
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  EXPECT_EQ(std::string(text, n), "\\residentflash2\\Alarm.exe");
  f = _wfopen(u"\\sdmmc\\note.txt", u"rb");
  ASSERT_TRUE(f != nullptr);
  n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  EXPECT_EQ(std::string(text, n), "\xb5\xbc\xba\xbd");
  /* Without TEXT the file is empty, as an empty auto-start file. */
  ASSERT_TRUE(run("sd write empty.ini"));
  f = _wfopen(u"\\sdmmc\\empty.ini", u"rb");
  ASSERT_TRUE(f != nullptr);
  EXPECT_EQ(fread(text, 1, sizeof text, f), 0u);
  fclose(f);
  EXPECT_FALSE(run("sd write ..\\x.txt text"));
  EXPECT_FALSE(run("sd write"));
}

TEST_F(PhoneStandin, CameraDriversLogEachRequest) {
  HANDLE sca = CreateFileW(u"SCA0:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(sca, INVALID_HANDLE_VALUE);
  BYTE input[4] = {0x3f, 0, 0xa0, 0xff};
  DWORD returned = 7;
  EXPECT_TRUE(DeviceIoControl(sca, 0x80012070, input, sizeof input, nullptr, 0, &returned, nullptr));
  EXPECT_EQ(returned, 0u);
  CloseHandle(sca);
  std::vector<std::string> lines = recorder().take();
  EXPECT_TRUE(has_line(lines, "\"ev\":\"ioctl\",\"device\":\"SCA0:\",\"code\":\"0x80012070\",\"input\":\"3f00a0ff\""));
}

}  // namespace
