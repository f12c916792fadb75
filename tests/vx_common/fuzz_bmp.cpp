/* Fuzz target: any bytes decoded as a BMP file by the built-in decoder.
 * Pictures of more than 2 MB (an 800 x 480 screen at 32 bits is 1.5 MB) are skipped: they only repeat the size checks
 * (covered by the unit tests) at the cost of clearing a large block. */
#include <stdint.h>

#include "vx_ximage.h"

namespace {

uint32_t le(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

bool too_large(const uint8_t* data, size_t size) {
  if (size < 30) return false;
  const bool core = le(data + 14, 4) == 12;
  long long width = core ? static_cast<long long>(le(data + 18, 2)) : static_cast<int32_t>(le(data + 18, 4));
  long long height = core ? static_cast<long long>(le(data + 20, 2)) : static_cast<int32_t>(le(data + 22, 4));
  long long bits = core ? le(data + 24, 2) : le(data + 28, 2);
  if (width < 0) width = -width;
  if (height < 0) height = -height;
  return width * height > (2LL << 20) || width * height * bits / 8 > (2LL << 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x7FFFFFFF || too_large(data, size)) return 0;
  VxImage* image = nullptr;
  if (!vx_ximage_new(&image, VX_XIMAGE_BMP)) return 0;
  if (vx_ximage_decode(image, data, static_cast<LONG>(size))) {
    /* Touch both ends of the block. */
    volatile uint8_t first = image->pixels[0];
    volatile uint8_t last = image->pixels[image->header.image_size - 1];
    (void)first;
    (void)last;
  }
  vx_ximage_release(image);
  return 0;
}
