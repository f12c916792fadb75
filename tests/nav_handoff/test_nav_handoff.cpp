/* The destination hand-off: the record text, the three roads of the launch
 * (a running program's window, the destination file beside NAVI1 or NAVI2,
 * the spoken prompt) and the hand-off log. */
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "handoff_fixture.h"
#include "nav_handoff.h"
#include "shell_globals.h"
#include "tts.h"
#include "tts_stand_in.h"

using handoff_fixture::Device;
using handoff_fixture::WString;
using handoff_fixture::gbk_name;
using handoff_fixture::utf8;
using handoff_fixture::wide;

namespace {

const DestinationRecord kRecord = {-113.4567, 22.5432};
const char kRecordText[] = "(TNC,2,0,22.543200,-113.456700,话务员设定地址)";
std::string record_gbk() { return "(TNC,2,0,22.543200,-113.456700," + gbk_name() + ")"; }

/* A window of the navigation program (a stand-in of that program, outside the
 * system), run on a thread of its own as the real program's would be. It
 * keeps every WM_COPYDATA it receives. */
struct Received {
  WPARAM wparam;
  ULONG_PTR tag;
  DWORD bytes;
  std::vector<unsigned char> data;
};

class NaviWindow {
 public:
  explicit NaviWindow(const WCHAR* title) : title_(title) {
    ready_ = CreateEventW(NULL, TRUE, FALSE, NULL);
    thread_ = CreateThread(NULL, 0, run, this, 0, NULL);
    WaitForSingleObject(ready_, 5000);
  }
  ~NaviWindow() {
    if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
    CloseHandle(ready_);
  }
  HWND window() const { return window_; }
  std::vector<Received> received() {
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
  }

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    NaviWindow* self = (NaviWindow*)GetWindowLongPtrW(window, GWLP_USERDATA);
    if (message == WM_COPYDATA && self) {
      const COPYDATASTRUCT* block = (const COPYDATASTRUCT*)lparam;
      Received r;
      r.wparam = wparam;
      r.tag = block->dwData;
      r.bytes = block->cbData;
      const unsigned char* bytes = (const unsigned char*)block->lpData;
      r.data.assign(bytes, bytes + block->cbData);
      std::lock_guard<std::mutex> hold(self->lock_);
      self->received_.push_back(r);
      return TRUE;
    }
    if (message == WM_CLOSE) {
      DestroyWindow(window);
      return 0;
    }
    if (message == WM_DESTROY) {
      PostQuitMessage(0);
      return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }
  static DWORD WINAPI run(LPVOID parameter) {
    NaviWindow* self = (NaviWindow*)parameter;
    WNDCLASSW window_class;
    memset(&window_class, 0, sizeof window_class);
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = GetModuleHandleW(NULL);
    window_class.lpszClassName = TEXT("NaviStandInTest");
    RegisterClassW(&window_class);  /* fails harmlessly when the class exists */
    self->window_ = CreateWindowExW(0, TEXT("NaviStandInTest"), self->title_, WS_VISIBLE, 0, 0, 100,
                                    100, NULL, NULL, GetModuleHandleW(NULL), NULL);
    if (self->window_) SetWindowLongPtrW(self->window_, GWLP_USERDATA, (LONG_PTR)self);
    SetEvent(self->ready_);
    MSG msg;
    while (self->window_ && GetMessageW(&msg, NULL, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
  }

  const WCHAR* title_;
  HANDLE ready_ = NULL;
  HANDLE thread_ = NULL;
  HWND window_ = NULL;
  std::mutex lock_;
  std::vector<Received> received_;
};

/* Whether window is (or soon becomes) the foreground window: under Wine the
 * change reaches a window of another thread through that thread's queue. */
bool becomes_foreground(HWND window) {
  for (int i = 0; i < 200; ++i) {
    if (GetForegroundWindow() == window) return true;
    Sleep(10);
  }
  return false;
}

/* Puts another window in front, so that raising the navigation window shows. */
void front_other(NaviWindow& other) {
  ASSERT_TRUE(other.window());
  SetForegroundWindow(other.window());
  ASSERT_TRUE(becomes_foreground(other.window()));
}

/* The UTF-16 text at the start of a received block. */
std::string text_of(const Received& r) {
  std::basic_string<WCHAR> text;
  for (size_t i = 0; i + 1 < r.data.size(); i += 2) {
    WCHAR c = (WCHAR)(r.data[i] | (r.data[i + 1] << 8));
    if (!c) break;
    text += c;
  }
  return utf8(text.c_str());
}

class HandoffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    debug_level = 0;
    tts_handle = 0;
  }
  void TearDown() override {
    if (tts_handle) tts_uninit(tts_handle);
    tts_handle = 0;
    debug_level = 0;
  }
  /* config.ini naming NAVI1 and NAVI2 (an empty name leaves the key out). */
  void configure(const WString& navi1, const WString& navi2) {
    std::string text = "[CONFIG]\r\nID=123456\r\n";
    if (!navi1.empty()) text += "NAVI1=" + utf8(navi1.c_str()) + "\r\n";
    if (!navi2.empty()) text += "NAVI2=" + utf8(navi2.c_str()) + "\r\n";
    device.write_config(text);
  }
  Device device;
};

TEST(NavRecordText, CoordinatesInOrderSecondThenFirstWithSixDecimals) {
  struct Case {
    double first, second;
    const char* text;
  } cases[] = {
      {-113.4567, 22.5432, "(TNC,2,0,22.543200,-113.456700,话务员设定地址)"},
      {113.4567, 22.5432, "(TNC,2,0,22.543200,113.456700,话务员设定地址)"},
      {0.0, -0.0001, "(TNC,2,0,-0.000100,0.000000,话务员设定地址)"},
      {179.9999, -89.9999996, "(TNC,2,0,-90.000000,179.999900,话务员设定地址)"},
      {179.9999, -89.9999994, "(TNC,2,0,-89.999999,179.999900,话务员设定地址)"},
  };
  for (const Case& c : cases) {
    DestinationRecord record = {c.first, c.second};
    WCHAR text[NAV_TEXT_SIZE];
    int n = nav_format_record(&record, text, NAV_TEXT_SIZE);
    EXPECT_EQ(utf8(text), c.text);
    EXPECT_EQ(n, (int)wide(c.text).size());
  }
}

TEST(NavRecordText, AnsiFormIsGbkAndShortBuffersAreRefused) {
  char ansi[NAV_TEXT_SIZE * 2];
  int n = nav_format_record_ansi(&kRecord, ansi, (int)sizeof ansi);
  EXPECT_EQ(std::string(ansi), record_gbk());
  EXPECT_EQ(n, (int)record_gbk().size());

  WCHAR small[10];
  EXPECT_EQ(nav_format_record(&kRecord, small, 10), -1);
  EXPECT_EQ(small[0], 0);
  EXPECT_EQ(nav_format_record_ansi(&kRecord, ansi, 10), -1);
  EXPECT_EQ(nav_format_record(NULL, small, 10), -1);
}

TEST_F(HandoffTest, RunningProgramGetsTheRecordByMessageAndNoFile) {
  /* NAVI1 exists, and must not be used while the program runs. */
  device.write("sdmmc/Navi/Navi.exe", "marker");
  configure(device.device("sdmmc/Navi/Navi.exe"), WString());
  NaviWindow navi(NAV_WINDOW_TITLE);
  ASSERT_TRUE(navi.window());
  NaviWindow other(TEXT("Other"));
  front_other(other);

  EXPECT_EQ(nav_launch(&kRecord), 0);

  std::vector<Received> got = navi.received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].wparam, (WPARAM)256);
  EXPECT_EQ(got[0].tag, (ULONG_PTR)0);
  EXPECT_EQ(got[0].bytes, 520u);
  EXPECT_EQ(text_of(got[0]), kRecordText);
  /* The block is the whole buffer: nothing follows the text but zeros. */
  size_t text_bytes = wide(kRecordText).size() * 2;
  for (size_t i = text_bytes; i < got[0].data.size(); ++i) ASSERT_EQ(got[0].data[i], 0) << i;
  EXPECT_FALSE(device.exists("sdmmc/Navi/zrnc.dest"));
  EXPECT_TRUE(becomes_foreground(navi.window()));
}

