/* The REGEDIT4 import: headers, key lines, the value kinds, key and value
 * deletion, ignored lines, and the failing lines with their message box.
 * Registry results are read back with RegQueryValueExW. */
#include <gtest/gtest.h>

#include "installer_fixture.h"
#include "known_difference.h"
#include "reg_import.h"

using namespace fixture;

namespace {

const std::string kHeader = "REGEDIT4\r\n";
const std::string kKeyLine = "[HKEY_LOCAL_MACHINE\\Software\\VelmarInstallerTest]\r\n";
const std::string kKey = "Software\\VelmarInstallerTest";

class RegImport : public ::testing::Test {
 protected:
  /* Writes the file and imports it. */
  int import(const std::string& bytes, const std::string& name = "import.reg") {
    root_.write(name, bytes);
    return import_reg_file(root_.device(name).c_str());
  }

  DeviceRoot root_;
  RegistryScope registry_;
};

/* A string value, stored without a terminator: Windows CE (and the host)
 * keep the bytes given; desktop Windows counts the zero that follows them. */
void expect_string(const Value& v, const std::string& bytes, const std::string& where) {
  ASSERT_TRUE(v.found) << where;
  EXPECT_EQ(v.type, (DWORD)REG_SZ) << where;
  if (bytes.empty()) {
    EXPECT_EQ(v.bytes, "") << where; /* desktop Windows adds nothing to an empty value */
    return;
  }
  KNOWN_HOST_DIFFERENCE_EQ(
      "Windows CE stores a string value's bytes as given; desktop Windows adds a terminator "
      "that follows them in memory",
      hex(v.bytes), hex(bytes), hex(bytes + std::string(2, '\0')));
}

std::string dword_bytes(DWORD v) {
  return std::string{(char)(v & 0xFF), (char)((v >> 8) & 0xFF), (char)((v >> 16) & 0xFF),
                     (char)((v >> 24) & 0xFF)};
}

TEST(RegRootFromName, PrefixesSelectTheFirstRootInOrder) {
  struct Case {
    const char* text;
    HKEY root;
  } cases[] = {
      {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {"HKEY_LOCAL", HKEY_LOCAL_MACHINE},
      {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
      {"HKEY_USERS", HKEY_USERS},
      {"HKEY_C", HKEY_CLASSES_ROOT},      /* CLASSES_ROOT is tried before CURRENT_USER */
      {"HKEY_CU", HKEY_CURRENT_USER},
      {"", HKEY_CLASSES_ROOT},            /* an empty root matches the first name */
      {"HKEY_LOCAL_MACHINE_", nullptr},   /* longer than every name */
      {"hkey_local_machine", nullptr},    /* the comparison keeps case */
      {"HKLM", nullptr},
  };
  for (const Case& c : cases)
    EXPECT_EQ(reg_root_from_name(c.text, (int)strlen(c.text)), c.root) << "'" << c.text << "'";
  /* Only the given length counts. */
  EXPECT_EQ(reg_root_from_name("HKEY_USERS\\Software", 10), HKEY_USERS);
}

TEST_F(RegImport, ValueKindsAreStoredAsTheFileSaysThem) {
  struct Case {
    const char* line;
    const char* name;
    DWORD type;
    std::string bytes; /* of a REG_SZ value: its text */
  } cases[] = {
      {"\"Port\"=dword:0000000A\r\n", "Port", REG_DWORD, dword_bytes(10)},
      {"\"Mixed\"=dword:DEADbeef\r\n", "Mixed", REG_DWORD, dword_bytes(0xDEADBEEF)},
      {"\"Short\"=dword:123456\r\n", "Short", REG_DWORD, dword_bytes(0x123456)},
      {"\"One\"=dword:1\r\n", "One", REG_DWORD, dword_bytes(1)},
      {"\"Blanks\"=dword:0000000a \t\r\n", "Blanks", REG_DWORD, dword_bytes(10)},
      {"\"Blob\"=hex:01,ff\r\n", "Blob", REG_BINARY, std::string("\x01\xff", 2)},
      {"\"Byte\"=hex:7e\r\n", "Byte", REG_BINARY, std::string("\x7e", 1)},
      {"\"Digits\"=hex:1,2,3\r\n", "Digits", REG_BINARY, std::string("\x01\x02\x03", 3)},
      {"\"None\"=hex:\r\n", "None", REG_BINARY, std::string()},
      {"\"Bare\"=hex:0a,0B\n", "Bare", REG_BINARY, std::string("\x0a\x0b", 2)}, /* LF only */
      {"\"Path\"=\"C:\\\\Program Files\\\\x\"\r\n", "Path", REG_SZ, "C:\\Program Files\\x"},
      {"\"Quote\"=\"a\\\"b\"\r\n", "Quote", REG_SZ, "a"},
      {"\"Lone\"=\"a\\nb\"\r\n", "Lone", REG_SZ, "anb"},
      {"\"Empty\"=\"\"\r\n", "Empty", REG_SZ, ""},
      {"\"With space\"=\"v\"\r\n", "With space", REG_SZ, "v"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(import(kHeader + kKeyLine + c.line), 0) << c.line;
    Value v = query(HKEY_LOCAL_MACHINE, kKey, c.name);
    if (c.type == REG_SZ) {
      expect_string(v, utf16_bytes(c.bytes), c.line);
      continue;
    }
    ASSERT_TRUE(v.found) << c.line;
    EXPECT_EQ(v.type, c.type) << c.line;
    EXPECT_EQ(hex(v.bytes), hex(c.bytes)) << c.line;
  }
  EXPECT_TRUE(boxes().empty());
}

TEST_F(RegImport, StringBytesAreWidenedWithSignExtension) {
  ASSERT_EQ(import(kHeader + kKeyLine + "\"High\"=\"A\xe9\"\r\n"), 0);
  Value v = query(HKEY_LOCAL_MACHINE, kKey, "High");
  expect_string(v, std::string("\x41\x00\xe9\xff", 4), "High");
}

TEST_F(RegImport, LongStringIsStoredInFull) {
  std::string text(1000, 's');
  ASSERT_EQ(import(kHeader + kKeyLine + "\"Big\"=\"" + text + "\"\r\n"), 0);
  expect_string(query(HKEY_LOCAL_MACHINE, kKey, "Big"), utf16_bytes(text), "Big");
}

/* A binary value as an exporter writes it: "name"=hex: and the bytes, each
 * line but the last ending in ",\", the rest on lines indented by two
 * spaces, about 80 characters a line. */
std::string wrapped_binary(const std::string& name, const std::string& bytes, const std::string& eol) {
  static const char digits[] = "0123456789abcdef";
  std::string out = "\"" + name + "\"=hex:", line_so_far = out;
  for (size_t i = 0; i < bytes.size(); i++) {
    std::string item;
    item += digits[(unsigned char)bytes[i] >> 4];
    item += digits[(unsigned char)bytes[i] & 15];
    if (i + 1 < bytes.size()) item += ",";
    if (line_so_far.size() + item.size() > 77 && i + 1 < bytes.size()) {
      out += "\\" + eol + "  ";
      line_so_far = "  ";
    }
    out += item;
    line_so_far += item;
  }
  return out + eol;
}

TEST_F(RegImport, WrappedBinaryValuesAreReadWhole) {
  struct Case {
    size_t size;
    const char* eol;
  } cases[] = {{27, "\r\n"}, {300, "\r\n"}, {4000, "\r\n"}, {27, "\n"}, {300, "\n"}};
  for (const Case& c : cases) {
    std::string bytes;
    for (size_t i = 0; i < c.size; i++) bytes += (char)(i * 37 + 11);
    std::string eol = c.eol;
    std::string value = wrapped_binary("Blob", bytes, eol);
    ASSERT_NE(value.find("\\" + eol + "  "), std::string::npos) << c.size; /* really wrapped */
    std::string file = kHeader + "; exported" + eol + kKeyLine.substr(0, kKeyLine.size() - 2) + eol +
                       value + "\"After\"=dword:00000001" + eol;
    std::string where = std::to_string(c.size) + (eol == "\n" ? " LF" : " CR LF");
    ASSERT_EQ(import(file), 0) << where;
    Value v = query(HKEY_LOCAL_MACHINE, kKey, "Blob");
    ASSERT_TRUE(v.found) << where;
    EXPECT_EQ(v.type, (DWORD)REG_BINARY) << where;
    EXPECT_EQ(hex(v.bytes), hex(bytes)) << where;
    /* The line after the value is a line of its own. */
    EXPECT_EQ(hex(query(HKEY_LOCAL_MACHINE, kKey, "After").bytes), hex(dword_bytes(1))) << where;
  }
  /* Continuation lines may be indented by tabs too, and split anywhere. */
  ASSERT_EQ(import(kHeader + kKeyLine + "\"Split\"=hex:01,0\\\r\n\t \t2,03\\\r\n,04\r\n"), 0);
  EXPECT_EQ(hex(query(HKEY_LOCAL_MACHINE, kKey, "Split").bytes), "01 02 03 04");
  EXPECT_TRUE(boxes().empty());
}

TEST_F(RegImport, ValueDeletionAndKeyDeletion) {
  ASSERT_EQ(import(kHeader + kKeyLine + "\"Gone\"=dword:00000001\r\n\"Kept\"=dword:00000002\r\n"), 0);
  ASSERT_EQ(import(kHeader + kKeyLine + "\"Gone\"=-\r\n"), 0);
  EXPECT_FALSE(query(HKEY_LOCAL_MACHINE, kKey, "Gone").found);
  EXPECT_TRUE(query(HKEY_LOCAL_MACHINE, kKey, "Kept").found);

  create_key(HKEY_CURRENT_USER, kKey + "\\Demo");
  const std::string del = "[-HKEY_CURRENT_USER\\Software\\VelmarInstallerTest\\Demo]\r\n";
  ASSERT_EQ(import(kHeader + del, "del.reg"), 0);
  EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, kKey + "\\Demo"));
  EXPECT_TRUE(key_exists(HKEY_CURRENT_USER, kKey));
  EXPECT_TRUE(boxes().empty());

  /* Run again: the key is missing, which fails with the line shown. */
  EXPECT_EQ(import(kHeader + del, "sub/del.reg"), -1);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, del);
  EXPECT_EQ(boxes()[0].title, "del.reg");
  EXPECT_EQ(boxes()[0].type, (UINT)MB_ICONERROR);
}

TEST_F(RegImport, KeyDeletionWithOneBackslashDeletesUnderTheRoot) {
  /* The leaf is the whole key path; the parent is the root itself. */
  EXPECT_EQ(reg_delete_key_line("[-HKEY_CURRENT_USER\\VelmarInstallerLeaf]", 40),
            ERROR_FILE_NOT_FOUND);
  create_key(HKEY_CURRENT_USER, "VelmarInstallerLeaf");
  EXPECT_EQ(reg_delete_key_line("[-HKEY_CURRENT_USER\\VelmarInstallerLeaf]", 40), 0);
  EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, "VelmarInstallerLeaf"));
}

