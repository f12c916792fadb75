/* DIB sections of every depth read back through BitBlt, row order and
 * stride, colour <-> monochrome conversion, clipping at both bitmaps' edges
 * and StretchBlt. */
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <windows.h>
#include "known_difference.h"

namespace {

/* A DIB section in a memory DC; the info is kept for its palette and masks. */
struct Dib {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  uint8_t* bits = nullptr;
  int width = 0, height = 0, depth = 0, stride = 0;
  bool top_down = false;

  /* The bytes of pixel row y (0 = top). */
  uint8_t* row(int y) const { return bits + (size_t)(top_down ? y : height - 1 - y) * stride; }
  ~Dib() {
    if (!dc) return;
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
};

struct Info {
  BITMAPINFOHEADER h;
  RGBQUAD colors[256];
};

void make_dib(Dib* d, int width, int height, int depth, DWORD compression,
              const std::vector<uint32_t>& table, bool top_down) {
  Info info{};
  info.h.biSize = sizeof(BITMAPINFOHEADER);
  info.h.biWidth = width;
  info.h.biHeight = top_down ? -height : height;
  info.h.biPlanes = 1;
  info.h.biBitCount = (WORD)depth;
  info.h.biCompression = compression;
  info.h.biClrUsed = depth <= 8 ? (DWORD)table.size() : 0;
  if (!table.empty()) memcpy(info.colors, table.data(), table.size() * 4);
  void* bits = nullptr;
  d->bitmap = CreateDIBSection(nullptr, (BITMAPINFO*)&info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(nullptr, d->bitmap);
  ASSERT_NE(nullptr, bits);
  d->bits = (uint8_t*)bits;
  d->width = width;
  d->height = height;
  d->depth = depth;
  d->top_down = top_down;
  d->stride = ((width * depth + 31) / 32) * 4;
  d->dc = CreateCompatibleDC(nullptr);
  d->old = SelectObject(d->dc, d->bitmap);
}

/* Writes a raw pixel value of `depth` bits at (x, y). */
void put_raw(const Dib& d, int x, int y, uint32_t v) {
  uint8_t* r = d.row(y);
  switch (d.depth) {
    case 1: r[x / 8] = (uint8_t)((r[x / 8] & ~(0x80 >> (x % 8))) | ((v & 1) << (7 - x % 8))); break;
    case 4:
      r[x / 2] = (uint8_t)(x % 2 ? (r[x / 2] & 0xF0) | (v & 15) : (r[x / 2] & 0x0F) | ((v & 15) << 4));
      break;
    default:
      for (int i = 0; i < d.depth / 8; i++) r[x * d.depth / 8 + i] = (uint8_t)(v >> (8 * i));
  }
}

uint32_t pixel32(const Dib& d, int x, int y) {
  uint32_t v;
  memcpy(&v, d.row(y) + 4 * x, 4);
  return v & 0xFFFFFF;
}

struct DepthCase {
  const char* name;
  int depth;
  DWORD compression;
  std::vector<uint32_t> table; /* palette entries, or the three masks */
  /* Raw values and the colours they show (0x00RRGGBB). */
  std::vector<uint32_t> raw;
  std::vector<uint32_t> rgb;
};

/* A palette of n distinct colours. */
uint32_t ramp_color(int i) { return (uint32_t)((i << 16) | ((255 - i) << 8) | (i / 2)); }
std::vector<uint32_t> ramp(int n) {
  std::vector<uint32_t> table;
  for (int i = 0; i < n; i++) table.push_back(ramp_color(i));
  return table;
}

const std::vector<DepthCase>& depth_cases() {
  static const std::vector<DepthCase> cases = {
      {"1 bit", 1, BI_RGB, {0x204060, 0xF0E0D0}, {0, 1, 1, 0}, {0x204060, 0xF0E0D0, 0xF0E0D0, 0x204060}},
      {"4 bits", 4, BI_RGB,
       {0x000000, 0x800000, 0x008000, 0x000080, 0x123456, 0xFFFFFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xABCDEF},
       {1, 15, 4, 5}, {0x800000, 0xABCDEF, 0x123456, 0xFFFFFF}},
      {"8 bits", 8, BI_RGB, ramp(200), {0, 199, 17, 3},
       {ramp_color(0), ramp_color(199), ramp_color(17), ramp_color(3)}},
      {"16 bits 5-5-5", 16, BI_RGB, {}, {0x7C00, 0x03E0, 0x001F, 0x7FFF}, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}},
      {"16 bits 5-5-5 bit fields", 16, BI_BITFIELDS, {0x7C00, 0x03E0, 0x001F},
       {0x7C1F, 0x0000, 0x03E0, 0x7FFF}, {0xFF00FF, 0x000000, 0x00FF00, 0xFFFFFF}},
      {"16 bits 5-6-5 bit fields", 16, BI_BITFIELDS, {0xF800, 0x07E0, 0x001F},
       {0xF800, 0x07E0, 0x001F, 0xFFE0}, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00}},
      {"24 bits", 24, BI_RGB, {}, {0x123456, 0xFEDCBA, 0x000000, 0xFFFFFF}, {0x123456, 0xFEDCBA, 0x000000, 0xFFFFFF}},
      {"32 bits", 32, BI_RGB, {}, {0x00123456, 0xFFFEDCBA, 0x00000001, 0x7F808080},
       {0x123456, 0xFEDCBA, 0x000001, 0x808080}},
      {"32 bits bit fields", 32, BI_BITFIELDS, {0x000000FF, 0x0000FF00, 0x00FF0000},
       {0x00563412, 0x00BADCFE, 0x00FF0000, 0x000000FF}, {0x123456, 0xFEDCBA, 0x0000FF, 0xFF0000}},
  };
  return cases;
}

TEST(DibSections, EveryDepthReadsBackThroughBitBlt) {
  for (const DepthCase& c : depth_cases()) {
    for (bool top_down : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.name << (top_down ? " top-down" : " bottom-up"));
      Dib src, dst;
      make_dib(&src, 4, 2, c.depth, c.compression, c.table, top_down);
      make_dib(&dst, 4, 2, 32, BI_RGB, {}, true);
      if (HasFatalFailure()) return;
      /* Row 0 holds the values; row 1 holds them reversed. */
      for (int x = 0; x < 4; x++) {
        put_raw(src, x, 0, c.raw[x]);
        put_raw(src, x, 1, c.raw[3 - x]);
      }
      ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 4, 2, src.dc, 0, 0, SRCCOPY));
      GdiFlush();
      for (int x = 0; x < 4; x++) {
        EXPECT_EQ(c.rgb[x], pixel32(dst, x, 0)) << "x " << x;
        EXPECT_EQ(c.rgb[3 - x], pixel32(dst, x, 1)) << "x " << x;
        COLORREF want = RGB((c.rgb[x] >> 16) & 0xFF, (c.rgb[x] >> 8) & 0xFF, c.rgb[x] & 0xFF);
        EXPECT_EQ(want, GetPixel(src.dc, x, 0)) << "x " << x;
      }
    }
  }
}

