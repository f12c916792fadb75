#include "vx_ximabmp.h"

#include <stdint.h>

#include "vx_alloc.h"

namespace {

const WORD kTypeBM = 0x4D42;

enum { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3 };

DWORD le16(const BYTE* p) { return static_cast<DWORD>(p[0] | (p[1] << 8)); }
DWORD le32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
         (static_cast<DWORD>(p[3]) << 24);
}

LONG clamp_offset(long long offset) {
  if (offset > INT32_MAX) return INT32_MAX;
  if (offset < INT32_MIN) return INT32_MIN;
  return static_cast<LONG>(offset);
}

/* Moves the stream forward by `count` bytes (clamped at the end of the data). */
void skip(VxStream* stream, long long count) {
  if (count <= 0) return;
  LONG here = vx_xstream_tell(stream);
  vx_xstream_seek(stream, clamp_offset(here + count), VX_SEEK_SET);
}

LONG bytes_left(VxStream* stream) {
  LONG here = vx_xstream_tell(stream);
  LONG end = vx_xstream_seek(stream, 0, VX_SEEK_END);
  vx_xstream_seek(stream, here, VX_SEEK_SET);
  return here < 0 || end < here ? 0 : end - here;
}

/* (bits x width + 31) / 32 in signed arithmetic: the 32-bit words of a row. */
long long row_words_of(const VxImageHeader& h) { return (static_cast<long long>(h.bits) * h.width + 31) / 32; }

/* Whether the header's image size (as a signed value) equals 4 x height x the
 * row words; a product beyond 32 bits never does. */
bool image_size_matches(const VxImageHeader& h) {
  const long long limit = 1LL << 31;
  long long words = row_words_of(h);
  if (words > limit || words < -limit) return false;
  long long product = words * h.height;
  if (product > limit || product < -limit) return false;
  return 4 * product == static_cast<LONG>(h.image_size);
}

void fail_at_start(VxImage* image, VxStream* stream, LONG start, const char* message) {
  vx_xstream_seek(stream, start, VX_SEEK_SET);
  if (message) vx_ximage_set_error(image, message);
}

/* Walks the pixel block for the RLE decoders. Holds a reference on the image
 * while decoding. Writes never leave the current row. */
struct RleCursor {
  VxImage* image;
  BYTE* row;        /* current row pointer */
  LONG row_index;   /* target row; at or above the height means outside the image */
  LONG offset;      /* byte offset in the row; at or above the stride means past its end */
  int low;          /* RLE4: the next pixel goes into the low half of the byte */

  explicit RleCursor(VxImage* target)
      : image(vx_ximage_retain(target)), row(vx_ximage_row(target, 0)), row_index(0), offset(0), low(0) {}
  ~RleCursor() { vx_ximage_release(image); }
  RleCursor(const RleCursor&) = delete;
  RleCursor& operator=(const RleCursor&) = delete;

  LONG stride() const { return image->stride; }
  LONG height() const { return image->header.height; }

  /* The row pointer follows the row index while that row lies inside the image. */
  void position() {
    if (row_index < height()) row = vx_ximage_row(image, row_index);
  }
  void next_line() {
    offset = 0;
    low = 0;
    if (row_index < height()) row_index++;
  }
  void move_rows(int rows) {
    long long target = static_cast<long long>(row_index) + rows;
    row_index = static_cast<LONG>(target < height() ? target : height());
  }
  void move_bytes(long long bytes) {
    long long target = offset + bytes;
    offset = static_cast<LONG>(target < stride() ? target : stride());
  }
  void move_pixels4(long long pixels) {
    long long position = static_cast<long long>(offset) * 2 + low + pixels;
    long long limit = static_cast<long long>(stride()) * 2;
    if (position > limit) position = limit;
    offset = static_cast<LONG>(position / 2);
    low = static_cast<int>(position & 1);
  }
  bool inside_row() const { return offset < stride(); }
  /* How many of `count` bytes fit between the offset and the row end. */
  LONG room(int count) const {
    LONG left = stride() - offset;
    return count < left ? count : left;
  }
  void put4(int value) {
    if (inside_row()) {
      BYTE& b = row[offset];
      b = low ? static_cast<BYTE>((b & 0xF0) | (value & 0x0F)) : static_cast<BYTE>((b & 0x0F) | ((value & 0x0F) << 4));
    }
    move_pixels4(1);
  }
};

