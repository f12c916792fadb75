/* ini_read_string, ini_read_int and ini_lookup_value on generated files. */
#include <gtest/gtest.h>
#include <locale.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ini_fixture.h"
#include "known_difference.h"
#include "ini_reader.h"

using fixture::DeviceRoot;
using fixture::Encoding;

namespace {

const Encoding kEncodings[] = {Encoding::Gbk, Encoding::Utf16};

std::string u8(const fixture::WString& s) { return fixture::utf8(s); }

struct ReadCase {
  const char* what;
  const char* text;     /* file content, UTF-8 */
  const char* section;
  const char* key;
  const char* expected; /* value; "" when the default is used */
};

const ReadCase kReadCases[] = {
    {"trailing space after the value", "[CONFIG]\r\nID = 12 \r\n", "CONFIG", "ID", "12"},
    {"LF-only line ends", "[CONFIG]\nID=5\nX=1\n", "CONFIG", "ID", "5"},
    {"last line without line end", "[CONFIG]\r\nID=9", "CONFIG", "ID", "9"},
    {"trailing CRs and spaces trimmed", "[CONFIG]\r\nID=5 \r \r\n", "CONFIG", "ID", "5"},
    {"tabs in the value are kept", "[CONFIG]\r\nID=\t5\t\r\n", "CONFIG", "ID", "\t5\t"},
    {"leading spaces before the key", "[CONFIG]\r\n   ID=1\r\n", "CONFIG", "ID", "1"},
    {"space before the equals sign", "[CONFIG]\r\nID =1\r\n", "CONFIG", "ID", "1"},
    {"leading tab: not the key", "[CONFIG]\r\n\tID=1\r\n", "CONFIG", "ID", ""},
    {"tab before the equals sign: not the key", "[CONFIG]\r\nID\t=1\r\n", "CONFIG", "ID", ""},
    {"keys are case-sensitive", "[CONFIG]\r\nid=1\r\n", "CONFIG", "ID", ""},
    {"sections are case-sensitive", "[config]\r\nID=1\r\n", "CONFIG", "ID", ""},
    {"header name is not trimmed", "[CONFIG ]\r\nID=1\r\n", "CONFIG", "ID", ""},
    {"text after the bracket is ignored", "[CONFIG] ; main\r\nID=4\r\n", "CONFIG", "ID", "4"},
    {"indented bracket is no header", "  [CONFIG]\r\nID=1\r\n", "CONFIG", "ID", ""},
    {"comment line skipped", "[CONFIG]\r\n;ID=1\r\nID=2\r\n", "CONFIG", "ID", "2"},
    {"commented header does not end the section", "[CONFIG]\r\n;[OTHER]\r\nID=2\r\n", "CONFIG", "ID", "2"},
    {"hash has no meaning", "[CONFIG]\r\n#ID=1\r\n", "CONFIG", "#ID", "1"},
    {"quotes, = and ; are kept", "[CONFIG]\r\nID=\"a=b;c\"\r\n", "CONFIG", "ID", "\"a=b;c\""},
    {"first key wins", "[CONFIG]\r\nID=1\r\nID=2\r\n", "CONFIG", "ID", "1"},
    {"keys before the header are ignored", "ID=1\r\n[CONFIG]\r\nX=2\r\n", "CONFIG", "ID", ""},
    {"another header ends the section", "[CONFIG]\r\n[OTHER]\r\nID=1\r\n", "CONFIG", "ID", ""},
    {"first header wins", "[CONFIG]\r\nA=1\r\n[CONFIG]\r\nID=2\r\n", "CONFIG", "ID", ""},
    {"first header wins, its key found", "[CONFIG]\r\nA=1\r\n[CONFIG]\r\nID=2\r\n", "CONFIG", "A", "1"},
    {"unclosed header inside: section goes on", "[CONFIG]\r\nA=1\r\n[CONFIG\r\nID=3\r\n", "CONFIG", "ID", "3"},
    {"unclosed header does not open", "[CONFIG\r\nID=3\r\n", "CONFIG", "ID", ""},
    {"unclosed header with = is no key line", "[CONFIG]\r\n[ID=3\r\n", "CONFIG", "[ID", ""},
    {"empty value", "[CONFIG]\r\nID=\r\n", "CONFIG", "ID", ""},
    {"value of spaces", "[CONFIG]\r\nID=   \r\n", "CONFIG", "ID", ""},
    {"Chinese value", "[CONFIG]\r\nCENTER_NAME=话务中心\r\n", "CONFIG", "CENTER_NAME", "话务中心"},
    {"Chinese section and key", "[配置]\r\n名称 = 导航 \r\n", "配置", "名称", "导航"},
    {"other section found", "[A]\r\nID=1\r\n[B]\r\nID=2\r\n", "B", "ID", "2"},
};

TEST(IniReadString, TableOverBothEncodings) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  for (Encoding e : kEncodings) {
    for (const ReadCase& c : kReadCases) {
      SCOPED_TRACE(std::string(fixture::name_of(e)) + ": " + c.what);
      root.write("config.ini", fixture::file_bytes(e, c.text));
      fixture::WString section = fixture::wide(c.section), key = fixture::wide(c.key);
      WCHAR buffer[64];
      buffer[0] = 'x';
      int n = ini_read_string(section.c_str(), key.c_str(), NULL, buffer, 64, path.c_str());
      EXPECT_EQ(c.expected, u8(buffer));
      EXPECT_EQ(fixture::units_of(e, c.expected), n);
    }
  }
}

