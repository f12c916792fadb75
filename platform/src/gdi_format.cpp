/* The pixel formats: one static table of primitives each (read and write a
 * pixel, convert it to and from a colour, read, write and fill a row). The
 * drawing code calls only through these tables. */
#include <cstring>

#include "gdi_state.h"

namespace plat {
namespace gdi {

namespace {

/* ---- Shared helpers ---- */

/* An n-bit channel value widened to 8 bits by repeating its bits, so that the
 * largest value becomes 255. */
inline uint32_t widen(uint32_t v, int n) {
  if (n <= 0) return 0;
  if (n >= 8) return (v >> (n - 8)) & 0xFF;
  uint32_t out = 0;
  int filled = 0;
  while (filled < 8) {
    out = (out << n) | v;
    filled += n;
  }
  return (out >> (filled - 8)) & 0xFF;
}

/* An 8-bit channel value narrowed to n bits (or widened by repeating its bits). */
inline uint32_t narrow(uint32_t v, int n) {
  if (n <= 0) return 0;
  if (n <= 8) return v >> (8 - n);
  uint64_t out = 0;
  int filled = 0;
  while (filled < n) {
    out = (out << 8) | v;
    filled += 8;
  }
  return (uint32_t)((out >> (filled - n)) & ((1ull << n) - 1));
}

uint32_t indexed_to_rgb(const Surface& s, uint32_t raw) {
  return raw < (uint32_t)s.colors ? s.palette[raw] : 0;
}
uint32_t indexed_from_rgb(const Surface& s, uint32_t rgb) { return nearest_index(s, rgb); }

uint32_t fields_to_rgb(const Surface& s, uint32_t raw) {
  uint32_t r = widen((raw & s.mask[0]) >> s.shift[0], s.bits[0]);
  uint32_t g = widen((raw & s.mask[1]) >> s.shift[1], s.bits[1]);
  uint32_t b = widen((raw & s.mask[2]) >> s.shift[2], s.bits[2]);
  return (r << 16) | (g << 8) | b;
}
uint32_t fields_from_rgb(const Surface& s, uint32_t rgb) {
  return (narrow((rgb >> 16) & 0xFF, s.bits[0]) << s.shift[0]) |
         (narrow((rgb >> 8) & 0xFF, s.bits[1]) << s.shift[1]) |
         (narrow(rgb & 0xFF, s.bits[2]) << s.shift[2]);
}

uint32_t direct_to_rgb(const Surface&, uint32_t raw) { return raw & 0xFFFFFF; }
uint32_t direct_from_rgb(const Surface&, uint32_t rgb) { return rgb & 0xFFFFFF; }

/* Row operations made of the single-pixel ones, for formats without their own. */
template <uint32_t (*Get)(const Surface&, const uint8_t*, int)>
void generic_get_row(const Surface& s, const uint8_t* row, int x, int n, uint32_t* raw) {
  for (int i = 0; i < n; i++) raw[i] = Get(s, row, x + i);
}
template <void (*Put)(const Surface&, uint8_t*, int, uint32_t)>
void generic_put_row(const Surface& s, uint8_t* row, int x, int n, const uint32_t* raw) {
  for (int i = 0; i < n; i++) Put(s, row, x + i, raw[i]);
}
template <void (*Put)(const Surface&, uint8_t*, int, uint32_t)>
void generic_fill_row(const Surface& s, uint8_t* row, int x, int n, uint32_t raw) {
  for (int i = 0; i < n; i++) Put(s, row, x + i, raw);
}

/* ---- 1 bit: the leftmost pixel in the most significant bit ---- */
uint32_t get1(const Surface&, const uint8_t* row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
void put1(const Surface&, uint8_t* row, int x, uint32_t raw) {
  uint8_t bit = (uint8_t)(0x80 >> (x & 7));
  if (raw & 1)
    row[x >> 3] |= bit;
  else
    row[x >> 3] &= (uint8_t)~bit;
}
void get_row1(const Surface& s, const uint8_t* row, int x, int n, uint32_t* raw) {
  int i = 0;
  for (; i < n && ((x + i) & 7); i++) raw[i] = get1(s, row, x + i);
  const uint8_t* p = row + ((x + i) >> 3);
  for (; i + 8 <= n; i += 8, p++) {
    uint32_t b = *p;
    for (int k = 0; k < 8; k++) raw[i + k] = (b >> (7 - k)) & 1;
  }
  for (; i < n; i++) raw[i] = get1(s, row, x + i);
}
void fill_row1(const Surface& s, uint8_t* row, int x, int n, uint32_t raw) {
  while (n > 0 && (x & 7)) {
    put1(s, row, x++, raw);
    n--;
  }
  if (n >= 8) {
    memset(row + (x >> 3), (raw & 1) ? 0xFF : 0, (size_t)(n >> 3));
    x += n & ~7;
    n &= 7;
  }
  while (n-- > 0) put1(s, row, x++, raw);
}

/* ---- 4 bits: the leftmost pixel in the high nibble ---- */
uint32_t get4(const Surface&, const uint8_t* row, int x) {
  uint8_t b = row[x >> 1];
  return (x & 1) ? (b & 0x0F) : (b >> 4);
}
void put4(const Surface&, uint8_t* row, int x, uint32_t raw) {
  uint8_t& b = row[x >> 1];
  if (x & 1)
    b = (uint8_t)((b & 0xF0) | (raw & 0x0F));
  else
    b = (uint8_t)((b & 0x0F) | ((raw & 0x0F) << 4));
}

/* ---- 8 bits ---- */
uint32_t get8(const Surface&, const uint8_t* row, int x) { return row[x]; }
void put8(const Surface&, uint8_t* row, int x, uint32_t raw) { row[x] = (uint8_t)raw; }
void get_row8(const Surface&, const uint8_t* row, int x, int n, uint32_t* raw) {
  for (int i = 0; i < n; i++) raw[i] = row[x + i];
}
void put_row8(const Surface&, uint8_t* row, int x, int n, const uint32_t* raw) {
  for (int i = 0; i < n; i++) row[x + i] = (uint8_t)raw[i];
}
void fill_row8(const Surface&, uint8_t* row, int x, int n, uint32_t raw) {
  memset(row + x, (int)(raw & 0xFF), (size_t)n);
}

/* ---- 16 bits, little-endian words ---- */
uint32_t get16(const Surface&, const uint8_t* row, int x) {
  uint16_t v;
  memcpy(&v, row + 2 * x, 2);
  return v;
}
void put16(const Surface&, uint8_t* row, int x, uint32_t raw) {
  uint16_t v = (uint16_t)raw;
  memcpy(row + 2 * x, &v, 2);
}
void get_row16(const Surface&, const uint8_t* row, int x, int n, uint32_t* raw) {
  const uint8_t* p = row + 2 * x;
  for (int i = 0; i < n; i++, p += 2) raw[i] = (uint32_t)p[0] | ((uint32_t)p[1] << 8);
}
void put_row16(const Surface&, uint8_t* row, int x, int n, const uint32_t* raw) {
  uint8_t* p = row + 2 * x;
  for (int i = 0; i < n; i++, p += 2) {
    p[0] = (uint8_t)raw[i];
    p[1] = (uint8_t)(raw[i] >> 8);
  }
}
void fill_row16(const Surface&, uint8_t* row, int x, int n, uint32_t raw) {
  uint8_t* p = row + 2 * x;
  for (int i = 0; i < n; i++, p += 2) {
    p[0] = (uint8_t)raw;
    p[1] = (uint8_t)(raw >> 8);
  }
}

uint32_t rgb555_to_rgb(const Surface&, uint32_t raw) {
  uint32_t r = (raw >> 10) & 31, g = (raw >> 5) & 31, b = raw & 31;
  return (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) | ((b << 3) | (b >> 2));
}
uint32_t rgb555_from_rgb(const Surface&, uint32_t rgb) {
  return ((rgb >> 9) & 0x7C00) | ((rgb >> 6) & 0x03E0) | ((rgb >> 3) & 0x001F);
}
uint32_t rgb565_to_rgb(const Surface&, uint32_t raw) {
  uint32_t r = (raw >> 11) & 31, g = (raw >> 5) & 63, b = raw & 31;
  return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}
uint32_t rgb565_from_rgb(const Surface&, uint32_t rgb) {
  return ((rgb >> 8) & 0xF800) | ((rgb >> 5) & 0x07E0) | ((rgb >> 3) & 0x001F);
}

/* ---- 24 bits: blue, green, red ---- */
uint32_t get24(const Surface&, const uint8_t* row, int x) {
  const uint8_t* p = row + 3 * x;
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16);
}
void put24(const Surface&, uint8_t* row, int x, uint32_t raw) {
  uint8_t* p = row + 3 * x;
  p[0] = (uint8_t)raw;
  p[1] = (uint8_t)(raw >> 8);
  p[2] = (uint8_t)(raw >> 16);
}

/* ---- 32 bits ---- */
uint32_t get32(const Surface&, const uint8_t* row, int x) {
  uint32_t v;
  memcpy(&v, row + 4 * x, 4);
  return v;
}
void put32(const Surface&, uint8_t* row, int x, uint32_t raw) { memcpy(row + 4 * x, &raw, 4); }
void get_row32(const Surface&, const uint8_t* row, int x, int n, uint32_t* raw) {
  memcpy(raw, row + 4 * x, (size_t)n * 4);
}
void put_row32(const Surface&, uint8_t* row, int x, int n, const uint32_t* raw) {
  memcpy(row + 4 * x, raw, (size_t)n * 4);
}
void fill_row32(const Surface&, uint8_t* row, int x, int n, uint32_t raw) {
  uint8_t* p = row + 4 * x;
  for (int i = 0; i < n; i++, p += 4) memcpy(p, &raw, 4);
}

}  // namespace

const FormatOps format_indexed1 = {"1-bit indexed", 1, true, get1, put1, indexed_to_rgb,
                                   indexed_from_rgb, get_row1, generic_put_row<put1>,
                                   fill_row1};
const FormatOps format_indexed4 = {"4-bit indexed", 4, true, get4, put4, indexed_to_rgb,
                                   indexed_from_rgb, generic_get_row<get4>,
                                   generic_put_row<put4>, generic_fill_row<put4>};
const FormatOps format_indexed8 = {"8-bit indexed", 8, true, get8, put8, indexed_to_rgb,
                                   indexed_from_rgb, get_row8, put_row8, fill_row8};
const FormatOps format_rgb555 = {"16-bit 5-5-5", 16, false, get16, put16, rgb555_to_rgb,
                                 rgb555_from_rgb, get_row16, put_row16, fill_row16};
const FormatOps format_rgb565 = {"16-bit 5-6-5", 16, false, get16, put16, rgb565_to_rgb,
                                 rgb565_from_rgb, get_row16, put_row16, fill_row16};
const FormatOps format_bitfields16 = {"16-bit bit fields", 16, false, get16, put16,
                                      fields_to_rgb, fields_from_rgb, get_row16, put_row16,
                                      fill_row16};
const FormatOps format_rgb24 = {"24-bit", 24, false, get24, put24, direct_to_rgb,
                                direct_from_rgb, generic_get_row<get24>,
                                generic_put_row<put24>, generic_fill_row<put24>};
const FormatOps format_rgb32 = {"32-bit", 32, false, get32, put32, direct_to_rgb,
                                direct_from_rgb, get_row32, put_row32, fill_row32};
const FormatOps format_bitfields32 = {"32-bit bit fields", 32, false, get32, put32,
                                      fields_to_rgb, fields_from_rgb, get_row32, put_row32,
                                      fill_row32};

bool set_bitfields(Surface* s, uint32_t red, uint32_t green, uint32_t blue) {
  const uint32_t masks[3] = {red, green, blue};
  for (int c = 0; c < 3; c++) {
    uint32_t m = masks[c];
    if (!m) return false;
    int shift = __builtin_ctz(m);
    uint32_t run = m >> shift;
    if (run & (run + 1)) return false; /* not one run of ones */
    s->mask[c] = m;
    s->shift[c] = shift;
    s->bits[c] = __builtin_popcount(m);
  }
  if ((red & green) || (red & blue) || (green & blue)) return false;
  return true;
}

uint32_t nearest_index(const Surface& s, uint32_t rgb) {
  rgb &= 0xFFFFFF;
  uint32_t best = 0;
  long best_distance = -1;
  for (int i = 0; i < s.colors; i++) {
    uint32_t p = s.palette[i];
    if (p == rgb) return (uint32_t)i;
    long dr = (long)((p >> 16) & 0xFF) - (long)((rgb >> 16) & 0xFF);
    long dg = (long)((p >> 8) & 0xFF) - (long)((rgb >> 8) & 0xFF);
    long db = (long)(p & 0xFF) - (long)(rgb & 0xFF);
    long d = dr * dr + dg * dg + db * db;
    if (best_distance < 0 || d < best_distance) {
      best_distance = d;
      best = (uint32_t)i;
    }
  }
  return best;
}

}  // namespace gdi
}  // namespace plat
