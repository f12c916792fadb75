/* The call pages: what the dialing page reads and dials in each call mode,
 * its animation, the in-call page's timer, keypad and audio capture, and the
 * incoming-call page's ring tone and answer. */
#include "pages_fixture.h"

namespace pages_test {
namespace {

class CallPages : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    show_phone();
  }
  void TearDown() override {
    nav_home();
    PagesTest::TearDown();
  }
  static std::vector<PhoneMessage> take_phone() { return std::move(phone_messages()); }
};

TEST(CallDetail, EscapesExpandInPlaceFromLeftToRight) {
  struct Case {
    const WCHAR* text;
    const WCHAR* expanded;
  } cases[] = {
      {TEXT("a\\nb\\rc"), TEXT("a\nb\rc")},
      {TEXT("\\n\\n"), TEXT("\n\n")},
      {TEXT("\\\\n"), TEXT("\\\n")},  /* the first backslash is kept, the second pair expands */
      {TEXT("\\t\\"), TEXT("\\t\\")},  /* other letters and a last backslash stay */
      {TEXT("nr\\"), TEXT("nr\\")},
      {TEXT(""), TEXT("")},
  };
  for (const Case& c : cases) {
    WCHAR buffer[32];
    lstrcpyW(buffer, c.text);
    expand_escapes(buffer);
    EXPECT_EQ(WString(buffer), WString(c.expanded));
  }
  expand_escapes(NULL);
}

TEST_F(CallPages, DialingReadsTheCalledPartyOfItsModeAndDials) {
  struct Case {
    int mode;
    const WCHAR* preset_number;
    const WCHAR* number;
    const WCHAR* name;
    const WCHAR* detail;
  } cases[] = {
      {CALL_MODE_CENTRE, TEXT(""), TEXT("4008001234"), TEXT("Service Centre"), TEXT("Line one\nLine two")},
      {CALL_MODE_RECALL, TEXT(""), TEXT("02088886666"), TEXT("Recall desk"), TEXT("R1\rR2")},
      {CALL_MODE_NUMBER, TEXT("13800138000"), TEXT("13800138000"), TEXT(""), TEXT("")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode));
    memset(&call_info, 0, sizeof call_info);
    call_info.mode = c.mode;
    lstrcpyW(call_info.number, c.preset_number);
    take_phone();
    ASSERT_EQ(nav_push(PAGE_DIALING, 0), 0);
    EXPECT_EQ(WString(call_info.number), WString(c.number));
    EXPECT_EQ(WString(call_info.name), WString(c.name));
    EXPECT_EQ(WString(call_info.detail), WString(c.detail));
    EXPECT_EQ(take_phone(), std::vector<PhoneMessage>{PhoneMessage(WM_BT_DIAL, 0)});
    /* The hang-up button of the mode's layout asks the phone to hang up; the page stays. */
    tap_button(c.mode == CALL_MODE_NUMBER ? 536 : 301);
    EXPECT_EQ(take_phone(), std::vector<PhoneMessage>{PhoneMessage(WM_BT_HANGUP, 0)});
    EXPECT_EQ(vx_page_current_id(page_manager), PAGE_DIALING);
    ASSERT_EQ(nav_home(), 0);
  }
}

TEST_F(CallPages, MissingCentreKeysStillDialAnEmptyNumber) {
  write_config(TEXT("[CONFIG]\r\nID=A12345\r\n"));
  call_info.mode = CALL_MODE_CENTRE;
  ASSERT_EQ(nav_push(PAGE_DIALING, 0), 0);
  EXPECT_EQ(call_info.number[0], 0);
  EXPECT_EQ(call_info.name[0], 0);
  EXPECT_EQ(take_phone(), std::vector<PhoneMessage>{PhoneMessage(WM_BT_DIAL, 0)});
}

