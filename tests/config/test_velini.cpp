/* velini, the host tool: its exit codes, what it refuses to write (a value
 * or name that the file could not hold), the round trip of UTF-8 values and
 * names through both encodings of a file, file names found without regard to
 * case, and a file inside a device root treated as that device's. */
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tool_run.h"

namespace fs = std::filesystem;

namespace {

/* Runs velini with exactly these arguments. */
ToolRun velini(const std::vector<std::string>& args) {
  return run_tool(std::string(VELMAR_BINARY_DIR) + "/bin/velini", args);
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class Velini : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/velmar-velini-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    file_ = (dir_ / "config.ini").string();
    write_file(file_, "[CONFIG]\r\nID=5\r\n");
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
  std::string file_;
};

TEST_F(Velini, ExitCodes) {
  EXPECT_EQ(0, velini({"--help"}).status);
  EXPECT_NE(std::string::npos, velini({"--help"}).out.find("usage: velini"));
  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{}, 2},
      {{"remove", file_, "CONFIG", "ID"}, 2},
      {{"get", file_, "CONFIG"}, 2},
      {{"set", file_, "CONFIG", "ID"}, 2},
      {{"get", (dir_ / "no such folder" / "config.ini").string(), "CONFIG", "ID"}, 2},
      {{"get", file_, "CONFIG", "ID"}, 0},
      {{"lookup", file_, "CONFIG", "ID"}, 0},
      {{"get", file_, "CONFIG", "NONE"}, 1},
      {{"lookup", file_, "OTHER", "ID"}, 1},
      {{"set", file_, "CONFIG", "ID", "6"}, 0},
  };
  for (const Case& c : cases) {
    std::string line;
    for (auto& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    ToolRun run = velini(c.args);
    EXPECT_EQ(c.status, run.status) << run.err;
    if (c.status == 2) {
      EXPECT_NE(std::string::npos, run.err.find("velini: ")) << "a clear error";
    }
  }
  /* A write that fails (a read-only file) is 1, and says so. */
  fs::permissions(file_, fs::perms::owner_read);
  if (geteuid() != 0) {
    ToolRun run = velini({"set", file_, "CONFIG", "ID", "7"});
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("failed"));
  }
  fs::permissions(file_, fs::perms::owner_all);
}

/* What the file could never read back is refused, and the file is untouched. */
TEST_F(Velini, RefusesWhatTheFileCannotHold) {
  const std::string before = read_file(file_);
  struct Case {
    std::string section, key, value, why;
  } cases[] = {
      {"CONFIG", "ID", "3\r\n[EVIL]\r\nX=1", "CR or LF"},
      {"CONFIG", "ID", "line\nfeed", "CR or LF"},
      {"CONFIG", "ID\r", "3", "CR or LF"},
      {"CON\nFIG", "ID", "3", "CR or LF"},
      {"CONFIG", "A=B", "3", "\"=\""},
      {"CONFIG", "[EVIL]", "3", "\"[\""},
      {"A]B", "ID", "3", "\"]\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.section + " / " + c.key + " / " + c.value);
    ToolRun run = velini({"set", file_, c.section, c.key, c.value});
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.err.find(c.why)) << run.err;
    EXPECT_EQ(before, read_file(file_));
  }
  /* "=" in a value and "[" inside a key are fine. */
  EXPECT_EQ(0, velini({"set", file_, "CONFIG", "K[1]", "a=b"}).status);
  EXPECT_EQ("a=b\n", velini({"get", file_, "CONFIG", "K[1]"}).out);
}

/* UTF-8 names and values go in and come out again, in either encoding of the
 * file, which keeps its encoding. */
TEST_F(Velini, RoundTripOfUtf8InBothEncodings) {
  const std::string value = "话务员设定地址 (22.5, 113.4)";
  const std::string utf16_file = (dir_ / "wide.ini").string();
  write_file(utf16_file, std::string("\xFF\xFE[\0C\0]\0\r\0\n\0", 12));
  for (const std::string& file : {file_, utf16_file}) {
    SCOPED_TRACE(file);
    const std::string head = read_file(file).substr(0, 2);
    ASSERT_EQ(0, velini({"set", file, "中心", "名字", value}).status);
    EXPECT_EQ(value + "\n", velini({"get", file, "中心", "名字"}).out);
    EXPECT_EQ(value + "\n", velini({"lookup", file, "中心", "名字"}).out);
    EXPECT_EQ(head, read_file(file).substr(0, 2)) << "the encoding is kept";
  }
  EXPECT_NE(std::string::npos, read_file(file_).find("\xC3\xFB\xD7\xD6=")) << "GBK 名字";
}

/* The file's name is found without regard to case, as device paths are; the
 * names inside the file match exactly. */
TEST_F(Velini, FileNamesWithoutRegardToCaseNamesExactly) {
  const std::string upper = (dir_ / "CONFIG.INI").string();
  EXPECT_EQ("5\n", velini({"get", upper, "CONFIG", "ID"}).out);
  EXPECT_EQ(0, velini({"set", upper, "CONFIG", "ID", "8"}).status);
  EXPECT_FALSE(fs::exists(upper) && fs::equivalent(upper, file_) == false) << "no second file";
  EXPECT_EQ("[CONFIG]\r\nID=8\r\n", read_file(file_));
  EXPECT_EQ(1, velini({"get", file_, "config", "ID"}).status);
  EXPECT_EQ(1, velini({"get", file_, "CONFIG", "id"}).status);
}

/* A file inside a device root (a folder holding .kernel/) is that device's,
 * so velini's lock of the file is the one the shell's writes take there. */
TEST_F(Velini, FileInsideADeviceRootIsTheDevicesFile) {
  fs::create_directories(dir_ / ".kernel");
  fs::create_directories(dir_ / "residentflash2" / "Velmar");
  const fs::path inner = dir_ / "residentflash2" / "Velmar" / "config.ini";
  write_file(inner, "[CONFIG]\r\n");
  ASSERT_EQ(0, velini({"set", inner.string(), "CONFIG", "NAVI1", "\\sdmmc\\Navi\\Navi.exe"}).status);
  EXPECT_EQ("[CONFIG]\r\nNAVI1=\\sdmmc\\Navi\\Navi.exe\r\n", read_file(inner));
  EXPECT_FALSE(fs::exists(dir_ / "residentflash2" / "Velmar" / ".kernel")) << "not a device of its own";
}

}  // namespace
