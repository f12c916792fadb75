/* All 256 ternary raster operations of BitBlt, checked against the
 * operation's formula: the result bit for pattern P, source S and
 * destination D is bit (P << 2 | S << 1 | D) of the operation's index (the
 * high word of the code). Pixels are raw destination values: on palette
 * formats the operation combines palette indices, on 16 bits the packed
 * words, on monochrome bitmaps the bits. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

namespace {

/* The operation applied bit by bit, on `bits` bits. */
uint32_t rop_formula(unsigned index, uint32_t p, uint32_t s, uint32_t d, int bits) {
  uint32_t r = 0;
  for (int bit = 0; bit < bits; bit++) {
    unsigned k = (((p >> bit) & 1) << 2) | (((s >> bit) & 1) << 1) | ((d >> bit) & 1);
    r |= (uint32_t)((index >> k) & 1) << bit;
  }
  return r;
}

DWORD rop_code(unsigned index) { return (DWORD)index << 16; }

struct DibFormat {
  const char* name;
  int bits;
  int value_bits; /* the bits that hold colour (the rest may be anything) */
  DWORD compression;
  DWORD masks[3];
  /* Colours of the brushes (exactly representable), and their raw values. */
  COLORREF brushes[2];
  uint32_t brush_raw[2];
  /* Source and destination raw pixel values, side by side. */
  std::vector<uint32_t> source;
  std::vector<uint32_t> dest;
};

struct Dib {
  HBITMAP bitmap = nullptr;
  HDC dc = nullptr;
  HGDIOBJ old = nullptr;
  uint8_t* bits = nullptr;
  int stride = 0;
};

/* A top-down DIB section of one row; the 8-bit one has a palette of 256 greys
 * with entry i = (i, i, i), so raw index i and colour RGB(i, i, i) agree. */
Dib make_dib(const DibFormat& f, int width) {
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colors[256];
  } info{};
  info.h.biSize = sizeof(BITMAPINFOHEADER);
  info.h.biWidth = width;
  info.h.biHeight = -1;
  info.h.biPlanes = 1;
  info.h.biBitCount = (WORD)f.bits;
  info.h.biCompression = f.compression;
  if (f.compression == BI_BITFIELDS) {
    memcpy(info.colors, f.masks, sizeof f.masks);
  } else if (f.bits == 8) {
    for (int i = 0; i < 256; i++)
      info.colors[i] = RGBQUAD{(BYTE)i, (BYTE)i, (BYTE)i, 0};
  }
  Dib d;
  void* bits = nullptr;
  d.bitmap = CreateDIBSection(nullptr, (BITMAPINFO*)&info, DIB_RGB_COLORS, &bits, nullptr, 0);
  d.bits = (uint8_t*)bits;
  d.stride = ((width * f.bits + 31) / 32) * 4;
  d.dc = CreateCompatibleDC(nullptr);
  d.old = SelectObject(d.dc, d.bitmap);
  return d;
}

void free_dib(Dib* d) {
  SelectObject(d->dc, d->old);
  DeleteDC(d->dc);
  DeleteObject(d->bitmap);
}

uint32_t get_raw(const Dib& d, int bits, int x) {
  const uint8_t* p = d.bits + x * bits / 8;
  switch (bits) {
    case 8: return p[0];
    case 16: return (uint32_t)p[0] | ((uint32_t)p[1] << 8);
    default: return ((uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16));
  }
}

void put_raw(const Dib& d, int bits, int x, uint32_t v) {
  uint8_t* p = d.bits + x * bits / 8;
  for (int i = 0; i < bits / 8; i++) p[i] = (uint8_t)(v >> (8 * i));
}

