#include "vx_ximage.h"

#include "vx_alloc.h"
#include "vx_ximabmp.h"
#include "vx_xstream.h"

namespace {

const LONG kPelsPerMeter = 3780; /* 96 dots per inch */

static_assert(sizeof(VxImageHeader) == sizeof(BITMAPINFOHEADER), "the block header is a BITMAPINFOHEADER");

bool depth_supported(int bits) {
  switch (bits) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: return true;
    default: return false;
  }
}

}  // namespace

void vx_ximage_set_error(VxImage* image, const char* message) {
  if (!image) return;
  size_t n = message ? strlen(message) : 0;
  if (n >= sizeof image->error) n = sizeof image->error - 1;
  if (n) memcpy(image->error, message, n);
  image->error[n] = '\0';
}

int vx_ximage_new(VxImage** out, int kind) {
  if (!out) return 0;
  VxImage* image = static_cast<VxImage*>(VX_ALLOC(sizeof(VxImage)));
  *out = image;
  if (!image) return 0;
  memset(image, 0, sizeof *image);
  image->refs = 1;
  image->kind = kind;
  image->header.x_pels_per_meter = kPelsPerMeter;
  image->header.y_pels_per_meter = kPelsPerMeter;
  return 1;
}

VxImage* vx_ximage_retain(VxImage* image) {
  if (image) image->refs++;
  return image;
}

void vx_ximage_release(VxImage* image) {
  if (!image) return;
  if (image->refs > 1) {
    image->refs--;
    return;
  }
  vx_ximage_destroy_pixels(image);
  VX_FREE(image);
}

int vx_ximage_palette_size(int bits) {
  switch (bits) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    case 16: return 3;
    default: return 0;
  }
}

void vx_ximage_destroy_pixels(VxImage* image) {
  if (!image) return;
  VX_FREE(image->block);
  image->block = nullptr;
  image->pixels = nullptr;
}

BYTE* vx_ximage_create(VxImage* image, LONG width, LONG height, int bits) {
  if (!image) return nullptr;
  vx_ximage_destroy_pixels(image);
  if (width < 1 || height < 1 || !depth_supported(bits)) return nullptr;
  unsigned long long area = static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height);
  if (area > VX_XIMAGE_MAX_BITS) return nullptr;
  if (((area * static_cast<unsigned>(bits)) & ~7ULL) > VX_XIMAGE_MAX_BITS) return nullptr;

  unsigned long long stride = (static_cast<unsigned long long>(width) * static_cast<unsigned>(bits) + 31) / 32 * 4;
  unsigned long long image_size = stride * static_cast<unsigned long long>(height);
  DWORD colors = static_cast<DWORD>(vx_ximage_palette_size(bits));

  VxImageHeader& h = image->header;
  h.size = sizeof(VxImageHeader);
  h.width = width;
  h.height = height;
  h.planes = 1;
  h.bits = static_cast<WORD>(bits);
  h.compression = 3;
  h.image_size = static_cast<DWORD>(image_size);
  h.colors_used = colors;
  h.colors_important = 0;
  image->stride = static_cast<LONG>(stride);

  size_t total = sizeof(VxImageHeader) + 4u * colors + static_cast<size_t>(image_size);
  BYTE* block = static_cast<BYTE*>(VX_ALLOC(total));
  if (!block) {
    vx_ximage_set_error(image, "Create can't allocate memory");
    return nullptr;
  }
  /* The whole block is cleared: pixels that the data never writes are index 0 / black. */
  memset(block, 0, total);
  memcpy(block, &h, sizeof h);
  image->block = block;
  image->pixels = block + sizeof(VxImageHeader) + 4u * colors;
  return block;
}

BYTE* vx_ximage_palette(VxImage* image) {
  if (!image || !image->block || image->header.colors_used == 0) return nullptr;
  return image->block + sizeof(VxImageHeader);
}

BYTE* vx_ximage_row(VxImage* image, LONG row) {
  if (!image || !image->block || !image->pixels) return nullptr;
  if (row < 0 || row >= image->header.height) return nullptr;
  return image->pixels + static_cast<size_t>(row) * static_cast<size_t>(image->stride);
}

int vx_ximage_flip(VxImage* image) {
  if (!image || !image->block) return 0;
  VxImage* temp = nullptr;
  if (!vx_ximage_new(&temp, image->kind)) return 0;
  const VxImageHeader& h = image->header;
  if (!vx_ximage_create(temp, h.width, h.height, h.bits)) {
    vx_ximage_release(temp);
    return 0;
  }
  DWORD colors = h.colors_used < 256 ? h.colors_used : 256;
  if (colors && vx_ximage_palette(temp) && vx_ximage_palette(image))
    memcpy(vx_ximage_palette(temp), vx_ximage_palette(image), 4u * colors);
  for (LONG r = 0; r < h.height; ++r)
    memcpy(vx_ximage_row(temp, h.height - 1 - r), vx_ximage_row(image, r), static_cast<size_t>(image->stride));

  vx_ximage_destroy_pixels(image);
  image->block = temp->block;
  image->pixels = temp->pixels;
  image->header = temp->header;
  image->stride = temp->stride;
  temp->block = nullptr;
  temp->pixels = nullptr;
  vx_ximage_release(temp);
  return 1;
}

int vx_ximage_decode(VxImage* image, const void* data, LONG size) {
  if (!image) return 0;
  image->error[0] = '\0';
  VxStream* stream = nullptr;
  if (vx_openrmemory(&stream, data, size) != 0) {
    vx_ximage_set_error(image, "vx_openrmemory error");
    return 0;
  }
  vx_ximage_destroy_pixels(image);
  int ok = 0;
  if (image->kind == VX_XIMAGE_BMP) ok = vx_ximabmp_decode(image, stream);
  vx_xstream_close(stream);
  if (!ok) vx_ximage_destroy_pixels(image);
  return ok;
}

HBITMAP vx_ximage_make_bitmap(VxImage* image) {
  if (!image || !image->block) return nullptr;
  /* The block starts with the header and the colour table the section takes.
   * A 32-bit block has no colour table, but its bit-fields header needs the
   * three masks of its blue, green, red, unused layout after the header. */
  struct {
    VxImageHeader header;
    DWORD masks[3];
  } with_masks;
  /* Bit fields exist only at 16 and 32 bits: the other depths go to the
   * section as BI_RGB with the block's colour table, the same picture. */
  struct {
    VxImageHeader header;
    RGBQUAD colors[256];
  } plain;
  const void* info = image->block;
  if (image->header.bits == 32 && image->header.compression == 3 && image->header.colors_used == 0) {
    memcpy(&with_masks.header, image->block, sizeof with_masks.header);
    with_masks.masks[0] = 0x00FF0000;
    with_masks.masks[1] = 0x0000FF00;
    with_masks.masks[2] = 0x000000FF;
    info = &with_masks;
  } else if (image->header.bits != 16 && image->header.bits != 32 && image->header.colors_used <= 256) {
    memcpy(&plain, image->block, sizeof plain.header + 4u * image->header.colors_used);
    plain.header.compression = BI_RGB;
    info = &plain;
  }
  HDC dc = CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, static_cast<const BITMAPINFO*>(info), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap && bits) memcpy(bits, image->pixels, image->header.image_size);
  if (dc) DeleteDC(dc);
  return bitmap;
}