TEST_F(RegImport, HeaderMustBeExact) {
  struct Case {
    std::string bytes;
    int result;
  } cases[] = {
      {"", 0},                                 /* an empty file does nothing */
      {kHeader, 0},                            /* only the header */
      {"REGEDIT4\n" + kKeyLine, -1},           /* bare line feed */
      {"REGEDIT4 \r\n" + kKeyLine, -1},        /* trailing blank */
      {"regedit4\r\n" + kKeyLine, -1},
      {"Windows Registry Editor Version 5.00\r\n" + kKeyLine, -1},
      {std::string("\xff\xfeR\0E\0G\0E\0D\0I\0T\0""4\0\r\0\n\0", 22), -1}, /* UTF-16 */
  };
  for (const Case& c : cases) {
    EXPECT_EQ(import(c.bytes), c.result) << hex(c.bytes);
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, kKey)) << hex(c.bytes);
  }
  EXPECT_TRUE(boxes().empty());
  EXPECT_EQ(import_reg_file(nullptr), -1);
  EXPECT_EQ(import_reg_file(root_.device("missing.reg").c_str()), -1);
}

TEST_F(RegImport, LinesThatAreNotAppliedAreIgnored) {
  std::string file = kHeader +
                     "\"Early\"=dword:00000001\r\n"      /* before any key line */
                     "\r\n"
                     "; a comment\r\n"
                     "; a comment that ends in a backslash \\\r\n"
                     "\"AfterComment\"=dword:00000003\r\n" +
                     kKeyLine +
                     "@=\"default\"\r\n"
                     "  01,02,03\r\n"                   /* a continuation line */
                     "\"Late\"=dword:00000002\r\n"
                     "Garbage=1\r\n";
  ASSERT_EQ(import(file), 0);
  EXPECT_FALSE(query(HKEY_LOCAL_MACHINE, kKey, "Early").found);
  EXPECT_FALSE(query(HKEY_LOCAL_MACHINE, kKey, "AfterComment").found); /* before the key line */
  EXPECT_FALSE(query(HKEY_LOCAL_MACHINE, kKey, "").found);
  EXPECT_EQ(hex(query(HKEY_LOCAL_MACHINE, kKey, "Late").bytes), hex(dword_bytes(2)));
  EXPECT_TRUE(boxes().empty());
}

