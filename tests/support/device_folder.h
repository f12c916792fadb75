/* A throw-away device for the tests: on the host a fresh device root, on
 * Windows a fresh temporary folder made the current one (the device paths
 * "\temp\..." then land on its drive, "sdmmc\..." inside it). */
#pragma once

#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>

#ifndef _WIN32
#include <unistd.h>

#include "plat/host.h"
#endif

inline void make_test_device(const char* name) {
#ifdef _WIN32
  WCHAR base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  std::wstring dir = std::wstring(base) + std::wstring(name, name + strlen(name)) +
                     std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(dir.c_str(), NULL);
  SetCurrentDirectoryW(dir.c_str());
#else
  std::string pattern = std::string("/tmp/") + name + "-XXXXXX";
  char* dir = mkdtemp(&pattern[0]);
  if (dir) plat::set_device_root(dir);
  plat::set_module_path(u"\\residentflash2\\Velmar\\Velmar.exe");
  CreateDirectoryW(TEXT("\\residentflash2"), NULL);
  CreateDirectoryW(TEXT("\\residentflash2\\Velmar"), NULL);
#endif
  CreateDirectoryW(TEXT("\\temp"), NULL);
  CreateDirectoryW(TEXT("sdmmc"), NULL);
}

/* Writes bytes to a device file; false when it cannot. */
inline bool write_file(const WCHAR* path, const std::string& bytes) {
  FILE* file = _wfopen(path, TEXT("wb"));
  if (!file) return false;
  size_t n = fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
  return n == bytes.size();
}
