/* A fresh folder for one test, in both builds: on the host a new device root
 * (paths are then "\\name"), on Windows a folder in the temporary folder. The
 * fixture's own file reads and writes go through the handle calls. */
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <stdlib.h>

#include <filesystem>

#include "plat/host.h"
#endif

namespace test_support {

typedef std::basic_string<WCHAR> wstring;

class TempFolder {
 public:
  /* Makes the folder; `name` tells the tests' folders apart. False on failure. */
  bool open(const char* name) {
#ifndef _WIN32
    std::string pattern = std::string("/tmp/velmar-") + name + "-XXXXXX";
    if (!mkdtemp(&pattern[0])) return false;
    host_root_ = pattern;
    previous_root_ = plat::device_root();
    plat::set_device_root(host_root_);
    base_.assign(1, TEXT('\\'));
#else
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    base_ = wstring(temp) + TEXT("velmar-");
    for (const char* c = name; *c; c++) base_ += (WCHAR)*c;
    base_ += TEXT("-") + std::to_wstring(GetCurrentProcessId()) + TEXT("\\");
    CreateDirectoryW(base_.c_str(), NULL);
#endif
    return true;
  }

  /* Removes the folder with everything in it (read-only files included). */
  void close() {
#ifndef _WIN32
    std::error_code ignored;
    std::filesystem::remove_all(host_root_, ignored);
    plat::set_device_root(previous_root_);
#else
    if (!base_.empty()) remove_tree(base_.substr(0, base_.size() - 1));
#endif
  }

#ifndef _WIN32
  /* The host folder that stands for the device root. */
  const std::string& host_root() const { return host_root_; }
#endif
  /* The folder with its trailing separator. */
  const wstring& base() const { return base_; }
  wstring path(const wstring& relative) const { return base_ + relative; }

  /* Writes `bytes` as the whole file. */
  bool write(const wstring& relative, const std::string& bytes) const {
    HANDLE h = CreateFileW(path(relative).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(h);
    return ok && written == bytes.size();
  }

  /* The whole file, or "<missing>" when it cannot be opened. */
  std::string read(const wstring& relative) const {
    HANDLE h = CreateFileW(path(relative).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(h, chunk, sizeof chunk, &got, NULL) && got > 0) bytes.append(chunk, got);
    CloseHandle(h);
    return bytes;
  }

 private:
#ifdef _WIN32
  static void remove_tree(const wstring& dir) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((dir + TEXT("\\*")).c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        wstring name = data.cFileName;
        if (name == TEXT(".") || name == TEXT("..")) continue;
        wstring path = dir + TEXT("\\") + name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          remove_tree(path);
        else
          DeleteFileW(path.c_str());
      } while (FindNextFileW(h, &data));
      FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
  }
#endif

  wstring base_;
#ifndef _WIN32
  std::string host_root_, previous_root_;
#endif
};

}  // namespace test_support