TEST_F(HandoffTest, WindowTitlesAreTriedInOrder) {
  {
    NaviWindow alternative(NAV_WINDOW_TITLE_ALT);
    ASSERT_TRUE(alternative.window());
    nav_launch(&kRecord);
    ASSERT_EQ(alternative.received().size(), 1u);
    EXPECT_EQ(text_of(alternative.received()[0]), kRecordText);

    NaviWindow first(NAV_WINDOW_TITLE);
    ASSERT_TRUE(first.window());
    nav_launch(&kRecord);
    EXPECT_EQ(first.received().size(), 1u);
    EXPECT_EQ(alternative.received().size(), 1u);
  }
}

TEST_F(HandoffTest, WithoutRecordTheRunningProgramIsOnlyRaised) {
  NaviWindow navi(NAV_WINDOW_TITLE);
  ASSERT_TRUE(navi.window());
  NaviWindow other(TEXT("Other"));
  front_other(other);
  EXPECT_EQ(nav_launch(NULL), 0);
  EXPECT_TRUE(navi.received().empty());
  EXPECT_TRUE(becomes_foreground(navi.window()));
}

TEST_F(HandoffTest, NotRunningTheFileGoesBesideTheFirstExistingProgram) {
  struct Case {
    const char* navi1;  /* relative name, or "" for no key */
    const char* navi2;
    const char* used;   /* the folder that gets zrnc.dest */
  } cases[] = {
      {"sdmmc/Navi/Navi.exe", "sdmmc/Other/Navi.exe", "sdmmc/Navi"},
      {"", "sdmmc/Other/Navi.exe", "sdmmc/Other"},
      {"sdmmc/Missing/Navi.exe", "sdmmc/Other/Navi.exe", "sdmmc/Other"},
  };
  device.write("sdmmc/Navi/Navi.exe", "marker");
  device.write("sdmmc/Other/Navi.exe", "marker");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.navi1) + " / " + c.navi2);
    std::filesystem::remove(device.host("sdmmc/Navi/zrnc.dest"));
    std::filesystem::remove(device.host("sdmmc/Other/zrnc.dest"));
    configure(*c.navi1 ? device.device(c.navi1) : WString(), device.device(c.navi2));
    EXPECT_EQ(nav_launch(&kRecord), 0);
    EXPECT_EQ(device.read(std::string(c.used) + "/zrnc.dest"), record_gbk());
    std::string other = std::string(c.used) == "sdmmc/Navi" ? "sdmmc/Other" : "sdmmc/Navi";
    EXPECT_FALSE(device.exists(other + "/zrnc.dest"));
  }
}

