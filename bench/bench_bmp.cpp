/* Decoding speed of the built-in BMP decoder beside stb_image, on two files
 * made here: an 800 x 480 24-bit picture and an 800 x 480 8-bit RLE8 picture
 * with the long runs of a skin's artwork. Throughput counts file bytes.
 * stb_image returns RGB triples (it expands palettes); the built-in decoder
 * keeps the device-independent layout (indices and a palette). */
#include <benchmark/benchmark.h>

#include <stdint.h>

#include <vector>

#include "vx_ximage.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

const int kWidth = 800;
const int kHeight = 480;

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

std::vector<uint8_t> bmp(int bits, uint32_t compression, const std::vector<uint8_t>& palette,
                         const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> out;
  const uint32_t offset = 14 + 40 + static_cast<uint32_t>(palette.size());
  put16(out, 0x4D42);
  put32(out, offset + static_cast<uint32_t>(pixels.size()));
  put32(out, 0);
  put32(out, offset);
  put32(out, 40);
  put32(out, kWidth);
  put32(out, kHeight);
  put16(out, 1);
  put16(out, static_cast<uint32_t>(bits));
  put32(out, compression);
  put32(out, static_cast<uint32_t>(pixels.size()));
  put32(out, 2835);
  put32(out, 2835);
  put32(out, static_cast<uint32_t>(palette.size() / 4));
  put32(out, 0);
  out.insert(out.end(), palette.begin(), palette.end());
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

/* A smooth 24-bit picture with some texture. */
const std::vector<uint8_t>& file24() {
  static const std::vector<uint8_t> file = [] {
    std::vector<uint8_t> pixels;
    const int stride = (kWidth * 24 + 31) / 32 * 4;
    pixels.reserve(static_cast<size_t>(stride) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        pixels.push_back(static_cast<uint8_t>(x * 255 / kWidth));
        pixels.push_back(static_cast<uint8_t>(y * 255 / kHeight));
        pixels.push_back(static_cast<uint8_t>((x * 7 + y * 13) & 0xFF));
      }
      while (pixels.size() % 4) pixels.push_back(0);
    }
    return bmp(24, 0, {}, pixels);
  }();
  return file;
}

/* An 8-bit picture of bands and buttons, RLE8-encoded: encoded runs for the
 * flat parts, absolute runs for a textured stripe in every row. */
const std::vector<uint8_t>& file_rle8() {
  static const std::vector<uint8_t> file = [] {
    std::vector<uint8_t> palette;
    for (int i = 0; i < 256; ++i) {
      palette.push_back(static_cast<uint8_t>(i));
      palette.push_back(static_cast<uint8_t>(255 - i));
      palette.push_back(static_cast<uint8_t>(i * 3));
      palette.push_back(0);
    }
    std::vector<uint8_t> data;
    for (int y = 0; y < kHeight; ++y) {
      int x = 0;
      int band = 0;
      while (x < kWidth) {
        if (band % 5 == 4) {
          /* 40 textured pixels as one absolute run. */
          int n = kWidth - x < 40 ? kWidth - x : 40;
          if (n >= 3) {
            data.push_back(0);
            data.push_back(static_cast<uint8_t>(n));
            for (int i = 0; i < n; ++i) data.push_back(static_cast<uint8_t>((x + i + y) & 0xFF));
            if (n & 1) data.push_back(0);
            x += n;
            band++;
            continue;
          }
        }
        int n = kWidth - x < 120 ? kWidth - x : 120;
        data.push_back(static_cast<uint8_t>(n));
        data.push_back(static_cast<uint8_t>((y / 16 + band) & 0xFF));
        x += n;
        band++;
      }
      data.push_back(0);
      data.push_back(y + 1 == kHeight ? 1 : 0);
    }
    return bmp(8, 1, palette, data);
  }();
  return file;
}

void decode_built_in(benchmark::State& state, const std::vector<uint8_t>& file) {
  VxImage* image = nullptr;
  if (!vx_ximage_new(&image, VX_XIMAGE_BMP)) {
    state.SkipWithError("no image object");
    return;
  }
  for (auto _ : state) {
    if (!vx_ximage_decode(image, file.data(), static_cast<LONG>(file.size()))) {
      state.SkipWithError(image->error);
      break;
    }
    benchmark::DoNotOptimize(image->pixels);
  }
  vx_ximage_release(image);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}

void decode_stb(benchmark::State& state, const std::vector<uint8_t>& file) {
  for (auto _ : state) {
    int w = 0, h = 0, n = 0;
    stbi_uc* pixels = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &n, 0);
    if (!pixels) {
      state.SkipWithError(stbi_failure_reason());
      break;
    }
    benchmark::DoNotOptimize(pixels);
    stbi_image_free(pixels);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}

void BM_Bmp24_Velmar(benchmark::State& state) { decode_built_in(state, file24()); }
void BM_Bmp24_Stb(benchmark::State& state) { decode_stb(state, file24()); }
void BM_Rle8_Velmar(benchmark::State& state) { decode_built_in(state, file_rle8()); }
void BM_Rle8_Stb(benchmark::State& state) { decode_stb(state, file_rle8()); }

}  // namespace

BENCHMARK(BM_Bmp24_Velmar);
BENCHMARK(BM_Bmp24_Stb);
BENCHMARK(BM_Rle8_Velmar);
BENCHMARK(BM_Rle8_Stb);

BENCHMARK_MAIN();
