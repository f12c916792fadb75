/* Device contexts and GDI objects: memory DCs and their default bitmap,
 * compatible bitmaps, selection, deletion, object information, device
 * capabilities, DC attributes, pixels and filled shapes. */
#include <gtest/gtest.h>

#include <vector>

#include <windows.h>
#include "known_difference.h"

namespace {

const DWORD sentinel = 0xDEADBEEF;

BITMAP bitmap_info(HBITMAP bitmap) {
  BITMAP bm{};
  EXPECT_EQ((int)sizeof bm, GetObjectW(bitmap, sizeof bm, &bm));
  return bm;
}

/* A 32-bit top-down DIB section selected into a new memory DC. */
struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  uint32_t* bits = nullptr;
  int width = 0, height = 0;

  Canvas(int w, int h, uint32_t fill = 0) : width(w), height(h) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* p = nullptr;
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
    bits = (uint32_t*)p;
    dc = CreateCompatibleDC(nullptr);
    old = SelectObject(dc, bitmap);
    for (int i = 0; i < w * h; i++) bits[i] = fill;
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  uint32_t at(int x, int y) const { return bits[y * width + x] & 0xFFFFFF; }
};

TEST(DeviceContexts, MemoryDcStartsWithOneMonochromePixel) {
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(nullptr, dc);
  HBITMAP initial = (HBITMAP)GetCurrentObject(dc, OBJ_BITMAP);
  ASSERT_NE(nullptr, initial);
  BITMAP bm = bitmap_info(initial);
  EXPECT_EQ(1, bm.bmWidth);
  EXPECT_EQ(1, bm.bmHeight);
  EXPECT_EQ(1, bm.bmBitsPixel);
  EXPECT_EQ(1, bm.bmPlanes);

  /* A bitmap compatible with it is monochrome; one compatible with the screen is not. */
  HBITMAP mono = CreateCompatibleBitmap(dc, 10, 4);
  EXPECT_EQ(1, bitmap_info(mono).bmBitsPixel);
  HDC screen = GetDC(nullptr);
  HBITMAP color = CreateCompatibleBitmap(screen, 10, 4);
  BITMAP cbm = bitmap_info(color);
  EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), cbm.bmBitsPixel);
  EXPECT_EQ(10, cbm.bmWidth);
  EXPECT_EQ(4, cbm.bmHeight);
  EXPECT_EQ(nullptr, cbm.bmBits); /* a device bitmap shows no bits */

  /* Selecting returns the previous bitmap; the default comes back at the end. */
  EXPECT_EQ((HGDIOBJ)initial, SelectObject(dc, color));
  EXPECT_EQ((HGDIOBJ)color, SelectObject(dc, mono));
  EXPECT_EQ((HGDIOBJ)mono, SelectObject(dc, initial));
  ReleaseDC(nullptr, screen);
  EXPECT_TRUE(DeleteObject(mono));
  EXPECT_TRUE(DeleteObject(color));
  EXPECT_TRUE(DeleteDC(dc));
}

TEST(DeviceContexts, BitmapIsSelectedIntoOneDcAtATime) {
  HDC a = CreateCompatibleDC(nullptr), b = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateBitmap(8, 8, 1, 1, nullptr);
  HGDIOBJ old_a = SelectObject(a, bitmap);
  ASSERT_NE(nullptr, old_a);
  EXPECT_EQ(nullptr, SelectObject(b, bitmap));
  SelectObject(a, old_a);
  HGDIOBJ old_b = SelectObject(b, bitmap); /* free again */
  EXPECT_NE(nullptr, old_b);
  SelectObject(b, old_b);
  DeleteObject(bitmap);
  DeleteDC(a);
  DeleteDC(b);
}

TEST(DeviceContexts, ScreenCapabilities) {
  HDC screen = GetDC(nullptr);
  ASSERT_NE(nullptr, screen);
  EXPECT_EQ(32, GetDeviceCaps(screen, BITSPIXEL));
  EXPECT_EQ(1, GetDeviceCaps(screen, PLANES));
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), GetDeviceCaps(screen, HORZRES));
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), GetDeviceCaps(screen, VERTRES));
  EXPECT_EQ(1, ReleaseDC(nullptr, screen));
}