/* RLE8: runs of one byte, absolute runs, end of line, delta, end of bitmap.
 * The decoding ends at the end of the data, at the end-of-bitmap code, or
 * when an encoded run reaches the end of its row. */
void decode_rle8(VxImage* image, VxStream* stream) {
  RleCursor it(image);
  if (!it.row) return;
  for (;;) {
    int k = vx_xstream_getc(stream);
    if (k < 0) return;
    if (k > 0) {
      it.position();
      int v = vx_xstream_getc(stream);
      if (v < 0) return;
      LONG n = it.room(k);
      memset(it.row + it.offset, v, static_cast<size_t>(n));
      it.move_bytes(n);
      if (n < k) return;
      continue;
    }
    int d = vx_xstream_getc(stream);
    if (d < 0 || d == 1) return;
    if (d == 0) {
      it.next_line();
    } else if (d == 2) {
      int dx = vx_xstream_getc(stream);
      int dy = vx_xstream_getc(stream);
      if (dx < 0 || dy < 0) return;
      it.move_bytes(dx);
      it.move_rows(dy);
    } else {
      it.position();
      /* The bytes past the row end are read and dropped. */
      LONG n = it.room(d);
      if (vx_xstream_read(stream, it.row + it.offset, n) != n) return;
      it.move_bytes(n);
      for (int i = n; i < d; ++i)
        if (vx_xstream_getc(stream) < 0) return;
      if ((d & 1) && vx_xstream_getc(stream) < 0) return;
    }
  }
}

/* RLE4: pixels in stream order, the high nibble of each byte first. An encoded
 * run alternates the colour byte's high and low nibbles; an absolute run of d
 * pixels holds (d + 1) / 2 bytes, padded to a 16-bit boundary; a delta moves
 * dx pixels right and dy rows up. The decoding ends at the end of the data or
 * at the end-of-bitmap code. */
void decode_rle4(VxImage* image, VxStream* stream) {
  RleCursor it(image);
  if (!it.row) return;
  for (;;) {
    int k = vx_xstream_getc(stream);
    if (k < 0) return;
    if (k > 0) {
      it.position();
      int v = vx_xstream_getc(stream);
      if (v < 0) return;
      for (int i = 0; i < k; ++i) it.put4(i & 1 ? v & 0x0F : v >> 4);
      continue;
    }
    int d = vx_xstream_getc(stream);
    if (d < 0 || d == 1) return;
    if (d == 0) {
      it.next_line();
    } else if (d == 2) {
      int dx = vx_xstream_getc(stream);
      int dy = vx_xstream_getc(stream);
      if (dx < 0 || dy < 0) return;
      it.move_rows(dy);
      it.move_pixels4(dx);
    } else {
      it.position();
      int bytes = (d + 1) / 2;
      for (int j = 0; j < bytes; ++j) {
        int b = vx_xstream_getc(stream);
        if (b < 0) return;
        it.put4(b >> 4);
        if (2 * j + 1 < d) it.put4(b & 0x0F);
      }
      if ((bytes & 1) && vx_xstream_getc(stream) < 0) return;
    }
  }
}

/* One colour channel of a bit-field pixel, scaled to 8 bits. */
struct Channel {
  DWORD mask;
  int shift;
  DWORD max;

  explicit Channel(DWORD m) : mask(m), shift(0), max(0) {
    if (!m) return;
    while (!((m >> shift) & 1)) shift++;
    max = m >> shift;
  }
  BYTE operator()(DWORD pixel) const {
    if (!max) return 0;
    unsigned long long v = (pixel & mask) >> shift;
    if (max == 0xFF) return static_cast<BYTE>(v);
    return static_cast<BYTE>((v * 255 + max / 2) / max);
  }
};

