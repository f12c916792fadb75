/* Device time and the device clock.
 *
 * Device time (tick count, sleeps, wait timeouts, the event log's `t`) runs
 * `speed` times real time from the start of the process. The device clock is
 * the host's clock plus an offset; the offset is kept in <root>/.kernel/clock
 * so that every process on the same device root reads the same clock. The
 * device's time zone is UTC+8 without daylight saving time. */
#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <string>

#include "plat/host.h"
#include "plat/kernel.h"
#include "sync.h"

namespace plat {

namespace {

struct DeviceClock {
  std::mutex lock;
  std::condition_variable speed_changed;
  double speed = 1.0;
  std::chrono::steady_clock::time_point base_real = std::chrono::steady_clock::now();
  double base_device = 0; /* device ms at base_real */
};

DeviceClock& device_clock() {
  static DeviceClock* clock = new DeviceClock;
  return *clock;
}

/* The process's start is when device time begins. */
[[maybe_unused]] const bool clock_started = (device_clock(), true);

double device_ms_locked(DeviceClock& c) {
  std::chrono::duration<double, std::milli> real = std::chrono::steady_clock::now() - c.base_real;
  return c.base_device + real.count() * c.speed;
}

}  // namespace

void set_speed(double value) {
  if (!(value > 0) || !std::isfinite(value)) return;
  DeviceClock& c = device_clock();
  {
    std::lock_guard<std::mutex> guard(c.lock);
    c.base_device = device_ms_locked(c);
    c.base_real = std::chrono::steady_clock::now();
    c.speed = value;
  }
  c.speed_changed.notify_all();
  /* Timed waits look at the device clock again. */
  std::lock_guard<std::mutex> guard(sync_mutex());
  sync_notify();
}

double speed() {
  DeviceClock& c = device_clock();
  std::lock_guard<std::mutex> guard(c.lock);
  return c.speed;
}

uint64_t device_ms() {
  DeviceClock& c = device_clock();
  std::lock_guard<std::mutex> guard(c.lock);
  return (uint64_t)device_ms_locked(c);
}

void sleep_device_ms(uint64_t ms) {
  DeviceClock& c = device_clock();
  std::unique_lock<std::mutex> lock(c.lock);
  double end = device_ms_locked(c) + (double)ms;
  for (;;) {
    double rest = end - device_ms_locked(c);
    if (rest <= 0) return;
    auto real = std::chrono::duration<double, std::milli>(rest / c.speed);
    c.speed_changed.wait_for(lock, std::chrono::duration_cast<std::chrono::microseconds>(real) +
                                        std::chrono::microseconds(1));
  }
}

}  // namespace plat

using namespace plat;

void WINAPI Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  if (milliseconds == INFINITE) {
    for (;;) pause();
  }
  sleep_device_ms(milliseconds);
}

DWORD WINAPI GetTickCount(void) { return (DWORD)device_ms(); }

/* ---- Calendar ---- */

namespace {

const int64_t ticks_per_ms = 10000; /* FILETIME counts 100 ns */
const int64_t ticks_per_day = 864000000000LL;
const int64_t unix_epoch_ticks = 116444736000000000LL; /* 1970-01-01 in FILETIME */
const LONG device_bias = -480;                          /* UTC+8, in minutes */

/* Days from 1970-01-01 of a proleptic Gregorian date. */
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = (unsigned)(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + (int64_t)doe - 719468;
}

void civil_from_days(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = (unsigned)(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = (int64_t)yoe + era * 400 + (*m <= 2);
}

bool leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap_year(y) ? 29 : days[m - 1];
}

/* SYSTEMTIME (its day of the week ignored) to FILETIME ticks; false when a
 * field is out of range. */
bool to_ticks(const SYSTEMTIME* t, int64_t* ticks) {
  if (!t || t->wYear < 1601 || t->wYear > 30827 || t->wMonth < 1 || t->wMonth > 12 || t->wDay < 1 ||
      t->wDay > days_in_month(t->wYear, t->wMonth) || t->wHour > 23 || t->wMinute > 59 ||
      t->wSecond > 59 || t->wMilliseconds > 999)
    return false;
  int64_t days = days_from_civil(t->wYear, t->wMonth, t->wDay) - days_from_civil(1601, 1, 1);
  int64_t ms = ((t->wHour * 60 + t->wMinute) * 60 + t->wSecond) * 1000LL + t->wMilliseconds;
  *ticks = days * ticks_per_day + ms * ticks_per_ms;
  return true;
}

void from_ticks(int64_t ticks, SYSTEMTIME* t) {
  int64_t days = ticks / ticks_per_day;
  int64_t ms = (ticks % ticks_per_day) / ticks_per_ms;
  int64_t y;
  unsigned m, d;
  civil_from_days(days + days_from_civil(1601, 1, 1), &y, &m, &d);
  t->wYear = (WORD)y;
  t->wMonth = (WORD)m;
  t->wDay = (WORD)d;
  t->wDayOfWeek = (WORD)((days + 1) % 7); /* 1601-01-01 was a Monday */
  t->wHour = (WORD)(ms / 3600000);
  t->wMinute = (WORD)(ms / 60000 % 60);
  t->wSecond = (WORD)(ms / 1000 % 60);
  t->wMilliseconds = (WORD)(ms % 1000);
}

int64_t ticks_of(const FILETIME* f) {
  return (int64_t)(((uint64_t)f->dwHighDateTime << 32) | f->dwLowDateTime);
}

void set_filetime(FILETIME* f, int64_t ticks) {
  f->dwLowDateTime = (DWORD)((uint64_t)ticks & 0xFFFFFFFFu);
  f->dwHighDateTime = (DWORD)((uint64_t)ticks >> 32);
}

/* ---- The device clock's offset ---- */

struct ClockOffset {
  std::mutex lock;
  int64_t offset_ms = 0;
  std::string path; /* the file the offset was read from */
  struct timespec mtime = {0, 0};
  ino_t inode = 0;
};

ClockOffset& clock_offset_state() {
  static ClockOffset* state = new ClockOffset;
  return *state;
}

int64_t host_utc_ms() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
}

