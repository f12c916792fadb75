/* Code page conversions as Win32 defines them: the device's ANSI and OEM code
 * page is 936 (GBK); UTF-8 beside it. Sizes, terminators, size queries, too
 * small buffers, invalid input and the default character. */
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "known_difference.h"

namespace {

typedef std::basic_string<WCHAR> WString;

const DWORD sentinel = 0xDEADBEEF;

struct Text {
  const char* name;
  const WCHAR* wide;
  const char* gbk;
  const char* utf8;
};

/* Texts of the system and a few characters that stress the tables. */
const Text texts[] = {
    {"prompt", TEXT("请插入地图卡"), "\xc7\xeb\xb2\xe5\xc8\xeb\xb5\xd8\xcd\xbc\xbf\xa8",
     "\xe8\xaf\xb7\xe6\x8f\x92\xe5\x85\xa5\xe5\x9c\xb0\xe5\x9b\xbe\xe5\x8d\xa1"},
    {"destination", TEXT("话务员设定地址"),
     "\xbb\xb0\xce\xf1\xd4\xb1\xc9\xe8\xb6\xa8\xb5\xd8\xd6\xb7",
     "\xe8\xaf\x9d\xe5\x8a\xa1\xe5\x91\x98\xe8\xae\xbe\xe5\xae\x9a\xe5\x9c\xb0\xe5\x9d\x80"},
    {"mixed", TEXT("COM13:\x4e2d\x6587 x"), "COM13:\xd6\xd0\xce\xc4 x",
     "COM13:\xe4\xb8\xad\xe6\x96\x87 x"},
    {"ascii", TEXT("\\sdmmc\\Navi\\Navi.exe"), "\\sdmmc\\Navi\\Navi.exe", "\\sdmmc\\Navi\\Navi.exe"},
    {"euro", TEXT("\x20ac"), "\x80", "\xe2\x82\xac"},
    {"middle dot and dash", TEXT("\x00b7\x2014"), "\xa1\xa4\xa1\xaa", "\xc2\xb7\xe2\x80\x94"},
};

const UINT gbk_pages[] = {CP_ACP, CP_OEMCP, 936};

TEST(CodePage, AnsiAndOemAre936) {
  EXPECT_EQ(GetACP(), 936u);
  EXPECT_EQ(GetOEMCP(), 936u);
  EXPECT_TRUE(IsDBCSLeadByte(0x81));
  EXPECT_TRUE(IsDBCSLeadByte(0xFE));
  EXPECT_FALSE(IsDBCSLeadByte(0x80));
  EXPECT_FALSE(IsDBCSLeadByte('A'));
  EXPECT_FALSE(IsDBCSLeadByteEx(CP_UTF8, 0xC3));
}

/* Terminated input (-1) converts the terminator too; the size query (output
 * size 0) gives the same count; success leaves the last error alone. */
void expect_round_trip(UINT page, const Text& t, const char* bytes) {
  const int wide_length = (int)WString(t.wide).size() + 1;
  const int byte_length = (int)strlen(bytes) + 1;
  SCOPED_TRACE(std::string(t.name) + " in code page " + std::to_string(page));

  SetLastError(sentinel);
  EXPECT_EQ(MultiByteToWideChar(page, 0, bytes, -1, nullptr, 0), wide_length);
  std::vector<WCHAR> wide(wide_length + 4, 0x5555);
  EXPECT_EQ(MultiByteToWideChar(page, 0, bytes, -1, wide.data(), wide_length), wide_length);
  EXPECT_EQ(WString(wide.data()), WString(t.wide));
  EXPECT_EQ(wide[wide_length], 0x5555) << "written past the output";

  EXPECT_EQ(WideCharToMultiByte(page, 0, t.wide, -1, nullptr, 0, nullptr, nullptr), byte_length);
  std::vector<char> narrow(byte_length + 4, '#');
  EXPECT_EQ(WideCharToMultiByte(page, 0, t.wide, -1, narrow.data(), byte_length, nullptr, nullptr),
            byte_length);
  EXPECT_STREQ(narrow.data(), bytes);
  EXPECT_EQ(narrow[byte_length], '#') << "written past the output";
  EXPECT_EQ(GetLastError(), sentinel);
}

TEST(CodePage, GbkRoundTrips) {
  for (UINT page : gbk_pages)
    for (const Text& t : texts) expect_round_trip(page, t, t.gbk);
}

TEST(CodePage, Utf8RoundTrips) {
  for (const Text& t : texts) expect_round_trip(CP_UTF8, t, t.utf8);
  const Text emoji = {"surrogate pair", TEXT("a\xd83d\xde00"), nullptr, "a\xf0\x9f\x98\x80"};
  expect_round_trip(CP_UTF8, emoji, emoji.utf8);
}

TEST(CodePage, CountedInputHasNoTerminator) {
  const char* gbk = texts[0].gbk; /* 请插入地图卡 */
  WCHAR wide[8];
  for (WCHAR& c : wide) c = 0x5555;
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, gbk, 4, wide, 8), 2);
  EXPECT_EQ(wide[0], 0x8bf7);
  EXPECT_EQ(wide[1], 0x63d2);
  EXPECT_EQ(wide[2], 0x5555);

  char narrow[8];
  memset(narrow, '#', sizeof narrow);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, TEXT("\x4e2d\x6587"), 1, narrow, 8, nullptr, nullptr), 2);
  EXPECT_EQ(std::string(narrow, 3), std::string("\xd6\xd0#"));

  /* An output that is exactly full is enough. */
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, gbk, 12, wide, 6), 6);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, TEXT("\x4e2d"), 1, narrow, 3, nullptr, nullptr), 3);
}

