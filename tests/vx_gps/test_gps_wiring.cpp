/* The shell's GPS wiring over a pseudo-terminal COM13 (host only): start and
 * stop, the clock set once from the first valid RMC with WM_TIMER 100 to the
 * main window, and the record's status changes. */
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "gps_wiring.h"
#include "pty_port.h"
#include "shell_globals.h"

namespace {

std::atomic<int> clock_timers{0};

LRESULT CALLBACK test_main_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER && wparam == 100) {
    clock_timers++;
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

/* Sends one sentence and waits until the reader has taken it and (after a
 * pass) handed it on, handling the window's messages meanwhile. */
void feed(const PtyPort& pty, const std::string& sentence) {
  pty.send(sentence + "\r\n");
  ASSERT_TRUE(pty.drained());
  for (int i = 0; i < 40; i++) {
    Sleep(5);
    pump();
  }
}

class GpsWiring : public ::testing::Test {
 protected:
  PtyPort pty{u"COM13:"};
  HWND window = nullptr;

  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    WNDCLASSW wc = {};
    wc.lpfnWndProc = test_main_proc;
    wc.lpszClassName = TEXT("GpsWiringMain");
    RegisterClassW(&wc);
    window = CreateWindowExW(0, TEXT("GpsWiringMain"), TEXT("GpsWiringMain"), WS_POPUP, 0, 0, 10,
                             10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    main_window = window;
    clock_set = 0;
    clock_timers = 0;
    /* a known device clock before the run */
    SYSTEMTIME known = {2001, 1, 0, 1, 0, 0, 0, 0};
    ASSERT_TRUE(SetSystemTime(&known));
  }
  void TearDown() override {
    gps_wiring_stop();
    main_window = nullptr;
    DestroyWindow(window);
  }

  /* Starts the wiring and waits until sentences come through (the reader
   * purges the port when it starts). */
  void start() {
    ASSERT_EQ(0, gps_wiring_start());
    ASSERT_TRUE(eventually([&] {
      pty.send("$GPGSV,1,1,01,07,10,010,30*00\r\n");
      return eventually([] { return shell_gps_data->satellite_count == 1; }, 150);
    }));
  }
};

const char kNoFix[] = "$GPRMC,081830,V,4807.0380,N,01131.0000,E,0,0,230394,,*00";
const char kFix[] = "$GPRMC,123519,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,003.1,W*6A";
const char kLaterFix[] = "$GPRMC,101010,A,4807.0380,N,01131.0000,E,0,0,150630,,*00";

/* kFix sets the clock to its time and date and tells the main window once. */
void expect_clock_from_fix(const PtyPort& pty) {
  feed(pty, kFix);
  EXPECT_TRUE(eventually([] { pump(); return clock_timers.load() == 1; }));
  EXPECT_EQ(1, clock_set);
  SYSTEMTIME now;
  GetSystemTime(&now);
  EXPECT_EQ(2094, now.wYear);
  EXPECT_EQ(3, now.wMonth);
  EXPECT_EQ(23, now.wDay);
  EXPECT_EQ(12, now.wHour);
  EXPECT_EQ(35, now.wMinute);
  EXPECT_LE(now.wSecond - 19, 2) << "the clock runs on from 12:35:19";
}

TEST_F(GpsWiring, StartOpensTheReceiverAndStopClosesIt) {
  start();
  ASSERT_TRUE(shell_gps_data);
  EXPECT_EQ('V', shell_gps_data->status);
  EXPECT_EQ(1, shell_gps_data->parse_motion);
  EXPECT_EQ(1, shell_gps_port.polling);
  EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, GetThreadPriority(shell_gps_port.thread));
  EXPECT_EQ(0, gps_wiring_has_fix());
  feed(pty, kFix);
  EXPECT_EQ(1, gps_wiring_has_fix());
  gps_wiring_stop();
  EXPECT_EQ(nullptr, shell_gps_data);
  EXPECT_EQ((HANDLE)0, shell_gps_port.port);
  EXPECT_EQ(-1, gps_sentence_callback(&shell_gps_port, WM_GPS_SENTENCE, kFix, sizeof kFix - 1));
  /* the port is free again */
  HANDLE again = CreateFileW(TEXT("COM13:"), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, again);
  CloseHandle(again);
}

TEST_F(GpsWiring, WithoutTheReceiverTheRecordStaysSilent) {
  plat::serial_detach(u"COM13:");
  EXPECT_EQ(-1, gps_wiring_start());
  ASSERT_TRUE(shell_gps_data);
  EXPECT_EQ(0, shell_gps_data->status);
  EXPECT_EQ((HANDLE)0, shell_gps_port.thread);
  EXPECT_EQ(0, gps_wiring_has_fix());
}

