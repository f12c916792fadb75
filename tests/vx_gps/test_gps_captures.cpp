/* Every receiver capture of the shared test data through the shell's real
 * reader on a pseudo-terminal COM13 (host only): the clock the device sets,
 * or none; and velgps over the same file names the same clock, or the reason
 * for none. */
#include <gtest/gtest.h>
#include <windows.h>

#include <dirent.h>
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "gps_wiring.h"
#include "pty_port.h"
#include "shell_globals.h"

namespace {

struct Capture {
  const char* file;
  const char* clock;  /* UTC, or null for none */
  const char* reason; /* velgps's reason when none */
};

const char kNoFix[] = "RMC status V (no fix)";
/* NMEA 4.1 RMC has 13 fields: the parser ignores every one of them */
const char kThirteenFields[] = "every RMC has a field count the parser ignores";

/* The first RMC of each capture with status A, a field count the parser
 * takes and an in-range time and date, read off the captures by hand. */
const Capture kCaptures[] = {
    {"beidou-bd.log", "2015-02-25T07:41:55Z", nullptr},
    {"beidou-gb.log", "2015-03-02T05:32:32Z", nullptr},
    {"bu353-glonass.log", "2014-05-26T08:14:11Z", nullptr},
    {"ch-4711.log", "2009-12-05T13:56:51Z", nullptr},  /* GGA fixes come first */
    {"furuno_gl_ga.log", nullptr, kThirteenFields},
    {"garmin-geko201.log", nullptr, kNoFix},            /* demo mode: GGA quality 8 only */
    {"garmin48.log", "2001-06-06T22:53:08Z", nullptr},
    {"gp-320fw-2019-04-06-overflow.log", "2019-04-06T23:57:24Z", nullptr},
    {"gp-320fw-2019-04-07-coldboot.log", "2019-04-07T00:03:45Z", nullptr}, /* a cut RMC first */
    {"haicom-305N.log", "2007-04-08T09:53:04Z", nullptr},
    {"holux-gm-210.log", nullptr, kNoFix},
    {"humminbird-M37.log", "2006-09-16T19:41:01Z", nullptr},
    {"iTrek.log", "2005-07-27T04:58:49Z", nullptr},    /* the second day of the capture */
    {"jl-micro-jlt.log", "2021-08-12T01:22:38Z", nullptr},
    {"meinberg-gps164.log", "2023-12-18T22:09:52Z", nullptr},
    {"mtk-3329.log", "2011-02-21T10:21:27Z", nullptr},
    {"neo-m8n.log", "2015-03-18T17:19:26Z", nullptr},
    {"nmea-fuzzy-cases.log", "2020-03-18T13:28:20Z", nullptr},
    {"sirfstarv-nmea.log", "2019-02-05T02:09:35Z", nullptr},
    {"sl869.log", "2012-11-25T10:21:43Z", nullptr},
    {"telit-he910.log", "2019-03-12T10:51:53Z", nullptr}, /* after 37 empty RMC "V" */
    {"telit-pls83-w.log", nullptr, kThirteenFields},
    {"tomtom-mkII.log", "2010-06-20T17:57:36Z", nullptr},
    {"ublox-lea-5h.log", "2010-08-21T08:37:23Z", nullptr},
    {"ublox-neo-m9n-nmea.log", nullptr, kThirteenFields},
    {"unicore-um621.log", nullptr, kThirteenFields},
};

std::string folder() { return std::string(VELMAR_TESTDATA) + "/nmea/"; }

/* A capture's data lines, byte for byte, without its '#' header. */
std::string data_lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string data, line;
  while (std::getline(in, line)) {
    if (!in.eof()) line += '\n';
    if (line.empty() || line[0] != '#') data += line;
  }
  return data;
}

std::string iso(const SYSTEMTIME& t) {
  char text[32];
  snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay,
           t.wHour, t.wMinute, t.wSecond);
  return text;
}

int64_t seconds_of(const SYSTEMTIME& t) {
  FILETIME f;
  if (!SystemTimeToFileTime(&t, &f)) return -1;
  return (int64_t)(((uint64_t)f.dwHighDateTime << 32 | f.dwLowDateTime) / 10000000);
}

/* The device clock when WM_TIMER 100 told the main window it was set. */
SYSTEMTIME clock_at_timer;
std::atomic<int> clock_timers{0};

