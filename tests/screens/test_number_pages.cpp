/* The service-number pages: the keypad's editing rules and the save into
 * config.ini, seen through the file and the pages. */
#include "pages_fixture.h"

namespace pages_test {
namespace {

class NumberPages : public PagesTest {
 protected:
  /* Desktop -> tools -> service numbers. */
  void open_service_numbers() {
    tap_button(221);
    tap_button(1106);
    ASSERT_EQ(vx_page_current_id(page_manager), PAGE_SERVICE_NUMBERS);
  }
  static void press_digits(const char* digits) {
    for (const char* d = digits; *d; ++d) tap_button(1503 + (*d - '0'));
  }
  static std::string config_bytes() {
    HANDLE file = CreateFileW(config_path().c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    std::string bytes;
    char buffer[512];
    DWORD got = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0)
      bytes.append(buffer, got);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return bytes;
  }
  void TearDown() override {
    nav_home();
    PagesTest::TearDown();
  }
};

TEST_F(NumberPages, SavingWritesTheEditedKeyOnlyAndTheListShowsIt) {
  struct Case {
    int edit_button;
    const char* digits;
    const WCHAR* centre;
    const WCHAR* recall;
  } cases[] = {
      {1404, "0123456789", TEXT("0123456789"), TEXT("02088886666")},
      {1405, "9876", TEXT("4008001234"), TEXT("9876")},
      /* Seventeen presses keep sixteen digits. */
      {1404, "12345678901234567", TEXT("1234567890123456"), TEXT("02088886666")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.digits);
    write_config(default_config());
    ASSERT_EQ(nav_home(), 0);
    open_service_numbers();
    Frame before;
    tap_button(c.edit_button);
    ASSERT_EQ(vx_page_current_id(page_manager), PAGE_NUMBER_ENTRY);
    press_digits(c.digits);
    tap_button(1514);
    EXPECT_EQ(read_config(TEXT("CENTER_NUMBER")), WString(c.centre));
    EXPECT_EQ(read_config(TEXT("RECALL_NUMBER")), WString(c.recall));
    EXPECT_EQ(read_config(TEXT("CENTER_NAME")), WString(TEXT("Service Centre"))) << "other keys stay";
    /* Back on the list, which reads both keys again. */
    EXPECT_EQ(vx_page_current_id(page_manager), PAGE_SERVICE_NUMBERS);
    EXPECT_EQ(nav_stack.top, 2);
    Frame after;
    const int changed = c.edit_button == 1404 ? 1402 : 1403;
    const int kept = c.edit_button == 1404 ? 1403 : 1402;
    EXPECT_FALSE(before.same_in_item(after, changed));
    EXPECT_TRUE(before.same_in_item(after, kept));
  }
}

TEST_F(NumberPages, DeleteRemovesTheLastDigitAndNothingOnAnEmptyEntry) {
  open_service_numbers();
  tap_button(1404);
  repaint_pending();
  tap_button(1513);
  EXPECT_FALSE(repaint_pending()) << "delete on an empty entry does not repaint";
  press_digits("123");
  EXPECT_TRUE(repaint_pending());
  tap_button(1513);
  EXPECT_TRUE(repaint_pending());
  press_digits("9");
  tap_button(1514);
  EXPECT_EQ(read_config(TEXT("CENTER_NUMBER")), WString(TEXT("129")));
}

TEST_F(NumberPages, AnEmptyEntryOrBackSavesNothing) {
  const std::string original = config_bytes();
  open_service_numbers();
  tap_button(1405);
  tap_button(1514);
  EXPECT_EQ(vx_page_current_id(page_manager), PAGE_NUMBER_ENTRY) << "an empty save stays on the keypad";
  press_digits("55");
  tap_button(1513);
  tap_button(1513);
  tap_button(1514);
  EXPECT_EQ(vx_page_current_id(page_manager), PAGE_NUMBER_ENTRY);
  press_digits("77");
  tap_button(102);
  EXPECT_EQ(vx_page_current_id(page_manager), PAGE_SERVICE_NUMBERS);
  EXPECT_EQ(config_bytes(), original);
  /* Entering again starts with an empty entry. */
  tap_button(1404);
  press_digits("1");
  tap_button(1514);
  EXPECT_EQ(read_config(TEXT("CENTER_NUMBER")), WString(TEXT("1")));
}

TEST_F(NumberPages, TheListShowsNothingForMissingKeys) {
  write_config(TEXT("[CONFIG]\r\nID=A12345\r\n"));
  open_service_numbers();
  Frame empty;
  ASSERT_EQ(nav_home(), 0);
  write_config(default_config());
  open_service_numbers();
  Frame filled;
  EXPECT_FALSE(empty.same_in_item(filled, 1402));
  EXPECT_FALSE(empty.same_in_item(filled, 1403));
}

TEST_F(NumberPages, TheNumbersAreNamedAndTheEntrySaysWhichItEdits) {
  /* The list names both numbers, in the accent, even when config.ini has neither. */
  const COLORREF accent = RGB(0x22, 0xD3, 0xEE);
  write_config(TEXT("[CONFIG]\r\n"));
  open_service_numbers();
  const Frame list;
  const VxSkinItem* names[] = {vx_skin_find(shell_skin, 1406), vx_skin_find(shell_skin, 1407)};
  for (const VxSkinItem* name : names) {
    ASSERT_NE(name, nullptr);
    bool drawn = false;
    for (int y = name->y; y < name->y + name->height && !drawn; ++y)
      for (int x = name->x; x < name->x + name->width && !drawn; ++x) drawn = list.pixel(x, y) == accent;
    EXPECT_TRUE(drawn) << "no name in item " << name->id;
  }
  /* The entry's title differs with the number being edited. */
  tap_button(1404);
  ASSERT_EQ(vx_page_current_id(page_manager), PAGE_NUMBER_ENTRY);
  const Frame centre;
  tap_button(102);
  tap_button(1405);
  ASSERT_EQ(vx_page_current_id(page_manager), PAGE_NUMBER_ENTRY);
  const Frame recall;
  EXPECT_FALSE(centre.same_in_item(recall, 1500));
}

}  // namespace
}  // namespace pages_test