TEST_F(RegImport, KeyLinesSwitchTheCurrentKey) {
  ASSERT_EQ(import(kHeader + "[HKEY_LOCAL_MACHINE\\Software\\VelmarInstallerTest\\A]\r\n\"V\"=\"a\"\r\n" +
                   "[HKEY_CURRENT_USER\\Software\\VelmarInstallerTest\\B\\C]\r\n\"V\"=\"c\"\r\n"),
            0);
  expect_string(query(HKEY_LOCAL_MACHINE, kKey + "\\A", "V"), utf16_bytes("a"), "A");
  expect_string(query(HKEY_CURRENT_USER, kKey + "\\B\\C", "V"), utf16_bytes("c"), "B\\C");
}

TEST_F(RegImport, LongLinesAreNotSplit) {
  /* A comment past 260 bytes stays one comment: what follows in it is not a
   * value line. An unwrapped list of 1000 bytes is one value. */
  std::string comment = ";" + std::string(300, 'x') + "\"Split\"=dword:00000007\r\n";
  std::string list = "00";
  for (int i = 1; i < 1000; i++) list += ",11";
  ASSERT_EQ(import(kHeader + kKeyLine + comment + "\"Unwrapped\"=hex:" + list + "\r\n"), 0);
  EXPECT_FALSE(query(HKEY_LOCAL_MACHINE, kKey, "Split").found);
  EXPECT_EQ(query(HKEY_LOCAL_MACHINE, kKey, "Unwrapped").bytes.size(), 1000u);
}

