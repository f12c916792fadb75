/* The operator's commands: the grammar, the numbers stored in config.ini,
 * the destination of command 2 and the call back of command 6. */
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include <cmath>
#include <string>
#include <vector>

#include "../nav_handoff/handoff_fixture.h"
#include "dtmf_commands.h"
#include "ini_reader.h"
#include "nav_stack.h"
#include "pages.h"
#include "shell_globals.h"

using handoff_fixture::Device;
using handoff_fixture::WString;
using handoff_fixture::gbk_name;
using handoff_fixture::utf8;
using handoff_fixture::wide;

namespace {

TEST(DtmfGrammar, CommandNumberAndForm) {
  struct Case {
    const char* message;
    int number;
    int well_formed;
  } cases[] = {
      {"02#0113456700225432", 2, 1},
      {"03#95555", 3, 1},
      {"06#", 6, 1},
      {"99#1", 99, 1},
      {"00#1", 0, 1},
      {"3#123", 3, 0},     /* one digit */
      {"003#123", 3, 0},   /* three digits */
      {"03123", 3123, 0},  /* no "#" */
      {"03*123", 3, 0},
      {"#03#1", 0, 0},
      {"A3#1", 0, 0},
      {"0", 0, 0},
      {"", 0, 0},
      {"99999999999999999999#", 100000000, 0},  /* saturates, names no command */
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    WString m = wide(c.message);
    EXPECT_EQ(dtmf_command_number(m.c_str()), c.number);
    EXPECT_EQ(dtmf_command_well_formed(m.c_str()), c.well_formed);
  }
  EXPECT_EQ(dtmf_command_number(NULL), 0);
  EXPECT_EQ(dtmf_command_well_formed(NULL), 0);
}

TEST(DtmfGrammar, DestinationCoordinates) {
  struct Case {
    const char* message;
    double first, second;
  } cases[] = {
      {"02#0113456700225432", 113.4567, 22.5432},
      {"02#1113456710225432", -113.4567, -22.5432},
      {"02#*11345670225432", -113.4567, 22.5432},
      {"02#01134567*0225432", 113.4567, -22.5432},
      {"02##11345670225432", -113.4567, 22.5432},
      /* The second number reads every digit to the end. */
      {"02#01134567012345678901", 113.4567, 1234567.8901},
      /* ... and stops at a non-digit. */
      {"02#0113456700225*432", 113.4567, 0.0225},
      /* The first is cut after seven digits, and stops early at a non-digit. */
      {"02#0113*56700225432", 0.0113, 22.5432},
      {"02#00000000", 0.0, 0.0},
      {"02#09999999", 999.9999, 0.0},
      /* Short payloads: what is missing reads as nothing. */
      {"02#", 0.0, 0.0},
      {"02#1", 0.0, 0.0},
      {"02#0123", 0.0123, 0.0},
      {"02#01234567", 123.4567, 0.0},
      {"02#012345678", 123.4567, 0.0},
      {"02#0123456709", 123.4567, 0.0009},
      {"02#0123456719", 123.4567, -0.0009},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    WString m = wide(c.message);
    DestinationRecord record = {-1.0, -1.0};
    ASSERT_EQ(dtmf_parse_destination(m.c_str(), &record), 0);
    EXPECT_DOUBLE_EQ(record.first, c.first);
    EXPECT_DOUBLE_EQ(record.second, c.second);
    /* No negative zero, which would print as "-0.000000". */
    if (c.first == 0.0) {
      EXPECT_FALSE(std::signbit(record.first));
    }
    if (c.second == 0.0) {
      EXPECT_FALSE(std::signbit(record.second));
    }
  }
  DestinationRecord record;
  EXPECT_EQ(dtmf_parse_destination(NULL, &record), -1);
  EXPECT_EQ(dtmf_parse_destination(TEXT("02#0"), NULL), -1);
}

class DtmfCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    debug_level = 0;
    device.write_config(kConfig);
  }
  std::string value(const WCHAR* key) {
    WCHAR buffer[512];
    ini_read_string(TEXT("CONFIG"), key, TEXT("<none>"), buffer, 512, device.config_path().c_str());
    return utf8(buffer);
  }
  std::string config_bytes() {
    std::string bytes;
    FILE* f = _wfopen(device.config_path().c_str(), TEXT("rb"));
    if (!f) return "<no file>";
    char chunk[256];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
    fclose(f);
    return bytes;
  }
  static constexpr const char* kConfig =
      "[CONFIG]\r\nID=123456\r\nCENTER_NUMBER=111\r\nRECALL_NUMBER=222\r\nGZDTMF_NUMBER=333\r\n";
  Device device;
};

