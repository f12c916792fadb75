/* The host tool velgps (host only): its decoding of two captures agrees with
 * the captures' reference decodings (.chk), it reads a pseudo-terminal as it
 * reads the file, and its usage and errors. */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <math.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tool_run.h"

namespace {

const std::string kTool = std::string(VELMAR_BINARY_DIR) + "/bin/velgps";
std::string capture(const char* name) { return std::string(VELMAR_TESTDATA) + "/nmea/" + name; }

/* The output, the standard error and the exit status of velgps ARGS. */
struct Result {
  std::vector<std::string> lines;
  std::string errors;
  int status = -1;
};

/* Runs velgps; `while_running` as run_tool's. */
Result run(const std::vector<std::string>& args,
           const std::function<bool(pid_t, const std::string&, const std::string&)>&
               while_running = nullptr) {
  ToolRun tool = run_tool(kTool, args, while_running);
  Result r;
  r.status = tool.status;
  r.errors = tool.err;
  size_t begin = 0;
  for (size_t i; (i = tool.out.find('\n', begin)) != std::string::npos; begin = i + 1)
    r.lines.push_back(tool.out.substr(begin, i - begin));
  return r;
}

/* A member of a flat JSON object: the text of a string, or a number's text;
 * empty when absent. */
std::string member(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  size_t at = line.find(tag);
  if (at == std::string::npos) return "";
  at += tag.size();
  if (line[at] == '"') return line.substr(at + 1, line.find('"', at + 1) - at - 1);
  size_t end = line.find_first_of(",}]", at);
  return line.substr(at, end - at);
}

/* The reference decoding's TPV objects by their time to the second. */
std::multimap<std::string, std::string> reference_fixes(const char* name) {
  std::multimap<std::string, std::string> fixes;
  std::ifstream in(capture(name) + ".chk");
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("\"class\":\"TPV\"") == std::string::npos) continue;
    std::string time = member(line, "time");
    if (time.size() >= 19) fixes.emplace(time.substr(0, 19), line);
  }
  return fixes;
}

/* The device's km/h step undone: +4 between 10 and 90, +5 above 90. */
double unadjusted(double kmh) {
  if (kmh > 95) return kmh - 5;
  if (kmh > 14) return kmh - 4;
  return kmh;
}

class VelgpsAgainstReference : public ::testing::TestWithParam<const char*> {};

TEST_P(VelgpsAgainstReference, FixesAgree) {
  Result r = run({capture(GetParam())});
  ASSERT_EQ(0, r.status) << r.errors;
  const auto fixes = reference_fixes(GetParam());
  ASSERT_FALSE(fixes.empty());
  int compared = 0, rmc_fixes = 0;
  for (const std::string& line : r.lines) {
    if (member(line, "type") != "RMC" || member(line, "status") != "A") continue;
    if (member(line, "accepted") != "true") continue;
    rmc_fixes++;
    const std::string when = member(line, "date") + "T" + member(line, "time");
    auto range = fixes.equal_range(when);
    /* the last report of that second with a position and a speed */
    std::string fix;
    for (auto it = range.first; it != range.second; ++it)
      if (!member(it->second, "lat").empty() && !member(it->second, "speed").empty())
        fix = it->second;
    if (fix.empty()) continue;
    SCOPED_TRACE(line + "\n" + fix);
    compared++;
    /* four decimals of the minutes, truncated, in whole millionths of a degree */
    const double four_decimals = 0.0001 / 60 + 1e-6;
    EXPECT_NEAR(atof(member(fix, "lat").c_str()), atof(member(line, "lat_deg").c_str()),
                four_decimals);
    EXPECT_NEAR(atof(member(fix, "lon").c_str()), atof(member(line, "lon_deg").c_str()),
                four_decimals);
    EXPECT_NEAR(atof(member(fix, "speed").c_str()) * 3.6,
                unadjusted(atof(member(line, "speed_kmh").c_str())), 0.01);
    /* no course below a walking pace there */
    if (!member(fix, "track").empty()) {
      EXPECT_NEAR(atof(member(fix, "track").c_str()), atof(member(line, "course").c_str()), 0.001);
    }
  }
  /* nearly every fix of the capture has its reference report */
  EXPECT_GE(rmc_fixes, 10);
  EXPECT_GE(compared * 10, rmc_fixes * 9) << compared << " of " << rmc_fixes;
}

INSTANTIATE_TEST_SUITE_P(Captures, VelgpsAgainstReference,
                         ::testing::Values("haicom-305N.log", "ublox-lea-5h.log"));

