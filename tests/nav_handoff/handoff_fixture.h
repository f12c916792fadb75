/* The throw-away device of the hand-off and command tests: a folder holding
 * "sdmmc\" (the log) and the navigation program's files, and the config.ini
 * that the program reads beside itself.
 *
 * On the host the folder is the device root and the program is
 * \residentflash2\Velmar\Velmar.exe in it. On Windows the folder is a
 * temporary one, made the current directory (the log's path is relative
 * there), and config.ini is beside the test program itself; the tests that
 * use it run one at a time (VELMAR_WINE_SHARED_TESTS). */
#pragma once

#include <stdlib.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#ifndef _WIN32
#include "plat/host.h"
#endif

namespace handoff_fixture {

typedef std::basic_string<WCHAR> WString;

inline WString wide(const std::string& utf8) {
#ifdef _WIN32
  if (utf8.empty()) return WString();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
  WString out((size_t)n, 0);
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &out[0], n);
  return out;
#else
  return plat::utf8_to_utf16(utf8);
#endif
}

inline std::string utf8(const WCHAR* s) {
#ifdef _WIN32
  int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out((size_t)n - 1, 0);
  WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
  return out;
#else
  return plat::utf16_to_utf8(s);
#endif
}

class Device {
 public:
  Device() {
#ifdef _WIN32
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    for (int serial = 0;; ++serial) {
      WString base = WString(temp) + L"velmar-handoff-" + std::to_wstring(GetCurrentProcessId()) +
                     L"-" + std::to_wstring(serial);
      if (CreateDirectoryW(base.c_str(), NULL)) {
        root_ = std::filesystem::path(base);
        break;
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot make the folder");
    }
    GetCurrentDirectoryW(MAX_PATH, previous_directory_);
    SetCurrentDirectoryW(root_.wstring().c_str());
    WCHAR module[MAX_PATH];
    GetModuleFileNameW(NULL, module, MAX_PATH);
    config_ = std::filesystem::path(module).parent_path() / "config.ini";
#else
    char pattern[] = "/tmp/velmar-handoff-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    plat::set_device_root(root_.string());
    plat::set_module_path(u"\\residentflash2\\Velmar\\Velmar.exe");
    std::filesystem::create_directories(root_ / "residentflash2" / "Velmar");
    config_ = root_ / "residentflash2" / "Velmar" / "config.ini";
#endif
    std::filesystem::create_directories(root_ / "sdmmc");
    std::error_code ignored;
    std::filesystem::remove(config_, ignored);
  }
  ~Device() {
    std::error_code ignored;
#ifdef _WIN32
    SetCurrentDirectoryW(previous_directory_);
#endif
    std::filesystem::remove(config_, ignored);
    std::filesystem::remove_all(root_, ignored);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  /* A file of the folder by its relative name with "/" ("sdmmc/Navi/Navi.exe"). */
  std::filesystem::path host(const std::string& name) const { return root_ / name; }
  /* The path the system opens it by: "\sdmmc\Navi\Navi.exe" on the host,
   * "<folder>\sdmmc\Navi\Navi.exe" on Windows. */
  WString device(const std::string& name) const {
    std::string path = name;
    for (char& c : path)
      if (c == '/') c = '\\';
#ifdef _WIN32
    return root_.wstring() + L"\\" + wide(path);
#else
    return u"\\" + wide(path);
#endif
  }

  void write(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories(host(name).parent_path());
    std::ofstream out(host(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
  }
  std::string read(const std::string& name) const { return read_path(host(name)); }
  bool exists(const std::string& name) const { return std::filesystem::exists(host(name)); }

  /* config.ini beside the program, as raw text (ANSI). */
  void write_config(const std::string& text) const {
    std::ofstream out(config_, std::ios::binary | std::ios::trunc);
    out.write(text.data(), (std::streamsize)text.size());
  }
  void remove_config() const {
    std::error_code ignored;
    std::filesystem::remove(config_, ignored);
  }
  /* Its path as the system names it. */
  WString config_path() const {
#ifdef _WIN32
    return config_.wstring();
#else
    return u"\\residentflash2\\Velmar\\config.ini";
#endif
  }

 private:
  static std::string read_path(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::filesystem::path root_;
  std::filesystem::path config_;
#ifdef _WIN32
  WCHAR previous_directory_[MAX_PATH];
#endif
};

/* "话务员设定地址" in GBK (code page 936). */
inline const std::string& gbk_name() {
  static const std::string bytes = "\xBB\xB0\xCE\xF1\xD4\xB1\xC9\xE8\xB6\xA8\xB5\xD8\xD6\xB7";
  return bytes;
}

}  // namespace handoff_fixture