TEST(DibSections, RowsAreStridedAndOrientedByTheHeightSign) {
  for (int depth : {1, 8, 24}) {
    for (bool top_down : {false, true}) {
      SCOPED_TRACE(testing::Message() << depth << (top_down ? " top-down" : " bottom-up"));
      Dib d;
      make_dib(&d, 5, 3, depth, BI_RGB, {0x000000, 0xFFFFFF}, top_down);
      if (HasFatalFailure()) return;
      DIBSECTION ds{};
      ASSERT_EQ((int)sizeof ds, GetObjectW(d.bitmap, sizeof ds, &ds));
      EXPECT_EQ(d.stride, ds.dsBm.bmWidthBytes);
      EXPECT_EQ(3, ds.dsBmih.biHeight) << "positive whatever the orientation";
      /* The first stored row is the top one only for top-down sections. */
      uint32_t white = depth == 24 ? 0xFFFFFF : 1;
      for (int x = 0; x < 5; x++) {
        uint8_t* first = d.bits;
        if (depth == 1) first[0] |= (uint8_t)(0x80 >> x);
        if (depth == 8) first[x] = (uint8_t)white;
        if (depth == 24) memset(first + 3 * x, 0xFF, 3);
      }
      int top_row = top_down ? 0 : 2;
      for (int y = 0; y < 3; y++)
        for (int x = 0; x < 5; x++)
          EXPECT_EQ(y == top_row ? RGB(255, 255, 255) : RGB(0, 0, 0), GetPixel(d.dc, x, y))
              << x << "," << y;
    }
  }
}

