/* The installer program: the script and title taken from its own path, and
 * one run from script to final message box. */
#include <gtest/gtest.h>

#include "installer.h"
#include "installer_fixture.h"

using namespace fixture;

namespace {

TEST(InstallerPaths, ScriptAndTitleComeFromTheProgramPath) {
  struct Case {
    const char* program;
    const char* script;
    const char* title;
  } cases[] = {
      {"\\sdmmc\\velinstall.exe", "\\sdmmc\\velinstall.ini", "velinstall"},
      {"\\sdmmc\\setup.v2.exe", "\\sdmmc\\setup.ini", "setup"},
      {"\\sd.card\\velinstall.exe", "\\sd.ini", "velinstall"}, /* cut at the folder's dot */
      {"\\sdmmc\\noext", "\\sdmmc\\noext.ini", "noext"},
      {"velinstall.exe", "velinstall.ini", "velinstall"},
  };
  for (const Case& c : cases) {
    WCHAR buffer[INSTALLER_PATH_CHARS];
    ASSERT_EQ(installer_script_path(W(c.program).c_str(), buffer, INSTALLER_PATH_CHARS), 0);
    EXPECT_EQ(A(buffer), c.script) << c.program;
    ASSERT_EQ(installer_title(W(c.program).c_str(), buffer, INSTALLER_PATH_CHARS), 0);
    EXPECT_EQ(A(buffer), c.title) << c.program;
  }
}

TEST(InstallerPaths, ResultsThatDoNotFitAreRefused) {
  WCHAR buffer[16];
  /* "\a\b.exe" gives "\a\b.ini": 8 characters and the terminator. */
  EXPECT_EQ(installer_script_path(TEXT("\\a\\b.exe"), buffer, 9), 0);
  EXPECT_EQ(installer_script_path(TEXT("\\a\\b.exe"), buffer, 8), -1);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(installer_title(TEXT("\\a\\bcd.exe"), buffer, 3), -1);
  EXPECT_EQ(installer_script_path(nullptr, buffer, 16), -1);
}

class InstallerRun : public ::testing::Test {
 protected:
  DeviceRoot root_;
  RegistryScope registry_;
};

TEST_F(InstallerRun, ScriptNamesTargetAndPackage) {
  root_.write("card/pkg.bin", package_bytes({folder("", "conf"), file("conf", "a.ini", "[x]\r\n"),
                                             file("", "setup.reg",
                                                  "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\"
                                                  "VelmarInstallerTest]\r\n\"On\"=dword:00000001\r\n")}));
  root_.write("card/velinstall.ini", "[config]\r\ndirectory=" + A(root_.device("flash\\app")) +
                                         "\r\nname=" + A(root_.device("card\\pkg.bin")) + "\r\n");
  EXPECT_EQ(installer_run(root_.device("card\\velinstall.exe").c_str()), 0);
  EXPECT_EQ(root_.read("flash/app/conf/a.ini"), "[x]\r\n");
  EXPECT_FALSE(root_.exists("flash/app/setup.reg"));
  EXPECT_TRUE(query(HKEY_CURRENT_USER, "Software\\VelmarInstallerTest", "On").found);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "Installation successful!");
  EXPECT_EQ(boxes()[0].title, "velinstall");
  EXPECT_EQ(boxes()[0].type, (UINT)MB_ICONINFORMATION);
}

TEST_F(InstallerRun, FailuresEndWithTheFailureBox) {
  struct Case {
    const char* what;
    std::string script; /* empty: no script */
    std::vector<std::string> boxes;
  } cases[] = {
      {"no script", "", {"Could not open file", "Installation failed!"}},
      {"no package key", "[config]\r\ndirectory=" + A(root_.device("flash")) + "\r\n",
       {"Could not open file", "Installation failed!"}},
      {"package missing",
       "[config]\r\ndirectory=" + A(root_.device("flash")) + "\r\nname=" + A(root_.device("none.bin")) + "\r\n",
       {"Could not open file", "Installation failed!"}},
  };
  for (const Case& c : cases) {
    boxes().clear();
    if (!c.script.empty()) root_.write("card/setup.ini", c.script);
    EXPECT_EQ(installer_run(root_.device("card\\setup.exe").c_str()), 0) << c.what;
    ASSERT_EQ(boxes().size(), c.boxes.size()) << c.what;
    for (size_t i = 0; i < c.boxes.size(); i++) EXPECT_EQ(boxes()[i].text, c.boxes[i]) << c.what;
    EXPECT_EQ(boxes().back().title, "setup") << c.what;
    EXPECT_EQ(boxes().back().type, (UINT)MB_ICONERROR) << c.what;
  }
}

}  // namespace
