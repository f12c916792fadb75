/* velgps: a receiver's NMEA log or its serial device through the system's
 * own reader framing and parser, one JSON line for each RMC and GGA sentence
 * (the record after it), each completed GSV cycle, and a summary with the
 * clock the device would set. */
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "plat/serial_host.h"
#include "vx_gps_parse.h"
#include "vx_gps_port.h"

namespace {

const char kUsage[] =
    "usage: velgps FILE|TTY [--baud N] [--seconds N] [--sentences N]\n"
    "\n"
    "Runs the device's NMEA reader and parser over a receiver's log file or its\n"
    "serial device and prints JSON lines:\n"
    "  one for each RMC or GGA sentence, with the GPS record after it (status,\n"
    "    time, date, position in millionths of a degree and in degrees, speed\n"
    "    in km/h as the device adjusts it, course, altitude);\n"
    "  one for each completed GSV cycle, with its satellites;\n"
    "  a last summary: sentences framed, accepted and refused by type, and the\n"
    "    clock the device would set, or null with the reason.\n"
    "\n"
    "FILE  a capture; lines beginning with '#' are its comments and skipped\n"
    "TTY   a serial device or pseudo-terminal, opened raw, 8N1\n"
    "  --baud N       the TTY's speed (default 4800)\n"
    "  --seconds N    stop reading the TTY after N seconds (default: at Ctrl-C)\n"
    "  --sentences N  stop reading the TTY after N framed sentences\n"
    "\n"
    "Exit status: 0 done, 1 the file or device could not be read, 2 bad usage.\n";

/* The device's clock search: the first RMC that gives a clock the platform
 * accepts; until then the most telling reason why none did. */
const int kRefusedByPlatform = 100;

struct Run {
  VxGpsData* data = nullptr;
  std::atomic<long> framed{0};
  long accepted[4] = {0, 0, 0, 0}; /* by VX_GPS_TYPE_... */
  long refused[4] = {0, 0, 0, 0};
  bool clock_found = false;
  SYSTEMTIME clock = {};
  int reason = VX_GPS_CLOCK_NOT_RMC;
};

/* Order of the reasons: the one of the RMC that came closest to a clock wins. */
int closeness(int reason) {
  switch (reason) {
    case VX_GPS_CLOCK_NOT_RMC: return 0;
    case VX_GPS_CLOCK_FIELDS: return 1;
    case VX_GPS_CLOCK_NO_FIX: return 2;
    case VX_GPS_CLOCK_NO_STATUS: return 3;
    case VX_GPS_CLOCK_RANGE: return 4;
    case kRefusedByPlatform: return 5;
  }
  return 0;
}

const char* reason_text(int reason) {
  if (reason == kRefusedByPlatform) return "the platform refuses the RMC date (no such day)";
  if (reason == VX_GPS_CLOCK_NOT_RMC) return "no RMC sentence";
  if (reason == VX_GPS_CLOCK_FIELDS) return "every RMC has a field count the parser ignores";
  return vx_gps_clock_reason(reason);
}

/* A float as a JSON number; null when not finite. */
std::string number(double value, const char* format = "%.7g") {
  if (value != value || value > 1e300 || value < -1e300) return "null";
  char text[64];
  snprintf(text, sizeof text, format, value);
  return text;
}

const char* type_name(int type) {
  switch (type) {
    case VX_GPS_TYPE_RMC: return "RMC";
    case VX_GPS_TYPE_GGA: return "GGA";
    case VX_GPS_TYPE_GSV: return "GSV";
  }
  return "other";
}

void print_record(const Run& run, int type, bool accepted) {
  const VxGpsData* d = run.data;
  char status[2] = {d->status, 0};
  printf("{\"type\":\"%s\",\"accepted\":%s,\"status\":\"%s\","
         "\"time\":\"%02d:%02d:%02d\",\"date\":\"%04d-%02d-%02d\","
         "\"lat\":%d,\"lon\":%d,\"lat_deg\":%s,\"lon_deg\":%s,"
         "\"speed_kmh\":%s,\"course\":%s,\"altitude\":%s}\n",
         type_name(type), accepted ? "true" : "false", status[0] > ' ' ? status : "", d->hour,
         d->minute, d->second, d->year, d->month, d->day, d->latitude, d->longitude,
         number(d->latitude / 1e6, "%.6f").c_str(), number(d->longitude / 1e6, "%.6f").c_str(),
         number(d->speed).c_str(), number(d->course).c_str(), number(d->altitude).c_str());
}

void print_satellites(const VxGpsData* d) {
  std::string line = "{\"type\":\"GSV\",\"in_view\":" + std::to_string(d->satellites_in_view) +
                     ",\"satellites\":[";
  for (int i = 0; i < d->satellite_count; i++) {
    const int32_t* s = d->satellites[i];
    char entry[96];
    snprintf(entry, sizeof entry, "%s{\"prn\":%d,\"snr\":%d,\"el\":%d,\"az\":%d}", i ? "," : "",
             s[VX_GPS_SAT_PRN], s[VX_GPS_SAT_SNR], s[VX_GPS_SAT_ELEVATION],
             s[VX_GPS_SAT_AZIMUTH]);
    line += entry;
  }
  printf("%s]}\n", line.c_str());
}

/* Every framed sentence, on the thread that framed it. */
void take_sentence(void* context, const char* sentence, int length) {
  Run& run = *(Run*)context;
  run.framed++;
  int type = VX_GPS_TYPE_OTHER;
  vx_gps_parse_sentence(run.data, sentence, length, &type);
  if (type == VX_GPS_TYPE_OTHER) return;
  const char* fields[30];
  const int count = vx_gps_split_fields(fields, 30, sentence, length);
  const bool accepted = vx_gps_field_count_ok(type, count) != 0;
  (accepted ? run.accepted : run.refused)[type]++;
  if (type == VX_GPS_TYPE_GSV) {
    /* the last message of a cycle: its number is the cycle's count */
    if (accepted && *fields[2] == *fields[1]) print_satellites(run.data);
  } else {
    print_record(run, type, accepted);
  }
  if (run.clock_found || type != VX_GPS_TYPE_RMC) return;
  SYSTEMTIME time;
  int reason = vx_gps_rmc_clock(sentence, length, &time);
  FILETIME ticks;
  if (reason == VX_GPS_CLOCK_OK && !SystemTimeToFileTime(&time, &ticks))
    reason = kRefusedByPlatform;
  if (reason == VX_GPS_CLOCK_OK) {
    run.clock_found = true;
    run.clock = time;
  } else if (closeness(reason) > closeness(run.reason)) {
    run.reason = reason;
  }
}

Run* port_run = nullptr;

int port_sentence(VxGpsPort*, int, const char* sentence, int length) {
  take_sentence(port_run, sentence, length);
  fflush(stdout);
  return 0;
}

void print_summary(const Run& run) {
  printf("{\"type\":\"summary\",\"framed\":%ld,"
         "\"accepted\":{\"RMC\":%ld,\"GGA\":%ld,\"GSV\":%ld},"
         "\"refused\":{\"RMC\":%ld,\"GGA\":%ld,\"GSV\":%ld},",
         run.framed.load(), run.accepted[VX_GPS_TYPE_RMC], run.accepted[VX_GPS_TYPE_GGA],
         run.accepted[VX_GPS_TYPE_GSV], run.refused[VX_GPS_TYPE_RMC],
         run.refused[VX_GPS_TYPE_GGA], run.refused[VX_GPS_TYPE_GSV]);
  if (run.clock_found) {
    const SYSTEMTIME& t = run.clock;
    printf("\"clock\":\"%04u-%02u-%02uT%02u:%02u:%02uZ\"}\n", t.wYear, t.wMonth, t.wDay, t.wHour,
           t.wMinute, t.wSecond);
  } else {
    printf("\"clock\":null,\"clock_reason\":\"%s\"}\n", reason_text(run.reason));
  }
  fflush(stdout);
}

/* A capture: its data lines ('#' lines dropped, the others byte for byte)
 * through the reader's framing, in reads of up to 1024 bytes. */
bool read_file(const std::string& path, Run* run) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string data, line;
  while (std::getline(in, line)) {
    if (!in.eof()) line += '\n';
    if (line.empty() || line[0] != '#') data += line;
  }
  if (in.bad()) return false;
  static char buffer[VX_GPS_BUFFER_SIZE];
  VxGpsFramer framer;
  vx_gps_framer_init(&framer, buffer, VX_GPS_BUFFER_SIZE);
  for (size_t done = 0; done < data.size();) {
    int room = 0;
    char* space = vx_gps_framer_space(&framer, &room);
    size_t n = data.size() - done;
    if (n > 1024) n = 1024;
    if (n > (size_t)room) n = (size_t)room;
    memcpy(space, data.data() + done, n);
    vx_gps_framer_push(&framer, (int)n, take_sentence, run);
    done += n;
  }
  return true;
}

