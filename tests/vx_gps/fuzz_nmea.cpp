/* Fuzz target: the NMEA parser on arbitrary bytes, first as one sentence of
 * exactly the input's size (so any read past it is caught), then split at
 * each line feed as the reader frames them; the satellite table stays within
 * its bounds and the record's lock stays usable; a clock taken from a
 * sentence is always one in range. */
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <vector>

#include "vx_gps_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static VxGpsData* record = [] {
    VxGpsData* r = vx_gps_data_create();
    vx_gps_data_enable(r, 1);
    return r;
  }();
  std::vector<char> whole(data, data + size);
  int type = -1;
  vx_gps_parse_sentence(record, whole.empty() ? nullptr : whole.data(), (int)size, &type);
  if (type < -1 || type > 3) abort();
  SYSTEMTIME clock;
  if (vx_gps_rmc_clock(whole.empty() ? nullptr : whole.data(), (int)size, &clock) ==
      VX_GPS_CLOCK_OK) {
    if (clock.wYear < 2000 || clock.wYear > 2099 || clock.wMonth < 1 || clock.wMonth > 12 ||
        clock.wDay < 1 || clock.wDay > 31 || clock.wHour > 23 || clock.wMinute > 59 ||
        clock.wSecond > 59)
      abort();
  }
  size_t start = 0;
  for (size_t i = 0; i < size; i++) {
    if (data[i] != '\n') continue;
    std::vector<char> one(data + start, data + i + 1);
    vx_gps_parse_sentence(record, one.data(), (int)one.size(), nullptr);
    start = i + 1;
  }
  if (record->satellite_count < 0 || record->satellite_count > VX_GPS_MAX_SATELLITES) abort();
  if (record->satellites_in_view > VX_GPS_MAX_SATELLITES) abort();
  for (int prn = 0; prn <= VX_GPS_MAX_PRN; prn++)
    if (record->prn_seen[prn] != 0 && record->prn_seen[prn] != 1) abort();
  if (!TryEnterCriticalSection(&record->lock)) abort();
  LeaveCriticalSection(&record->lock);
  return 0;
}
