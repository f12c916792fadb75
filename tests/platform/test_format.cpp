/* printf-style formatting with the Microsoft CRT's rules, narrow and wide:
 * %s/%S and %c/%C swap between the two, narrow text meets wide text in the
 * ANSI code page (936), %e has a three-digit exponent, %p is bare upper-case
 * hex; _snprintf and _snwprintf return -1 when the text does not fit and
 * leave out the terminator when it fills the buffer exactly.
 *
 * With MinGW the standard names (snprintf, fprintf, ...) have these rules
 * only when built with __USE_MINGW_ANSI_STDIO=0; the CRT names (_snprintf,
 * _snwprintf, wsprintfW) always have them. Every row runs through the
 * variadic call and through its va_list form. */
#include <windows.h>
#include <gtest/gtest.h>

#include <locale.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <stdlib.h>

#include <filesystem>

#include "plat/host.h"
#endif

namespace {

typedef std::basic_string<WCHAR> WString;

/* Wide text as UTF-8 for messages. */
std::string show(const WString& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    unsigned c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size()) c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    if (c < 0x80) {
      out += (char)c;
    } else if (c < 0x800) {
      out += (char)(0xC0 | c >> 6), out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += (char)(0xE0 | c >> 12), out += (char)(0x80 | ((c >> 6) & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    } else {
      out += (char)(0xF0 | c >> 18), out += (char)(0x80 | ((c >> 12) & 0x3F));
      out += (char)(0x80 | ((c >> 6) & 0x3F)), out += (char)(0x80 | (c & 0x3F));
    }
  }
  return out;
}

class Format : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    /* The desktop CRT converts %S in its locale's code page; the user's
     * default is the ANSI code page (the device's CRT always uses it). */
    setlocale(LC_ALL, "");
#endif
  }
};

struct Result {
  int result;
  std::string text;
};
struct WResult {
  int result;
  WString text;
};

template <class... A>
Result narrow_call(const char* format, A... a) {
  char buffer[256];
  int r = _snprintf(buffer, sizeof buffer, format, a...);
  return {r, std::string(buffer, r > 0 ? r : 0)};
}
Result narrow_va(const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  int r = _vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return {r, std::string(buffer, r > 0 ? r : 0)};
}
template <class... A>
WResult wide_call(const WCHAR* format, A... a) {
  WCHAR buffer[256];
  int r = _snwprintf(buffer, 256, format, a...);
  return {r, WString(buffer, r > 0 ? r : 0)};
}
WResult wide_va(const WCHAR* format, ...) {
  WCHAR buffer[256];
  va_list args;
  va_start(args, format);
  int r = _vsnwprintf(buffer, 256, format, args);
  va_end(args);
  return {r, WString(buffer, r > 0 ? r : 0)};
}

void check(const std::string& expected, const Result& call, const Result& va, const char* what) {
  EXPECT_EQ(call.text, expected) << what;
  EXPECT_EQ(call.result, (int)expected.size()) << what;
  EXPECT_EQ(va.text, expected) << what << " (va_list)";
  EXPECT_EQ(va.result, (int)expected.size()) << what << " (va_list)";
}
void check(const WString& expected, const WResult& call, const WResult& va, const char* what) {
  EXPECT_EQ(show(call.text), show(expected)) << what;
  EXPECT_EQ(call.result, (int)expected.size()) << what;
  EXPECT_EQ(show(va.text), show(expected)) << what << " (va_list)";
  EXPECT_EQ(va.result, (int)expected.size()) << what << " (va_list)";
}