volatile sig_atomic_t interrupted = 0;
void on_signal(int) { interrupted = 1; }

/* A serial device through the port and its reader thread, as the shell opens
 * COM13 (here under the name COM9). */
bool read_tty(const std::string& path, int baud, double seconds, long sentences, Run* run) {
  plat::serial_attach(u"COM9:", path);
  VxGpsPort port;
  vx_gps_port_init(&port);
  if (!vx_gps_port_open(&port, 0, TEXT("COM9"), baud, TEXT("NONE"), 8, 1)) {
    vx_gps_port_close(&port);
    DeleteCriticalSection(&port.lock);
    return false;
  }
  port.polling = 1;
  port_run = run;
  vx_gps_port_set_callback(&port, port_sentence);
  vx_gps_port_set_markers(&port, nullptr, 0, nullptr, 0);
  signal(SIGINT, on_signal);
  signal(SIGTERM, on_signal);
  bool ok = vx_gps_port_start(&port) != 0;
  if (ok)
    fprintf(stderr, "velgps: reading %s at %d baud%s\n", path.c_str(), baud,
            seconds > 0 || sentences > 0 ? "" : " until Ctrl-C");
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds((long long)(seconds * 1000));
  while (ok && !interrupted) {
    if (seconds > 0 && std::chrono::steady_clock::now() >= until) break;
    if (sentences > 0 && run->framed.load() >= sentences) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  vx_gps_port_close(&port);
  DeleteCriticalSection(&port.lock);
  return ok;
}

bool whole_number(const char* text, long min, long* value) {
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (!*text || *end || v < min) return false;
  *value = v;
  return true;
}

int usage_error(const std::string& why) {
  fprintf(stderr, "velgps: %s\n%s", why.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  long baud = 4800, sentences = 0;
  double seconds = 0;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      return 0;
    }
    long value = 0;
    if (a == "--baud" || a == "--seconds" || a == "--sentences") {
      if (i + 1 >= argc) return usage_error(a + " needs a number");
      if (!whole_number(argv[++i], 1, &value))
        return usage_error(a + ": not a positive whole number: " + argv[i]);
      if (a == "--baud") baud = value;
      if (a == "--seconds") seconds = (double)value;
      if (a == "--sentences") sentences = value;
      continue;
    }
    if (a.size() > 1 && a[0] == '-') return usage_error("unknown option " + a);
    if (!path.empty()) return usage_error("one FILE or TTY only");
    path = a;
  }
  if (path.empty()) return usage_error("no FILE or TTY");
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    fprintf(stderr, "velgps: %s: %s\n", path.c_str(), strerror(errno));
    return 1;
  }
  Run run;
  run.data = vx_gps_data_create();
  if (!run.data) {
    fprintf(stderr, "velgps: out of memory\n");
    return 1;
  }
  /* as the shell has it once the port is open */
  vx_gps_data_enable(run.data, 1);
  run.data->status = 'V';
  bool ok;
  if (S_ISCHR(st.st_mode)) {
    ok = read_tty(path, (int)baud, seconds, sentences, &run);
    if (!ok) fprintf(stderr, "velgps: %s: cannot open it as a serial port at %ld baud\n",
                     path.c_str(), baud);
  } else {
    ok = read_file(path, &run);
    if (!ok) fprintf(stderr, "velgps: %s: cannot read it\n", path.c_str());
  }
  if (ok) print_summary(run);
  vx_gps_data_free(run.data);
  return ok ? 0 : 1;
}
