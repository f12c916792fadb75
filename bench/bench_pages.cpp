/* Painting the desktop: one full 800 x 480 compose per frame, as the shell
 * does on every repaint (background, indicators, eleven buttons, the texts),
 * into a memory context and through the page's own off-screen copy of the
 * window. Beside it the floor of any full-screen frame: copying the screen's
 * bytes once with memcpy. Reads the Velmar.res that the build puts into the
 * device template beside build/bench. */
#include <windows.h>

#include <benchmark/benchmark.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "nav_stack.h"
#include "pages.h"
#include "plat/host.h"
#include "shell_globals.h"
#include "vx_skin.h"

namespace {

const int kWidth = 800;
const int kHeight = 480;

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_ERASEBKGND) return 1;
  return DefWindowProcW(window, message, wparam, lparam);
}

/* The desktop on a page manager of a window of screen size; false when the
 * template's skin is missing. */
bool open_desktop() {
  static bool ready = false;
  if (ready) return true;
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return false;
  std::string dir(exe, (size_t)n);
  dir = dir.substr(0, dir.rfind('/'));
  plat::set_device_root(dir + "/../device-template");
  shell_skin = vx_skin_load(TEXT("\\residentflash2\\Velmar\\Velmar.res"), 1, 1);
  if (!shell_skin) return false;
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = GetModuleHandleW(NULL);
  window_class.lpszClassName = TEXT("BenchPages");
  RegisterClassW(&window_class);
  screen_width = kWidth;
  screen_height = kHeight;
  main_window = CreateWindowExW(0, TEXT("BenchPages"), TEXT("BenchPages"), WS_POPUP | WS_VISIBLE, 0, 0,
                                kWidth, kHeight, NULL, NULL, GetModuleHandleW(NULL), NULL);
  page_manager = vx_page_create(main_window, 8);
  if (!main_window || !page_manager || pages_register_all() != 0 || nav_home() != 0) return false;
  lstrcpyW(device_id, TEXT("A12345"));
  lstrcpyW(clock_text, TEXT("2026-12-10 星期四 08:00"));
  ready = true;
  return true;
}

void BM_DesktopPaintIntoMemory(benchmark::State& state) {
  if (!open_desktop()) {
    state.SkipWithError("no Velmar.res in the device template");
    return;
  }
  HDC screen = GetDC(main_window);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
  HGDIOBJ old = SelectObject(memory, bitmap);
  for (auto _ : state) benchmark::DoNotOptimize(vx_page_paint(page_manager, memory));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(main_window, screen);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DesktopPaintIntoMemory)->Unit(benchmark::kMicrosecond);

/* Without a context the page copies the window into its own bitmap, draws and copies it back. */
void BM_DesktopPaintOffScreen(benchmark::State& state) {
  if (!open_desktop()) {
    state.SkipWithError("no Velmar.res in the device template");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(vx_page_paint(page_manager, NULL));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DesktopPaintOffScreen)->Unit(benchmark::kMicrosecond);

/* The baseline: one copy of a 32-bit 800 x 480 frame. */
void BM_ScreenMemcpy(benchmark::State& state) {
  std::vector<unsigned char> from((size_t)kWidth * kHeight * 4, 0x5A), to(from.size());
  for (auto _ : state) {
    memcpy(to.data(), from.data(), from.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)from.size());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScreenMemcpy)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