const std::vector<DibFormat>& formats() {
  static const std::vector<DibFormat> table = {
      {"32-bit", 32, 24, BI_RGB, {0, 0, 0},
       {RGB(0xF0, 0xF0, 0xF0), RGB(0x12, 0x9A, 0xE5)}, {0xF0F0F0, 0x129AE5},
       {0xCCCCCC, 0x000000, 0xFFFFFF, 0x5A3C96, 0xAAAAAA},
       {0xAAAAAA, 0xFFFFFF, 0x000000, 0xC3A50F, 0xCCCCCC}},
      {"16-bit 5-6-5", 16, 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F},
       {RGB(255, 0, 255), RGB(0, 255, 0)}, {0xF81F, 0x07E0},
       {0xCCCC, 0x0000, 0xFFFF, 0x1234, 0xAAAA},
       {0xAAAA, 0xFFFF, 0x0000, 0xFEDC, 0xCCCC}},
      {"16-bit 5-5-5", 16, 15, BI_RGB, {0, 0, 0},
       {RGB(255, 255, 0), RGB(0, 0, 255)}, {0x7FE0, 0x001F},
       {0x4CCC, 0x0000, 0x7FFF, 0x1234, 0x2AAA},
       {0x2AAA, 0x7FFF, 0x0000, 0x7EDC, 0x4CCC}},
      {"8-bit palette", 8, 8, BI_RGB, {0, 0, 0},
       {RGB(0xF0, 0xF0, 0xF0), RGB(0x3C, 0x3C, 0x3C)}, {0xF0, 0x3C},
       {0xCC, 0x00, 0xFF, 0x5A, 0xAA},
       {0xAA, 0xFF, 0x00, 0xC3, 0xCC}},
  };
  return table;
}

TEST(RasterOperations, EveryOperationOnDibFormats) {
  for (const DibFormat& f : formats()) {
    SCOPED_TRACE(f.name);
    const int n = (int)f.source.size();
    const int value_bits = f.value_bits;
    Dib src = make_dib(f, n), dst = make_dib(f, n);
    ASSERT_TRUE(src.bitmap && dst.bitmap);
    for (int x = 0; x < n; x++) put_raw(src, f.bits, x, f.source[x]);
    for (int b = 0; b < 2; b++) {
      HBRUSH brush = CreateSolidBrush(f.brushes[b]);
      HGDIOBJ old_brush = SelectObject(dst.dc, brush);
      for (unsigned index = 0; index < 256; index++) {
        for (int x = 0; x < n; x++) put_raw(dst, f.bits, x, f.dest[x]);
        ASSERT_TRUE(BitBlt(dst.dc, 0, 0, n, 1, src.dc, 0, 0, rop_code(index)));
        GdiFlush();
        for (int x = 0; x < n; x++) {
          uint32_t want = rop_formula(index, f.brush_raw[b], f.source[x], f.dest[x], value_bits);
          uint32_t got = get_raw(dst, f.bits, x) & ((1u << value_bits) - 1);
          ASSERT_EQ(want, got) << "operation 0x" << std::hex << index << " pixel " << x
                               << " brush " << b;
        }
      }
      SelectObject(dst.dc, old_brush);
      DeleteObject(brush);
    }
    free_dib(&src);
    free_dib(&dst);
  }
}

/* Monochrome device bitmaps: the eight pixels cover every (S, D) pair twice;
 * black and white brushes give P = 0 and P = 1. */
