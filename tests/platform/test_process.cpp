/* Programs of the simulated device: CreateProcessW runs a registered stand-in
 * on its own thread; every start asked for is a `launch` event. Also the
 * host's message box and debug output. All of it is the host's own: on
 * Windows these calls start real programs and show real boxes. */
#include <gtest/gtest.h>
#include <windows.h>

#ifndef _WIN32
#include <unistd.h>

#include <atomic>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "event_recorder.h"
#include "plat/host.h"
#include "temp_folder.h"

namespace {

const DWORD sentinel = 0xDEADBEEF;

std::string launch_line(const std::string& path_json, const std::string& cmdline_json, bool ok) {
  return ",\"ev\":\"launch\",\"path\":\"" + path_json + "\",\"cmdline\":\"" + cmdline_json +
         "\",\"ok\":" + (ok ? "true" : "false") + "}";
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class Programs : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::unregister_programs();
    recorder().take();
  }
  void TearDown() override { plat::unregister_programs(); }

  /* Starts a program; the command line buffer is writable, as Win32 wants. */
  static BOOL start(const char16_t* application, const char16_t* command_line, PROCESS_INFORMATION* pi,
                    DWORD flags = 0) {
    std::u16string line = command_line ? command_line : u"";
    return CreateProcessW(application, command_line ? &line[0] : nullptr, nullptr, nullptr, FALSE, flags,
                          nullptr, nullptr, nullptr, pi);
  }
  static void close(PROCESS_INFORMATION& pi) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
};

struct StandInSeen {
  std::mutex lock;
  std::u16string command_line;
  DWORD thread_id = 0, process_id = 0;
  int runs = 0;
};

TEST_F(Programs, StandInRunsOnItsOwnThreadWithTheCommandLine) {
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  StandInSeen seen;
  plat::register_program(u"\\residentflash2\\Test.exe", [&](const std::u16string& command_line) -> DWORD {
    {
      std::lock_guard<std::mutex> guard(seen.lock);
      seen.command_line = command_line;
      seen.thread_id = GetCurrentThreadId();
      seen.process_id = GetCurrentProcessId();
      seen.runs++;
    }
    plat::Event("standin");
    WaitForSingleObject(go, INFINITE);
    return 42;
  });

  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(start(u"\\residentflash2\\Test.exe", u"-x 1", &pi));
  ASSERT_NE(pi.hProcess, nullptr);
  ASSERT_NE(pi.hThread, nullptr);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, (DWORD)STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20), (DWORD)WAIT_TIMEOUT);

  SetEvent(go);
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(pi.hThread, INFINITE), WAIT_OBJECT_0) << "its main thread ended too";
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(GetExitCodeThread(pi.hThread, &code));
  EXPECT_EQ(code, 42u);
  {
    std::lock_guard<std::mutex> guard(seen.lock);
    EXPECT_EQ(seen.runs, 1);
    EXPECT_TRUE(seen.command_line == u"-x 1");
    EXPECT_EQ(seen.thread_id, pi.dwThreadId);
    EXPECT_NE(seen.thread_id, GetCurrentThreadId());
    EXPECT_EQ(seen.process_id, pi.dwProcessId);
    EXPECT_NE(seen.process_id, GetCurrentProcessId()) << "another process of the device";
  }
  close(pi);
  CloseHandle(go);

  std::vector<std::string> lines = recorder().take();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(ends_with(lines[0], launch_line("\\\\residentflash2\\\\Test.exe", "-x 1", true))) << lines[0];
  EXPECT_TRUE(ends_with(lines[1], ",\"ev\":\"standin\"}")) << "the launch is logged first: " << lines[1];
}

TEST_F(Programs, PathsMatchWithoutCaseAndWithEitherSeparator) {
  std::atomic<int> runs{0};
  plat::register_program(u"\\residentflash2\\Player\\Player.exe", [&](const std::u16string&) -> DWORD {
    runs++;
    return 0;
  });
  struct Case {
    const char16_t* path;
    bool found;
  } cases[] = {
      {u"\\residentflash2\\Player\\Player.exe", true},
      {u"\\Residentflash2\\player\\PLAYER.EXE", true},
      {u"/residentflash2/Player/Player.exe", true},
      {u"residentflash2\\Player\\Player.exe", true},
      {u"\\\\residentflash2\\\\Player\\Player.exe", true},
      {u"\\residentflash2\\Player.exe", false},
      {u"\\residentflash2\\Player\\Player.exe2", false},
  };
  int expected_runs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(plat::utf16_to_utf8(c.path));
    PROCESS_INFORMATION pi = {};
    SetLastError(sentinel);
    EXPECT_EQ(start(c.path, nullptr, &pi), c.found ? TRUE : FALSE);
    if (c.found) {
      expected_runs++;
      EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
      close(pi);
    } else {
      EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    }
  }
  EXPECT_EQ(runs.load(), expected_runs);
}

TEST_F(Programs, MissingProgramFailsAndIsLogged) {
  PROCESS_INFORMATION pi = {};
  SetLastError(sentinel);
  EXPECT_FALSE(start(u"\\sdmmc\\Navi\\Navi.exe", u"show", &pi));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  std::vector<std::string> lines = recorder().take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(ends_with(lines[0], launch_line("\\\\sdmmc\\\\Navi\\\\Navi.exe", "show", false))) << lines[0];
}

/* A program file that no stand-in serves (a marker of the device template)
 * starts and ends at once; a folder or a missing file does not start. */
