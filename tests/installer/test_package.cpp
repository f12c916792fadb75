/* Package unpacking: folders and files with their times, cut contents, the
 * REGEDIT4 files it imports and deletes, and every way a package or its
 * target folder fails. Packages are made by the fixture's generator. */
#include <gtest/gtest.h>

#include "installer_fixture.h"
#include "known_difference.h"
#include "package.h"

using namespace fixture;

namespace {

const std::string kRegFile =
    "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\VelmarInstallerTest]\r\n\"Port\"=dword:0000000A\r\n";
const std::string kKey = "Software\\VelmarInstallerTest";

class Package : public ::testing::Test {
 protected:
  int install(const std::vector<Entry>& entries, const std::string& target = "flash/app") {
    root_.write("pkg.bin", package_bytes(entries));
    return install_raw(target);
  }
  int install_raw(const std::string& target = "flash/app") {
    return install_package(root_.device(target).c_str(), root_.device("pkg.bin").c_str());
  }

  DeviceRoot root_;
  RegistryScope registry_;
};

TEST_F(Package, FoldersAndFilesAreUnpackedWithTheirTimes) {
  Entry data = file("bin", "data.bin", std::string("\x00\x01\xff\r\n", 5));
  data.creation = kSomeTime + 111;
  data.access = kSomeTime + 3 * 10000000ULL;
  data.write = kSomeTime + 2 * 10000000ULL;
  Entry empty = file("", "empty.txt", "");
  empty.write = kSomeTime + 7 * 10000000ULL;
  ASSERT_EQ(install({folder("", "data"), folder("", "bin"), data, empty}), 1);
  /* Times first: reading a file may move its last access time. */
  for (const Entry* e : {&data, &empty}) {
    Times t;
    ASSERT_TRUE(file_times(root_.device("flash/app/" + e->folder_field + "/" + e->name), &t)) << e->name;
    KNOWN_WINE_DIFFERENCE("Wine keeps no creation time set on a Linux file system",
                          t.creation != e->creation);
    EXPECT_EQ(t.access, e->access) << e->name;
    EXPECT_EQ(t.write, e->write) << e->name;
  }
  EXPECT_TRUE(boxes().empty());
  /* An empty folder field makes "<target>//<name>". */
  EXPECT_TRUE(root_.is_folder("flash/app/data"));
  EXPECT_EQ(root_.read("flash/app/bin/data.bin"), data.contents);
  EXPECT_TRUE(root_.exists("flash/app/empty.txt"));
  EXPECT_EQ(root_.read("flash/app/empty.txt"), "");
}

TEST_F(Package, TargetFolderIsMadeWithItsAncestorsAndMayExist) {
  ASSERT_EQ(install({file("", "a.txt", "1")}, "one/two\\three/four"), 1);
  EXPECT_EQ(root_.read("one/two/three/four/a.txt"), "1");
  /* Again into the existing folder: the file is replaced. */
  ASSERT_EQ(install({file("", "a.txt", "22")}, "one/two\\three/four"), 1);
  EXPECT_EQ(root_.read("one/two/three/four/a.txt"), "22");
  EXPECT_TRUE(boxes().empty());
}

TEST_F(Package, EmptyPackageSucceeds) {
  root_.write("pkg.bin", "");
  EXPECT_EQ(install_raw(), 1);
  EXPECT_TRUE(root_.is_folder("flash/app"));
}

TEST_F(Package, CutContentsLeaveTheFileEmptyAndTheInstallationSucceeds) {
  std::string bytes = package_bytes({file("", "first.txt", "first"), file("", "cut.txt", "0123456789")});
  root_.write("pkg.bin", bytes.substr(0, bytes.size() - 4));
  EXPECT_EQ(install_raw(), 1);
  EXPECT_EQ(root_.read("flash/app/first.txt"), "first");
  EXPECT_TRUE(root_.exists("flash/app/cut.txt"));
  EXPECT_EQ(root_.read("flash/app/cut.txt"), "");
  EXPECT_TRUE(boxes().empty());
}

TEST_F(Package, HighSizeLeavesTheFileEmptyAndTheNextEntryFollows) {
  Entry big = file("", "big.bin", "abcd");
  big.size_high = 1;
  Entry later = file("", "later.txt", "later");
  ASSERT_EQ(install({big, later}), 1);
  EXPECT_TRUE(root_.exists("flash/app/big.bin"));
  EXPECT_EQ(root_.read("flash/app/big.bin"), "");
  EXPECT_EQ(root_.read("flash/app/later.txt"), "later");
}

TEST_F(Package, RegistryFilesAreImportedAndDeletedByTheirSpelling) {
  struct Case {
    const char* name;
    bool imported;
  } cases[] = {
      {"setup.reg", true},
      {"SETUP.REG", true},
      {"settings.reg.txt", true},  /* anywhere in the path */
      {"notes.Reg", false},        /* the comparison keeps case */
      {"notes.txt", false},
  };
  for (const Case& c : cases) {
    RegistryScope::clean();
    ASSERT_EQ(install({file("", c.name, kRegFile)}), 1) << c.name;
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, kKey, "Port").found, c.imported) << c.name;
    EXPECT_EQ(root_.exists(std::string("flash/app/") + c.name), !c.imported) << c.name;
  }
  EXPECT_TRUE(boxes().empty());
}

