#include "vx_gps_parse.h"

#include <float.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "vx_alloc.h"

namespace {

/* A sentence and its bounds: digits are read at fixed places inside a field,
 * and a place past the sentence's last byte reads as '0' so that a short
 * field never reads beyond the sentence. */
struct Sentence {
  const char* begin;
  const char* end;
};

int char_at(const Sentence& s, const char* field, int index) {
  const char* p = field + index;
  if (p < s.begin || p >= s.end) return '0';
  return (signed char)*p;
}

int digits2(const Sentence& s, const char* field, int at) {
  return (char_at(s, field, at) - '0') * 10 + (char_at(s, field, at + 1) - '0');
}

int digits3(const Sentence& s, const char* field, int at) {
  return (char_at(s, field, at) - '0') * 100 + digits2(s, field, at + 1);
}

/* The standard text-to-number conversion of one field, read only up to the
 * field's end (comma, '*', line end or the sentence's end). */
double field_value(const Sentence& s, const char* field) {
  char text[32];
  int n = 0;
  for (const char* p = field; p < s.end && n < (int)sizeof text - 1; p++) {
    if (*p == ',' || *p == '*' || *p == '\r' || *p == '\n' || *p == 0) break;
    text[n++] = *p;
  }
  text[n] = 0;
  return strtod(text, nullptr);
}

bool is_empty(const char* field) { return *field == ','; }

/* The two-digit number at `at` of a field when both characters are digits
 * inside the sentence, else -1. */
int strict_digits2(const Sentence& s, const char* field, int at) {
  const char* p = field + at;
  if (p < s.begin || p + 2 > s.end) return -1;
  if (p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9') return -1;
  return (p[0] - '0') * 10 + (p[1] - '0');
}

/* A double as a float; values beyond the float range become infinities
 * (a plain conversion of them is undefined). */
float to_float(double value) {
  if (value > FLT_MAX) return INFINITY;
  if (value < -FLT_MAX) return -INFINITY;
  return (float)value;
}

/* Degrees (`degree_digits` characters) and the minutes' six digits around
 * the decimal point, in millionths of a degree, truncated toward zero. */
int32_t coordinate(const Sentence& s, const char* field, int degree_digits) {
  int64_t degrees = degree_digits == 2 ? digits2(s, field, 0) : digits3(s, field, 0);
  int m = degree_digits;
  int64_t minutes = 0;
  const int places[6] = {m, m + 1, m + 3, m + 4, m + 5, m + 6};
  for (int place : places) minutes = minutes * 10 + (char_at(s, field, place) - '0');
  int64_t value = degrees * 1000000 + minutes * 10 / 6;
  return (int32_t)(uint32_t)(uint64_t)value;
}

void take_time(VxGpsData* data, const Sentence& s, const char* field) {
  data->hour = digits2(s, field, 0);
  data->minute = digits2(s, field, 2);
  data->second = digits2(s, field, 4);
}

/* Position from a latitude and a longitude field with their hemisphere
 * fields; nothing when a hemisphere letter is missing. */
void take_position(VxGpsData* data, const Sentence& s, const char* lat, const char* ns,
                   const char* lon, const char* ew) {
  if (!(*ns == 'N' || *ns == 'S') || !(*ew == 'E' || *ew == 'W')) return;
  int32_t latitude = coordinate(s, lat, 2);
  int32_t longitude = coordinate(s, lon, 3);
  data->lat_hemisphere = *ns;
  data->lon_hemisphere = *ew;
  if (*ns == 'S') latitude = (int32_t)(0u - (uint32_t)latitude);
  if (*ew == 'W') longitude = (int32_t)(0u - (uint32_t)longitude);
  data->latitude = latitude;
  data->longitude = longitude;
}

int parse_rmc(VxGpsData* data, const Sentence& s) {
  const char* f[20];
  int count = vx_gps_split_fields(f, 20, s.begin, (int)(s.end - s.begin));
  if (!vx_gps_field_count_ok(VX_GPS_TYPE_RMC, count)) {
    data->rmc_valid = 0;
    return 0;
  }
  data->rmc_valid = 1;
  if (data->parse_time) take_time(data, s, f[1]);
  if (data->parse_date) {
    data->day = digits2(s, f[9], 0);
    data->month = digits2(s, f[9], 2);
    data->year = 2000 + digits2(s, f[9], 4);
  }
  data->updated = 1;
  if (data->parse_position) take_position(data, s, f[3], f[4], f[5], f[6]);
  if (data->parse_motion) {
    float speed = to_float(field_value(s, f[7]) * 1.852);
    if (speed > 10 && speed < 90)
      speed += 4;
    else if (speed > 90)
      speed += 5;
    /* NaN too ("nan" is a number to the conversion) */
    if (!(speed >= 0 && speed < 10000)) speed = 0;
    data->speed = speed;
    float course = to_float(field_value(s, f[8]));
    if (course > 360 || course != course) course = 0;
    data->course = course;
  }
  if (*f[2] == 'V') {
    data->status = 'V';
    data->rmc_valid = 0;
    return 0;
  }
  data->status = 'A';
  data->rmc_valid = 1;
  return 1;
}

int parse_gga(VxGpsData* data, const Sentence& s) {
  const char* f[20];
  int count = vx_gps_split_fields(f, 20, s.begin, (int)(s.end - s.begin));
  if (!vx_gps_field_count_ok(VX_GPS_TYPE_GGA, count)) return 0;
  data->updated = 1;
  if (!data->rmc_valid) {
    if (data->parse_time) take_time(data, s, f[1]);
    /* in the same unit as RMC (millionths of a degree) */
    if (data->parse_position) take_position(data, s, f[2], f[3], f[4], f[5]);
  }
  if (data->parse_motion) data->altitude = to_float(field_value(s, f[9]));
  if (*f[6] == '0') {
    data->status = 'V';
    return 0;
  }
  data->status = 'A';
  return 1;
}

int parse_gsv(VxGpsData* data, const Sentence& s) {
  const char* f[30];
  int count = vx_gps_split_fields(f, 30, s.begin, (int)(s.end - s.begin));
  if (!vx_gps_field_count_ok(VX_GPS_TYPE_GSV, count)) return 0;
  EnterCriticalSection(&data->lock);
  if (*f[2] == '1') {
    data->updated = 0;
    data->satellite_count = 0;
    int in_view = digits2(s, f[3], 0);
    data->satellites_in_view = in_view > VX_GPS_MAX_SATELLITES ? VX_GPS_MAX_SATELLITES : in_view;
    memset(data->satellites, 0, sizeof data->satellites);
    memset(data->prn_seen, 0, sizeof data->prn_seen);
  } else if (*f[2] == *f[1]) {
    data->updated = 1;
  }
  const int groups = (count - 3) / 4;
  for (int g = 0; g < groups && data->satellite_count < data->satellites_in_view; g++) {
    const char* prn_field = f[4 + 4 * g];
    const char* elevation_field = f[5 + 4 * g];
    const char* azimuth_field = f[6 + 4 * g];
    const char* snr_field = f[7 + 4 * g];
    if (is_empty(prn_field) || is_empty(elevation_field) || is_empty(azimuth_field) ||
        is_empty(snr_field))
      break;
    int prn = digits2(s, prn_field, 0);
    if (prn < 1 || prn > VX_GPS_MAX_PRN) continue;
    int index = data->satellite_count;
    bool fresh = true;
    if (data->prn_seen[prn]) {
      for (int i = data->satellite_count - 1; i >= 0; i--) {
        if (data->satellites[i][VX_GPS_SAT_PRN] == prn) {
          index = i;
          fresh = false;
          break;
        }
      }
    }
    int32_t* entry = data->satellites[index];
    int snr = digits2(s, snr_field, 0);
    entry[VX_GPS_SAT_SNR] = snr;
    if (snr <= 0) continue;
    entry[VX_GPS_SAT_PRN] = prn;
    entry[VX_GPS_SAT_ELEVATION] = digits2(s, elevation_field, 0);
    entry[VX_GPS_SAT_AZIMUTH] = digits3(s, azimuth_field, 0);
    data->prn_seen[prn] = 1;
    if (fresh) data->satellite_count++;
  }
  LeaveCriticalSection(&data->lock);
  return 1;
}

}  // namespace

VxGpsData* vx_gps_data_create(void) {
  VxGpsData* data = (VxGpsData*)vx_mem_alloc(sizeof(VxGpsData), "..\\src\\vx_gps\\vx_gps_parse", 37);
  if (!data) return nullptr;
  data->lock_ready = 0;
  vx_gps_data_reset(data);
  return data;
}

int vx_gps_data_reset(VxGpsData* data) {
  if (!data) return 0;
  if (data->lock_ready) DeleteCriticalSection(&data->lock);
  memset(data, 0, sizeof *data);
  data->updated = 1;
  InitializeCriticalSection(&data->lock);
  data->lock_ready = 1;
  return 1;
}

int vx_gps_data_enable(VxGpsData* data, int value) {
  if (!data) return 0;
  data->parse_date = data->parse_time = data->parse_satellites = value;
  data->parse_position = data->parse_motion = value;
  return 1;
}

int vx_gps_data_free(VxGpsData* data) {
  if (!data) return 0;
  if (data->lock_ready) DeleteCriticalSection(&data->lock);
  vx_mem_free(data);
  return 1;
}

int vx_gps_field_count_ok(int type, int count) {
  switch (type) {
    case VX_GPS_TYPE_RMC: return count == 11 || count == 12;
    case VX_GPS_TYPE_GGA: return count == 14;
    case VX_GPS_TYPE_GSV: return count == 7 || count == 11 || count == 15 || count == 19;
  }
  return 0;
}

int vx_gps_rmc_clock(const char* sentence, int length, SYSTEMTIME* time) {
  if (!sentence || length < 6 || sentence[3] != 'R' || sentence[4] != 'M' || sentence[5] != 'C')
    return VX_GPS_CLOCK_NOT_RMC;
  const Sentence s = {sentence, sentence + length};
  const char* f[20];
  if (!vx_gps_field_count_ok(VX_GPS_TYPE_RMC, vx_gps_split_fields(f, 20, sentence, length)))
    return VX_GPS_CLOCK_FIELDS;
  if (*f[2] == 'V') return VX_GPS_CLOCK_NO_FIX;
  if (*f[2] != 'A') return VX_GPS_CLOCK_NO_STATUS;
  const int hour = strict_digits2(s, f[1], 0), minute = strict_digits2(s, f[1], 2);
  const int second = strict_digits2(s, f[1], 4);
  const int day = strict_digits2(s, f[9], 0), month = strict_digits2(s, f[9], 2);
  const int year = strict_digits2(s, f[9], 4);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
      day < 1 || day > 31 || month < 1 || month > 12 || year < 0)
    return VX_GPS_CLOCK_RANGE;
  if (time) {
    memset(time, 0, sizeof *time);
    time->wYear = (WORD)(2000 + year);
    time->wMonth = (WORD)month;
    time->wDay = (WORD)day;
    time->wHour = (WORD)hour;
    time->wMinute = (WORD)minute;
    time->wSecond = (WORD)second;
  }
  return VX_GPS_CLOCK_OK;
}