TEST(DeviceContexts, AttributesReturnTheirPreviousValues) {
  HDC dc = CreateCompatibleDC(nullptr);
  /* Defaults: black text on white, opaque background. */
  EXPECT_EQ(RGB(0, 0, 0), SetTextColor(dc, RGB(1, 2, 3)));
  EXPECT_EQ(RGB(1, 2, 3), GetTextColor(dc));
  EXPECT_EQ(RGB(255, 255, 255), SetBkColor(dc, RGB(4, 5, 6)));
  EXPECT_EQ(RGB(4, 5, 6), GetBkColor(dc));
  EXPECT_EQ(OPAQUE, SetBkMode(dc, TRANSPARENT));
  EXPECT_EQ(TRANSPARENT, SetBkMode(dc, OPAQUE));
  EXPECT_EQ(0, SetBkMode(dc, 7)); /* not a mode */
  EXPECT_EQ(OPAQUE, GetBkMode(dc));
  EXPECT_EQ(CLR_INVALID, SetTextColor(nullptr, 0));
  DeleteDC(dc);
}

TEST(GdiObjects, GetObjectDescribesBitmapsBrushesAndFonts) {
  HBITMAP mono = CreateBitmap(17, 3, 1, 1, nullptr);
  BITMAP bm = bitmap_info(mono);
  EXPECT_EQ(17, bm.bmWidth);
  EXPECT_EQ(3, bm.bmHeight);
  EXPECT_EQ(4, bm.bmWidthBytes); /* device bitmap rows are padded to 16 bits */
  EXPECT_EQ(1, bm.bmBitsPixel);
  DeleteObject(mono);

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 3;
  info.bmiHeader.biHeight = 5;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(nullptr, dib);
  DIBSECTION ds{};
  ASSERT_EQ((int)sizeof ds, GetObjectW(dib, sizeof ds, &ds));
  EXPECT_EQ(3, ds.dsBm.bmWidth);
  EXPECT_EQ(5, ds.dsBm.bmHeight);
  EXPECT_EQ(12, ds.dsBm.bmWidthBytes); /* 9 bytes padded to 4 */
  EXPECT_EQ(24, ds.dsBm.bmBitsPixel);
  EXPECT_EQ(bits, ds.dsBm.bmBits);
  EXPECT_EQ(24, ds.dsBmih.biBitCount);
  EXPECT_EQ(3, ds.dsBmih.biWidth);
  EXPECT_EQ(60u, ds.dsBmih.biSizeImage);
  DeleteObject(dib);

  HBRUSH brush = CreateSolidBrush(RGB(10, 20, 30));
  LOGBRUSH lb{};
  EXPECT_EQ((int)sizeof lb, GetObjectW(brush, sizeof lb, &lb));
  EXPECT_EQ((UINT)BS_SOLID, lb.lbStyle);
  EXPECT_EQ(RGB(10, 20, 30), lb.lbColor);
  DeleteObject(brush);

  LOGFONTW in{};
  in.lfHeight = -21;
  in.lfWeight = FW_SEMIBOLD;
  in.lfQuality = CLEARTYPE_QUALITY;
  in.lfCharSet = DEFAULT_CHARSET;
  memcpy(in.lfFaceName, TEXT("宋体"), sizeof(TEXT("宋体")));
  HFONT font = CreateFontIndirectW(&in);
  ASSERT_NE(nullptr, font);
  LOGFONTW out{};
  EXPECT_EQ((int)sizeof out, GetObjectW(font, sizeof out, &out));
  EXPECT_EQ(0, memcmp(&in, &out, sizeof in));
  EXPECT_EQ((DWORD)OBJ_FONT, GetObjectType(font));
  DeleteObject(font);
}