TEST_F(RegImport, FailingLineStopsTheImportAndKeepsEarlierChanges) {
  const char* bad_lines[] = {
      "[HKEY_LOCAL_MACHINE]\r\n",                                   /* no backslash */
      "[HKEY_LOCAL_MACHINE\\Software\\VelmarInstallerTest\r\n",     /* no ] */
      "[HKEY_NOWHERE\\Software\\VelmarInstallerTest]\r\n",          /* unknown root */
      "[-HKEY_CURRENT_USER]\r\n",
      "[-HKEY_CURRENT_USER\\Software\\VelmarInstallerTest\\Missing]\r\n",
      "\"Expand\"=hex(2):25,00,00,00\r\n",
      "\"Multi\"=hex(7):41,00,00,00\r\n",
      "\"Blank\" = \"x\"\r\n",
      "\"Open\"=\"no closing quote\r\n",
      "\"Word\"=dword 00000001\r\n",
      "\"Unclosed name=dword:00000001\r\n",
      "\"Bad\"=dword:zz\r\n",
      "\"Bad\"=dword:\r\n",
      "\"Bad\"=dword:123456789\r\n",
      "\"Bad\"=dword:1 2\r\n",
      "\"Bad\"=hex:01,0g\r\n",
      "\"Bad\"=hex:01,123\r\n",
      "\"Bad\"=hex:01,,02\r\n",
      "\"Bad\"=hex:01,02,\r\n",
      "\"Bad\"=hex:,01\r\n",
      "\"Bad\"=hex:01 02\r\n",
      "\"Bad\"=hex:01,\\\r\n  ,02\r\n", /* an empty entry across the wrap */
      "\"Bad\"=\"unterminated\\\r\n  still open\r\n",
      "\"Bad\"=qword:0000000000000001\r\n",
  };
  for (const char* bad : bad_lines) {
    RegistryScope::clean();
    boxes().clear();
    std::string file = kHeader + kKeyLine + "\"Before\"=dword:00000001\r\n" + bad + kKeyLine +
                       "\"After\"=dword:00000002\r\n";
    EXPECT_EQ(import(file, "pkg/bad.reg"), -1) << bad;
    EXPECT_TRUE(query(HKEY_LOCAL_MACHINE, kKey, "Before").found) << bad;
    EXPECT_FALSE(query(HKEY_LOCAL_MACHINE, kKey, "After").found) << bad;
    EXPECT_FALSE(query(HKEY_LOCAL_MACHINE, kKey, "Bad").found) << bad; /* nothing stored */
    ASSERT_EQ(boxes().size(), 1u) << bad;
    EXPECT_EQ(boxes()[0].text, bad);
    EXPECT_EQ(boxes()[0].title, "bad.reg");
    EXPECT_EQ(boxes()[0].type, (UINT)MB_ICONERROR);
  }
}

