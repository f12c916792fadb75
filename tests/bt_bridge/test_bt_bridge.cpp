/* The phone bridge as the Bluetooth program sees it: a window titled
 * "kvybluetooth" on this thread receives the messages (sent, so handled
 * before the call returns), ClientNo is read back from inside the handler,
 * and the information file is written byte for byte. */
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "bt_bridge.h"
#include "device_folder.h"
#include "shell_globals.h"

namespace {

typedef std::basic_string<WCHAR> WString;

struct Received {
  UINT message;
  WPARAM wparam;
  DWORD clientno_type;
  DWORD clientno_bytes;
  WString clientno;  /* as the phone would read it while handling the message */
};

std::vector<Received> received;

Received read_clientno(UINT message, WPARAM wparam) {
  Received r = {message, wparam, 0, 0, WString()};
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Software\\Kelvory\\Bluetooth"), 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return r;
  WCHAR text[64] = {0};
  DWORD size = sizeof text - sizeof(WCHAR);
  if (RegQueryValueExW(key, TEXT("ClientNo"), NULL, &r.clientno_type, (BYTE*)text, &size) ==
      ERROR_SUCCESS) {
    r.clientno_bytes = size;
    r.clientno = text;
  }
  RegCloseKey(key);
  return r;
}

LRESULT CALLBACK phone_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message >= 8027 && message <= 8034) {
    received.push_back(read_clientno(message, wparam));
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void delete_clientno() {
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Software\\Kelvory\\Bluetooth"), 0, KEY_WRITE, &key) ==
      ERROR_SUCCESS) {
    RegDeleteValueW(key, TEXT("ClientNo"));
    RegCloseKey(key);
  }
}

class BtBridge : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    make_test_device("bt_bridge");
    WNDCLASSW wc = {};
    wc.lpfnWndProc = phone_proc;
    wc.lpszClassName = TEXT("PhoneTestClass");
    RegisterClassW(&wc);
  }
  void SetUp() override {
    received.clear();
    delete_clientno();
    DeleteFileW(BT_INFO_FILE);
    bt_started_by_shell = 0;
  }
  void TearDown() override {
    if (phone) DestroyWindow(phone);
    phone = NULL;
  }
  void open_phone(DWORD style = 0) {
    phone = CreateWindowExW(0, TEXT("PhoneTestClass"), TEXT("kvybluetooth"), WS_POPUP | style, 0, 0,
                            100, 100, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(phone != NULL);
  }
  HWND phone = NULL;
};

TEST_F(BtBridge, EachOperationSendsItsMessage) {
  open_phone();
  const struct {
    const char* what;
    void (*run)();
    UINT message;
    WPARAM wparam;
  } cases[] = {
      {"answer", [] { bt_answer(); }, 8034, 0},
      {"hang up", [] { bt_hangup(); }, 8031, 0},
      {"key 0", [] { bt_send_key(0); }, 8032, 0},
      {"key 7", [] { bt_send_key(7); }, 8032, 7},
      {"key 11", [] { bt_send_key(11); }, 8032, 11},
  };
  for (const auto& c : cases) {
    received.clear();
    c.run();
    ASSERT_EQ(received.size(), 1u) << c.what;
    EXPECT_EQ(received[0].message, c.message) << c.what;
    EXPECT_EQ(received[0].wparam, c.wparam) << c.what;
  }
}

TEST_F(BtBridge, DialStoresTheNumberBeforeTheMessage) {
  open_phone();
  const WCHAR* numbers[] = {TEXT("4006601234"), TEXT("1"), TEXT("")};
  for (const WCHAR* number : numbers) {
    received.clear();
    EXPECT_EQ(bt_dial(number), 0);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, (UINT)WM_BT_DIAL);
    EXPECT_EQ(received[0].wparam, 0u);
    EXPECT_EQ(received[0].clientno_type, (DWORD)REG_SZ);
    EXPECT_EQ(received[0].clientno_bytes, (DWORD)((lstrlenW(number) + 1) * sizeof(WCHAR)));
    EXPECT_TRUE(received[0].clientno == number);
  }
}

TEST_F(BtBridge, NullNumberDoesNothing) {
  open_phone();
  EXPECT_EQ(bt_dial(NULL), -1);
  EXPECT_TRUE(received.empty());
  EXPECT_EQ(read_clientno(0, 0).clientno_bytes, 0u);
}

TEST_F(BtBridge, WithoutThePhoneNothingIsSentButTheNumberIsStored) {
  bt_hangup();
  bt_answer();
  bt_send_key(3);
  EXPECT_EQ(bt_dial(TEXT("222")), 0);
  EXPECT_TRUE(received.empty());
  Received stored = read_clientno(0, 0);
  EXPECT_TRUE(stored.clientno == TEXT("222"));
}

TEST_F(BtBridge, InformationPresentOnlyAboveOneByte) {
  const struct {
    const char* what;
    bool exists;
    std::string bytes;
    int present;
  } cases[] = {
      {"missing", false, "", 0},
      {"empty", true, "", 0},
      {"one byte", true, "1", 0},
      {"two bytes", true, "12", 1},
      {"a number", true, "13800138000", 1},
      {"a zero byte first", true, std::string("\0" "12", 3), 0},
      {"longer than 260", true, std::string(400, '8'), 1},
  };
  for (const auto& c : cases) {
    DeleteFileW(BT_INFO_FILE);
    if (c.exists) {
      ASSERT_TRUE(write_file(BT_INFO_FILE, c.bytes)) << c.what;
    }
    EXPECT_EQ(bt_read_info_present(), c.present) << c.what;
  }
}

TEST_F(BtBridge, ReadNumberCopiesAtMostCapacityAndText) {
  const struct {
    const char* what;
    bool exists;
    std::string bytes;
    int capacity;
    std::string expected;
  } cases[] = {
      {"missing", false, "", 260, ""},
      {"a number", true, "13800138000", 260, "13800138000"},
      {"cut to capacity", true, "13800138000", 5, "13800"},
      {"stops at a zero byte", true, std::string("123\0" "456", 7), 260, "123"},
      {"first 259 bytes of a long file", true, std::string(300, '7'), 260, std::string(259, '7')},
  };
  for (const auto& c : cases) {
    DeleteFileW(BT_INFO_FILE);
    if (c.exists) {
      ASSERT_TRUE(write_file(BT_INFO_FILE, c.bytes)) << c.what;
    }
    char buffer[300];
    memset(buffer, '#', sizeof buffer);
    int copied = bt_read_number(buffer, c.capacity);
    EXPECT_EQ(copied, (int)c.expected.size()) << c.what;
    EXPECT_EQ(std::string(buffer, (size_t)copied), c.expected) << c.what;
    EXPECT_EQ(buffer[copied], '#') << c.what << ": nothing written past the copied bytes";
  }
}

TEST_F(BtBridge, ShowRaisesARunningPhoneWithoutStartingIt) {
  open_phone();
  ASSERT_FALSE(IsWindowVisible(phone));
  bt_show_program();
  EXPECT_TRUE(IsWindowVisible(phone));
  EXPECT_EQ(GetForegroundWindow(), phone);
  EXPECT_EQ(bt_started_by_shell, 0);
}

/* No program exists at "\residentflash2\Bluetooth.exe" here: the start fails
 * and the shell does not count the phone as started by it. */
TEST_F(BtBridge, ShowWithoutAPhoneThatCannotStartLeavesTheFlag) {
  bt_show_program();
  EXPECT_EQ(bt_started_by_shell, 0);
}

}  // namespace