TEST_F(CallPages, TheDialingAnimationAlternatesOnlyWithTheServiceCentre) {
  call_info.mode = CALL_MODE_CENTRE;
  ASSERT_EQ(nav_push(PAGE_DIALING, 0), 0);
  repaint_pending();
  Frame first;
  dialing_page_animation_tick(main_window, WM_TIMER, TIMER_DIALING_ANIMATION, 0);
  EXPECT_TRUE(repaint_pending());
  Frame second;
  dialing_page_animation_tick(main_window, WM_TIMER, TIMER_DIALING_ANIMATION, 0);
  Frame third;
  EXPECT_FALSE(first.same_in_item(second, 302)) << "the tick shows the other picture";
  EXPECT_TRUE(first.same_in_item(third, 302)) << "the second tick shows the first picture again";
  /* Background 300 in this mode. */
  EXPECT_EQ(first.pixel(799, 0), picture_pixel(300, 799, 0));

  ASSERT_EQ(nav_home(), 0);
  call_info.mode = CALL_MODE_NUMBER;
  ASSERT_EQ(nav_push(PAGE_DIALING, 0), 0);
  repaint_pending();
  Frame before;
  dialing_page_animation_tick(main_window, WM_TIMER, TIMER_DIALING_ANIMATION, 0);
  EXPECT_FALSE(repaint_pending()) << "with a number the tick changes nothing";
  Frame after;
  EXPECT_TRUE(before.same_in_item(after, 302));
  EXPECT_EQ(before.pixel(799, 0), picture_pixel(530, 799, 0));
  EXPECT_FALSE(before.same_in_item(first, 533)) << "\"正在拨号\" is drawn in mode 0 only";
}

TEST_F(CallPages, TheCallTimerCountsSecondsMinutesAndHours) {
  call_info.mode = CALL_MODE_CENTRE;
  ASSERT_EQ(nav_push(PAGE_IN_CALL, 0), 0);
  EXPECT_EQ(WString(in_call_page_timer_text()), WString(TEXT("00:00:00")));
  struct Step {
    int ticks;
    const WCHAR* text;
  } steps[] = {{59, TEXT("00:00:59")}, {1, TEXT("00:01:00")}, {3540, TEXT("01:00:00")}, {3661, TEXT("02:01:01")}};
  for (const Step& s : steps) {
    for (int i = 0; i < s.ticks; ++i) in_call_page_timer_tick(main_window, WM_TIMER, TIMER_CALL, 0);
    EXPECT_EQ(WString(in_call_page_timer_text()), WString(s.text));
  }
  EXPECT_TRUE(repaint_pending());
  /* The text is drawn: another time of day gives other pixels in item 600. */
  Frame at_two_hours;
  in_call_page_timer_tick(main_window, WM_TIMER, TIMER_CALL, 0);
  Frame a_second_later;
  EXPECT_FALSE(at_two_hours.same_in_item(a_second_later, 600));
  /* Entering again starts from zero. */
  ASSERT_EQ(nav_home(), 0);
  ASSERT_EQ(nav_push(PAGE_IN_CALL, 0), 0);
  EXPECT_EQ(WString(in_call_page_timer_text()), WString(TEXT("00:00:00")));
}

TEST_F(CallPages, InCallKeysAndHangUpGoToThePhone) {
  call_info.mode = CALL_MODE_RECALL;
  ASSERT_EQ(nav_push(PAGE_IN_CALL, 0), 0);
  std::vector<PhoneMessage> expected;
  for (int id = 601; id <= 612; ++id) {
    tap_button(id);
    expected.push_back(PhoneMessage(WM_BT_SEND_KEY, (WPARAM)(id - 601)));
  }
  tap_button(301);
  expected.push_back(PhoneMessage(WM_BT_HANGUP, 0));
  EXPECT_EQ(take_phone(), expected);
  EXPECT_EQ(vx_page_current_id(page_manager), PAGE_IN_CALL);

  /* With a number there is no keypad: only the hang-up button. */
  ASSERT_EQ(nav_home(), 0);
  call_info.mode = CALL_MODE_NUMBER;
  ASSERT_EQ(nav_push(PAGE_IN_CALL, 0), 0);
  tap_button(601);
  tap_button(536);
  EXPECT_EQ(take_phone(), std::vector<PhoneMessage>{PhoneMessage(WM_BT_HANGUP, 0)});
}

TEST_F(CallPages, AnInCallPageWithoutNumberShowsAnOutgoingCall) {
  call_info.mode = CALL_MODE_NUMBER;
  ASSERT_EQ(nav_push(PAGE_IN_CALL, 0), 0);
  EXPECT_EQ(WString(call_info.number), WString(TEXT("手机呼出")));
  ASSERT_EQ(nav_home(), 0);
  lstrcpyW(call_info.number, TEXT("13800138000"));
  ASSERT_EQ(nav_push(PAGE_IN_CALL, 0), 0);
  EXPECT_EQ(WString(call_info.number), WString(TEXT("13800138000")));
}

