/* Fonts and text drawing: Chinese glyphs drawn in the text colour inside
 * the rectangle, alignment, line breaks, DT_CALCRECT, background modes,
 * font heights, extents and prefixes. Ink is found by looking at the pixels
 * of a white 32-bit DIB section. */
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <windows.h>

#include "known_difference.h"
#ifndef _WIN32
#include "../../platform/src/gdi_internal.h"
#include "plat/host.h"
#endif

namespace {

struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  uint32_t* bits = nullptr;
  int width, height;

  Canvas(int w, int h) : width(w), height(h) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* p = nullptr;
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
    bits = (uint32_t*)p;
    dc = CreateCompatibleDC(nullptr);
    old = SelectObject(dc, bitmap);
    clear();
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  void clear() {
    for (int i = 0; i < width * height; i++) bits[i] = 0xFFFFFF;
  }
  uint32_t at(int x, int y) const { return bits[y * width + x] & 0xFFFFFF; }
  std::vector<uint32_t> pixels() const {
    GdiFlush();
    std::vector<uint32_t> v(bits, bits + width * height);
    for (uint32_t& p : v) p &= 0xFFFFFF;
    return v;
  }
};

/* Where the pixels differing from white are. */
struct Ink {
  int count = 0;
  RECT box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
};

Ink ink_of(const Canvas& c, uint32_t only = 0xFFFFFFFF) {
  GdiFlush();
  Ink ink;
  for (int y = 0; y < c.height; y++)
    for (int x = 0; x < c.width; x++) {
      uint32_t p = c.at(x, y);
      if (p == 0xFFFFFF || (only != 0xFFFFFFFF && p != only)) continue;
      ink.count++;
      ink.box.left = std::min<LONG>(ink.box.left, x);
      ink.box.top = std::min<LONG>(ink.box.top, y);
      ink.box.right = std::max<LONG>(ink.box.right, x + 1);
      ink.box.bottom = std::max<LONG>(ink.box.bottom, y + 1);
    }
  return ink;
}

/* A font as the pages make theirs: weight 600, ClearType quality. The device
 * asks for ANSI_CHARSET but for "宋体" and finds its one Chinese font;
 * desktop Windows picks a Chinese font for DEFAULT_CHARSET only. */
HFONT page_font(LONG height, const WCHAR* face) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = 600;
  lf.lfQuality = CLEARTYPE_QUALITY;
#ifdef _WIN32
  lf.lfCharSet = DEFAULT_CHARSET;
#else
  lf.lfCharSet = lstrcmpW(face, TEXT("宋体")) == 0 ? DEFAULT_CHARSET : ANSI_CHARSET;
#endif
  lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirectW(&lf);
}

struct TextTest : testing::Test {
  Canvas canvas{240, 100};
  HFONT font = page_font(30, TEXT("默认"));
  HGDIOBJ old_font = nullptr;
  TEXTMETRICW tm{};
  void SetUp() override {
    ASSERT_NE(nullptr, font);
    old_font = SelectObject(canvas.dc, font);
    ASSERT_TRUE(GetTextMetricsW(canvas.dc, &tm));
    SetBkMode(canvas.dc, TRANSPARENT);
    SetTextColor(canvas.dc, RGB(255, 0, 0));
  }
  void TearDown() override {
    SelectObject(canvas.dc, old_font);
    DeleteObject(font);
  }
  SIZE extent(const WCHAR* text) {
    SIZE s{};
    EXPECT_TRUE(GetTextExtentPoint32W(canvas.dc, text, lstrlenW(text), &s));
    return s;
  }
};

#ifndef _WIN32
/* Host: every face name, the device's own included, resolves to a font
 * with Chinese glyphs. */