/* Too small: 0 and ERROR_INSUFFICIENT_BUFFER, and nothing written past the
 * given size. A character of two units or bytes never goes in half. */
TEST(CodePage, OutputTooSmallFails) {
  struct ToWide {
    UINT page;
    const char* bytes;
    int byte_count;
    int room;
  } to_wide[] = {
      {CP_ACP, texts[0].gbk, -1, 6},         /* 6 characters, no room for the terminator */
      {CP_ACP, texts[1].gbk, -1, 1},
      {CP_UTF8, "a\xf0\x9f\x98\x80", -1, 2},  /* the pair does not fit after "a" */
      {CP_UTF8, "abc", 3, 2},
  };
  for (const ToWide& c : to_wide) {
    std::vector<WCHAR> out(c.room + 4, 0x5555);
    SetLastError(sentinel);
    EXPECT_EQ(MultiByteToWideChar(c.page, 0, c.bytes, c.byte_count, out.data(), c.room), 0)
        << c.bytes;
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER) << c.bytes;
    for (int i = c.room; i < c.room + 4; i++) EXPECT_EQ(out[i], 0x5555) << c.bytes << " at " << i;
  }

  struct ToNarrow {
    UINT page;
    const WCHAR* wide;
    int count;
    int room;
  } to_narrow[] = {
      {CP_ACP, TEXT("请插入地图卡"), -1, 12}, /* 12 bytes and the terminator */
      {CP_ACP, TEXT("a\x4e2d"), 2, 2},        /* half of the second character would fit */
      {CP_ACP, TEXT("\x4e2d"), 1, 1},
      {CP_UTF8, TEXT("\x4e2d"), 1, 2},
      {CP_UTF8, TEXT("ab"), -1, 2},
  };
  for (const ToNarrow& c : to_narrow) {
    std::vector<char> out(c.room + 4, '#');
    SetLastError(sentinel);
    EXPECT_EQ(WideCharToMultiByte(c.page, 0, c.wide, c.count, out.data(), c.room, nullptr, nullptr),
              0)
        << c.room;
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER) << c.room;
    for (int i = c.room; i < c.room + 4; i++) EXPECT_EQ(out[i], '#') << c.room << " at " << i;
  }
}

/* MB_ERR_INVALID_CHARS refuses invalid input, in a size query as well. */
TEST(CodePage, InvalidInputWithErrorFlagFails) {
  struct Case {
    UINT page;
    const char* bytes;
    int count;
  } cases[] = {
      {CP_ACP, "\xd6\xd0\xce", 3},  /* 中 and a lead byte at the end */
      {CP_ACP, "\xd6", -1},         /* a lead byte before the terminator */
      {CP_ACP, "a\x81", 2},
      {CP_ACP, "\x81\x20z", 3},     /* a lead byte with a byte that cannot trail */
      {CP_UTF8, "\xff", 1},
      {CP_UTF8, "a\xe4\xb8", 3},    /* truncated */
      {CP_UTF8, "\xe4\xb8z", 3},
      {CP_UTF8, "\xc0\x80", 2},     /* overlong */
      {CP_UTF8, "\xed\xa0\x80", 3}, /* a surrogate */
      {CP_UTF8, "\xf4\x90\x80\x80", 4}, /* past U+10FFFF */
      {CP_UTF8, "\x80", 1},
  };
  for (const Case& c : cases) {
    WCHAR out[16];
    for (int room : {0, 16}) {
      SetLastError(sentinel);
      EXPECT_EQ(MultiByteToWideChar(c.page, MB_ERR_INVALID_CHARS, c.bytes, c.count,
                                    room ? out : nullptr, room),
                0)
          << c.page << " " << c.bytes;
      EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_UNICODE_TRANSLATION) << c.page << " " << c.bytes;
    }
  }
}

