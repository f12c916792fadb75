/* The button control: frames and shaped buttons drawn into DIB sections and
 * read back pixel by pixel, captions, the pen's state machine on a real
 * window as a table of pen sequences, and the two frame operations'
 * clipping. */
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dib.h"
#include "vx_button.h"
#include "vx_font.h"

namespace {

const uint32_t page_blue = 0x0000FF;

/* A two-frame image whose pixels tell frame and position apart. */
uint32_t normal_pixel(int x, int y) { return 0xC80000 | (x << 8) | y; }
uint32_t pressed_pixel(int x, int y) { return 0x640000 | (x << 8) | y; }
uint32_t page_pixel(int x, int y) { return (x * 5) << 8 | (y * 7) | 0x300000; }

/* Applies a group state and says whether the button must show pressed. */
struct PressState {
  const char* name;
  int type;
  int pressed_index, pressed_inside;
  int selected_index, selected_state;
  bool pressed;
};

TEST(VxButtonDraw, TwoFrameButtonShowsTheFrameOfItsState) {
  const int w = 10, h = 6;
  Dib image(2 * w, h, [&](int x, int y) { return x < w ? normal_pixel(x, y) : pressed_pixel(x - w, y); });
  const PressState states[] = {
      {"idle", VX_BUTTON_GROUP_PUSH, -1, 0, -1, 0, false},
      {"pressed inside", VX_BUTTON_GROUP_PUSH, 0, 1, -1, 0, true},
      {"pressed, pen outside", VX_BUTTON_GROUP_PUSH, 0, 0, -1, 0, false},
      {"inside flag without a pressed button", VX_BUTTON_GROUP_PUSH, -1, 1, -1, 0, false},
      {"another button pressed", VX_BUTTON_GROUP_PUSH, 1, 1, -1, 0, false},
      {"a push group ignores the selection", VX_BUTTON_GROUP_PUSH, -1, 0, 0, 2, false},
      {"selected in a selection group", VX_BUTTON_GROUP_SELECT, -1, 0, 0, 2, true},
      {"selected, state 0", VX_BUTTON_GROUP_SELECT, -1, 0, 0, 0, false},
  };
  for (const PressState& s : states) {
    SCOPED_TRACE(s.name);
    ButtonGroup* group = vx_button_group_create(nullptr, s.type);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(vx_button_add(group, 7, 5, 4, w, h, image.bitmap, VX_BUTTON_TWO_FRAMES), 0);
    ASSERT_EQ(vx_button_add(group, 8, 20, 12, w, h, image.bitmap, VX_BUTTON_TWO_FRAMES), 0);
    group->pressed_index = s.pressed_index;
    group->pressed_inside = s.pressed_inside;
    group->selected_index = s.selected_index;
    group->selected_state = s.selected_state;
    Dib canvas(32, 20, page_blue);
    vx_button_draw(group, canvas.context(), vx_button_find(group, 7));
    for (int y = 0; y < canvas.height; ++y)
      for (int x = 0; x < canvas.width; ++x) {
        const bool inside = x >= 5 && x < 5 + w && y >= 4 && y < 4 + h;
        const uint32_t want = !inside ? page_blue : s.pressed ? pressed_pixel(x - 5, y - 4) : normal_pixel(x - 5, y - 4);
        ASSERT_EQ(canvas.at(x, y), want) << "at " << x << "," << y;
      }
    vx_button_group_destroy(group);
  }
}

TEST(VxButtonDraw, NarrowTwoFrameImageIsClippedToHalfItsWidth) {
  /* Frames of 6 columns for a button 10 wide. */
  Dib image(12, 5, [](int x, int y) { return x < 6 ? normal_pixel(x, y) : pressed_pixel(x - 6, y); });
  ButtonGroup* group = vx_button_group_create(nullptr, VX_BUTTON_GROUP_PUSH);
  ASSERT_EQ(vx_button_add(group, 1, 2, 1, 10, 5, image.bitmap, VX_BUTTON_TWO_FRAMES), 0);
  for (int pressed : {0, 1}) {
    group->pressed_index = pressed ? 0 : -1;
    group->pressed_inside = pressed;
    Dib canvas(16, 8, page_blue);
    vx_button_draw(group, canvas.context(), vx_button_find(group, 1));
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 16; ++x) {
        const bool drawn = x >= 2 && x < 8 && y >= 1 && y < 6;
        const uint32_t want = !drawn ? page_blue : pressed ? pressed_pixel(x - 2, y - 1) : normal_pixel(x - 2, y - 1);
        ASSERT_EQ(canvas.at(x, y), want) << "pressed " << pressed << " at " << x << "," << y;
      }
  }
  vx_button_group_destroy(group);
}