TEST(FontResolution, EveryFaceNameFindsChineseGlyphs) {
  const WCHAR* faces[] = {TEXT("默认"), TEXT("宋体"), TEXT(""), TEXT("Arial"), TEXT("System"),
                          TEXT("No Such Font 123")};
  const WCHAR text[] = TEXT("请插入地图卡话务员设定地址");
  for (const WCHAR* face : faces) {
    SCOPED_TRACE(plat::utf16_to_utf8(face));
    HFONT font = page_font(30, face);
    std::string file;
    int index = -1;
    ASSERT_TRUE(plat::font_source(font, &file, &index));
    EXPECT_FALSE(file.empty());
    for (const WCHAR* p = text; *p; p++) EXPECT_NE(0u, plat::font_glyph_index(font, *p)) << file;
    DeleteObject(font);
  }
  EXPECT_EQ(0u, plat::font_glyph_index(nullptr, 0x4E2D));
}
#endif

/* The faces the pages name have real Chinese glyphs (a missing glyph would
 * draw a box, which counts as ink too), and they draw as glyphs. */
TEST(ChineseGlyphs, ThePagesFacesHaveThem) {
  const WCHAR text[] = TEXT("请插入地图卡话务员设定地址");
  const int n = (int)(sizeof text / sizeof text[0]) - 1;
  for (const WCHAR* face : {TEXT("默认"), TEXT("宋体")}) {
    Canvas canvas(400, 60);
    HFONT font = page_font(30, face);
    HGDIOBJ old = SelectObject(canvas.dc, font);
    WORD glyphs[n];
    ASSERT_EQ((DWORD)n, GetGlyphIndicesW(canvas.dc, text, n, glyphs, GGI_MARK_NONEXISTING_GLYPHS));
    for (int i = 0; i < n; i++) EXPECT_NE(0xFFFF, glyphs[i]) << "character " << i;
    /* Drawn, six glyphs have far more ink than six boxes' outlines. */
    RECT rect{0, 0, 400, 60};
    SetBkMode(canvas.dc, TRANSPARENT);
    DrawTextW(canvas.dc, TEXT("请插入地图卡"), -1, &rect, DT_LEFT | DT_SINGLELINE);
    EXPECT_GT(ink_of(canvas).count, 1000);
    SelectObject(canvas.dc, old);
    DeleteObject(font);
  }
  /* A font that has no Chinese glyph says so. The test names that font by
   * file (DejaVu Sans, which scripts/setup installs): under Wine a face name
   * such as "Tahoma" may resolve to whatever the machine has, and in a zh_CN
   * prefix that is the CJK font. The host resolves every face to a font with
   * Chinese glyphs, so it needs no file. */
  Canvas canvas(40, 40);
  LOGFONTW lf{};
  lf.lfHeight = 20;
#ifdef _WIN32
  std::wstring latin_file = L"" VELMAR_LATIN_FONT;
  std::replace(latin_file.begin(), latin_file.end(), L'/', L'\\');
  ASSERT_GT(AddFontResourceExW(latin_file.c_str(), FR_PRIVATE, 0), 0)
      << "the tests' Latin font is missing: " << VELMAR_LATIN_FONT;
  lstrcpynW(lf.lfFaceName, TEXT("DejaVu Sans"), LF_FACESIZE);
#else
  lstrcpynW(lf.lfFaceName, TEXT("Tahoma"), LF_FACESIZE);
#endif
  WORD glyphs[2] = {0, 0};
  HFONT latin = CreateFontIndirectW(&lf);
  HGDIOBJ old = SelectObject(canvas.dc, latin);
  EXPECT_EQ(2u, GetGlyphIndicesW(canvas.dc, TEXT("A\x4e2d"), 2, glyphs, GGI_MARK_NONEXISTING_GLYPHS));
  EXPECT_NE(0xFFFF, glyphs[0]);
  KNOWN_HOST_DIFFERENCE("the host resolves every face name, Latin ones too, to a font with Chinese "
                        "glyphs",
                        glyphs[1] != 0xFFFF);
  SelectObject(canvas.dc, old);
  DeleteObject(latin);
#ifdef _WIN32
  RemoveFontResourceExW(latin_file.c_str(), FR_PRIVATE, 0);
#endif
}

