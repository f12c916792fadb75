/* Wide string calls on WCHAR as the Microsoft CRT ("C" locale, 32-bit long)
 * and Win32 (lstr*, CharUpper/CharLower) define them. */
#include <windows.h>
#include <gtest/gtest.h>

#include <errno.h>

#include <string>

namespace {

typedef std::basic_string<WCHAR> WString;

std::string show(const WCHAR* s) {
  std::string out;
  for (; *s; s++) {
    if (*s >= 0x20 && *s < 0x7F) {
      out += (char)*s;
    } else {
      char hex[12];
      snprintf(hex, sizeof hex, "\\u%04X", (unsigned)*s);
      out += hex;
    }
  }
  return out;
}

int sign(int v) { return (v > 0) - (v < 0); }

TEST(WideString, LengthsAndCopies) {
  EXPECT_EQ(wcslen(TEXT("")), 0u);
  EXPECT_EQ(wcslen(TEXT("请插入地图卡")), 6u);

  WCHAR buffer[16];
  EXPECT_EQ(wcscpy(buffer, TEXT("COM13")), buffer);
  EXPECT_EQ(WString(buffer), WString(TEXT("COM13")));
  EXPECT_EQ(wcscat(buffer, TEXT(":")), buffer);
  EXPECT_EQ(WString(buffer), WString(TEXT("COM13:")));
  EXPECT_EQ(wcsncat(buffer, TEXT("abcdef"), 2), buffer);
  EXPECT_EQ(WString(buffer), WString(TEXT("COM13:ab")));

  /* wcsncpy fills the rest with zeros and does not terminate a long source. */
  for (WCHAR& c : buffer) c = '#';
  EXPECT_EQ(wcsncpy(buffer, TEXT("ab"), 5), buffer);
  EXPECT_EQ(WString(buffer, 6), WString(TEXT("ab\0\0\0#"), 6));
  wcsncpy(buffer, TEXT("abcdef"), 3);
  EXPECT_EQ(WString(buffer, 4), WString(TEXT("abc\0"), 4));

  WCHAR* copy = _wcsdup(TEXT("\\sdmmc\\debug.lev"));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(WString(copy), WString(TEXT("\\sdmmc\\debug.lev")));
  EXPECT_EQ(WString(_wcsupr(copy)), WString(TEXT("\\SDMMC\\DEBUG.LEV")));
  EXPECT_EQ(WString(_wcslwr(copy)), WString(TEXT("\\sdmmc\\debug.lev")));
  free(copy);
}

/* Signs of wcscmp (code units), _wcsicmp (after A-Z -> a-z), lstrcmpW and
 * lstrcmpiW (word order: punctuation, digits, letters; lower case first). */
TEST(WideString, Comparisons) {
  struct Case {
    const WCHAR* a;
    const WCHAR* b;
    int cmp, icmp, lstr, lstri;
  } cases[] = {
      {TEXT("abc"), TEXT("abc"), 0, 0, 0, 0},
      {TEXT("abc"), TEXT("abd"), -1, -1, -1, -1},
      {TEXT("ab"), TEXT("abc"), -1, -1, -1, -1},
      {TEXT(""), TEXT("a"), -1, -1, -1, -1},
      {TEXT("a"), TEXT("B"), 1, -1, -1, -1},
      {TEXT("a"), TEXT("A"), 1, 0, -1, 0},
      {TEXT("Z"), TEXT("a"), -1, 1, 1, 1},
      {TEXT("_"), TEXT("A"), 1, -1, -1, -1},
      {TEXT("~"), TEXT("a"), 1, 1, -1, -1},
      {TEXT("1"), TEXT("a"), -1, -1, -1, -1},
      {TEXT("!"), TEXT("1"), -1, -1, -1, -1},
      {TEXT("DSK1:"), TEXT("dsk1:"), -1, 0, 1, 0},
      {TEXT("\x4e2d"), TEXT("\x4e2d"), 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::string what = show(c.a) + " vs " + show(c.b);
    EXPECT_EQ(sign(wcscmp(c.a, c.b)), c.cmp) << what;
    EXPECT_EQ(sign(_wcsicmp(c.a, c.b)), c.icmp) << what;
    EXPECT_EQ(lstrcmpW(c.a, c.b), c.lstr) << what;
    EXPECT_EQ(lstrcmpiW(c.a, c.b), c.lstri) << what;
    EXPECT_EQ(sign(wcscmp(c.b, c.a)), -c.cmp) << what << " (swapped)";
    EXPECT_EQ(lstrcmpW(c.b, c.a), -c.lstr) << what << " (swapped)";
  }
  /* Win32 folds case beyond ASCII. */
  EXPECT_EQ(lstrcmpiW(TEXT("\x00e9\x03b1\x044f"), TEXT("\x00c9\x0391\x042f")), 0);
  EXPECT_EQ(lstrcmpW(TEXT("\x00e9"), TEXT("\x00c9")), -1);

  EXPECT_EQ(wcsncmp(TEXT("COM13"), TEXT("COM14"), 4), 0);
  EXPECT_EQ(sign(wcsncmp(TEXT("COM13"), TEXT("COM14"), 5)), -1);
  EXPECT_EQ(wcsncmp(TEXT("ab"), TEXT("ab"), 10), 0);
  EXPECT_EQ(_wcsnicmp(TEXT("DSK1:abc"), TEXT("dsk1:xyz"), 5), 0);
  EXPECT_EQ(sign(_wcsnicmp(TEXT("DSK1:abc"), TEXT("dsk1:xyz"), 6)), -1);
}

TEST(WideString, Search) {
  const WCHAR* path = TEXT("\\sdmmc\\Navi\\Navi.exe");
  EXPECT_EQ(wcschr(path, '\\'), path);
  EXPECT_EQ(wcschr(path, 'N'), path + 7);
  EXPECT_EQ(wcschr(path, 0), path + wcslen(path));
  EXPECT_EQ(wcschr(path, 'q'), nullptr);
  EXPECT_EQ(wcsrchr(path, '\\'), path + 11);
  EXPECT_EQ(wcsrchr(path, '/'), nullptr);
  EXPECT_EQ(wcsstr(path, TEXT("Navi")), path + 7);
  EXPECT_EQ(wcsstr(path, TEXT("Navi.")), path + 12);
  EXPECT_EQ(wcsstr(path, TEXT("navi")), nullptr);
  EXPECT_EQ(wcsstr(path, TEXT("")), path);

  WCHAR name[] = TEXT("dir\\file");
  WCHAR* slash = wcsrchr(name, '\\');
  ASSERT_NE(slash, nullptr);
  *slash = 0; /* the non-const form gives a writable pointer */
  EXPECT_EQ(WString(name), WString(TEXT("dir")));
}

/* Results in the 32 bits of Windows' long; overflow clamps with ERANGE. */
TEST(WideString, IntegerConversions) {
  struct Case {
    const WCHAR* text;
    int base;
    long value;
    int end; /* characters used */
    bool range_error;
  } signed_cases[] = {
      {TEXT("42"), 10, 42, 2, false},
      {TEXT("\t\n -17xyz"), 10, -17, 6, false},
      {TEXT("+8"), 10, 8, 2, false},
      {TEXT("0x1A"), 16, 26, 4, false},
      {TEXT("0x1A"), 0, 26, 4, false},
      {TEXT("012"), 0, 10, 3, false},
      {TEXT("ff"), 16, 255, 2, false},
      {TEXT("z"), 36, 35, 1, false},
      {TEXT("abc"), 10, 0, 0, false},
      {TEXT(""), 10, 0, 0, false},
      {TEXT("2147483647"), 10, 2147483647L, 10, false},
      {TEXT("2147483648"), 10, 2147483647L, 10, true},
      {TEXT("-2147483648"), 10, -2147483647L - 1, 11, false},
      {TEXT("-2147483649"), 10, -2147483647L - 1, 11, true},
      {TEXT("99999999999999999999"), 10, 2147483647L, 20, true},
  };
  for (const Case& c : signed_cases) {
    WCHAR* end = nullptr;
    errno = 0;
    EXPECT_EQ(wcstol(c.text, &end, c.base), c.value) << show(c.text);
    EXPECT_EQ(end - c.text, c.end) << show(c.text);
    EXPECT_EQ(errno == ERANGE, c.range_error) << show(c.text);
  }

  struct UnsignedCase {
    const WCHAR* text;
    int base;
    unsigned long value;
    bool range_error;
  } unsigned_cases[] = {
      {TEXT("4294967295"), 10, 4294967295ul, false},
      {TEXT("4294967296"), 10, 4294967295ul, true},
      {TEXT("-1"), 10, 4294967295ul, false},
      {TEXT("0xFFFFFFFF"), 16, 4294967295ul, false},
      {TEXT(" 8000"), 10, 8000ul, false},
  };
  for (const UnsignedCase& c : unsigned_cases) {
    errno = 0;
    EXPECT_EQ(wcstoul(c.text, nullptr, c.base), c.value) << show(c.text);
    EXPECT_EQ(errno == ERANGE, c.range_error) << show(c.text);
  }

  EXPECT_EQ(_wtoi(TEXT(" 123abc")), 123);
  EXPECT_EQ(_wtoi(TEXT("-45")), -45);
  EXPECT_EQ(_wtoi(TEXT("x1")), 0);
  EXPECT_EQ(_wtol(TEXT("4800")), 4800);
}

TEST(WideString, RealConversions) {
  struct Case {
    const WCHAR* text;
    double value;
    int end;
  } cases[] = {
      {TEXT("3.25"), 3.25, 4},
      {TEXT("  -1.5e3x"), -1500.0, 8},
      {TEXT("1.5E+2"), 150.0, 6},
      {TEXT(".5"), 0.5, 2},
      {TEXT("7."), 7.0, 2},
      {TEXT("1e"), 1.0, 1},
      {TEXT("113.456700,"), 113.4567, 10},
      {TEXT("abc"), 0.0, 0},
      {TEXT("-"), 0.0, 0},
  };
  for (const Case& c : cases) {
    WCHAR* end = nullptr;
    EXPECT_DOUBLE_EQ(wcstod(c.text, &end), c.value) << show(c.text);
    EXPECT_EQ(end - c.text, c.end) << show(c.text);
  }
  EXPECT_DOUBLE_EQ(_wtof(TEXT("22.5432")), 22.5432);
}

TEST(WideString, NumbersToText) {
  WCHAR buffer[40];
  EXPECT_EQ(WString(_itow(-123, buffer, 10)), WString(TEXT("-123")));
  EXPECT_EQ(WString(_itow(255, buffer, 16)), WString(TEXT("ff")));
  EXPECT_EQ(WString(_itow(-1, buffer, 16)), WString(TEXT("ffffffff")));
  EXPECT_EQ(WString(_itow(5, buffer, 2)), WString(TEXT("101")));
  EXPECT_EQ(WString(_itow(0, buffer, 10)), WString(TEXT("0")));
  EXPECT_EQ(WString(_ltow(-2147483647L - 1, buffer, 10)), WString(TEXT("-2147483648")));
  EXPECT_EQ(WString(_ultow(4294967295ul, buffer, 10)), WString(TEXT("4294967295")));
}

TEST(WideString, CharacterClasses) {
  EXPECT_EQ(towupper((WCHAR)'a'), (WCHAR)'A');
  EXPECT_EQ(towupper((WCHAR)'1'), (WCHAR)'1');
  EXPECT_EQ(towlower((WCHAR)'Z'), (WCHAR)'z');
  EXPECT_EQ(towlower((WCHAR)'['), (WCHAR)'[');
  for (WCHAR c : {' ', '\t', '\n', '\v', '\f', '\r'}) EXPECT_TRUE(iswspace(c)) << (int)c;
  for (WCHAR c : {'a', '0', '_', '\0'}) EXPECT_FALSE(iswspace(c)) << (int)c;
  for (WCHAR c = '0'; c <= '9'; c++) EXPECT_TRUE(iswdigit(c));
  for (WCHAR c : {'a', '/', ':', '\0'}) EXPECT_FALSE(iswdigit(c)) << (int)c;
}

TEST(Lstr, CopiesAndLengths) {
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrlenW(TEXT("\x4e2d\x6587")), 2);

  WCHAR buffer[8];
  for (WCHAR& c : buffer) c = '#';
  EXPECT_EQ(lstrcpynW(buffer, TEXT("abcdef"), 4), buffer);
  EXPECT_EQ(WString(buffer, 5), WString(TEXT("abc\0#"), 5));
  EXPECT_EQ(lstrcpynW(buffer, TEXT("ab"), 8), buffer);
  EXPECT_EQ(WString(buffer), WString(TEXT("ab")));
  EXPECT_EQ(lstrcpynW(buffer, TEXT("xyz"), 1), buffer);
  EXPECT_EQ(buffer[0], 0);

  EXPECT_EQ(lstrcpyW(buffer, TEXT("COM")), buffer);
  EXPECT_EQ(lstrcatW(buffer, TEXT("13:")), buffer);
  EXPECT_EQ(WString(buffer), WString(TEXT("COM13:")));
}

TEST(Lstr, CaseMapping) {
  struct Case {
    const WCHAR* lower;
    const WCHAR* upper;
  } cases[] = {
      {TEXT("abc xyz 019"), TEXT("ABC XYZ 019")},
      {TEXT("\x00e9\x00e0\x00f6"), TEXT("\x00c9\x00c0\x00d6")},              /* Latin-1 */
      {TEXT("\x0101\x010d\x0142"), TEXT("\x0100\x010c\x0141")},              /* Latin Extended-A */
      {TEXT("\x03b1\x03c9\x03ac"), TEXT("\x0391\x03a9\x0386")},              /* Greek */
      {TEXT("\x044f\x0451\x0430"), TEXT("\x042f\x0401\x0410")},              /* Cyrillic */
      {TEXT("\xff41\xff5a"), TEXT("\xff21\xff3a")},                          /* fullwidth */
      {TEXT("\x8bdd\x52a1\x5458"), TEXT("\x8bdd\x52a1\x5458")},              /* no case */
  };
  for (const Case& c : cases) {
    WString s(c.lower);
    EXPECT_EQ(CharUpperW(&s[0]), &s[0]);
    EXPECT_EQ(show(s.c_str()), show(c.upper));
    EXPECT_EQ(CharLowerW(&s[0]), &s[0]);
    EXPECT_EQ(show(s.c_str()), show(c.lower));
  }
  /* A pointer value below 0x10000 is a single character. */
  EXPECT_EQ((ULONG_PTR)CharUpperW((LPWSTR)(ULONG_PTR)'q'), (ULONG_PTR)'Q');
  EXPECT_EQ((ULONG_PTR)CharLowerW((LPWSTR)(ULONG_PTR)0x042f), (ULONG_PTR)0x044f);

  WCHAR buffer[] = TEXT("abcd");
  EXPECT_EQ(CharUpperBuffW(buffer, 2), 2u);
  EXPECT_EQ(WString(buffer), WString(TEXT("ABcd")));
  EXPECT_EQ(CharLowerBuffW(buffer, 1), 1u);
  EXPECT_EQ(WString(buffer), WString(TEXT("aBcd")));
}

}  // namespace
