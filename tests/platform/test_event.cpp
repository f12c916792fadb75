/* The host's event log: one JSON object a line, UTF-8, `t` and `ev` first. */
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "event_recorder.h"
#include "plat/host.h"

namespace {

/* Splits a line {"t":N,... into N and the rest after it; false when the line
 * does not start so. */
bool split_time(const std::string& line, uint64_t* t, std::string* rest) {
  const std::string head = "{\"t\":";
  if (line.compare(0, head.size(), head) != 0) return false;
  size_t end = head.size();
  while (end < line.size() && line[end] >= '0' && line[end] <= '9') end++;
  if (end == head.size()) return false;
  *t = std::stoull(line.substr(head.size(), end - head.size()));
  *rest = line.substr(end);
  return true;
}

class EventLog : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/velmar-events-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = name;
    plat::event_log_open(path_);
    recorder().take();
  }
  void TearDown() override {
    plat::event_log_close();
    unlink(path_.c_str());
  }
  std::vector<std::string> file_lines() {
    std::ifstream in(path_, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }
  std::string path_;
};

TEST_F(EventLog, LineHasTimeAndNameFirstThenTheFieldsInOrder) {
  uint64_t before = plat::device_ms();
  plat::Event("demo").str("s", std::string("x")).num("n", -5).real("r", 0.25).boolean("b", true).boolean("f", false);
  uint64_t after = plat::device_ms();
  std::vector<std::string> lines = file_lines();
  ASSERT_EQ(lines.size(), 1u);
  uint64_t t = 0;
  std::string rest;
  ASSERT_TRUE(split_time(lines[0], &t, &rest)) << lines[0];
  EXPECT_EQ(rest, R"(,"ev":"demo","s":"x","n":-5,"r":0.25,"b":true,"f":false})");
  EXPECT_GE(t, before);
  EXPECT_LE(t, after) << "t is device time";
  EXPECT_EQ(recorder().take(), lines) << "observers see the same line";
}

TEST_F(EventLog, StringsAreEscapedAndNonAsciiWrittenAsItself) {
  struct Case {
    const char* name;
    std::string value;
    std::string json;
  } cases[] = {
      {"quote", "say \"hi\"", R"("say \"hi\"")"},
      {"backslash", "\\residentflash2\\Velmar", R"("\\residentflash2\\Velmar")"},
      {"line ends and tab", "a\nb\r\tc", R"("a\nb\r\tc")"},
      {"other controls", std::string("\x01\x1f\b\f", 4), R"("\u0001\u001f\b\f")"},
      {"nul", std::string("a\0b", 3), R"("a\u0000b")"},
      {"slash and delete", "a/b\x7f", "\"a/b\x7f\""},
      {"chinese", "请插入地图卡", "\"请插入地图卡\""},
      {"outside the BMP", "\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
      {"invalid UTF-8", "a\xff" "b\xC3", "\"a\xEF\xBF\xBD" "b\xEF\xBF\xBD\""},
      {"overlong UTF-8", "\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const Case& c : cases) plat::Event("text").str("v", c.value);
  plat::Event("wide").str("v", u"话务员\"设定\"").str("lone", u"a\xD800z").str("none", (const WCHAR*)nullptr);
  std::vector<std::string> lines = file_lines();
  ASSERT_EQ(lines.size(), std::size(cases) + 1);
  for (size_t i = 0; i < std::size(cases); i++) {
    const std::string tail = ",\"ev\":\"text\",\"v\":" + cases[i].json + "}";
    ASSERT_GE(lines[i].size(), tail.size());
    EXPECT_EQ(lines[i].substr(lines[i].size() - tail.size()), tail) << cases[i].name;
  }
  EXPECT_NE(lines.back().find(",\"v\":\"话务员\\\"设定\\\"\",\"lone\":\"a\xEF\xBF\xBDz\",\"none\":\"\"}"),
            std::string::npos)
      << lines.back();
}

TEST_F(EventLog, NumbersAreJson) {
  struct Case {
    double value;
    const char* json;
  } cases[] = {
      {0.1, "0.1"}, {-2.5, "-2.5"}, {1e300, "1e+300"}, {113.2644, "113.2644"}, {1.0 / 3, "0.33333333333333331"},
      {NAN, "null"}, {INFINITY, "null"},
  };
  for (const Case& c : cases) plat::Event("n").real("v", c.value);
  plat::Event("n").num("v", -9223372036854775807LL - 1);
  std::vector<std::string> lines = file_lines();
  ASSERT_EQ(lines.size(), std::size(cases) + 1);
  for (size_t i = 0; i < std::size(cases); i++) {
    std::string tail = std::string(",\"v\":") + cases[i].json + "}";
    EXPECT_EQ(lines[i].substr(lines[i].size() - tail.size()), tail) << lines[i];
  }
  EXPECT_NE(lines.back().find("\"v\":-9223372036854775808}"), std::string::npos) << lines.back();
}

TEST_F(EventLog, LinesFromManyThreadsStayWhole) {
  const int threads = 4, per_thread = 400;
  std::vector<HANDLE> handles;
  struct Job {
    int thread;
  };
  std::vector<Job> jobs(threads);
  for (int i = 0; i < threads; i++) {
    jobs[i].thread = i;
    handles.push_back(CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
          int thread = static_cast<Job*>(p)->thread;
          for (int k = 0; k < per_thread; k++)
            plat::Event("busy").num("thread", thread).num("k", k).str("pad", std::string(200, 'a' + thread));
          return 0;
        },
        &jobs[i], 0, nullptr));
  }
  ASSERT_EQ(WaitForMultipleObjects(threads, handles.data(), TRUE, INFINITE), WAIT_OBJECT_0);
  for (HANDLE h : handles) CloseHandle(h);

  std::vector<std::string> lines = file_lines();
  ASSERT_EQ(lines.size(), (size_t)(threads * per_thread));
  std::set<std::pair<int, int>> seen;
  for (const std::string& line : lines) {
    uint64_t t;
    std::string rest;
    ASSERT_TRUE(split_time(line, &t, &rest)) << line.substr(0, 80);
    const std::string head = ",\"ev\":\"busy\",\"thread\":";
    ASSERT_EQ(rest.compare(0, head.size(), head), 0) << rest.substr(0, 80);
    int thread = rest[head.size()] - '0';
    ASSERT_TRUE(thread >= 0 && thread < threads) << rest.substr(0, 80);
    ASSERT_EQ(rest.compare(head.size() + 1, 5, ",\"k\":"), 0) << rest.substr(0, 80);
    int k = std::stoi(rest.substr(head.size() + 6));
    const std::string tail = ",\"pad\":\"" + std::string(200, (char)('a' + thread)) + "\"}";
    ASSERT_TRUE(rest.size() > tail.size() && rest.compare(rest.size() - tail.size(), tail.size(), tail) == 0)
        << rest.substr(0, 80);
    seen.insert({thread, k});
  }
  EXPECT_EQ(seen.size(), lines.size()) << "every event once";
  EXPECT_EQ(recorder().take().size(), lines.size());
}

TEST_F(EventLog, EmptyPathWritesNoFileButObserversStillSee) {
  plat::event_log_open("");
  plat::Event("quiet");
  EXPECT_TRUE(file_lines().empty());
  std::vector<std::string> seen = recorder().take();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_NE(seen[0].find("\"ev\":\"quiet\""), std::string::npos);
}

TEST_F(EventLog, DashIsStandardOutput) {
  testing::internal::CaptureStdout();
  plat::event_log_open("-");
  plat::Event("to-stdout").num("x", 1);
  plat::event_log_close();
  std::string out = testing::internal::GetCapturedStdout();
  uint64_t t;
  std::string rest;
  ASSERT_TRUE(split_time(out, &t, &rest)) << out;
  EXPECT_EQ(rest, ",\"ev\":\"to-stdout\",\"x\":1}\n");
  EXPECT_TRUE(file_lines().empty());
}

}  // namespace