TEST_F(DtmfCommandTest, NumbersAreStoredAsTheyStand) {
  struct Case {
    const char* message;
    const WCHAR* key;
    const char* stored;
  } cases[] = {
      {"03#95555", TEXT("CENTER_NUMBER"), "95555"},
      {"04#13800138000", TEXT("RECALL_NUMBER"), "13800138000"},
      {"05#111*222", TEXT("GZDTMF_NUMBER"), "111*222"},
      {"05#A*B#C", TEXT("GZDTMF_NUMBER"), "A*B#C"},
      {"03#", TEXT("CENTER_NUMBER"), "<none>"},  /* an empty value reads as the default */
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    device.write_config(kConfig);
    EXPECT_EQ(dtmf_run_command(wide(c.message).c_str()), 0);
    EXPECT_EQ(value(c.key), c.stored);
    EXPECT_EQ(value(TEXT("ID")), "123456");
  }
  /* The other keys stay. */
  device.write_config(kConfig);
  dtmf_run_command(TEXT("04#9"));
  EXPECT_EQ(value(TEXT("CENTER_NUMBER")), "111");
  EXPECT_EQ(value(TEXT("RECALL_NUMBER")), "9");
  EXPECT_EQ(value(TEXT("GZDTMF_NUMBER")), "333");
}

TEST_F(DtmfCommandTest, MissingConfigIsCreated) {
  device.remove_config();
  dtmf_run_command(TEXT("03#95555"));
  EXPECT_EQ(value(TEXT("CENTER_NUMBER")), "95555");
}

TEST_F(DtmfCommandTest, OtherMessagesChangeNothing) {
  const char* ignored[] = {"07#123", "01#123", "00#123", "3#123", "003#123",
                           "03123",  "03*123", "#03#1", "",      "99#0113456700225432"};
  for (const char* message : ignored) {
    SCOPED_TRACE(message);
    EXPECT_EQ(dtmf_run_command(wide(message).c_str()), 0);
    EXPECT_EQ(config_bytes(), kConfig);
  }
  EXPECT_EQ(dtmf_run_command(NULL), 0);
}

TEST_F(DtmfCommandTest, MessageIsCutToItsBuffer) {
  std::string digits(400, '7');
  dtmf_run_command(wide("03#" + digits).c_str());
  /* 259 characters of message, 256 of them payload. */
  EXPECT_EQ(value(TEXT("CENTER_NUMBER")), digits.substr(0, 256));
}

TEST_F(DtmfCommandTest, ThreadEntriesRunTheCommand) {
  static const WCHAR message[] = TEXT("03#4000");
  HANDLE thread = CreateThread(NULL, 0, dtmf_command_thread, (LPVOID)message, 0, NULL);
  ASSERT_TRUE(thread);
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(thread);
  EXPECT_EQ(value(TEXT("CENTER_NUMBER")), "4000");

  /* The started thread owns its copy: the caller's text may go at once. */
  WCHAR changing[16];
  wcscpy(changing, TEXT("04#5000"));
  ASSERT_EQ(dtmf_start_command(changing), 0);
  wcscpy(changing, TEXT("04#6666"));
  bool stored = false;
  for (int i = 0; i < 1000 && !stored; ++i) {
    Sleep(5);
    stored = value(TEXT("RECALL_NUMBER")) == "5000";
  }
  EXPECT_TRUE(stored) << value(TEXT("RECALL_NUMBER"));
  EXPECT_EQ(dtmf_start_command(NULL), -1);
}

TEST_F(DtmfCommandTest, CommandsArrivingTogetherAllReachTheFile) {
  /* Handler threads of quick messages run at the same time; no value may be
   * lost to another's rewrite. */
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    device.write_config(kConfig);
    std::string suffix = std::to_string(round);
    const std::string messages[] = {"03#1" + suffix, "04#2" + suffix, "05#3" + suffix};
    HANDLE threads[3];
    WString texts[3];
    for (int i = 0; i < 3; ++i) {
      texts[i] = wide(messages[i]);
      threads[i] = CreateThread(NULL, 0, dtmf_command_thread, (LPVOID)texts[i].c_str(), 0, NULL);
      ASSERT_TRUE(threads[i]);
    }
    EXPECT_EQ(WaitForMultipleObjects(3, threads, TRUE, 10000), WAIT_OBJECT_0);
    for (HANDLE t : threads) CloseHandle(t);
    EXPECT_EQ(value(TEXT("CENTER_NUMBER")), "1" + suffix);
    EXPECT_EQ(value(TEXT("RECALL_NUMBER")), "2" + suffix);
    EXPECT_EQ(value(TEXT("GZDTMF_NUMBER")), "3" + suffix);
    EXPECT_EQ(value(TEXT("ID")), "123456");
  }
}

TEST_F(DtmfCommandTest, DestinationGoesToTheNavigationProgram) {
  device.write("sdmmc/Navi/Navi.exe", "marker");
  device.write_config("[CONFIG]\r\nNAVI1=" + utf8(device.device("sdmmc/Navi/Navi.exe").c_str()) +
                      "\r\n");
  /* The transmitted 02#011345670022543255 without its check digits. */
  EXPECT_EQ(dtmf_run_command(TEXT("02#0113456700225432")), 0);
  EXPECT_DOUBLE_EQ(destination_record.first, 113.4567);
  EXPECT_DOUBLE_EQ(destination_record.second, 22.5432);
  EXPECT_EQ(device.read("sdmmc/Navi/zrnc.dest"), "(TNC,2,0,22.543200,113.456700," + gbk_name() + ")");

  /* A second number of 240 digits has no record text that fits its buffer:
   * no file is written rather than an overlong one. */
  std::filesystem::remove(device.host("sdmmc/Navi/zrnc.dest"));
  EXPECT_EQ(dtmf_run_command(wide("02#011345670" + std::string(240, '9')).c_str()), 0);
  EXPECT_GT(destination_record.second, 1e235);
  EXPECT_FALSE(device.exists("sdmmc/Navi/zrnc.dest"));
}