LRESULT CALLBACK main_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER && wparam == 100) {
    GetSystemTime(&clock_at_timer);
    clock_timers++;
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

std::atomic<long> read_bytes{0};
int count_read(VxGpsPort*, int, const char*, int length) {
  read_bytes += length;
  return 0;
}

void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

/* The last line velgps prints for a file. */
std::string velgps_summary(const std::string& path) {
  std::string command = std::string(VELMAR_BINARY_DIR) + "/bin/velgps '" + path + "'";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return "";
  std::string last;
  char line[4096];
  while (fgets(line, sizeof line, p)) last = line;
  return pclose(p) == 0 ? last : "exit status not 0";
}

TEST(GpsCaptures, TheTableHoldsEveryCapture) {
  std::set<std::string> files;
  DIR* dir = opendir(folder().c_str());
  ASSERT_TRUE(dir) << folder();
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".log") files.insert(name);
  }
  closedir(dir);
  std::set<std::string> rows;
  for (const Capture& c : kCaptures) rows.insert(c.file);
  EXPECT_EQ(files, rows);
}

TEST(GpsCaptures, EachCaptureSetsItsFirstValidRmcClockOrNone) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = main_proc;
  wc.lpszClassName = TEXT("GpsCapturesMain");
  RegisterClassW(&wc);
  main_window = CreateWindowExW(0, TEXT("GpsCapturesMain"), TEXT("GpsCapturesMain"), WS_POPUP, 0,
                                0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(main_window);
  for (const Capture& c : kCaptures) {
    SCOPED_TRACE(c.file);
    const std::string path = folder() + c.file;
    const std::string data = data_lines(path);
    ASSERT_FALSE(data.empty());

    PtyPort pty{u"COM13:"};
    ASSERT_TRUE(pty.ok());
    clock_set = 0;
    clock_timers = 0;
    SYSTEMTIME known = {2001, 1, 0, 1, 0, 0, 0, 0};
    ASSERT_TRUE(SetSystemTime(&known));
    ASSERT_EQ(0, gps_wiring_start());
    /* the reader purges the port when it starts: wait until it reads */
    ASSERT_TRUE(eventually([&] {
      pty.send("$GPGSV,1,1,01,07,10,010,30*00\r\n");
      return eventually([] { return shell_gps_data->satellite_count == 1; }, 150);
    }));
    /* The capture from another thread while this one handles the window,
     * until the reader has read every byte (an empty terminal queue alone
     * does not tell: more can still be on its way into it). */
    read_bytes = 0;
    shell_gps_port.raw_callback = count_read;
    const std::string bytes = data + "\n";
    std::thread feeder([&] { pty.send(bytes); });
    const bool all_read = eventually([&] {
      pump();
      return read_bytes.load() >= (long)bytes.size();
    }, 60000);
    feeder.join();
    /* the reader's last pass after taking the bytes */
    for (int i = 0; i < 30; i++) {
      Sleep(5);
      pump();
    }
    ASSERT_TRUE(all_read) << read_bytes.load() << " of " << bytes.size() << " bytes read";
    gps_wiring_stop();
    pump();

    SYSTEMTIME now;
    GetSystemTime(&now);
    if (c.clock) {
      EXPECT_EQ(1, clock_set);
      ASSERT_EQ(1, clock_timers.load());
      /* the clock runs on from the RMC's time, read at once after the set */
      int year, month, day, hour, minute, second;
      ASSERT_EQ(6, sscanf(c.clock, "%d-%d-%dT%d:%d:%dZ", &year, &month, &day, &hour, &minute,
                          &second));
      const SYSTEMTIME expected = {(WORD)year, (WORD)month, 0, (WORD)day, (WORD)hour, (WORD)minute, (WORD)second, 0};
      const int64_t late = seconds_of(clock_at_timer) - seconds_of(expected);
      EXPECT_TRUE(late >= 0 && late <= 1) << iso(clock_at_timer) << " for " << c.clock;
    } else {
      EXPECT_EQ(0, clock_set);
      EXPECT_EQ(0, clock_timers.load());
      EXPECT_EQ(2001, now.wYear) << "the device clock was changed";
    }

    const std::string summary = velgps_summary(path);
    if (c.clock)
      EXPECT_NE(std::string::npos, summary.find(std::string("\"clock\":\"") + c.clock + "\""))
          << summary;
    else
      EXPECT_NE(std::string::npos,
                summary.find(std::string("\"clock\":null,\"clock_reason\":\"") + c.reason + "\""))
          << summary;
  }
  DestroyWindow(main_window);
  main_window = nullptr;
}

}  // namespace