/* Without the flag: a lead byte cut off by the end becomes '?' in code page
 * 936, an invalid UTF-8 byte U+FFFD. */
TEST(CodePage, InvalidInputIsReplaced) {
  struct Case {
    UINT page;
    const char* bytes;
    int count;
    const WCHAR* expected;
    int expected_count;
  } cases[] = {
      {CP_ACP, "\xd6\xd0\xce", 3, TEXT("\x4e2d?"), 2},
      {CP_UTF8, "a\xff" "b", 3, TEXT("a\xfffd" "b"), 3},
      {CP_UTF8, "\xff", -1, TEXT("\xfffd"), 2},
  };
  for (const Case& c : cases) {
    WCHAR out[16];
    SetLastError(sentinel);
    ASSERT_EQ(MultiByteToWideChar(c.page, 0, c.bytes, c.count, out, 16), c.expected_count)
        << c.bytes;
    EXPECT_EQ(WString(out, c.expected_count), WString(c.expected, c.expected_count)) << c.bytes;
    EXPECT_EQ(GetLastError(), sentinel);
  }
}

/* Invalid GBK input: a lead byte takes the byte after it, whatever it is,
 * and the pair becomes '?'; a lead byte before the terminator is '?' alone. */
TEST(CodePage, LeadByteWithoutTrail) {
  struct Case {
    const char* bytes;
    const WCHAR* wide;
  } cases[] = {
      {"\xd6", TEXT("?")},
      {"\x81\x20z", TEXT("?z")},
      {"\x81\x0az", TEXT("?z")},
      {"\xd6\xffz", TEXT("?z")},
      {"a\xd6\xd0\x81", TEXT("a\x4e2d?")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    WCHAR out[8];
    const int n = (int)WString(c.wide).size() + 1;
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, c.bytes, -1, out, 8), n);
    EXPECT_EQ(WString(out), WString(c.wide));
    SetLastError(sentinel);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, c.bytes, -1, out, 8), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_UNICODE_TRANSLATION);
  }
}

/* Windows maps the byte 0xFF and the user-defined areas of code page 936
 * (AAA1-AFFE, F8A1-FEFE, A140-A7A0) to the private use area. */
TEST(CodePage, PrivateUseBytes) {
  const char* bytes[] = {"\xff", "\xaa\xa1", "\xfe\xfe", "\xa1\x40"};
  for (const char* b : bytes) {
    SCOPED_TRACE(b);
    WCHAR out[4] = {0};
    EXPECT_EQ(MultiByteToWideChar(936, 0, b, (int)strlen(b), out, 4), 1);
    KNOWN_HOST_DIFFERENCE("iconv's CP936 has no characters there: the host reads them as invalid",
                          out[0] == '?');
    if (!known_difference::on_host()) {
      EXPECT_TRUE(out[0] >= 0xE000 && out[0] < 0xF900) << std::hex << out[0];
    }
  }
}

/* Every double-byte sequence that decodes comes back as the same bytes, and
 * each is one character of the basic plane past ASCII. */
TEST(CodePage, EveryGbkPairRoundTrips) {
  int mapped = 0;
  for (int lead = 0x81; lead <= 0xFE; lead++) {
    for (int trail = 0x40; trail <= 0xFE; trail++) {
      if (trail == 0x7F) continue;
      const char pair[2] = {(char)lead, (char)trail};
      WCHAR wide[2];
      int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, pair, 2, wide, 2);
      if (n == 0) continue;
      ASSERT_EQ(n, 1) << std::hex << lead << trail;
      ASSERT_GE(wide[0], 0x80) << std::hex << lead << trail;
      char back[4] = {0, 0, 0, 0};
      BOOL used = TRUE;
      ASSERT_EQ(WideCharToMultiByte(936, 0, wide, 1, back, 4, nullptr, &used), 2)
          << std::hex << lead << trail;
      EXPECT_FALSE(used);
      EXPECT_EQ((unsigned char)back[0], lead);
      EXPECT_EQ((unsigned char)back[1], trail);
      mapped++;
    }
  }
  /* GBK has 21791 characters outside its user-defined areas (Windows maps
   * those areas to the private use area as well). */
  EXPECT_GE(mapped, 21791);
}