TEST_F(TextTest, ChineseTextIsDrawnInsideItsRectangle) {
  RECT rect{10, 10, 200, 60};
  int height = DrawTextW(canvas.dc, TEXT("请插入地图卡"), -1, &rect, DT_LEFT | DT_TOP | DT_SINGLELINE);
  EXPECT_EQ(tm.tmHeight, height);
  Ink all = ink_of(canvas), red = ink_of(canvas, 0xFF0000);
  EXPECT_GT(red.count, 100); /* solid strokes in the text colour */
  EXPECT_GE(all.box.left, rect.left);
  EXPECT_GE(all.box.top, rect.top);
  EXPECT_LE(all.box.right, rect.right);
  EXPECT_LE(all.box.bottom, rect.bottom);
  /* Six wide glyphs fill most of the text's extent. */
  EXPECT_GT(all.box.right - all.box.left, extent(TEXT("请插入地图卡")).cx * 3 / 4);
  /* Other characters make other ink; the same ones the same ink. */
  std::vector<uint32_t> first = canvas.pixels();
  canvas.clear();
  DrawTextW(canvas.dc, TEXT("话务员设定地址"), -1, &rect, DT_LEFT | DT_TOP | DT_SINGLELINE);
  EXPECT_NE(first, canvas.pixels());
  canvas.clear();
  DrawTextW(canvas.dc, TEXT("请插入地图卡"), -1, &rect, DT_LEFT | DT_TOP | DT_SINGLELINE);
  EXPECT_EQ(first, canvas.pixels());
}

TEST_F(TextTest, AlignmentFlagsPlaceTheTextCell) {
  const RECT rect{20, 10, 220, 90};
  const WCHAR* text = TEXT("中文");
  SIZE size = extent(text);
  ASSERT_GT(size.cx, 0);
  ASSERT_EQ(tm.tmHeight, size.cy);
  struct Case {
    UINT flags;
    LONG left, top; /* the cell's corner */
  };
  const LONG w = rect.right - rect.left, h = rect.bottom - rect.top;
  const Case cases[] = {
      {DT_LEFT | DT_TOP, rect.left, rect.top},
      {DT_CENTER | DT_TOP, rect.left + (w - size.cx) / 2, rect.top},
      {DT_RIGHT | DT_TOP, rect.right - size.cx, rect.top},
      {DT_LEFT | DT_VCENTER, rect.left, rect.top + (h - size.cy) / 2},
      {DT_CENTER | DT_VCENTER, rect.left + (w - size.cx) / 2, rect.top + (h - size.cy) / 2},
      {DT_RIGHT | DT_BOTTOM, rect.right - size.cx, rect.bottom - size.cy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags);
    canvas.clear();
    RECT r = rect;
    DrawTextW(canvas.dc, text, -1, &r, c.flags | DT_SINGLELINE);
    Ink ink = ink_of(canvas);
    ASSERT_GT(ink.count, 0);
    EXPECT_GE(ink.box.left, c.left - 1);
    EXPECT_LE(ink.box.right, c.left + size.cx + 1);
    EXPECT_GE(ink.box.top, c.top);
    EXPECT_LE(ink.box.bottom, c.top + size.cy);
    /* The glyphs fill their cell's width, not some other part of the rectangle. */
    EXPECT_GT(ink.box.right - ink.box.left, size.cx * 3 / 4);
  }
}

TEST_F(TextTest, VerticalCentringNeedsASingleLine) {
  RECT rect{0, 0, 240, 100};
  DrawTextW(canvas.dc, TEXT("中文"), -1, &rect, DT_VCENTER);
  Ink ink = ink_of(canvas);
  ASSERT_GT(ink.count, 0);
  EXPECT_LE(ink.box.bottom, tm.tmHeight); /* drawn at the top */
}