TEST(MonochromeConversion, ColourToMonochromeMatchesTheSourceBackground) {
  Dib src;
  make_dib(&src, 4, 1, 32, BI_RGB, {}, true);
  if (HasFatalFailure()) return;
  const uint32_t pixels[4] = {0xFFFFFF, 0xFF0000, 0x00FF00, 0x000000};
  for (int x = 0; x < 4; x++) put_raw(src, x, 0, pixels[x]);
  HDC mono_dc = CreateCompatibleDC(nullptr);
  HBITMAP mono = CreateBitmap(4, 1, 1, 1, nullptr);
  HGDIOBJ old = SelectObject(mono_dc, mono);
  struct Case {
    COLORREF background;
    bool white[4];
  };
  const Case cases[] = {
      {RGB(255, 255, 255), {true, false, false, false}},
      {RGB(255, 0, 0), {false, true, false, false}},
      {RGB(0, 0, 0), {false, false, false, true}},
      {RGB(1, 2, 3), {false, false, false, false}},
  };
  for (const Case& c : cases) {
    SetBkColor(src.dc, c.background);
    SetBkColor(mono_dc, RGB(0, 255, 0)); /* the destination's colours play no part */
    SetTextColor(mono_dc, RGB(0, 0, 255));
    ASSERT_TRUE(BitBlt(mono_dc, 0, 0, 4, 1, src.dc, 0, 0, SRCCOPY));
    for (int x = 0; x < 4; x++)
      EXPECT_EQ(c.white[x] ? RGB(255, 255, 255) : RGB(0, 0, 0), GetPixel(mono_dc, x, 0))
          << std::hex << c.background << " x " << x;
  }
  SelectObject(mono_dc, old);
  DeleteObject(mono);
  DeleteDC(mono_dc);
}

TEST(MonochromeConversion, MonochromeToColourTakesTheDestinationColours) {
  const BYTE rows[2] = {0xA0, 0}; /* 1 0 1 0, padded to 16 bits */
  HBITMAP mono = CreateBitmap(4, 1, 1, 1, rows);
  HDC mono_dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(mono_dc, mono);
  SetTextColor(mono_dc, RGB(9, 9, 9)); /* the source's colours play no part */
  SetBkColor(mono_dc, RGB(8, 8, 8));
  for (int depth : {32, 16, 24}) {
    SCOPED_TRACE(depth);
    Dib dst;
    make_dib(&dst, 4, 1, depth, BI_RGB, {}, true);
    if (HasFatalFailure()) return;
    SetTextColor(dst.dc, RGB(255, 0, 0));
    SetBkColor(dst.dc, RGB(0, 0, 255));
    ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 4, 1, mono_dc, 0, 0, SRCCOPY));
    for (int x = 0; x < 4; x++) {
      bool one = x % 2 == 0;
      EXPECT_EQ(one ? RGB(0, 0, 255) : RGB(255, 0, 0), GetPixel(dst.dc, x, 0)) << "x " << x;
    }
  }
  SelectObject(mono_dc, old);
  DeleteObject(mono);
  DeleteDC(mono_dc);
}

/* The transparent-image technique of shaped buttons: a mask made from the
 * white pixels of a shape, the image's transparent pixels blackened with
 * SRCAND, the background cut with 0x220326 (D and not S) under a black text
 * colour, and the image added with SRCPAINT. */
TEST(MonochromeConversion, MaskedImageOverBackground) {
  const int w = 4;
  Dib image, shape, screen;
  make_dib(&image, w, 1, 32, BI_RGB, {}, true);
  make_dib(&shape, w, 1, 32, BI_RGB, {}, true);
  make_dib(&screen, w, 1, 32, BI_RGB, {}, true);
  if (HasFatalFailure()) return;
  const uint32_t image_px[w] = {0x112233, 0x445566, 0x778899, 0xAABBCC};
  const uint32_t shape_px[w] = {0xFFFFFF, 0x000000, 0xFFFFFF, 0xFEFEFE};
  for (int x = 0; x < w; x++) {
    put_raw(image, x, 0, image_px[x]);
    put_raw(shape, x, 0, shape_px[x]);
    put_raw(screen, x, 0, 0x0F0F0F);
  }
  HDC mask_dc = CreateCompatibleDC(nullptr);
  HBITMAP mask = CreateBitmap(w, 1, 1, 1, nullptr);
  HGDIOBJ old = SelectObject(mask_dc, mask);
  ASSERT_TRUE(BitBlt(mask_dc, 0, 0, w, 1, shape.dc, 0, 0, SRCCOPY));
  ASSERT_TRUE(BitBlt(image.dc, 0, 0, w, 1, mask_dc, 0, 0, SRCAND));
  SetTextColor(screen.dc, RGB(0, 0, 0));
  ASSERT_TRUE(BitBlt(screen.dc, 0, 0, w, 1, mask_dc, 0, 0, 0x220326));
  ASSERT_TRUE(BitBlt(screen.dc, 0, 0, w, 1, image.dc, 0, 0, SRCPAINT));
  GdiFlush();
  const uint32_t want[w] = {0x112233, 0x0F0F0F, 0x778899, 0x0F0F0F};
  for (int x = 0; x < w; x++) EXPECT_EQ(want[x], pixel32(screen, x, 0)) << "x " << x;
  SelectObject(mask_dc, old);
  DeleteObject(mask);
  DeleteDC(mask_dc);
}