#define NARROW(expected, ...) \
  check(std::string(expected), narrow_call(__VA_ARGS__), narrow_va(__VA_ARGS__), #__VA_ARGS__)
#define WIDE(expected, ...) \
  check(WString(expected), wide_call(__VA_ARGS__), wide_va(__VA_ARGS__), #__VA_ARGS__)

const char gbk_destination[] = "\xbb\xb0\xce\xf1\xd4\xb1\xc9\xe8\xb6\xa8\xb5\xd8\xd6\xb7"; /* 话务员设定地址 */
const char gbk_prompt[] = "\xc7\xeb\xb2\xe5\xc8\xeb\xb5\xd8\xcd\xbc\xbf\xa8"; /* 请插入地图卡 */

TEST_F(Format, Integers) {
  NARROW("42", "%d", 42);
  NARROW("05|-0005|   42|42   |-0042", "%.2d|%.4d|%5d|%-5d|%05d", 5, -5, 42, 42, -42);
  NARROW("+5| 5|", "%+d|% d|%.0d", 5, 5, 0);
  NARROW("ff FF 0xff 0XFF 0 10 010", "%x %X %#x %#X %#x %o %#o", 255, 255, 255, 255, 0, 8, 8);
  NARROW("4294967295 -1 1", "%u %hd %hu", -1, 65535, 65537);
  NARROW("-7 4294967295", "%ld %lu", (LONG)-7, (DWORD)0xFFFFFFFF);
  NARROW("-1234567890123 123456789abc 18446744073709551615", "%I64d %I64x %llu",
         (LONGLONG)-1234567890123LL, (ULONGLONG)0x123456789ABCULL, ~0ULL);
  NARROW("12345 54321", "%zu %Iu", (size_t)12345, (size_t)54321);
  NARROW("   42|42   |42   |007", "%*d|%-*d|%*d|%.*d", 5, 42, 5, 42, -5, 42, 3, 7);
  NARROW("% 100%", "%% %d%%", 100);

  WIDE(TEXT("05|-0005|   42|42   |-0042"), TEXT("%.2d|%.4d|%5d|%-5d|%05d"), 5, -5, 42, 42, -42);
  WIDE(TEXT("ff FF 0xff 0 010"), TEXT("%x %X %#x %#x %#o"), 255, 255, 255, 0, 8);
  WIDE(TEXT("-7 4294967295 -1234567890123"), TEXT("%ld %lu %I64d"), (LONG)-7, (DWORD)0xFFFFFFFF,
       (LONGLONG)-1234567890123LL);
  WIDE(TEXT("   42|007"), TEXT("%*d|%.*d"), 5, 42, 3, 7);
}

/* The CRT writes at least three exponent digits. */
TEST_F(Format, FloatingPoint) {
  NARROW("1.500000|3.14|0.000000", "%f|%.2f|%f", 1.5, 3.14159, 0.0);
  NARROW("1.000000e+000", "%e", 1.0);
  NARROW("1.234568E+004|-1.234e-004|1.000000e+100", "%E|%.3e|%e", 12345.678, -0.00012345, 1e100);
  NARROW("0.0001|1e-005|1E+020|1.23457e+008|100000", "%g|%g|%G|%g|%g", 0.0001, 1e-5, 1e20,
         123456789.0, 100000.0);
  NARROW("  1.000e+000|1.000e+000  |-01.000e+000", "%12.3e|%-12.3e|%012.3e", 1.0, 1.0, -1.0);
  NARROW("  3.1|+3.14|-003.1", "%5.1f|%+.2f|%06.1f", 3.14159, 3.14159, -3.14159);
  NARROW("(TNC,2,0,22.543200,-113.456700,", "(TNC,2,0,%f,%f,", 22.5432, -113.4567);
  NARROW(std::string("(TNC,2,0,113.456700,22.543200,") + gbk_destination + ")",
         (std::string("(TNC,2,0,%f,%f,") + gbk_destination + ")").c_str(), 113.4567, 22.5432);

  WIDE(TEXT("1.000000e+000|2.50|1e-005"), TEXT("%e|%.2f|%g"), 1.0, 2.5, 1e-5);
  WIDE(TEXT("(TNC,2,0,22.543200,-113.456700,话务员设定地址)"), TEXT("(TNC,2,0,%f,%f,话务员设定地址)"),
       22.5432, -113.4567);
}

TEST_F(Format, CharactersAndStrings) {
  const WCHAR zhong = 0x4e2d; /* 中 */
  NARROW("A|    A|A  |", "%c|%5c|%-3c|", 'A', 'A', 'A');
  NARROW("abc|ab|   ab|ab   |000ab", "%s|%.2s|%5s|%-5s|%05s", "abc", "abc", "ab", "ab", "ab");
  NARROW("(null)", "%s", (const char*)NULL);
  /* In narrow calls %S, %ls, %ws and %C take wide text, converted to GBK. */
  NARROW(gbk_prompt, "%S", TEXT("请插入地图卡"));
  NARROW("ab|cd|ef|gh", "%ls|%ws|%hs|%s", TEXT("ab"), TEXT("cd"), "ef", "gh");
  NARROW("\xd6\xd0|x|\xd6\xd0", "%C|%hc|%lc", zhong, 'x', zhong);
  /* Precision and width count the wide characters given. */
  NARROW("\xd6\xd0\xce\xc4|\xd6\xd0", "%.2S|%.1S", TEXT("\x4e2d\x6587"), TEXT("\x4e2d\x6587"));
  NARROW("   \xd6\xd0|\xd6\xd0   |", "%4S|%-4S|", TEXT("\x4e2d"), TEXT("\x4e2d"));
  NARROW("   \xd6\xd0", "%4C", zhong);

  WIDE(TEXT("A|    A|\x4e2d"), TEXT("%c|%5c|%c"), (WCHAR)'A', (WCHAR)'A', zhong);
  WIDE(TEXT("abc|ab|   ab|000ab"), TEXT("%s|%.2s|%5s|%05s"), TEXT("abc"), TEXT("abc"), TEXT("ab"),
       TEXT("ab"));
  WIDE(TEXT("(null)"), TEXT("%s"), (const WCHAR*)NULL);
  /* In wide calls %S, %hs and %C take narrow (GBK) text. */
  WIDE(TEXT("请插入地图卡"), TEXT("%S"), gbk_prompt);
  WIDE(TEXT("ab|cd|ef|gh"), TEXT("%S|%hs|%ls|%ws"), "ab", "cd", TEXT("ef"), TEXT("gh"));
  WIDE(TEXT("x|y|\x4e2d"), TEXT("%C|%hc|%lc"), 'x', 'y', zhong);
  /* Precision and width count the bytes given; a lead byte cut from its
   * trail byte is '?'. */
  WIDE(TEXT("\x4e2d?|\x4e2d|a?"), TEXT("%.3S|%.2S|%.2S"), "\xd6\xd0\xce\xc4", "\xd6\xd0\xce\xc4",
       "a\xd6\xd0");
  WIDE(TEXT("  \x4e2d|  \x4e2d?|"), TEXT("%4S|%5.3S|"), "\xd6\xd0", "\xd6\xd0\xce\xc4");
  WIDE(TEXT("DTMF:12#34\tTRUE\r\n"), TEXT("DTMF:%S\tTRUE\r\n"), "12#34");
}

TEST_F(Format, PointersAreBareUpperCaseHex) {
  std::string digits(2 * sizeof(void*) - 4, '0');
  NARROW(digits + "12AB", "%p", (void*)(uintptr_t)0x12ab);
  WIDE(WString(digits.begin(), digits.end()) + TEXT("BEEF"), TEXT("%p"), (void*)(uintptr_t)0xbeef);
}

/* _snprintf/_snwprintf: the count of characters when they fit (terminated
 * when there is room), -1 when they do not; never a byte past `count`. */
TEST_F(Format, CrtBufferSemantics) {
  struct Case {
    size_t count;
    int result;
    const char* text;  /* the buffer's first count characters afterwards */
    bool terminated;
  } cases[] = {
      {6, 4, "abcd", true},
      {5, 4, "abcd", true},
      {4, 4, "abcd", false}, /* exactly full: no terminator */
      {3, -1, "abc", false},
      {0, -1, "", false},
  };
  for (const Case& c : cases) {
    char narrow[8];
    memset(narrow, '#', sizeof narrow);
    EXPECT_EQ(_snprintf(narrow, c.count, "%s", "abcd"), c.result) << c.count;
    EXPECT_EQ(std::string(narrow, strlen(c.text)), c.text) << c.count;
    EXPECT_EQ(narrow[strlen(c.text)], c.terminated ? '\0' : '#') << c.count;
    for (size_t i = c.count; i < sizeof narrow; i++) EXPECT_TRUE(narrow[i] == '#' || (c.terminated && i == 4)) << c.count;

    WCHAR wide[8];
    for (WCHAR& w : wide) w = '#';
    EXPECT_EQ(_snwprintf(wide, c.count, TEXT("%s"), TEXT("abcd")), c.result) << c.count;
    for (size_t i = 0; i < strlen(c.text); i++) EXPECT_EQ(wide[i], (WCHAR)c.text[i]) << c.count;
    EXPECT_EQ(wide[strlen(c.text)], c.terminated ? 0 : '#') << c.count;
    for (size_t i = c.count; i < 8; i++) EXPECT_TRUE(wide[i] == '#' || (c.terminated && i == 4)) << c.count;
  }
}

/* The standard names keep C's results: snprintf truncates, terminates and
 * returns the full length. */
TEST_F(Format, StandardNamesKeepTheirResults) {
  char buffer[8];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(snprintf(buffer, 3, "%s", "abcd"), 4);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(buffer[3], '#');
  EXPECT_EQ(snprintf(nullptr, 0, "%d", 12345), 5);
  EXPECT_EQ(sprintf(buffer, "%d-%s", 7, "ok"), 4);
  EXPECT_STREQ(buffer, "7-ok");
  /* The Windows conversions are there too. */
  char text[64];
  EXPECT_EQ(snprintf(text, sizeof text, "%S|%e", TEXT("\x4e2d"), 1.0), 16);
  EXPECT_STREQ(text, "\xd6\xd0|1.000000e+000");
  EXPECT_EQ(std::to_string(3.25), "3.250000");
}

/* wsprintfW: integers, characters and strings, at most 1024 characters with
 * the terminator; no floating point. */
TEST_F(Format, Wsprintf) {
  WCHAR buffer[2048];
  EXPECT_EQ(wsprintfW(buffer, TEXT("%d|%5s|%-3c|%04x|%lu|%S"), -12, TEXT("ab"), (WCHAR)'z', 0xbe,
                      (DWORD)4000000000u, "cd"),
            32);
  EXPECT_EQ(show(buffer), "-12|   ab|z  |00be|4000000000|cd");
  EXPECT_EQ(wsprintfW(buffer, TEXT("%s=%hs"), TEXT("话务员"), "\xd6\xd0"), 5);
  EXPECT_EQ(show(buffer), "话务员=中");

  WString long_text(2000, 'x');
  for (WCHAR& c : buffer) c = '#';
  int n = wsprintfW(buffer, TEXT("%s"), long_text.c_str());
  EXPECT_GT(n, 1000);
  EXPECT_LE(n, 1024);
  for (int i = 1025; i < 2048; i++) ASSERT_EQ(buffer[i], '#') << i;
#ifndef _WIN32
  /* Host: 1023 characters and the terminator. */
  EXPECT_EQ(n, 1023);
  EXPECT_EQ(buffer[1023], 0);
#endif
}

/* To a stream: narrow text as bytes; wide text through fputwc, which on a
 * binary stream writes UTF-16LE units. */
TEST_F(Format, Streams) {
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fprintf(f, "%s\t%S|%d\n", gbk_destination, TEXT("\x4e2d"), 5), 20);
  EXPECT_EQ(fwprintf(f, TEXT("%s=%S"), TEXT("\x4e2d"), "\xce\xc4"), 3);
  rewind(f);
  char bytes[64];
  size_t n = fread(bytes, 1, sizeof bytes, f);
  fclose(f);
  EXPECT_EQ(std::string(bytes, n), std::string(gbk_destination) + "\t\xd6\xd0|5\n" +
                                       std::string("\x2d\x4e=\x00\x87\x65", 6));
}

#ifndef _WIN32
/* Host additions: the variadic calls know each argument's type. */

TEST_F(Format, HostPrintsStandardFormatsAsTheCLibrary) {
  char mine[128], c_library[128];
#define SAME(...)                                                          \
  do {                                                                     \
    int a = snprintf(mine, sizeof mine, __VA_ARGS__);                      \
    int b = __builtin_snprintf(c_library, sizeof c_library, __VA_ARGS__); \
    EXPECT_EQ(a, b) << #__VA_ARGS__;                                       \
    EXPECT_STREQ(mine, c_library) << #__VA_ARGS__;                         \
  } while (0)
  SAME("%d %i %u %x %X %o", -3, 4, 5u, 255u, 255u, 8u);
  SAME("%ld %lu %lx", 5000000000L, 18000000000000000000UL, 0x123456789abcL);
  SAME("%lld %llu %zu %zd %jd", -5000000000LL, 5000000000ULL, (size_t)77, (ssize_t)-77, (intmax_t)-1);
  /* Ints on purpose, cut by the length modifiers; the format is a variable so
   * that the compiler's format check does not take them for a mistake. */
  const char* narrowing = "%hhd %hhu %hd";
  SAME(narrowing, 300, 300, 70000);
  SAME("[%8.3f] [%-8.2f] [%+.0f] [%#.0f] [%08.3f] [% f]", 3.14159, 2.5, 2.4, 3.0, -1.5, 1.0);
  SAME("[%g] [%g] [%G] [%.3g] [%#g]", 0.5, 123456.0, 0.001, 3.14159, 1.0);
  SAME("[%Lf] [%.2Lf]", (long double)1.25, (long double)-2.125);
  SAME("[%a] [%A]", 1.0, 0.5);
  SAME("[%s] [%10s] [%-10s] [%.2s] [%c] [%%]", "abc", "right", "left", "cut", 'x');
  SAME("[%5.3d] [%-6.2x] [%#o] [%#x] [%+d] [% d]", 7, 10u, 0u, 0u, 0, -1);
  SAME("[%ls] [%5ls]", L"wide", L"ab");
  SAME("[%*d] [%-*d] [%.*f]", 6, 1, 6, 2, 2, 1.0 / 3);
#undef SAME
}

/* Known host difference: the va_list calls read %ld as the 32-bit long of
 * Windows, so a host long beyond that range is cut to its low 32 bits. */
int va_format(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int r = vsnprintf(buffer, size, format, args);
  va_end(args);
  return r;
}
TEST_F(Format, HostVaListLongIs32Bits) {
  char buffer[32];
  va_format(buffer, sizeof buffer, "%ld|%lld", (LONG)-5, 5000000000LL);
  EXPECT_STREQ(buffer, "-5|5000000000");
  va_format(buffer, sizeof buffer, "%ld", 5000000001L);
  EXPECT_STREQ(buffer, "705032705");
}

/* An argument of the wrong kind prints "%!" and the conversion instead of
 * being read as something it is not. */
TEST_F(Format, HostRefusesArgumentsOfTheWrongKind) {
  char buffer[64];
  snprintf(buffer, sizeof buffer, "%s|%S|%d|%f|%d", TEXT("wide"), "narrow", 1.5, 2, 3);
  EXPECT_STREQ(buffer, "%!s|%!S|%!d|%!f|3");
  snprintf(buffer, sizeof buffer, "%d %d", 1);
  EXPECT_STREQ(buffer, "1 %!d");
  WCHAR wide[32];
  _snwprintf(wide, 32, TEXT("%s|%S"), "narrow", TEXT("wide"));
  EXPECT_EQ(show(wide), "%!s|%!S");
}

/* A wide format written to a text stream: the ANSI code page, "\r\n". */
TEST_F(Format, HostTextStreamGetsAnsi) {
  char dir[] = "/tmp/velmar-format-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string previous = plat::device_root();
  plat::set_device_root(dir);
  FILE* f = _wfopen(TEXT("\\dest.txt"), TEXT("a+"));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fwprintf(f, TEXT("%s\n"), TEXT("话务员")), 4);
  EXPECT_EQ(fprintf(f, "%S\n", TEXT("卡")), 3);
  fclose(f);
  FILE* raw = fopen((std::string(dir) + "/dest.txt").c_str(), "rb");
  ASSERT_NE(raw, nullptr);
  char bytes[32];
  size_t n = fread(bytes, 1, sizeof bytes, raw);
  fclose(raw);
  EXPECT_EQ(std::string(bytes, n), "\xbb\xb0\xce\xf1\xd4\xb1\r\n\xbf\xa8\r\n");
  plat::set_device_root(previous);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}
#endif

}  // namespace
