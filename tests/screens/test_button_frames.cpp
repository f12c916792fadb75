/* What a press shows on screen: a press and release that stays on the page
 * leaves the screen as it was (only the held button changes while it is
 * held), a refused navigation ends its press in the normal frame, every
 * pressed frame of the default skin is plainly different from its normal one,
 * and the device ID shows all seven characters. */
#include "pages_fixture.h"

#include <algorithm>

#include "../vx_ctrls/dib.h"

namespace pages_test {
namespace {

/* The luminance of a 0xRRGGBB pixel, 0 to 255. */
double luminance(uint32_t rgb) {
  return 0.299 * ((rgb >> 16) & 0xFF) + 0.587 * ((rgb >> 8) & 0xFF) + 0.114 * (rgb & 0xFF);
}

class ButtonFrames : public PagesTest {
 protected:
  void TearDown() override {
    nav_home();
    PagesTest::TearDown();
  }

  /* The window's pixels as they are on screen now. */
  struct Screen {
    Dib dib;
    Screen() : dib(screen_width, screen_height, 0u) {
      HDC window_dc = GetDC(main_window);
      BitBlt(dib.context(), 0, 0, screen_width, screen_height, window_dc, 0, 0, SRCCOPY);
      ReleaseDC(main_window, window_dc);
    }
    uint32_t at(int x, int y) const { return dib.at(x, y); }
  };

  /* The pixels that differ between two screens: those inside `inside` (an
   * item's rectangle, or none) and those outside it. */
  struct Difference {
    int inside = 0, outside = 0;
  };
  static Difference compare(const Screen& a, const Screen& b, const VxSkinItem* inside) {
    Difference d;
    for (int y = 0; y < screen_height; ++y)
      for (int x = 0; x < screen_width; ++x) {
        if (a.at(x, y) == b.at(x, y)) continue;
        const bool in = inside && x >= inside->x && x < inside->x + inside->width && y >= inside->y &&
                        y < inside->y + inside->height;
        (in ? d.inside : d.outside)++;
      }
    return d;
  }

  /* Paints the current page onto the screen, as a repaint of the window does. */
  static void paint_screen() { ASSERT_EQ(vx_page_paint(page_manager, NULL), 0); }