const char* vx_gps_clock_reason(int code) {
  switch (code) {
    case VX_GPS_CLOCK_OK: return "valid fix";
    case VX_GPS_CLOCK_NOT_RMC: return "not an RMC sentence";
    case VX_GPS_CLOCK_FIELDS: return "RMC of a field count the parser ignores";
    case VX_GPS_CLOCK_NO_FIX: return "RMC status V (no fix)";
    case VX_GPS_CLOCK_NO_STATUS: return "RMC status empty or unknown";
    case VX_GPS_CLOCK_RANGE: return "RMC time or date out of range";
  }
  return "unknown";
}

int vx_gps_split_fields(const char** fields, int size, const char* sentence, int length) {
  if (!fields || size <= 0 || !sentence) return 0;
  fields[0] = sentence;
  int count = 0;
  for (int i = 6; i < length - 3 && count < size - 1; i++) {
    if (sentence[i] == ',') fields[++count] = sentence + i + 1;
  }
  return count;
}

int vx_gps_parse_sentence(VxGpsData* data, const char* sentence, int length, int* type) {
  if (!data || !sentence || length < 6) {
    if (type) *type = VX_GPS_TYPE_OTHER;
    return 0;
  }
  const Sentence s = {sentence, sentence + length};
  const char a = sentence[3], b = sentence[4], c = sentence[5];
  if (a == 'R' && b == 'M' && c == 'C') {
    if (type) *type = VX_GPS_TYPE_RMC;
    return parse_rmc(data, s);
  }
  if (a != 'G') {
    if (type) *type = VX_GPS_TYPE_OTHER;
    return 0;
  }
  if (b == 'S' && c == 'V') {
    if (type) *type = VX_GPS_TYPE_GSV;
    return data->parse_satellites ? parse_gsv(data, s) : 1;
  }
  if (b == 'G' && c == 'A') {
    if (type) *type = VX_GPS_TYPE_GGA;
    return parse_gga(data, s);
  }
  return 0;
}

int vx_gps_parse(VxGpsData* data, const char* buffer, int length) {
  if (!data || !buffer) return 0;
  int parsed = 0;
  int start = -1;
  for (int i = 0; i < length; i++) {
    if (buffer[i] == '$') {
      start = i;
    } else if (buffer[i] == '\n' && start >= 0) {
      vx_gps_parse_sentence(data, buffer + start, i - start + 1, nullptr);
      parsed++;
      start = -1;
    }
  }
  return parsed;
}