TEST_F(TextTest, LineBreaksMakeLinesUnlessSingleLine) {
  for (const WCHAR* text : {TEXT("一行\r\n二行"), TEXT("一行\n二行")}) {
    canvas.clear();
    RECT rect{0, 0, 240, 100};
    EXPECT_EQ(2 * tm.tmHeight, DrawTextW(canvas.dc, text, -1, &rect, DT_LEFT));
    Ink ink = ink_of(canvas);
    EXPECT_GT(ink.box.bottom, tm.tmHeight); /* ink on the second line */
    EXPECT_LE(ink.box.bottom, 2 * tm.tmHeight);
    canvas.clear();
    EXPECT_EQ(tm.tmHeight, DrawTextW(canvas.dc, text, -1, &rect, DT_LEFT | DT_SINGLELINE));
    EXPECT_LE(ink_of(canvas).box.bottom, tm.tmHeight);
  }
  /* The count limits the text: only the first line. */
  RECT rect{0, 0, 240, 100};
  EXPECT_EQ(tm.tmHeight, DrawTextW(canvas.dc, TEXT("一行\r\n二行"), 2, &rect, DT_LEFT));
}

TEST_F(TextTest, CalcRectMeasuresWithoutDrawing) {
  RECT one{5, 7, 5, 7};
  SIZE size = extent(TEXT("中文字"));
  EXPECT_EQ(tm.tmHeight, DrawTextW(canvas.dc, TEXT("中文字"), -1, &one, DT_CALCRECT | DT_SINGLELINE));
  EXPECT_EQ(5 + size.cx, one.right);
  EXPECT_EQ(7 + tm.tmHeight, one.bottom);
  RECT two{0, 0, 0, 0};
  EXPECT_EQ(2 * tm.tmHeight, DrawTextW(canvas.dc, TEXT("中\r\n中文字"), -1, &two, DT_CALCRECT));
  EXPECT_EQ(size.cx, two.right);
  EXPECT_EQ(2 * tm.tmHeight, two.bottom);
  EXPECT_EQ(0, ink_of(canvas).count);
}

TEST_F(TextTest, OpaqueModeFillsTheTextCell) {
  RECT rect{10, 10, 230, 90};
  SetBkColor(canvas.dc, RGB(0, 0, 255));
  DrawTextW(canvas.dc, TEXT("中文"), -1, &rect, DT_LEFT | DT_SINGLELINE);
  EXPECT_EQ(0, ink_of(canvas, 0x0000FF).count); /* transparent: no background */
  SetBkMode(canvas.dc, OPAQUE);
  DrawTextW(canvas.dc, TEXT("中文"), -1, &rect, DT_LEFT | DT_SINGLELINE);
  Ink blue = ink_of(canvas, 0x0000FF);
  SIZE size = extent(TEXT("中文"));
  EXPECT_GT(blue.count, size.cx * size.cy / 3);
  EXPECT_EQ(rect.left, blue.box.left);
  EXPECT_EQ(rect.top, blue.box.top);
  EXPECT_EQ(rect.left + size.cx, blue.box.right);
  EXPECT_EQ(rect.top + size.cy, blue.box.bottom);
  EXPECT_GT(ink_of(canvas, 0xFF0000).count, 0); /* the glyphs over it */
}

