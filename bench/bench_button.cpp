/* Buttons: a page's worth of buttons (eleven, eight two-frame and three
 * shaped) drawn over an 800 x 480 background, and one pressed button redrawn
 * on a window through its off-screen copy; a memcpy of the screen's pixels
 * as the baseline. */
#include <windows.h>

#include <benchmark/benchmark.h>
#include <string.h>

#include <vector>

#include "vx_button.h"

namespace {

const int kWidth = 800, kHeight = 480;

HBITMAP make_image(int width, int height, int shaped) {
  BITMAPINFO info;
  memset(&info, 0, sizeof info);
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (!bitmap) return nullptr;
  uint32_t* bits = static_cast<uint32_t*>(pixels);
  const int frame = shaped ? width / 3 : width / 2;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int fx = x % frame, f = x / frame;
      const bool round = (fx - frame / 2) * (fx - frame / 2) + (y - height / 2) * (y - height / 2) <
                         (height / 2) * (height / 2);
      bits[y * width + x] = f == 2 ? (round ? 0xFFFFFF : 0) : (uint32_t)(0x204080 + f * 0x402000 + fx + y);
    }
  return bitmap;
}

struct Page {
  HWND window = nullptr;
  HBITMAP background = nullptr;
  std::vector<HBITMAP> images;
  ButtonGroup* group = nullptr;

  Page() {
    WNDCLASSW wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = TEXT("VxButtonBench");
    RegisterClassW(&wc);
    window = CreateWindowExW(0, TEXT("VxButtonBench"), TEXT("bench"), WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    background = make_image(kWidth, kHeight, 0);
    group = vx_button_group_create(window, VX_BUTTON_GROUP_PUSH);
    /* Two rows of four 160 x 120 two-frame buttons, three shaped 120 x 120. */
    for (int i = 0; i < 11; ++i) {
      const int shaped = i >= 8;
      const int w = shaped ? 120 : 160, h = 120;
      HBITMAP image = make_image(shaped ? 3 * w : 2 * w, h, shaped);
      images.push_back(image);
      const int x = shaped ? 40 + (i - 8) * 260 : 20 + (i % 4) * 195;
      const int y = shaped ? 340 : 20 + (i / 4) * 150;
      vx_button_add(group, 100 + i, x, y, w, h, image, shaped ? VX_BUTTON_SHAPED : VX_BUTTON_TWO_FRAMES);
    }
  }
  ~Page() {
    vx_button_group_destroy(group);
    for (HBITMAP image : images) DeleteObject(image);
    DeleteObject(background);
    DestroyWindow(window);
  }
};

void BM_DrawPageOfButtons(benchmark::State& state) {
  Page page;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP canvas = CreateCompatibleBitmap(screen, kWidth, kHeight);
  HGDIOBJ old = SelectObject(dc, canvas);
  for (auto _ : state) {
    vx_stretch_frame(dc, 0, 0, kWidth, kHeight, page.background, 0, 0, SRCCOPY, 0);
    vx_button_draw_all(page.group, dc);
  }
  SelectObject(dc, old);
  DeleteObject(canvas);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}
BENCHMARK(BM_DrawPageOfButtons)->Unit(benchmark::kMicrosecond);

void BM_PressedButtonRedraw(benchmark::State& state) {
  Page page;
  vx_button_draw_all(page.group, nullptr);
  if (vx_button_lbutton_down(page.group, 100, 400) != 108) {
    state.SkipWithError("the shaped button was not pressed");
    return;
  }
  for (auto _ : state) vx_button_redraw(page.group, 108);
}
BENCHMARK(BM_PressedButtonRedraw)->Unit(benchmark::kMicrosecond);

void BM_ScreenMemcpyBaseline(benchmark::State& state) {
  std::vector<uint32_t> from(kWidth * kHeight, 0x204080), to(kWidth * kHeight);
  for (auto _ : state) {
    memcpy(to.data(), from.data(), from.size() * sizeof from[0]);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ScreenMemcpyBaseline)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
