/* Test helper: the pages on the real page manager, in a window of screen
 * size, with the built default skin as the program's skin and a config.ini
 * beside the program. A stand-in of the Bluetooth phone program (a window
 * titled "kvybluetooth") records the messages the pages send it. On the host
 * the program's folder lies in a device root of its own, and the device's
 * programs can be stand-ins that record their starts. */
#pragma once

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bt_bridge.h"
#include "gps_wiring.h"
#include "ini_reader.h"
#include "module_path.h"
#include "nav_stack.h"
#include "pages.h"
#include "shell_globals.h"
#include "vx_alloc.h"
#include "vx_skin.h"

#ifndef _WIN32
#include <stdlib.h>

#include <filesystem>
#include <mutex>

#include "../platform/event_recorder.h"
#include "gdi_internal.h"
#include "plat/host.h"
#endif

typedef std::basic_string<WCHAR> WString;

namespace pages_test {

/* What the phone stand-in received: message and wParam. */
typedef std::pair<UINT, WPARAM> PhoneMessage;
inline std::vector<PhoneMessage>& phone_messages() {
  static std::vector<PhoneMessage> messages;
  return messages;
}

inline LRESULT CALLBACK phone_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message >= WM_BT_DIAL && message <= WM_BT_ANSWER) {
    phone_messages().push_back(PhoneMessage(message, wparam));
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

inline LRESULT CALLBACK main_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_ERASEBKGND) return 1;
  return DefWindowProcW(window, message, wparam, lparam);
}

/* The default config.ini of the tests, written as ANSI text. */
inline WString default_config() {
  return TEXT("[CONFIG]\r\n")
         TEXT("ID=A12345\r\n")
         TEXT("CENTER_NUMBER=4008001234\r\n")
         TEXT("CENTER_NAME=Service Centre\r\n")
         TEXT("CENTER_DETAIL=Line one\\nLine two\r\n")
         TEXT("RECALL_NUMBER=02088886666\r\n")
         TEXT("RECALL_NAME=Recall desk\r\n")
         TEXT("RECALL_DETAIL=R1\\rR2\r\n")
         TEXT("NAVI1=\\sdmmc\\Navi\\Navi.exe\r\n")
         TEXT("ALARM=\\residentflash2\\Alarm.exe\r\n");
}

#ifndef _WIN32
/* Stand-in device programs: each start is recorded by its path. */
struct Starts {
  std::mutex lock;
  std::multiset<std::u16string> paths;
};
inline Starts& starts() {
  static Starts* s = new Starts;
  return *s;
}
#endif

/* A pixel of the skin picture of item `id` at (x, y) of the picture. */
inline COLORREF picture_pixel(int id, int x, int y) {
  VxSkinItem* item = vx_skin_find(shell_skin, id);
  HBITMAP bitmap = vx_skin_get_bitmap(shell_skin, item, 0);
  EXPECT_NE(bitmap, nullptr) << "item " << id;
  HDC dc = CreateCompatibleDC(NULL);
  HGDIOBJ old = SelectObject(dc, bitmap);
  COLORREF colour = GetPixel(dc, x, y);
  SelectObject(dc, old);
  DeleteDC(dc);
  vx_skin_put_bitmap(shell_skin, item);
  return colour;
}


class PagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#ifndef _WIN32
    char dir[] = "/tmp/velmar-pages-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_dir() = dir;
    plat::set_device_root(dir);
    plat::set_module_path(u"\\residentflash2\\Velmar\\Velmar.exe");
    std::filesystem::create_directories(root_dir() + "/residentflash2/Velmar");
    std::filesystem::create_directories(root_dir() + "/sdmmc/Navi");
    FILE* navi = fopen((root_dir() + "/sdmmc/Navi/Navi.exe").c_str(), "wb");
    if (navi) fclose(navi);
    plat::screen_open(800, 480, plat::ScreenBackendKind::headless);
    recorder();
#endif
    screen_width = GetSystemMetrics(SM_CXSCREEN);
    screen_height = GetSystemMetrics(SM_CYSCREEN);

    const std::string res = VELMAR_SKIN_FILE;
    WString res_path;
    for (char c : res) res_path += (WCHAR)(c == '/' ? '\\' : c);
