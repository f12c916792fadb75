/* Test helper: 32-bit top-down DIB sections whose pixels the test writes and
 * reads directly, as 0xRRGGBB values, optionally selected into a memory
 * context to draw on. */
#pragma once

#include <stdint.h>
#include <string.h>
#include <windows.h>

#include <functional>

struct Dib {
  HBITMAP bitmap = nullptr;
  uint32_t* bits = nullptr;
  int width = 0, height = 0;
  HDC dc = nullptr;
  HGDIOBJ old = nullptr;

  /* colour(x, y) gives each pixel's 0xRRGGBB. */
  Dib(int w, int h, const std::function<uint32_t(int, int)>& colour) : width(w), height(h) {
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    bits = static_cast<uint32_t*>(pixels);
    if (bits)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bits[y * w + x] = colour(x, y) & 0xFFFFFF;
  }
  Dib(int w, int h, uint32_t colour) : Dib(w, h, [colour](int, int) { return colour; }) {}
  ~Dib() {
    if (dc) {
      SelectObject(dc, old);
      DeleteDC(dc);
    }
    if (bitmap) DeleteObject(bitmap);
  }
  Dib(const Dib&) = delete;
  Dib& operator=(const Dib&) = delete;

  /* A memory context with the section selected: the canvas to draw on. */
  HDC context() {
    if (!dc) {
      dc = CreateCompatibleDC(nullptr);
      old = SelectObject(dc, bitmap);
    }
    return dc;
  }
  uint32_t at(int x, int y) const {
    GdiFlush();
    return bits[y * width + x] & 0xFFFFFF;
  }
  void fill(uint32_t colour) {
    GdiFlush();
    for (int i = 0; i < width * height; ++i) bits[i] = colour;
  }
};

/* 0xRRGGBB of a COLORREF (0x00BBGGRR). */
inline uint32_t rgb_of(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }
