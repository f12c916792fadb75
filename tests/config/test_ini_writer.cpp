/* ini_write_string: the resulting bytes for every layout, refusals that leave
 * the file untouched, and interruption at every file step. */
#include <gtest/gtest.h>
#include <unistd.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ini_fixture.h"
#include "known_difference.h"
#include "ini_reader.h"
#include "ini_writer.h"

using fixture::DeviceRoot;
using fixture::Encoding;

namespace {

/* The name of a writer's temporary file left beside config.ini, or "". */
std::string temp_left(const DeviceRoot& root) {
  std::error_code ignored;
  for (auto& entry : std::filesystem::directory_iterator(root.host("."), ignored)) {
    std::string name = entry.path().filename().string();
    if (name.compare(0, 11, "config.ini.") == 0) return name;
  }
  return "";
}

enum Encodings { GBK_ONLY, UTF16_ONLY, BOTH };

struct Layout {
  std::string what;
  Encodings encodings;
  bool missing;          /* no file before the write */
  std::string before;    /* UTF-8 text of the file */
  std::string section, key, value;
  std::string after;     /* UTF-8 text expected */
};

std::string numbered_lines(int from, int to) {
  std::string text;
  for (int i = from; i < to; i++) text += "KEY" + std::to_string(i) + "=value number " + std::to_string(i) + "\r\n";
  return text;
}

std::vector<Layout> layouts() {
  const std::string big_head = "[CONFIG]\r\n" + numbered_lines(0, 150);
  const std::string big_tail = numbered_lines(151, 300) + "[OTHER]\r\nX=1\r\n";
  const std::string long_value(300, 'w');
  return {
      {"empty ANSI file", GBK_ONLY, false, "", "CONFIG", "ID", "5", "[CONFIG]\r\nID=5\r\n"},
      {"missing file", GBK_ONLY, true, "", "CONFIG", "ID", "5", "[CONFIG]\r\nID=5\r\n"},
      {"UTF-16 file of only its mark", UTF16_ONLY, false, "", "CONFIG", "ID", "5", "\r\n[CONFIG]\r\nID=5\r\n"},
      {"section missing, last line without line end", BOTH, false, "[OTHER]\r\nA=1", "CONFIG", "ID", "5",
       "[OTHER]\r\nA=1\r\n[CONFIG]\r\nID=5\r\n"},
      {"section missing, last line ended", BOTH, false, "[OTHER]\r\nA=1\r\n", "CONFIG", "ID", "5",
       "[OTHER]\r\nA=1\r\n[CONFIG]\r\nID=5\r\n"},
      {"longer value, key line last", BOTH, false, "[CONFIG]\r\nID=5\r\n", "CONFIG", "ID", "123456789",
       "[CONFIG]\r\nID=123456789\r\n"},
      {"growth beyond the short lines after the key", BOTH, false, "[CONFIG]\r\nID=5\r\nA=1\r\nB=2\r\n", "CONFIG",
       "ID", long_value, "[CONFIG]\r\nID=" + long_value + "\r\nA=1\r\nB=2\r\n"},
      {"shorter value", BOTH, false, "[CONFIG]\r\nID=123456789\r\nA=1\r\n", "CONFIG", "ID", "5",
       "[CONFIG]\r\nID=5\r\nA=1\r\n"},
      {"blanks around = are not kept", BOTH, false, "[CONFIG]\r\n  ID = 5\r\nA=1\r\n", "CONFIG", "ID", "6",
       "[CONFIG]\r\nID=6\r\nA=1\r\n"},
      {"key line last without line end", BOTH, false, "[CONFIG]\r\nA=1\r\nID=5", "CONFIG", "ID", "77",
       "[CONFIG]\r\nA=1\r\nID=77\r\n"},
      {"LF-only lines keep theirs", BOTH, false, "[CONFIG]\nID=5\nA=1\n", "CONFIG", "ID", "6",
       "[CONFIG]\nID=6\r\nA=1\n"},
      {"key added before the next header, after blank and comment lines", BOTH, false,
       "[CONFIG]\r\nA=1\r\n\r\n;c\r\n[OTHER]\r\nID=1\r\n", "CONFIG", "ID", "6",
       "[CONFIG]\r\nA=1\r\n\r\n;c\r\nID=6\r\n[OTHER]\r\nID=1\r\n"},
      {"second CONFIG untouched, key added to the first", BOTH, false,
       "[CONFIG]\r\nA=1\r\n[CONFIG]\r\nID=1\r\n", "CONFIG", "ID", "6",
       "[CONFIG]\r\nA=1\r\nID=6\r\n[CONFIG]\r\nID=1\r\n"},
      {"second CONFIG untouched, key replaced in the first", BOTH, false,
       "[CONFIG]\r\nID=1\r\n[CONFIG]\r\nID=2\r\n", "CONFIG", "ID", "3", "[CONFIG]\r\nID=3\r\n[CONFIG]\r\nID=2\r\n"},
      {"section to the end, no final line end", BOTH, false, "[CONFIG]\r\nA=1", "CONFIG", "ID", "5",
       "[CONFIG]\r\nA=1\r\nID=5\r\n"},
      {"section to the end, final line end", BOTH, false, "[CONFIG]\r\nA=1\r\n", "CONFIG", "ID", "5",
       "[CONFIG]\r\nA=1\r\nID=5\r\n"},
      {"commented key is not the key", BOTH, false, "[CONFIG]\r\n;ID=1\r\nA=2\r\n", "CONFIG", "ID", "5",
       "[CONFIG]\r\n;ID=1\r\nA=2\r\nID=5\r\n"},
      {"unclosed header does not end the section", BOTH, false, "[CONFIG]\r\nA=1\r\n[CONFIG\r\n", "CONFIG", "ID",
       "5", "[CONFIG]\r\nA=1\r\n[CONFIG\r\nID=5\r\n"},
      {"section names are case-sensitive", BOTH, false, "[config]\r\nID=1\r\n", "CONFIG", "ID", "5",
       "[config]\r\nID=1\r\n[CONFIG]\r\nID=5\r\n"},
      {"value written as given", BOTH, false, "[CONFIG]\r\n", "CONFIG", "ID", " a=b;c ",
       "[CONFIG]\r\nID= a=b;c \r\n"},
      {"Chinese value replaced", BOTH, false, "[CONFIG]\r\nCENTER_NAME=旧名\r\nX=1\r\n", "CONFIG", "CENTER_NAME",
       "话务中心", "[CONFIG]\r\nCENTER_NAME=话务中心\r\nX=1\r\n"},
      {"Chinese section added", BOTH, false, "[A]\r\n", "配置", "名称", "值", "[A]\r\n[配置]\r\n名称=值\r\n"},
      {"many chunks, longer value", BOTH, false, big_head + "KEY150=x\r\n" + big_tail, "CONFIG", "KEY150",
       long_value, big_head + "KEY150=" + long_value + "\r\n" + big_tail},
      {"many chunks, shorter value", BOTH, false, big_head + "KEY150=" + long_value + "\r\n" + big_tail, "CONFIG",
       "KEY150", "1", big_head + "KEY150=1\r\n" + big_tail},
      {"many chunks, key added before the next header", BOTH, false, big_head + big_tail, "CONFIG", "NEW", "n",
       big_head + numbered_lines(151, 300) + "NEW=n\r\n[OTHER]\r\nX=1\r\n"},
  };
}

std::vector<Encoding> encodings_of(Encodings which) {
  if (which == GBK_ONLY) return {Encoding::Gbk};
  if (which == UTF16_ONLY) return {Encoding::Utf16};
  return {Encoding::Gbk, Encoding::Utf16};
}

int write(const Layout& l) {
  fixture::WString section = fixture::wide(l.section), key = fixture::wide(l.key),
                 value = fixture::wide(l.value), path = DeviceRoot::device("config.ini");
  return ini_write_string(section.c_str(), key.c_str(), value.c_str(), path.c_str());
}

/* Puts the layout's old file in place. */
void prepare(const DeviceRoot& root, const Layout& l, Encoding e) {
  root.remove("config.ini");
  if (!l.missing) root.write("config.ini", fixture::file_bytes(e, l.before));
}

TEST(IniWriteString, LayoutsByteForByte) {
  DeviceRoot root;
  for (const Layout& l : layouts()) {
    for (Encoding e : encodings_of(l.encodings)) {
      SCOPED_TRACE(std::string(fixture::name_of(e)) + ": " + l.what);
      prepare(root, l, e);
      EXPECT_EQ(1, write(l));
      std::string expected = fixture::file_bytes(e, l.after);
      std::string actual = root.read("config.ini");
      EXPECT_EQ(fixture::escaped(expected), fixture::escaped(actual));
      EXPECT_EQ("", temp_left(root));
      /* The value reads back. */
      fixture::WString section = fixture::wide(l.section), key = fixture::wide(l.key);
      WCHAR back[512];
      ini_read_string(section.c_str(), key.c_str(), NULL, back, 512, DeviceRoot::device("config.ini").c_str());
      std::string trimmed = l.value.substr(l.value.find_first_not_of(' '));
      trimmed = trimmed.substr(0, trimmed.find_last_not_of(' ') + 1);
      EXPECT_EQ(trimmed, fixture::utf8(back));
    }
  }
}

TEST(IniWriteString, RefusalsLeaveTheFileUntouched) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  for (Encoding e : {Encoding::Gbk, Encoding::Utf16}) {
    SCOPED_TRACE(fixture::name_of(e));
    const std::string before = fixture::file_bytes(e, "[CONFIG]\r\nID=5\r\n");
    root.write("config.ini", before);
    EXPECT_EQ(0, ini_write_string(NULL, TEXT("ID"), TEXT("6"), path.c_str()));
    EXPECT_EQ(0, ini_write_string(TEXT("CONFIG"), NULL, TEXT("6"), path.c_str()));
    EXPECT_EQ(0, ini_write_string(TEXT("CONFIG"), TEXT("ID"), NULL, path.c_str()));
    EXPECT_EQ(0, ini_write_string(TEXT("CONFIG"), TEXT("ID"), TEXT("6"), NULL));
    EXPECT_EQ(before, root.read("config.ini"));
  }
  const std::string before = root.read("config.ini");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  const int written = ini_write_string(TEXT("CONFIG"), TEXT("ID"), TEXT("6"), path.c_str());
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  KNOWN_WINE_AS_ROOT_DIFFERENCE("Wine run as root writes a read-only file", written == 1);
  if (!known_difference::on_wine_as_root()) {
    EXPECT_EQ(0, written);
    EXPECT_EQ(before, root.read("config.ini"));
  }
  EXPECT_EQ("", temp_left(root));
  EXPECT_EQ(0, ini_write_string(TEXT("CONFIG"), TEXT("ID"), TEXT("6"), TEXT("\\no such folder\\config.ini")));
  EXPECT_FALSE(root.exists("no such folder"));
}

