/* Package unpacking: folders and files with their times, damaged packages
 * over older copies, files replaced only whole, the REGEDIT4 files it
 * imports and deletes, and every way a package or its target folder fails.
 * Packages are made by the fixture's generator. */
#include <gtest/gtest.h>

#include "installer.h"
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

/* Every file the package holds, with an older copy already in the target
 * folder: a damaged package fails, leaves no temporary file, and keeps the
 * older copy of every file whose entry it did not complete. */
TEST_F(Package, DamagedPackagesFailAndKeepTheOlderCopies) {
  Entry firmware = file("", "firmware.bin", std::string());
  for (int i = 0; i < 200000; i++) firmware.contents += (char)(i * 7 + i / 251);
  Entry after = file("", "z_after.txt", "after\r\n");
  const std::string good = package_bytes({firmware, after});
  const size_t first_end = PACKAGE_ENTRY_HEADER_SIZE + firmware.contents.size();

  Entry high = file("", "firmware.bin", "abcd");
  high.size_high = 1;
  Entry unterminated = file("", "z_after.txt", "x");
  unterminated.terminate_name = false;
  Entry sized_folder = folder("", "sub");
  sized_folder.declared_size = 4;
  sized_folder.contents = "abcd";
  auto random_bytes = [](unsigned seed, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; i++) {
      seed = seed * 1103515245u + 12345u;
      out += (char)(seed >> 16);
    }
    return out;
  };

  struct Case {
    std::string what, bytes;
    bool installed;
    int complete; /* entries written before the package ends or fails */
  } cases[] = {
      {"whole package", good, true, 2},
      {"cut inside the first header", good.substr(0, 1000), false, 0},
      {"cut inside the first contents", good.substr(0, 150000), false, 0},
      {"cut one byte short of the first contents", good.substr(0, first_end - 1), false, 0},
      {"cut at the entry boundary", good.substr(0, first_end), true, 1},
      {"cut inside the second header", good.substr(0, first_end + 40), false, 1},
      {"cut inside the second contents", good.substr(0, good.size() - 2), false, 1},
      {"size with a high part", package_bytes({high, after}), false, 0},
      {"name without a terminator", package_bytes({firmware, unterminated}), false, 1},
      {"folder entry with a size", package_bytes({sized_folder, firmware, after}), false, 0},
      {"random bytes", random_bytes(1, 5000), false, 0},
      {"random bytes, one header long", random_bytes(2, PACKAGE_ENTRY_HEADER_SIZE), false, 0},
      {"random bytes after a good entry", package_bytes({firmware}) + random_bytes(3, 3000), false, 1},
  };
  const std::string old_firmware = "old firmware", old_after = "old after";
  for (const Case& c : cases) {
    boxes().clear();
    root_.write("flash/app/firmware.bin", old_firmware);
    root_.write("flash/app/z_after.txt", old_after);
    root_.write("pkg.bin", c.bytes);
    root_.write("card/velinstall.ini", "[config]\r\ndirectory=" + A(root_.device("flash\\app")) +
                                           "\r\nname=" + A(root_.device("pkg.bin")) + "\r\n");
    EXPECT_EQ(installer_run(root_.device("card\\velinstall.exe").c_str()), 0) << c.what;
    ASSERT_FALSE(boxes().empty()) << c.what;
    EXPECT_EQ(boxes().back().text, c.installed ? "Installation successful!" : "Installation failed!")
        << c.what;
    EXPECT_EQ(root_.read("flash/app/firmware.bin"), c.complete >= 1 ? firmware.contents : old_firmware)
        << c.what;
    EXPECT_EQ(root_.read("flash/app/z_after.txt"), c.complete >= 2 ? after.contents : old_after)
        << c.what;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root_.host("flash")))
      EXPECT_EQ(item.path().string().find(A(PACKAGE_TEMPORARY_SUFFIX)), std::string::npos)
          << c.what << ": " << item.path();
  }
}

