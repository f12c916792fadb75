/* The shell's creation and shutdown: a whole create/destroy cycle leaves
 * nothing allocated and ends the loop with 0, the first page is the desktop
 * with an empty stack, the configuration values are read; a missing resource
 * file refuses the window with its message box and exit code 16; the
 * start-up thread follows the registry flags, starting and hiding the
 * Bluetooth program. */
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bt_bridge.h"
#include "pages.h"
#include "shell_fixture.h"
#include "shell_init.h"
#include "tts.h"
#include "tts_stand_in.h"

#ifndef _WIN32
#include <atomic>

#include "../platform/event_recorder.h"
#endif

namespace {

using shell_test::pump;
using shell_test::wstring;

/* Missing is -1: the value is deleted. */
void set_flag(const WCHAR* name, int value) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, SHELL_GPSNAVI_KEY, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  if (value < 0) {
    RegDeleteValueW(key, name);
  } else {
    DWORD data = (DWORD)value;
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE*)&data, sizeof data), ERROR_SUCCESS);
  }
  RegCloseKey(key);
}

void remove_flags_key() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SHELL_GPSNAVI_KEY, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RegDeleteValueW(key, TEXT("UseFM"));
    RegDeleteValueW(key, TEXT("BlueToothAutoRun"));
    RegCloseKey(key);
  }
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, SHELL_GPSNAVI_KEY);
}

LRESULT CALLBACK plain_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(window, message, wparam, lparam);
}

/* The window shows the desktop's background picture (item 200, the whole
 * screen) where no button, indicator or text lies. */
void expect_desktop_background(HWND window) {
  VxSkinItem* item = vx_skin_find(shell_skin, 200);
  ASSERT_NE(item, nullptr);
  HBITMAP picture = vx_skin_get_bitmap(shell_skin, item, 0);
  ASSERT_NE(picture, nullptr);
  HDC window_dc = GetDC(window);
  HDC memory = CreateCompatibleDC(window_dc);
  HGDIOBJ old = SelectObject(memory, picture);
  const POINT points[] = {{300, 187}, {700, 465}, {5, 5}};
  for (const POINT& p : points) {
    COLORREF expected = GetPixel(memory, p.x, p.y);
    EXPECT_NE(expected, RGB(0, 0, 0)) << "a point that tells the picture from an empty screen";
    EXPECT_EQ(GetPixel(window_dc, p.x, p.y), expected) << p.x << "," << p.y;
  }
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(window, window_dc);
  vx_skin_put_bitmap(shell_skin, item);
}

class ShellInit : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device_.open("shell-init"));
    ASSERT_TRUE(device_.write(TEXT("config.ini"), shell_test::default_config()));
    shell_test::reset_shell_state();
    shell_test::open_screen();
    remove_flags_key();
  }
  void TearDown() override {
    if (tts_handle) tts_uninit(tts_handle);
    tts_handle = 0;
    remove_flags_key();
    pump();
    UnregisterClassW(MAIN_WINDOW_CLASS, GetModuleHandleW(nullptr));
#ifndef _WIN32
    plat::unregister_programs();
#endif
    device_.close();
  }
  shell_test::ShellDevice device_;
};

TEST_F(ShellInit, CreateAndDestroyLeaveNothingBehind) {
  struct Skin {
    const char* name;
    std::string bytes;
  };
  const Skin skins[] = {{"made here", shell_test::empty_skin()}, {"default", shell_test::default_skin()}};
  for (const Skin& skin : skins) {
    SCOPED_TRACE(skin.name);
    if (skin.bytes.empty()) {
#ifndef _WIN32
      ADD_FAILURE() << "the default skin is not built (target default_skin)";
#else
      printf("the default skin is a build product of the host build: left out here\n");
#endif
      continue;
    }
    shell_test::reset_shell_state();
    ASSERT_TRUE(device_.write(TEXT("Velmar.res"), skin.bytes));
    ASSERT_TRUE(device_.write(TEXT("tts\\Resource.dat"), "engine"));
    ASSERT_TRUE(device_.write(BT_INFO_FILE, "12"));
    ASSERT_TRUE(device_.write(TEXT("sdmmc\\debug.lev"), "4"));
    for (int& entry : nav_stack.entries) entry = 7;
    nav_stack.top = 9;
    const int blocks = shell_test::live_blocks();

    HWND window = create_main_window(GetModuleHandleW(nullptr));
    ASSERT_NE(window, nullptr);
    /* Shown with the desktop current and an empty stack. */
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(main_window, window);
    EXPECT_NE(shell_skin, nullptr);
    EXPECT_EQ(vx_page_current_id(page_manager), PAGE_DESKTOP);
    EXPECT_EQ(nav_stack.top, 0);
    for (int entry : nav_stack.entries) ASSERT_EQ(entry, 0);
    /* Every page is registered. */
    for (int id = 0; id < PAGE_COUNT; id++) {
      EXPECT_EQ(nav_push(id, 0), 0) << "page " << id;
      EXPECT_EQ(vx_page_current_id(page_manager), id);
    }
    nav_home();
    if (skin.bytes != shell_test::empty_skin()) expect_desktop_background(window);
    /* All seven characters of the ID. */
    EXPECT_TRUE(wstring(device_id) == TEXT("ABC1234"));
    EXPECT_EQ(bt_info_present, 1);
    EXPECT_EQ(debug_level, 4);
    /* The clock timer runs: it can be stopped once (and is started again). */
    EXPECT_TRUE(KillTimer(window, SHELL_CLOCK_TIMER_ID));
    SetTimer(window, SHELL_CLOCK_TIMER_ID, SHELL_CLOCK_TIMER_MS, nullptr);

    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_EQ(pump(), 0);
    EXPECT_EQ(page_manager, nullptr);
    EXPECT_EQ(shell_skin, nullptr);
    /* The start-up thread had started the engine; shutdown released it. */
    EXPECT_EQ(tts_handle, (HANDLE)0);
    EXPECT_FALSE(KillTimer(window, SHELL_CLOCK_TIMER_ID));
    EXPECT_EQ(shell_test::live_blocks(), blocks);
    UnregisterClassW(MAIN_WINDOW_CLASS, GetModuleHandleW(nullptr));
  }
}