TEST(IniWriteString, FileKeepsItsAttributes) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  root.write("config.ini", "[CONFIG]\r\nID=5\r\n");
  const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  /* Under Wine every file has the archive bit. */
  const DWORD ignored = known_difference::on_wine() ? FILE_ATTRIBUTE_ARCHIVE : 0;
  if (!SetFileAttributesW(path.c_str(), kept) || (GetFileAttributesW(path.c_str()) & ~ignored) != kept)
    GTEST_SKIP() << "the host file system of the device root keeps no hidden/system attributes";
  EXPECT_EQ(1, ini_write_string(TEXT("CONFIG"), TEXT("ID"), TEXT("6"), path.c_str()));
  EXPECT_EQ(kept, GetFileAttributesW(path.c_str()) & ~ignored);
  EXPECT_EQ("[CONFIG]\r\nID=6\r\n", root.read("config.ini"));
}

/* A reader holding the file open without sharing its deletion (as a C
 * stream does) blocks the replace only while it reads: the write waits for it
 * and its value is kept, instead of failing at once. */
TEST(IniWriteString, WaitsForAReaderThatHoldsTheFile) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  root.write("config.ini", "[CONFIG]\r\nID=5\r\n");
  HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, reader);
  struct Write {
    const WCHAR* path;
    int result;
  } write = {path.c_str(), -1};
  HANDLE writer = CreateThread(
      NULL, 0,
      [](LPVOID parameter) -> DWORD {
        Write* w = (Write*)parameter;
        w->result = ini_write_string(TEXT("CONFIG"), TEXT("ID"), TEXT("6"), w->path);
        return 0;
      },
      &write, 0, NULL);
  ASSERT_NE((HANDLE)NULL, writer);
  /* The writer is still waiting while the reader reads. */
  EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(writer, 200));
  CloseHandle(reader);
  ASSERT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(writer, 10000));
  CloseHandle(writer);
  EXPECT_EQ(1, write.result);
  EXPECT_EQ("[CONFIG]\r\nID=6\r\n", root.read("config.ini"));
  EXPECT_EQ("", temp_left(root));
}

