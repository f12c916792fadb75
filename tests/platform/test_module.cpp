/* Run-time binding of libraries as Win32 defines it: a path without a module
 * fails with ERROR_MOD_NOT_FOUND, a file that is no module with
 * ERROR_BAD_EXE_FORMAT, a missing export with ERROR_PROC_NOT_FOUND; loads of
 * one library share its handle and are counted. Error codes are probed: the
 * last error is set to a sentinel before each call. */
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "plat/host.h"
#include "plat/module_host.h"
#endif

#include "temp_folder.h"

namespace {

typedef std::basic_string<WCHAR> wstring;
const DWORD kSentinel = 0xBADC0DE;

/* A fresh folder: the device root on the host, a temporary folder on Windows. */
class Modules : public ::testing::Test {
 public:
  void SetUp() override { ASSERT_TRUE(folder_.open("modules")); }
  void TearDown() override { folder_.close(); }

 protected:
  wstring path(const wstring& relative) const { return folder_.path(relative); }
  void write_file(const wstring& relative, const char* bytes) { ASSERT_TRUE(folder_.write(relative, bytes)); }

  test_support::TempFolder folder_;
};

TEST_F(Modules, LoadFailuresSetTheLoadersCode) {
  write_file(TEXT("notes.dll"), "this is not a library");
  const struct {
    const char* what;
    wstring name;
    DWORD error;
  } cases[] = {
      {"no file at the path", path(TEXT("imgdecmp.dll")), (DWORD)ERROR_MOD_NOT_FOUND},
      {"no folder at the path", path(TEXT("missing\\imgdecmp.dll")), (DWORD)ERROR_MOD_NOT_FOUND},
      {"a text file", path(TEXT("notes.dll")), (DWORD)ERROR_BAD_EXE_FORMAT},
  };
  for (const auto& c : cases) {
    SetLastError(kSentinel);
    EXPECT_EQ(LoadLibraryW(c.name.c_str()), (HMODULE)NULL) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
}

TEST_F(Modules, TheProgramItselfExportsNoSuchName) {
  SetLastError(kSentinel);
  EXPECT_EQ(GetProcAddress(GetModuleHandleW(NULL), "DecompressImageIndirect"), (FARPROC)NULL);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
}

#ifndef _WIN32
/* The host's libraries are stand-ins; these check their bookkeeping. */

int answer_of_stand_in() { return 42; }

TEST_F(Modules, StandInLoadsShareOneHandleAndAreCounted) {
  const wstring where = TEXT("\\residentflash2\\Velmar\\Helper.dll");
  plat::register_module(where, {{"Answer", (FARPROC)answer_of_stand_in}});

  SetLastError(kSentinel);
  HMODULE first = LoadLibraryW(TEXT("\\ResidentFlash2\\velmar\\helper.DLL"));
  ASSERT_NE(first, (HMODULE)NULL);
  HMODULE second = LoadLibraryW(where.c_str());
  EXPECT_EQ(second, first);
  EXPECT_EQ(GetLastError(), kSentinel) << "success leaves the last error";
  EXPECT_EQ(plat::module_load_count(where), 2);

  FARPROC entry = GetProcAddress(first, "Answer");
  ASSERT_NE(entry, (FARPROC)NULL);
  EXPECT_EQ(entry(), 42);
  SetLastError(kSentinel);
  EXPECT_EQ(GetProcAddress(first, "answer"), (FARPROC)NULL) << "export names are case-sensitive";
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);

  /* A registration removed later does not unload what is loaded. */
  plat::unregister_module(where);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_NE(GetProcAddress(first, "Answer"), (FARPROC)NULL);
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_EQ(plat::module_load_count(where), 0);

  SetLastError(kSentinel);
  EXPECT_EQ(GetProcAddress(first, "Answer"), (FARPROC)NULL) << "unloaded";
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
  SetLastError(kSentinel);
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
  SetLastError(kSentinel);
  EXPECT_EQ(LoadLibraryW(where.c_str()), (HMODULE)NULL) << "no longer registered";
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
}

TEST_F(Modules, AMissingPathFallsBackToTheNameInWindows) {
  const wstring in_windows = TEXT("\\windows\\imgdecmp.dll");
  plat::register_module(in_windows, {{"Answer", (FARPROC)answer_of_stand_in}});
  HMODULE module = LoadLibraryW(TEXT("\\residentflash2\\Velmar\\imgdecmp.dll"));
  ASSERT_NE(module, (HMODULE)NULL);
  EXPECT_EQ(LoadLibraryW(TEXT("imgdecmp.dll")), module);
  EXPECT_EQ(plat::module_load_count(in_windows), 2);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_TRUE(FreeLibrary(module));

  /* A file that is there is what the loader tries, and it is no module. */
  ASSERT_EQ(mkdir((folder_.host_root() + "/residentflash2").c_str(), 0755), 0);
  write_file(TEXT("residentflash2\\imgdecmp.dll"), "MZ?");
  SetLastError(kSentinel);
  EXPECT_EQ(LoadLibraryW(TEXT("\\residentflash2\\imgdecmp.dll")), (HMODULE)NULL);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_BAD_EXE_FORMAT);
  plat::unregister_module(in_windows);
}
#endif

}  // namespace