/* Pages standing in for the shell's, so that the page manager has ids to
 * switch to; the dialing page's enter notes what the call record held then. */
struct Entry {
  int mode;
  std::string number;
  int stack_top_entry;
};
CRITICAL_SECTION entries_lock;
std::vector<Entry> dialing_entries;

int dialing_enter(int, int, int) {
  EnterCriticalSection(&entries_lock);
  dialing_entries.push_back({call_info.mode, utf8(call_info.number), nav_stack.entries[nav_stack.top]});
  LeaveCriticalSection(&entries_lock);
  return 0;
}
int other_enter(int, int, int) { return 0; }
void any_leave(int) {}

class CallBackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeCriticalSection(&entries_lock);
    dialing_entries.clear();
    page_manager = vx_page_create(NULL, 1);
    ASSERT_TRUE(page_manager);
    const int ids[] = {PAGE_DESKTOP, PAGE_INCOMING_CALL, PAGE_DIALING, PAGE_IN_CALL, PAGE_TOOLS};
    for (int i = 0; i < 5; ++i) {
      memset(&pages_[i], 0, sizeof pages_[i]);
      pages_[i].id = ids[i];
      pages_[i].previous_id = -1;
      pages_[i].enter = ids[i] == PAGE_DIALING ? dialing_enter : other_enter;
      pages_[i].leave = any_leave;
      vx_page_add(page_manager, &pages_[i]);
    }
    memset(&nav_stack, 0, sizeof nav_stack);
    memset(&call_info, 0, sizeof call_info);
    dtmf_set_call_back_poll_ms(5);
  }
  void TearDown() override {
    vx_page_destroy(page_manager);
    page_manager = NULL;
    dtmf_set_call_back_poll_ms(1000);
    DeleteCriticalSection(&entries_lock);
  }
  size_t entries() {
    EnterCriticalSection(&entries_lock);
    size_t n = dialing_entries.size();
    LeaveCriticalSection(&entries_lock);
    return n;
  }
  bool wait_for_entries(size_t n) {
    for (int i = 0; i < 1000; ++i) {
      if (entries() >= n) return true;
      Sleep(5);
    }
    return false;
  }
  Page pages_[5];
};

TEST_F(CallBackTest, WaitsWhileACallPageIsCurrentThenDialsTheNumber) {
  const int call_pages[] = {PAGE_IN_CALL, PAGE_INCOMING_CALL, PAGE_DIALING};
  for (int page : call_pages) {
    SCOPED_TRACE(page);
    dialing_entries.clear();
    vx_page_switch(page_manager, page, 1, 0, 0, 0);
    size_t entered_before = entries();
    call_info.mode = CALL_MODE_CENTRE;
    wcscpy(call_info.number, TEXT("95555"));
    int top_before = nav_stack.top;
    ASSERT_EQ(dtmf_start_command(TEXT("06#13800138000")), 0);
    /* Many poll periods pass: still waiting. */
    Sleep(100);
    EXPECT_EQ(entries(), entered_before);
    EXPECT_EQ(vx_page_current_id(page_manager), page);
    EXPECT_EQ(nav_stack.top, top_before);
    /* The call ends. */
    vx_page_switch(page_manager, PAGE_DESKTOP, 1, 0, 0, 0);
    ASSERT_TRUE(wait_for_entries(entered_before + 1));
    Entry e = dialing_entries.back();
    EXPECT_EQ(e.mode, CALL_MODE_NUMBER);
    EXPECT_EQ(e.number, "13800138000");
    EXPECT_EQ(e.stack_top_entry, PAGE_DIALING);
    EXPECT_EQ(nav_stack.top, top_before + 1);
    EXPECT_EQ(vx_page_current_id(page_manager), PAGE_DIALING);
  }
}

TEST_F(CallBackTest, OutsideACallDialsAfterOneWaitWithTheNumberCut) {
  vx_page_switch(page_manager, PAGE_TOOLS, 1, 0, 0, 0);
  EXPECT_EQ(dtmf_run_command(TEXT("06#1234567890123456789012345")), 0);
  ASSERT_EQ(entries(), 1u);
  EXPECT_EQ(dialing_entries[0].mode, CALL_MODE_NUMBER);
  EXPECT_EQ(dialing_entries[0].number, "1234567890123456789");
  EXPECT_EQ(nav_stack.entries[nav_stack.top], PAGE_DIALING);
}

}  // namespace
