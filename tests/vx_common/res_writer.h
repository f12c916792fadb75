/* Test helper: writes resource files (record table, then item store) byte by
 * byte, so that every fixture is built in the test that uses it. */
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

struct ResWriter {
  std::vector<uint8_t> bytes;

  void u8(uint8_t v) { bytes.push_back(v); }
  void u16(uint16_t v) {
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    u16(static_cast<uint16_t>(v));
    u16(static_cast<uint16_t>(v >> 16));
  }
  void raw(const std::vector<uint8_t>& data) { bytes.insert(bytes.end(), data.begin(), data.end()); }
  /* ASCII text as UTF-16LE code units, no terminator. */
  void wide(const std::string& ascii) {
    for (char c : ascii) u16(static_cast<uint8_t>(c));
  }
  /* Padding to the next multiple of 4 from the start of the file, with a
   * non-zero filler so that reading it as data would show. */
  void pad4() {
    while (bytes.size() % 4) u8(0xEE);
  }
  /* A text or blob field: length, bytes, padding (none for an empty one). */
  void sized(const std::vector<uint8_t>& data) {
    u32(static_cast<uint32_t>(data.size()));
    raw(data);
    if (!data.empty()) pad4();
  }
  void header(const std::vector<int32_t>& types, int32_t records) {
    wide("VXDATA START");
    u32(static_cast<uint32_t>(types.size()));
    for (int32_t t : types) u32(static_cast<uint32_t>(t));
    u32(static_cast<uint32_t>(records));
    wide(" END");
  }
  /* An item store of the given items, their records right after the tables. */
  void store(const std::vector<std::vector<uint8_t>>& items) {
    u32(static_cast<uint32_t>(items.size()));
    for (const auto& item : items) u32(static_cast<uint32_t>(item.size()));
    uint32_t at = static_cast<uint32_t>(bytes.size() + 4 * items.size());
    for (const auto& item : items) {
      u32(at);
      at += static_cast<uint32_t>(4 + item.size());
    }
    for (size_t i = 0; i < items.size(); ++i) {
      u32(static_cast<uint32_t>(i));
      raw(items[i]);
    }
  }
  /* The bytes in an anonymous temporary file, positioned at its start. */
  FILE* file(size_t length = SIZE_MAX) const {
    FILE* f = tmpfile();
    if (!f) return nullptr;
    size_t n = length < bytes.size() ? length : bytes.size();
    if (n) fwrite(bytes.data(), 1, n, f);
    rewind(f);
    return f;
  }
};

/* UTF-16LE bytes of ASCII text, with a terminating zero unit when asked. */
inline std::vector<uint8_t> utf16le(const std::string& ascii, bool terminator) {
  std::vector<uint8_t> out;
  for (char c : ascii) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(0);
  }
  if (terminator) {
    out.push_back(0);
    out.push_back(0);
  }
  return out;
}