TEST_F(GpsWiring, FirstValidRmcSetsTheClockOnceAndRefreshesTheClockLine) {
  start();
  feed(pty, kNoFix);
  EXPECT_EQ(0, clock_set);
  EXPECT_EQ(0, clock_timers.load());
  expect_clock_from_fix(pty);
  SYSTEMTIME now;
  /* a later fix changes nothing */
  feed(pty, kLaterFix);
  EXPECT_EQ(1, clock_timers.load());
  GetSystemTime(&now);
  EXPECT_EQ(2094, now.wYear);
}

/* Sentences that must neither set the clock nor spend the attempt, each
 * followed by the valid RMC that then sets it from its own time and date. */
struct NoClockCase {
  const char* name;
  std::vector<const char*> before;
  bool fix_before; /* the GPS indicator shows a fix after `before` */
};

const NoClockCase kNoClockCases[] = {
    /* a day early had the GGA's time gone with the no-fix RMC's date */
    {"midnight",
     {"$GPRMC,235959,V,,,,,,,311219,,*00",
      "$GPGGA,000001,4807.0380,N,01131.0000,E,1,8,1.03,61.7,M,55.2,M,,*00"},
     true},
    {"GGA before RMC",
     {"$GPGGA,092750,4807.0380,N,01131.0000,E,1,8,1.03,61.7,M,55.2,M,,*00"}, true},
    /* the record counts an empty status as a fix; the clock does not */
    {"empty status", {"$GPRMC,111111,,4807.0380,N,01131.0000,E,0,0,010120,,*00"}, true},
    {"all fields empty", {"$GPRMC,,A,,,,,,,,,,N*00"}, true},
    {"out of range",
     {"$GPRMC,123519,A,4807.0380,N,01131.0000,E,0,0,320394,,*00",  /* day 32 */
      "$GPRMC,123519,A,4807.0380,N,01131.0000,E,0,0,001394,,*00",  /* day 0, month 13 */
      "$GPRMC,240000,A,4807.0380,N,01131.0000,E,0,0,230394,,*00",  /* hour 24 */
      "$GPRMC,126019,A,4807.0380,N,01131.0000,E,0,0,230394,,*00",  /* minute 60 */
      "$GPRMC,1235x9,A,4807.0380,N,01131.0000,E,0,0,230394,,*00"}, /* not a digit */
     true},
    /* in range, but no such day: the platform refuses it */
    {"refused by the platform",
     {"$GPRMC,123519,A,4807.0380,N,01131.0000,E,0,0,310294,,*00"}, true},
    {"13-field RMC",
     {"$GNRMC,123519.00,A,4807.0380,N,01131.0000,E,0.0,,230394,,,A,V*00"}, false},
};

TEST_F(GpsWiring, OnlyTheFirstValidRmcSetsTheClock) {
  for (const NoClockCase& c : kNoClockCases) {
    SCOPED_TRACE(c.name);
    clock_set = 0;
    clock_timers = 0;
    SYSTEMTIME known = {2001, 1, 0, 1, 0, 0, 0, 0};
    ASSERT_TRUE(SetSystemTime(&known));
    start();
    for (const char* sentence : c.before) feed(pty, sentence);
    EXPECT_EQ(0, clock_set);
    EXPECT_EQ(0, clock_timers.load());
    EXPECT_EQ(c.fix_before ? 1 : 0, gps_wiring_has_fix()) << "the indicator follows the record";
    SYSTEMTIME now;
    GetSystemTime(&now);
    EXPECT_EQ(2001, now.wYear);
    /* the attempt is still there for the next valid RMC */
    expect_clock_from_fix(pty);
    gps_wiring_stop();
  }
}

TEST_F(GpsWiring, StatusChangesReachTheObserver) {
  static std::string seen;
  seen.clear();
  gps_wiring_set_observer([](char status) { seen += status; });
  start();
  feed(pty, kNoFix);
  feed(pty, kFix);
  feed(pty, kLaterFix);
  feed(pty, "$GPGGA,092750,4807.0380,N,01131.0000,E,0,8,1.03,61.7,M,55.2,M,,*00");
  gps_wiring_stop();
  gps_wiring_set_observer(nullptr);
  /* started with no fix; unchanged statuses are not reported again */
  EXPECT_EQ("VAVN", seen);
}

}  // namespace