TEST(RasterOperations, EveryOperationOnMonochromeBitmaps) {
  const int s_bits[8] = {0, 0, 1, 1, 0, 1, 0, 1};
  const int d_bits[8] = {0, 1, 0, 1, 1, 1, 0, 0};
  HDC src = CreateCompatibleDC(nullptr), dst = CreateCompatibleDC(nullptr);
  HBITMAP src_bm = CreateBitmap(8, 1, 1, 1, nullptr), dst_bm = CreateBitmap(8, 1, 1, 1, nullptr);
  HGDIOBJ old_src = SelectObject(src, src_bm), old_dst = SelectObject(dst, dst_bm);
  for (int x = 0; x < 8; x++) SetPixel(src, x, 0, s_bits[x] ? RGB(255, 255, 255) : RGB(0, 0, 0));
  for (int p = 0; p < 2; p++) {
    HGDIOBJ old_brush = SelectObject(dst, GetStockObject(p ? WHITE_BRUSH : BLACK_BRUSH));
    for (unsigned index = 0; index < 256; index++) {
      for (int x = 0; x < 8; x++)
        SetPixel(dst, x, 0, d_bits[x] ? RGB(255, 255, 255) : RGB(0, 0, 0));
      ASSERT_TRUE(BitBlt(dst, 0, 0, 8, 1, src, 0, 0, rop_code(index)));
      for (int x = 0; x < 8; x++) {
        uint32_t want = rop_formula(index, (uint32_t)p, (uint32_t)s_bits[x], (uint32_t)d_bits[x], 1);
        COLORREF got = GetPixel(dst, x, 0);
        ASSERT_EQ(want ? RGB(255, 255, 255) : RGB(0, 0, 0), got)
            << "operation 0x" << std::hex << index << " pixel " << x << " pattern " << p;
      }
    }
    SelectObject(dst, old_brush);
  }
  SelectObject(src, old_src);
  SelectObject(dst, old_dst);
  DeleteObject(src_bm);
  DeleteObject(dst_bm);
  DeleteDC(src);
  DeleteDC(dst);
}

/* The named operations are the indices their names say. */
TEST(RasterOperations, NamedCodesHaveTheirIndices) {
  struct Named {
    DWORD code;
    unsigned index;
  };
  const Named table[] = {
      {SRCCOPY, 0xCC},   {SRCPAINT, 0xEE},   {SRCAND, 0x88},    {SRCINVERT, 0x66},
      {SRCERASE, 0x44},  {NOTSRCCOPY, 0x33}, {NOTSRCERASE, 0x11}, {MERGECOPY, 0xC0},
      {MERGEPAINT, 0xBB}, {PATCOPY, 0xF0},   {PATPAINT, 0xFB},  {PATINVERT, 0x5A},
      {DSTINVERT, 0x55}, {BLACKNESS, 0x00},  {WHITENESS, 0xFF},
  };
  Dib dst = make_dib(formats()[0], 1), src = make_dib(formats()[0], 1);
  HBRUSH brush = CreateSolidBrush(RGB(0xF0, 0xF0, 0xF0));
  SelectObject(dst.dc, brush);
  put_raw(src, 32, 0, 0xCCCCCC);
  for (const Named& n : table) {
    put_raw(dst, 32, 0, 0xAAAAAA);
    ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 1, 1, src.dc, 0, 0, n.code));
    GdiFlush();
    EXPECT_EQ(n.index * 0x010101u, get_raw(dst, 32, 0)) << std::hex << n.code;
  }
  SelectObject(dst.dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(brush);
  free_dib(&dst);
  free_dib(&src);
}

/* PatBlt applies the operations that need no source, and refuses the others. */
TEST(RasterOperations, PatBltUsesPatternAndDestinationOnly) {
  Dib dst = make_dib(formats()[0], 2);
  HBRUSH brush = CreateSolidBrush(RGB(0xF0, 0xF0, 0xF0));
  SelectObject(dst.dc, brush);
  for (unsigned index = 0; index < 256; index++) {
    bool needs_source = ((index >> 2) ^ index) & 0x33;
    put_raw(dst, 32, 0, 0xAAAAAA);
    put_raw(dst, 32, 1, 0x55AA55);
    BOOL ok = PatBlt(dst.dc, 0, 0, 2, 1, rop_code(index));
    GdiFlush();
    if (needs_source) {
      EXPECT_FALSE(ok) << std::hex << index;
      continue;
    }
    ASSERT_TRUE(ok) << std::hex << index;
    EXPECT_EQ(rop_formula(index, 0xF0F0F0, 0, 0xAAAAAA, 24), get_raw(dst, 32, 0)) << std::hex << index;
    EXPECT_EQ(rop_formula(index, 0xF0F0F0, 0, 0x55AA55, 24), get_raw(dst, 32, 1)) << std::hex << index;
  }
  SelectObject(dst.dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(brush);
  free_dib(&dst);
}

}  // namespace
