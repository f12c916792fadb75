/* Page fonts read back from the platform, and the text helpers' rectangles
 * and line handling, drawn into a DIB section with a skin made in the test. */
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "dib.h"
#include "vx_font.h"
#include "vx_skin.h"
#include "vx_wince.h"

namespace {

TEST(VxCreateFont, LogicalFontReadsBackAsAsked) {
  struct Case {
    int weight, height;
    const WCHAR* face;
    BYTE device_charset, desktop_charset;
  } cases[] = {
      {600, 40, TEXT("默认"), ANSI_CHARSET, DEFAULT_CHARSET},
      {600, 30, TEXT("宋体"), DEFAULT_CHARSET, DEFAULT_CHARSET},
      {400, -12, TEXT("Arial"), ANSI_CHARSET, DEFAULT_CHARSET},
      {700, 32, TEXT(""), ANSI_CHARSET, DEFAULT_CHARSET},
  };
  for (const Case& c : cases) {
    HFONT font = vx_create_font(c.weight, c.height, c.face);
    ASSERT_NE(font, nullptr);
    LOGFONTW got;
    memset(&got, 0xCC, sizeof got);
    ASSERT_EQ(GetObjectW(font, sizeof got, &got), (int)sizeof got);
    EXPECT_EQ(got.lfHeight, c.height);
    EXPECT_EQ(got.lfWeight, c.weight);
    EXPECT_EQ(got.lfQuality, 5);
    EXPECT_EQ(got.lfCharSet, vx_wince_is_desktop() ? c.desktop_charset : c.device_charset);
    EXPECT_EQ(lstrcmpW(got.lfFaceName, c.face), 0);
    EXPECT_EQ(got.lfWidth, 0);
    EXPECT_EQ(got.lfItalic, 0);
    EXPECT_EQ(got.lfEscapement, 0);
    DeleteObject(font);
  }
}

TEST(VxCreateFont, LongFaceNameIsCutToTheRoomOfTheLogicalFont) {
  WCHAR face[64];
  for (int i = 0; i < 63; ++i) face[i] = (WCHAR)('a' + i % 26);
  face[63] = 0;
  HFONT font = vx_create_font(600, 20, face);
  ASSERT_NE(font, nullptr);
  LOGFONTW got;
  ASSERT_EQ(GetObjectW(font, sizeof got, &got), (int)sizeof got);
  EXPECT_EQ(lstrlenW(got.lfFaceName), LF_FACESIZE - 1);
  EXPECT_EQ(memcmp(got.lfFaceName, face, (LF_FACESIZE - 1) * sizeof(WCHAR)), 0);
  DeleteObject(font);
}

/* ---- Text in skin items ---- */

WCHAR long_text[] = TEXT("MMMMMMMMMMMMMMMMMMMMMMMM");
WCHAR two_lines[] = TEXT("HHHH\r\nHHHH");
WCHAR short_text[] = TEXT("HH");

const int wide_item = 1, text_item = 2, tall_item = 3, two_line_item = 4, empty_item = 5;

/* An in-memory skin of items only, installed as the program's skin. */
class VxText : public ::testing::Test {
 protected:
  VxSkinItem items[5];
  VxSkin skin;
  HFONT font = nullptr;
  Dib canvas{240, 200, 0xFFFFFF};

  void SetUp() override {
    memset(items, 0, sizeof items);
    const struct {
      int id, x, y, width, height;
      WCHAR* text;
    } rows[] = {
        {wide_item, 10, 5, 100, 30, long_text},
        {text_item, 10, 40, 100, 60, nullptr},
        {tall_item, 120, 100, 100, 80, short_text},
        {two_line_item, 120, 5, 100, 80, two_lines},
        {empty_item, 10, 110, 100, 30, nullptr},
    };
    for (int i = 0; i < 5; ++i) {
      items[i].id = rows[i].id;
      items[i].x = rows[i].x;
      items[i].y = rows[i].y;
      items[i].width = rows[i].width;
      items[i].height = rows[i].height;
      items[i].image_slot = -1;
      items[i].variant = -1;
      items[i].text = rows[i].text;
    }
    memset(&skin, 0, sizeof skin);
    skin.items = items;
    skin.item_count = 5;
    skin.variant_a = -1;
    skin.variant_b = 1;
    shell_skin = &skin;
    font = vx_create_font(600, 20, TEXT("默认"));
    HDC dc = canvas.context();
    SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
  }
  void TearDown() override {
    shell_skin = nullptr;
    SelectObject(canvas.context(), GetStockObject(SYSTEM_FONT));
    DeleteObject(font);
  }

