/* C streams opened by device path, with the CRT's rules: the open modes, text
 * mode's line-end translation both ways and its Ctrl-Z end, raw positions
 * from ftell and fseek, and the wide stream calls in binary mode (UTF-16LE
 * units) and text mode (multibyte characters of the ANSI code page, 936). */
#include <gtest/gtest.h>
#include <windows.h>

#include <errno.h>
#include <locale.h>

#include <string>

#ifndef _WIN32
#include <stdlib.h>

#include <filesystem>

#include "plat/host.h"
#endif

#include "known_difference.h"
#include "temp_folder.h"

namespace {

typedef std::basic_string<WCHAR> wstring;

std::string printable(const std::string& bytes) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += (char)c;
    } else {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

using known_difference::on_wine_as_root;

std::string narrow(const wstring& s) {
  std::string out;
  for (WCHAR c : s) out += (c >= 0x20 && c < 0x7F) ? (char)c : '?';
  return out;
}

/* A fresh folder for each test (the device root on the host); the fixture's
 * own reads and writes go through the handle calls. */
class Streams : public ::testing::Test {
 public:
  void SetUp() override {
#ifdef _WIN32
    /* The CRT converts text-mode wide characters in its locale's code page:
     * here the device's ANSI code page. */
    setlocale(LC_CTYPE, ".936");
#endif
    ASSERT_TRUE(folder_.open("streams"));
  }
  void TearDown() override { folder_.close(); }

  wstring path(const WCHAR* relative) const { return folder_.path(relative); }
  void write(const WCHAR* relative, const std::string& bytes) { ASSERT_TRUE(folder_.write(relative, bytes)); }
  std::string read(const WCHAR* relative) { return folder_.read(relative); }

  FILE* open(const WCHAR* relative, const WCHAR* mode) { return _wfopen(path(relative).c_str(), mode); }

  /* Everything a stream gives until its end. */
  static std::string rest(FILE* f) {
    std::string out;
    char chunk[1000];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, n);
    return out;
  }

  test_support::TempFolder folder_;
};

