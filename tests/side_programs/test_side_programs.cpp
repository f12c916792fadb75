/* Side programs in both builds: shortcut parsing, what happens when nothing
 * can be started, raising the alarm window, the camera's shared count, the
 * debug level and SD auto-start files. */
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "device_folder.h"
#include "shell_globals.h"
#include "side_programs.h"

namespace {

typedef std::basic_string<WCHAR> WString;

WString widen(const std::string& ascii) { return WString(ascii.begin(), ascii.end()); }

class SidePrograms : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { make_test_device("side_programs"); }
};

TEST_F(SidePrograms, ShortcutText) {
  const struct {
    std::string text;
    int names_program;
    std::string program;
    std::string command_line;
  } cases[] = {
      {"22#\\windows\\prog.exe -x", 1, "\\windows\\prog.exe", "-x"},
      {"#\\windows\\prog.exe", 1, "\\windows\\prog.exe", ""},
      {"17#\\a\\b.exe one two  three", 1, "\\a\\b.exe", "one two  three"},
      {"9#\\a\\b.exe ", 1, "\\a\\b.exe", ""},
      {"1#a#b c", 1, "a#b", "c"},
      {"x #\\p.exe", 1, "\\p.exe", ""},
      {"\\windows\\prog.exe -x", 0, "", ""},
      {"", 0, "", ""},
      {std::string("12\0#\\p.exe", 10), 0, "", ""},
      /* Only 260 bytes are read: the path ends with the 260th byte. */
      {"#\\" + std::string(300, 'a'), 1, "\\" + std::string(258, 'a'), ""},
      {"#\\p.exe " + std::string(300, 'z'), 1, "\\p.exe", std::string(260 - 8, 'z')},
  };
  for (const auto& c : cases) {
    WCHAR program[300], command_line[300];
    int names = shortcut_parse(c.text.data(), (int)c.text.size(), program, command_line, 300);
    EXPECT_EQ(names, c.names_program) << c.text;
    EXPECT_TRUE(WString(program) == widen(c.program)) << c.text;
    EXPECT_TRUE(WString(command_line) == widen(c.command_line)) << c.text;
  }
}

TEST_F(SidePrograms, ShortcutTextIsCutToTheCallersCapacity) {
  WCHAR program[6], command_line[4];
  std::string text = "#\\abcdefgh xyzzy";
  ASSERT_EQ(shortcut_parse(text.data(), (int)text.size(), program, command_line, 4), 1);
  EXPECT_TRUE(WString(program) == TEXT("\\ab"));
  EXPECT_TRUE(WString(command_line) == TEXT("xyz"));
}

TEST_F(SidePrograms, NothingToStart) {
  const WCHAR* missing = TEXT("\\residentflash2\\NoSuchProgram.exe");
  EXPECT_EQ(launch_detached(missing), -1);
  EXPECT_EQ(launch_detached(NULL), -1);
  EXPECT_EQ(launch_and_wait(missing, TEXT("-x")), -1);
  EXPECT_EQ(launch_entry(NULL), -1);
  EXPECT_EQ(launch_entry(missing), 0);
  EXPECT_EQ(launch_shortcut(NULL), -1);
  EXPECT_EQ(launch_shortcut(TEXT("\\temp\\missing.lnk")), 0);
  ASSERT_TRUE(write_file(TEXT("\\temp\\nohash.lnk"), "\\residentflash2\\NoSuchProgram.exe"));
  EXPECT_EQ(launch_entry(TEXT("\\temp\\nohash.lnk")), 0);
}

LRESULT CALLBACK plain_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST_F(SidePrograms, AlarmWindowIsRaised) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = plain_proc;
  wc.lpszClassName = TEXT("VmAlarm");
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND alarm = CreateWindowExW(0, TEXT("VmAlarm"), TEXT("Alarm"), WS_POPUP, 0, 0, 50, 50, NULL,
                               NULL, NULL, NULL);
  ASSERT_TRUE(alarm != NULL);
  ASSERT_FALSE(IsWindowVisible(alarm));
  alarm_program();
  EXPECT_TRUE(IsWindowVisible(alarm));
  EXPECT_EQ(GetForegroundWindow(), alarm);
  DestroyWindow(alarm);
  UnregisterClassW(TEXT("VmAlarm"), NULL);
}

/* The sharing objects as another program of the device sees them. */
HANDLE open_camera_semaphore() {
  return CreateSemaphoreW(NULL, 0, 40, TEXT("kvycamera_semaphore"));
}

/* The count, read by taking it down to 0 and giving it back. */
LONG camera_count(HANDLE semaphore) {
  LONG count = 0;
  while (WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0) count++;
  if (count) ReleaseSemaphore(semaphore, count, NULL);
  return count;
}

TEST_F(SidePrograms, CameraCountsItsUsers) {
  /* Before the first show the sharing objects do not exist. */
  EXPECT_EQ(camera_hide(), -1);
  CameraPicture picture = {0, 401, 65, 400, 350, 100, 45, 100, 35};
  HANDLE semaphore = open_camera_semaphore();
  ASSERT_TRUE(semaphore != NULL);
  EXPECT_EQ(camera_show(&picture), 0);
  EXPECT_EQ(camera_count(semaphore), 1);
  EXPECT_EQ(camera_hide(), 0);
  EXPECT_EQ(camera_count(semaphore), 0);
  /* Another user holds the picture: the count goes back to its 1. */
  ReleaseSemaphore(semaphore, 1, NULL);
  EXPECT_EQ(camera_show(&picture), 0);
  EXPECT_EQ(camera_count(semaphore), 2);
  EXPECT_EQ(camera_hide(), 0);
  EXPECT_EQ(camera_count(semaphore), 1);
  WaitForSingleObject(semaphore, 0);
  CloseHandle(semaphore);
}

TEST_F(SidePrograms, DebugLevelFile) {
  const struct {
    const char* what;
    bool exists;
    std::string bytes;
    int before, after;
  } cases[] = {
      {"missing keeps the level", false, "", 5, 5},
      {"a digit", true, "3", 0, 3},
      {"the first byte counts", true, "4\r\n9", 0, 4},
      {"zero", true, "0", 3, 0},
      {"empty keeps the level", true, "", 2, 2},
  };
  for (const auto& c : cases) {
    DeleteFileW(TEXT("sdmmc\\debug.lev"));
    if (c.exists) {
      ASSERT_TRUE(write_file(TEXT("sdmmc\\debug.lev"), c.bytes)) << c.what;
    }
    debug_level = c.before;
    EXPECT_EQ(debug_level_read(), c.after) << c.what;
    EXPECT_EQ(debug_level, c.after) << c.what;
  }
  DeleteFileW(TEXT("sdmmc\\debug.lev"));
  debug_level = 0;
}

TEST_F(SidePrograms, AutoStartFileWithNothingToStart) {
  DeleteFileW(TEXT("sdmmc\\GpsAutoRun.ini"));
  EXPECT_EQ(sd_autostart(), -1);
  ASSERT_TRUE(write_file(TEXT("sdmmc\\GpsAutoRun.ini"), ""));
  EXPECT_EQ(sd_autostart(), -1);
  ASSERT_TRUE(write_file(TEXT("sdmmc\\GpsAutoRun.ini"), "\\residentflash2\\NoSuchProgram.exe"));
  EXPECT_EQ(sd_autostart(), -1);
  DeleteFileW(TEXT("sdmmc\\GpsAutoRun.ini"));
}

}  // namespace
