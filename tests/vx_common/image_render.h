/* Test helpers: what a decoded image shows (as the platform's bitmap section
 * would draw it) and the suite's reference pictures read with libpng. */
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "vx_ximage.h"

/* A picture as 8-bit red, green, blue triples, rows top-down. */
struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

/* One n-bit channel scaled to 8 bits, rounded to nearest. */
inline uint8_t scale_channel(uint32_t pixel, uint32_t mask) {
  if (!mask) return 0;
  int shift = 0;
  while (!((mask >> shift) & 1)) shift++;
  uint64_t max = mask >> shift;
  uint64_t v = (pixel & mask) >> shift;
  return static_cast<uint8_t>((v * 255 + max / 2) / max);
}

/* Renders the image's block: palette indices through the palette, 16 bits
 * through the three masks held in the palette entries, 24 and 32 bits as
 * blue, green, red (and a dropped fourth byte). False for a depth without a
 * way to show it (2 bits: no palette). */
inline bool render_image(VxImage* image, RgbPicture* out) {
  const VxImageHeader& h = image->header;
  if (!image->block) return false;
  out->width = h.width;
  out->height = h.height;
  out->rgb.assign(static_cast<size_t>(h.width) * h.height * 3, 0);
  const uint8_t* palette = vx_ximage_palette(image);
  uint32_t masks[3] = {0, 0, 0};
  if (h.bits == 16)
    for (int i = 0; i < 3; ++i)
      masks[i] = palette[4 * i] | (palette[4 * i + 1] << 8) | (palette[4 * i + 2] << 16) |
                 (static_cast<uint32_t>(palette[4 * i + 3]) << 24);
  for (int y = 0; y < h.height; ++y) {
    const uint8_t* row = vx_ximage_row(image, h.height - 1 - y);
    for (int x = 0; x < h.width; ++x) {
      uint8_t* px = &out->rgb[(static_cast<size_t>(y) * h.width + x) * 3];
      uint8_t b = 0, g = 0, r = 0;
      switch (h.bits) {
        case 1:
        case 4:
        case 8: {
          int index;
          if (h.bits == 8)
            index = row[x];
          else if (h.bits == 4)
            index = x & 1 ? row[x / 2] & 0x0F : row[x / 2] >> 4;
          else
            index = (row[x / 8] >> (7 - x % 8)) & 1;
          b = palette[4 * index];
          g = palette[4 * index + 1];
          r = palette[4 * index + 2];
          break;
        }
        case 16: {
          uint32_t p = row[2 * x] | (row[2 * x + 1] << 8);
          r = scale_channel(p, masks[0]);
          g = scale_channel(p, masks[1]);
          b = scale_channel(p, masks[2]);
          break;
        }
        case 24:
          b = row[3 * x];
          g = row[3 * x + 1];
          r = row[3 * x + 2];
          break;
        case 32:
          b = row[4 * x];
          g = row[4 * x + 1];
          r = row[4 * x + 2];
          break;
        default:
          return false;
      }
      px[0] = r;
      px[1] = g;
      px[2] = b;
    }
  }
  return true;
}