TEST_F(CallPages, AServiceCentreCallThatCameInReadsTheCentresNameOnce) {
  call_info.mode = CALL_MODE_CENTRE;
  lstrcpyW(call_info.number, TEXT("4008001234"));
  ASSERT_EQ(nav_push(PAGE_IN_CALL, 0), 0);
  EXPECT_EQ(WString(call_info.name), WString(TEXT("Service Centre")));
  EXPECT_EQ(WString(call_info.detail), WString(TEXT("Line one\nLine two")));
  /* A name the dialing page set is kept. */
  ASSERT_EQ(nav_home(), 0);
  lstrcpyW(call_info.name, TEXT("Kept"));
  ASSERT_EQ(nav_push(PAGE_IN_CALL, 0), 0);
  EXPECT_EQ(WString(call_info.name), WString(TEXT("Kept")));
  /* The recall mode reads nothing. */
  ASSERT_EQ(nav_home(), 0);
  memset(&call_info, 0, sizeof call_info);
  call_info.mode = CALL_MODE_RECALL;
  ASSERT_EQ(nav_push(PAGE_IN_CALL, 0), 0);
  EXPECT_EQ(call_info.name[0], 0);
}

TEST_F(CallPages, OnlyTheServiceCentreModeCapturesTheCallAudio) {
  int recall_blocks = 0; /* the recall mode has the same buttons as the centre mode */
  for (int mode : {CALL_MODE_NUMBER, CALL_MODE_RECALL}) {
    call_info.mode = mode;
    ASSERT_EQ(nav_push(PAGE_IN_CALL, 0), 0);
    EXPECT_FALSE(in_call_page_capture_open()) << "mode " << mode;
    EXPECT_EQ(capture_active, 0);
    recall_blocks = live_blocks();
    ASSERT_EQ(nav_home(), 0);
  }
#ifndef _WIN32
  /* The host's capture device (a device of its own under Wine is not assured). */
  const int blocks = live_blocks();
  for (int visit = 0; visit < 2; ++visit) {
    call_info.mode = CALL_MODE_CENTRE;
    ASSERT_EQ(nav_push(PAGE_IN_CALL, 0), 0);
    EXPECT_TRUE(in_call_page_capture_open()) << "visit " << visit;
    EXPECT_EQ(capture_active, 1);
    EXPECT_EQ(live_blocks(), recall_blocks + 2) << "two capture blocks";
    ASSERT_EQ(nav_home(), 0);
    EXPECT_FALSE(in_call_page_capture_open());
    EXPECT_EQ(capture_active, 0);
    EXPECT_EQ(live_blocks(), blocks);
  }
#else
  (void)recall_blocks;
#endif
}

TEST_F(CallPages, TheIncomingCallPageAnswersOrRejects) {
  lstrcpyW(call_info.number, TEXT("13800138000"));
  ASSERT_EQ(nav_push(PAGE_INCOMING_CALL, 0), 0);
  Frame with_number;
  tap_button(535);
  tap_button(536);
  EXPECT_EQ(take_phone(), (std::vector<PhoneMessage>{PhoneMessage(WM_BT_ANSWER, 0), PhoneMessage(WM_BT_HANGUP, 0)}));
  EXPECT_EQ(vx_page_current_id(page_manager), PAGE_INCOMING_CALL);
  call_info.number[0] = 0;
  Frame without_number;
  EXPECT_FALSE(with_number.same_in_item(without_number, 534)) << "the caller's number is drawn";
}

#ifndef _WIN32

TEST_F(CallPages, TheRingToneLoopsWhileTheIncomingCallPageIsShown) {
  /* A short silent WAVE file as the device's ring tone. */
  FILE* f = fopen((root_dir() + "/residentflash2/localring.wav").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  const unsigned char header[44] = {'R', 'I', 'F', 'F', 36 + 160, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                    16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0,
                                    'd', 'a', 't', 'a', 160, 0, 0, 0};
  fwrite(header, 1, sizeof header, f);
  for (int i = 0; i < 160; ++i) fputc(0, f);
  fclose(f);
  recorder().take();
  ASSERT_EQ(nav_push(PAGE_INCOMING_CALL, 0), 0);
  ASSERT_EQ(nav_home(), 0);
  std::vector<std::string> sounds;
  for (const std::string& line : recorder().take())
    if (line.find("\"ev\":\"sound\"") != std::string::npos) sounds.push_back(line.substr(line.find(",\"ev\"")));
  EXPECT_EQ(sounds, (std::vector<std::string>{
                        ",\"ev\":\"sound\",\"file\":\"residentflash2\\\\localring.wav\",\"loop\":true}",
                        ",\"ev\":\"sound\",\"file\":\"residentflash2\\\\localring.wav\",\"stop\":true}"}));
}

#endif

}  // namespace
}  // namespace pages_test