/* The longest text that fits: a UTF-16 file's 511 characters of
 * "ID=" value "\r\n"; an ANSI file's work area of 1024 bytes holding "CONFIG",
 * "ID" and the value, each terminated. One more is refused. */
TEST(IniWriteString, TextLongerThanItsBufferIsRefused) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  struct Case {
    Encoding e;
    size_t longest;
  } cases[] = {{Encoding::Utf16, 511 - 5}, {Encoding::Gbk, 1024 - 7 - 3 - 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(fixture::name_of(c.e));
    const std::string before = fixture::file_bytes(c.e, "[CONFIG]\r\nID=5\r\nA=1\r\n");
    root.write("config.ini", before);
    fixture::WString too_long(c.longest + 1, TEXT('v'));
    EXPECT_EQ(0, ini_write_string(TEXT("CONFIG"), TEXT("ID"), too_long.c_str(), path.c_str()));
    EXPECT_EQ(before, root.read("config.ini"));
    fixture::WString longest(c.longest, TEXT('v'));
    EXPECT_EQ(1, ini_write_string(TEXT("CONFIG"), TEXT("ID"), longest.c_str(), path.c_str()));
    EXPECT_EQ(fixture::file_bytes(c.e, "[CONFIG]\r\nID=" + std::string(c.longest, 'v') + "\r\nA=1\r\n"),
              root.read("config.ini"));
  }
  /* With the header to add, the UTF-16 text also holds "[CONFIG]\r\n". */
  root.write("config.ini", fixture::file_bytes(Encoding::Utf16, "[A]\r\n"));
  fixture::WString value(511 - 10 - 5, TEXT('v'));
  EXPECT_EQ(1, ini_write_string(TEXT("CONFIG"), TEXT("ID"), value.c_str(), path.c_str()));
  root.write("config.ini", fixture::file_bytes(Encoding::Utf16, "[A]\r\n"));
  value += TEXT('v');
  EXPECT_EQ(0, ini_write_string(TEXT("CONFIG"), TEXT("ID"), value.c_str(), path.c_str()));
}