/* Arbitrary input of either page: the size query agrees with the
 * conversion, one unit less fails, and nothing is read or written outside
 * the exact buffers (the sanitizer build checks that). */
TEST(CodePage, ArbitraryInputStaysInBounds) {
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  for (int round = 0; round < 3000; round++) {
    const UINT page = round % 2 ? CP_UTF8 : 936;
    std::vector<char> bytes(1 + next() % 12);
    for (char& b : bytes) b = (char)(next() % 3 ? 0x80 + next() % 0x80 : next() % 0x80);
    const int n = (int)bytes.size();
    int need = MultiByteToWideChar(page, 0, bytes.data(), n, nullptr, 0);
    ASSERT_GT(need, 0);
    std::vector<WCHAR> wide(need);
    ASSERT_EQ(MultiByteToWideChar(page, 0, bytes.data(), n, wide.data(), need), need);
    if (need > 1) {
      std::vector<WCHAR> short_wide(need - 1);
      SetLastError(sentinel);
      const int got = MultiByteToWideChar(page, 0, bytes.data(), n, short_wide.data(), need - 1);
      const DWORD error = GetLastError();
      if (wide[need - 2] >= 0xD800 && wide[need - 2] < 0xDC00) {
        KNOWN_WINE_DIFFERENCE_EQ("Wine cuts a surrogate pair that does not fit, and succeeds", got,
                                 need - 1, 0);
        if (!known_difference::on_wine()) {
          EXPECT_EQ(error, (DWORD)ERROR_INSUFFICIENT_BUFFER);
        }
      } else {
        EXPECT_EQ(got, 0);
        EXPECT_EQ(error, (DWORD)ERROR_INSUFFICIENT_BUFFER);
      }
    }

    std::vector<WCHAR> units(1 + next() % 8);
    for (WCHAR& u : units) u = (WCHAR)(next() % 4 ? 0x4e00 + next() % 0x5200 : 0xd7f0 + next() % 0x30);
    const int m = (int)units.size();
    int bytes_needed = WideCharToMultiByte(page, 0, units.data(), m, nullptr, 0, nullptr, nullptr);
    ASSERT_GT(bytes_needed, 0);
    std::vector<char> narrow(bytes_needed);
    ASSERT_EQ(WideCharToMultiByte(page, 0, units.data(), m, narrow.data(), bytes_needed, nullptr,
                                  nullptr),
              bytes_needed);
    if (bytes_needed > 1) {
      std::vector<char> short_narrow(bytes_needed - 1);
      EXPECT_EQ(WideCharToMultiByte(page, 0, units.data(), m, short_narrow.data(), bytes_needed - 1,
                                    nullptr, nullptr),
                0);
    }
  }
}

/* Characters without a GBK form become the default character ('?' or the
 * one given) and report it; UTF-8 writes U+FFFD for a lone surrogate. */
TEST(CodePage, UnmappableCharactersUseTheDefault) {
  struct Case {
    const WCHAR* wide;
    const char* default_char;
    const char* expected;
    BOOL used;
  } cases[] = {
      {TEXT("A\x0e01" "B"), nullptr, "A?B", TRUE}, /* Thai */
      {TEXT("A\x0e01" "B"), "*", "A*B", TRUE},
      {TEXT("\xd800" "x"), nullptr, "?x", TRUE},    /* lone surrogate */
      {TEXT("\x8bdd" "x"), "*", "\xbb\xb0x", FALSE},
  };
  for (const Case& c : cases) {
    char out[16];
    BOOL used = 5;
    SetLastError(sentinel);
    int n = WideCharToMultiByte(936, 0, c.wide, -1, out, sizeof out, c.default_char, &used);
    EXPECT_EQ(n, (int)strlen(c.expected) + 1) << c.expected;
    EXPECT_STREQ(out, c.expected);
    EXPECT_EQ(used, c.used) << c.expected;
    EXPECT_EQ(GetLastError(), sentinel);
    used = 5;
    EXPECT_EQ(WideCharToMultiByte(936, 0, c.wide, -1, nullptr, 0, c.default_char, &used), n);
    EXPECT_EQ(used, c.used) << "size query of " << c.expected;
  }

  char out[8];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, TEXT("a\xdc00"), -1, out, 8, nullptr, nullptr), 5);
  EXPECT_STREQ(out, "a\xef\xbf\xbd");
  SetLastError(sentinel);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, TEXT("a\xdc00"), -1, out, 8,
                                nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_UNICODE_TRANSLATION);
}

