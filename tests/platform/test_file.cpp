/* Handle-based files: dispositions and their errors, reading, writing, seeking
 * and truncation, device paths matched case-insensitively, attributes, times,
 * searches, locks and the program's own path, as Win32 defines them. Error
 * codes are probed: the last error is set to a sentinel before each call. */
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "../../platform/src/file_internal.h"
#include "plat/host.h"
#endif

#include "known_difference.h"
#include "temp_folder.h"

namespace {

typedef std::basic_string<WCHAR> wstring;
const DWORD kSentinel = 0xBADC0DE;

using known_difference::on_wine;
using known_difference::on_wine_as_root;

std::string narrow(const wstring& s) {
  std::string out;
  for (WCHAR c : s) {
    if (c >= 0x20 && c < 0x7F) {
      out += (char)c;
    } else {
      static const char hex[] = "0123456789ABCDEF";
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += hex[(c >> shift) & 15];
    }
  }
  return out;
}

/* A fresh folder for each test: the device root on the host, a temporary
 * folder on Windows. Paths are given relative to it ("a\\b"). */
class Files : public ::testing::Test {
 public:
  void SetUp() override { ASSERT_TRUE(folder_.open("files")); }
  void TearDown() override { folder_.close(); }

  wstring path(const WCHAR* relative) const { return folder_.path(relative); }
  void write(const WCHAR* relative, const std::string& bytes) {
    ASSERT_TRUE(folder_.write(relative, bytes)) << narrow(relative);
  }
  std::string read(const WCHAR* relative) { return folder_.read(relative); }

  HANDLE open(const WCHAR* relative, DWORD access, DWORD disposition = OPEN_EXISTING) {
    return CreateFileW(path(relative).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       disposition, FILE_ATTRIBUTE_NORMAL, NULL);
  }

