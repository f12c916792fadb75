/* The main window's message table through the real window: the call
 * notifications of the Bluetooth program (pages, call record, answering a
 * service-centre number, the window in front before the call), the requests
 * of other programs (WM_COPYDATA 256, WM_HANGUP_HOME, the camera picture),
 * the Alt key, the clock/date line and the SD card watch. */
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bt_bridge.h"
#include "gps_wiring.h"
#include "pages.h"
#include "shell_fixture.h"
#include "shell_init.h"

#ifndef _WIN32
#include <atomic>
#endif

namespace {

using shell_test::pump;
using shell_test::wstring;

/* What the stand-in Bluetooth window received. */
std::vector<UINT> phone_messages;

LRESULT CALLBACK phone_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_BT_ANSWER || message == WM_BT_HANGUP) phone_messages.push_back(message);
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK plain_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

class ShellMessages : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device_.open("shell-messages"));
    ASSERT_TRUE(device_.write(TEXT("Velmar.res"), shell_test::empty_skin()));
    ASSERT_TRUE(device_.write(TEXT("config.ini"), shell_test::default_config()));
    ASSERT_TRUE(device_.write(BT_INFO_FILE, ""));
    shell_test::reset_shell_state();
    shell_test::open_screen();

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = phone_proc;
    window_class.hInstance = instance;
    window_class.lpszClassName = TEXT("PhoneStandIn");
    RegisterClassW(&window_class);
    window_class.lpfnWndProc = plain_proc;
    window_class.lpszClassName = TEXT("OtherProgram");
    RegisterClassW(&window_class);
    /* The Bluetooth program's window, and another program's. */
    phone_ = CreateWindowExW(0, TEXT("PhoneStandIn"), BT_WINDOW_TITLE, WS_POPUP, 0, 0, 10, 10,
                             nullptr, nullptr, instance, nullptr);
    other_ = CreateWindowExW(0, TEXT("OtherProgram"), TEXT("Other"), WS_POPUP, 0, 0, 100, 100,
                             nullptr, nullptr, instance, nullptr);
    ASSERT_NE(phone_, nullptr);
    ASSERT_NE(other_, nullptr);

    window_ = create_main_window(instance);
    ASSERT_NE(window_, nullptr);
    pump();
    phone_messages.clear();
  }

  void TearDown() override {
    if (IsWindow(window_)) DestroyWindow(window_);
    if (IsWindow(phone_)) DestroyWindow(phone_);
    if (IsWindow(other_)) DestroyWindow(other_);
    pump();
    HINSTANCE instance = GetModuleHandleW(nullptr);
    UnregisterClassW(MAIN_WINDOW_CLASS, instance);
    UnregisterClassW(TEXT("PhoneStandIn"), instance);
    UnregisterClassW(TEXT("OtherProgram"), instance);
    device_.close();
  }

  int page() const { return vx_page_current_id(page_manager); }
  LRESULT send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    return SendMessageW(window_, message, wparam, lparam);
  }
  /* Another program comes to the front. */
  void bring_other_to_front() {
    ShowWindow(other_, SW_SHOW);
    SetForegroundWindow(other_);
    ASSERT_EQ(GetForegroundWindow(), other_);
  }
  void incoming(const std::string& number) {
    ASSERT_TRUE(device_.write(BT_INFO_FILE, number));
    EXPECT_EQ(send(WM_BT_INCOMING_CALL), 0);
  }

  shell_test::ShellDevice device_;
  HWND window_ = nullptr;
  HWND phone_ = nullptr;
  HWND other_ = nullptr;
};