TEST_F(Package, FailingImportFailsTheInstallationAfterDeletingTheFile) {
  const std::string bad = "\"Kind\"=hex(2):00\r\n";
  ASSERT_EQ(install({file("", "setup.reg", kRegFile + bad), file("", "after.txt", "after")}), 0);
  EXPECT_FALSE(root_.exists("flash/app/setup.reg"));
  EXPECT_FALSE(root_.exists("flash/app/after.txt"));      /* stops at once */
  EXPECT_TRUE(query(HKEY_LOCAL_MACHINE, kKey, "Port").found); /* earlier lines stay */
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, bad);
  EXPECT_EQ(boxes()[0].title, "setup.reg");

  /* A wrong header fails without a box. */
  boxes().clear();
  EXPECT_EQ(install({file("", "other.reg", "REGEDIT5\r\n")}), 0);
  EXPECT_FALSE(root_.exists("flash/app/other.reg"));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(Package, MissingPackageFailsWithItsBox) {
  EXPECT_EQ(install_package(root_.device("flash/app").c_str(), root_.device("none.bin").c_str()), 0);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "Could not open file");
  EXPECT_EQ(boxes()[0].title, "Tips");
  EXPECT_EQ(boxes()[0].type, 0u);
  /* The target folder is made before the package is opened. */
  EXPECT_TRUE(root_.is_folder("flash/app"));
}

TEST_F(Package, TargetFolderThatCannotBeMadeFails) {
  root_.write("blocker", "a file where a folder should be");
  root_.write("pkg.bin", package_bytes({file("", "a.txt", "a")}));
  EXPECT_EQ(install_package(root_.device("blocker/app").c_str(), root_.device("pkg.bin").c_str()), 0);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "Could not create new directory.\n");
  EXPECT_EQ(boxes()[0].title, "Tips");
}

TEST_F(Package, MalformedEntriesFailAndKeepWhatCameBefore) {
  Entry unterminated = file("", "long", "x");
  unterminated.terminate_name = false;
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"cut header", package_bytes({file("", "first.txt", "first")}) + std::string(100, '\0')},
      {"unterminated name", package_bytes({file("", "first.txt", "first"), unterminated})},
      /* the output file cannot be created */
      {"file in a missing folder",
       package_bytes({file("", "first.txt", "first"), file("nowhere", "x.txt", "x")})},
      {"empty file name", package_bytes({file("", "first.txt", "first"), file("", "", "x")})},
      {"parent in name", package_bytes({file("", "first.txt", "first"), file("", "..", "x")})},
      {"parent in folder",
       package_bytes({file("", "first.txt", "first"), file("..\\..", "escape.txt", "x")})},
      {"parent inside folder",
       package_bytes({file("", "first.txt", "first"), file("sub/../..", "escape.txt", "x")})},
      {"parent folder entry",
       package_bytes({file("", "first.txt", "first"), folder("", "..")})},
      {"dots and blanks", package_bytes({file("", "first.txt", "first"), file(". ..", "escape.txt", "x")})},
  };
  for (const Case& c : cases) {
    boxes().clear();
    root_.write("pkg.bin", c.bytes);
    EXPECT_EQ(install_raw("flash/app"), 0) << c.what;
    EXPECT_EQ(root_.read("flash/app/first.txt"), "first") << c.what;
    EXPECT_TRUE(boxes().empty()) << c.what;
    /* Nothing outside the target folder. */
    EXPECT_FALSE(root_.exists("escape.txt")) << c.what;
    EXPECT_FALSE(root_.exists("flash/escape.txt")) << c.what;
  }
}

TEST_F(Package, SingleDotsAndDottedNamesStayInside) {
  ASSERT_EQ(install({folder("", "v1.0"), file(".\\v1.0", "..data", "d"), file("v1.0", "a..b", "e")}), 1);
  EXPECT_EQ(root_.read("flash/app/v1.0/..data"), "d");
  EXPECT_EQ(root_.read("flash/app/v1.0/a..b"), "e");
}

}  // namespace