/* 32 bits: each pixel becomes blue, green, red, 0 through the three masks. */
int decode_rgb32(VxImage* image, VxStream* stream, LONG start, const DWORD masks[3]) {
  const LONG width = image->header.width;
  const LONG height = image->header.height;
  unsigned long long wanted = static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height) * 4;
  /* Only the bytes the data still holds are taken. */
  unsigned long long take = static_cast<unsigned long long>(bytes_left(stream));
  if (take > wanted) take = wanted;
  take &= ~3ULL;
  if (take == 0) return 1;
  BYTE* buffer = static_cast<BYTE*>(VX_ALLOC(static_cast<size_t>(take)));
  if (!buffer) {
    fail_at_start(image, stream, start, "can't allocate memory");
    vx_ximage_destroy_pixels(image);
    return 0;
  }
  int got = vx_xstream_read(stream, buffer, static_cast<LONG>(take));
  const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
  const bool standard = masks[0] == 0x00FF0000 && masks[1] == 0x0000FF00 && masks[2] == 0x000000FF;
  unsigned long long count = got > 0 ? static_cast<unsigned long long>(got) / 4 : 0;
  for (unsigned long long i = 0; i < count; ++i) {
    const BYTE* in = buffer + i * 4;
    BYTE* out = vx_ximage_row(image, static_cast<LONG>(i / width)) + (i % width) * 4;
    if (standard) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
    } else {
      DWORD pixel = le32(in);
      out[0] = blue(pixel);
      out[1] = green(pixel);
      out[2] = red(pixel);
    }
    out[3] = 0;
  }
  VX_FREE(buffer);
  return 1;
}

/* Reads the three bit-field masks (red, green, blue) at the stream's position. */
void read_masks(VxStream* stream, DWORD masks[3]) {
  BYTE raw[12] = {0};
  vx_xstream_read(stream, raw, sizeof raw);
  for (int i = 0; i < 3; ++i) masks[i] = le32(raw + 4 * i);
}

void store_masks(VxImage* image, const DWORD masks[3]) {
  BYTE* palette = vx_ximage_palette(image);
  for (int i = 0; i < 3; ++i) memcpy(palette + 4 * i, &masks[i], 4);
}

}  // namespace

int vx_ximabmp_read_header(VxImage* image, VxStream* stream, VxImageHeader* header) {
  if (!image || !stream || !header) return 0;
  memset(header, 0, sizeof *header);
  LONG at = vx_xstream_tell(stream);
  if (vx_xstream_read(stream, header, sizeof *header) <= 0) {
    vx_ximage_set_error(image, "read BITMAPINFOHEADER len error");
    return 0;
  }
  if (header->size == 12) {
    BYTE core[12];
    memcpy(core, header, sizeof core);
    memset(header, 0, sizeof *header);
    header->size = 12;
    header->width = static_cast<LONG>(le16(core + 4));
    header->height = static_cast<LONG>(le16(core + 6));
    header->planes = static_cast<WORD>(le16(core + 8));
    header->bits = static_cast<WORD>(le16(core + 10));
    vx_xstream_seek(stream, at + 12, VX_SEEK_SET);
  } else if (header->size == 40) {
    /* The info header itself. */
  } else if (header->size == 64) {
    skip(stream, 24);
  } else if (header->size < 40) {
    return 0;
  } else {
    if (!image_size_matches(*header) || header->planes != 1 || header->compression != kRgb || header->colors_used != 0)
      return 0;
    skip(stream, static_cast<long long>(header->size) - 40);
  }
  if (header->image_size == 0) {
    /* Taken modulo 2^32, as the 32-bit field holds it. */
    unsigned long long row_words = static_cast<unsigned long long>(row_words_of(*header));
    header->image_size = static_cast<DWORD>(row_words * 4 * static_cast<unsigned long long>(static_cast<long long>(header->height)));
  }
  if (header->colors_used == 0) header->colors_used = header->bits <= 8 ? 1u << header->bits : 0;
  return 1;
}