/* The capture written into a pseudo-terminal gives the lines the file gives,
 * once the tool reads (it empties the port when it opens it); Ctrl-C ends
 * it with the summary. */
TEST(Velgps, ReadsAPseudoTerminalAsItReadsTheFile) {
  const std::string path = capture("ublox-lea-5h.log");
  Result from_file = run({path});
  ASSERT_EQ(0, from_file.status);
  ASSERT_GT(from_file.lines.size(), 20u);

  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(0, grantpt(master));
  ASSERT_EQ(0, unlockpt(master));
  const std::string slave = ptsname(master);
  std::string data, line;
  std::ifstream in(path, std::ios::binary);
  while (std::getline(in, line))
    if (line.empty() || line[0] != '#') data += line + "\n";
  const std::string hello = "$GPGSV,1,1,01,07,10,010,30*00\r\n";
  const std::string hello_line =
      "{\"type\":\"GSV\",\"in_view\":1,\"satellites\":[{\"prn\":7,\"snr\":30,\"el\":10,\"az\":10}]}";

  enum { greeting, sending, waiting, ending } phase = greeting;
  auto since = std::chrono::steady_clock::now();
  size_t greetings = 0;
  Result r = run({slave, "--baud", "9600"}, [&](pid_t pid, const std::string& out,
                                                const std::string&) {
    const auto now = std::chrono::steady_clock::now();
    const auto waited = now - since;
    if (phase == greeting) {
      /* a greeting every 100 ms until one comes back */
      if (out.find(hello_line) != std::string::npos) {
        phase = sending;
        since = now;
      } else if (waited > std::chrono::milliseconds(100)) {
        if (write(master, hello.data(), hello.size()) < 0) return false;
        since = now;
      }
    } else if (phase == sending && waited > std::chrono::milliseconds(300)) {
      /* greetings still on their way are in by now */
      for (size_t at = 0; (at = out.find(hello_line, at)) != std::string::npos; at++) greetings++;
      for (size_t done = 0; done < data.size();) {
        ssize_t n = write(master, data.data() + done, data.size() - done);
        if (n > 0) done += (size_t)n;
      }
      phase = waiting;
      since = now;
    } else if (phase == waiting) {
      size_t lines = 0;
      for (char c : out) lines += c == '\n';
      if (lines >= greetings + from_file.lines.size() - 1 ||
          waited > std::chrono::seconds(20)) {
        kill(pid, SIGINT);
        phase = ending;
      }
    }
    return phase != ending;
  });
  close(master);
  ASSERT_EQ(0, r.status) << r.errors;
  EXPECT_NE(std::string::npos, r.errors.find("reading " + slave + " at 9600 baud"));
  ASSERT_EQ(greetings + from_file.lines.size(), r.lines.size());
  for (size_t i = 0; i + 1 < from_file.lines.size(); i++)
    EXPECT_EQ(from_file.lines[i], r.lines[greetings + i]);
  /* the summary counts the greetings too */
  const std::string& summary = r.lines.back();
  EXPECT_EQ(std::to_string(atol(member(from_file.lines.back(), "framed").c_str()) + greetings),
            member(summary, "framed"));
  EXPECT_EQ(member(from_file.lines.back(), "clock"), member(summary, "clock"));
}

TEST(Velgps, UsageAndErrors) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* error;
  };
  const Case cases[] = {
      {{}, 2, "no FILE or TTY"},
      {{"a.log", "b.log"}, 2, "one FILE or TTY only"},
      {{"a.log", "--baud"}, 2, "--baud needs a number"},
      {{"a.log", "--baud", "fast"}, 2, "not a positive whole number"},
      {{"a.log", "--speed", "2"}, 2, "unknown option --speed"},
      {{"/no/such/capture.log"}, 1, "/no/such/capture.log: No such file"},
      /* a terminal that is no serial port at that speed */
      {{"/dev/null", "--seconds", "1"}, 1, "cannot open it as a serial port"},
  };
  for (const Case& c : cases) {
    Result r = run(c.args);
    EXPECT_EQ(c.status, r.status) << c.error;
    EXPECT_NE(std::string::npos, r.errors.find(c.error)) << r.errors;
    EXPECT_TRUE(r.lines.empty()) << c.error;
  }
  Result help = run({"--help"});
  EXPECT_EQ(0, help.status);
  ASSERT_FALSE(help.lines.empty());
  EXPECT_EQ(0u, help.lines[0].find("usage: velgps FILE|TTY"));
}

}  // namespace