/* A source of 4 x 4 distinct colours onto a 6 x 5 destination at various
 * offsets: exactly the pixels inside both bitmaps change. */
TEST(BitBltClipping, ClipsToBothBitmaps) {
  struct Case {
    int x, y, w, h, sx, sy;
  };
  const Case cases[] = {
      {0, 0, 4, 4, 0, 0},   {3, 2, 4, 4, 0, 0},   {-2, -1, 4, 4, 0, 0}, {0, 0, 6, 5, 2, 1},
      {1, 1, 4, 4, -2, -3}, {0, 0, 10, 10, 0, 0}, {5, 4, 3, 3, 3, 3},   {7, 0, 2, 2, 0, 0},
      {0, 0, 2, 2, 4, 0},
  };
  const uint32_t marker = 0x5A5A5A;
  Dib src;
  make_dib(&src, 4, 4, 32, BI_RGB, {}, false);
  if (HasFatalFailure()) return;
  auto color_of = [](int x, int y) { return (uint32_t)(0x100000 * (x + 1) + 0x1000 * (y + 1) + 0x80); };
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) put_raw(src, x, y, color_of(x, y));
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h << " from "
                                    << c.sx << "," << c.sy);
    Dib dst;
    make_dib(&dst, 6, 5, 32, BI_RGB, {}, true);
    if (HasFatalFailure()) return;
    for (int y = 0; y < 5; y++)
      for (int x = 0; x < 6; x++) put_raw(dst, x, y, marker);
    ASSERT_TRUE(BitBlt(dst.dc, c.x, c.y, c.w, c.h, src.dc, c.sx, c.sy, SRCCOPY));
    GdiFlush();
    for (int y = 0; y < 5; y++)
      for (int x = 0; x < 6; x++) {
        int sx = x - c.x + c.sx, sy = y - c.y + c.sy;
        bool in_rect = x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h;
        bool in_source = sx >= 0 && sx < 4 && sy >= 0 && sy < 4;
        uint32_t want = in_rect && in_source ? color_of(sx, sy) : marker;
        ASSERT_EQ(want, pixel32(dst, x, y)) << x << "," << y;
      }
  }
}

TEST(BitBltClipping, OverlappingCopyWithinOneBitmap) {
  Dib d;
  make_dib(&d, 6, 6, 32, BI_RGB, {}, true);
  if (HasFatalFailure()) return;
  auto color_of = [](int x, int y) { return (uint32_t)(x * 16 + y); };
  struct Case {
    int dx, dy;
  };
  for (Case c : {Case{1, 1}, Case{-1, -1}, Case{1, 0}, Case{0, -1}}) {
    SCOPED_TRACE(testing::Message() << c.dx << "," << c.dy);
    for (int y = 0; y < 6; y++)
      for (int x = 0; x < 6; x++) put_raw(d, x, y, color_of(x, y));
    /* Moves the 4 x 4 block at (1, 1) by (dx, dy). */
    ASSERT_TRUE(BitBlt(d.dc, 1 + c.dx, 1 + c.dy, 4, 4, d.dc, 1, 1, SRCCOPY));
    GdiFlush();
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 4; x++)
        ASSERT_EQ(color_of(1 + x, 1 + y), pixel32(d, 1 + c.dx + x, 1 + c.dy + y)) << x << "," << y;
  }
}