std::string clock_file() {
  std::string dir = kernel_folder();
  return dir.empty() ? dir : dir + "/clock";
}

/* With the state's lock held: the offset, read again when the file changed. */
int64_t current_offset(ClockOffset& s) {
  /* The offset belongs to the device root: another root starts from its own. */
  std::string path = clock_file();
  if (path != s.path) {
    s.path = path;
    s.offset_ms = 0;
    s.inode = 0;
    s.mtime = {0, 0};
  }
  if (path.empty()) return s.offset_ms;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return s.offset_ms;
  if (st.st_ino == s.inode && st.st_mtim.tv_sec == s.mtime.tv_sec && st.st_mtim.tv_nsec == s.mtime.tv_nsec)
    return s.offset_ms;
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return s.offset_ms;
  long long value;
  if (fscanf(f, "%lld", &value) == 1) s.offset_ms = value;
  fclose(f);
  s.inode = st.st_ino;
  s.mtime = st.st_mtim;
  return s.offset_ms;
}

int64_t device_utc_ms() {
  ClockOffset& s = clock_offset_state();
  std::lock_guard<std::mutex> guard(s.lock);
  return host_utc_ms() + current_offset(s);
}

void store_offset(int64_t offset) {
  ClockOffset& s = clock_offset_state();
  std::lock_guard<std::mutex> guard(s.lock);
  s.offset_ms = offset;
  std::string path = clock_file();
  s.path = path;
  if (path.empty()) return;
  /* Written beside and renamed, so that no reader sees half a number. */
  std::string temp = path + "." + std::to_string(getpid()) + ".tmp";
  FILE* f = fopen(temp.c_str(), "w");
  if (!f) return;
  fprintf(f, "%lld\n", (long long)offset);
  bool ok = fflush(f) == 0;
  ok = fclose(f) == 0 && ok;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return;
  }
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    s.path = path;
    s.inode = st.st_ino;
    s.mtime = st.st_mtim;
  }
}

/* Sets the device clock to a UTC time in FILETIME ticks. */
void set_device_clock(int64_t utc_ticks) {
  int64_t utc_ms = (utc_ticks - unix_epoch_ticks) / ticks_per_ms;
  store_offset(utc_ms - host_utc_ms());
  SYSTEMTIME t;
  from_ticks(utc_ticks, &t);
  char text[64];
  snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay,
           t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  Event("clock").str("utc", std::string(text));
}

int64_t device_utc_ticks() { return device_utc_ms() * ticks_per_ms + unix_epoch_ticks; }

}  // namespace

void WINAPI GetSystemTime(LPSYSTEMTIME time) { from_ticks(device_utc_ticks(), time); }

void WINAPI GetLocalTime(LPSYSTEMTIME time) {
  from_ticks(device_utc_ticks() - (int64_t)device_bias * 60 * 1000 * ticks_per_ms, time);
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME file_time) { set_filetime(file_time, device_utc_ticks()); }

BOOL WINAPI SetSystemTime(const SYSTEMTIME* time) {
  int64_t ticks;
  if (!to_ticks(time, &ticks)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  set_device_clock(ticks);
  return TRUE;
}

BOOL WINAPI SetLocalTime(const SYSTEMTIME* time) {
  int64_t ticks;
  if (!to_ticks(time, &ticks)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  set_device_clock(ticks + (int64_t)device_bias * 60 * 1000 * ticks_per_ms);
  return TRUE;
}

DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION zone) {
  if (!zone) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  memset(zone, 0, sizeof(*zone));
  zone->Bias = device_bias;
  static const char16_t standard[] = u"China Standard Time";
  static const char16_t daylight[] = u"China Daylight Time";
  memcpy(zone->StandardName, standard, sizeof standard);
  memcpy(zone->DaylightName, daylight, sizeof daylight);
  return TIME_ZONE_ID_UNKNOWN;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* time, LPFILETIME file_time) {
  int64_t ticks;
  if (!to_ticks(time, &ticks) || !file_time) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  set_filetime(file_time, ticks);
  return TRUE;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* file_time, LPSYSTEMTIME time) {
  if (!file_time || !time || ticks_of(file_time) < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  from_ticks(ticks_of(file_time), time);
  return TRUE;
}

static BOOL shift_filetime(const FILETIME* from, LPFILETIME to, int64_t shift) {
  if (!from || !to) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  set_filetime(to, (int64_t)((uint64_t)ticks_of(from) + (uint64_t)shift));
  return TRUE;
}

BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* file_time, LPFILETIME local_time) {
  return shift_filetime(file_time, local_time, -(int64_t)device_bias * 60 * 1000 * ticks_per_ms);
}

BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* local_time, LPFILETIME file_time) {
  return shift_filetime(local_time, file_time, (int64_t)device_bias * 60 * 1000 * ticks_per_ms);
}

LONG WINAPI CompareFileTime(const FILETIME* first, const FILETIME* second) {
  uint64_t a = (uint64_t)ticks_of(first), b = (uint64_t)ticks_of(second);
  return a < b ? -1 : a > b ? 1 : 0;
}
