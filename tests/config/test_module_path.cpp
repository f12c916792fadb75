/* module_file_path: a file name beside the running program. */
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "module_path.h"
#include "plat/host.h"

namespace {

TEST(ModuleFilePath, NameBesideTheProgram) {
  struct Case {
    const char16_t* module;
    const char16_t* name;
    int capacity;
    int code;
    const char16_t* expected;
  } cases[] = {
      {u"\\residentflash2\\Velmar\\Velmar.exe", u"config.ini", 260, 0, u"\\residentflash2\\Velmar\\config.ini"},
      /* a name that begins with a backslash doubles it */
      {u"\\residentflash2\\Velmar\\Velmar.exe", u"\\tts\\Resource.dat", 260, 0,
       u"\\residentflash2\\Velmar\\\\tts\\Resource.dat"},
      {u"\\Velmar.exe", u"config.ini", 260, 0, u"\\config.ini"},
      /* no backslash: nothing is cut */
      {u"Velmar.exe", u"config.ini", 260, 0, u"Velmar.execonfig.ini"},
      {u"\\a\\b.exe", u"config.ini", 14, 0, u"\\a\\config.ini"},
      /* too small for the result, or for the program path itself */
      {u"\\a\\b.exe", u"config.ini", 13, -1, u""},
      {u"\\residentflash2\\Velmar\\Velmar.exe", u"x", 20, -1, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(plat::utf16_to_utf8(c.module) + " + " + plat::utf16_to_utf8(c.name) + " in " +
                 std::to_string(c.capacity));
    plat::set_module_path(c.module);
    WCHAR buffer[260];
    buffer[0] = 'x';
    EXPECT_EQ(c.code, module_file_path(buffer, c.capacity, NULL, c.name));
    EXPECT_EQ(std::u16string(c.expected), std::u16string(buffer));
  }
}

TEST(ModuleFilePath, BadArguments) {
  plat::set_module_path(u"\\residentflash2\\Velmar\\Velmar.exe");
  WCHAR buffer[8];
  buffer[0] = 'x';
  EXPECT_EQ(-1, module_file_path(buffer, 8, NULL, NULL));
  EXPECT_EQ(u'\0', buffer[0]);
  EXPECT_EQ(-1, module_file_path(NULL, 8, NULL, u"config.ini"));
  buffer[0] = 'x';
  EXPECT_EQ(-1, module_file_path(buffer, 0, NULL, u"config.ini"));
  EXPECT_EQ(u'x', buffer[0]);
}

}  // namespace