TEST(IniReadString, EncodingIsDecidedByTheFirstTwoBytes) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("a.ini");
  struct Case {
    const char* what;
    std::string bytes;
    const char* expected;
  } cases[] = {
      /* The UTF-8 mark is read as ANSI bytes: the first line is no header. */
      {"UTF-8 mark before the header", "\xEF\xBB\xBF[CONFIG]\r\nID=1\r\n", ""},
      {"UTF-8 mark before a comment", "\xEF\xBB\xBF;x\r\n[CONFIG]\r\nID=1\r\n", "1"},
      {"FE FF is no mark", "\xFE\xFF\r\n[CONFIG]\r\nID=1\r\n", "1"},
      {"UTF-16 without mark is ANSI", fixture::convert("[CONFIG]\r\nID=1\r\n", "UTF-16LE"), ""},
      {"a one-byte file", "\xFF", ""},
      {"only the mark", "\xFF\xFE", ""},
      {"UTF-16 odd trailing byte", fixture::file_bytes(Encoding::Utf16, "[CONFIG]\r\nID=1") + "\x41", "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    root.write("a.ini", c.bytes);
    WCHAR buffer[16];
    ini_read_string(TEXT("CONFIG"), TEXT("ID"), NULL, buffer, 16, path.c_str());
    EXPECT_EQ(c.expected, u8(buffer));
  }
}

TEST(IniReadString, DefaultAndBufferSizes) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  for (Encoding e : kEncodings) {
    SCOPED_TRACE(fixture::name_of(e));
    root.write("config.ini", fixture::file_bytes(e, "[CONFIG]\r\nID=0123456789\r\nE=\r\n"));
    WCHAR buffer[32];

    EXPECT_EQ(4, ini_read_string(TEXT("CONFIG"), TEXT("ID"), NULL, buffer, 5, path.c_str()));
    EXPECT_EQ("0123", u8(buffer));
    EXPECT_EQ(10, ini_read_string(TEXT("CONFIG"), TEXT("ID"), NULL, buffer, 11, path.c_str()));
    EXPECT_EQ("0123456789", u8(buffer));

    buffer[0] = 'x';
    EXPECT_EQ(0, ini_read_string(TEXT("CONFIG"), TEXT("ID"), TEXT("dflt"), buffer, 1, path.c_str()));
    EXPECT_EQ(TEXT(""), fixture::WString(buffer));
    buffer[0] = 'x';
    EXPECT_EQ(0, ini_read_string(TEXT("CONFIG"), TEXT("ID"), NULL, buffer, 0, path.c_str()));
    EXPECT_EQ(TEXT('x'), buffer[0]);
    EXPECT_EQ(0, ini_read_string(TEXT("CONFIG"), TEXT("ID"), NULL, NULL, 32, path.c_str()));

    /* The default replaces a missing key, an empty value, a missing section. */
    EXPECT_EQ(4, ini_read_string(TEXT("CONFIG"), TEXT("NONE"), TEXT("dflt"), buffer, 32, path.c_str()));
    EXPECT_EQ("dflt", u8(buffer));
    EXPECT_EQ(4, ini_read_string(TEXT("CONFIG"), TEXT("E"), TEXT("dflt"), buffer, 32, path.c_str()));
    EXPECT_EQ("dflt", u8(buffer));
    EXPECT_EQ(2, ini_read_string(TEXT("OTHER"), TEXT("ID"), TEXT("dflt"), buffer, 3, path.c_str()));
    EXPECT_EQ("df", u8(buffer));
    EXPECT_EQ(4, ini_read_string(NULL, TEXT("ID"), TEXT("dflt"), buffer, 32, path.c_str()));
    EXPECT_EQ(4, ini_read_string(TEXT("CONFIG"), NULL, TEXT("dflt"), buffer, 32, path.c_str()));
  }
  WCHAR buffer[8];
  buffer[0] = 'x';
  EXPECT_EQ(0, ini_read_string(TEXT("CONFIG"), TEXT("ID"), NULL, buffer, 8, TEXT("\\missing.ini")));
  EXPECT_EQ(TEXT(""), fixture::WString(buffer));
  EXPECT_EQ(3, ini_read_string(TEXT("CONFIG"), TEXT("ID"), TEXT("abc"), buffer, 8, TEXT("\\missing.ini")));
  EXPECT_EQ(TEXT("abc"), fixture::WString(buffer));
  EXPECT_EQ(3, ini_read_string(TEXT("CONFIG"), TEXT("ID"), TEXT("abc"), buffer, 8, NULL));
}

