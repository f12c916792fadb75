/* module_file_path: a file name beside the running program. */
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "ini_fixture.h"
#include "module_path.h"
#ifndef _WIN32
#include "plat/host.h"
#endif

namespace {

/* The running program's own path, whatever it is. */
TEST(ModuleFilePath, NameBesideTheRunningProgram) {
#ifndef _WIN32
  plat::set_module_path(TEXT("\\residentflash2\\Velmar\\Velmar.exe"));
#endif
  WCHAR module[MAX_PATH];
  DWORD n = GetModuleFileNameW(NULL, module, MAX_PATH);
  ASSERT_GT(n, 0u);
  fixture::WString expected(module, n);
  expected = expected.substr(0, expected.rfind(TEXT('\\')) + 1) + TEXT("config.ini");
  WCHAR buffer[MAX_PATH];
  EXPECT_EQ(0, module_file_path(buffer, MAX_PATH, NULL, TEXT("config.ini")));
  EXPECT_TRUE(fixture::WString(buffer) == expected) << fixture::utf8(buffer);
}

#ifndef _WIN32
/* Program paths of every shape, set through the host. */
TEST(ModuleFilePath, NameBesideTheProgram) {
  struct Case {
    const WCHAR* module;
    const WCHAR* name;
    int capacity;
    int code;
    const WCHAR* expected;
  } cases[] = {
      {TEXT("\\residentflash2\\Velmar\\Velmar.exe"), TEXT("config.ini"), 260, 0, TEXT("\\residentflash2\\Velmar\\config.ini")},
      /* a name that begins with a backslash doubles it */
      {TEXT("\\residentflash2\\Velmar\\Velmar.exe"), TEXT("\\tts\\Resource.dat"), 260, 0,
       TEXT("\\residentflash2\\Velmar\\\\tts\\Resource.dat")},
      {TEXT("\\Velmar.exe"), TEXT("config.ini"), 260, 0, TEXT("\\config.ini")},
      /* no backslash: nothing is cut */
      {TEXT("Velmar.exe"), TEXT("config.ini"), 260, 0, TEXT("Velmar.execonfig.ini")},
      {TEXT("\\a\\b.exe"), TEXT("config.ini"), 14, 0, TEXT("\\a\\config.ini")},
      /* too small for the result, or for the program path itself */
      {TEXT("\\a\\b.exe"), TEXT("config.ini"), 13, -1, TEXT("")},
      {TEXT("\\residentflash2\\Velmar\\Velmar.exe"), TEXT("x"), 20, -1, TEXT("")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fixture::utf8(c.module) + " + " + fixture::utf8(c.name) + " in " +
                 std::to_string(c.capacity));
    plat::set_module_path(c.module);
    WCHAR buffer[260];
    buffer[0] = 'x';
    EXPECT_EQ(c.code, module_file_path(buffer, c.capacity, NULL, c.name));
    EXPECT_EQ(fixture::WString(c.expected), fixture::WString(buffer));
  }
}

#endif

TEST(ModuleFilePath, BadArguments) {
#ifndef _WIN32
  plat::set_module_path(TEXT("\\residentflash2\\Velmar\\Velmar.exe"));
#endif
  WCHAR buffer[8];
  buffer[0] = 'x';
  EXPECT_EQ(-1, module_file_path(buffer, 8, NULL, NULL));
  EXPECT_EQ(TEXT('\0'), buffer[0]);
  EXPECT_EQ(-1, module_file_path(NULL, 8, NULL, TEXT("config.ini")));
  buffer[0] = 'x';
  EXPECT_EQ(-1, module_file_path(buffer, 0, NULL, TEXT("config.ini")));
  EXPECT_EQ(TEXT('x'), buffer[0]);
}

}  // namespace