/* Three frames of 8 x 8: a white triangle in the shape frame (x + y >= 4),
 * near-white elsewhere, which is transparent too. */
bool in_triangle(int x, int y) { return x + y >= 4; }
uint32_t shaped_pixel(int x, int y) {
  if (x < 8) return in_triangle(x, y) ? normal_pixel(x, y) : 0xFFFF00;
  if (x < 16) return in_triangle(x - 8, y) ? pressed_pixel(x - 8, y) : 0x00FFFF;
  return in_triangle(x - 16, y) ? 0xFFFFFF : 0xFEFEFE;
}

TEST(VxButtonDraw, ShapedButtonsKeepThePageOutsideTheirShape) {
  for (int style : {VX_BUTTON_SHAPED, VX_BUTTON_SHAPED_RECT}) {
    SCOPED_TRACE(style);
    Dib image(24, 8, shaped_pixel);
    ButtonGroup* group = vx_button_group_create(nullptr, VX_BUTTON_GROUP_PUSH);
    ASSERT_EQ(vx_button_add(group, 3, 5, 3, 8, 8, image.bitmap, style), 0);
    Button* button = vx_button_find(group, 3);
    if (style == VX_BUTTON_SHAPED_RECT) vx_button_prepare_mask(button, nullptr);
    ASSERT_NE(button->mask_dc, nullptr);
    /* The frames' transparent pixels were blackened in the image itself. */
    EXPECT_EQ(image.at(0, 0), 0u);
    EXPECT_EQ(image.at(9, 1), 0u);
    EXPECT_EQ(image.at(4, 4), normal_pixel(4, 4));
    for (int pressed : {0, 1}) {
      group->pressed_index = pressed ? 0 : -1;
      group->pressed_inside = pressed;
      Dib canvas(20, 14, page_pixel);
      vx_button_draw(group, canvas.context(), button);
      for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 20; ++x) {
          const int bx = x - 5, by = y - 3;
          const bool shape = bx >= 0 && bx < 8 && by >= 0 && by < 8 && in_triangle(bx, by);
          const uint32_t want = !shape ? page_pixel(x, y) : pressed ? pressed_pixel(bx, by) : normal_pixel(bx, by);
          ASSERT_EQ(canvas.at(x, y), want) << "pressed " << pressed << " at " << x << "," << y;
        }
      /* The context's colours are given back. */
      EXPECT_EQ(GetTextColor(canvas.context()), RGB(0, 0, 0));
      EXPECT_EQ(GetBkColor(canvas.context()), RGB(255, 255, 255));
    }
    vx_button_group_destroy(group);
  }
}

TEST(VxButtonDraw, UnusableOrHiddenButtonsAreNotDrawnAndNullsAreIgnored) {
  Dib image(20, 6, [](int x, int y) { return normal_pixel(x, y); });
  ButtonGroup* group = vx_button_group_create(nullptr, VX_BUTTON_GROUP_PUSH);
  ASSERT_EQ(vx_button_add(group, 1, 0, 0, 10, 6, image.bitmap, VX_BUTTON_TWO_FRAMES), 0);
  ASSERT_EQ(vx_button_add(group, 2, 0, 0, 10, 6, image.bitmap, VX_BUTTON_TWO_FRAMES), 0);
  vx_button_find(group, 1)->flags &= ~VX_BUTTON_USABLE;
  vx_button_find(group, 2)->flags &= ~VX_BUTTON_SHOWN;
  Dib canvas(12, 8, page_blue);
  vx_button_draw_all(group, canvas.context());
  vx_button_draw(nullptr, canvas.context(), vx_button_find(group, 1));
  vx_button_draw(group, canvas.context(), nullptr);
  vx_button_draw(group, nullptr, vx_button_find(group, 1));
  vx_button_draw_all(nullptr, canvas.context());
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 12; ++x) ASSERT_EQ(canvas.at(x, y), page_blue);
  EXPECT_EQ(vx_button_lbutton_down(group, 3, 3), -1);
  vx_button_group_destroy(group);
}