/* A file that cannot be opened for update counts as missing. */
TEST(IniReadString, ReadOnlyFileGivesTheDefault) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  root.write("config.ini", "[CONFIG]\r\nID=5\r\n");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  WCHAR buffer[8];
  EXPECT_EQ(1, ini_read_string(TEXT("CONFIG"), TEXT("ID"), TEXT("d"), buffer, 8, path.c_str()));
  KNOWN_WINE_AS_ROOT_DIFFERENCE("Wine run as root opens a read-only file for update",
                                fixture::WString(buffer) == TEXT("5"));
  if (!known_difference::on_wine_as_root()) {
    EXPECT_EQ(TEXT("d"), fixture::WString(buffer));
  }
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(1, ini_read_string(TEXT("CONFIG"), TEXT("ID"), TEXT("d"), buffer, 8, path.c_str()));
  EXPECT_EQ(TEXT("5"), fixture::WString(buffer));
}

/* A value as long as a line piece allows: a UTF-16 file gives at most 511
 * units per line piece and per result; an ANSI file at most what is left of
 * the 1024-byte work area after the converted section and key. */
TEST(IniReadString, LongValuesAreCutByTheLineAndWorkBuffers) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  const std::string long_key(100, 'K');
  const fixture::WString long_key16(100, TEXT('K'));
  const std::string value(1500, 'v');
  std::vector<WCHAR> buffer(2000);
  struct Case {
    Encoding e;
    const fixture::WString* key;
    int expected;
  } cases[] = {
      {Encoding::Utf16, nullptr, 511 - 3},       /* "ID=" and 508 units fill the 511-unit piece */
      {Encoding::Gbk, nullptr, 1024 - 7 - 3 - 1},        /* work area: "CONFIG", "ID", terminator */
      {Encoding::Utf16, &long_key16, 511 - 101}, /* the piece holds the key, "=" and 410 units */
      {Encoding::Gbk, &long_key16, 1024 - 7 - 101 - 1},  /* the same with the long key */
  };
  for (const Case& c : cases) {
    const bool long_one = c.key != nullptr;
    SCOPED_TRACE(std::string(fixture::name_of(c.e)) + (long_one ? " long key" : " short key"));
    const std::string key = long_one ? long_key : "ID";
    root.write("config.ini", fixture::file_bytes(c.e, "[CONFIG]\r\n" + key + "=" + value + "\r\n"));
    fixture::WString key16 = long_one ? *c.key : TEXT("ID");
    int n = ini_read_string(TEXT("CONFIG"), key16.c_str(), NULL, buffer.data(), 2000, path.c_str());
    EXPECT_EQ(c.expected, n);
    EXPECT_EQ(std::string((size_t)c.expected, 'v'), u8(buffer.data()));
  }
  /* A UTF-16 value never exceeds 511 units, whatever the buffer. */
  root.write("config.ini", fixture::file_bytes(Encoding::Utf16, "[CONFIG]\r\nID=" + std::string(600, 'v')));
  EXPECT_LE(ini_read_string(TEXT("CONFIG"), TEXT("ID"), NULL, buffer.data(), 2000, path.c_str()), 511);
}