/* Far-out coordinates are clipped like any others (and overflow nothing). */
TEST(BitBltClipping, FarCoordinates) {
  Dib src, dst;
  make_dib(&src, 4, 4, 32, BI_RGB, {}, true);
  make_dib(&dst, 4, 4, 32, BI_RGB, {}, true);
  if (HasFatalFailure()) return;
  const int distant = 0x7FFFFFF0;
  struct Case {
    const char* what;
    std::function<void()> draw;
    bool wraps; /* x + width passes 2^31 */
  } cases[] = {
      {"BitBlt far right", [&] { BitBlt(dst.dc, distant, 0, 100, 4, src.dc, 0, 0, WHITENESS); }, true},
      {"BitBlt from far", [&] { BitBlt(dst.dc, 0, 0, 4, 4, src.dc, distant, -distant, SRCCOPY); }, false},
      {"StretchBlt far left",
       [&] { StretchBlt(dst.dc, -distant, -distant, distant, distant, src.dc, 0, 0, 4, 4, WHITENESS); },
       false},
      {"StretchBlt from far",
       [&] { StretchBlt(dst.dc, 0, 0, 4, 4, src.dc, -distant, 0, distant, 4, SRCCOPY); }, false},
      {"PatBlt far", [&] { PatBlt(dst.dc, distant, distant, distant, distant, WHITENESS); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    memset(dst.bits, 0, (size_t)dst.stride * 4);
    c.draw();
    GdiFlush();
    bool untouched = true;
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 4; x++) untouched = untouched && pixel32(dst, x, y) == 0;
    if (c.wraps) {
      KNOWN_HOST_DIFFERENCE("the host computes x + width without overflow: a far rectangle stays far, "
                            "where Win32 wraps it round",
                            untouched);
    } else {
      EXPECT_TRUE(untouched);
    }
  }
  memset(dst.bits, 0, (size_t)dst.stride * 4);
  RECT everything{-distant, -distant, distant, distant};
  EXPECT_NE(0, FillRect(dst.dc, &everything, (HBRUSH)GetStockObject(WHITE_BRUSH)));
  GdiFlush();
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) ASSERT_EQ(0xFFFFFFu, pixel32(dst, x, y)) << x << "," << y;
  EXPECT_EQ(CLR_INVALID, GetPixel(dst.dc, distant, distant));
}

TEST(StretchBlt, ScalesByNearestPixels) {
  Dib src;
  make_dib(&src, 2, 2, 32, BI_RGB, {}, true);
  if (HasFatalFailure()) return;
  const uint32_t q[2][2] = {{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFFFF}};
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 2; x++) put_raw(src, x, y, q[y][x]);
  /* Enlarged 2 x 2 -> 6 x 4: each source pixel covers a 3 x 2 block. */
  Dib big;
  make_dib(&big, 6, 4, 32, BI_RGB, {}, true);
  if (HasFatalFailure()) return;
  ASSERT_TRUE(StretchBlt(big.dc, 0, 0, 6, 4, src.dc, 0, 0, 2, 2, SRCCOPY));
  GdiFlush();
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 6; x++) EXPECT_EQ(q[y / 2][x / 3], pixel32(big, x, y)) << x << "," << y;
  /* Back down 6 x 4 -> 2 x 2: uniform blocks give the original pixels. */
  Dib small;
  make_dib(&small, 2, 2, 32, BI_RGB, {}, true);
  if (HasFatalFailure()) return;
  ASSERT_TRUE(StretchBlt(small.dc, 0, 0, 2, 2, big.dc, 0, 0, 6, 4, SRCCOPY));
  GdiFlush();
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 2; x++) EXPECT_EQ(q[y][x], pixel32(small, x, y)) << x << "," << y;
  /* A negative destination width from the right edge mirrors. */
  ASSERT_TRUE(StretchBlt(big.dc, 5, 0, -6, 4, src.dc, 0, 0, 2, 2, SRCCOPY));
  GdiFlush();
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 6; x++)
      EXPECT_EQ(q[y / 2][1 - x / 3], pixel32(big, x, y)) << "mirrored " << x << "," << y;
  /* Stretching also converts: monochrome into colour with the destination's colours. */
  HDC mono_dc = CreateCompatibleDC(nullptr);
  const BYTE bits[2] = {0x80, 0}; /* 1 0 */
  HBITMAP mono = CreateBitmap(2, 1, 1, 1, bits);
  HGDIOBJ old = SelectObject(mono_dc, mono);
  SetTextColor(big.dc, RGB(0, 0, 0));
  SetBkColor(big.dc, RGB(255, 255, 255));
  ASSERT_TRUE(StretchBlt(big.dc, 0, 0, 6, 4, mono_dc, 0, 0, 2, 1, SRCCOPY));
  GdiFlush();
  for (int x = 0; x < 6; x++) EXPECT_EQ(x < 3 ? 0xFFFFFFu : 0u, pixel32(big, x, 3)) << x;
  SelectObject(mono_dc, old);
  DeleteObject(mono);
  DeleteDC(mono_dc);
}

}  // namespace
