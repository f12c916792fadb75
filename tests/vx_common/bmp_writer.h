/* Test helper: builds BMP files field by field, so that each decoder case
 * states exactly the bytes it feeds in. */
#pragma once

#include <stdint.h>

#include <vector>

struct BmpSpec {
  uint16_t type = 0x4D42;
  uint32_t header_size = 40;  /* 12: core header; above 40: zero-filled tail */
  int32_t width = 1;
  int32_t height = 1;
  uint16_t planes = 1;
  uint16_t bits = 24;
  uint32_t compression = 0;
  uint32_t image_size = 0;
  uint32_t colors_used = 0;
  std::vector<uint8_t> masks;    /* written right after the header */
  std::vector<uint8_t> palette;  /* raw palette bytes after the masks */
  std::vector<uint8_t> gap;      /* bytes between the palette and the pixels */
  bool zero_offset = false;      /* pixel data offset 0 in the file header */
  std::vector<uint8_t> pixels;
};

inline void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

inline std::vector<uint8_t> bmp_file(const BmpSpec& s) {
  std::vector<uint8_t> info;
  put32(info, s.header_size);
  if (s.header_size == 12) {
    put16(info, static_cast<uint32_t>(s.width));
    put16(info, static_cast<uint32_t>(s.height));
    put16(info, s.planes);
    put16(info, s.bits);
  } else {
    put32(info, static_cast<uint32_t>(s.width));
    put32(info, static_cast<uint32_t>(s.height));
    put16(info, s.planes);
    put16(info, s.bits);
    put32(info, s.compression);
    put32(info, s.image_size);
    put32(info, 2835);
    put32(info, 2835);
    put32(info, s.colors_used);
    put32(info, 0);
    while (info.size() < s.header_size) info.push_back(0);
  }
  const size_t offset = 14 + info.size() + s.masks.size() + s.palette.size() + s.gap.size();
  std::vector<uint8_t> out;
  put16(out, s.type);
  put32(out, static_cast<uint32_t>(offset + s.pixels.size()));
  put32(out, 0);
  put32(out, s.zero_offset ? 0 : static_cast<uint32_t>(offset));
  out.insert(out.end(), info.begin(), info.end());
  out.insert(out.end(), s.masks.begin(), s.masks.end());
  out.insert(out.end(), s.palette.begin(), s.palette.end());
  out.insert(out.end(), s.gap.begin(), s.gap.end());
  out.insert(out.end(), s.pixels.begin(), s.pixels.end());
  return out;
}

/* Three 32-bit masks, red, green, blue. */
inline std::vector<uint8_t> masks_of(uint32_t red, uint32_t green, uint32_t blue) {
  std::vector<uint8_t> out;
  put32(out, red);
  put32(out, green);
  put32(out, blue);
  return out;
}