TEST_F(Package, FileIsWrittenBesideItsTargetAndRenamedWhenComplete) {
  /* A folder in the place of the temporary file: the file cannot be begun,
   * and the older copy stays. */
  root_.write("flash/app/a.txt", "old");
  std::filesystem::create_directories(root_.host("flash/app/a.txt" + A(PACKAGE_TEMPORARY_SUFFIX)));
  EXPECT_EQ(install({file("", "a.txt", "new")}), 0);
  EXPECT_EQ(root_.read("flash/app/a.txt"), "old");
  std::filesystem::remove(root_.host("flash/app/a.txt" + A(PACKAGE_TEMPORARY_SUFFIX)));

  /* A folder in the place of the target: the complete temporary file cannot
   * replace it, and is removed. */
  std::filesystem::create_directories(root_.host("flash/app/b.txt"));
  EXPECT_EQ(install({file("", "a.txt", "new"), file("", "b.txt", "b")}), 0);
  EXPECT_EQ(root_.read("flash/app/a.txt"), "new");
  EXPECT_TRUE(root_.is_folder("flash/app/b.txt"));
  EXPECT_FALSE(root_.exists("flash/app/b.txt" + A(PACKAGE_TEMPORARY_SUFFIX)));
}

/* A file of more than 4 GiB (a package of that size, sparse on the host):
 * run on demand, it writes 4 GiB. */
TEST_F(Package, DISABLED_SizeWithAHighPartIsCopiedInFull) {
  Entry big = file("", "big.bin", "");
  big.size_high = 1;
  big.declared_size = 16;
  std::string header = entry_bytes(big);
  const unsigned long long size = (1ULL << 32) + 16;
  {
    std::ofstream out(root_.host("pkg.bin"), std::ios::binary | std::ios::trunc);
    out.write(header.data(), (std::streamsize)header.size());
    out.seekp((std::streamoff)(header.size() + size - 4));
    out.write("tail", 4);
  }
  std::string later = entry_bytes(file("", "later.txt", "later"));
  {
    std::ofstream out(root_.host("pkg.bin"), std::ios::binary | std::ios::app);
    out.write(later.data(), (std::streamsize)later.size());
  }
  ASSERT_EQ(install_raw(), 1);
  EXPECT_EQ(std::filesystem::file_size(root_.host("flash/app/big.bin")), size);
  std::ifstream in(root_.host("flash/app/big.bin"), std::ios::binary);
  in.seekg((std::streamoff)(size - 4));
  char tail[5] = {0};
  in.read(tail, 4);
  EXPECT_STREQ(tail, "tail");
  EXPECT_EQ(root_.read("flash/app/later.txt"), "later");
}

TEST_F(Package, TargetFolderNameIsNotPartOfTheRegistryFileTest) {
  ASSERT_EQ(install({folder("", "conf"), file("conf", "a.txt", "a"), file("", "setup.reg", kRegFile)},
                    "residentflash2/App.registry"),
            1);
  EXPECT_EQ(root_.read("residentflash2/App.registry/conf/a.txt"), "a");
  EXPECT_FALSE(root_.exists("residentflash2/App.registry/setup.reg"));
  EXPECT_TRUE(query(HKEY_LOCAL_MACHINE, kKey, "Port").found);
  EXPECT_TRUE(boxes().empty());
}

TEST_F(Package, RegistryFilesAreImportedAndDeletedByTheirSpelling) {
  struct Case {
    const char* name;
    bool imported;
  } cases[] = {
      {"setup.reg", true},
      {"SETUP.REG", true},
      {"settings.reg.txt", true},  /* anywhere in the name */
      {"notes.Reg", false},        /* the comparison keeps case */
      {"notes.txt", false},
  };
  for (const Case& c : cases) {
    RegistryScope::clean();
    ASSERT_EQ(install({file("", c.name, kRegFile)}), 1) << c.name;
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, kKey, "Port").found, c.imported) << c.name;
    EXPECT_EQ(root_.exists(std::string("flash/app/") + c.name), !c.imported) << c.name;
  }
  /* The entry's own folder counts too. */
  RegistryScope::clean();
  ASSERT_EQ(install({folder("", "conf.reg"), file("conf.reg", "settings", kRegFile)}), 1);
  EXPECT_TRUE(query(HKEY_LOCAL_MACHINE, kKey, "Port").found);
  EXPECT_FALSE(root_.exists("flash/app/conf.reg/settings"));
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