TEST_F(Streams, OpenModes) {
  struct Case {
    const WCHAR* mode;
    bool exists;       /* the file holds "old" before */
    int error;         /* 0: opens; else the errno of the failure */
    const char* reads; /* the first line read at the start; null: nothing */
    const char* after; /* the file after writing "x" at the start */
  } cases[] = {
      {TEXT("r"), true, 0, "old", "old"},
      {TEXT("rb"), true, 0, "old", "old"},
      {TEXT("r"), false, ENOENT, nullptr, "<missing>"},
      {TEXT("r+"), true, 0, "old", "xld"},
      {TEXT("rb+"), true, 0, "old", "xld"},
      {TEXT("rb+"), false, ENOENT, nullptr, "<missing>"},
      {TEXT("w"), true, 0, nullptr, "x"},
      {TEXT("wb"), false, 0, nullptr, "x"},
      {TEXT("w+"), true, 0, nullptr, "x"},
      {TEXT("wb+"), true, 0, nullptr, "x"},
      {TEXT("a"), true, 0, nullptr, "oldx"},
      {TEXT("ab"), false, 0, nullptr, "x"},
      {TEXT("a+"), true, 0, "old", "oldx"},
      {TEXT("a+"), false, 0, nullptr, "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.mode) + (c.exists ? " on a file" : " on nothing"));
    _wremove(path(TEXT("m.txt")).c_str());
    if (c.exists) write(TEXT("m.txt"), "old");
    errno = 0;
    FILE* f = open(TEXT("m.txt"), c.mode);
    ASSERT_EQ(f != nullptr, c.error == 0);
    if (!f) {
      EXPECT_EQ(errno, c.error);
      EXPECT_EQ(read(TEXT("m.txt")), c.after);
      continue;
    }
    char line[16];
    const char* got = fgets(line, sizeof line, f);
    if (c.reads) {
      EXPECT_STREQ(got, c.reads);
    } else {
      EXPECT_EQ(got, nullptr);
    }
    clearerr(f);
    fseek(f, 0, SEEK_SET);
    fputs("x", f);
    fclose(f);
    EXPECT_EQ(read(TEXT("m.txt")), c.after);
  }
}

TEST_F(Streams, TextModeReadsLineEnds) {
  struct Case {
    std::string raw;
    std::string text;
  } cases[] = {
      {"path\r\n", "path\n"},
      {"a\r\nb\r\n", "a\nb\n"},
      {"a\rb\n", "a\rb\n"},
      {"a\r\r\nb", "a\r\nb"},
      {"a\r", "a\r"},
      {"\r\n\r\n", "\n\n"},
      {"a\nb", "a\nb"},
      {std::string("a\x1A" "b\r\n", 5), "a"}, /* Ctrl-Z ends the input */
      {std::string(4095, 'x') + "\r\ny", std::string(4095, 'x') + "\ny"},
      {std::string(4096, 'x') + "\r\n\r\n", std::string(4096, 'x') + "\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(printable(c.raw.substr(0, 40)));
    write(TEXT("t.txt"), c.raw);
    FILE* f = open(TEXT("t.txt"), TEXT("r"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(printable(rest(f)), printable(c.text));
    EXPECT_TRUE(feof(f));
    fclose(f);
    f = open(TEXT("t.txt"), TEXT("rb"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(printable(rest(f)), printable(c.raw)) << "binary mode reads the bytes as they are";
    fclose(f);
  }

  /* Lines come out of fgets with their "\n". */
  write(TEXT("t.txt"), "first\r\nsecond\r\n");
  FILE* f = open(TEXT("t.txt"), TEXT("r"));
  ASSERT_NE(f, nullptr);
  char line[32];
  EXPECT_STREQ(fgets(line, sizeof line, f), "first\n");
  EXPECT_STREQ(fgets(line, sizeof line, f), "second\n");
  EXPECT_EQ(fgets(line, sizeof line, f), nullptr);
  fclose(f);
}

TEST_F(Streams, TextModeWritesLineEnds) {
  struct Case {
    const WCHAR* mode;
    std::string text;
    std::string raw;
  } cases[] = {
      {TEXT("w"), "a\nb\n", "a\r\nb\r\n"},
      {TEXT("w"), "a\r\n", "a\r\r\n"}, /* every "\n", also one after "\r" */
      {TEXT("w"), "no end", "no end"},
      {TEXT("w+"), "\n\n", "\r\n\r\n"},
      {TEXT("w"), std::string(3000, '\n'), [] {
         std::string s;
         for (int i = 0; i < 3000; i++) s += "\r\n";
         return s;
       }()},
      {TEXT("wb"), "a\nb\r\n", "a\nb\r\n"},
      {TEXT("wb+"), "\n", "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.mode) + " " + printable(c.text.substr(0, 20)));
    FILE* f = open(TEXT("w.txt"), c.mode);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fwrite(c.text.data(), 1, c.text.size(), f), c.text.size());
    EXPECT_EQ(fclose(f), 0);
    EXPECT_EQ(printable(read(TEXT("w.txt"))), printable(c.raw));
  }

  /* A log line appended with "a+" and closed again, twice. */
  for (int i = 0; i < 2; i++) {
    FILE* f = open(TEXT("log.txt"), TEXT("a+"));
    ASSERT_NE(f, nullptr);
    fprintf(f, "line %d\n", i);
    fclose(f);
  }
  EXPECT_EQ(read(TEXT("log.txt")), "line 0\r\nline 1\r\n");
}

TEST_F(Streams, TextPositionsAreRawOffsets) {
  write(TEXT("p.txt"), "ab\r\ncd\r\nef");
  FILE* f = open(TEXT("p.txt"), TEXT("r"));
  ASSERT_NE(f, nullptr);
  struct Step {
    int c;        /* the character read */
    long after;   /* ftell after it */
  } steps[] = {{'a', 1}, {'b', 2}, {'\n', 4}, {'c', 5}, {'d', 6}, {'\n', 8}, {'e', 9}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.after);
    EXPECT_EQ(fgetc(f), s.c);
    EXPECT_EQ(ftell(f), s.after);
  }
  /* After a seek the positions stay raw. */
  ASSERT_EQ(fseek(f, 0, SEEK_SET), 0);
  char line[16];
  EXPECT_STREQ(fgets(line, sizeof line, f), "ab\n");
  EXPECT_EQ(ftell(f), 4);
  EXPECT_STREQ(fgets(line, sizeof line, f), "cd\n");
  EXPECT_EQ(ftell(f), 8);
  ASSERT_EQ(fseek(f, 0, SEEK_SET), 0);
  EXPECT_STREQ(fgets(line, sizeof line, f), "ab\n");
  ASSERT_EQ(fseek(f, 1, SEEK_CUR), 0) << "relative to the raw offset 4";
  EXPECT_EQ(fgetc(f), 'd');
  ASSERT_EQ(fseek(f, 4, SEEK_SET), 0);
  EXPECT_EQ(fgetc(f), 'c');
  ASSERT_EQ(fseek(f, -2, SEEK_END), 0);
  EXPECT_EQ(fgetc(f), 'e');
  EXPECT_EQ(ftell(f), 9);
  ASSERT_EQ(fseek(f, -1, SEEK_CUR), 0);
  EXPECT_EQ(fgetc(f), 'e');
  EXPECT_NE(fseek(f, -20, SEEK_CUR), 0);
  fclose(f);

  f = open(TEXT("p.txt"), TEXT("w"));
  ASSERT_NE(f, nullptr);
  fputs("a\nb", f);
  EXPECT_EQ(ftell(f), 4);
  fclose(f);
}

TEST_F(Streams, WideCharactersInBinaryMode) {
  /* FF FE, then "第一行\r\n二\n末" in UTF-16LE, then one stray byte. */
  const WCHAR text[] = TEXT("\x7B2C\x4E00\x884C\r\n\x4E8C\n\x672B");
  std::string raw = "\xFF\xFE";
  for (const WCHAR* p = text; *p; p++) {
    raw += (char)(*p & 0xFF);
    raw += (char)(*p >> 8);
  }
  raw += 'z';
  write(TEXT("u.txt"), raw);
  FILE* f = open(TEXT("u.txt"), TEXT("rb"));
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(fseek(f, 2, SEEK_SET), 0);
  struct Line {
    int count;
    const WCHAR* expected; /* null: fgetws fails */
  } lines[] = {
      {3, TEXT("\x7B2C\x4E00")},
      {64, TEXT("\x884C\r\n")},
      {64, TEXT("\x4E8C\n")},
      {64, TEXT("\x672B")},
      {64, nullptr},
  };
  for (const Line& l : lines) {
    SCOPED_TRACE(l.count);
    WCHAR buffer[64];
    WCHAR* got = fgetws(buffer, l.count, f);
    if (l.expected) {
      ASSERT_EQ(got, buffer);
      EXPECT_EQ(wstring(buffer), wstring(l.expected));
    } else {
      EXPECT_EQ(got, nullptr);
    }
  }
  fclose(f);

  f = open(TEXT("u.txt"), TEXT("rb"));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fgetwc(f), (wint_t)0xFEFF);
  EXPECT_EQ(fgetwc(f), (wint_t)0x7B2C);
  fclose(f);

  f = open(TEXT("o.txt"), TEXT("wb"));
  ASSERT_NE(f, nullptr);
  EXPECT_GE(fputws(TEXT("\x7B2C\n"), f), 0);
  EXPECT_EQ(fputwc(TEXT('A'), f), (wint_t)'A');
  fclose(f);
  EXPECT_EQ(printable(read(TEXT("o.txt"))), printable(std::string("\x2C\x7B\x0A\x00\x41\x00", 6)));
}

TEST_F(Streams, WideCharactersInTextMode) {
  /* "第一\r\nab\r\n" in code page 936. */
  write(TEXT("g.txt"), "\xB5\xDA\xD2\xBB\r\nab\r\n");
  FILE* f = open(TEXT("g.txt"), TEXT("r"));
  ASSERT_NE(f, nullptr);
  WCHAR buffer[32];
  ASSERT_NE(fgetws(buffer, 32, f), nullptr);
  EXPECT_EQ(wstring(buffer), wstring(TEXT("\x7B2C\x4E00\n")));
  EXPECT_EQ(fgetwc(f), (wint_t)'a');
  ASSERT_NE(fgetws(buffer, 32, f), nullptr);
  EXPECT_EQ(wstring(buffer), wstring(TEXT("b\n")));
  EXPECT_EQ(fgetws(buffer, 32, f), nullptr);
  EXPECT_EQ(fgetwc(f), WEOF);
  fclose(f);

  f = open(TEXT("o.txt"), TEXT("w"));
  ASSERT_NE(f, nullptr);
  EXPECT_GE(fputws(TEXT("\x7B2C\x4E00\n"), f), 0);
  EXPECT_EQ(fputwc(TEXT('z'), f), (wint_t)'z');
  fclose(f);
  EXPECT_EQ(printable(read(TEXT("o.txt"))), printable("\xB5\xDA\xD2\xBB\r\nz"));
}

TEST_F(Streams, RefusedOpens) {
  write(TEXT("ro.txt"), "keep");
  ASSERT_TRUE(SetFileAttributesW(path(TEXT("ro.txt")).c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateDirectoryW(path(TEXT("dir")).c_str(), NULL));
  struct Case {
    const WCHAR* name;
    const WCHAR* mode;
    int error; /* 0: opens */
    bool root_differs; /* the superuser writes read-only files */
  } cases[] = {
      {TEXT("ro.txt"), TEXT("r"), 0, false},
      {TEXT("ro.txt"), TEXT("rb+"), EACCES, true}, /* a read-only file does not open for update */
      {TEXT("ro.txt"), TEXT("w"), EACCES, true},
      {TEXT("ro.txt"), TEXT("a+"), EACCES, true},
      {TEXT("dir"), TEXT("r"), EACCES, false},
      {TEXT("none\\x.txt"), TEXT("w"), ENOENT, false},
      {TEXT("none\\x.txt"), TEXT("r"), ENOENT, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.name) + " " + narrow(c.mode));
    errno = 0;
    FILE* f = open(c.name, c.mode);
    const int error = errno;
    if (f) fclose(f);
    if (c.root_differs) {
      KNOWN_WINE_AS_ROOT_DIFFERENCE("Wine run as root opens a read-only file for writing", f != nullptr);
      if (on_wine_as_root()) continue;
    }
    EXPECT_EQ(f != nullptr, c.error == 0);
    if (!f) {
      EXPECT_EQ(error, c.error);
    }
  }
  if (!on_wine_as_root()) {
    EXPECT_EQ(read(TEXT("ro.txt")), "keep");
  }
  SetFileAttributesW(path(TEXT("ro.txt")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Streams, RemoveRenameAndMakeFolder) {
  write(TEXT("a.txt"), "A");
  write(TEXT("b.txt"), "B");
  struct Case {
    const char* what;
    int (*call)(const Streams* t);
    int error; /* 0: succeeds; -1: fails (errno not checked); else the errno of the failure */
  } cases[] = {
      {"make a folder", [](const Streams* t) { return _wmkdir(t->path(TEXT("dir")).c_str()); }, 0},
      {"make it again", [](const Streams* t) { return _wmkdir(t->path(TEXT("DIR")).c_str()); }, EEXIST},
      {"make one in a missing folder",
       [](const Streams* t) { return _wmkdir(t->path(TEXT("none\\sub")).c_str()); }, ENOENT},
      {"rename onto an existing file",
       [](const Streams* t) { return _wrename(t->path(TEXT("a.txt")).c_str(), t->path(TEXT("b.txt")).c_str()); },
       -1},
      {"rename a missing file",
       [](const Streams* t) { return _wrename(t->path(TEXT("none.txt")).c_str(), t->path(TEXT("c.txt")).c_str()); },
       ENOENT},
      {"remove a missing file", [](const Streams* t) { return _wremove(t->path(TEXT("none.txt")).c_str()); },
       ENOENT},
      {"rename into the folder",
       [](const Streams* t) {
         return _wrename(t->path(TEXT("a.txt")).c_str(), t->path(TEXT("dir\\a.txt")).c_str());
       },
       0},
      {"remove it under another spelling",
       [](const Streams* t) { return _wremove(t->path(TEXT("Dir\\A.TXT")).c_str()); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    errno = 0;
    int result = c.call(this);
    EXPECT_EQ(result, c.error == 0 ? 0 : -1);
    if (c.error > 0) {
      EXPECT_EQ(errno, c.error);
    }
  }
  EXPECT_EQ(read(TEXT("b.txt")), "B");
  EXPECT_EQ(read(TEXT("a.txt")), "<missing>");
  EXPECT_EQ(read(TEXT("dir\\a.txt")), "<missing>");
}

}  // namespace