TEST_F(ShellMessages, OrdinaryCallFromIncomingToEndRestoresTheWindowInFront) {
  bring_other_to_front();
  incoming("13912345678");
  EXPECT_EQ(page(), PAGE_INCOMING_CALL);
  EXPECT_EQ(call_info.mode, CALL_MODE_NUMBER);
  EXPECT_TRUE(wstring(call_info.number) == TEXT("13912345678"));
  EXPECT_EQ(GetForegroundWindow(), window_);
  EXPECT_EQ(previous_foreground, other_);
  EXPECT_TRUE(phone_messages.empty());

  /* The shell is in front now: the window kept stays the one before the call. */
  EXPECT_EQ(send(WM_BT_CALL_ACTIVE), 0);
  EXPECT_EQ(page(), PAGE_IN_CALL);
  EXPECT_EQ(previous_foreground, other_);
  EXPECT_EQ(nav_stack.top, 2);

  EXPECT_EQ(send(WM_BT_CALL_ENDED), 0);
  EXPECT_EQ(page(), PAGE_DESKTOP);
  EXPECT_EQ(nav_stack.top, 0);
  EXPECT_EQ(call_info.number[0], 0);
  EXPECT_EQ(call_info.mode, 0);
  EXPECT_EQ(GetForegroundWindow(), other_);
  EXPECT_EQ(previous_foreground, nullptr);
}

TEST_F(ShellMessages, CallEndedWithoutACallPageChangesNothing) {
  SetForegroundWindow(window_);
  previous_foreground = other_;
  lstrcpyW(call_info.number, TEXT("555"));
  EXPECT_EQ(send(WM_BT_CALL_ENDED), 0);
  EXPECT_EQ(page(), PAGE_DESKTOP);
  EXPECT_EQ(previous_foreground, other_);
  EXPECT_TRUE(wstring(call_info.number) == TEXT("555"));
  EXPECT_NE(GetForegroundWindow(), other_);
}

