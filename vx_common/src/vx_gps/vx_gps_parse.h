/* The GPS record and the NMEA 0183 parser that fills it from single
 * sentences (RMC, GGA and GSV of any talker). Parsing is positional: fields
 * are found by their commas, digits are read at fixed places inside a field,
 * and no checksum is tested. */
#pragma once

#include <stdint.h>
#include <windows.h>

#define VX_GPS_MAX_SATELLITES 12
#define VX_GPS_MAX_PRN 32

/* Sentence types reported by vx_gps_parse_sentence. */
#define VX_GPS_TYPE_OTHER 0
#define VX_GPS_TYPE_RMC 1
#define VX_GPS_TYPE_GSV 2
#define VX_GPS_TYPE_GGA 3

/* Indexes of one satellite entry. */
#define VX_GPS_SAT_PRN 0
#define VX_GPS_SAT_SNR 1
#define VX_GPS_SAT_ELEVATION 2
#define VX_GPS_SAT_AZIMUTH 3

typedef struct VxGpsData {
  char status;          /* 'A' fix, 'V' no fix, 'N' receiver closed; 0 after reset */
  int32_t longitude;    /* millionths of a degree, negative west */
  int32_t latitude;     /* millionths of a degree, negative south */
  char lat_hemisphere;  /* 'N' or 'S' as received */
  char lon_hemisphere;  /* 'E' or 'W' as received */
  float speed;          /* km/h, adjusted */
  float course;         /* degrees over ground */
  int32_t year, month, day;      /* UTC date, year 2000 + two digits */
  int32_t hour, minute, second;  /* UTC time */
  float altitude;       /* metres above mean sea level, from GGA */
  int32_t satellite_count;       /* used entries of satellites */
  int32_t satellites[VX_GPS_MAX_SATELLITES][4]; /* PRN, SNR, elevation, azimuth */
  int32_t prn_seen[VX_GPS_MAX_PRN + 1];         /* by PRN 1..32: 1 when in the table */
  int32_t satellites_in_view;    /* from the first GSV of a cycle, at most 12 */
  int32_t rmc_valid;    /* 1 after an RMC of the right field count not 'V' */
  int32_t parse_date, parse_time, parse_satellites, parse_position, parse_motion;
  CRITICAL_SECTION lock; /* guards the satellite fields during a GSV update */
  int32_t updated;      /* 1 after RMC/GGA and the last GSV of a cycle; 0 inside a cycle */
  int32_t lock_ready;   /* 1 while lock is initialised (reset deletes it before zeroing) */
} VxGpsData;

/* A new record, reset (all zero, updated 1); null when out of memory. */
VxGpsData* vx_gps_data_create(void);
/* Zeroes the record, sets updated to 1 and initialises its lock. 0 for null, else 1. */
int vx_gps_data_reset(VxGpsData* data);
/* Sets all five parse flags to value. 0 for null, else 1. */
int vx_gps_data_enable(VxGpsData* data, int value);
/* Frees a record of vx_gps_data_create. 0 for null, else 1. */
int vx_gps_data_free(VxGpsData* data);

/* Parses one sentence: `sentence` points at the '$', `length` counts every
 * byte up to and including the final line feed (no terminator needed).
 * *type (may be null) receives VX_GPS_TYPE_...; an unknown type whose fourth
 * character is 'G' leaves it unchanged. Returns 1 for an RMC or GGA that
 * reports a fix and for every accepted GSV (or any GSV while
 * parse_satellites is 0), else 0. */
int vx_gps_parse_sentence(VxGpsData* data, const char* sentence, int length, int* type);
/* Parses every '$'..'\n' sentence of a buffer in turn; returns how many
 * sentences were parsed. Bytes outside sentences are skipped. */
int vx_gps_parse(VxGpsData* data, const char* buffer, int length);

/* 1 when `count` fields (after the address) is a count the parser accepts
 * for a sentence of `type`: RMC 11 or 12, GGA 14, GSV 7, 11, 15 or 19. */
int vx_gps_field_count_ok(int type, int count);

/* Why a sentence can or cannot set the device clock (vx_gps_rmc_clock). */
#define VX_GPS_CLOCK_OK 0
#define VX_GPS_CLOCK_NOT_RMC 1     /* not an RMC sentence */
#define VX_GPS_CLOCK_FIELDS 2      /* an RMC of a field count the parser ignores */
#define VX_GPS_CLOCK_NO_FIX 3      /* status 'V' */
#define VX_GPS_CLOCK_NO_STATUS 4   /* status empty or neither 'A' nor 'V' */
#define VX_GPS_CLOCK_RANGE 5       /* time or date not six digits in range */
/* The clock an RMC sentence gives: when it has an accepted field count,
 * status 'A', and a time hhmmss (hours below 24, minutes and seconds below
 * 60) and a date ddmmyy (day 1 to 31, month 1 to 12) of digits, fills *time
 * (UTC, year 2000 + yy, milliseconds 0) and returns VX_GPS_CLOCK_OK; else
 * one of the reasons above and *time is left alone. Reads only the sentence. */
int vx_gps_rmc_clock(const char* sentence, int length, SYSTEMTIME* time);
/* A short English text of a VX_GPS_CLOCK_... code. */
const char* vx_gps_clock_reason(int code);

/* Splits a sentence into fields: fields[0] is the sentence start; every
 * comma from index 6 up to but excluding length - 3 makes the next entry
 * point after it, until `size` - 1 commas were taken. Returns the number of
 * commas found (the field count after the address). */
int vx_gps_split_fields(const char** fields, int size, const char* sentence, int length);
