/* Fuzz target: any bytes decoded as a BMP file by the built-in decoder. */
#include <stdint.h>

#include "vx_ximage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x7FFFFFFF) return 0;
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