TEST(IniReadString, LongPhysicalLineIsReadAsSeveralLines) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  for (Encoding e : kEncodings) {
    SCOPED_TRACE(fixture::name_of(e));
    const size_t piece = e == Encoding::Utf16 ? 511 : 1023;
    /* The filler fills the first piece exactly, so the second piece of the
     * physical line starts with the key. */
    root.write("config.ini", fixture::file_bytes(e, "[CONFIG]\r\n" + std::string(piece, 'a') + "ID=7\r\n"));
    WCHAR buffer[16];
    EXPECT_EQ(1, ini_read_string(TEXT("CONFIG"), TEXT("ID"), NULL, buffer, 16, path.c_str()));
    EXPECT_EQ("7", u8(buffer));
    /* One unit less and the key stays inside the first piece's text. */
    root.write("config.ini", fixture::file_bytes(e, "[CONFIG]\r\n" + std::string(piece - 1, 'a') + "ID=7\r\n"));
    EXPECT_EQ(0, ini_read_string(TEXT("CONFIG"), TEXT("ID"), NULL, buffer, 16, path.c_str()));
  }
}

TEST(IniReadInt, DecimalConversionAndDefault) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  struct Case {
    const char* line;
    int expected;
  } cases[] = {
      {"ID=-7x", -7},  {"ID=abc", 0},     {"ID=42", 42},   {"ID=+15", 15},
      {"ID=\t 8", 8},  {"ID=0012", 12},   {"ID=- 3", 0},   {"ID=2147483647", 2147483647},
      {"ID=", 99},     {"OTHER=1", 99},
  };
  for (Encoding e : kEncodings) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(fixture::name_of(e)) + ": " + c.line);
      root.write("config.ini", fixture::file_bytes(e, std::string("[CONFIG]\r\n") + c.line + "\r\n"));
      EXPECT_EQ(c.expected, ini_read_int(TEXT("CONFIG"), TEXT("ID"), 99, path.c_str()));
    }
  }
  EXPECT_EQ(99, ini_read_int(TEXT("CONFIG"), TEXT("ID"), 99, TEXT("\\missing.ini")));
  EXPECT_EQ(99, ini_read_int(TEXT("CONFIG"), TEXT("ID"), 99, NULL));
  EXPECT_EQ(99, ini_read_int(NULL, TEXT("ID"), 99, path.c_str()));
}

TEST(IniLookupValue, StringsAndCodes) {
#ifdef _WIN32
  /* The desktop CRT decodes 8-bit text-mode reads in its locale's code page,
   * the device's in its ANSI code page: here that is the same one. */
  setlocale(LC_CTYPE, ".936");
#endif
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  struct Case {
    const char* what;
    const char* text;
    const char* key;
    int code;
    const char* expected;
  } cases[] = {
      {"path without its line end", "[CONFIG]\r\nNAVI1=\\sdmmc\\Navi\\Navi.exe\r\nNAVI2=x\r\n", "NAVI1", 0,
       "\\sdmmc\\Navi\\Navi.exe"},
      {"last line without line end", "[CONFIG]\r\nALARM=\\a.exe", "ALARM", 0, "\\a.exe"},
      {"Chinese path", "[CONFIG]\r\nALARM=\\地图\\闹钟.exe\r\n", "ALARM", 0, "\\地图\\闹钟.exe"},
      {"lone carriage return kept", "[CONFIG]\r\nALARM=a\rb\r\n", "ALARM", 0, "a\rb"},
      {"nothing trimmed after =", "[CONFIG]\r\nNAVI1= x \r\n", "NAVI1", 0, " x "},
      {"empty string value", "[CONFIG]\r\nNAVI1=\r\n", "NAVI1", 0, ""},
      {"text after the header's bracket", "[CONFIG] x\r\nNAVI1=p\r\n", "NAVI1", 0, "p"},
      {"comment lines skipped", ";[CONFIG]\r\n[CONFIG]\r\n;NAVI1=c\r\nNAVI1=p\r\n", "NAVI1", 0, "p"},
      {"space before =", "[CONFIG]\r\nNAVI1 =p\r\n", "NAVI1", -30, ""},
      {"leading space", "[CONFIG]\r\n NAVI1=p\r\n", "NAVI1", -30, ""},
      {"key is a prefix of another", "[CONFIG]\r\nNAVI1=p\r\n", "NAVI", -30, ""},
      {"next header ends the section", "[CONFIG]\r\n[OTHER]\r\nNAVI1=p\r\n", "NAVI1", -30, ""},
      {"any [ line ends the section", "[CONFIG]\r\n[x\r\nNAVI1=p\r\n", "NAVI1", -30, ""},
      {"end of file in the section", "[CONFIG]\r\nA=1\r\n", "NAVI1", -30, ""},
      {"no section", "[OTHER]\r\nNAVI1=p\r\n", "NAVI1", -20, ""},
      {"header is a longer name", "[CONFIGX]\r\nNAVI1=p\r\n", "NAVI1", -20, ""},
      {"indented header", " [CONFIG]\r\nNAVI1=p\r\n", "NAVI1", -20, ""},
      {"empty file", "", "NAVI1", -20, ""},
  };
  /* The same in both encodings of a device file. */
  for (fixture::Encoding e : {fixture::Encoding::Gbk, fixture::Encoding::Utf16}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(fixture::name_of(e)) + ": " + c.what);
      root.write("config.ini", fixture::file_bytes(e, c.text));
      fixture::WString key = fixture::wide(c.key);
      WCHAR out[260];
      out[0] = 0;
      EXPECT_EQ(c.code, ini_lookup_value(path.c_str(), TEXT("CONFIG"), key.c_str(), out, 260, INI_VALUE_STRING));
      if (c.code == 0) {
        EXPECT_EQ(c.expected, u8(out));
      }
    }
  }
}