TEST_F(Programs, MarkerFilesStartAndEndAtOnce) {
  test_support::TempFolder folder;
  ASSERT_TRUE(folder.open("process"));
  ASSERT_TRUE(CreateDirectoryW(u"\\windows", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"\\Game", nullptr));
  ASSERT_TRUE(folder.write(u"Game\\Snake.exe", "marker"));
  ASSERT_TRUE(folder.write(u"windows\\explorer.exe", "marker"));
  const struct {
    const char16_t* path;
    bool starts;
  } cases[] = {
      {u"\\game\\SNAKE.EXE", true},
      {u"explorer.exe", true},
      {u"\\Game", false},
      {u"\\Game\\Tetris.exe", false},
      {u"Snake.exe", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(plat::utf16_to_utf8(c.path));
    PROCESS_INFORMATION pi = {};
    SetLastError(sentinel);
    ASSERT_EQ(start(c.path, nullptr, &pi), c.starts ? TRUE : FALSE);
    if (!c.starts) {
      EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
      continue;
    }
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 5000), WAIT_OBJECT_0);
    DWORD code = 99;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, 0u);
    close(pi);
  }
  folder.close();
}

TEST_F(Programs, WithoutApplicationTheCommandLineNamesTheProgram) {
  StandInSeen seen;
  auto record = [&](const std::u16string& command_line) -> DWORD {
    std::lock_guard<std::mutex> guard(seen.lock);
    seen.command_line = command_line;
    seen.runs++;
    return 7;
  };
  plat::register_program(u"\\windows\\prog.exe", record);
  plat::register_program(u"\\windows\\explorer.exe", record);
  struct Case {
    const char16_t* command_line;
    const char16_t* arguments;
    const char* logged_path;
  } cases[] = {
      {u"\"\\windows\\prog.exe\" -x", u"-x", "\\\\windows\\\\prog.exe"},
      {u"\\windows\\prog.exe -x  y", u"-x  y", "\\\\windows\\\\prog.exe"},
      {u"explorer.exe", u"", "explorer.exe"}, /* a bare name is found in \windows */
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(plat::utf16_to_utf8(c.command_line));
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(start(nullptr, c.command_line, &pi));
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 7u);
    close(pi);
    std::lock_guard<std::mutex> guard(seen.lock);
    EXPECT_EQ(plat::utf16_to_utf8(seen.command_line), plat::utf16_to_utf8(c.arguments));
    std::vector<std::string> lines = recorder().take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(std::string("\"path\":\"") + c.logged_path + "\""), std::string::npos) << lines[0];
  }
  SetLastError(sentinel);
  EXPECT_FALSE(start(nullptr, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

TEST_F(Programs, SuspendedProgramWaitsForItsThreadToResume) {
  std::atomic<int> runs{0};
  plat::register_program(u"\\residentflash2\\fm.exe", [&](const std::u16string&) -> DWORD {
    runs++;
    return 0;
  });
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(start(u"\\residentflash2\\fm.exe", nullptr, &pi, CREATE_SUSPENDED));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 30), (DWORD)WAIT_TIMEOUT);
  EXPECT_EQ(runs.load(), 0);
  EXPECT_EQ(ResumeThread(pi.hThread), 1u);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(runs.load(), 1);
  close(pi);
}

TEST_F(Programs, UnregisteredProgramsAreGone) {
  plat::register_program(u"\\a.exe", [](const std::u16string&) -> DWORD { return 0; });
  plat::register_program(u"\\b.exe", [](const std::u16string&) -> DWORD { return 0; });
  plat::register_program(u"\\a.exe", nullptr);
  PROCESS_INFORMATION pi = {};
  EXPECT_FALSE(start(u"\\a.exe", nullptr, &pi));
  ASSERT_TRUE(start(u"\\b.exe", nullptr, &pi));
  WaitForSingleObject(pi.hProcess, INFINITE);
  close(pi);
  plat::unregister_programs();
  EXPECT_FALSE(start(u"\\b.exe", nullptr, &pi));
}

/* ---- Message box and debug output ---- */

TEST_F(Programs, MessageBoxIsAnEventAndAnswersWithTheDefaultButton) {
  struct Case {
    UINT type;
    int answer;
  } cases[] = {
      {MB_OK, IDOK},
      {MB_OKCANCEL | MB_ICONERROR, IDOK},
      {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
      {MB_YESNO, IDYES},
      {MB_YESNO | MB_DEFBUTTON2, IDNO},
      {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
      {MB_RETRYCANCEL, IDRETRY},
      {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, IDIGNORE},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxW(nullptr, u"LoadSkin failed", u"Velmar", c.type), c.answer) << c.type;
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("LoadSkin failed"), std::string::npos) << err;
  }
  std::vector<std::string> lines = recorder().take();
  ASSERT_EQ(lines.size(), std::size(cases));
  EXPECT_TRUE(ends_with(lines[0], ",\"ev\":\"messagebox\",\"text\":\"LoadSkin failed\",\"title\":\"Velmar\"}"))
      << lines[0];

  testing::internal::CaptureStderr();
  MessageBoxW(nullptr, u"安装完成\n", u"安装", MB_OK);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("安装完成"), std::string::npos) << err;
  lines = recorder().take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(ends_with(lines[0], "\"text\":\"安装完成\\n\",\"title\":\"安装\"}")) << lines[0];
}

TEST(DebugOutput, GoesToStandardErrorAsUtf8) {
  testing::internal::CaptureStderr();
  OutputDebugStringW(u"dtmf: 话务员 #02\n");
  OutputDebugStringW(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "dtmf: 话务员 #02\n");
}

TEST(ModuleHandle, TheProgramHasOneInstance) {
  HMODULE instance = GetModuleHandleW(nullptr);
  EXPECT_NE(instance, nullptr);
  EXPECT_EQ(GetModuleHandleW(nullptr), instance);
  SetLastError(sentinel);
  EXPECT_EQ(GetModuleHandleW(u"imgdecmp.dll"), nullptr) << "no library is loaded";
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
}

}  // namespace

#endif