  /* The box around every pixel that is not white, right and bottom
   * exclusive; empty when nothing was drawn. */
  RECT ink() const {
    RECT box = {canvas.width, canvas.height, 0, 0};
    for (int y = 0; y < canvas.height; ++y)
      for (int x = 0; x < canvas.width; ++x)
        if (canvas.at(x, y) != 0xFFFFFF) {
          if (x < box.left) box.left = x;
          if (y < box.top) box.top = y;
          if (x + 1 > box.right) box.right = x + 1;
          if (y + 1 > box.bottom) box.bottom = y + 1;
        }
    if (box.right == 0) box = {0, 0, 0, 0};
    return box;
  }
  /* The runs of rows with ink in columns left..right-1. */
  std::vector<std::pair<int, int>> ink_rows(int left, int right) const {
    std::vector<std::pair<int, int>> runs;
    for (int y = 0; y < canvas.height; ++y) {
      bool any = false;
      for (int x = left; x < right && !any; ++x) any = canvas.at(x, y) != 0xFFFFFF;
      if (any && (runs.empty() || runs.back().second != y)) runs.push_back({y, y + 1});
      else if (any) runs.back().second = y + 1;
    }
    return runs;
  }
};

TEST_F(VxText, InkStaysInsideTheItemWhoseRightEdgeIsXPlusWidthMinusOne) {
  struct Case {
    const char* name;
    void (*draw)(HDC);
  } cases[] = {
      {"skin text", [](HDC dc) { vx_draw_skin_text(dc, wide_item); }},
      {"text in item", [](HDC dc) { vx_draw_text_in_item(dc, text_item, long_text); }},
      {"top left", [](HDC dc) { vx_draw_text_top_left(dc, text_item, long_text); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    canvas.fill(0xFFFFFF);
    c.draw(canvas.context());
    const RECT box = ink();
    /* Text wider than the item: clipped at column 108, the last before the
     * right edge 109. */
    EXPECT_GE(box.left, 10);
    EXPECT_EQ(box.right, 109);
  }
}

TEST_F(VxText, SkinTextIsOneLineCentredVertically) {
  vx_draw_skin_text(canvas.context(), tall_item);
  RECT box = ink();
  ASSERT_LT(box.left, box.right);
  /* Rows 100..178 (bottom edge 179): the line's middle near row 139. */
  const int middle = (box.top + box.bottom) / 2;
  EXPECT_GE(box.top, 110);
  EXPECT_LE(box.bottom, 170);
  EXPECT_NEAR(middle, 139, 6);
  EXPECT_GE(box.left, 120);
  EXPECT_LE(box.left, 124) << "left-aligned";

  canvas.fill(0xFFFFFF);
  vx_draw_skin_text(canvas.context(), two_line_item);
  EXPECT_EQ(ink_rows(120, 220).size(), 1u) << "the line break does not break the line";
}

TEST_F(VxText, GivenTextStartsAtTheTopAndBreaksAtLineBreaks) {
  /* DT_VCENTER without DT_SINGLELINE leaves the text at the top. */
  vx_draw_text_in_item(canvas.context(), text_item, short_text);
  RECT box = ink();
  ASSERT_LT(box.left, box.right);
  EXPECT_GE(box.top, 40);
  EXPECT_LT(box.top, 50);

  canvas.fill(0xFFFFFF);
  vx_draw_text_top_left(canvas.context(), text_item, two_lines);
  const auto lines = ink_rows(0, canvas.width);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_GE(lines[0].first, 40);
  EXPECT_LT(lines[0].first, 50);
  /* The second line is one line height (about 20) below the first. */
  EXPECT_NEAR(lines[1].first - lines[0].first, 20, 5);
  EXPECT_LE(lines[1].second, 100);
}

TEST_F(VxText, UnknownItemsMissingSkinAndEmptyTextsDrawNothing) {
  HDC dc = canvas.context();
  vx_draw_skin_text(dc, 99);
  vx_draw_text_in_item(dc, 99, short_text);
  vx_draw_text_top_left(dc, 99, short_text);
  vx_draw_skin_text(dc, empty_item);
  vx_draw_text_in_item(dc, text_item, TEXT(""));
  vx_draw_text_top_left(dc, text_item, nullptr);
  vx_draw_skin_text(nullptr, wide_item);
  shell_skin = nullptr;
  vx_draw_skin_text(dc, wide_item);
  vx_draw_text_in_item(dc, text_item, short_text);
  const RECT box = ink();
  EXPECT_EQ(box.right, 0) << "ink at " << box.left << "," << box.top;
  /* The same calls with the skin do draw. */
  shell_skin = &skin;
  vx_draw_text_in_item(dc, text_item, short_text);
  EXPECT_GT(ink().right, 0);
}

}  // namespace