TEST_F(HandoffTest, EachFileHandoffReplacesTheFile) {
  device.write("sdmmc/Navi/Navi.exe", "marker");
  device.write("sdmmc/Navi/zrnc.dest", std::string(400, 'x'));
  nav_handoff_file(&kRecord, device.device("sdmmc/Navi/Navi.exe").c_str());
  EXPECT_EQ(device.read("sdmmc/Navi/zrnc.dest"), record_gbk());
  /* Without a backslash the last "/" separates; with one, the last backslash. */
  WString slashed = device.device("sdmmc/Navi/Navi.exe");
  for (WCHAR& c : slashed)
    if (c == TEXT('\\')) c = TEXT('/');
  DestinationRecord other = {1.5, 2.25};
  nav_handoff_file(&other, slashed.c_str());
  EXPECT_EQ(device.read("sdmmc/Navi/zrnc.dest"), "(TNC,2,0,2.250000,1.500000," + gbk_name() + ")");
  WString mixed = device.device("sdmmc/Navi/Navi.exe");
  mixed[mixed.rfind(TEXT('\\'))] = TEXT('/');
  nav_handoff_file(&kRecord, mixed.c_str());
  EXPECT_EQ(device.read("sdmmc/zrnc.dest"), record_gbk());
}

TEST_F(HandoffTest, FileHandoffWritesNothingWithoutRecordOrSeparator) {
  debug_level = 3;
  nav_handoff_file(&kRecord, TEXT("Navi.exe"));
  nav_handoff_file(NULL, device.device("sdmmc/Navi/Navi.exe").c_str());
  nav_handoff_file(&kRecord, NULL);
  nav_handoff_message(&kRecord, NULL);
  EXPECT_FALSE(device.exists("zrnc.dest"));
  EXPECT_FALSE(device.exists("sdmmc/Navi/zrnc.dest"));
  EXPECT_FALSE(device.exists("sdmmc/dest.txt"));
}

#ifndef _WIN32
/* On the host the program's start is observed by a registered stand-in of it,
 * which reads the destination file when it starts. */