int vx_ximabmp_decode(VxImage* image, VxStream* stream) {
  if (!image) return 0;
  if (!stream) {
    vx_ximage_set_error(image, "Not a BMP");
    return 0;
  }
  const LONG start = vx_xstream_tell(stream);
  BYTE file_header[14];
  if (vx_xstream_read(stream, file_header, sizeof file_header) != static_cast<int>(sizeof file_header)) {
    vx_ximage_set_error(image, "Not a BMP");
    return 0;
  }
  if (le16(file_header) != kTypeBM) {
    fail_at_start(image, stream, start, nullptr);
    return 0;
  }
  const DWORD data_offset = le32(file_header + 10);

  VxImageHeader h;
  if (!vx_ximabmp_read_header(image, stream, &h)) return 0;
  const bool core = h.size == 12;
  const bool top_down = h.height < 0;
  const long long height = top_down ? -static_cast<long long>(h.height) : h.height;
  const int bits = h.bits;

  if (height > INT32_MAX || !vx_ximage_create(image, h.width, static_cast<LONG>(height), bits)) {
    fail_at_start(image, stream, start, "Can't allocate memory");
    return 0;
  }

  /* Palette. The file's entries that the image has no room for are skipped,
   * so that the pixel data follows the palette when the file gives no offset. */
  const unsigned long long listed = h.colors_used;
  const int entry = core ? 3 : 4;
  BYTE* palette = vx_ximage_palette(image);
  if (bits == 1 || bits == 4 || bits == 8) {
    const DWORD room = image->header.colors_used;
    const DWORD kept = listed < room ? static_cast<DWORD>(listed) : room;
    vx_xstream_read(stream, palette, static_cast<LONG>(kept * entry));
    if (core) {
      for (DWORD i = kept; i-- > 0;) {
        BYTE b = palette[3 * i], g = palette[3 * i + 1], r = palette[3 * i + 2];
        palette[4 * i] = b;
        palette[4 * i + 1] = g;
        palette[4 * i + 2] = r;
        palette[4 * i + 3] = 0;
      }
    }
    for (DWORD i = 0; i < room; ++i) palette[4 * i + 3] = 0;
    skip(stream, static_cast<long long>(listed - kept) * entry);
  } else {
    /* 16 and 32 bits: bit-field masks come right after the info header, before
     * any palette; without them the depth's default masks apply. */
    DWORD masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bits == 32) {
      masks[0] = 0x00FF0000;
      masks[1] = 0x0000FF00;
      masks[2] = 0x000000FF;
    }
    if ((bits == 16 || bits == 32) && h.compression == kBitFields) read_masks(stream, masks);
    if (bits == 16) store_masks(image, masks);
    skip(stream, static_cast<long long>(listed) * entry);
    if (bits == 32) {
      if (h.compression != kRgb && h.compression != kBitFields) {
        vx_ximage_destroy_pixels(image);
        vx_ximage_set_error(image, "unknown compression");
        return 0;
      }
      if (data_offset) vx_xstream_seek(stream, clamp_offset(static_cast<long long>(start) + data_offset), VX_SEEK_SET);
      if (!decode_rgb32(image, stream, start, masks)) return 0;
      return !top_down || vx_ximage_flip(image);
    }
  }

  if (data_offset) vx_xstream_seek(stream, clamp_offset(static_cast<long long>(start) + data_offset), VX_SEEK_SET);
  const LONG image_size = static_cast<LONG>(image->header.image_size);
  switch (bits) {
    case 1:
    case 4:
    case 8:
      if (h.compression == kRgb) {
        vx_xstream_read(stream, image->pixels, image_size);
      } else if (h.compression == kRle8) {
        decode_rle8(image, stream);
      } else if (h.compression == kRle4) {
        decode_rle4(image, stream);
      } else {
        fail_at_start(image, stream, start, "compression type not supported");
        return 0;
      }
      break;
    case 16:
      vx_xstream_read(stream, image->pixels, image_size);
      break;
    case 24:
      if (h.compression != kRgb) {
        fail_at_start(image, stream, start, "unknown compression");
        vx_ximage_destroy_pixels(image);
        return 0;
      }
      vx_xstream_read(stream, image->pixels, image_size);
      break;
    default:
      /* 2 bits: no pixel data is read; the rows stay cleared. */
      break;
  }
  return !top_down || vx_ximage_flip(image);
}