TEST_F(TextTest, TextIsClippedToItsRectangle) {
  RECT rect{10, 10, 40, 60};
  DrawTextW(canvas.dc, TEXT("请插入地图卡"), -1, &rect, DT_LEFT | DT_SINGLELINE);
  Ink ink = ink_of(canvas);
  ASSERT_GT(ink.count, 0);
  EXPECT_LE(ink.box.right, 40);
  canvas.clear();
  DrawTextW(canvas.dc, TEXT("请插入地图卡"), -1, &rect, DT_LEFT | DT_SINGLELINE | DT_NOCLIP);
  EXPECT_GT(ink_of(canvas).box.right, 40);
  /* Far away: nothing, for every alignment. */
  canvas.clear();
  const LONG distant = 0x7FFFFFF0;
  RECT away{distant - 10, -distant, distant, distant};
  for (UINT flags : {DT_LEFT, DT_CENTER | DT_VCENTER | DT_SINGLELINE, DT_RIGHT | DT_BOTTOM | DT_SINGLELINE})
    DrawTextW(canvas.dc, TEXT("请插入地图卡"), -1, &away, flags);
  TextOutW(canvas.dc, distant, distant, TEXT("中"), 1);
  EXPECT_EQ(0, ink_of(canvas).count);
}

TEST_F(TextTest, HeightsAreCellOrCharacterHeights) {
  EXPECT_EQ(30, tm.tmHeight); /* positive: the cell */
  HFONT em = page_font(-30, TEXT("默认"));
  HGDIOBJ old = SelectObject(canvas.dc, em);
  TEXTMETRICW tm_em{};
  ASSERT_TRUE(GetTextMetricsW(canvas.dc, &tm_em));
  EXPECT_EQ(30, tm_em.tmHeight - tm_em.tmInternalLeading); /* negative: the character */
  EXPECT_GE(tm_em.tmHeight, 30);
  SelectObject(canvas.dc, old);
  DeleteObject(em);
  /* A larger font draws larger glyphs. */
  RECT rect{0, 0, 240, 100};
  DrawTextW(canvas.dc, TEXT("中"), -1, &rect, DT_LEFT | DT_SINGLELINE);
  Ink small = ink_of(canvas);
  canvas.clear();
  HFONT big = page_font(60, TEXT("默认"));
  old = SelectObject(canvas.dc, big);
  DrawTextW(canvas.dc, TEXT("中"), -1, &rect, DT_LEFT | DT_SINGLELINE);
  Ink large = ink_of(canvas);
  EXPECT_GT(large.box.bottom - large.box.top, (small.box.bottom - small.box.top) * 3 / 2);
  SelectObject(canvas.dc, old);
  DeleteObject(big);
}

TEST_F(TextTest, ExtentsAndTextOut) {
  SIZE one = extent(TEXT("中")), two = extent(TEXT("中中"));
  EXPECT_GT(one.cx, 0);
  EXPECT_EQ(2 * one.cx, two.cx);
  EXPECT_EQ(tm.tmHeight, one.cy);
  SIZE none{};
  EXPECT_TRUE(GetTextExtentPoint32W(canvas.dc, TEXT("中"), 0, &none));
  EXPECT_EQ(0, none.cx);
  EXPECT_TRUE(TextOutW(canvas.dc, 50, 20, TEXT("中中"), 2));
  Ink ink = ink_of(canvas);
  ASSERT_GT(ink.count, 0);
  EXPECT_GE(ink.box.left, 50 - 1);
  EXPECT_LE(ink.box.right, 50 + two.cx + 1);
  EXPECT_GE(ink.box.top, 20);
  EXPECT_LE(ink.box.bottom, 20 + two.cy);
}

TEST_F(TextTest, AmpersandMarksAPrefixUnlessNoPrefix) {
  RECT a{0, 0, 0, 0}, b{0, 0, 0, 0};
  DrawTextW(canvas.dc, TEXT("a&&b"), -1, &a, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(extent(TEXT("a&b")).cx, a.right);
  DrawTextW(canvas.dc, TEXT("a&&b"), -1, &b, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  EXPECT_EQ(extent(TEXT("a&&b")).cx, b.right);
  RECT c{0, 0, 0, 0};
  DrawTextW(canvas.dc, TEXT("&ab"), -1, &c, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(extent(TEXT("ab")).cx, c.right);
}

}  // namespace