  test_support::TempFolder folder_;
};

TEST_F(Files, CreationDispositions) {
  struct Case {
    DWORD disposition;
    bool exists;
    bool opens;
    DWORD last_error;   /* the error of a failure; after success kSentinel = not checked */
    const char* after;  /* the file's content after the call ("abc" before, when it exists) */
  } cases[] = {
      {CREATE_NEW, false, true, kSentinel, ""},
      {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "abc"},
      {CREATE_ALWAYS, false, true, 0, ""},
      {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "<missing>"},
      {OPEN_EXISTING, true, true, kSentinel, "abc"},
      {OPEN_ALWAYS, false, true, 0, ""},
      {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "abc"},
      {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, "<missing>"},
      {TRUNCATE_EXISTING, true, true, kSentinel, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("disposition " + std::to_string(c.disposition) + (c.exists ? " on a file" : " on nothing"));
    DeleteFileW(path(TEXT("f.txt")).c_str());
    if (c.exists) write(TEXT("f.txt"), "abc");
    SetLastError(kSentinel);
    HANDLE h = open(TEXT("f.txt"), GENERIC_READ | GENERIC_WRITE, c.disposition);
    DWORD error = GetLastError();
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
    if (!c.opens || c.last_error != kSentinel) {
      EXPECT_EQ(error, c.last_error);
    }
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_EQ(read(TEXT("f.txt")), c.after);
  }
}

TEST_F(Files, OpenFailures) {
  ASSERT_TRUE(CreateDirectoryW(path(TEXT("dir")).c_str(), NULL));
  write(TEXT("ro.txt"), "keep");
  ASSERT_TRUE(SetFileAttributesW(path(TEXT("ro.txt")).c_str(), FILE_ATTRIBUTE_READONLY));
  write(TEXT("f.txt"), "f");
  struct Case {
    const WCHAR* name;
    DWORD access;
    DWORD disposition;
    DWORD error;
    bool root_differs; /* the superuser writes read-only files */
  } cases[] = {
      {TEXT("nodir\\f.txt"), GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND, false},
      {TEXT("nodir\\f.txt"), GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND, false},
      {TEXT("nodir\\f.txt"), GENERIC_WRITE, OPEN_ALWAYS, ERROR_PATH_NOT_FOUND, false},
      {TEXT("ro.txt\\f.txt"), GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND, false},
      {TEXT("ro.txt"), GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED, true},
      {TEXT("ro.txt"), GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED, true},
      {TEXT("ro.txt"), GENERIC_READ | GENERIC_WRITE, TRUNCATE_EXISTING, ERROR_ACCESS_DENIED, true},
      {TEXT("dir"), GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED, false},
      {TEXT("dir"), GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS, false},
      {TEXT("bad|name.txt"), GENERIC_WRITE, CREATE_ALWAYS, ERROR_INVALID_NAME, false},
      {TEXT("f.txt"), GENERIC_READ, 0, ERROR_INVALID_PARAMETER, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.name) + " disposition " + std::to_string(c.disposition));
    SetLastError(kSentinel);
    HANDLE h = open(c.name, c.access, c.disposition);
    if (c.root_differs) {
      KNOWN_WINE_AS_ROOT_DIFFERENCE("Wine run as root opens a read-only file for writing",
                                    h != INVALID_HANDLE_VALUE);
    }
    if (!c.root_differs || !on_wine_as_root()) {
      EXPECT_EQ(h, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), c.error);
    }
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  if (!on_wine_as_root()) {
    EXPECT_EQ(read(TEXT("ro.txt")), "keep");
  }
  EXPECT_EQ(read(TEXT("f.txt")), "f");
  SetFileAttributesW(path(TEXT("ro.txt")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Files, AccessOfTheHandle) {
  write(TEXT("f.txt"), "data");
  char buffer[8];
  DWORD n = 99;
  HANDLE reader = open(TEXT("f.txt"), GENERIC_READ);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  SetLastError(kSentinel);
  EXPECT_FALSE(WriteFile(reader, "x", 1, &n, NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(n, 0u);
  SetLastError(kSentinel);
  EXPECT_FALSE(SetEndOfFile(reader));
  KNOWN_WINE_DIFFERENCE_EQ("Wine refuses to truncate through a read handle with another code",
                           GetLastError(), (DWORD)ERROR_INVALID_PARAMETER, (DWORD)ERROR_ACCESS_DENIED);
  CloseHandle(reader);

  HANDLE writer = open(TEXT("f.txt"), GENERIC_WRITE);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  SetLastError(kSentinel);
  EXPECT_FALSE(ReadFile(writer, buffer, sizeof buffer, &n, NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  SetLastError(kSentinel);
  EXPECT_TRUE(FlushFileBuffers(writer));
  EXPECT_EQ(GetLastError(), kSentinel);
  CloseHandle(writer);

  SetLastError(kSentinel);
  EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buffer, sizeof buffer, &n, NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST_F(Files, ReadWriteSeekAndTruncate) {
  HANDLE h = open(TEXT("f.bin"), GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  SetLastError(kSentinel);
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, NULL));
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(GetLastError(), kSentinel);

  char buffer[32] = {0};
  SetLastError(kSentinel);
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &n, NULL)) << "reading at the end is success";
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(GetLastError(), kSentinel);

  struct Seek {
    LONG distance;
    bool with_high;
    LONG high;
    DWORD method;
    DWORD result;      /* the low part returned */
    LONG high_after;   /* with_high: the high part stored */
    DWORD error;       /* kSentinel: success */
  } seeks[] = {
      {6, false, 0, FILE_BEGIN, 6, 0, kSentinel},
      {-2, false, 0, FILE_CURRENT, 0, 0, kSentinel},
      {3, false, 0, FILE_CURRENT, 5, 0, kSentinel},
      {-3, false, 0, FILE_CURRENT, INVALID_SET_FILE_POINTER, 0, ERROR_NEGATIVE_SEEK},
      {-1, false, 0, FILE_END, 10, 0, kSentinel},
      {5, false, 0, FILE_END, 16, 0, kSentinel},  /* beyond the end is allowed */
      {-12, false, 0, FILE_END, INVALID_SET_FILE_POINTER, 0, ERROR_NEGATIVE_SEEK},
      {-1, false, 0, FILE_BEGIN, INVALID_SET_FILE_POINTER, 0, ERROR_NEGATIVE_SEEK},
      {5, true, 1, FILE_BEGIN, 5, 1, kSentinel},  /* 4 GiB + 5 */
      {-1, true, -1, FILE_END, 10, 0, kSentinel}, /* a 64-bit -1 */
      {0, true, -1, FILE_BEGIN, INVALID_SET_FILE_POINTER, -1, ERROR_NEGATIVE_SEEK},
      {3, false, 0, 7, INVALID_SET_FILE_POINTER, 0, ERROR_INVALID_PARAMETER},
  };
  for (const Seek& s : seeks) {
    SCOPED_TRACE("seek " + std::to_string(s.distance) + " high " + std::to_string(s.high) +
                 " method " + std::to_string(s.method));
    /* Each seek starts at 2; a failed one leaves the position there. */
    SetFilePointer(h, 2, NULL, FILE_BEGIN);
    LONG high = s.high;
    SetLastError(kSentinel);
    DWORD result = SetFilePointer(h, s.distance, s.with_high ? &high : NULL, s.method);
    EXPECT_EQ(result, s.result);
    EXPECT_EQ(GetLastError(), s.error);
    if (s.with_high) {
      EXPECT_EQ(high, s.high_after);
    }
    if (s.error != kSentinel) {
      EXPECT_EQ(SetFilePointer(h, 0, NULL, FILE_CURRENT), 2u);
    }
  }

  DWORD high = 7;
  EXPECT_EQ(GetFileSize(h, &high), 11u) << "seeking does not grow the file";
  EXPECT_EQ(high, 0u);

  /* Reading from the middle, and writing over it. */
  SetFilePointer(h, 6, NULL, FILE_BEGIN);
  ASSERT_TRUE(ReadFile(h, buffer, 3, &n, NULL));
  EXPECT_EQ(std::string(buffer, n), "wor");
  ASSERT_TRUE(WriteFile(h, "LD", 2, &n, NULL));
  EXPECT_EQ(SetFilePointer(h, 0, NULL, FILE_CURRENT), 11u);

  /* Truncation at the position, and growth with zeros. */
  SetFilePointer(h, 5, NULL, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, NULL), 5u);
  SetFilePointer(h, 8, NULL, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, NULL), 8u);
  ASSERT_TRUE(FlushFileBuffers(h));
  CloseHandle(h);
  EXPECT_EQ(read(TEXT("f.bin")), std::string("hello\0\0\0", 8));

  h = open(TEXT("f.bin"), GENERIC_READ);
  SetLastError(kSentinel);
  EXPECT_FALSE(FlushFileBuffers(h)) << "a handle that only reads has nothing to flush";
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  CloseHandle(h);
}

TEST_F(Files, PathsAreCaseInsensitive) {
  ASSERT_TRUE(CreateDirectoryW(path(TEXT("Residentflash2")).c_str(), NULL));
  write(TEXT("Residentflash2\\Config.INI"), "one");
  write(TEXT("Residentflash2\\\xC4rger.txt"), "two");          /* Ä */
  write(TEXT("Residentflash2\\\x0414\x0430.txt"), "three");    /* Да */
  struct Case {
    const WCHAR* name;
    const char* content;
  } cases[] = {
      {TEXT("residentflash2\\config.ini"), "one"},
      {TEXT("RESIDENTFLASH2\\CONFIG.INI"), "one"},
      {TEXT("ResidentFlash2/Config.ini"), "one"},
      {TEXT("residentflash2\\\\.\\config.ini"), "one"},
      {TEXT("residentflash2\\\xE4RGER.TXT"), "two"},               /* ä */
      {TEXT("residentflash2\\\x0434\x0410.txt"), "three"},         /* дА */
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.name));
    EXPECT_EQ(read(c.name), c.content);
    SetLastError(kSentinel);
    EXPECT_EQ(GetFileAttributesW(path(c.name).c_str()), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetLastError(), kSentinel);
  }

  /* A write under another spelling reaches the same file, and a new file
   * lands in the existing folder. */
  write(TEXT("RESIDENTFLASH2\\config.ini"), "four");
  EXPECT_EQ(read(TEXT("Residentflash2\\Config.INI")), "four");
  write(TEXT("residentflash2\\new.txt"), "five");
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(path(TEXT("*")).c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::vector<wstring> top;
  do {
    if (wstring(data.cFileName) != TEXT(".") && wstring(data.cFileName) != TEXT(".."))
      top.push_back(data.cFileName);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  EXPECT_EQ(top, std::vector<wstring>{TEXT("Residentflash2")});
  EXPECT_EQ(read(TEXT("Residentflash2\\new.txt")), "five");
}

#ifndef _WIN32
TEST_F(Files, HostPathsStayInsideTheDeviceRoot) {
  ASSERT_TRUE(CreateDirectoryW(u"\\Sdmmc", NULL));
  write(u"Sdmmc\\Debug.lev", "3");
  struct Case {
    const char16_t* device;
    const char* host; /* below the device root */
  } cases[] = {
      {u"sdmmc\\debug.lev", "/Sdmmc/Debug.lev"},
      {u"\\SDMMC\\DEBUG.LEV", "/Sdmmc/Debug.lev"},
      {u"/sdmmc/New File.txt", "/Sdmmc/New File.txt"}, /* a missing name keeps its spelling */
      {u"\\missing\\Sub\\x", "/missing/Sub/x"},
      {u"\\..\\..\\etc\\passwd", "/etc/passwd"},
      {u"\\sdmmc\\..\\..\\..\\x", "/x"},
      {u"\\.\\a\\.\\\\b\\", "/a/b"},
      {u"\\", ""},
      {u"..", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.device));
    EXPECT_EQ(plat::host_path(c.device), folder_.host_root() + c.host);
  }
  /* The same holds for the calls: ".." above the root is the root. */
  EXPECT_EQ(read(u"..\\..\\sdmmc\\debug.lev"), "3");
  plat::set_device_root("");
  EXPECT_EQ(plat::host_path(u"\\sdmmc\\debug.lev"), "") << "no device root, no host path";
  SetLastError(kSentinel);
  EXPECT_EQ(GetFileAttributesW(u"\\sdmmc\\debug.lev"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
}
#endif

TEST_F(Files, Attributes) {
  write(TEXT("f.txt"), "x");
  ASSERT_TRUE(CreateDirectoryW(path(TEXT("dir")).c_str(), NULL));
  struct Case {
    const WCHAR* name;
    DWORD set;       /* 0: do not set */
    DWORD expected;
  } cases[] = {
      {TEXT("f.txt"), 0, FILE_ATTRIBUTE_ARCHIVE},
      {TEXT("dir"), 0, FILE_ATTRIBUTE_DIRECTORY},
      {TEXT("f.txt"), FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
      {TEXT("f.txt"), FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY},
      {TEXT("f.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE,
       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
      {TEXT("f.txt"), FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
      {TEXT("f.txt"), FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE},
      {TEXT("dir"), FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.name) + " set " + std::to_string(c.set));
    SetLastError(kSentinel);
    if (c.set) {
      EXPECT_TRUE(SetFileAttributesW(path(c.name).c_str(), c.set));
    }
    DWORD got = GetFileAttributesW(path(c.name).c_str());
    const DWORD wine_value = (c.expected & ~(DWORD)FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_ARCHIVE;
    if ((c.expected & FILE_ATTRIBUTE_DIRECTORY) || wine_value == c.expected) {
      EXPECT_EQ(got, c.expected);
    } else {
      KNOWN_WINE_DIFFERENCE_EQ("Wine keeps no archive bit: every file has it", got, wine_value,
                               c.expected);
    }
    EXPECT_EQ(GetLastError(), kSentinel);
  }

  /* A read-only file cannot be deleted or replaced. */
  ASSERT_TRUE(SetFileAttributesW(path(TEXT("f.txt")).c_str(), FILE_ATTRIBUTE_READONLY));
  write(TEXT("g.txt"), "y");
  SetLastError(kSentinel);
  EXPECT_FALSE(DeleteFileW(path(TEXT("f.txt")).c_str()));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  SetLastError(kSentinel);
  BOOL replaced = MoveFileExW(path(TEXT("g.txt")).c_str(), path(TEXT("f.txt")).c_str(),
                              MOVEFILE_REPLACE_EXISTING);
  DWORD error = GetLastError();
  KNOWN_WINE_AS_ROOT_DIFFERENCE("Wine run as root replaces a read-only file", replaced);
  if (!on_wine_as_root()) {
    EXPECT_EQ(error, (DWORD)ERROR_ACCESS_DENIED);
  }
  ASSERT_TRUE(SetFileAttributesW(path(TEXT("f.txt")).c_str(), FILE_ATTRIBUTE_NORMAL));
  DeleteFileW(path(TEXT("f.txt")).c_str());
  EXPECT_EQ(GetFileAttributesW(path(TEXT("f.txt")).c_str()), INVALID_FILE_ATTRIBUTES);

  /* A new file made read-only at creation stays writable through its handle. */
  HANDLE h = CreateFileW(path(TEXT("new.txt")).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                         FILE_ATTRIBUTE_READONLY, NULL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "z", 1, &n, NULL));
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesW(path(TEXT("new.txt")).c_str()) & FILE_ATTRIBUTE_READONLY,
            (DWORD)FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(path(TEXT("new.txt")).c_str(), FILE_ATTRIBUTE_NORMAL);

  struct Missing {
    const WCHAR* name;
    DWORD error;
  } missing[] = {
      {TEXT("none.txt"), ERROR_FILE_NOT_FOUND},
      {TEXT("none\\f.txt"), ERROR_PATH_NOT_FOUND},
  };
  for (const Missing& m : missing) {
    SCOPED_TRACE(narrow(m.name));
    SetLastError(kSentinel);
    EXPECT_EQ(GetFileAttributesW(path(m.name).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), m.error);
    SetLastError(kSentinel);
    EXPECT_FALSE(SetFileAttributesW(path(m.name).c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), m.error);
  }
}

TEST_F(Files, DeleteMoveAndFolders) {
  write(TEXT("a.txt"), "A");
  write(TEXT("b.txt"), "B");
  ASSERT_TRUE(CreateDirectoryW(path(TEXT("dir")).c_str(), NULL));
  write(TEXT("dir\\inner.txt"), "I");

  struct Case {
    const char* what;
    BOOL (*call)(const Files* t);
    DWORD error; /* kSentinel: the call succeeds */
  } cases[] = {
      {"delete a missing file",
       [](const Files* t) { return DeleteFileW(t->path(TEXT("none.txt")).c_str()); }, ERROR_FILE_NOT_FOUND},
      {"delete in a missing folder",
       [](const Files* t) { return DeleteFileW(t->path(TEXT("none\\x.txt")).c_str()); }, ERROR_PATH_NOT_FOUND},
      {"move onto an existing file",
       [](const Files* t) { return MoveFileW(t->path(TEXT("a.txt")).c_str(), t->path(TEXT("b.txt")).c_str()); },
       ERROR_ALREADY_EXISTS},
      {"move without replacing",
       [](const Files* t) {
         return MoveFileExW(t->path(TEXT("a.txt")).c_str(), t->path(TEXT("B.TXT")).c_str(), 0);
       },
       ERROR_ALREADY_EXISTS},
      {"move a missing file",
       [](const Files* t) { return MoveFileW(t->path(TEXT("none.txt")).c_str(), t->path(TEXT("c.txt")).c_str()); },
       ERROR_FILE_NOT_FOUND},
      {"move into a missing folder",
       [](const Files* t) {
         return MoveFileW(t->path(TEXT("a.txt")).c_str(), t->path(TEXT("none\\a.txt")).c_str());
       },
       ERROR_PATH_NOT_FOUND},
      {"create an existing folder",
       [](const Files* t) { return CreateDirectoryW(t->path(TEXT("DIR")).c_str(), NULL); }, ERROR_ALREADY_EXISTS},
      {"create a folder in a missing one",
       [](const Files* t) { return CreateDirectoryW(t->path(TEXT("none\\sub")).c_str(), NULL); },
       ERROR_PATH_NOT_FOUND},
      {"remove a folder that holds a file",
       [](const Files* t) { return RemoveDirectoryW(t->path(TEXT("dir")).c_str()); }, ERROR_DIR_NOT_EMPTY},
      {"remove a file as a folder",
       [](const Files* t) { return RemoveDirectoryW(t->path(TEXT("a.txt")).c_str()); }, ERROR_DIRECTORY},
      {"remove a missing folder",
       [](const Files* t) { return RemoveDirectoryW(t->path(TEXT("none")).c_str()); }, ERROR_FILE_NOT_FOUND},
      {"delete a folder as a file",
       [](const Files* t) { return DeleteFileW(t->path(TEXT("dir")).c_str()); }, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(kSentinel);
    EXPECT_FALSE(c.call(this));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(read(TEXT("a.txt")), "A");
  EXPECT_EQ(read(TEXT("b.txt")), "B");

  SetLastError(kSentinel);
  EXPECT_TRUE(MoveFileExW(path(TEXT("a.txt")).c_str(), path(TEXT("b.txt")).c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ(GetLastError(), kSentinel);
  EXPECT_EQ(read(TEXT("b.txt")), "A");
  EXPECT_EQ(read(TEXT("a.txt")), "<missing>");

  EXPECT_TRUE(MoveFileW(path(TEXT("b.txt")).c_str(), path(TEXT("dir\\c.txt")).c_str()));
  EXPECT_EQ(read(TEXT("dir\\c.txt")), "A");
  /* A change of case only renames the file. */
  EXPECT_TRUE(MoveFileW(path(TEXT("dir\\c.txt")).c_str(), path(TEXT("dir\\C.TXT")).c_str()));
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(path(TEXT("dir\\c.txt")).c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  KNOWN_WINE_DIFFERENCE("Wine keeps the old spelling when a rename changes only the case",
                        wstring(data.cFileName) == TEXT("c.txt"));
  if (!on_wine()) {
    EXPECT_EQ(wstring(data.cFileName), TEXT("C.TXT"));
  }
  FindClose(search);

  /* Folders move too; an empty one can be removed. */
  EXPECT_TRUE(MoveFileW(path(TEXT("dir")).c_str(), path(TEXT("moved")).c_str()));
  EXPECT_EQ(read(TEXT("moved\\inner.txt")), "I");
  EXPECT_TRUE(DeleteFileW(path(TEXT("moved\\inner.txt")).c_str()));
  EXPECT_TRUE(DeleteFileW(path(TEXT("moved\\c.txt")).c_str()));
  SetLastError(kSentinel);
  EXPECT_TRUE(RemoveDirectoryW(path(TEXT("moved")).c_str()));
  EXPECT_EQ(GetLastError(), kSentinel);
  EXPECT_EQ(GetFileAttributesW(path(TEXT("moved")).c_str()), INVALID_FILE_ATTRIBUTES);

  /* The installer's walk creates "" first: that fails and harms nothing. */
  EXPECT_FALSE(CreateDirectoryW(TEXT(""), NULL));
}

FILETIME filetime(uint64_t value) {
  FILETIME ft;
  ft.dwLowDateTime = (DWORD)value;
  ft.dwHighDateTime = (DWORD)(value >> 32);
  return ft;
}

uint64_t value_of(const FILETIME& ft) { return ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime; }

TEST_F(Files, FileTimesRoundTrip) {
  SYSTEMTIME st = {2014, 3, 0, 13, 8, 30, 15, 123};
  FILETIME written;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &written));
  struct Case {
    uint64_t creation, access, write;
  } cases[] = {
      {value_of(written), value_of(written) + 10000000ull, value_of(written) + 1234567ull},
      /* before 1970: 1601-01-01 plus a day, and 1969-12-31 23:59:59.9999999 */
      {864000000000ull, 116444735999999999ull, 116444736000000001ull},
  };
  /* Wine keeps no creation time of its own (the host file system's birth
   * time stands for it): marked below. */
  const bool creation_kept = !on_wine();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.write));
    HANDLE h = open(TEXT("t.bin"), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    WriteFile(h, "x", 1, &n, NULL);
    FILETIME creation = filetime(c.creation), access = filetime(c.access), write = filetime(c.write);
    SetLastError(kSentinel);
    ASSERT_TRUE(SetFileTime(h, &creation, &access, &write));
    EXPECT_EQ(GetLastError(), kSentinel);
    FILETIME got[3];
    ASSERT_TRUE(GetFileTime(h, &got[0], &got[1], &got[2]));
    if (creation_kept) {
      EXPECT_EQ(value_of(got[0]), c.creation);
    } else {
      KNOWN_WINE_DIFFERENCE("Wine keeps no creation time set by SetFileTime",
                            value_of(got[0]) != c.creation);
    }
    EXPECT_EQ(value_of(got[1]), c.access);
    EXPECT_EQ(value_of(got[2]), c.write);
    CloseHandle(h);

    /* The times stay after the handle is closed, and a search reports them. */
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(path(TEXT("t.bin")).c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    if (creation_kept) {
      EXPECT_EQ(value_of(data.ftCreationTime), c.creation);
    }
    EXPECT_EQ(value_of(data.ftLastAccessTime), c.access);
    EXPECT_EQ(value_of(data.ftLastWriteTime), c.write);
  }

  /* A null time is left as it is. */
  HANDLE h = open(TEXT("t.bin"), GENERIC_WRITE);
  FILETIME later = filetime(value_of(written) + 50000000ull);
  ASSERT_TRUE(SetFileTime(h, NULL, NULL, &later));
  FILETIME got[3];
  ASSERT_TRUE(GetFileTime(h, &got[0], &got[1], &got[2]));
  if (creation_kept) {
    EXPECT_EQ(value_of(got[0]), cases[1].creation);
  }
  EXPECT_EQ(value_of(got[1]), cases[1].access);
  EXPECT_EQ(value_of(got[2]), value_of(later));
  CloseHandle(h);

  h = open(TEXT("t.bin"), GENERIC_READ);
  SetLastError(kSentinel);
  BOOL set = SetFileTime(h, NULL, NULL, &later);
  DWORD error = GetLastError();
  KNOWN_WINE_DIFFERENCE("Wine sets times through a handle that only reads", set);
  if (!on_wine()) {
    EXPECT_EQ(error, (DWORD)ERROR_ACCESS_DENIED) << "setting times needs write access";
  }
  CloseHandle(h);
}

std::vector<wstring> find_all(const wstring& pattern, DWORD* error) {
  std::vector<wstring> names;
  WIN32_FIND_DATAW data;
  SetLastError(kSentinel);
  HANDLE h = FindFirstFileW(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return names;
  }
  do {
    wstring name = data.cFileName;
    if (name != TEXT(".") && name != TEXT("..")) names.push_back(name);
  } while (FindNextFileW(h, &data));
  *error = GetLastError();
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(Files, FindWithWildcards) {
  const WCHAR* names[] = {TEXT("B.TXT"), TEXT("a.txt"), TEXT("abc"), TEXT("c.dat"), TEXT("long.name.txt")};
  for (const WCHAR* n : names) write(n, "12345");
  ASSERT_TRUE(CreateDirectoryW(path(TEXT("sub")).c_str(), NULL));
  typedef std::vector<wstring> List;
  struct Case {
    const WCHAR* pattern;
    List expected;
    DWORD error; /* the last error at the end: ERROR_NO_MORE_FILES, or the failure's */
  } cases[] = {
      {TEXT("*"), {TEXT("B.TXT"), TEXT("a.txt"), TEXT("abc"), TEXT("c.dat"), TEXT("long.name.txt"), TEXT("sub")},
       ERROR_NO_MORE_FILES},
      {TEXT("*.*"), {TEXT("B.TXT"), TEXT("a.txt"), TEXT("abc"), TEXT("c.dat"), TEXT("long.name.txt"), TEXT("sub")},
       ERROR_NO_MORE_FILES},
      {TEXT("*.txt"), {TEXT("B.TXT"), TEXT("a.txt"), TEXT("long.name.txt")}, ERROR_NO_MORE_FILES},
      {TEXT("?.dat"), {TEXT("c.dat")}, ERROR_NO_MORE_FILES},
      {TEXT("A*"), {TEXT("a.txt"), TEXT("abc")}, ERROR_NO_MORE_FILES},
      {TEXT("a?c"), {TEXT("abc")}, ERROR_NO_MORE_FILES},
      {TEXT("ABC"), {TEXT("abc")}, ERROR_NO_MORE_FILES},
      {TEXT("zz*"), {}, ERROR_FILE_NOT_FOUND},
      {TEXT("none\\*"), {}, ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.pattern));
    DWORD error = 0;
    EXPECT_EQ(find_all(path(c.pattern), &error), c.expected);
    EXPECT_EQ(error, c.error);
  }

  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(path(TEXT("c.dat")).c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.dwFileAttributes, (DWORD)FILE_ATTRIBUTE_ARCHIVE);
  SetLastError(kSentinel);
  EXPECT_FALSE(FindNextFileW(h, &data));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(h));
  h = FindFirstFileW(path(TEXT("sub")).c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);
}

TEST_F(Files, LocksWithinTheProcess) {
  write(TEXT("l.bin"), std::string(100, 'x'));
  HANDLE a = open(TEXT("l.bin"), GENERIC_READ | GENERIC_WRITE);
  HANDLE b = open(TEXT("l.bin"), GENERIC_READ | GENERIC_WRITE);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  ASSERT_NE(b, INVALID_HANDLE_VALUE);
  SetLastError(kSentinel);
  ASSERT_TRUE(LockFile(a, 10, 0, 10, 0));
  EXPECT_EQ(GetLastError(), kSentinel);

  struct Case {
    bool through_a;
    DWORD offset, length;
    bool locks;
  } cases[] = {
      {true, 10, 10, false},  /* the same range again, same handle */
      {true, 15, 2, false},   /* inside it */
      {false, 5, 6, false},   /* overlapping its start, other handle */
      {false, 19, 5, false},  /* overlapping its end */
      {false, 0, 10, true},   /* just before */
      {true, 20, 5, true},    /* just after */
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.through_a ? "a" : "b") + " " + std::to_string(c.offset) + "+" +
                 std::to_string(c.length));
    HANDLE h = c.through_a ? a : b;
    SetLastError(kSentinel);
    EXPECT_EQ(!!LockFile(h, c.offset, 0, c.length, 0), c.locks);
    EXPECT_EQ(GetLastError(), c.locks ? kSentinel : (DWORD)ERROR_LOCK_VIOLATION);
    if (c.locks) {
      EXPECT_TRUE(UnlockFile(h, c.offset, 0, c.length, 0));
    }
  }

  /* The locked range is closed to the other handle, open to the owner. */
  char buffer[4];
  DWORD n = 0;
  SetFilePointer(b, 12, NULL, FILE_BEGIN);
  SetLastError(kSentinel);
  BOOL read_locked = ReadFile(b, buffer, 4, &n, NULL);
  DWORD read_error = GetLastError();
  SetFilePointer(b, 12, NULL, FILE_BEGIN);
  SetLastError(kSentinel);
  BOOL wrote_locked = WriteFile(b, "yy", 2, &n, NULL);
  DWORD write_error = GetLastError();
  KNOWN_WINE_DIFFERENCE("Wine does not keep other handles out of a locked range",
                        read_locked && wrote_locked);
  if (!on_wine()) {
    EXPECT_FALSE(read_locked);
    EXPECT_EQ(read_error, (DWORD)ERROR_LOCK_VIOLATION);
    EXPECT_FALSE(wrote_locked);
    EXPECT_EQ(write_error, (DWORD)ERROR_LOCK_VIOLATION);
  }
  SetFilePointer(a, 12, NULL, FILE_BEGIN);
  EXPECT_TRUE(WriteFile(a, "zz", 2, &n, NULL));

  /* Unlocking needs the exact range of the owner. */
  struct Unlock {
    bool through_a;
    DWORD offset, length;
    bool unlocks;
  } unlocks[] = {
      {false, 10, 10, false},
      {true, 10, 5, false},
      {true, 11, 9, false},
      {true, 10, 10, true},
      {true, 10, 10, false},
  };
  for (const Unlock& u : unlocks) {
    SCOPED_TRACE(std::string(u.through_a ? "unlock a " : "unlock b ") + std::to_string(u.offset) + "+" +
                 std::to_string(u.length));
    SetLastError(kSentinel);
    EXPECT_EQ(!!UnlockFile(u.through_a ? a : b, u.offset, 0, u.length, 0), u.unlocks);
    if (u.unlocks) {
      EXPECT_EQ(GetLastError(), kSentinel);
    } else {
      KNOWN_WINE_DIFFERENCE_EQ("Wine refuses an unlock of no lock with another code", GetLastError(),
                               (DWORD)ERROR_LOCK_VIOLATION, (DWORD)ERROR_NOT_LOCKED);
    }
  }
  SetFilePointer(b, 12, NULL, FILE_BEGIN);
  EXPECT_TRUE(ReadFile(b, buffer, 4, &n, NULL));
  EXPECT_EQ(std::string(buffer, n), "zzxx");

  /* Shared locks overlap each other and keep everyone from writing. */
  OVERLAPPED at = {};
  at.Offset = 40;
  EXPECT_TRUE(LockFileEx(a, LOCKFILE_FAIL_IMMEDIATELY, 0, 10, 0, &at));
  EXPECT_TRUE(LockFileEx(b, LOCKFILE_FAIL_IMMEDIATELY, 0, 10, 0, &at));
  SetLastError(kSentinel);
  EXPECT_FALSE(LockFileEx(b, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_LOCK_VIOLATION);
  SetFilePointer(a, 45, NULL, FILE_BEGIN);
  SetLastError(kSentinel);
  BOOL wrote_shared = WriteFile(a, "w", 1, &n, NULL);
  write_error = GetLastError();
  KNOWN_WINE_DIFFERENCE("Wine lets a holder of a shared lock write in its range", wrote_shared);
  if (!on_wine()) {
    EXPECT_EQ(write_error, (DWORD)ERROR_LOCK_VIOLATION);
  }
  SetFilePointer(b, 45, NULL, FILE_BEGIN);
  EXPECT_TRUE(ReadFile(b, buffer, 1, &n, NULL));
  EXPECT_TRUE(UnlockFileEx(b, 0, 10, 0, &at));

  /* Closing a handle releases its locks. */
  at.Offset = 60;
  EXPECT_TRUE(LockFileEx(a, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 5, 0, &at));
  CloseHandle(a);
  EXPECT_TRUE(LockFileEx(b, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 5, 0, &at));
  CloseHandle(b);
}

TEST_F(Files, BlockingLockWaitsForTheUnlock) {
  write(TEXT("w.bin"), std::string(16, 'x'));
  HANDLE a = open(TEXT("w.bin"), GENERIC_READ | GENERIC_WRITE);
  HANDLE b = open(TEXT("w.bin"), GENERIC_READ | GENERIC_WRITE);
  ASSERT_TRUE(LockFile(a, 0, 0, 8, 0));
  std::atomic<bool> locked{false};
  std::thread waiter([&] {
    OVERLAPPED at = {};
    at.Offset = 4;
    EXPECT_TRUE(LockFileEx(b, LOCKFILE_EXCLUSIVE_LOCK, 0, 2, 0, &at));
    locked = true;
    EXPECT_TRUE(UnlockFileEx(b, 0, 2, 0, &at));
  });
  Sleep(50);
  EXPECT_FALSE(locked) << "the lock is granted only after the unlock";
  ASSERT_TRUE(UnlockFile(a, 0, 0, 8, 0));
  waiter.join();
  EXPECT_TRUE(locked);
  CloseHandle(a);
  CloseHandle(b);
}

#ifndef _WIN32
/* Another process: the test program runs again with VELMAR_FILES_LOCK_CHILD
 * set to "root|device path|offset|length"; instead of the tests it opens the
 * file and tries the lock, and its exit status tells the outcome (0 locked,
 * 1 refused with ERROR_LOCK_VIOLATION, 2 anything else). */
class LockChild : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* arg = getenv("VELMAR_FILES_LOCK_CHILD");
    if (!arg) return;
    std::string text = arg;
    size_t a = text.find('|'), b = text.find('|', a + 1), c = text.find('|', b + 1);
    plat::set_device_root(text.substr(0, a));
    std::u16string device = plat::utf8_to_utf16(text.substr(a + 1, b - a - 1));
    DWORD offset = (DWORD)std::stoul(text.substr(b + 1, c - b - 1));
    DWORD length = (DWORD)std::stoul(text.substr(c + 1));
    HANDLE h = CreateFileW(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE) _exit(2);
    if (LockFile(h, offset, 0, length, 0)) _exit(0);
    _exit(GetLastError() == ERROR_LOCK_VIOLATION ? 1 : 2);
  }
};
::testing::Environment* const lock_child = ::testing::AddGlobalTestEnvironment(new LockChild);

int lock_in_child(const std::string& root, const std::string& device_path, DWORD offset, DWORD length) {
  std::string arg = root + "|" + device_path + "|" + std::to_string(offset) + "|" + std::to_string(length);
  pid_t pid = fork();
  if (pid == 0) {
    setenv("VELMAR_FILES_LOCK_CHILD", arg.c_str(), 1);
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    execl("/proc/self/exe", "test_file", (char*)nullptr);
    _exit(3);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Files, LocksAcrossProcesses) {
  write(u"l.bin", std::string(100, 'x'));
  HANDLE h = open(u"l.bin", GENERIC_READ);  /* a reader may take an exclusive lock */
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(LockFile(h, 10, 0, 10, 0));
  EXPECT_EQ(lock_in_child(folder_.host_root(), "\\L.BIN", 15, 1), 1);
  EXPECT_EQ(lock_in_child(folder_.host_root(), "\\l.bin", 0, 10), 0);
  EXPECT_EQ(lock_in_child(folder_.host_root(), "\\l.bin", 20, 10), 0);
  ASSERT_TRUE(UnlockFile(h, 10, 0, 10, 0));
  EXPECT_EQ(lock_in_child(folder_.host_root(), "\\l.bin", 15, 1), 0);
  CloseHandle(h);
}
#endif

TEST_F(Files, ModuleFileNameTruncation) {
#ifndef _WIN32
  plat::set_module_path(u"\\residentflash2\\Velmar\\Velmar.exe");
#endif
  WCHAR full[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, full, MAX_PATH);
  ASSERT_GT(length, 3u);
  ASSERT_LT(length, (DWORD)MAX_PATH);
  EXPECT_EQ(full[length], 0);
#ifndef _WIN32
  EXPECT_EQ(wstring(full), u"\\residentflash2\\Velmar\\Velmar.exe");
  EXPECT_EQ(GetModuleFileNameW(GetModuleHandleW(NULL), full, MAX_PATH), length);
#endif
  struct Case {
    DWORD size;
    DWORD result;
    DWORD copied; /* characters before the terminator */
    DWORD error;  /* kSentinel: not changed */
  } cases[] = {
      {length + 1, length, length, kSentinel},
      {length, length, length - 1, ERROR_INSUFFICIENT_BUFFER},
      {3, 3, 2, ERROR_INSUFFICIENT_BUFFER},
      {1, 1, 0, ERROR_INSUFFICIENT_BUFFER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size));
    WCHAR buffer[MAX_PATH + 1];
    for (auto& w : buffer) w = 'x';
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleFileNameW(NULL, buffer, c.size), c.result);
    if (c.error != kSentinel) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    if (c.error == kSentinel) {
      EXPECT_EQ(wstring(buffer), wstring(full, c.copied));
    } else {
      /* As Windows XP did; later versions terminate the cut name. */
      KNOWN_WINE_DIFFERENCE_EQ("Wine leaves a cut module name unterminated", buffer[c.copied],
                               full[c.copied], (WCHAR)0);
      EXPECT_EQ(wstring(buffer, c.copied), wstring(full, c.copied));
    }
    EXPECT_EQ(buffer[c.size], 'x') << "nothing is written past the buffer";
  }
}

#ifndef _WIN32
/* A stand-in device served through the named-device hook: it echoes what is
 * written to it. */
struct EchoDevice : plat::DeviceHandle {
  std::string data;
  DWORD read(void* out, DWORD size, DWORD* done) override {
    *done = (DWORD)std::min<size_t>(size, data.size());
    memcpy(out, data.data(), *done);
    data.erase(0, *done);
    return 0;
  }
  DWORD write(const void* in, DWORD size, DWORD* done) override {
    data.append((const char*)in, size);
    *done = size;
    return 0;
  }
};

TEST_F(Files, NamedDevicesOpenThroughTheirModule) {
  DWORD opened_access = 0;
  plat::register_device(u"ECH1:", [&](DWORD access, DWORD, DWORD*) {
    opened_access = access;
    return std::make_shared<EchoDevice>();
  });
  plat::register_device(u"BSY1:", [](DWORD, DWORD, DWORD* error) {
    *error = ERROR_SHARING_VIOLATION;
    return std::shared_ptr<plat::DeviceHandle>();
  });
  HANDLE h = CreateFileW(u"ech1:", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(opened_access, GENERIC_READ | GENERIC_WRITE);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "ping", 4, &n, NULL));
  char buffer[8];
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &n, NULL));
  EXPECT_EQ(std::string(buffer, n), "ping");
  SetLastError(kSentinel);
  EXPECT_EQ(SetFilePointer(h, 0, NULL, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  CloseHandle(h);

  struct Case {
    const char16_t* name;
    DWORD error;
  } cases[] = {{u"BSY1:", ERROR_SHARING_VIOLATION}, {u"\\NON1:", ERROR_FILE_NOT_FOUND}};
  for (const Case& c : cases) {
    SCOPED_TRACE(narrow(c.name));
    SetLastError(kSentinel);
    EXPECT_EQ(CreateFileW(c.name, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
  }
  plat::unregister_device(u"ECH1:");
  plat::unregister_device(u"BSY1:");
  EXPECT_EQ(CreateFileW(u"ECH1:", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL), INVALID_HANDLE_VALUE);
}

#endif

/* Share modes: an open whose access another open handle does not share, or
 * that does not share the access another handle has, fails with
 * ERROR_SHARING_VIOLATION and leaves the file as it was (a refused
 * CREATE_ALWAYS truncates nothing); so does deleting a file that a handle has
 * open without FILE_SHARE_DELETE. Closing the handle ends the conflict. */
TEST_F(Files, ShareModesOfOpenHandles) {
  const DWORD R = GENERIC_READ, W = GENERIC_WRITE;
  const DWORD SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE, SD = FILE_SHARE_DELETE;
  const DWORD kDelete = 0; /* the second step deletes the file */
  struct Case {
    const char* what;
    DWORD access1, share1;
    DWORD access2, share2, disposition2;
    bool allowed;
  } cases[] = {
      {"read/read, both share reading", R, SR, R, SR, OPEN_EXISTING, true},
      {"read/read, the first shares nothing", R, 0, R, SR | SW, OPEN_EXISTING, false},
      {"read/read, the second shares nothing", R, SR, R, 0, OPEN_EXISTING, false},
      {"read/write, the first shares reading only", R, SR, W, SR | SW, OPEN_EXISTING, false},
      {"read/write, the first shares writing", R, SR | SW, W, SR | SW, OPEN_EXISTING, true},
      {"read/write, the second does not share reading", R, SR | SW, W, SW, OPEN_EXISTING, false},
      {"write/read, the first shares reading", W, SR, R, SR | SW, OPEN_EXISTING, true},
      {"write/read, the second does not share writing", W, SR, R, SR, OPEN_EXISTING, false},
      {"write/write, both share writing", W, SW, W, SW, OPEN_EXISTING, true},
      {"write/write, the first shares nothing", W, 0, W, SR | SW, OPEN_EXISTING, false},
      {"write/create-always, the first shares reading", W, SR, W, SR | SW, CREATE_ALWAYS, false},
      {"read+write/read+write, both share both", R | W, SR | SW, R | W, SR | SW, OPEN_ALWAYS, true},
      {"read/delete, no FILE_SHARE_DELETE", R, SR | SW, kDelete, 0, 0, false},
      {"write/delete, no FILE_SHARE_DELETE", W, 0, kDelete, 0, 0, false},
      {"read/delete, FILE_SHARE_DELETE", R, SR | SD, kDelete, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write(TEXT("shared.txt"), "abc");
    const wstring file = path(TEXT("shared.txt"));
    HANDLE first = CreateFileW(file.c_str(), c.access1, c.share1, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    SetLastError(kSentinel);
    bool done;
    HANDLE second = INVALID_HANDLE_VALUE;
    if (c.access2 == kDelete) {
      done = DeleteFileW(file.c_str()) != FALSE;
    } else {
      second = CreateFileW(file.c_str(), c.access2, c.share2, NULL, c.disposition2, 0, NULL);
      done = second != INVALID_HANDLE_VALUE;
    }
    const DWORD error = GetLastError();
    EXPECT_EQ(c.allowed, done);
    if (!c.allowed) {
      EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, error);
    }
    if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
    CloseHandle(first);
    if (!c.allowed) {
      EXPECT_EQ("abc", read(TEXT("shared.txt")));
    }
    /* The conflict ends with the handle. */
    if (!c.allowed && c.access2 == kDelete) {
      EXPECT_TRUE(DeleteFileW(file.c_str()));
    } else if (!c.allowed) {
      second = CreateFileW(file.c_str(), c.access2, c.share2, NULL, c.disposition2, 0, NULL);
      EXPECT_NE(second, INVALID_HANDLE_VALUE);
      CloseHandle(second);
    }
    DeleteFileW(file.c_str());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));
  }
}

#ifndef _WIN32
/* Host: the handles of another process of the device count the same, and a
 * process that dies holds nothing any more. */
TEST_F(Files, ShareModesAcrossProcesses) {
  write(TEXT("held.txt"), "abc");
  const wstring file = path(TEXT("held.txt"));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  if (pid == 0) {
    plat::set_device_root(folder_.host_root());
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    char c = h != INVALID_HANDLE_VALUE ? 'y' : 'n';
    if (::write(ready[1], &c, 1) != 1) _exit(2);
    pause();
    _exit(0);
  }
  char c = 0;
  EXPECT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  HANDLE reader = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "the other process shares reading";
  CloseHandle(reader);
  SetLastError(kSentinel);
  EXPECT_EQ(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                        CREATE_ALWAYS, 0, NULL),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(DeleteFileW(file.c_str()));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
  EXPECT_EQ("abc", read(TEXT("held.txt")));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  HANDLE writer = CreateFileW(file.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE);
  CloseHandle(writer);
  EXPECT_TRUE(DeleteFileW(file.c_str()));
}
#endif

}  // namespace