TEST_F(RegImport, LineFunctionsReadNothingPastTheGivenSize) {
  HKEY key = reg_open_key_line("[HKEY_LOCAL_MACHINE\\Software\\VelmarInstallerTest]", 49);
  ASSERT_NE(key, nullptr);
  /* The bytes after size would make other digits and a longer list. */
  const char dword_line[] = "\"D\"=dword:12FFFFFF";
  EXPECT_EQ(reg_set_value_line(key, dword_line, 12), 0);
  const char hex_line[] = "\"H\"=hex:ab,cd,ef";
  EXPECT_EQ(reg_set_value_line(key, hex_line, 13), 0);
  const char string_line[] = "\"S\"=\"abc\"";
  EXPECT_EQ(reg_set_value_line(key, string_line, 8), -1); /* the closing quote is past size */
  RegCloseKey(key);
  EXPECT_EQ(hex(query(HKEY_LOCAL_MACHINE, kKey, "D").bytes), hex(dword_bytes(0x12)));
  EXPECT_EQ(hex(query(HKEY_LOCAL_MACHINE, kKey, "H").bytes), "ab cd");
  EXPECT_FALSE(query(HKEY_LOCAL_MACHINE, kKey, "S").found);

  /* The key path ends before the "]" that lies past length. */
  EXPECT_EQ(reg_open_key_line("[HKEY_LOCAL_MACHINE\\Software\\X]", 30), nullptr);
  EXPECT_EQ(reg_delete_key_line("[-HKEY_CURRENT_USER\\Software\\X]", 30), -1);
}

}  // namespace
