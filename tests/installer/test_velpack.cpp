/* velpack, the host tool: usage and errors, and the round trip of a host
 * folder through a package and install_package (contents, folders, times),
 * and the listing of a package. */
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>

#include <cstdio>

#include "installer_fixture.h"
#include "package.h"

using namespace fixture;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
  int status;
  std::string out;
};

/* Runs velpack with the arguments (shell words) and collects its output,
 * standard error included. */
ToolRun velpack(const std::string& args) {
  std::string command = std::string(VELMAR_BINARY_DIR) + "/bin/velpack " + args + " 2>&1";
  ToolRun run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

void set_times(const fs::path& path, time_t access, time_t write) {
  struct timespec times[2] = {{access, 0}, {write, 500000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

uint64_t as_file_time(time_t seconds, long nanoseconds) {
  return (uint64_t)(seconds + 11644473600LL) * 10000000ULL + (uint64_t)nanoseconds / 100;
}

class Velpack : public ::testing::Test {
 protected:
  /* A source tree beside the device root: a.txt, sub/b.bin, sub/empty/, z.txt. */
  void make_source() {
    source_ = root_.host("source");
    fs::create_directories(source_ / "sub" / "empty");
    std::ofstream(source_ / "a.txt") << "alpha";
    std::ofstream(source_ / "sub" / "b.bin", std::ios::binary) << std::string("\x00\x01\x02", 3);
    std::ofstream(source_ / "z.txt") << "";
    set_times(source_ / "a.txt", 1500000000, 1600000000);
    set_times(source_ / "sub" / "b.bin", 1500000100, 1600000100);
    set_times(source_ / "z.txt", 1500000200, 1600000200);
    set_times(source_ / "sub" / "empty", 1500000300, 1600000300);
    set_times(source_ / "sub", 1500000400, 1600000400);
  }

  DeviceRoot root_;
  fs::path source_;
};

TEST_F(Velpack, UsageAndErrorsHaveTheirExitStatus) {
  make_source();
  std::string src = source_.string(), pkg = root_.host("out.pkg").string();
  fs::path linked = root_.host("linked"), deep = root_.host("deep");
  fs::create_directories(linked);
  fs::create_symlink(source_ / "a.txt", linked / "link.txt");
  /* Two names of 200 characters make a folder field of 401. */
  fs::create_directories(deep / std::string(200, 'a') / std::string(200, 'b'));
  std::ofstream(deep / std::string(200, 'a') / std::string(200, 'b') / "f.txt") << "f";
  /* A name of dots and blanks that velinstall takes for "..". */
  fs::path dotted = root_.host("dotted");
  fs::create_directories(dotted);
  std::ofstream(dotted / ". .") << "x";
  struct Case {
    std::string args;
    int status;
    const char* text;
  } cases[] = {
      {"--help", 0, "usage: velpack build FOLDER -o PACKAGE"},
      {"", 2, "no command given"},
      {"pack " + src, 2, "unknown command 'pack'"},
      {"build " + src, 2, "no PACKAGE given"},
      {"build -o " + pkg, 2, "no FOLDER given"},
      {"build " + src + " -o", 2, "missing PACKAGE after -o"},
      {"list", 2, "wrong number of arguments"},
      {"build " + src + "/missing -o " + pkg, 1, "not a folder"},
      {"build " + src + " -o " + src + "/inner.pkg", 1, "cannot be inside the folder"},
      {"list " + root_.host("missing.pkg").string(), 1, "cannot read"},
      {"build " + linked.string() + " -o " + pkg, 1, "only folders and regular files"},
      {"build " + deep.string() + " -o " + pkg, 1, "the folder is longer than 259"},
      {"build " + dotted.string() + " -o " + pkg, 1, "velinstall refuses this name"},
  };
  for (const Case& c : cases) {
    ToolRun run = velpack(c.args);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.out;
    EXPECT_NE(run.out.find(c.text), std::string::npos) << c.args << "\n" << run.out;
  }
  EXPECT_FALSE(fs::exists(source_ / "inner.pkg"));
  /* A failed build leaves no package behind. */
  EXPECT_FALSE(fs::exists(pkg));
  EXPECT_FALSE(fs::exists(pkg + ".velpack-tmp"));
}

TEST_F(Velpack, BuiltPackageInstallsTheSameTreeWithItsTimes) {
  make_source();
  std::string pkg = root_.host("app.pkg").string();
  ToolRun run = velpack("build " + source_.string() + " -o " + pkg);
  ASSERT_EQ(run.status, 0) << run.out;

  ASSERT_EQ(install_package(root_.device("flash/app").c_str(), root_.device("app.pkg").c_str()), 1);
  EXPECT_TRUE(boxes().empty());
  Times a, b;
  ASSERT_TRUE(file_times(root_.device("flash/app/a.txt"), &a));
  ASSERT_TRUE(file_times(root_.device("flash/app/sub/b.bin"), &b));
  EXPECT_EQ(a.write, as_file_time(1600000000, 500000000));
  EXPECT_EQ(a.access, as_file_time(1500000000, 0));
  EXPECT_EQ(b.write, as_file_time(1600000100, 500000000));
  EXPECT_EQ(root_.read("flash/app/a.txt"), "alpha");
  EXPECT_EQ(root_.read("flash/app/sub/b.bin"), std::string("\x00\x01\x02", 3));
  EXPECT_EQ(root_.read("flash/app/z.txt"), "");
  EXPECT_TRUE(root_.is_folder("flash/app/sub/empty"));

  ToolRun listing = velpack("list " + pkg);
  ASSERT_EQ(listing.status, 0) << listing.out;
  /* Folders before their contents, names in byte order. */
  EXPECT_EQ(listing.out,
            "file             5  2020-09-13 12:26:40  a.txt\n"
            "folder           -  2020-09-13 12:33:20  sub\n"
            "file             3  2020-09-13 12:28:20  sub\\b.bin\n"
            "folder           -  2020-09-13 12:31:40  sub\\empty\n"
            "file             0  2020-09-13 12:30:00  z.txt\n");
}

TEST_F(Velpack, HeadersCarryKindAttributesAndFolders) {
  make_source();
  chmod((source_ / "a.txt").c_str(), 0444);
  std::string pkg = root_.host("app.pkg").string();
  ASSERT_EQ(velpack("build " + source_.string() + " -o " + pkg).status, 0);
  std::string bytes = root_.read("app.pkg");
  ASSERT_GE(bytes.size(), sizeof(PackageEntryHeader));
  PackageEntryHeader first;
  memcpy(&first, bytes.data(), sizeof first);
  EXPECT_EQ(A(first.name), "a.txt");
  EXPECT_EQ(first.folder[0], 0);
  EXPECT_EQ(first.attributes, (DWORD)(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(first.size_low, 5u);
  EXPECT_EQ(first.size_high, 0u);
  PackageEntryHeader second;
  memcpy(&second, bytes.data() + sizeof first + 5, sizeof second);
  EXPECT_EQ(A(second.name), "sub");
  EXPECT_EQ(second.attributes, (DWORD)PACKAGE_FOLDER_ATTRIBUTE);
  PackageEntryHeader third;
  memcpy(&third, bytes.data() + 2 * sizeof first + 5, sizeof third);
  EXPECT_EQ(A(third.name), "b.bin");
  EXPECT_EQ(A(third.folder), "sub");
  /* Five entries and eight bytes of contents, nothing else. */
  EXPECT_EQ(bytes.size(), 5 * sizeof(PackageEntryHeader) + 8);
}

TEST_F(Velpack, ListRefusesCutAndMalformedPackages) {
  std::string good = package_bytes({file("", "a.txt", "alpha"), file("", "b.txt", "beta")});
  Entry unterminated = file("", "x", "");
  unterminated.terminate_name = false;
  Entry sized_folder = folder("", "data");
  sized_folder.declared_size = 5;
  sized_folder.contents = "alpha";
  struct Case {
    const char* what;
    std::string bytes;
    const char* text;
  } cases[] = {
      {"cut contents", good.substr(0, good.size() - 1), "contents of b.txt cut short"},
      {"cut header", good + "xx", "entry header cut short"},
      {"unterminated name", package_bytes({unterminated}), "unterminated"},
      {"parent in folder", package_bytes({file("", "a.txt", "a"), file("sub\\..\\..", "x", "x")}),
       "(sub\\..\\..\\x) has a \"..\" component"},
      {"parent as name", package_bytes({folder("", "..")}), "has a \"..\" component"},
      {"folder with a size", package_bytes({sized_folder, file("", "b.txt", "beta")}),
       "(data) is a folder with a size"},
  };
  for (const Case& c : cases) {
    root_.write("bad.pkg", c.bytes);
    ToolRun run = velpack("list " + root_.host("bad.pkg").string());
    EXPECT_EQ(run.status, 1) << c.what << "\n" << run.out;
    EXPECT_NE(run.out.find("damaged package: "), std::string::npos) << c.what << "\n" << run.out;
    EXPECT_NE(run.out.find(c.text), std::string::npos) << c.what << "\n" << run.out;
  }
  /* A size with a high part is listed whole. */
  Entry big = file("", "big.bin", "");
  big.size_high = 1;
  big.declared_size = 0;
  root_.write("big.pkg", package_bytes({big}));
  ToolRun run = velpack("list " + root_.host("big.pkg").string());
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("4294967296"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("contents of big.bin cut short"), std::string::npos) << run.out;
}

TEST_F(Velpack, BuildWarnsAboutWhatVelinstallTreatsOtherwise) {
  fs::path source = root_.host("source");
  fs::create_directories(source / "conf.REG");
  fs::create_directories(source / "App.registry");
  std::ofstream(source / "setup.reg", std::ios::binary) << "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n";
  std::ofstream(source / "unix.reg", std::ios::binary) << "REGEDIT4\n";
  std::ofstream(source / "empty.reg", std::ios::binary) << "";
  std::ofstream(source / "conf.REG" / "settings", std::ios::binary) << "REGEDIT4\r\n";
  std::ofstream(source / "notes.Reg", std::ios::binary) << "notes";
  std::ofstream(source / "App.registry" / "plain.txt", std::ios::binary) << "plain";
  std::ofstream(source / std::string(200, 'n'), std::ios::binary) << "long";
  std::string pkg = root_.host("app.pkg").string();
  /* A device path of 31 + 2 + 200 characters fits; one of 76 + 2 + 200 does not. */
  ToolRun fits = velpack("build " + source.string() + " -o " + pkg +
                         " --target '\\residentflash2\\App\\versions\\v1'");
  ASSERT_EQ(fits.status, 0) << fits.out;
  ToolRun run = velpack("build " + source.string() + " -o " + pkg + " --target '\\residentflash2\\" +
                        std::string(60, 'T') + "'");
  ASSERT_EQ(run.status, 0) << run.out;
  struct Expect {
    const char* text;
    bool in_first, in_second;
  } expected[] = {
      {"warning: setup.reg: a registry file", true, true},
      {"warning: unix.reg: a registry file", true, true},
      {"warning: unix.reg: a registry file without the REGEDIT4 header", true, true},
      {"warning: empty.reg: a registry file (", true, true},
      {"warning: empty.reg: a registry file without", false, false},
      {"warning: setup.reg: a registry file without", false, false},
      {"warning: conf.REG\\settings: a registry file", true, true},
      {"notes.Reg", false, false},
      /* ".registry" holds ".reg": inside the package the folder's files count */
      {"warning: App.registry\\plain.txt: a registry file", true, true},
      {"nnnn: its device path has 278 characters", false, true},
  };
  for (const Expect& e : expected) {
    EXPECT_EQ(fits.out.find(e.text) != std::string::npos, e.in_first) << e.text << "\n" << fits.out;
    EXPECT_EQ(run.out.find(e.text) != std::string::npos, e.in_second) << e.text << "\n" << run.out;
  }
  /* Not a terminal: no progress. */
  EXPECT_EQ(run.out.find("entries,"), std::string::npos) << run.out;
}

}  // namespace
