/* The GDI's hot paths on a full 800 x 480 screen: BitBlt with SRCCOPY,
 * SRCAND and 0x220326 (from a colour source, and from a monochrome mask as
 * shaped buttons do), a StretchBlt, and one line of Chinese text. Each
 * reports `vs_memcpy`: its time over the time memcpy takes for the same
 * number of pixel bytes, measured in the same run (both as the thread's CPU
 * time, which a busy machine disturbs less than the wall clock). */
#include <benchmark/benchmark.h>

#include <algorithm>
#include <time.h>

#include <cstring>
#include <map>
#include <vector>

#include <windows.h>

namespace {

const int screen_w = 800, screen_h = 480;

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

/* The mean time of memcpy over `bytes`, in seconds (measured once per size). */
double memcpy_seconds(size_t bytes) {
  static std::map<size_t, double> cache;
  auto found = cache.find(bytes);
  if (found != cache.end()) return found->second;
  std::vector<uint8_t> a(bytes, 1), b(bytes, 2);
  const int repeats = std::max<int>(50, (int)(200000000 / std::max<size_t>(bytes, 1)));
  memcpy(b.data(), a.data(), bytes); /* warm up */
  double start = cpu_seconds();
  for (int i = 0; i < repeats; i++) {
    memcpy(b.data(), a.data(), bytes);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  double mean = (cpu_seconds() - start) / repeats;
  cache[bytes] = mean;
  return mean;
}

/* Runs `body` as the benchmark's loop and adds the memcpy ratio. */
template <class Body>
void timed(benchmark::State& state, size_t bytes, Body body) {
  double reference = memcpy_seconds(bytes);
  double start = cpu_seconds();
  for (auto _ : state) body();
  double seconds = cpu_seconds() - start;
  double per_iteration = seconds / (double)std::max<benchmark::IterationCount>(1, state.iterations());
  state.counters["vs_memcpy"] = per_iteration / reference;
  state.SetBytesProcessed((int64_t)(bytes * state.iterations()));
}

struct Dib {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
  Dib(int w, int h, int bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = (WORD)bits;
    info.bmiColors[0] = RGBQUAD{0, 0, 0, 0};
    void* p = nullptr;
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &p, nullptr, 0);
    for (size_t i = 0; i < (size_t)w * h * bits / 8; i++) ((uint8_t*)p)[i] = (uint8_t)(i * 7);
    dc = CreateCompatibleDC(nullptr);
    old = SelectObject(dc, bitmap);
  }
  ~Dib() {
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
};

/* A full-screen transfer from a 32-bit source onto the screen's DC. */
void BM_BitBltFullScreen(benchmark::State& state) {
  DWORD rop = (DWORD)state.range(0);
  Dib source(screen_w, screen_h, 32);
  HDC screen = GetDC(nullptr);
  timed(state, (size_t)screen_w * screen_h * 4,
        [&] { BitBlt(screen, 0, 0, screen_w, screen_h, source.dc, 0, 0, rop); });
  ReleaseDC(nullptr, screen);
}
BENCHMARK(BM_BitBltFullScreen)->Arg(SRCCOPY)->Arg(SRCAND)->Arg(0x220326)->ArgName("rop");

/* A full-screen monochrome mask onto the screen (the shaped buttons' 0x220326 and SRCAND). */
void BM_BitBltMaskFullScreen(benchmark::State& state) {
  DWORD rop = (DWORD)state.range(0);
  HDC mask = CreateCompatibleDC(nullptr);
  HBITMAP bits = CreateBitmap(screen_w, screen_h, 1, 1, nullptr);
  HGDIOBJ old = SelectObject(mask, bits);
  PatBlt(mask, 0, 0, screen_w / 2, screen_h, WHITENESS);
  HDC screen = GetDC(nullptr);
  SetTextColor(screen, RGB(0, 0, 0));
  timed(state, (size_t)screen_w * screen_h * 4,
        [&] { BitBlt(screen, 0, 0, screen_w, screen_h, mask, 0, 0, rop); });
  ReleaseDC(nullptr, screen);
  SelectObject(mask, old);
  DeleteObject(bits);
  DeleteDC(mask);
}
BENCHMARK(BM_BitBltMaskFullScreen)->Arg(SRCAND)->Arg(0x220326)->ArgName("rop");

/* A 400 x 240 picture stretched over the screen. */
void BM_StretchBltFullScreen(benchmark::State& state) {
  Dib source(screen_w / 2, screen_h / 2, 32);
  HDC screen = GetDC(nullptr);
  timed(state, (size_t)screen_w * screen_h * 4, [&] {
    StretchBlt(screen, 0, 0, screen_w, screen_h, source.dc, 0, 0, screen_w / 2, screen_h / 2,
               SRCCOPY);
  });
  ReleaseDC(nullptr, screen);
}
BENCHMARK(BM_StretchBltFullScreen);

/* One line of page text (weight 600, height 30) across the screen's width. */
void BM_DrawTextLine(benchmark::State& state) {
  Dib canvas(screen_w, screen_h, 32);
  LOGFONTW lf{};
  lf.lfHeight = 30;
  lf.lfWeight = 600;
  lf.lfQuality = CLEARTYPE_QUALITY;
  memcpy(lf.lfFaceName, TEXT("默认"), sizeof(TEXT("默认")));
  HFONT font = CreateFontIndirectW(&lf);
  HGDIOBJ old = SelectObject(canvas.dc, font);
  SetBkMode(canvas.dc, TRANSPARENT);
  SetTextColor(canvas.dc, RGB(255, 255, 255));
  RECT line{0, 100, screen_w, 140};
  const WCHAR* text = TEXT("请插入地图卡  话务员设定地址  Velmar 2014-03-13 12:30");
  timed(state, (size_t)screen_w * 40 * 4, [&] {
    RECT r = line;
    DrawTextW(canvas.dc, text, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  });
  SelectObject(canvas.dc, old);
  DeleteObject(font);
}
BENCHMARK(BM_DrawTextLine);

/* The reference itself, for the absolute numbers. */
void BM_MemcpyFullScreen(benchmark::State& state) {
  size_t bytes = (size_t)screen_w * screen_h * 4;
  std::vector<uint8_t> a(bytes, 1), b(bytes, 2);
  timed(state, bytes, [&] {
    memcpy(b.data(), a.data(), bytes);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  });
}
BENCHMARK(BM_MemcpyFullScreen);

}  // namespace

BENCHMARK_MAIN();
