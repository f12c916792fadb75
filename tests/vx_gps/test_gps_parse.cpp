/* The NMEA parser: the record after single sentences, field splitting, and
 * real receivers' captures against an independent decoder's results. */
#include <gtest/gtest.h>
#include <windows.h>

#include <dirent.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "vx_alloc.h"
#include "vx_gps_parse.h"

namespace {

struct RecordDeleter {
  void operator()(VxGpsData* data) const { vx_gps_data_free(data); }
};
using Record = std::unique_ptr<VxGpsData, RecordDeleter>;

Record fresh_record() {
  Record data(vx_gps_data_create());
  EXPECT_TRUE(data);
  if (data) vx_gps_data_enable(data.get(), 1);
  return data;
}

/* Parses `text` + "*00" (when it has no checksum) + "\r\n" from an
 * exact-size heap copy (no terminator), so that a read past the sentence is
 * an error under the address sanitizer. */
int parse(VxGpsData* data, const std::string& text, int* type = nullptr) {
  std::string line = text + (text.find('*') == std::string::npos ? "*00\r\n" : "\r\n");
  std::vector<char> copy(line.begin(), line.end());
  return vx_gps_parse_sentence(data, copy.data(), (int)copy.size(), type);
}

const char kRmc[] = "$GPRMC,123519,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,003.1,W*6A";

TEST(GpsParse, RmcWithFixFillsTimeDatePositionAndMotion) {
  Record data = fresh_record();
  int type = -1;
  EXPECT_EQ(1, parse(data.get(), kRmc, &type));
  EXPECT_EQ(VX_GPS_TYPE_RMC, type);
  EXPECT_EQ('A', data->status);
  EXPECT_EQ(1, data->rmc_valid);
  EXPECT_EQ(48117300, data->latitude);
  EXPECT_EQ(11516666, data->longitude);
  EXPECT_EQ('N', data->lat_hemisphere);
  EXPECT_EQ('E', data->lon_hemisphere);
  EXPECT_EQ(12, data->hour);
  EXPECT_EQ(35, data->minute);
  EXPECT_EQ(19, data->second);
  EXPECT_EQ(23, data->day);
  EXPECT_EQ(3, data->month);
  EXPECT_EQ(2094, data->year);
  EXPECT_NEAR(45.4848, data->speed, 1e-4);
  EXPECT_NEAR(84.4, data->course, 1e-4);
  EXPECT_EQ(1, data->updated);
}

TEST(GpsParse, RmcWithoutFixStillStoresTimeDateAndPosition) {
  Record data = fresh_record();
  data->rmc_valid = 1;
  std::string v = kRmc;
  v.replace(v.find(",A,"), 3, ",V,");
  EXPECT_EQ(0, parse(data.get(), v));
  EXPECT_EQ('V', data->status);
  EXPECT_EQ(0, data->rmc_valid);
  EXPECT_EQ(12, data->hour);
  EXPECT_EQ(2094, data->year);
  EXPECT_EQ(48117300, data->latitude);
}

TEST(GpsParse, HemispheresNegateAndMissingLettersKeepThePosition) {
  Record data = fresh_record();
  parse(data.get(), "$GPRMC,010203,A,3351.5000,S,15112.6000,W,0,0,010120,,");
  EXPECT_EQ(-33858333, data->latitude);
  EXPECT_EQ(-151210000, data->longitude);
  EXPECT_EQ('S', data->lat_hemisphere);
  EXPECT_EQ('W', data->lon_hemisphere);
  parse(data.get(), "$GPRMC,010204,A,1000.0000,,02000.0000,E,0,0,010120,,");
  EXPECT_EQ(-33858333, data->latitude) << "no N/S letter: position left as it was";
  EXPECT_EQ(4, data->second);
}

TEST(GpsParse, RmcFieldCountOutsideElevenOrTwelveIsIgnoredAndClearsRmcValid) {
  struct Case {
    const char* sentence;
    int result;
  } cases[] = {
      {"$GPRMC,123519,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,003.1,W,A", 1}, /* 12 */
      {"$GPRMC,123519,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,003.1,W,A,V", 0}, /* 13 */
      {"$GPRMC,123519,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,003.1", 0},       /* 10 */
  };
  for (const Case& c : cases) {
    Record data = fresh_record();
    data->rmc_valid = 1;
    data->hour = 7;
    EXPECT_EQ(c.result, parse(data.get(), c.sentence)) << c.sentence;
    EXPECT_EQ(c.result, data->rmc_valid) << c.sentence;
    EXPECT_EQ(c.result ? 12 : 7, data->hour) << c.sentence;
    EXPECT_EQ(c.result ? 'A' : 0, data->status) << c.sentence;
  }
}

TEST(GpsParse, SpeedInKnotsBecomesAdjustedKilometresPerHour) {
  struct Case {
    const char* knots;
    double kmh;
  } cases[] = {
      {"5", 9.26},           /* below 10: unchanged */
      {"50", 97.6},          /* above 90: +5 */
      {"022.4", 45.4848},    /* between: +4 */
      {"5.399568", 10.0},    /* 10 exactly stays */
      {"48.596112", 90.0},   /* 90 exactly stays */
      {"6000", 0},           /* 10000 and more: 0 */
      {"-3", 0},             /* negative: 0 */
      {"", 0},               /* empty: 0 */
      {"1e300", 0},          /* beyond the float range: 0 */
      {"nan", 0},
  };
  for (const Case& c : cases) {
    Record data = fresh_record();
    std::string s = std::string("$GPRMC,123519,A,4807.0380,N,01131.0000,E,") + c.knots +
                    ",084.4,230394,003.1,W";
    parse(data.get(), s);
    EXPECT_NEAR(c.kmh, data->speed, 2e-3) << c.knots;
  }
}

TEST(GpsParse, CourseAbove360BecomesZero) {
  Record data = fresh_record();
  parse(data.get(), "$GPRMC,123519,A,4807.0380,N,01131.0000,E,1,360.5,230394,,");
  EXPECT_EQ(0.0f, data->course);
  parse(data.get(), "$GPRMC,123519,A,4807.0380,N,01131.0000,E,1,360,230394,,");
  EXPECT_EQ(360.0f, data->course);
}

TEST(GpsParse, ParseFlagsSwitchThePartsOff) {
  Record data = fresh_record();
  vx_gps_data_enable(data.get(), 0);
  EXPECT_EQ(1, parse(data.get(), kRmc));
  EXPECT_EQ('A', data->status) << "the status is always taken";
  EXPECT_EQ(0, data->hour);
  EXPECT_EQ(0, data->year);
  EXPECT_EQ(0, data->latitude);
  EXPECT_EQ(0.0f, data->speed);
  int type = -1;
  EXPECT_EQ(1, parse(data.get(), "$GPGSV,1,1,01,05,40,083,46", &type));
  EXPECT_EQ(VX_GPS_TYPE_GSV, type);
  EXPECT_EQ(0, data->satellite_count);
}

const char kGga[] = "$GPGGA,092750.000,5321.6802,N,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,*76";

TEST(GpsParse, GgaTakesTimeAndPositionOnlyWithoutAValidRmc) {
  /* after an RMC without fix: time and position from GGA */
  Record data = fresh_record();
  std::string v = kRmc;
  v.replace(v.find(",A,"), 3, ",V,");
  parse(data.get(), v);
  int type = -1;
  EXPECT_EQ(1, parse(data.get(), kGga, &type));
  EXPECT_EQ(VX_GPS_TYPE_GGA, type);
  EXPECT_EQ('A', data->status);
  EXPECT_EQ(9, data->hour);
  EXPECT_EQ(27, data->minute);
  EXPECT_EQ(50, data->second);
  EXPECT_EQ(53361336, data->latitude);
  EXPECT_EQ(-6505620, data->longitude);
  EXPECT_NEAR(61.7, data->altitude, 1e-4);

  /* after an RMC with fix: status and altitude only */
  Record other = fresh_record();
  parse(other.get(), kRmc);
  EXPECT_EQ(1, parse(other.get(), kGga));
  EXPECT_EQ(12, other->hour);
  EXPECT_EQ(48117300, other->latitude);
  EXPECT_NEAR(61.7, other->altitude, 1e-4);
  EXPECT_EQ(1, other->rmc_valid);
}

TEST(GpsParse, GgaQualityZeroMeansNoFixAndOtherCountsAreIgnored) {
  Record data = fresh_record();
  data->status = 'A';
  EXPECT_EQ(0, parse(data.get(), "$GPGGA,092750.000,5321.6802,N,00630.3372,W,0,8,1.03,61.7,M,55.2,M,,"));
  EXPECT_EQ('V', data->status);
  data->status = 'A';
  /* 15 fields (an extra trailing one): ignored */
  EXPECT_EQ(0, parse(data.get(), "$GNGGA,092750.000,5321.6802,N,00630.3372,W,0,8,1.03,61.7,M,55.2,M,,0000,"));
  EXPECT_EQ('A', data->status);
}

TEST(GpsParse, GsvCycleFillsTheSatelliteTable) {
  Record data = fresh_record();
  int type = -1;
  EXPECT_EQ(1, parse(data.get(), "$GPGSV,2,1,07,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45", &type));
  EXPECT_EQ(VX_GPS_TYPE_GSV, type);
  EXPECT_EQ(0, data->updated) << "inside a cycle";
  EXPECT_EQ(7, data->satellites_in_view);
  EXPECT_EQ(4, data->satellite_count);
  /* last message; PRN 14 again updates its entry; SNR 00 is skipped */
  EXPECT_EQ(1, parse(data.get(), "$GPGSV,2,2,07,14,23,229,47,30,10,100,00,31,05,010,20"));
  EXPECT_EQ(1, data->updated);
  EXPECT_EQ(5, data->satellite_count);
  const int32_t expect[5][4] = {
      {1, 46, 40, 83}, {2, 41, 17, 308}, {12, 39, 7, 344}, {14, 47, 23, 229}, {31, 20, 5, 10}};
  for (int i = 0; i < 5; i++)
    for (int k = 0; k < 4; k++) EXPECT_EQ(expect[i][k], data->satellites[i][k]) << i << "," << k;
  EXPECT_EQ(1, data->prn_seen[14]);
  EXPECT_EQ(0, data->prn_seen[30]);
  /* a new cycle clears the table */
  parse(data.get(), "$GPGSV,1,1,01,07,10,010,30");
  EXPECT_EQ(1, data->satellite_count);
  EXPECT_EQ(0, data->prn_seen[14]);
  EXPECT_EQ(0, data->satellites[1][VX_GPS_SAT_PRN]);
}

TEST(GpsParse, GsvLimitsAndOddFields) {
  struct Case {
    const char* name;
    std::vector<const char*> sentences;
    int in_view;
    int count;
    std::vector<int> prns;
  } cases[] = {
      {"14 in view capped at 12",
       {"$GPGSV,4,1,14,01,10,010,30,02,10,010,30,03,10,010,30,04,10,010,30",
        "$GPGSV,4,2,14,05,10,010,30,06,10,010,30,07,10,010,30,08,10,010,30",
        "$GPGSV,4,3,14,09,10,010,30,10,10,010,30,11,10,010,30,12,10,010,30",
        "$GPGSV,4,4,14,13,10,010,30,14,10,010,30"},
       12, 12, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
      {"empty SNR ends the sentence",
       {"$GPGSV,1,1,04,01,10,010,30,02,10,010,,03,10,010,30,04,10,010,30"}, 4, 1, {1}},
      {"three-digit PRN read as two digits",
       {"$GPGSV,1,1,02,120,10,010,30,33,10,010,30"}, 2, 1, {12}},
      {"PRN outside 1..32 skipped",
       {"$GPGSV,1,1,03,00,10,010,30,65,10,010,30,05,10,010,30"}, 3, 1, {5}},
      {"group count not 1 to 4: ignored", {"$GPGSV,1,1,03,05,10,010,30,06,10"}, 0, 0, {}},
  };
  for (const Case& c : cases) {
    Record data = fresh_record();
    for (const char* s : c.sentences) parse(data.get(), s);
    EXPECT_EQ(c.in_view, data->satellites_in_view) << c.name;
    ASSERT_EQ(c.count, data->satellite_count) << c.name;
    for (size_t i = 0; i < c.prns.size(); i++)
      EXPECT_EQ(c.prns[i], data->satellites[i][VX_GPS_SAT_PRN]) << c.name << " entry " << i;
  }
}

TEST(GpsParse, OtherSentenceTypesLeaveTheRecordAlone) {
  struct Case {
    const char* sentence;
    int type_after; /* -1: unchanged */
  } cases[] = {
      {"$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1", -1}, /* 'G' fourth: type unchanged */
      {"$GPGLL,4916.45,N,12311.12,W,225444,A", -1},
      {"$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K", 0},
      {"$PMTK001,604,3", 0},
      {"$GP", 0},
  };
  for (const Case& c : cases) {
    Record data = fresh_record();
    parse(data.get(), kRmc);
    VxGpsData before = *data;
    int type = -1;
    EXPECT_EQ(0, parse(data.get(), c.sentence, &type)) << c.sentence;
    EXPECT_EQ(c.type_after, type) << c.sentence;
    EXPECT_EQ(0, memcmp(&before, data.get(), offsetof(VxGpsData, lock))) << c.sentence;
  }
}

TEST(GpsParse, TalkerIsIgnored) {
  for (const char* talker : {"GN", "GL", "IN", "BD"}) {
    Record data = fresh_record();
    std::string s = kRmc;
    s.replace(1, 2, talker);
    EXPECT_EQ(1, parse(data.get(), s)) << talker;
    EXPECT_EQ(48117300, data->latitude) << talker;
  }
}

/* The clock of one sentence: its own time and date when the RMC has an
 * accepted field count, status A and digits in range; else why not. The
 * sentence is an exact-size copy, so a short field never reads past it. */
TEST(GpsParse, RmcClockOnlyFromAValidFixInRange) {
  struct Case {
    const char* sentence;
    int reason;
  } cases[] = {
      {"$GPRMC,235959.50,A,,,,,,,311299,,", VX_GPS_CLOCK_OK},
      {"$GNRMC,000000,A,,,,,,,010100,,,A", VX_GPS_CLOCK_OK},
      {"$GPGGA,092750,4807.0380,N,01131.0000,E,1,8,1.03,61.7,M,55.2,M,,", VX_GPS_CLOCK_NOT_RMC},
      {"$GPRMC,123519,A,,,,,,,230394,", VX_GPS_CLOCK_FIELDS},
      {"$GNRMC,123519,A,,,,,,,230394,,,A,V", VX_GPS_CLOCK_FIELDS},
      {"$GPRMC,123519,V,,,,,,,230394,,", VX_GPS_CLOCK_NO_FIX},
      {"$GPRMC,123519,,,,,,,,230394,,", VX_GPS_CLOCK_NO_STATUS},
      {"$GPRMC,123519,X,,,,,,,230394,,", VX_GPS_CLOCK_NO_STATUS},
      {"$GPRMC,,A,,,,,,,,,,N", VX_GPS_CLOCK_RANGE},
      {"$GPRMC,123519,A,,,,,,,2303,,", VX_GPS_CLOCK_RANGE},
      {"$GPRMC,12351,A,,,,,,,230394,,", VX_GPS_CLOCK_RANGE},
      {"$GPRMC,240000,A,,,,,,,230394,,", VX_GPS_CLOCK_RANGE},
      {"$GPRMC,126000,A,,,,,,,230394,,", VX_GPS_CLOCK_RANGE},
      {"$GPRMC,123560,A,,,,,,,230394,,", VX_GPS_CLOCK_RANGE},
      {"$GPRMC,123519,A,,,,,,,000394,,", VX_GPS_CLOCK_RANGE},
      {"$GPRMC,123519,A,,,,,,,320394,,", VX_GPS_CLOCK_RANGE},
      {"$GPRMC,123519,A,,,,,,,230094,,", VX_GPS_CLOCK_RANGE},
      {"$GPRMC,123519,A,,,,,,,231394,,", VX_GPS_CLOCK_RANGE},
      {"$GPRMC,12:519,A,,,,,,,230394,,", VX_GPS_CLOCK_RANGE},
      {"$GPRMC,123519,A,,,,,,,2303 4,,", VX_GPS_CLOCK_RANGE},
  };
  for (const Case& c : cases) {
    std::string line = std::string(c.sentence) + "*00\r\n";
    std::vector<char> copy(line.begin(), line.end());
    SYSTEMTIME time = {1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(c.reason, vx_gps_rmc_clock(copy.data(), (int)copy.size(), &time)) << c.sentence;
    if (c.reason != VX_GPS_CLOCK_OK) {
      EXPECT_EQ(1, time.wYear) << "left alone: " << c.sentence;
    }
  }
  /* the fields as read, fraction dropped, year 20yy */
  const char first[] = "$GPRMC,235959.50,A,,,,,,,311299,,*00\r\n";
  SYSTEMTIME time;
  ASSERT_EQ(VX_GPS_CLOCK_OK, vx_gps_rmc_clock(first, (int)strlen(first), &time));
  EXPECT_EQ(2099, time.wYear);
  EXPECT_EQ(12, time.wMonth);
  EXPECT_EQ(31, time.wDay);
  EXPECT_EQ(23, time.wHour);
  EXPECT_EQ(59, time.wMinute);
  EXPECT_EQ(59, time.wSecond);
  EXPECT_EQ(0, time.wMilliseconds);
  /* a sentence cut inside its date never reads past its end */
  const char cut[] = "$GPRMC,123519,A,,,,,,,23";
  EXPECT_EQ(VX_GPS_CLOCK_FIELDS, vx_gps_rmc_clock(cut, (int)strlen(cut), &time));
}

/* The record's block is tracked under the module's own source name and line. */
TEST(GpsParse, RecordIsATrackedBlock) {
  Record data = fresh_record();
  const VxMemRecord* found = nullptr;
  const PtrArray* records = vx_mem_records();
  for (int i = 0; records && i < ptr_array_count(records); i++) {
    const VxMemRecord* r = (const VxMemRecord*)ptr_array_get(records, i);
    if (r && r->address == data.get()) found = r;
  }
  ASSERT_TRUE(found);
  EXPECT_STREQ("..\\src\\vx_gps\\vx_gps_parse", found->file);
  EXPECT_EQ(37, found->line);
}

TEST(GpsParse, RecordLifecycle) {
  EXPECT_EQ(0, vx_gps_data_reset(nullptr));
  EXPECT_EQ(0, vx_gps_data_enable(nullptr, 1));
  EXPECT_EQ(0, vx_gps_data_free(nullptr));
  Record data = fresh_record();
  EXPECT_EQ(5, data->parse_date + data->parse_time + data->parse_satellites +
                   data->parse_position + data->parse_motion);
  parse(data.get(), kRmc);
  parse(data.get(), "$GPGSV,1,1,01,07,10,010,30");
  EXPECT_EQ(1, vx_gps_data_reset(data.get()));
  EXPECT_EQ(0, data->status);
  EXPECT_EQ(0, data->satellite_count);
  EXPECT_EQ(0, data->parse_motion);
  EXPECT_EQ(1, data->updated);
  /* the lock works after a reset */
  EXPECT_EQ(1, vx_gps_data_enable(data.get(), 1));
  EXPECT_EQ(1, parse(data.get(), "$GPGSV,1,1,01,07,10,010,30"));
  EXPECT_EQ(1, data->satellite_count);
}

TEST(GpsSplitFields, CommasFromIndexSixUpToTheLastThreeBytes) {
  struct Case {
    std::string sentence;
    int size;
    int count;
  } cases[] = {
      {"$GPXXX,a,b,c*00\r\n", 30, 3},
      {"$GPXXX,,,*00\r\n", 30, 3},
      {"$GPXXX,a,b,c*00\r\n", 3, 2},    /* the table is full after size - 1 commas */
      {"$GP,X,,a,b\r\n", 30, 2},        /* commas before index 6 are not examined */
      {"$GPXXX,a,,\r\n", 30, 2},        /* the last three bytes are never examined */
      {"$GPXX", 30, 0},
      {"", 30, 0},
  };
  for (const Case& c : cases) {
    const char* fields[30] = {};
    std::vector<char> copy(c.sentence.begin(), c.sentence.end());
    const char* start = copy.empty() ? "" : copy.data();
    EXPECT_EQ(c.count, vx_gps_split_fields(fields, c.size, start, (int)copy.size())) << c.sentence;
    EXPECT_EQ(start, fields[0]);
  }
  const char s[] = "$GPXXX,a,,bc*00\r\n";
  const char* fields[5];
  ASSERT_EQ(3, vx_gps_split_fields(fields, 5, s, (int)strlen(s)));
  EXPECT_EQ(s + 7, fields[1]);
  EXPECT_EQ(',', *fields[2]) << "an empty field points at a comma";
  EXPECT_EQ(0, strncmp(fields[3], "bc*", 3));
}

TEST(GpsParse, BadChecksumsAreNotTested) {
  Record data = fresh_record();
  std::string bad = kRmc;
  bad.replace(bad.size() - 2, 2, "00");
  EXPECT_EQ(1, parse(data.get(), bad));
  EXPECT_EQ(48117300, data->latitude);
}

/* Garbage and truncated sentences: no read outside the sentence (checked by
 * the sanitizers) and the satellite count stays within the table. */
TEST(GpsParse, GarbageStaysInsideTheSentence) {
  std::mt19937 random(1234);
  const char alphabet[] = "$GPRMCSVA,,,,0123456789.*\r\nNSEW-";
  const char* heads[] = {"$GPRMC", "$GPGGA", "$GPGSV", "$GNRMC", "$XXGSV"};
  Record data = fresh_record();
  for (int i = 0; i < 20000; i++) {
    std::string s = heads[i % 5];
    int n = random() % 90;
    for (int k = 0; k < n; k++) s += alphabet[random() % (sizeof alphabet - 1)];
    std::vector<char> copy(s.begin(), s.end());
    vx_gps_parse_sentence(data.get(), copy.data(), (int)copy.size(), nullptr);
    ASSERT_GE(data->satellite_count, 0);
    ASSERT_LE(data->satellite_count, VX_GPS_MAX_SATELLITES);
  }
}

TEST(GpsParse, BufferOfSentencesIsParsedInTurn) {
  Record data = fresh_record();
  std::string buffer = std::string("junk$GPGSV,1,1,01,07,10,010,30*00\r\n") + kRmc + "\r\n$GPGG";
  EXPECT_EQ(2, vx_gps_parse(data.get(), buffer.data(), (int)buffer.size()));
  EXPECT_EQ(1, data->satellite_count);
  EXPECT_EQ('A', data->status);
}

/* ---- Real captures ---- */

std::string testdata_dir() {
  return std::string(VELMAR_TESTDATA) + "/nmea";
}

/* A number member of a JSON object line, or false when absent. */
bool json_number(const std::string& line, const std::string& key, double* value) {
  std::string k = "\"" + key + "\":";
  size_t at = line.find(k);
  if (at == std::string::npos) return false;
  *value = strtod(line.c_str() + at + k.size(), nullptr);
  return true;
}

bool json_text(const std::string& line, const std::string& key, std::string* value) {
  std::string k = "\"" + key + "\":\"";
  size_t at = line.find(k);
  if (at == std::string::npos) return false;
  size_t end = line.find('"', at + k.size());
  *value = line.substr(at + k.size(), end - at - k.size());
  return true;
}

std::vector<std::string> split_commas(const std::string& s) {
  std::vector<std::string> out(1);
  for (char c : s) {
    if (c == ',')
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

int decimals(const std::string& field) {
  size_t dot = field.find('.');
  return dot == std::string::npos ? 0 : (int)(field.size() - dot - 1);
}

/* Our speed with the +4 / +5 step undone. */
double raw_speed(double kmh) {
  if (kmh > 14 && kmh < 94) return kmh - 4;
  if (kmh > 95) return kmh - 5;
  return kmh;
}

struct Totals {
  int rmc_checked = 0, position_checked = 0, sky_checked = 0, satellites_checked = 0;
};

/* Feeds the .chk's sentences in order; after each accepted RMC with a fix
 * whose report follows at once, compares the record with it; after each
 * satellite report that follows a closing GPS GSV, every satellite of ours
 * must be in it with the same values. */
void check_capture(const std::string& name, Totals* totals) {
  std::ifstream in(testdata_dir() + "/" + name + ".chk", std::ios::binary);
  ASSERT_TRUE(in) << name;
  Record data = fresh_record();
  std::string line, last_sentence;
  int last_type = -1, last_result = 0;
  bool gsv_closed = false;
  /* PRNs of this cycle sent with fields of other widths than the fixed
   * ones (elevation 2, azimuth 3, SNR 2 digits), which ours misreads */
  std::vector<bool> irregular(VX_GPS_MAX_PRN + 1, false);
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.empty()) continue;
    if (line[0] == '$') {
      int type = -1;
      last_result = parse(data.get(), line, &type);
      last_type = type;
      last_sentence = line;
      std::vector<std::string> f = split_commas(line);
      if (type == VX_GPS_TYPE_GSV) {
        if (f.size() > 2 && f[2] == "1") irregular.assign(VX_GPS_MAX_PRN + 1, false);
        for (size_t g = 4; g + 3 < f.size(); g += 4) {
          std::string snr = f[g + 3].substr(0, f[g + 3].find('*'));
          if (f[g].size() == 2 && f[g + 1].size() == 2 && f[g + 2].size() == 3 &&
              (snr.empty() || snr.size() == 2))
            continue;
          /* the PRN as sent, and as read from two fixed places */
          std::string field = f[g] + ",";
          int read = (field[0] - '0') * 10 + (field[1] - '0');
          for (int prn : {atoi(f[g].c_str()), read})
            if (prn >= 1 && prn <= VX_GPS_MAX_PRN) irregular[prn] = true;
        }
        gsv_closed = line.compare(0, 6, "$GPGSV") == 0 && f.size() > 2 && f[1] == f[2];
      }
      continue;
    }
    if (line[0] != '{') continue;
    if (line.find("\"class\":\"TPV\"") != std::string::npos && last_type == VX_GPS_TYPE_RMC &&
        last_result == 1) {
      std::vector<std::string> f = split_commas(last_sentence);
      std::string time;
      if (!json_text(line, "time", &time) || time.size() < 19) continue;
      /* the report's time is this sentence's (the same cycle) */
      if (f[1].size() < 6 || time.compare(11, 2, f[1], 0, 2) != 0 ||
          time.compare(14, 2, f[1], 2, 2) != 0 || time.compare(17, 2, f[1], 4, 2) != 0)
        continue;
      SCOPED_TRACE(name + ": " + last_sentence);
      totals->rmc_checked++;
      EXPECT_EQ(atoi(time.substr(2, 2).c_str()), data->year - 2000);
      EXPECT_EQ(atoi(time.substr(5, 2).c_str()), data->month);
      EXPECT_EQ(atoi(time.substr(8, 2).c_str()), data->day);
      EXPECT_EQ(atoi(time.substr(11, 2).c_str()), data->hour);
      EXPECT_EQ(atoi(time.substr(14, 2).c_str()), data->minute);
      EXPECT_EQ(atoi(time.substr(17, 2).c_str()), data->second);
      double lat, lon, speed, track;
      if (decimals(f[3]) >= 4 && decimals(f[5]) >= 4 && json_number(line, "lat", &lat) &&
          json_number(line, "lon", &lon)) {
        totals->position_checked++;
        /* four decimals of the minutes (up to 1.67e-6 degrees) and the
         * millionths, both truncated */
        EXPECT_NEAR(lat, data->latitude / 1e6, 2.7e-6);
        EXPECT_NEAR(lon, data->longitude / 1e6, 2.7e-6);
      }
      if (json_number(line, "speed", &speed)) {
        EXPECT_NEAR(speed * 3.6, raw_speed(data->speed), 0.01);
      }
      if (json_number(line, "track", &track) && !f[8].empty()) {
        EXPECT_NEAR(track, data->course, 0.01);
      }
      continue;
    }
    if (line.find("\"class\":\"SKY\"") != std::string::npos &&
        line.find("\"satellites\"") != std::string::npos && gsv_closed &&
        last_type == VX_GPS_TYPE_GSV) {
      SCOPED_TRACE(name + ": " + last_sentence);
      totals->sky_checked++;
      for (int i = 0; i < data->satellite_count; i++) {
        const int32_t* sat = data->satellites[i];
        if (irregular[sat[VX_GPS_SAT_PRN]]) continue;
        std::string key = "{\"PRN\":" + std::to_string(sat[VX_GPS_SAT_PRN]) + ",\"gnssid\":0,";
        size_t at = line.find(key);
        ASSERT_NE(std::string::npos, at) << "PRN " << sat[VX_GPS_SAT_PRN];
        std::string entry = line.substr(at, line.find('}', at) - at);
        double el = -1, az = -1, ss = -1;
        json_number(entry, "el", &el);
        json_number(entry, "az", &az);
        json_number(entry, "ss", &ss);
        EXPECT_EQ(el, sat[VX_GPS_SAT_ELEVATION]) << entry;
        EXPECT_EQ(az, sat[VX_GPS_SAT_AZIMUTH]) << entry;
        EXPECT_EQ(ss, sat[VX_GPS_SAT_SNR]) << entry;
        totals->satellites_checked++;
      }
    }
  }
}

TEST(GpsCaptures, RecordMatchesTheReferenceDecoder) {
  DIR* dir = opendir(testdata_dir().c_str());
  if (!dir) GTEST_SKIP() << "NMEA captures not found at " << testdata_dir();
  std::vector<std::string> logs;
  while (dirent* e = readdir(dir)) {
    std::string n = e->d_name;
    if (n.size() > 4 && n.compare(n.size() - 4, 4, ".log") == 0) logs.push_back(n);
  }
  closedir(dir);
  ASSERT_FALSE(logs.empty());
  Totals totals;
  for (const std::string& log : logs) check_capture(log, &totals);
  /* the comparisons above ran on a real share of the captures */
  EXPECT_GT(totals.rmc_checked, 100);
  EXPECT_GT(totals.position_checked, 100);
  EXPECT_GT(totals.sky_checked, 20);
  EXPECT_GT(totals.satellites_checked, 100);
  printf("RMC reports compared: %d (positions %d); satellite reports %d (%d satellites)\n",
         totals.rmc_checked, totals.position_checked, totals.sky_checked,
         totals.satellites_checked);
}

}  // namespace