TEST_F(ShellMessages, NumbersOfTheCentreListAreAnsweredAtOnce) {
  const struct {
    const char* number;
    bool centre;
  } cases[] = {
      {"222", true},   /* the last item */
      {"111", true},   /* the first */
      {"22", false},   /* only part of an item */
      {"111*222", false},
      {"", false},     /* a missing or empty information file */
      {"2222", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    nav_home();
    phone_messages.clear();
    incoming(c.number);
    if (c.centre) {
      EXPECT_EQ(phone_messages, std::vector<UINT>{WM_BT_ANSWER});
      EXPECT_EQ(call_info.mode, CALL_MODE_CENTRE);
      EXPECT_EQ(page(), PAGE_DESKTOP);
    } else {
      EXPECT_TRUE(phone_messages.empty());
      EXPECT_EQ(call_info.mode, CALL_MODE_NUMBER);
      EXPECT_EQ(page(), PAGE_INCOMING_CALL);
    }
  }
}

TEST_F(ShellMessages, IncomingNumberIsCutToTheRecordsWidth) {
  incoming("123456789012345678901234");
  EXPECT_TRUE(wstring(call_info.number) == TEXT("1234567890123456789"));
  EXPECT_EQ(page(), PAGE_INCOMING_CALL);
}

TEST_F(ShellMessages, NumberListMatchesWholeItemsOnly) {
  const struct {
    const WCHAR* list;
    const WCHAR* number;
    int listed;
  } cases[] = {
      {TEXT("111*222"), TEXT("222"), 1},
      {TEXT("111*222"), TEXT("111"), 1},
      {TEXT("111*222"), TEXT("22"), 0},
      {TEXT("111*222"), TEXT("11"), 0},
      {TEXT("111*222"), TEXT("1112"), 0},
      {TEXT("222"), TEXT("222"), 1},
      {TEXT("111*222*333"), TEXT("222"), 1},
      /* a later occurrence that is a whole item counts */
      {TEXT("122*22"), TEXT("22"), 1},
      {TEXT("111*"), TEXT("111"), 1},
      {TEXT(""), TEXT("111"), 0},
      {TEXT(""), TEXT(""), 0},
      {TEXT("*111"), TEXT(""), 0},
      {TEXT("111**222"), TEXT(""), 0},
      {nullptr, TEXT("111"), 0},
      {TEXT("111"), nullptr, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(number_in_list(c.list, c.number), c.listed)
        << "list " << (c.list ? std::string(c.list, c.list + lstrlenW(c.list)) : "null") << ", number "
        << (c.number ? std::string(c.number, c.number + lstrlenW(c.number)) : "null");
  }
}

TEST_F(ShellMessages, HangupHomeOnlyFromACallPage) {
  /* On the desktop nothing happens and the phone hears nothing. */
  send(WM_HANGUP_HOME);
  EXPECT_TRUE(phone_messages.empty());
  EXPECT_EQ(page(), PAGE_DESKTOP);

  bring_other_to_front();
  incoming("555");
  send(WM_BT_CALL_ACTIVE);
  ASSERT_EQ(page(), PAGE_IN_CALL);
  send(WM_HANGUP_HOME);
  EXPECT_EQ(phone_messages, std::vector<UINT>{WM_BT_HANGUP});
  EXPECT_EQ(page(), PAGE_DESKTOP);
  EXPECT_EQ(nav_stack.top, 0);
  EXPECT_EQ(call_info.number[0], 0);
  /* The window in front before the call is neither restored nor forgotten. */
  EXPECT_EQ(previous_foreground, other_);
  EXPECT_EQ(GetForegroundWindow(), window_);
}

TEST_F(ShellMessages, CopyData256OpensDialingOrTheNoPhoneNotice) {
  const struct {
    const char* info;
    int page;
  } cases[] = {
      {"", PAGE_NO_PHONE},
      {"1", PAGE_NO_PHONE},
      {"12", PAGE_DIALING},
      {"13912345678", PAGE_DIALING},
  };
  COPYDATASTRUCT data = {1, 0, nullptr};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.info);
    nav_home();
    call_info.mode = CALL_MODE_NUMBER;
    previous_foreground = nullptr;
    ASSERT_TRUE(device_.write(BT_INFO_FILE, c.info));
    EXPECT_EQ(send(WM_BT_INFO_CHANGED), 0);
    bring_other_to_front();
    EXPECT_EQ(send(WM_COPYDATA, (WPARAM)other_, (LPARAM)&data), 0);
    EXPECT_EQ(page(), PAGE_DESKTOP) << "the window handle as wParam is not a request";
    EXPECT_EQ(send(WM_COPYDATA, COPYDATA_OPEN_DIALING, (LPARAM)&data), 0);
    EXPECT_EQ(page(), c.page);
    EXPECT_EQ(nav_stack.top, 1);
    EXPECT_EQ(call_info.mode, c.page == PAGE_DIALING ? CALL_MODE_CENTRE : CALL_MODE_NUMBER);
    EXPECT_EQ(GetForegroundWindow(), window_);
    EXPECT_EQ(previous_foreground, nullptr);
  }
}