/* The desktop's corner gesture posts WM_DESTROY without destroying the
 * window: the shutdown runs then, and again harmlessly when the window itself
 * is destroyed later. */
TEST_F(ShellInit, PostedDestroyThenTheWindowsOwnEnd) {
  ASSERT_TRUE(device_.write(TEXT("Velmar.res"), shell_test::empty_skin()));
  const int blocks = shell_test::live_blocks();
  HWND window = create_main_window(GetModuleHandleW(nullptr));
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(PostMessageW(window, WM_DESTROY, 0, 0));
  EXPECT_EQ(pump(), 0);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(page_manager, nullptr);
  EXPECT_EQ(shell_skin, nullptr);
  EXPECT_EQ(shell_test::live_blocks(), blocks);
  /* Messages that reach the window afterwards find no page manager. */
  EXPECT_EQ(SendMessageW(window, WM_LBUTTONDOWN, 0, MAKELPARAM(5, 5)), 0);
  EXPECT_EQ(SendMessageW(window, WM_BT_CALL_ENDED, 0, 0), 0);
  EXPECT_EQ(SendMessageW(window, WM_ERASEBKGND, 0, 0), 0);
  ASSERT_TRUE(DestroyWindow(window));
  EXPECT_EQ(pump(), 0);
  EXPECT_EQ(shell_test::live_blocks(), blocks);
}

TEST_F(ShellInit, StartupThreadFollowsTheRegistryFlags) {
  const int missing = -1;
  const struct {
    const char* name;
    bool key;
    int use_fm, autorun;
    int fm_before, started_before;
    int fm, started;
    bool hidden;
  } cases[] = {
      /* without the key both flags keep their values */
      {"no key", false, missing, missing, 1, 0, 1, 0, false},
      {"FM on", true, 1, missing, 0, 0, 1, 0, false},
      {"FM 0, autorun missing", true, 0, missing, 1, 0, 0, 0, false},
      {"FM missing", true, missing, 0, 1, 0, 0, 0, false},
      {"autorun", true, missing, 1, 0, 0, 0, 1, true},
      {"FM any non-zero, autorun 0", true, 7, 0, 0, 0, 1, 0, false},
      {"autorun non-zero and FM", true, 1, 3, 0, 0, 1, 1, true},
      /* started earlier by the desktop's button: hidden, not started again */
      {"started before, no key", false, missing, missing, 0, 1, 0, 1, true},
  };
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = plain_proc;
  window_class.hInstance = instance;
  window_class.lpszClassName = TEXT("PhoneStandIn");
  RegisterClassW(&window_class);
#ifndef _WIN32
  std::atomic<int> launches{0};
  plat::register_program(u"\\residentflash2\\Bluetooth.exe", [&](const std::u16string&) -> DWORD {
    launches++;
    return 0;
  });
#endif
#ifndef _WIN32
  const bool program_starts = true;
#else
  const bool program_starts = GetFileAttributesW(SHELL_BLUETOOTH_PROGRAM) != INVALID_FILE_ATTRIBUTES;
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    remove_flags_key();
    if (c.key) {
      set_flag(TEXT("UseFM"), c.use_fm);
      set_flag(TEXT("BlueToothAutoRun"), c.autorun);
    }
    fm_enabled = c.fm_before;
    bt_started_by_shell = c.started_before;
    /* The phone program's window, as it shows itself once running. */
    HWND phone = CreateWindowExW(0, TEXT("PhoneStandIn"), BT_WINDOW_TITLE, WS_POPUP, 0, 0, 10, 10,
                                 nullptr, nullptr, instance, nullptr);
    ASSERT_NE(phone, nullptr);
    ShowWindow(phone, SW_SHOW);
#ifndef _WIN32
    launches = 0;
#endif
    EXPECT_EQ(shell_startup_thread(nullptr), 0u);
    EXPECT_EQ(fm_enabled, c.fm);
    /* The table's flag assumes the program starts; where it cannot (no program
     * file under Wine) the flag keeps its value and nothing is hidden. */
    int started = program_starts ? c.started : c.started_before;
    EXPECT_EQ(bt_started_by_shell, started);
    EXPECT_EQ(!IsWindowVisible(phone), program_starts ? c.hidden : started != 0);
#ifndef _WIN32
    for (int i = 0; i < 100 && launches.load() < (c.started - c.started_before); i++) Sleep(10);
    EXPECT_EQ(launches.load(), c.started - c.started_before);
#endif
    DestroyWindow(phone);
    if (tts_handle) tts_uninit(tts_handle);
    tts_handle = 0;
  }
  UnregisterClassW(TEXT("PhoneStandIn"), instance);
}