TEST(VxButtonDraw, DrawAllPaintsInInsertionOrder) {
  Dib first(8, 4, 0xAA0000), second(8, 4, 0x00AA00);
  ButtonGroup* group = vx_button_group_create(nullptr, VX_BUTTON_GROUP_PUSH);
  ASSERT_EQ(vx_button_add(group, 1, 0, 0, 4, 4, first.bitmap, VX_BUTTON_TWO_FRAMES), 0);
  ASSERT_EQ(vx_button_add(group, 2, 2, 0, 4, 4, second.bitmap, VX_BUTTON_TWO_FRAMES), 0);
  Dib canvas(8, 4, page_blue);
  vx_button_draw_all(group, canvas.context());
  const uint32_t row[8] = {0xAA0000, 0xAA0000, 0x00AA00, 0x00AA00, 0x00AA00, 0x00AA00, page_blue, page_blue};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(canvas.at(x, 2), row[x]) << x;
  vx_button_group_destroy(group);
}

TEST(VxButtonDraw, CaptionIsCentredInItsBoxInTheStateColour) {
  const uint32_t face = 0x404040;
  Dib image(120, 30, face);
  ButtonGroup* group = vx_button_group_create(nullptr, VX_BUTTON_GROUP_PUSH);
  HFONT font = vx_create_font(600, 20, TEXT("Arial"));
  ASSERT_NE(font, nullptr);
  group->caption_font = font;
  ASSERT_EQ(vx_button_add(group, 1, 4, 2, 60, 30, image.bitmap, VX_BUTTON_TWO_FRAMES), 0);
  Button* button = vx_button_find(group, 1);
  WCHAR short_caption[] = TEXT("IIII");
  WCHAR long_caption[] = TEXT("IIIIIIIIIIIIIIIIIIIIIIII");
  button->caption_color = RGB(255, 255, 0);
  button->caption_color_pressed = RGB(0, 255, 255);
  /* The box's right and bottom edges are its last column and row plus one:
   * text wider than the box is clipped one column short of x + width. */
  struct Case {
    WCHAR* caption;
    int box_x, box_y, box_w, box_h;
    RECT ink;  /* where ink may fall, canvas coordinates, right and bottom exclusive */
    int pressed;
  } cases[] = {
      {short_caption, 10, 5, 30, 20, {14, 7, 43, 26}, 0},
      {short_caption, 10, 5, 30, 20, {14, 7, 43, 26}, 1},
      {long_caption, 10, 5, 30, 20, {14, 7, 43, 26}, 1},
      {short_caption, 0, 0, 0, 20, {4, 2, 63, 31}, 0}, /* no box width: the whole button */
      {long_caption, 0, 0, 0, 20, {4, 2, 63, 31}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.box_w << " " << (c.caption == long_caption ? "long" : "short"));
    button->caption = c.caption;
    button->caption_x = c.box_x;
    button->caption_y = c.box_y;
    button->caption_width = c.box_w;
    button->caption_height = c.box_h;
    group->pressed_index = c.pressed ? 0 : -1;
    group->pressed_inside = c.pressed;
    Dib canvas(70, 36, page_blue);
    HDC dc = canvas.context();
    SetBkMode(dc, OPAQUE);
    SetTextColor(dc, RGB(1, 2, 3));
    HGDIOBJ before = GetCurrentObject(dc, OBJ_FONT);
    vx_button_draw(group, dc, button);
    const uint32_t ink_colour = rgb_of(c.pressed ? button->caption_color_pressed : button->caption_color);
    int full = 0, left = 70, right = -1;
    for (int y = 0; y < 36; ++y)
      for (int x = 0; x < 70; ++x) {
        const uint32_t p = canvas.at(x, y);
        const bool in_button = x >= 4 && x < 64 && y >= 2 && y < 32;
        if (!in_button) {
          ASSERT_EQ(p, page_blue) << x << "," << y;
          continue;
        }
        if (p == face) continue;
        ASSERT_TRUE(x >= c.ink.left && x < c.ink.right && y >= c.ink.top && y < c.ink.bottom) << x << "," << y;
        if (p == ink_colour) ++full;
        if (x < left) left = x;
        if (x > right) right = x;
      }
    EXPECT_GT(full, 0);
    /* Centred: as much room on either side, within two pixels. */
    EXPECT_LE(abs((left - c.ink.left) - (c.ink.right - 1 - right)), 2) << left << ".." << right;
    EXPECT_EQ(GetBkMode(dc), OPAQUE);
    EXPECT_EQ(GetTextColor(dc), RGB(1, 2, 3));
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), before);
  }
  button->caption = nullptr;
  vx_button_group_destroy(group);
  DeleteObject(font);
}

