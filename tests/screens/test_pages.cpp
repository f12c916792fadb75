/* The page table on the real page manager: every page enters and leaves
 * without keeping groups, buttons or picture references; the buttons lead to
 * their pages and programs; the desktop's indicators and its corner exit. */
#include "pages_fixture.h"

namespace pages_test {
namespace {

TEST_F(PagesTest, EveryPageEntersPaintsAndLeavesCleanly) {
  /* Each page in each call mode, painted several times while current; the
   * fixture checks at the end that nothing is left behind. */
  const int blocks = live_blocks();
  for (int mode : {CALL_MODE_NUMBER, CALL_MODE_CENTRE, CALL_MODE_RECALL}) {
    for (int id = 0; id < PAGE_COUNT; ++id) {
      SCOPED_TRACE("page " + std::to_string(id) + " mode " + std::to_string(mode));
      call_info.mode = mode;
      ASSERT_EQ(vx_page_switch(page_manager, id, 1, 0, 0, 0), 0);
      ASSERT_EQ(vx_page_current_id(page_manager), id);
      for (int i = 0; i < 3; ++i) {
        Frame frame;
        /* The page's full-screen background is drawn: no pixel keeps the black of the copy. */
        EXPECT_NE(frame.pixel(799, 479), RGB(0, 0, 0));
      }
      /* The paint without a context composes off-screen and copies to the window. */
      EXPECT_EQ(vx_page_paint(page_manager, NULL), 0);
    }
    ASSERT_EQ(vx_page_switch(page_manager, PAGE_DESKTOP, 1, 0, 0, 0), 0);
  }
  EXPECT_EQ(live_blocks(), blocks) << "pages left allocations behind";
  /* Only the desktop's pictures and buttons are held now. */
  for (int slot = 0; slot < shell_skin->slot_count; ++slot) EXPECT_LE(shell_skin->ref_counts[slot], 1);
  EXPECT_FALSE(KillTimer(main_window, TIMER_DIALING_ANIMATION)) << "the dialing page's timer outlived it";
  EXPECT_FALSE(KillTimer(main_window, TIMER_CALL)) << "the call timer outlived the in-call page";
  EXPECT_FALSE(in_call_page_capture_open());
}

TEST_F(PagesTest, ButtonsLeadToTheirPages) {
  struct Case {
    std::vector<int> taps;       /* from the desktop */
    int bt_info;                 /* bt_info_present */
    int page;                    /* current afterwards */
    std::vector<int> stack;      /* NavStack entries 0..top */
  } cases[] = {
      {{221}, 0, PAGE_TOOLS, {0, 1}},
      {{218}, 0, PAGE_GAMES, {0, 8}},
      {{220}, 0, PAGE_MEDIA, {0, 6}},
      {{211}, 0, PAGE_NO_PHONE, {0, 7}},
      {{211}, 1, PAGE_DIALING, {0, 3}},
      {{221, 102}, 0, PAGE_DESKTOP, {0}},
      {{218, 102}, 0, PAGE_DESKTOP, {0}},
      {{220, 102}, 0, PAGE_DESKTOP, {0}},
      {{211, 102}, 0, PAGE_DESKTOP, {0}},
      {{221, 1106}, 0, PAGE_SERVICE_NUMBERS, {0, 1, 10}},
      {{221, 1106, 1404}, 0, PAGE_NUMBER_ENTRY, {0, 1, 10, 11}},
      {{221, 1106, 1405, 102, 102, 102}, 0, PAGE_DESKTOP, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("first tap " + std::to_string(c.taps[0]) + ", " + std::to_string(c.taps.size()) + " taps");
    ASSERT_EQ(nav_home(), 0);
    bt_info_present = c.bt_info;
    for (int id : c.taps) tap_button(id);
    EXPECT_EQ(vx_page_current_id(page_manager), c.page);
    ASSERT_EQ(nav_stack.top + 1, (int)c.stack.size());
    for (size_t i = 0; i < c.stack.size(); ++i) EXPECT_EQ(nav_stack.entries[i], c.stack[i]);
  }
  /* The call-centre button sets the service-centre mode before dialing. */
  call_info.mode = CALL_MODE_NUMBER;
  bt_info_present = 1;
  ASSERT_EQ(nav_home(), 0);
  tap_button(211);
  EXPECT_EQ(call_info.mode, CALL_MODE_CENTRE);
}

TEST_F(PagesTest, TheRecallPromptDialsTheRecallNumberOrGoesBack) {
  ASSERT_EQ(nav_push(PAGE_RECALL_PROMPT, 0), 0);
  tap_button(702);
  EXPECT_EQ(vx_page_current_id(page_manager), PAGE_DESKTOP);
  EXPECT_EQ(nav_stack.top, 0);

  show_phone();
  ASSERT_EQ(nav_push(PAGE_RECALL_PROMPT, 0), 0);
  tap_button(701);
  EXPECT_EQ(vx_page_current_id(page_manager), PAGE_DIALING);
  EXPECT_EQ(call_info.mode, CALL_MODE_RECALL);
  EXPECT_EQ(WString(call_info.number), WString(TEXT("02088886666")));
  ASSERT_EQ(nav_stack.top, 2);
  EXPECT_EQ(nav_stack.entries[1], PAGE_RECALL_PROMPT);
  EXPECT_EQ(nav_stack.entries[2], PAGE_DIALING);
}

TEST_F(PagesTest, AButtonWithoutItsSkinItemIsNeitherDrawnNorHit) {
  /* A pen-up outside every button completes no click and changes nothing. */
  tap(799, 479);
  EXPECT_EQ(vx_page_current_id(page_manager), PAGE_DESKTOP);
  /* A slide from one button to another is no click on either. */
  VxSkinItem* tools = vx_skin_find(shell_skin, 221);
  VxSkinItem* games = vx_skin_find(shell_skin, 218);
  vx_page_lbutton_down(page_manager, tools->x + 5, tools->y + 5);
  vx_page_mouse_move(page_manager, games->x + 5, games->y + 5);
  vx_page_lbutton_up(page_manager, games->x + 5, games->y + 5);
  EXPECT_EQ(vx_page_current_id(page_manager), PAGE_DESKTOP);
}

#ifndef _WIN32

TEST_F(PagesTest, LaunchButtonsStartTheirPrograms) {
  struct Case {
    int page;          /* reached from the desktop with nav_push */
    int button;
    std::u16string program;
  } cases[] = {
      {PAGE_DESKTOP, 212, u"\\sdmmc\\Navi\\Navi.exe"},
      {PAGE_DESKTOP, 213, u"\\residentflash2\\Alarm.exe"},
      {PAGE_DESKTOP, 214, u"\\residentflash2\\Bluetooth.exe"},
      {PAGE_DESKTOP, 215, u"\\residentflash2\\vmgprs\\app\\camera_dvr.exe"},
      {PAGE_DESKTOP, 216, u"\\residentflash2\\MusicPlayer.exe"},
      {PAGE_DESKTOP, 217, u"\\Residentflash2\\VideoPlayer.exe"},
      {PAGE_DESKTOP, 219, u"\\Residentflash2\\EBook.exe"},
      {PAGE_TOOLS, 1101, u"\\residentflash2\\Clock.exe"},
      {PAGE_TOOLS, 1102, u"\\residentflash2\\Volume.exe"},
      {PAGE_TOOLS, 1103, u"\\residentflash2\\Backlight.exe"},
      {PAGE_TOOLS, 1104, u"\\residentflash2\\fm.exe"},
      {PAGE_TOOLS, 1105, u"\\residentflash2\\Satellites.exe"},
      {PAGE_TOOLS, 1107, u"\\residentflash2\\System.exe"},
      {PAGE_MEDIA, 1001, u"\\residentflash2\\Player\\Player.exe"},
      {PAGE_MEDIA, 1002, u"\\residentflash2\\Photos.exe"},
      {PAGE_MEDIA, 1003, u"\\residentflash2\\Flash.exe"},
      {PAGE_MEDIA, 1004, u"\\residentflash2\\Calculator.exe"},
      {PAGE_MEDIA, 1005, u"\\residentflash2\\Calendar.exe"},
      {PAGE_GAMES, 1200, u"\\residentflash2\\Russians.exe"},
      {PAGE_GAMES, 1201, u"\\residentflash2\\Xiangqi.exe"},
      {PAGE_GAMES, 1202, u"\\residentflash2\\Gomoku.exe"},
      {PAGE_GAMES, 1203, u"\\residentflash2\\Puzzle.exe"},
      {PAGE_GAMES, 1204, u"\\residentflash2\\Snake.exe"},
      {PAGE_GAMES, 1205, u"\\residentflash2\\Landlords\\landlords.exe"},
      {PAGE_GAMES, 1206, u"\\residentflash2\\Majiang\\majiang.exe"},
      {PAGE_GAMES, 1207, u"\\residentflash2\\Breakout\\breakout.exe"},
      {PAGE_GAMES, 1208, u"\\residentflash2\\Beads\\beads.exe"},
      {PAGE_GAMES, 1209, u"\\residentflash2\\Bubbles\\bubbles.exe"},
  };
  std::vector<std::u16string> programs;
  for (const Case& c : cases) programs.push_back(c.program);
  stand_in_programs(programs);
  size_t expected = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("button " + std::to_string(c.button));
    ASSERT_EQ(nav_home(), 0);
    if (c.page != PAGE_DESKTOP) {
      ASSERT_EQ(nav_push(c.page, 0), 0);
    }
    tap_button(c.button);
    EXPECT_TRUE(started(c.program)) << plat::utf16_to_utf8(c.program) << " was not started";
    /* A launch leaves the page as it is, and starts nothing else. */
    EXPECT_EQ(vx_page_current_id(page_manager), c.page);
    EXPECT_EQ(start_count(), ++expected);
  }
  /* The Bluetooth program started by the shell is marked so. */
  EXPECT_EQ(bt_started_by_shell, 1);
}

/* Whether WM_DESTROY has been posted to the main window (and takes it). */
bool destroy_posted() {
  MSG msg;
  return PeekMessageW(&msg, main_window, WM_DESTROY, WM_DESTROY, PM_REMOVE) != 0;
}

TEST_F(PagesTest, SixCornerTapsStartTheDesktopAndEndTheShell) {
  stand_in_programs({u"\\windows\\explorer.exe"});
  for (int i = 0; i < 5; ++i) tap(5 + i, 20 - i);
  EXPECT_EQ(start_count(), 0u);
  EXPECT_FALSE(destroy_posted());
  /* Taps elsewhere do not reset the count. */
  tap(400, 5);
  tap(29, 29);
  EXPECT_TRUE(started(u"\\windows\\explorer.exe"));
  EXPECT_TRUE(destroy_posted());
}

TEST_F(PagesTest, CornerTapsCountOnlyWithinOneVisitOfTheDesktop) {
  stand_in_programs({u"\\windows\\explorer.exe"});
  for (int i = 0; i < 5; ++i) tap(0, 0);
  tap(30, 0);   /* outside the corner */
  tap(0, 30);
  tap_button(221);
  tap_button(102);
  ASSERT_EQ(vx_page_current_id(page_manager), PAGE_DESKTOP);
  tap(0, 0);
  for (int i = 0; i < 4; ++i) tap(10, 10);
  Sleep(50);
  EXPECT_EQ(start_count(), 0u);
  EXPECT_FALSE(destroy_posted());
  tap(10, 10);  /* the sixth of this visit */
  EXPECT_TRUE(started(u"\\windows\\explorer.exe"));
  EXPECT_TRUE(destroy_posted());
}

#endif

/* A point of the two-state picture `id` where its on and off frames differ. */
POINT differing_point(int id) {
  VxSkinItem* item = vx_skin_find(shell_skin, id);
  /* One reference for the whole scan, so the picture is decoded once. */
  vx_skin_get_bitmap(shell_skin, item, 0);
  for (int y = 0; y < item->height; ++y)
    for (int x = 0; x < item->width; ++x)
      if (picture_pixel(id, x, y) != picture_pixel(id, item->width + x, y)) {
        vx_skin_put_bitmap(shell_skin, item);
        return POINT{x, y};
      }
  vx_skin_put_bitmap(shell_skin, item);
  ADD_FAILURE() << "the frames of item " << id << " are alike";
  return POINT{0, 0};
}

TEST_F(PagesTest, IndicatorsShowTheirFlagsOnTheNextPaint) {
  VxGpsData* saved = shell_gps_data;
  VxGpsData gps;
  memset(&gps, 0, sizeof gps);
  shell_gps_data = &gps;
  struct Indicator {
    int item;
    std::function<void(int)> set;
  } indicators[] = {
      {205, [](int on) { fm_enabled = on; }},
      {206, [&gps](int on) { gps.status = on ? 'A' : 'V'; }},
      {207, [](int on) { bt_started_by_shell = on; }},
  };
  for (const Indicator& indicator : indicators) {
    SCOPED_TRACE("indicator " + std::to_string(indicator.item));
    VxSkinItem* item = vx_skin_find(shell_skin, indicator.item);
    const POINT p = differing_point(indicator.item);
    const COLORREF on = picture_pixel(indicator.item, p.x, p.y);
    const COLORREF off = picture_pixel(indicator.item, item->width + p.x, p.y);
    for (int state : {1, 0, 1}) {
      indicator.set(state);
      Frame frame;
      EXPECT_EQ(frame.pixel(item->x + p.x, item->y + p.y), state ? on : off) << "state " << state;
    }
    indicator.set(0);
  }
  /* Without a GPS record the indicator shows no fix. */
  shell_gps_data = NULL;
  {
    VxSkinItem* item = vx_skin_find(shell_skin, 206);
    const POINT p = differing_point(206);
    Frame frame;
    EXPECT_EQ(frame.pixel(item->x + p.x, item->y + p.y), picture_pixel(206, item->width + p.x, p.y));
  }
  shell_gps_data = saved;
}

TEST_F(PagesTest, TheBluetoothLineFollowsTheInformationFlag) {
  /* Texts 201 and 208 share one rectangle; each flag value draws its own text. */
  bt_info_present = 1;
  Frame connected;
  bt_info_present = 0;
  Frame not_connected;
  EXPECT_FALSE(connected.same_in_item(not_connected, 201));
  bt_info_present = 1;
  Frame again;
  EXPECT_TRUE(connected.same_in_item(again, 201));
}

}  // namespace
}  // namespace pages_test
