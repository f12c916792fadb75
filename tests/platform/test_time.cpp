/* Time conversions as Win32 defines them, and the device clock of the host:
 * an offset to the host clock kept in the device root, in the zone UTC+8. */
#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "known_difference.h"
#ifndef _WIN32
#include <time.h>

#include "event_recorder.h"
#include "plat/host.h"
#include "spawn_self.h"
#endif

namespace {

const DWORD sentinel = 0xDEADBEEF;

uint64_t ticks(const FILETIME& f) { return ((uint64_t)f.dwHighDateTime << 32) | f.dwLowDateTime; }

FILETIME filetime(uint64_t t) {
  FILETIME f;
  f.dwLowDateTime = (DWORD)t;
  f.dwHighDateTime = (DWORD)(t >> 32);
  return f;
}

/* A number with leading zeros to `width` digits. */
std::string digits(unsigned value, size_t width) {
  std::string s = std::to_string(value);
  return std::string(s.size() < width ? width - s.size() : 0, '0') + s;
}

/* "YYYY-MM-DD hh:mm" */
std::string minutes(const SYSTEMTIME& t) {
  return digits(t.wYear, 4) + "-" + digits(t.wMonth, 2) + "-" + digits(t.wDay, 2) + " " + digits(t.wHour, 2) +
         ":" + digits(t.wMinute, 2);
}

std::string text(const SYSTEMTIME& t) {
  return minutes(t) + ":" + digits(t.wSecond, 2) + "." + digits(t.wMilliseconds, 3) + " dow " +
         std::to_string(t.wDayOfWeek);
}

SYSTEMTIME make(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
  SYSTEMTIME t = {};
  t.wYear = y;
  t.wMonth = mo;
  t.wDay = d;
  t.wHour = h;
  t.wMinute = mi;
  t.wSecond = s;
  t.wMilliseconds = ms;
  return t;
}

TEST(TimeConversion, SystemTimeAndFileTimeAgree) {
  struct Case {
    SYSTEMTIME time;
    WORD day_of_week;
    uint64_t filetime;
  } cases[] = {
      {make(1601, 1, 1), 1, 0},
      {make(1970, 1, 1), 4, 116444736000000000ull},
      {make(2014, 3, 13, 8, 30, 15, 250), 4, 130391730152500000ull},
      {make(2000, 2, 29, 23, 59, 59, 999), 2, 125963423999990000ull},
      {make(2100, 3, 1), 1, 157520160000000000ull},
      {make(9999, 12, 31, 23, 59, 59, 999), 5, 2650467743999990000ull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(text(c.time));
    FILETIME f = {};
    SYSTEMTIME with_any_weekday = c.time;
    with_any_weekday.wDayOfWeek = 6; /* ignored on input */
    ASSERT_TRUE(SystemTimeToFileTime(&with_any_weekday, &f));
    EXPECT_EQ(ticks(f), c.filetime);
    SYSTEMTIME back = {};
    ASSERT_TRUE(FileTimeToSystemTime(&f, &back));
    SYSTEMTIME expected = c.time;
    expected.wDayOfWeek = c.day_of_week;
    EXPECT_EQ(text(back), text(expected));
  }
}

TEST(TimeConversion, InvalidFieldsAreRefused) {
  const SYSTEMTIME cases[] = {
      make(1600, 12, 31), make(2014, 0, 1),  make(2014, 13, 1), make(2014, 1, 0),
      make(2014, 1, 32),  make(2014, 4, 31), make(2100, 2, 29), make(2000, 2, 30),
      make(2014, 1, 1, 24), make(2014, 1, 1, 0, 60), make(2014, 1, 1, 0, 0, 60),
      make(2014, 1, 1, 0, 0, 0, 1000),
  };
  for (const SYSTEMTIME& t : cases) {
    SCOPED_TRACE(text(t));
    FILETIME f = {};
    SetLastError(sentinel);
    const BOOL converted = SystemTimeToFileTime(&t, &f);
    const DWORD error = GetLastError();
    if (t.wYear == 2100 && t.wMonth == 2 && t.wDay == 29) {
      KNOWN_WINE_DIFFERENCE("Wine takes 29 February of 2100, a century year not divisible by 400",
                            converted);
      if (known_difference::on_wine()) continue;
    }
    EXPECT_FALSE(converted);
    EXPECT_EQ(error, (DWORD)ERROR_INVALID_PARAMETER);
  }
  FILETIME too_late = filetime(0x8000000000000000ull);
  SYSTEMTIME out;
  SetLastError(sentinel);
  EXPECT_FALSE(FileTimeToSystemTime(&too_late, &out));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

TEST(TimeConversion, CompareFileTime) {
  FILETIME a = filetime(5), b = filetime(0x100000004ull), c = filetime(5);
  EXPECT_EQ(CompareFileTime(&a, &b), -1) << "the high part counts first";
  EXPECT_EQ(CompareFileTime(&b, &a), 1);
  EXPECT_EQ(CompareFileTime(&a, &c), 0);
}

/* ---- The device clock of the host ---- */
#ifndef _WIN32

const uint64_t ticks_per_hour = 36000000000ull;

int child_main(const std::string&, const std::string& root) {
  plat::set_device_root(root);
  SYSTEMTIME t;
  GetSystemTime(&t);
  spawn_self::reply(minutes(t));
  return 0;
}

::testing::Environment* const child_environment =
    ::testing::AddGlobalTestEnvironment(new spawn_self::ChildEnvironment(child_main));

class DeviceClock : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/velmar-time-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    previous_ = plat::device_root();
    plat::set_device_root(root_);
    recorder().take();
  }
  void TearDown() override {
    plat::set_device_root(previous_);
    std::string command = "rm -rf '" + root_ + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }
  static uint64_t now_ticks() {
    FILETIME f;
    GetSystemTimeAsFileTime(&f);
    return ticks(f);
  }
  static uint64_t ticks_of(const SYSTEMTIME& t) {
    FILETIME f = {};
    EXPECT_TRUE(SystemTimeToFileTime(&t, &f)) << text(t);
    return ticks(f);
  }
  std::string root_, previous_;
};

TEST_F(DeviceClock, ZoneIsUtcPlusEight) {
  TIME_ZONE_INFORMATION zone;
  EXPECT_EQ(GetTimeZoneInformation(&zone), (DWORD)TIME_ZONE_ID_UNKNOWN) << "no daylight saving time";
  EXPECT_EQ(zone.Bias, -480);

  SYSTEMTIME utc, local;
  GetSystemTime(&utc);
  GetLocalTime(&local);
  int64_t difference = (int64_t)(ticks_of(local) - ticks_of(utc));
  EXPECT_NEAR((double)difference, 8.0 * ticks_per_hour, 1e7 * 2) << text(utc) << " / " << text(local);

  FILETIME f = filetime(ticks_of(make(2014, 3, 13, 20, 0))), local_file, back;
  ASSERT_TRUE(FileTimeToLocalFileTime(&f, &local_file));
  EXPECT_EQ(ticks(local_file), ticks_of(make(2014, 3, 14, 4, 0)));
  ASSERT_TRUE(LocalFileTimeToFileTime(&local_file, &back));
  EXPECT_EQ(ticks(back), ticks(f));
}

TEST_F(DeviceClock, SetSystemTimeMovesTheDeviceClockOnly) {
  uint64_t host_before = (uint64_t)time(nullptr);
  EXPECT_NEAR((double)now_ticks(), (double)(host_before * 10000000ull + 116444736000000000ull), 2e7)
      << "a fresh device root shows the host's time";

  SYSTEMTIME set = make(2014, 3, 13, 8, 30, 0, 0);
  ASSERT_TRUE(SetSystemTime(&set));
  SYSTEMTIME utc, local;
  GetSystemTime(&utc);
  GetLocalTime(&local);
  EXPECT_NEAR((double)ticks_of(utc), (double)ticks_of(set), 2e7) << text(utc);
  EXPECT_EQ(local.wHour, 16) << text(local);
  EXPECT_EQ(local.wDayOfWeek, 4);
  EXPECT_GE((uint64_t)time(nullptr), host_before) << "the host clock is left alone";

  std::vector<std::string> events = recorder().take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].find("\"ev\":\"clock\",\"utc\":\"2014-03-13T08:30:00.000Z\""), std::string::npos)
      << events[0];

  /* Another process on the same device root reads the same clock. */
  spawn_self::Child child = spawn_self::start("clock", root_);
  EXPECT_EQ(spawn_self::read_reply(child), "2014-03-13 08:30");
  EXPECT_EQ(spawn_self::finish(child), 0);
}

TEST_F(DeviceClock, SetLocalTimeIsEightHoursAhead) {
  SYSTEMTIME set = make(2020, 1, 1, 3, 0, 0, 0);
  ASSERT_TRUE(SetLocalTime(&set));
  SYSTEMTIME utc;
  GetSystemTime(&utc);
  EXPECT_NEAR((double)ticks_of(utc), (double)ticks_of(make(2019, 12, 31, 19, 0)), 2e7) << text(utc);
  std::vector<std::string> events = recorder().take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].find("\"utc\":\"2019-12-31T19:00:00.000Z\""), std::string::npos) << events[0];
}

TEST_F(DeviceClock, InvalidTimeChangesNothing) {
  uint64_t before = now_ticks();
  SYSTEMTIME bad = make(2014, 2, 30, 8);
  SetLastError(sentinel);
  EXPECT_FALSE(SetSystemTime(&bad));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  SetLastError(sentinel);
  EXPECT_FALSE(SetLocalTime(&bad));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  EXPECT_NEAR((double)now_ticks(), (double)before, 2e7);
  EXPECT_TRUE(recorder().take().empty()) << "no clock event";
}

#endif

}  // namespace