/* ---- The pen on a real window ---- */

const uint32_t a_normal = 0xC00000, a_pressed = 0x00C000;
const uint32_t b_normal = 0xC000C0, b_pressed = 0x00C0C0;
const uint32_t c_normal = 0x808000, c_pressed = 0x008080;
const uint32_t s_normal = 0x602000, s_pressed = 0x206000;

const int A = 11, B = 12, S = 13, C = 14;

/* What the click callback saw and answers. */
std::vector<int> clicks;
int click_answer;

int record_click(ButtonGroup*, int id, int event, int arg1, int arg2) {
  EXPECT_EQ(event, 1);
  EXPECT_EQ(arg1, 0);
  EXPECT_EQ(arg2, 0);
  clicks.push_back(id);
  return click_answer;
}

int destroy_and_switch(ButtonGroup* group, int id, int, int, int) {
  clicks.push_back(id);
  vx_button_group_destroy(group);
  return -1;
}

class VxButtonPen : public ::testing::Test {
 protected:
  HWND window = nullptr;

  static void SetUpTestSuite() {
    WNDCLASSW wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = TEXT("VxButtonPenTest");
    RegisterClassW(&wc);
  }
  void SetUp() override {
    window = CreateWindowExW(0, TEXT("VxButtonPenTest"), TEXT("buttons"), WS_POPUP | WS_VISIBLE, 0, 0, 200, 100,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    clicks.clear();
    click_answer = 0;
  }
  void TearDown() override {
    if (window) DestroyWindow(window);
  }

  /* A over the top left, B overlapping A's lower right corner, S (shaped,
   * with a transparent top-left triangle) over C, both at (100, 10). */
  ButtonGroup* make_group(int type, Dib& a, Dib& b, Dib& s, Dib& c) {
    ButtonGroup* group = vx_button_group_create(window, type);
    if (!group) return nullptr;
    vx_button_add(group, A, 10, 10, 40, 30, a.bitmap, VX_BUTTON_TWO_FRAMES);
    vx_button_add(group, B, 40, 20, 40, 30, b.bitmap, VX_BUTTON_TWO_FRAMES);
    vx_button_add(group, S, 100, 10, 30, 30, s.bitmap, VX_BUTTON_SHAPED);
    vx_button_add(group, C, 100, 10, 30, 30, c.bitmap, VX_BUTTON_TWO_FRAMES);
    group->click = record_click;
    return group;
  }
  uint32_t pixel(int x, int y) {
    HDC dc = GetDC(window);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return rgb_of(c);
  }
  void fill_window(uint32_t colour) {
    HDC dc = GetDC(window);
    RECT all = {0, 0, 200, 100};
    HBRUSH brush = CreateSolidBrush(RGB(colour >> 16, (colour >> 8) & 0xFF, colour & 0xFF));
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    ReleaseDC(window, dc);
  }
};

auto two_frames(uint32_t normal, uint32_t pressed) {
  return [=](int x, int) { return x < 40 ? normal : pressed; };
}

struct PenStep {
  char pen;  /* 'd' down, 'm' move, 'u' up */
  int x, y;
  int result;
  uint32_t a_shows, b_shows;  /* 0: not checked */
};

struct PenCase {
  const char* name;
  int type;
  int answer;  /* the click callback's result */
  bool callback;
  std::vector<PenStep> steps;
  std::vector<int> clicks;
};

TEST_F(VxButtonPen, SequencesGiveClicksResultsAndFrames) {
  const PenCase cases[] = {
      {"tap on A", VX_BUTTON_GROUP_PUSH, 0, true,
       {{'d', 20, 15, A, a_pressed, b_normal}, {'u', 20, 15, A, a_normal, b_normal}}, {A}},
      {"overlap: the button added first", VX_BUTTON_GROUP_PUSH, 0, true,
       {{'d', 45, 25, A, 0, 0}, {'u', 45, 25, A, a_normal, 0}}, {A}},
      {"down A, out, back in, up", VX_BUTTON_GROUP_PUSH, 0, true,
       {{'d', 20, 15, A, a_pressed, 0},
        {'m', 5, 5, A, a_normal, 0},
        {'m', 6, 5, A, a_normal, 0},
        {'m', 21, 16, A, a_pressed, 0},
        {'u', 21, 16, A, a_normal, 0}},
       {A}},
      {"down A, slide to B, up on B", VX_BUTTON_GROUP_PUSH, 0, true,
       {{'d', 20, 15, A, a_pressed, b_normal}, {'m', 70, 45, A, a_normal, b_normal}, {'u', 70, 45, 0, a_normal, b_normal}},
       {}},
      {"up outside after moving out", VX_BUTTON_GROUP_PUSH, 0, true,
       {{'d', 20, 15, A, 0, 0}, {'m', 5, 5, A, 0, 0}, {'u', 5, 5, 0, a_normal, 0}, {'u', 20, 15, -1, a_normal, 0}}, {}},
      {"up and move without a down", VX_BUTTON_GROUP_PUSH, 0, true,
       {{'u', 20, 15, -1, a_normal, 0}, {'m', 20, 15, -1, a_normal, 0}}, {}},
      {"down on no button keeps an earlier press", VX_BUTTON_GROUP_PUSH, 0, true,
       {{'d', 190, 90, -1, a_normal, 0}, {'d', 20, 15, A, a_pressed, 0}, {'d', 190, 90, -1, a_pressed, 0},
        {'u', 20, 15, A, a_normal, 0}},
       {A}},
      {"edges: the last column is inside, the next outside", VX_BUTTON_GROUP_PUSH, 0, true,
       {{'d', 49, 10, A, 0, 0}, {'m', 50, 10, A, a_normal, 0}, {'u', 10, 39, A, a_normal, 0}, {'d', 10, 40, -1, 0, 0}},
       {A}},
      {"transparent pixel of a shaped button falls through", VX_BUTTON_GROUP_PUSH, 0, true,
       {{'d', 101, 11, C, 0, 0}, {'u', 101, 11, C, 0, 0}, {'d', 120, 30, S, 0, 0}, {'u', 101, 11, S, 0, 0}},
       {C, S}},
      {"a positive answer gives 0", VX_BUTTON_GROUP_PUSH, 1, true,
       {{'d', 20, 15, A, 0, 0}, {'u', 20, 15, 0, a_normal, 0}, {'u', 20, 15, -1, 0, 0}}, {A}},
      {"no callback: no click, the frame stays", VX_BUTTON_GROUP_PUSH, 0, false,
       {{'d', 20, 15, A, a_pressed, 0}, {'u', 20, 15, 0, a_pressed, 0}, {'m', 20, 15, -1, a_pressed, 0}}, {}},
      {"selection group: the clicked button stays pressed", VX_BUTTON_GROUP_SELECT, 0, true,
       {{'d', 20, 15, A, a_pressed, b_normal},
        {'u', 20, 15, A, a_pressed, b_normal},
        {'d', 70, 45, B, a_pressed, b_pressed},
        {'u', 70, 45, B, a_normal, b_pressed}},
       {A, B}},
  };
  Dib a(80, 30, two_frames(a_normal, a_pressed)), b(80, 30, two_frames(b_normal, b_pressed));
  Dib c(60, 30, [](int x, int) { return x < 30 ? c_normal : c_pressed; });
  Dib s(90, 30, [](int x, int y) {
    const int fx = x % 30;
    const bool shape = fx + y >= 10;
    return x < 30 ? s_normal : x < 60 ? s_pressed : shape ? 0xFFFFFF : 0x000000;
  });
  for (const PenCase& pc : cases) {
    SCOPED_TRACE(pc.name);
    clicks.clear();
    click_answer = pc.answer;
    fill_window(page_blue);
    ButtonGroup* group = make_group(pc.type, a, b, s, c);
    ASSERT_NE(group, nullptr);
    if (!pc.callback) group->click = nullptr;
    vx_button_draw_all(group, nullptr);
    ASSERT_EQ(pixel(20, 15), a_normal);
    ASSERT_EQ(pixel(5, 5), page_blue);
    int n = 0;
    for (const PenStep& step : pc.steps) {
      SCOPED_TRACE(n++);
      const int result = step.pen == 'd'   ? vx_button_lbutton_down(group, step.x, step.y)
                         : step.pen == 'm' ? vx_button_mouse_move(group, step.x, step.y)
                                           : vx_button_lbutton_up(group, step.x, step.y);
      EXPECT_EQ(result, step.result);
      if (step.a_shows) {
        EXPECT_EQ(pixel(20, 15), step.a_shows);
      }
      /* B is read where A does not cover it. */
      if (step.b_shows) {
        EXPECT_EQ(pixel(70, 45), step.b_shows);
      }
    }
    EXPECT_EQ(clicks, pc.clicks);
    EXPECT_EQ(group->pressed_index, -1);
    vx_button_group_destroy(group);
  }
}

TEST_F(VxButtonPen, ClickThatDestroysTheGroupTouchesItNoMore) {
  Dib a(80, 30, two_frames(a_normal, a_pressed)), b(80, 30, two_frames(b_normal, b_pressed));
  Dib c(60, 30, c_normal), s(90, 30, 0xFFFFFF);
  ButtonGroup* group = make_group(VX_BUTTON_GROUP_PUSH, a, b, s, c);
  ASSERT_NE(group, nullptr);
  group->click = destroy_and_switch;
  ASSERT_EQ(vx_button_lbutton_down(group, 70, 45), B);
  /* The group is freed inside the call; a touch of it afterwards is a
   * use after free that the sanitizer build reports. */
  EXPECT_EQ(vx_button_lbutton_up(group, 70, 45), 0);
  EXPECT_EQ(clicks, std::vector<int>{B});
}

TEST_F(VxButtonPen, RedrawTakesThePageUnderAShapedButton) {
  Dib a(80, 30, two_frames(a_normal, a_pressed)), b(80, 30, two_frames(b_normal, b_pressed));
  Dib c(60, 30, c_normal);
  Dib s(90, 30, [](int x, int y) { return x < 30 ? s_normal : x < 60 ? s_pressed : (x % 30) + y >= 10 ? 0xFFFFFF : 0; });
  ButtonGroup* group = make_group(VX_BUTTON_GROUP_PUSH, a, b, s, c);
  ASSERT_NE(group, nullptr);
  /* C is hidden: under S's transparent corner lies the page. */
  vx_button_find(group, C)->flags &= ~VX_BUTTON_USABLE;
  fill_window(page_blue);
  vx_button_draw_all(group, nullptr);
  EXPECT_EQ(pixel(101, 11), page_blue);
  EXPECT_EQ(pixel(120, 30), s_normal);
  ASSERT_EQ(vx_button_lbutton_down(group, 120, 30), S);
  EXPECT_EQ(pixel(101, 11), page_blue);
  EXPECT_EQ(pixel(120, 30), s_pressed);
  /* Only the button's rectangle is drawn. */
  fill_window(0x00FF00);
  vx_button_redraw(group, S);
  EXPECT_EQ(pixel(101, 11), 0x00FF00u);
  EXPECT_EQ(pixel(120, 30), s_pressed);
  EXPECT_EQ(pixel(20, 15), 0x00FF00u);
  vx_button_redraw(group, 99);
  vx_button_redraw(nullptr, S);
  vx_button_group_destroy(group);
}

TEST_F(VxButtonPen, ShapeTestsThePixelOnlyForStyleOne) {
  Dib c(60, 30, c_normal);
  Dib s(90, 30, [](int x, int y) { return x < 60 ? s_normal : (x % 30) + y >= 10 ? 0xFFFFFF : 0; });
  const struct {
    int style;
    int corner_hit, inside_hit;  /* ids hit at the transparent corner and in the shape */
  } cases[] = {
      {VX_BUTTON_SHAPED, C, S},
      {VX_BUTTON_SHAPED_RECT, S, S},
      {VX_BUTTON_TWO_FRAMES, S, S},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.style);
    ButtonGroup* group = vx_button_group_create(window, VX_BUTTON_GROUP_PUSH);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(vx_button_add(group, S, 100, 10, 30, 30, s.bitmap, k.style), 0);
    ASSERT_EQ(vx_button_add(group, C, 100, 10, 30, 30, c.bitmap, VX_BUTTON_TWO_FRAMES), 0);
    vx_button_prepare_mask(vx_button_find(group, S), nullptr);
    EXPECT_EQ(vx_button_lbutton_down(group, 101, 11), k.corner_hit);
    EXPECT_EQ(vx_button_lbutton_down(group, 125, 35), k.inside_hit);
    vx_button_group_destroy(group);
  }
}

