/* Fixtures of the installer's tests: a throw-away folder (the device root on
 * the host, a temporary folder of the real file system on Windows), packages
 * and REGEDIT4 files made by small generators, registry read-back, and a
 * stand-in for the platform's message box that records what it was asked to
 * show (a real box would wait for a person on Windows).
 *
 * Include it in exactly one source file of a test program: it defines the
 * installer's show_message_box in place of the library's. */
#pragma once

#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "message_box.h"
#include "package.h"

#ifdef _WIN32
#include <atomic>
#else
#include "plat/host.h"
#endif

namespace fixture {

typedef std::basic_string<WCHAR> WString;

/* ASCII text as UTF-16. */
inline WString W(const std::string& ascii) { return WString(ascii.begin(), ascii.end()); }
inline std::string A(const WString& text) {
  std::string out;
  for (WCHAR c : text) out += c < 0x80 ? (char)c : '?';
  return out;
}

/* ---- The stand-in message box. ---- */
struct Box {
  std::string text, title;
  UINT type;
};
inline std::vector<Box>& boxes() {
  static std::vector<Box> shown;
  return shown;
}

/* ---- A fresh folder for one test. ---- */
class DeviceRoot {
 public:
  DeviceRoot() {
#ifdef _WIN32
    static std::atomic<int> serial{0};
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    for (;;) {
      base_ = WString(temp) + L"velmar-installer-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(serial++);
      if (CreateDirectoryW(base_.c_str(), NULL)) break;
      if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot make the folder");
    }
    root_ = std::filesystem::path(base_);
    base_ += L"\\";
#else
    char pattern[] = "/tmp/velmar-installer-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    plat::set_device_root(root_.string());
#endif
    boxes().clear();
  }
  ~DeviceRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  DeviceRoot(const DeviceRoot&) = delete;
  DeviceRoot& operator=(const DeviceRoot&) = delete;

  /* The host path of name ("a/b" or "a\\b" inside the folder). */
  std::filesystem::path host(std::string name) const {
    for (char& c : name)
      if (c == '\\') c = '/';
    return root_ / name;
  }
  /* The path the system's code is given for name. */
  WString device(const std::string& name) const {
#ifdef _WIN32
    return base_ + W(name);
#else
    /* Built in place: GCC 12 at -O3 takes `u"\\" + W(name)` for an
     * overlapping copy (-Wrestrict) once the concatenation is inlined. */
    WString path = W(name);
    path.insert(path.begin(), u'\\');
    return path;
#endif
  }