TEST(IniLookupValue, NumbersAndArguments) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  root.write("config.ini", "[CONFIG]\r\nN=42x\r\nM=-3\r\nD=3.25\r\nS=abc\r\nE=");
  int number = 7;
  double real = 7;
  EXPECT_EQ(0, ini_lookup_value(path.c_str(), TEXT("CONFIG"), TEXT("N"), &number, 1, INI_VALUE_INT));
  EXPECT_EQ(42, number);
  EXPECT_EQ(0, ini_lookup_value(path.c_str(), TEXT("CONFIG"), TEXT("M"), &number, 1, INI_VALUE_INT));
  EXPECT_EQ(-3, number);
  EXPECT_EQ(0, ini_lookup_value(path.c_str(), TEXT("CONFIG"), TEXT("S"), &number, 1, INI_VALUE_INT));
  EXPECT_EQ(0, number);
  EXPECT_EQ(0, ini_lookup_value(path.c_str(), TEXT("CONFIG"), TEXT("D"), &real, 1, INI_VALUE_DOUBLE));
  EXPECT_DOUBLE_EQ(3.25, real);
  number = 7;
  real = 7;
  EXPECT_EQ(-40, ini_lookup_value(path.c_str(), TEXT("CONFIG"), TEXT("E"), &number, 1, INI_VALUE_INT));
  EXPECT_EQ(-40, ini_lookup_value(path.c_str(), TEXT("CONFIG"), TEXT("E"), &real, 1, INI_VALUE_DOUBLE));
  EXPECT_EQ(7, number);
  EXPECT_EQ(7.0, real);

  WCHAR out[8];
  EXPECT_EQ(-1, ini_lookup_value(NULL, TEXT("CONFIG"), TEXT("N"), out, 8, 0));
  EXPECT_EQ(-1, ini_lookup_value(path.c_str(), NULL, TEXT("N"), out, 8, 0));
  EXPECT_EQ(-1, ini_lookup_value(path.c_str(), TEXT("CONFIG"), NULL, out, 8, 0));
  EXPECT_EQ(-1, ini_lookup_value(path.c_str(), TEXT("CONFIG"), TEXT("N"), NULL, 8, 0));
  EXPECT_EQ(-1, ini_lookup_value(path.c_str(), TEXT("CONFIG"), TEXT("N"), out, 0, 0));
  EXPECT_EQ(-1, ini_lookup_value(path.c_str(), TEXT("CONFIG"), TEXT("N"), out, -5, 0));
  EXPECT_EQ(-10, ini_lookup_value(TEXT("\\missing.ini"), TEXT("CONFIG"), TEXT("N"), out, 8, 0));
}

/* A value longer than the buffer is cut to count-1 characters and terminated
 * inside the buffer; nothing is written past it. */
TEST(IniLookupValue, LongStringStaysInsideTheBuffer) {
  DeviceRoot root;
  const fixture::WString path = DeviceRoot::device("config.ini");
  root.write("config.ini", "[CONFIG]\r\nNAVI1=abcdefgh\r\n");
  WCHAR out[6];
  for (WCHAR& w : out) w = TEXT('#');
  EXPECT_EQ(0, ini_lookup_value(path.c_str(), TEXT("CONFIG"), TEXT("NAVI1"), out, 5, INI_VALUE_STRING));
  EXPECT_EQ(TEXT("abcd"), fixture::WString(out));
  EXPECT_EQ(TEXT('#'), out[5]);
}

}  // namespace