TEST(VxButtonPenNull, NullGroupAnswersMinusOne) {
  EXPECT_EQ(vx_button_lbutton_down(nullptr, 0, 0), -1);
  EXPECT_EQ(vx_button_mouse_move(nullptr, 0, 0), -1);
  EXPECT_EQ(vx_button_lbutton_up(nullptr, 0, 0), -1);
}

/* ---- Frame operations ---- */

/* Every source pixel names its position. */
uint32_t source_pixel(int x, int y) { return ((x * 10 + 5) << 16) | ((y * 20 + 5) << 8) | 77; }
const uint32_t canvas_grey = 0x010203;

struct FrameCase {
  const char* name;
  int x, y, width, height, src_x, src_y;
  DWORD rop;
  int frame;
  int result;
  /* The drawn rectangle and the source pixel at its top left; scale 2 means
   * every source pixel covers two by two. */
  int drawn_w, drawn_h, from_x, from_y, scale;
};

void expect_frame(const FrameCase& c, const Dib& canvas) {
  for (int y = 0; y < canvas.height; ++y)
    for (int x = 0; x < canvas.width; ++x) {
      const int dx = x - c.x, dy = y - c.y;
      const bool drawn = dx >= 0 && dx < c.drawn_w && dy >= 0 && dy < c.drawn_h;
      uint32_t want = canvas_grey;
      if (drawn) {
        want = source_pixel(c.from_x + dx / c.scale, c.from_y + dy / c.scale);
        if (c.rop == NOTSRCCOPY) want ^= 0xFFFFFF;
      }
      ASSERT_EQ(canvas.at(x, y), want) << "at " << x << "," << y;
    }
}

