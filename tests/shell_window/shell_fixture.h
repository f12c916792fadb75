/* Test helper: the shell's program folder with the files its creation
 * handler reads (a resource file made here or the default skin, config.ini,
 * the TTS data file), in both builds: on the host inside a fresh device root
 * with the program at "\Velmar\Velmar.exe", on Windows beside the running
 * test program. Device time runs fast on the host, so that the shell's
 * sleeps cost little. */
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "../vx_resource_skin/skin_fixture.h"
#include "main_window.h"
#include "nav_stack.h"
#include "shell_globals.h"
#include "temp_folder.h"
#include "velmar_main.h"
#include "vx_alloc.h"
#include "vx_skin.h"

#ifndef _WIN32
#include "gdi_internal.h"
#include "plat/host.h"
#endif

namespace shell_test {

typedef std::basic_string<WCHAR> wstring;

/* A valid resource file without items: every page enters and draws nothing. */
inline std::string empty_skin() {
  std::vector<uint8_t> bytes = skin_file({}, {});
  return std::string(bytes.begin(), bytes.end());
}

/* The default skin built with the project, or empty when it is not built. */
inline std::string default_skin() {
  std::string path = std::string(VELMAR_BINARY_DIR) + "/skins/default/Velmar.res";
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return std::string();
  std::string bytes;
  for (int c; (c = fgetc(f)) != EOF;) bytes.push_back((char)c);
  fclose(f);
  return bytes;
}

/* The CONFIG section every test of the shell starts from. */
inline std::string default_config() {
  return "[CONFIG]\r\nID=ABC1234\r\nGZDTMF_NUMBER=111*222\r\n";
}

class ShellDevice {
 public:
  /* The program folder, empty; false on failure. */
  bool open(const char* name) {
#ifndef _WIN32
    if (!root_.open(name)) return false;
    plat::set_module_path(TEXT("\\Velmar\\Velmar.exe"));
    plat::set_speed(50);
    program_ = TEXT("\\Velmar\\");
    CreateDirectoryW(program_.c_str(), NULL);
#else
    (void)name;
    WCHAR module[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, module, MAX_PATH);
    program_.assign(module, n);
    program_.resize(program_.rfind(TEXT('\\')) + 1);
#endif
    make_folder(TEXT("\\temp"));
    make_folder(TEXT("sdmmc"));
    return true;
  }

  /* Removes every file written through this helper (and the device root). */
  void close() {
    for (auto it = written_.rbegin(); it != written_.rend(); ++it) DeleteFileW(it->c_str());
    written_.clear();
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveDirectoryW(it->c_str());
    folders_.clear();
#ifndef _WIN32
    plat::set_speed(1);
    root_.close();
#endif
  }

  const wstring& program_folder() const { return program_; }

  /* Writes a whole file; a relative name is placed in the program folder,
   * a name beginning with "\" or "sdmmc\" is a device path as it stands. */
  bool write(const wstring& name, const std::string& bytes) {
    wstring path = where(name);
    size_t slash = path.rfind(TEXT('\\'));
    if (slash != wstring::npos && slash > 0) make_folder(path.substr(0, slash));
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    BOOL ok = WriteFile(h, bytes.data(), (DWORD)bytes.size(), &done, NULL);
    CloseHandle(h);
    written_.push_back(path);
    return ok && done == bytes.size();
  }
  void remove(const wstring& name) { DeleteFileW(where(name).c_str()); }

 private:
  wstring where(const wstring& name) const {
    if (name.compare(0, 1, TEXT("\\")) == 0 || name.compare(0, 6, TEXT("sdmmc\\")) == 0) return name;
    return program_ + name;
  }

  /* Folders made here are removed again (when empty) on close. */
  void make_folder(const wstring& path) {
    if (CreateDirectoryW(path.c_str(), NULL)) folders_.push_back(path);
  }

  wstring program_;
  std::vector<wstring> written_;
  std::vector<wstring> folders_;
#ifndef _WIN32
  test_support::TempFolder root_;
#endif
};

/* Handles everything waiting for this thread; the exit code of a WM_QUIT
 * met on the way, or -1. */
inline int pump() {
  int quit = -1;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quit = (int)msg.wParam;
      continue;
    }
    DispatchMessageW(&msg);
  }
  return quit;
}

/* The number of live tracked blocks. */
inline int live_blocks() {
  const PtrArray* records = vx_mem_records();
  return records ? ptr_array_count(records) : 0;
}

/* The screen the main window covers: 800 x 480 on the host. */
inline void open_screen() {
#ifndef _WIN32
  plat::screen_open(800, 480, plat::ScreenBackendKind::headless);
#endif
  read_screen_size();
}

/* Resets the shell flags the handlers read and write. */
inline void reset_shell_state() {
  bt_info_present = fm_enabled = bt_started_by_shell = camera_shown = clock_set = 0;
  previous_foreground = nullptr;
  clock_text[0] = 0;
  device_id[0] = 0;
  debug_level = 0;
  memset(&call_info, 0, sizeof call_info);
}

}  // namespace shell_test