TEST(GdiObjects, DeletedHandlesAreGone) {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateBitmap(4, 4, 1, 1, nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  EXPECT_EQ(RGB(255, 255, 255), SetPixel(dc, 1, 1, RGB(255, 255, 255)));
  SelectObject(dc, old);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_EQ(0, GetObjectW(bitmap, sizeof(BITMAP), nullptr));
  EXPECT_EQ(nullptr, SelectObject(dc, bitmap));
  EXPECT_FALSE(DeleteObject(bitmap));
  DeleteObject(GetStockObject(WHITE_BRUSH)); /* stock objects stay */
  EXPECT_NE(0, GetObjectW(GetStockObject(WHITE_BRUSH), sizeof(LOGBRUSH), nullptr));
  DeleteDC(dc);
}

TEST(GdiObjects, SelectedBitmapIsNotDeleted) {
  Canvas c(4, 2, 0x123456);
  EXPECT_EQ(RGB(0x12, 0x34, 0x56), GetPixel(c.dc, 3, 1));
  KNOWN_WINE_DIFFERENCE("Wine accepts deleting a selected bitmap, and deletes it when it is deselected",
                        DeleteObject(c.bitmap));
  /* Still selected, still drawing into the same bits. */
  EXPECT_EQ(RGB(0, 0, 255), SetPixel(c.dc, 0, 0, RGB(0, 0, 255)));
  EXPECT_EQ(0x0000FFu, c.at(0, 0));
  EXPECT_EQ((HGDIOBJ)c.bitmap, GetCurrentObject(c.dc, OBJ_BITMAP));
}

TEST(Pixels, SetAndGetInsideAndOutside) {
  Canvas c(5, 3);
  struct Case {
    int x, y;
    bool inside;
  };
  const Case cases[] = {{0, 0, true},  {4, 2, true},  {5, 0, false}, {0, 3, false},
                        {-1, 0, false}, {0, -1, false}, {2, 1, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.x << "," << k.y);
    COLORREF set = SetPixel(c.dc, k.x, k.y, RGB(200, 100, 50));
    COLORREF got = GetPixel(c.dc, k.x, k.y);
    if (k.inside) {
      EXPECT_EQ(RGB(200, 100, 50), set);
      EXPECT_EQ(RGB(200, 100, 50), got);
      EXPECT_EQ(0xC86432u, c.at(k.x, k.y));
    } else {
      KNOWN_WINE_DIFFERENCE_EQ("Wine's SetPixel outside the bitmap answers the colour", set,
                               RGB(200, 100, 50), CLR_INVALID);
      EXPECT_EQ(CLR_INVALID, got);
    }
  }
  /* A monochrome bitmap holds black or white: the nearest of the two. */
  HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_EQ(RGB(255, 255, 255), SetPixel(dc, 0, 0, RGB(230, 240, 250)));
  EXPECT_EQ(RGB(0, 0, 0), SetPixel(dc, 0, 0, RGB(20, 10, 30)));
  EXPECT_EQ(CLR_INVALID, GetPixel(dc, 1, 0));
  DeleteDC(dc);
}

TEST(Shapes, FillRectAndRectangle) {
  Canvas c(10, 10, 0xFFFFFF);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  RECT r{2, 3, 5, 7};
  EXPECT_NE(0, FillRect(c.dc, &r, red));
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 10; x++) {
      bool inside = x >= 2 && x < 5 && y >= 3 && y < 7;
      ASSERT_EQ(inside ? 0xFF0000u : 0xFFFFFFu, c.at(x, y)) << x << "," << y;
    }
  /* Rectangle: a frame in the pen, the inside in the brush, right and bottom excluded. */
  HPEN blue = CreatePen(PS_SOLID, 1, RGB(0, 0, 255));
  HGDIOBJ old_pen = SelectObject(c.dc, blue);
  HGDIOBJ old_brush = SelectObject(c.dc, GetStockObject(BLACK_BRUSH));
  EXPECT_TRUE(Rectangle(c.dc, 1, 1, 6, 5));
  for (int y = 0; y < 10; y++)
    for (int x = 0; x < 10; x++) {
      bool box = x >= 1 && x < 6 && y >= 1 && y < 5;
      bool frame = box && (x == 1 || x == 5 || y == 1 || y == 4);
      uint32_t want = frame ? 0x0000FF : box ? 0x000000 : c.at(x, y);
      ASSERT_EQ(want, c.at(x, y)) << x << "," << y;
    }
  SelectObject(c.dc, old_pen);
  SelectObject(c.dc, old_brush);
  DeleteObject(blue);
  DeleteObject(red);
  /* FillRect with a system colour index. */
  RECT all{0, 0, 10, 10};
  EXPECT_NE(0, FillRect(c.dc, &all, (HBRUSH)(5 + 1))); /* COLOR_WINDOW: white */
  EXPECT_EQ(0xFFFFFFu, c.at(3, 3));
}

TEST(GdiObjects, BadArgumentsFail) {
  SetLastError(sentinel);
  HDC dc = CreateCompatibleDC(nullptr);
  EXPECT_EQ(sentinel, GetLastError()); /* success leaves the last error */
  EXPECT_EQ(nullptr, CreateDIBSection(dc, nullptr, DIB_RGB_COLORS, nullptr, nullptr, 0));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 4;
  info.bmiHeader.biHeight = 4;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 7; /* no such depth */
  void* bits = (void*)1;
  EXPECT_EQ(nullptr, CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RLE8;
  EXPECT_EQ(nullptr, CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  /* Bit fields exist at 16 and 32 bits only. */
  for (WORD depth : {1, 4, 8, 24}) {
    info.bmiHeader.biBitCount = depth;
    info.bmiHeader.biCompression = BI_BITFIELDS;
    EXPECT_EQ(nullptr, CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0)) << depth;
  }
  EXPECT_FALSE(BitBlt(dc, 0, 0, 1, 1, nullptr, 0, 0, SRCCOPY));
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_FALSE(DeleteDC(dc));
}

}  // namespace