TEST(VxFrames, BlitCopiesTheFrameClippedToIt) {
  Dib bitmap(20, 10, source_pixel);  /* frames of 10 x 10 */
  const FrameCase cases[] = {
      {"left half", 2, 3, 10, 10, 0, 0, SRCCOPY, 1, 0, 10, 10, 0, 0, 1},
      {"right half", 2, 3, 10, 10, 0, 0, SRCCOPY, 2, 0, 10, 10, 10, 0, 1},
      {"larger request, left", 0, 0, 15, 12, 0, 0, SRCCOPY, 1, 0, 10, 10, 0, 0, 1},
      {"larger request, right", 1, 2, 15, 12, 0, 0, SRCCOPY, 2, 0, 10, 10, 10, 0, 1},
      {"smaller request", 1, 1, 4, 3, 0, 0, SRCCOPY, 2, 0, 4, 3, 10, 0, 1},
      {"source point, left", 1, 1, 15, 15, 4, 3, SRCCOPY, 1, 0, 8, 7, 4, 3, 1},
      {"source point, right", 1, 1, 15, 15, 4, 3, SRCCOPY, 2, 0, 8, 7, 12, 3, 1},
      {"other frame: unclipped", 3, 1, 20, 10, 0, 0, SRCCOPY, 0, 0, 20, 10, 0, 0, 1},
      {"other frame from a point", 3, 1, 6, 4, 7, 2, SRCCOPY, 3, 0, 6, 4, 7, 2, 1},
      {"raster operation", 0, 0, 10, 10, 0, 0, NOTSRCCOPY, 2, 0, 10, 10, 10, 0, 1},
      {"source below the bitmap", 0, 0, 5, 5, 0, 12, SRCCOPY, 1, 0, 0, 0, 0, 0, 1},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    Dib canvas(30, 20, canvas_grey);
    EXPECT_EQ(vx_blit_frame(canvas.context(), c.x, c.y, c.width, c.height, bitmap.bitmap, c.src_x, c.src_y, c.rop,
                            c.frame),
              c.result);
    expect_frame(c, canvas);
  }
}