TEST_F(HandoffTest, ProgramStartsWithShowAfterTheFileIsInPlace) {
  struct Seen {
    std::mutex lock;
    bool started = false;
    std::u16string command_line;
    std::string file;
  };
  static Seen seen;
  device.write("sdmmc/Navi/Navi.exe", "marker");
  configure(device.device("sdmmc/Navi/Navi.exe"), WString());
  const std::filesystem::path dest = device.host("sdmmc/Navi/zrnc.dest");
  plat::register_program(u"\\sdmmc\\Navi\\Navi.exe", [dest](const std::u16string& line) {
    std::ifstream in(dest, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::lock_guard<std::mutex> hold(seen.lock);
    seen.started = true;
    seen.command_line = line;
    seen.file = bytes;
    return (DWORD)0;
  });
  EXPECT_EQ(nav_launch(&kRecord), 0);
  bool started = false;
  for (int i = 0; i < 500 && !started; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::lock_guard<std::mutex> hold(seen.lock);
    started = seen.started;
  }
  plat::register_program(u"\\sdmmc\\Navi\\Navi.exe", nullptr);
  std::lock_guard<std::mutex> hold(seen.lock);
  ASSERT_TRUE(started);
  EXPECT_EQ(plat::utf16_to_utf8(seen.command_line), "show");
  EXPECT_EQ(seen.file, record_gbk());
}
#endif

TEST_F(HandoffTest, MissingMapCardSpeaksThePromptOnly) {
  device.write("tts/Resource.dat", "engine data");
  tts_handle = tts_init(device.device("tts/Resource.dat").c_str());
  ASSERT_NE(tts_handle, (HANDLE)0);
  struct Case {
    bool with_config;
    const char* navi1;
    const char* navi2;
  } cases[] = {
      {false, "", ""},
      {true, "", ""},
      {true, "sdmmc/Navi/Navi.exe", "sdmmc/Other/Navi.exe"},  /* neither exists */
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.navi1);
    if (c.with_config)
      configure(*c.navi1 ? device.device(c.navi1) : WString(),
                *c.navi2 ? device.device(c.navi2) : WString());
    int before = tts_stand_in_spoken(NULL, 0);
    EXPECT_EQ(nav_launch(&kRecord), 0);
    WCHAR last[32];
    EXPECT_EQ(tts_stand_in_spoken(last, 32), before + 1);
    EXPECT_EQ(utf8(last), "请插入地图卡");
    EXPECT_FALSE(device.exists("sdmmc/Navi/zrnc.dest"));
    EXPECT_FALSE(device.exists("sdmmc/Other/zrnc.dest"));
  }
}

TEST_F(HandoffTest, LogHasOneLinePerHandoffFromLevelThree) {
  device.write("sdmmc/Navi/Navi.exe", "marker");
  const std::string message_line = record_gbk() + "\r\n";
  const std::string file_line = record_gbk() + "\tzrnc.dest\r\n";
  struct Case {
    int level;
    std::string log;
  } cases[] = {
      {0, ""},
      {2, ""},
      {3, message_line + file_line},
      {4, message_line + file_line},
  };
  WString program = device.device("sdmmc/Navi/Navi.exe");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    std::filesystem::remove(device.host("sdmmc/dest.txt"));
    debug_level = c.level;
    {
      NaviWindow navi(NAV_WINDOW_TITLE);
      ASSERT_TRUE(navi.window());
      nav_handoff(&kRecord, navi.window(), program.c_str());
      EXPECT_EQ(navi.received().size(), 1u);
    }
    nav_handoff(&kRecord, NULL, program.c_str());
    EXPECT_EQ(device.read("sdmmc/dest.txt"), c.log);
    EXPECT_EQ(device.exists("sdmmc/dest.txt"), !c.log.empty());
  }
}

TEST_F(HandoffTest, FileLogLineIsWrittenEvenWhenTheFileCannotBe) {
  debug_level = 3;
  /* A folder where the file would go: it cannot be opened for writing. */
  std::filesystem::create_directories(device.host("sdmmc/Navi/zrnc.dest"));
  nav_handoff_file(&kRecord, device.device("sdmmc/Navi/Navi.exe").c_str());
  EXPECT_TRUE(std::filesystem::is_directory(device.host("sdmmc/Navi/zrnc.dest")));
  EXPECT_EQ(device.read("sdmmc/dest.txt"), record_gbk() + "\tzrnc.dest\r\n");
}

TEST_F(HandoffTest, StartThreadRunsTheLaunchWithoutRecord) {
  NaviWindow navi(NAV_WINDOW_TITLE);
  ASSERT_TRUE(navi.window());
  NaviWindow other(TEXT("Other"));
  front_other(other);
  ASSERT_EQ(nav_start_async(), 0);
  EXPECT_TRUE(becomes_foreground(navi.window()));
  EXPECT_TRUE(navi.received().empty());
}

}  // namespace