TEST_F(ShellMessages, AltKeyRaisesTheShell) {
  const struct {
    WPARAM key;
    bool raised;
  } cases[] = {{'A', false}, {VK_RETURN, false}, {VK_MENU, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    bring_other_to_front();
    send(WM_KEYDOWN, c.key, 0);
    EXPECT_EQ(GetForegroundWindow() == window_, c.raised);
  }
}

TEST_F(ShellMessages, CameraPictureOnlyOverTheNavigationProgramInFront) {
  HWND navigation = CreateWindowExW(0, TEXT("OtherProgram"), CAMERA_WINDOW_TITLE, WS_POPUP, 0, 0,
                                    100, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(navigation, nullptr);
  bring_other_to_front();
  send(WM_CAMERA_SHOW);
  EXPECT_EQ(camera_shown, 0);
  ShowWindow(navigation, SW_SHOW);
  SetForegroundWindow(navigation);
  send(WM_CAMERA_SHOW);
  EXPECT_EQ(camera_shown, 1);
  send(WM_CAMERA_HIDE);
  EXPECT_EQ(camera_shown, 0);
  send(WM_CAMERA_HIDE);
  EXPECT_EQ(camera_shown, 0);
  DestroyWindow(navigation);
}

TEST_F(ShellMessages, DateLineFormatting) {
  const struct {
    WORD year, month, day, weekday, hour, minute;
    const WCHAR* text;
  } cases[] = {
      {2026, 12, 10, 4, 9, 5, TEXT("2026-12-10 星期四 09:05")},
      {2014, 3, 16, 0, 0, 0, TEXT("2014-03-16 星期日 00:00")},
      {999, 1, 1, 6, 23, 59, TEXT("0999-01-01 星期六 23:59")},
      {2024, 2, 29, 1, 12, 30, TEXT("2024-02-29 星期一 12:30")},
  };
  for (const auto& c : cases) {
    SYSTEMTIME time = {};
    time.wYear = c.year;
    time.wMonth = c.month;
    time.wDay = c.day;
    time.wDayOfWeek = c.weekday;
    time.wHour = c.hour;
    time.wMinute = c.minute;
    time.wSecond = 42;
    WCHAR text[CLOCK_TEXT_SIZE];
    format_clock_text(&time, text, CLOCK_TEXT_SIZE);
    EXPECT_TRUE(wstring(text) == c.text) << c.year << "-" << c.month << "-" << c.day;
  }
  /* A small buffer is cut and terminated. */
  WCHAR small[5];
  SYSTEMTIME time = {2026, 12, 4, 10, 9, 5, 0, 0};
  format_clock_text(&time, small, 5);
  EXPECT_TRUE(wstring(small) == TEXT("2026"));
}

TEST_F(ShellMessages, DateLineOnlyOnceTheClockIsSet) {
  EXPECT_EQ(send(WM_TIMER, SHELL_CLOCK_TIMER_ID, 0), 0);
  EXPECT_EQ(clock_text[0], 0);

  clock_set = 1;
  EXPECT_EQ(send(WM_TIMER, 99, 0), 0);
  EXPECT_EQ(clock_text[0], 0);
#ifndef _WIN32
  /* A clock set to a known local time gives its line. */
  SYSTEMTIME set = {2026, 12, 4, 10, 9, 5, 0, 0};
  ASSERT_TRUE(SetLocalTime(&set));
  EXPECT_EQ(send(WM_TIMER, SHELL_CLOCK_TIMER_ID, 0), 0);
  EXPECT_TRUE(wstring(clock_text) == TEXT("2026-12-10 星期四 09:05"));
#else
  /* The real clock is not set here: the line is the local time's. */
  SYSTEMTIME before, after;
  GetLocalTime(&before);
  EXPECT_EQ(send(WM_TIMER, SHELL_CLOCK_TIMER_ID, 0), 0);
  GetLocalTime(&after);
  WCHAR early[CLOCK_TEXT_SIZE], late[CLOCK_TEXT_SIZE];
  format_clock_text(&before, early, CLOCK_TEXT_SIZE);
  format_clock_text(&after, late, CLOCK_TEXT_SIZE);
  EXPECT_TRUE(wstring(clock_text) == early || wstring(clock_text) == late);
#endif
}

#ifndef _WIN32
/* The receiver's sentences as the reader hands them over: a GGA fix, an RMC
 * with an empty status and one with a date the platform refuses show the fix
 * but no date line; the first valid RMC sets the clock and brings the line. */
TEST_F(ShellMessages, DateLineOnlyOnceAValidRmcSetTheClock) {
  ASSERT_NE(shell_gps_data, nullptr);
  SYSTEMTIME known = {2001, 1, 0, 1, 0, 0, 0, 0};
  ASSERT_TRUE(SetSystemTime(&known));
  const char* no_clock[] = {
      "$GPGGA,092750,4807.0380,N,01131.0000,E,1,8,1.03,61.7,M,55.2,M,,*00\r\n",
      "$GPRMC,111111,,4807.0380,N,01131.0000,E,0,0,010120,,*00\r\n",
      "$GPRMC,123519,A,4807.0380,N,01131.0000,E,0,0,310294,,*00\r\n",
  };
  for (const char* sentence : no_clock) {
    gps_sentence_callback(nullptr, 0, sentence, (int)strlen(sentence));
    pump();
    EXPECT_EQ(send(WM_TIMER, SHELL_CLOCK_TIMER_ID, 0), 0);
    EXPECT_EQ(clock_set, 0) << sentence;
    EXPECT_EQ(clock_text[0], 0) << sentence;
    EXPECT_EQ(gps_wiring_has_fix(), 1) << sentence;
  }
  const char valid[] = "$GPRMC,123519,A,4807.0380,N,01131.0000,E,0,0,230394,,*00\r\n";
  gps_sentence_callback(nullptr, 0, valid, (int)strlen(valid));
  pump(); /* the reader's WM_TIMER 100 */
  EXPECT_EQ(clock_set, 1);
  /* 12:35 UTC is 20:35 on the device (UTC+8) */
  EXPECT_EQ(wstring(clock_text).substr(0, 10), wstring(TEXT("2094-03-23")));
  EXPECT_EQ(wstring(clock_text).substr(wstring(clock_text).size() - 5), wstring(TEXT("20:35")));
}
#endif

/* A device broadcast header as WM_DEVICECHANGE carries it: size, device
 * type, reserved, then the name from byte 12. */
struct DeviceBroadcast {
  DWORD size;
  DWORD device_type;
  DWORD reserved;
  WCHAR name[16];
};

TEST_F(ShellMessages, SdCardWatchReadsTheDebugLevelOnlyForDsk1) {
  ASSERT_TRUE(device_.write(TEXT("sdmmc\\debug.lev"), "3\r\n"));
  const struct {
    WPARAM event;
    const WCHAR* name;
    int before, after;
  } cases[] = {
      {0x8000, TEXT("DSK1:"), 0, 3},
      {0x8000, TEXT("dsk1:"), 1, 3},
      {0x8004, TEXT("DSK1:"), 3, 0},
      {0x8004, TEXT("Dsk1:"), 4, 0},
      {0x8000, TEXT("DSK2:"), 0, 0},
      {0x8004, TEXT("DSK2:"), 4, 4},
      {0x8000, TEXT("DSK1"), 0, 0},
      {0x8004, TEXT("DSK1:x"), 4, 4},
      {0x8007, TEXT("DSK1:"), 4, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.event) + " " + std::string(c.name, c.name + lstrlenW(c.name)));
    DeviceBroadcast header = {};
    header.size = sizeof header;
    lstrcpyW(header.name, c.name);
    debug_level = c.before;
    send(WM_DEVICECHANGE, c.event, (LPARAM)&header);
    EXPECT_EQ(debug_level, c.after);
  }
  /* Without a header nothing is read. */
  debug_level = 2;
  send(WM_DEVICECHANGE, 0x8004, 0);
  EXPECT_EQ(debug_level, 2);
}

#ifndef _WIN32
/* The card's auto-start file names a program, started when the card arrives
 * (a stand-in program registered with the host). */
TEST_F(ShellMessages, SdCardArrivalStartsTheAutoStartProgram) {
  std::atomic<int> started{0};
  plat::register_program(u"\\sdmmc\\Auto.exe", [&](const std::u16string&) -> DWORD {
    started++;
    return 0;
  });
  ASSERT_TRUE(device_.write(TEXT("sdmmc\\GpsAutoRun.ini"), "\\sdmmc\\Auto.exe"));
  DeviceBroadcast header = {sizeof header, 0, 0, {}};
  lstrcpyW(header.name, TEXT("DSK1:"));
  send(WM_DEVICECHANGE, 0x8004, (LPARAM)&header);
  EXPECT_EQ(started.load(), 0);
  send(WM_DEVICECHANGE, 0x8000, (LPARAM)&header);
  for (int i = 0; i < 200 && started.load() == 0; i++) Sleep(10);
  EXPECT_EQ(started.load(), 1);
  plat::unregister_programs();
}
#endif

}  // namespace