  static VxSkinItem* item_of(int id) {
    VxSkinItem* item = vx_skin_find(shell_skin, id);
    EXPECT_NE(item, nullptr) << "item " << id;
    return item;
  }
};

#ifndef _WIN32

TEST_F(ButtonFrames, APressAndReleaseThatStaysOnThePageLeavesTheScreenAsItWas) {
  struct Case {
    int page;   /* entered from the desktop */
    int mode;   /* call_info.mode for the call pages */
    int button;
  } cases[] = {
      {PAGE_DESKTOP, 0, 216},      {PAGE_DESKTOP, 0, 212},    {PAGE_TOOLS, 0, 1101},
      {PAGE_TOOLS, 0, 1105},       {PAGE_MEDIA, 0, 1002},     {PAGE_MEDIA, 0, 1004},
      {PAGE_GAMES, 0, 1200},       {PAGE_GAMES, 0, 1209},     {PAGE_NUMBER_ENTRY, 0, 1508},
      {PAGE_NUMBER_ENTRY, 0, 1513}, {PAGE_IN_CALL, CALL_MODE_CENTRE, 605},
      {PAGE_IN_CALL, CALL_MODE_CENTRE, 612},
  };
  /* The programs behind the launch buttons are stand-ins; the phone takes the keys. */
  stand_in_programs({u"\\residentflash2\\MusicPlayer.exe", u"\\sdmmc\\Navi\\Navi.exe", u"\\residentflash2\\Clock.exe",
                     u"\\residentflash2\\Satellites.exe", u"\\residentflash2\\Photos.exe",
                     u"\\residentflash2\\Calculator.exe", u"\\residentflash2\\Russians.exe",
                     u"\\residentflash2\\Bubbles\\bubbles.exe"});
  show_phone();
  for (const Case& c : cases) {
    SCOPED_TRACE("page " + std::to_string(c.page) + ", button " + std::to_string(c.button));
    ASSERT_EQ(nav_home(), 0);
    call_info.mode = c.mode;
    if (c.page != PAGE_DESKTOP) {
      ASSERT_EQ(nav_push(c.page, 0), 0);
    }
    paint_screen();
    const VxSkinItem* button = item_of(c.button);
    ASSERT_NE(button, nullptr);
    const int x = button->x + button->width / 2, y = button->y + button->height / 2;
    const Screen before;

    vx_page_lbutton_down(page_manager, x, y);
    const Screen held;
    const Difference pressed = compare(before, held, button);
    EXPECT_EQ(pressed.outside, 0) << "the press drew outside the button";
    EXPECT_GT(pressed.inside, button->width * button->height / 4) << "the pressed frame barely differs";

    vx_page_lbutton_up(page_manager, x, y);
    EXPECT_EQ(vx_page_current_id(page_manager), c.page);
    const Screen after;
    const Difference released = compare(before, after, button);
    EXPECT_EQ(released.inside, 0) << "the button's rectangle is not as before (a label covered?)";
    EXPECT_EQ(released.outside, 0);
  }
}

#endif

TEST_F(ButtonFrames, ARefusedNavigationEndsThePressInTheNormalFrame) {
  struct Case {
    const char* what;
    int page;      /* current, switched to without the stack */
    int top;       /* NavStack top index */
    int button;
  } cases[] = {
      {"a full stack refuses the push", PAGE_DESKTOP, NAV_STACK_SIZE - 1, 221},
      {"a full stack refuses the service numbers", PAGE_TOOLS, NAV_STACK_SIZE - 1, 1106},
      {"back at entry 0", PAGE_TOOLS, 0, 102},  /* the back button */
      {"back at entry 0 on the number entry", PAGE_NUMBER_ENTRY, 0, 102},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(nav_home(), 0);
    ASSERT_EQ(vx_page_switch(page_manager, c.page, 1, 0, 0, 0), 0);
    nav_stack.top = c.top;
    paint_screen();
    const VxSkinItem* button = item_of(c.button);
    ASSERT_NE(button, nullptr);
    const Screen before;
    tap_button(c.button);
    EXPECT_EQ(vx_page_current_id(page_manager), c.page);
    EXPECT_EQ(nav_stack.top, c.top);
    const Screen after;
    const Difference d = compare(before, after, button);
    EXPECT_EQ(d.inside, 0) << "the button is still drawn pressed";
    EXPECT_EQ(d.outside, 0);
    /* The group took the click to its end: the next tap is a fresh click. */
    nav_stack.top = 0;
  }
}

/* The buttons of the default skin: one for every page's button id. */
const int skin_buttons[] = {102,  211,  212,  213,  214,  215,  216,  217,  218,  219,  220,  221,  1101, 1102,
                            1103, 1104, 1105, 1106, 1107, 1001, 1002, 1003, 1004, 1005, 1200, 1201, 1202, 1203,
                            1204, 1205, 1206, 1207, 1208, 1209, 1404, 1405, 1503, 1504, 1505, 1506, 1507, 1508,
                            1509, 1510, 1511, 1512, 1513, 1514, 301,  601,  602,  603,  604,  605,  606,  607,
                            608,  609,  610,  611,  612,  535,  536,  701,  702};

/* The mean luminance of a button's normal and pressed frames, over the
 * pixels of its shape (every pixel for a two-frame image). */
struct FrameLight {
  double normal = 0, pressed = 0, difference = 0;
};
FrameLight frame_light(int id) {
  FrameLight light;
  VxSkinItem* item = vx_skin_find(shell_skin, id);
  EXPECT_NE(item, nullptr) << "item " << id;
  if (!item) return light;
  HBITMAP bitmap = vx_skin_get_bitmap(shell_skin, item, 0);
  EXPECT_NE(bitmap, nullptr) << "item " << id;
  if (!bitmap) return light;
  const bool shaped = item->mask_code == -1 || item->mask_code == -2;
  BITMAP info;
  GetObjectW(bitmap, sizeof info, &info);
  const int frame = shaped ? item->width : info.bmWidth / 2;
  HDC dc = CreateCompatibleDC(NULL);
  HGDIOBJ old = SelectObject(dc, bitmap);
  int count = 0;
  for (int y = 0; y < item->height; y += 2)
    for (int x = 0; x < frame; x += 2) {
      if (shaped && GetPixel(dc, 2 * frame + x, y) != RGB(255, 255, 255)) continue;
      const COLORREF n = GetPixel(dc, x, y), p = GetPixel(dc, frame + x, y);
      const double ln = luminance(((n & 0xFF) << 16) | (n & 0xFF00) | ((n >> 16) & 0xFF));
      const double lp = luminance(((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF));
      light.normal += ln;
      light.pressed += lp;
      light.difference += ln > lp ? ln - lp : lp - ln;
      count++;
    }
  SelectObject(dc, old);
  DeleteDC(dc);
  vx_skin_put_bitmap(shell_skin, item);
  if (count) {
    light.normal /= count;
    light.pressed /= count;
    light.difference /= count;
  }
  return light;
}

TEST_F(ButtonFrames, EveryPressedFrameOfTheSkinIsPlainlyDifferent) {
  /* A driver sees the press at arm's length: the two frames differ in
   * brightness by a quarter of the scale on average over the button. */
  const double plainly = 64;
  for (int id : skin_buttons) {
    const FrameLight light = frame_light(id);
    EXPECT_GE(light.difference, plainly) << "button " << id << ": normal " << light.normal << ", pressed "
                                         << light.pressed;
  }
  /* No tile of the desktop looks pressed when it is not: every normal frame
   * is darker than every pressed one. */
  double brightest_normal = 0, darkest_pressed = 255;
  for (int id = 211; id <= 221; ++id) {
    const FrameLight light = frame_light(id);
    brightest_normal = std::max(brightest_normal, light.normal);
    darkest_pressed = std::min(darkest_pressed, light.pressed);
  }
  EXPECT_LT(brightest_normal + plainly, darkest_pressed);
}

TEST_F(ButtonFrames, TheDesktopAndTheServiceCentreCallPagesShowAllSevenCharactersOfTheId) {
  struct Case {
    int page;
    int item;
  } cases[] = {{PAGE_DESKTOP, 202}, {PAGE_DIALING, 321}, {PAGE_IN_CALL, 321}};
  show_phone();
  for (const Case& c : cases) {
    SCOPED_TRACE("page " + std::to_string(c.page));
    call_info.mode = CALL_MODE_CENTRE;
    ASSERT_EQ(vx_page_switch(page_manager, c.page, 1, 0, 0, 0), 0);
    /* Three IDs that differ only in their seventh character, or lack it. */
    lstrcpyW(device_id, TEXT("VM00168"));
    const Frame seven;
    lstrcpyW(device_id, TEXT("VM00169"));
    const Frame other_seventh;
    lstrcpyW(device_id, TEXT("VM0016"));
    const Frame six;
    EXPECT_FALSE(seven.same_in_item(other_seventh, c.item)) << "the seventh character is not drawn";
    EXPECT_FALSE(seven.same_in_item(six, c.item));
    ASSERT_EQ(vx_page_switch(page_manager, PAGE_DESKTOP, 1, 0, 0, 0), 0);
  }
}

}  // namespace
}  // namespace pages_test