#ifndef _WIN32
/* With no Bluetooth program to start, the shell does not count it as started. */
TEST_F(ShellInit, BluetoothProgramThatCannotStartIsNotCountedAsStarted) {
  plat::unregister_programs();
  remove_flags_key();
  set_flag(TEXT("BlueToothAutoRun"), 1);
  bt_started_by_shell = 0;
  EXPECT_EQ(shell_startup_thread(nullptr), 0u);
  EXPECT_EQ(bt_started_by_shell, 0);
  remove_flags_key();
  if (tts_handle) tts_uninit(tts_handle);
  tts_handle = 0;
}
#endif

/* A start-up thread that blocks (here in the TTS engine's start, through the
 * stand-in's hold) does not keep the shell from ending: shutdown waits its
 * 3 s of device time, then goes on without releasing the engine. */
TEST_F(ShellInit, BlockedStartupThreadDoesNotKeepTheShellFromEnding) {
  ASSERT_TRUE(device_.write(TEXT("Velmar.res"), shell_test::empty_skin()));
  ASSERT_TRUE(device_.write(TEXT("tts\\Resource.dat"), "engine"));
  HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  tts_stand_in_hold_init(gate);
  HWND window = create_main_window(GetModuleHandleW(nullptr));
  ASSERT_NE(window, nullptr);
  const DWORD start = GetTickCount();
  ASSERT_TRUE(DestroyWindow(window));
  EXPECT_EQ(pump(), 0) << "the loop ends";
  EXPECT_GE(GetTickCount() - start, (DWORD)SHELL_STARTUP_WAIT_MS - 20) << "after the whole wait";
  EXPECT_EQ(tts_handle, (HANDLE)0);
  /* The engine starts late, and is left to the end of the program. */
  SetEvent(gate);
  for (int i = 0; i < 500 && !tts_handle; i++) Sleep(10);
  EXPECT_NE(tts_handle, (HANDLE)0);
  tts_stand_in_hold_init(nullptr);
  CloseHandle(gate);
}

TEST_F(ShellInit, StartupThreadStartsTheTtsEngineFromTheProgramFolder) {
  EXPECT_EQ(shell_startup_thread(nullptr), 0u);
  EXPECT_EQ(tts_handle, (HANDLE)0) << "no data file";
  ASSERT_TRUE(device_.write(TEXT("tts\\Resource.dat"), "engine"));
  EXPECT_EQ(shell_startup_thread(nullptr), 0u);
  EXPECT_NE(tts_handle, (HANDLE)0);
}

#ifndef _WIN32
/* The host shows no box: MessageBoxW writes its event and answers OK at
 * once (on Windows the box would wait for a person). The entry's mutex is
 * held for the rest of this program, so this is its only call of wWinMain. */
TEST_F(ShellInit, MissingResourceFileRefusesTheWindowWithItsMessage) {
  recorder().take();
  const int blocks = shell_test::live_blocks();
  EXPECT_EQ(wWinMain(GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOWNORMAL), 16);
  std::vector<std::string> boxes;
  for (const std::string& line : recorder().take())
    if (line.find("\"ev\":\"messagebox\"") != std::string::npos) boxes.push_back(line);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("\"text\":\"LoadSkin failed\""), std::string::npos) << boxes[0];
  EXPECT_EQ(FindWindowW(MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE), nullptr);
  EXPECT_EQ(shell_skin, nullptr);
  EXPECT_EQ(page_manager, nullptr);
  EXPECT_EQ(shell_test::live_blocks(), blocks);
}
#endif

}  // namespace
