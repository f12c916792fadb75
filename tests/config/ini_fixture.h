/* Fixtures of the configuration tests: a throw-away folder (the device root
 * on the host, a temporary folder of the real file system on Windows), and
 * INI files generated from readable UTF-8 text in either of the two encodings
 * a device file may have (GBK, or UTF-16LE with its mark), converted with
 * iconv on the host and the code page calls on Windows. */
#pragma once

#include <stdlib.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <atomic>
#else
#include <iconv.h>

#include "plat/host.h"
#endif

namespace fixture {

typedef std::basic_string<WCHAR> WString;

enum class Encoding { Gbk, Utf16 };

inline const char* name_of(Encoding e) { return e == Encoding::Gbk ? "GBK" : "UTF-16LE"; }

#ifdef _WIN32
inline WString wide(const std::string& utf8) {
  if (utf8.empty()) return WString();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
  WString out((size_t)n, 0);
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &out[0], n);
  return out;
}
inline std::string utf8(const WString& s) {
  if (s.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0, nullptr, nullptr);
  std::string out((size_t)n, 0);
  WideCharToMultiByte(CP_UTF8, 0, s.data(), (int)s.size(), &out[0], n, nullptr, nullptr);
  return out;
}
/* UTF-8 text as bytes of "GBK" or "UTF-16LE". */
inline std::string convert(const std::string& in, const char* to) {
  WString w = wide(in);
  if (std::string(to) == "UTF-16LE") return std::string((const char*)w.data(), w.size() * 2);
  if (w.empty()) return std::string();
  BOOL lost = FALSE;
  int n = WideCharToMultiByte(936, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, &lost);
  std::string out((size_t)n, 0);
  WideCharToMultiByte(936, 0, w.data(), (int)w.size(), &out[0], n, nullptr, &lost);
  if (lost) throw std::runtime_error("no GBK for: " + in);
  return out;
}
#else
inline WString wide(const std::string& utf8) { return plat::utf8_to_utf16(utf8); }
inline std::string utf8(const WString& s) { return plat::utf16_to_utf8(s); }
/* UTF-8 text as bytes of "GBK" or "UTF-16LE". */
inline std::string convert(const std::string& in, const char* to) {
  iconv_t cd = iconv_open(to, "UTF-8");
  if (cd == (iconv_t)-1) throw std::runtime_error(std::string("iconv cannot convert to ") + to);
  std::string out(in.size() * 4 + 8, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = &out[0];
  size_t dst_left = out.size();
  size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
  iconv_close(cd);
  if (r == (size_t)-1) throw std::runtime_error("iconv failed on: " + in);
  out.resize(out.size() - dst_left);
  return out;
}
#endif

/* The bytes of a file holding text: GBK bytes, or the mark FF FE and UTF-16LE. */
inline std::string file_bytes(Encoding e, const std::string& utf8) {
  if (e == Encoding::Gbk) return convert(utf8, "GBK");
  return std::string("\xFF\xFE") + convert(utf8, "UTF-16LE");
}

/* The length of text in the file's units: bytes of GBK, UTF-16 units. */
inline int units_of(Encoding e, const std::string& utf8) {
  if (e == Encoding::Gbk) return (int)convert(utf8, "GBK").size();
  return (int)convert(utf8, "UTF-16LE").size() / 2;
}

/* A fresh folder for one test: on the host the device root, where files are
 * "\name"; on Windows a temporary folder, where they are "<folder>\name". */
class DeviceRoot {
 public:
  DeviceRoot() {
#ifdef _WIN32
    static std::atomic<int> serial{0};
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    /* Process ids come round again: a name left by an earlier run is passed over. */
    for (;;) {
      base_ = WString(temp) + L"velmar-config-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(serial++);
      if (CreateDirectoryW(base_.c_str(), NULL)) break;
      if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot make the folder");
    }
    root_ = std::filesystem::path(base_);
    base_ += L"\\";
    current_base() = base_;
#else
    char pattern[] = "/tmp/velmar-config-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    plat::set_device_root(root_.string());
#endif
  }
  ~DeviceRoot() {
    std::error_code ignored;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    for (auto& entry : std::filesystem::directory_iterator(root_, ignored))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root_, ignored);
  }
  DeviceRoot(const DeviceRoot&) = delete;
  DeviceRoot& operator=(const DeviceRoot&) = delete;

  std::filesystem::path host(const std::string& name) const { return root_ / name; }
#ifdef _WIN32
  /* The path of a file in the newest folder. */
  static WString device(const std::string& name) { return current_base() + wide(name); }
#else
  /* Built in place: GCC 12 at -O3 takes `u"\\" + wide(name)` for an
   * overlapping copy (-Wrestrict) once the concatenation is inlined. */
  static WString device(const std::string& name) {
    WString path = wide(name);
    path.insert(path.begin(), u'\\');
    return path;
  }
#endif

  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(host(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
  }
  std::string read(const std::string& name) const {
    std::ifstream in(host(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(host(name)); }
  void remove(const std::string& name) const {
    std::error_code ignored;
    std::filesystem::remove(host(name), ignored);
  }

 private:
  std::filesystem::path root_;
#ifdef _WIN32
  WString base_;
  static WString& current_base() {
    static WString base;
    return base;
  }
#endif
};

/* Printable form of file bytes for failure messages. */
inline std::string escaped(const std::string& bytes) {
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

}  // namespace fixture