#ifndef _WIN32
    /* The built skin, copied into the device's program folder. */
    std::filesystem::copy_file(res, root_dir() + "/residentflash2/Velmar/Velmar.res",
                               std::filesystem::copy_options::overwrite_existing);
    res_path = TEXT("\\residentflash2\\Velmar\\Velmar.res");
#endif
    shell_skin = vx_skin_load(res_path.c_str(), 1, 1);
#ifndef _WIN32
    ASSERT_NE(shell_skin, nullptr) << res;
#endif

    WNDCLASSW main_class = {};
    main_class.lpfnWndProc = main_procedure;
    main_class.hInstance = GetModuleHandleW(NULL);
    main_class.lpszClassName = TEXT("PagesTestMain");
    RegisterClassW(&main_class);
    main_window = CreateWindowExW(0, TEXT("PagesTestMain"), TEXT("PagesTest"), WS_POPUP | WS_VISIBLE, 0, 0,
                                  screen_width, screen_height, NULL, NULL, GetModuleHandleW(NULL), NULL);
    ASSERT_NE(main_window, nullptr);
    WNDCLASSW phone_class = {};
    phone_class.lpfnWndProc = phone_procedure;
    phone_class.hInstance = GetModuleHandleW(NULL);
    phone_class.lpszClassName = TEXT("PagesTestPhone");
    RegisterClassW(&phone_class);
  }

  static void TearDownTestSuite() {
    DestroyWindow(main_window);
    main_window = NULL;
    vx_skin_free(shell_skin);
    shell_skin = NULL;
    DeleteFileW(config_path().c_str());
#ifndef _WIN32
    plat::unregister_programs();
    std::error_code ignored;
    std::filesystem::remove_all(root_dir(), ignored);
    plat::set_device_root("");
#endif
  }

  void SetUp() override {
    /* The Windows build reads the host build's skin, which may not be there. */
    if (!shell_skin) GTEST_SKIP() << "no built skin at " << VELMAR_SKIN_FILE;
    memset(&call_info, 0, sizeof call_info);
    memset(&nav_stack, 0, sizeof nav_stack);
    bt_info_present = fm_enabled = bt_started_by_shell = 0;
    lstrcpyW(device_id, TEXT("A12345"));
    lstrcpyW(clock_text, TEXT("2026-12-10 星期四 08:00"));
    phone_messages().clear();
    write_config(default_config());
#ifndef _WIN32
    plat::unregister_programs();
    starts().paths.clear();
    recorder().take();
#endif
    blocks_before_ = live_blocks();
    page_manager = vx_page_create(main_window, 8);
    ASSERT_NE(page_manager, nullptr);
    ASSERT_EQ(pages_register_all(), 0);
    ASSERT_EQ(nav_home(), 0);
    ASSERT_EQ(vx_page_current_id(page_manager), PAGE_DESKTOP);
  }

  void TearDown() override {
    if (!shell_skin) return;
    vx_page_destroy(page_manager);
    page_manager = NULL;
    hide_phone();
    /* Drop what the pages posted (a repaint is generated while the window is
     * invalid, so validate first). */
    ValidateRect(main_window, NULL);
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageW(&msg, main_window, 0, 0, PM_REMOVE); ++i) {
    }
    /* Every page has been left: none holds a group, a button or a picture. */
    EXPECT_EQ(live_blocks(), blocks_before_);
    for (int slot = 0; slot < shell_skin->slot_count; ++slot) {
      EXPECT_EQ(shell_skin->ref_counts[slot], 0) << "image slot " << slot;
      EXPECT_EQ(shell_skin->bitmaps[slot], nullptr) << "image slot " << slot;
    }
  }

  static int live_blocks() {
    const PtrArray* records = vx_mem_records();
    return records ? ptr_array_count(const_cast<PtrArray*>(records)) : 0;
  }

  /* config.ini beside the program. */
  static WString config_path() {
    WCHAR path[MAX_PATH];
    EXPECT_EQ(module_file_path(path, MAX_PATH, NULL, TEXT("config.ini")), 0);
    return path;
  }
  static void write_config(const WString& text) {
    HANDLE file = CreateFileW(config_path().c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<char> bytes(text.size() * 2 + 1);
    const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), (int)text.size(), bytes.data(),
                                           (int)bytes.size(), NULL, NULL);
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)length, &written, NULL);
    CloseHandle(file);
  }
  static WString read_config(const WCHAR* key) {
    WCHAR value[80];
    ini_read_string(TEXT("CONFIG"), key, NULL, value, 80, config_path().c_str());
    return value;
  }

  /* The phone stand-in's window, made on demand. */
  void show_phone() {
    if (!phone_)
      phone_ = CreateWindowExW(0, TEXT("PagesTestPhone"), BT_WINDOW_TITLE, WS_POPUP, 0, 0, 10, 10, NULL, NULL,
                               GetModuleHandleW(NULL), NULL);
    ASSERT_NE(phone_, nullptr);
  }
  void hide_phone() {
    if (phone_) DestroyWindow(phone_);
    phone_ = NULL;
  }

  /* A click in the middle of the skin item of button `id`, through the page manager. */
  static void tap_button(int id) {
    VxSkinItem* item = vx_skin_find(shell_skin, id);
    ASSERT_NE(item, nullptr) << "button " << id;
    tap(item->x + item->width / 2, item->y + item->height / 2);
  }
  static void tap(int x, int y) {
    vx_page_lbutton_down(page_manager, x, y);
    vx_page_lbutton_up(page_manager, x, y);
  }

  /* The current page painted into a memory copy of the screen. */
  struct Frame {
    HDC dc = NULL;
    HBITMAP bitmap = NULL;
    HGDIOBJ old = NULL;
    Frame() {
      HDC screen = GetDC(NULL);
      dc = CreateCompatibleDC(screen);
      bitmap = CreateCompatibleBitmap(screen, screen_width, screen_height);
      old = SelectObject(dc, bitmap);
      RECT all = {0, 0, screen_width, screen_height};
      FillRect(dc, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
      ReleaseDC(NULL, screen);
      vx_page_paint(page_manager, dc);
    }
    ~Frame() {
      SelectObject(dc, old);
      DeleteObject(bitmap);
      DeleteDC(dc);
    }
    COLORREF pixel(int x, int y) const { return GetPixel(dc, x, y); }
    /* Whether the rectangle of item `id` holds the same pixels in both frames. */
    bool same_in_item(const Frame& other, int id) const {
      VxSkinItem* item = vx_skin_find(shell_skin, id);
      for (int y = item->y; y < item->y + item->height; y += 2)
        for (int x = item->x; x < item->x + item->width; x += 2)
          if (pixel(x, y) != other.pixel(x, y)) return false;
      return true;
    }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
  };

  /* Whether the main window has a repaint pending (and validates it). */
  static bool repaint_pending() {
    RECT rect;
    const bool pending = GetUpdateRect(main_window, &rect, FALSE) != 0;
    ValidateRect(main_window, NULL);
    return pending;
  }

#ifndef _WIN32
  static std::string& root_dir() {
    static std::string dir;
    return dir;
  }
  /* Registers recording stand-ins for these device programs. */
  static void stand_in_programs(const std::vector<std::u16string>& paths) {
    for (const std::u16string& path : paths)
      plat::register_program(path, [path](const std::u16string&) -> DWORD {
        std::lock_guard<std::mutex> guard(starts().lock);
        starts().paths.insert(path);
        return 0;
      });
  }
  /* Waits (up to 5 s) until the stand-in of `path` has started `count` times. */
  static bool started(const std::u16string& path, size_t count = 1) {
    for (int i = 0; i < 500; ++i) {
      {
        std::lock_guard<std::mutex> guard(starts().lock);
        if (starts().paths.count(path) >= count) return true;
      }
      Sleep(10);
    }
    return false;
  }
  static size_t start_count() {
    std::lock_guard<std::mutex> guard(starts().lock);
    return starts().paths.size();
  }
#endif

  int blocks_before_ = 0;
  HWND phone_ = NULL;
};

}  // namespace pages_test