WCHAR wide_out[8];
char narrow_out[8];
BOOL used_out;

TEST(CodePage, BadParametersAndFlags) {
  /* Wine accepts some of these. */
  const char* wine_negative = "Wine reads any negative length as a terminated string";
  const char* wine_utf8 = "Wine takes the flags and arguments that UTF-8 does not have";
  const char* wine_mixed = "Wine takes MB_PRECOMPOSED and MB_COMPOSITE together";
  const char* wine_936 = "Wine takes WC_ERR_INVALID_CHARS for code pages other than UTF-8";
  struct Case {
    const char* what;
    int (*call)();
    DWORD error;
    const char* wine_accepts = nullptr; /* why, or null */
  } cases[] = {
      {"null input", [] { return MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wide_out, 8); },
       ERROR_INVALID_PARAMETER},
      {"empty input", [] { return MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide_out, 8); },
       ERROR_INVALID_PARAMETER},
      {"length -2", [] { return MultiByteToWideChar(CP_ACP, 0, "abc", -2, wide_out, 8); },
       ERROR_INVALID_PARAMETER, wine_negative},
      {"null output", [] { return MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 8); },
       ERROR_INVALID_PARAMETER},
      {"negative output", [] { return MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide_out, -1); },
       ERROR_INVALID_PARAMETER},
      {"unknown code page", [] { return MultiByteToWideChar(12345, 0, "abc", -1, wide_out, 8); },
       ERROR_INVALID_PARAMETER},
      {"UTF-8 with MB_PRECOMPOSED",
       [] { return MultiByteToWideChar(CP_UTF8, MB_PRECOMPOSED, "abc", -1, wide_out, 8); },
       ERROR_INVALID_FLAGS, wine_utf8},
      {"precomposed and composite",
       [] { return MultiByteToWideChar(936, MB_PRECOMPOSED | MB_COMPOSITE, "abc", -1, wide_out, 8); },
       ERROR_INVALID_FLAGS, wine_mixed},
      {"undefined flag", [] { return MultiByteToWideChar(936, 0x100, "abc", -1, wide_out, 8); },
       ERROR_INVALID_FLAGS},
      {"wide null input",
       [] { return WideCharToMultiByte(CP_ACP, 0, nullptr, -1, narrow_out, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"wide empty input",
       [] { return WideCharToMultiByte(CP_ACP, 0, TEXT("a"), 0, narrow_out, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"narrow null output",
       [] { return WideCharToMultiByte(CP_ACP, 0, TEXT("a"), -1, nullptr, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"unknown code page, wide",
       [] { return WideCharToMultiByte(12345, 0, TEXT("a"), -1, narrow_out, 8, nullptr, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"UTF-8 with a default character",
       [] { return WideCharToMultiByte(CP_UTF8, 0, TEXT("a"), -1, narrow_out, 8, "?", nullptr); },
       ERROR_INVALID_PARAMETER, wine_utf8},
      {"UTF-8 with used-default",
       [] { return WideCharToMultiByte(CP_UTF8, 0, TEXT("a"), -1, narrow_out, 8, nullptr, &used_out); },
       ERROR_INVALID_PARAMETER, wine_utf8},
      {"UTF-8 with WC_COMPOSITECHECK",
       [] {
         return WideCharToMultiByte(CP_UTF8, WC_COMPOSITECHECK, TEXT("a"), -1, narrow_out, 8, nullptr,
                                    nullptr);
       },
       ERROR_INVALID_FLAGS, wine_utf8},
      {"936 with WC_ERR_INVALID_CHARS",
       [] {
         return WideCharToMultiByte(936, WC_ERR_INVALID_CHARS, TEXT("a"), -1, narrow_out, 8, nullptr,
                                    nullptr);
       },
       ERROR_INVALID_FLAGS, wine_936},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(sentinel);
    const int result = c.call();
    const DWORD error = GetLastError();
    if (c.wine_accepts) {
      KNOWN_WINE_DIFFERENCE(c.wine_accepts, result != 0);
      if (known_difference::on_wine()) continue;
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
