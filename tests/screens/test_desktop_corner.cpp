/* The desktop's corner exit with a skin of its own that puts a launch button
 * into the 30 x 30 corner: taps that complete a click on the button are no
 * corner taps. Host-only: the device's programs are stand-ins. */
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "../vx_resource_skin/skin_fixture.h"
#include "nav_stack.h"
#include "pages.h"
#include "plat/host.h"
#include "shell_globals.h"
#include "vx_skin.h"

namespace {

std::atomic<int> ebook_starts{0};
std::atomic<int> explorer_starts{0};

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_ERASEBKGND) return 1;
  return DefWindowProcW(window, message, wparam, lparam);
}

void tap(int x, int y) {
  vx_page_lbutton_down(page_manager, x, y);
  vx_page_lbutton_up(page_manager, x, y);
}

bool destroy_posted() {
  MSG msg;
  return PeekMessageW(&msg, main_window, WM_DESTROY, WM_DESTROY, PM_REMOVE) != 0;
}

TEST(DesktopCorner, ClicksOnAButtonInTheCornerAreNoCornerTaps) {
  DeviceRoot root;
  std::vector<SkinRow> rows(2);
  rows[0].id = 200;
  rows[0].width = 800;
  rows[0].height = 480;
  rows[0].slot = 0;
  rows[1].id = 219; /* the e-book button, 60 x 60 in the corner */
  rows[1].width = 60;
  rows[1].height = 60;
  rows[1].slot = 1;
  ASSERT_TRUE(root.write("Velmar.res", skin_file(rows, {solid_bmp(800, 480, 0x203040), solid_bmp(120, 60, 0xC0C0C0)})));
  shell_skin = vx_skin_load(root.path("Velmar.res").c_str(), -1, 1);
  ASSERT_NE(shell_skin, nullptr);

  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = GetModuleHandleW(NULL);
  window_class.lpszClassName = TEXT("DesktopCornerTest");
  RegisterClassW(&window_class);
  main_window = CreateWindowExW(0, TEXT("DesktopCornerTest"), TEXT("DesktopCornerTest"), WS_POPUP | WS_VISIBLE,
                                0, 0, 800, 480, NULL, NULL, GetModuleHandleW(NULL), NULL);
  ASSERT_NE(main_window, nullptr);
  plat::register_program(u"\\Residentflash2\\EBook.exe", [](const std::u16string&) -> DWORD {
    ebook_starts++;
    return 0;
  });
  plat::register_program(u"\\windows\\explorer.exe", [](const std::u16string&) -> DWORD {
    explorer_starts++;
    return 0;
  });
  page_manager = vx_page_create(main_window, 8);
  ASSERT_EQ(pages_register_all(), 0);
  ASSERT_EQ(nav_home(), 0);

  /* Seven clicks in the corner: each starts the e-book, none counts. */
  for (int i = 0; i < 7; ++i) tap(5, 5);
  for (int i = 0; i < 100 && ebook_starts < 7; ++i) Sleep(10);
  EXPECT_EQ(ebook_starts, 7);
  EXPECT_EQ(explorer_starts, 0);
  EXPECT_FALSE(destroy_posted());

  vx_page_destroy(page_manager);
  page_manager = NULL;
  plat::unregister_programs();
  DestroyWindow(main_window);
  main_window = NULL;
  vx_skin_free(shell_skin);
  shell_skin = NULL;
}

}  // namespace
