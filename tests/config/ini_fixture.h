/* Fixtures of the configuration tests: a throw-away device root, and INI files
 * generated from readable UTF-8 text in either of the two encodings a device
 * file may have (GBK, or UTF-16LE with its mark), converted with iconv. */
#pragma once

#include <iconv.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "plat/host.h"

namespace fixture {

enum class Encoding { Gbk, Utf16 };

inline const char* name_of(Encoding e) { return e == Encoding::Gbk ? "GBK" : "UTF-16LE"; }

inline std::string iconv_convert(const std::string& in, const char* to) {
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

/* The bytes of a file holding text: GBK bytes, or the mark FF FE and UTF-16LE. */
inline std::string file_bytes(Encoding e, const std::string& utf8) {
  if (e == Encoding::Gbk) return iconv_convert(utf8, "GBK");
  return std::string("\xFF\xFE") + iconv_convert(utf8, "UTF-16LE");
}

/* The length of text in the file's units: bytes of GBK, UTF-16 units. */
inline int units_of(Encoding e, const std::string& utf8) {
  if (e == Encoding::Gbk) return (int)iconv_convert(utf8, "GBK").size();
  return (int)iconv_convert(utf8, "UTF-16LE").size() / 2;
}

/* A fresh device root for one test; files are addressed as "\name". */
class DeviceRoot {
 public:
  DeviceRoot() {
    char pattern[] = "/tmp/velmar-config-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    plat::set_device_root(root_);
  }
  ~DeviceRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  DeviceRoot(const DeviceRoot&) = delete;
  DeviceRoot& operator=(const DeviceRoot&) = delete;

  std::string host(const std::string& name) const { return root_ + "/" + name; }
  static std::u16string device(const std::string& name) { return u"\\" + plat::utf8_to_utf16(name); }

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
  std::string root_;
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
