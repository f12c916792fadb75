/* Test helper: skin resource files and small BMP pictures made in the test,
 * and the program's folder in a fresh temporary folder (on the host, inside a
 * device root of its own). */
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../vx_common/res_writer.h"
#ifndef _WIN32
#include <unistd.h>

#include "plat/host.h"
#endif

typedef std::basic_string<WCHAR> WString;

/* One skin record. */
struct SkinRow {
  int32_t id = 0;
  int32_t kind = 0;
  int32_t reserved = 0;
  int32_t x = 0, y = 0, width = 0, height = 0;
  int32_t slot = -1;
  int32_t mask = 0;
  WString text;  /* empty: no blob */
  int32_t variant = -1;
  bool terminator = true;  /* the blob ends in a zero unit */
};

inline std::vector<uint8_t> utf16le_bytes(const WString& text, bool terminator) {
  std::vector<uint8_t> out;
  for (WCHAR c : text) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminator) out.insert(out.end(), {0, 0});
  return out;
}

/* The record table of the skin's schema and an item store of `images`. */
inline std::vector<uint8_t> skin_file(const std::vector<SkinRow>& rows,
                                      const std::vector<std::vector<uint8_t>>& images) {
  ResWriter w;
  w.header({3, 3, 6, 3, 3, 3, 3, 3, 3, 8, 3}, static_cast<int32_t>(rows.size()));
  for (const SkinRow& r : rows) {
    for (int32_t v : {r.id, r.kind, r.reserved, r.x, r.y, r.width, r.height, r.slot, r.mask})
      w.u32(static_cast<uint32_t>(v));
    w.sized(r.text.empty() ? std::vector<uint8_t>() : utf16le_bytes(r.text, r.terminator));
    w.u32(static_cast<uint32_t>(r.variant));
  }
  w.store(images);
  return w.bytes;
}

/* A 24-bit BMP file of width x height; colour(x, y) gives 0xRRGGBB with y = 0
 * the top row. */
inline std::vector<uint8_t> bmp24(int width, int height, const std::function<uint32_t(int, int)>& colour) {
  const int stride = (width * 3 + 3) / 4 * 4;
  std::vector<uint8_t> out;
  auto put16 = [&](uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  put16(0x4D42);
  put32(static_cast<uint32_t>(54 + stride * height));
  put32(0);
  put32(54);
  put32(40);
  put32(static_cast<uint32_t>(width));
  put32(static_cast<uint32_t>(height));
  put16(1);
  put16(24);
  put32(0);
  put32(static_cast<uint32_t>(stride * height));
  put32(2835);
  put32(2835);
  put32(0);
  put32(0);
  for (int row = height - 1; row >= 0; --row) {
    for (int x = 0; x < width; ++x) {
      uint32_t c = colour(x, row);
      out.push_back(static_cast<uint8_t>(c));
      out.push_back(static_cast<uint8_t>(c >> 8));
      out.push_back(static_cast<uint8_t>(c >> 16));
    }
    for (int pad = width * 3; pad < stride; ++pad) out.push_back(0);
  }
  return out;
}

inline std::vector<uint8_t> solid_bmp(int width, int height, uint32_t colour) {
  return bmp24(width, height, [colour](int, int) { return colour; });
}

/* The program's folder in a fresh temporary folder: on the host the program
 * is \residentflash2\Velmar\Velmar.exe in a device root of its own (the
 * previous root comes back at the end); on Windows the folder is a plain
 * temporary one. */
struct DeviceRoot {
  std::string host;    /* the temporary folder */
  std::string folder;  /* the program's folder in it */
#ifndef _WIN32
  std::string previous;
#endif

  DeviceRoot() {
    std::error_code ignored;
#ifndef _WIN32
    char dir[] = "/tmp/velmar-skin-XXXXXX";
    if (mkdtemp(dir)) host = dir;
    previous = plat::device_root();
    plat::set_device_root(host);
    plat::set_module_path(u"\\residentflash2\\Velmar\\Velmar.exe");
    folder = host + "/residentflash2/Velmar";
#else
    static std::atomic<int> serial{0};
    host = (std::filesystem::temp_directory_path() /
            ("velmar-skin-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial++)))
               .string();
    folder = host;
#endif
    std::filesystem::create_directories(folder, ignored);
  }
  ~DeviceRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(host, ignored);
#ifndef _WIN32
    plat::set_device_root(previous);
#endif
  }
  DeviceRoot(const DeviceRoot&) = delete;
  DeviceRoot& operator=(const DeviceRoot&) = delete;

  /* Writes a file of the program folder; false when that fails. */
  bool write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    FILE* f = fopen((folder + "/" + name).c_str(), "wb");
    if (!f) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
  }

  /* The path the system opens for a file of the program folder (ASCII names). */
  WString path(const std::string& name) const {
#ifndef _WIN32
    WString out = TEXT("\\residentflash2\\Velmar\\");
#else
    WString out;
    for (char c : folder) out += static_cast<WCHAR>(static_cast<unsigned char>(c));
    out += TEXT('\\');
#endif
    for (char c : name) out += static_cast<WCHAR>(c);
    return out;
  }
};