  void write(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories(host(name).parent_path());
    std::ofstream out(host(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
  }
  std::string read(const std::string& name) const {
    std::ifstream in(host(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(host(name)); }
  bool is_folder(const std::string& name) const {
    return std::filesystem::is_directory(host(name));
  }

 private:
  std::filesystem::path root_;
#ifdef _WIN32
  WString base_;
#endif
};

/* ---- Packages. ---- */
inline FILETIME file_time(uint64_t value) {
  FILETIME ft;
  ft.dwLowDateTime = (DWORD)value;
  ft.dwHighDateTime = (DWORD)(value >> 32);
  return ft;
}
inline uint64_t time_value(const FILETIME& ft) {
  return (uint64_t)ft.dwHighDateTime << 32 | ft.dwLowDateTime;
}

/* 2021-03-04 05:06:07 UTC and later seconds, as file times. */
constexpr uint64_t kSomeTime = 132592623670000000ULL;

struct Entry {
  bool folder = false;
  std::string folder_field;  /* relative folder */
  std::string name;
  std::string contents;
  uint64_t creation = kSomeTime, access = kSomeTime + 20000000, write = kSomeTime + 10000000;
  DWORD size_high = 0;
  long long declared_size = -1; /* -1: the contents' size */
  bool terminate_name = true;   /* false: the name field is filled to its end */
};

inline void put(WCHAR* field, const std::string& text, bool terminate) {
  size_t n = text.size() < PACKAGE_NAME_CHARS ? text.size() : PACKAGE_NAME_CHARS;
  for (size_t i = 0; i < n; i++) field[i] = (WCHAR)(unsigned char)text[i];
  if (!terminate) {
    for (size_t i = n; i < PACKAGE_NAME_CHARS; i++) field[i] = 'x';
  }
}

/* The bytes of one entry: its header (little-endian, as the host and Windows
 * store it) and its contents. */
inline std::string entry_bytes(const Entry& e) {
  PackageEntryHeader h;
  memset(&h, 0, sizeof h);
  h.attributes = e.folder ? PACKAGE_FOLDER_ATTRIBUTE : FILE_ATTRIBUTE_ARCHIVE;
  h.creation_time = file_time(e.creation);
  h.last_access_time = file_time(e.access);
  h.last_write_time = file_time(e.write);
  h.size_high = e.size_high;
  h.size_low = e.declared_size >= 0 ? (DWORD)e.declared_size : (DWORD)e.contents.size();
  put(h.name, e.name, e.terminate_name);
  put(h.folder, e.folder_field, true);
  /* Fields that are not read carry noise. */
  memset(h.reserved, 0xA5, sizeof h.reserved);
  for (WCHAR& c : h.short_name) c = 'S';
  for (WCHAR& c : h.unused) c = 'U';
  h.unused_tail = 0xDEADBEEF;
  return std::string((const char*)&h, sizeof h) + e.contents;
}

inline std::string package_bytes(const std::vector<Entry>& entries) {
  std::string out;
  for (const Entry& e : entries) out += entry_bytes(e);
  return out;
}

inline Entry file(const std::string& folder, const std::string& name, const std::string& contents) {
  Entry e;
  e.folder_field = folder;
  e.name = name;
  e.contents = contents;
  return e;
}
inline Entry folder(const std::string& folder, const std::string& name) {
  Entry e;
  e.folder = true;
  e.folder_field = folder;
  e.name = name;
  return e;
}

/* The three times of a file as the platform reports them. */
struct Times {
  uint64_t creation = 0, access = 0, write = 0;
};
inline bool file_times(const WString& path, Times* times) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, NULL);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME c, a, w;
  BOOL ok = GetFileTime(h, &c, &a, &w);
  CloseHandle(h);
  if (!ok) return false;
  times->creation = time_value(c);
  times->access = time_value(a);
  times->write = time_value(w);
  return true;
}

/* ---- Registry. All test keys live under kTestKey of HKEY_CURRENT_USER and
 * HKEY_LOCAL_MACHINE; RegistryScope removes them before and after a test. ---- */
inline const char* kTestKey() { return "Software\\VelmarInstallerTest"; }

inline void delete_tree(HKEY root, const WString& path) {
  HKEY key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  for (;;) {
    WCHAR name[256];
    DWORD n = 256;
    if (RegEnumKeyExW(key, 0, name, &n, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) break;
    delete_tree(key, WString(name, n));
  }
  RegCloseKey(key);
  RegDeleteKeyW(root, path.c_str());
}

struct RegistryScope {
  RegistryScope() { clean(); }
  ~RegistryScope() { clean(); }
  static void clean() {
    delete_tree(HKEY_CURRENT_USER, W(kTestKey()));
    delete_tree(HKEY_LOCAL_MACHINE, W(kTestKey()));
  }
};

struct Value {
  bool found = false;
  DWORD type = 0;
  std::string bytes;
};

inline Value query(HKEY root, const std::string& path, const std::string& name) {
  Value v;
  HKEY key;
  if (RegOpenKeyExW(root, W(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
  static BYTE data[8192];
  DWORD size = sizeof data;
  WString wide_name = W(name);
  if (RegQueryValueExW(key, wide_name.c_str(), NULL, &v.type, data, &size) == ERROR_SUCCESS) {
    v.found = true;
    v.bytes.assign((const char*)data, size);
  }
  RegCloseKey(key);
  return v;
}

inline bool key_exists(HKEY root, const std::string& path) {
  HKEY key;
  if (RegOpenKeyExW(root, W(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

inline void create_key(HKEY root, const std::string& path) {
  HKEY key;
  if (RegCreateKeyExW(root, W(path).c_str(), 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) ==
      ERROR_SUCCESS)
    RegCloseKey(key);
}

/* UTF-16LE bytes of ASCII text, as a REG_SZ value stores it. */
inline std::string utf16_bytes(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

/* Printable form of bytes for failure messages. */
inline std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

}  // namespace fixture

/* The stand-in for the platform's message box. */
int show_message_box(const WCHAR* text, const WCHAR* title, UINT type) {
  fixture::boxes().push_back({fixture::A(text ? text : TEXT("")), fixture::A(title ? title : TEXT("")), type});
  return IDOK;
}
