/* get_mui_language: the language index from HKEY_LOCAL_MACHINE\MUI "language". */
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ini_fixture.h"
#include "ui_language.h"

namespace {

struct Stored {
  const char* what;
  DWORD type;
  std::vector<BYTE> data;
  int expected;
};

std::vector<BYTE> dword(DWORD v) {
  return {(BYTE)v, (BYTE)(v >> 8), (BYTE)(v >> 16), (BYTE)(v >> 24)};
}

TEST(GetMuiLanguage, OnlyANumberBelow22Counts) {
  fixture::DeviceRoot root;
  const Stored cases[] = {
      {"0", REG_DWORD, dword(0), 0},
      {"5", REG_DWORD, dword(5), 5},
      {"21", REG_DWORD, dword(21), 21},
      {"22", REG_DWORD, dword(22), -1},
      {"0xFFFFFFFF", REG_DWORD, dword(0xFFFFFFFFu), -1},
      {"string \"5\"", REG_SZ, {'5', 0, 0, 0}, -1},
      {"binary 5", REG_BINARY, dword(5), -1},
  };
  HKEY key;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("MUI"), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                                               &disposition));
  for (const Stored& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, TEXT("language"), 0, c.type, c.data.data(), (DWORD)c.data.size()));
    EXPECT_EQ(c.expected, get_mui_language());
  }
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueW(key, TEXT("language")));
  EXPECT_EQ(-1, get_mui_language());
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, TEXT("MUI")));
  EXPECT_EQ(-1, get_mui_language());
}

}  // namespace