/* Fault injection: the hook counts the rewrite's file steps and fails, or
 * ends the process, at one of them. */
int steps_seen = 0;
int fail_at = 0;
bool crash = false;
const int kCrashCode = 42;

BOOL count_and_fail(int) {
  ++steps_seen;
  if (steps_seen != fail_at) return TRUE;
  if (crash) _exit(kCrashCode);
  return FALSE;
}

void arm(int step, bool crash_there) {
  steps_seen = 0;
  fail_at = step;
  crash = crash_there;
  ini_write_set_step_hook(count_and_fail);
}

class IniWriteInterrupted : public ::testing::Test {
 protected:
  void TearDown() override { ini_write_set_step_hook(NULL); }
};

TEST_F(IniWriteInterrupted, AtEveryStepTheOldOrTheNewFileIsComplete) {
  DeviceRoot root;
  const std::vector<Layout> all = layouts();
  const char* chosen[] = {"missing file", "UTF-16 file of only its mark", "shorter value", "many chunks, longer value",
                          "many chunks, shorter value"};
  for (const Layout& l : all) {
    bool wanted = false;
    for (const char* name : chosen) wanted = wanted || l.what == name;
    if (!wanted) continue;
    for (Encoding e : encodings_of(l.encodings)) {
      SCOPED_TRACE(std::string(fixture::name_of(e)) + ": " + l.what);
      const std::string old_bytes = l.missing ? "" : fixture::file_bytes(e, l.before);
      const std::string new_bytes = fixture::file_bytes(e, l.after);

      prepare(root, l, e);
      arm(0, false);
      ASSERT_EQ(1, write(l));
      const int total = steps_seen;
      ASSERT_EQ(new_bytes, root.read("config.ini"));
      ASSERT_GE(total, 5);  /* create, write, flush, close, replace at least */

      for (int k = 1; k <= total; k++) {
        SCOPED_TRACE("failing step " + std::to_string(k));
        prepare(root, l, e);
        arm(k, false);
        EXPECT_EQ(0, write(l));
        EXPECT_EQ(!l.missing, root.exists("config.ini"));
        EXPECT_EQ(old_bytes, root.read("config.ini"));
        EXPECT_EQ("", temp_left(root));
      }
      for (int k = 1; k <= total; k++) {
        SCOPED_TRACE("process ended at step " + std::to_string(k));
        prepare(root, l, e);
        EXPECT_EXIT(
            {
              arm(k, true);
              write(l);
              _exit(0);
            },
            ::testing::ExitedWithCode(kCrashCode), "");
        EXPECT_EQ(!l.missing, root.exists("config.ini"));
        EXPECT_EQ(old_bytes, root.read("config.ini"));
        /* The next write completes over whatever the interrupted one left. */
        ini_write_set_step_hook(NULL);
        EXPECT_EQ(1, write(l));
        EXPECT_EQ(new_bytes, root.read("config.ini"));
        EXPECT_EQ("", temp_left(root));
      }
    }
  }
}

}  // namespace