TEST(VxFrames, StretchCopiesEqualSizesAndScalesOthers) {
  Dib bitmap(20, 10, source_pixel);
  const FrameCase cases[] = {
      {"left half, own size", 2, 3, 10, 10, 0, 0, SRCCOPY, 1, 0, 10, 10, 0, 0, 1},
      {"right half, own size", 2, 3, 10, 10, 0, 0, SRCCOPY, 2, 0, 10, 10, 10, 0, 1},
      {"whole bitmap", 1, 1, 20, 10, 0, 0, SRCCOPY, 0, 0, 20, 10, 0, 0, 1},
      {"left half from a point", 1, 1, 8, 8, 4, 2, SRCCOPY, 1, 0, 8, 8, 4, 2, 1},
      {"right half doubled", 0, 0, 20, 20, 0, 0, SRCCOPY, 2, 0, 20, 20, 10, 0, 2},
      {"whole bitmap doubled, inverted", 0, 0, 40, 20, 0, 0, NOTSRCCOPY, 0, 0, 40, 20, 0, 0, 2},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    Dib canvas(44, 24, canvas_grey);
    EXPECT_EQ(vx_stretch_frame(canvas.context(), c.x, c.y, c.width, c.height, bitmap.bitmap, c.src_x, c.src_y,
                               c.rop, c.frame),
              c.result);
    expect_frame(c, canvas);
  }
}

TEST(VxFrames, NullContextOrBitmapFails) {
  Dib bitmap(4, 4, 0u);
  Dib canvas(4, 4, canvas_grey);
  EXPECT_EQ(vx_blit_frame(nullptr, 0, 0, 2, 2, bitmap.bitmap, 0, 0, SRCCOPY, 1), -1);
  EXPECT_EQ(vx_blit_frame(canvas.context(), 0, 0, 2, 2, nullptr, 0, 0, SRCCOPY, 1), -1);
  EXPECT_EQ(vx_stretch_frame(nullptr, 0, 0, 2, 2, bitmap.bitmap, 0, 0, SRCCOPY, 0), -1);
  EXPECT_EQ(vx_stretch_frame(canvas.context(), 0, 0, 2, 2, nullptr, 0, 0, SRCCOPY, 0), -1);
  EXPECT_EQ(canvas.at(0, 0), canvas_grey);
}

}  // namespace
