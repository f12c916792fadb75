/* Block transfers: PatBlt's pattern operations, BitBlt and StretchBlt with
 * all 256 ternary raster operations.
 *
 * A transfer works on rows of raw destination pixels: the source row is
 * first converted into the destination's format (a palette or monochrome
 * source through a lookup table, others through their colours; monochrome
 * conversions with the DCs' colours as Win32 does), then one row kernel,
 * chosen from a table of 256 by the operation's index, combines pattern,
 * source and destination bit by bit. 32-bit destinations are combined in
 * place; a same-format SRCCOPY is a memmove of the row. */
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "gdi_state.h"
#include "plat/kernel.h"

namespace plat {
namespace gdi {

namespace {

/* ---- Row kernels ---- */

/* The operation's result for pattern, source and destination bits: bit
 * (p << 2 | s << 1 | d) of the index. The common operations are spelled
 * out; the rest are the sum of the index's minterms. */
template <unsigned R>
inline uint32_t rop3(uint32_t P, uint32_t S, uint32_t D) {
  if constexpr (R == 0x00) return 0;
  else if constexpr (R == 0xFF) return ~0u;
  else if constexpr (R == 0xCC) return S;
  else if constexpr (R == 0x33) return ~S;
  else if constexpr (R == 0xAA) return D;
  else if constexpr (R == 0x55) return ~D;
  else if constexpr (R == 0xF0) return P;
  else if constexpr (R == 0x0F) return ~P;
  else if constexpr (R == 0x88) return S & D;
  else if constexpr (R == 0xEE) return S | D;
  else if constexpr (R == 0x66) return S ^ D;
  else if constexpr (R == 0x22) return ~S & D;
  else if constexpr (R == 0x44) return S & ~D;
  else if constexpr (R == 0x11) return ~(S | D);
  else if constexpr (R == 0xBB) return ~S | D;
  else if constexpr (R == 0xC0) return P & S;
  else if constexpr (R == 0x5A) return P ^ D;
  else if constexpr (R == 0xFB) return P | ~S | D;
  else {
    uint32_t r = 0;
    if constexpr ((R & 0x01) != 0) r |= ~P & ~S & ~D;
    if constexpr ((R & 0x02) != 0) r |= ~P & ~S & D;
    if constexpr ((R & 0x04) != 0) r |= ~P & S & ~D;
    if constexpr ((R & 0x08) != 0) r |= ~P & S & D;
    if constexpr ((R & 0x10) != 0) r |= P & ~S & ~D;
    if constexpr ((R & 0x20) != 0) r |= P & ~S & D;
    if constexpr ((R & 0x40) != 0) r |= P & S & ~D;
    if constexpr ((R & 0x80) != 0) r |= P & S & D;
    return r;
  }
}

using RopRow = void (*)(uint32_t* d, const uint32_t* s, uint32_t p, int n);

template <unsigned R>
void rop_row(uint32_t* d, const uint32_t* s, uint32_t p, int n) {
  for (int i = 0; i < n; i++) d[i] = rop3<R>(p, s[i], d[i]);
}

/* For operations without a source. */
template <unsigned R>
void rop_row_no_source(uint32_t* d, const uint32_t*, uint32_t p, int n) {
  for (int i = 0; i < n; i++) d[i] = rop3<R>(p, 0, d[i]);
}

template <size_t... I>
constexpr std::array<RopRow, 256> make_rop_rows(std::index_sequence<I...>) {
  return {{&rop_row<I>...}};
}
template <size_t... I>
constexpr std::array<RopRow, 256> make_rop_rows_no_source(std::index_sequence<I...>) {
  return {{&rop_row_no_source<I>...}};
}

const std::array<RopRow, 256> rop_rows = make_rop_rows(std::make_index_sequence<256>{});
const std::array<RopRow, 256> rop_rows_no_source =
    make_rop_rows_no_source(std::make_index_sequence<256>{});

inline unsigned rop_index(DWORD rop) { return (rop >> 16) & 0xFF; }
inline bool uses_source(unsigned i) { return (((i >> 2) ^ i) & 0x33) != 0; }
inline bool uses_pattern(unsigned i) { return (((i >> 4) ^ i) & 0x0F) != 0; }
inline bool uses_destination(unsigned i) { return (((i >> 1) ^ i) & 0x55) != 0; }

/* ---- Source conversion into the destination's raw values ---- */

enum class Conversion { same, lut, colors, to_monochrome };

struct SourceConverter {
  Conversion mode = Conversion::same;
  const Surface* src = nullptr;
  const Surface* dst = nullptr;
  uint32_t lut[256] = {};
  uint32_t background = 0; /* to_monochrome: the source DC's background as the source shows it */

  SourceConverter(const Surface& source, const Dc& source_dc, const Surface& dest,
                  const Dc& dest_dc) {
    src = &source;
    dst = &dest;
    const FormatOps* s = source.ops;
    uint32_t src_bk = colorref_to_rgb(source_dc.bk_color);
    bool fields = s == &format_bitfields16 || s == &format_bitfields32;
    if (s == dest.ops && source.monochrome == dest.monochrome &&
        (!s->indexed || source.monochrome ||
         memcmp(source.palette, dest.palette, sizeof source.palette) == 0) &&
        (!fields || memcmp(source.mask, dest.mask, sizeof source.mask) == 0)) {
      mode = Conversion::same;
    } else if (s->indexed) {
      mode = Conversion::lut;
      int n = source.colors;
      if (source.monochrome) {
        /* 0 bits take the destination's text colour, 1 bits its background. */
        lut[0] = dest.ops->from_rgb(dest, colorref_to_rgb(dest_dc.text_color));
        lut[1] = dest.ops->from_rgb(dest, colorref_to_rgb(dest_dc.bk_color));
      } else if (dest.monochrome) {
        uint32_t bk = source.palette[nearest_index(source, src_bk)];
        for (int i = 0; i < n; i++) lut[i] = source.palette[i] == bk ? 1 : 0;
      } else {
        for (int i = 0; i < n; i++) lut[i] = dest.ops->from_rgb(dest, source.palette[i]);
      }
    } else if (dest.monochrome) {
      mode = Conversion::to_monochrome;
      background = s->to_rgb(source, s->from_rgb(source, src_bk));
    } else {
      mode = Conversion::colors;
    }
  }

  /* Source pixels [x, x + n) of a row as destination raw values. */
  void row(const uint8_t* src_row, int x, int n, uint32_t* out) const {
    src->ops->get_row(*src, src_row, x, n, out);
    switch (mode) {
      case Conversion::same: return;
      case Conversion::lut:
        for (int i = 0; i < n; i++) out[i] = lut[out[i] & 0xFF];
        return;
      case Conversion::to_monochrome:
        for (int i = 0; i < n; i++) out[i] = src->ops->to_rgb(*src, out[i]) == background ? 1 : 0;
        return;
      case Conversion::colors: {
        uint32_t last_in = 0, last_out = 0;
        bool have = false;
        for (int i = 0; i < n; i++) {
          uint32_t v = out[i];
          if (!have || v != last_in) {
            last_in = v;
            last_out = dst->ops->from_rgb(*dst, src->ops->to_rgb(*src, v));
            have = true;
          }
          out[i] = last_out;
        }
        return;
      }
    }
  }
};

/* Combines a row of destination pixels with converted source pixels. */
struct RowCombiner {
  const Surface& dst;
  unsigned index;
  RopRow kernel;
  uint32_t pattern;
  bool read_destination;
  std::vector<uint32_t> buffer;

  RowCombiner(const Surface& d, unsigned i, uint32_t p, bool with_source, int width)
      : dst(d),
        index(i),
        kernel(with_source ? rop_rows[i] : rop_rows_no_source[i]),
        pattern(p),
        read_destination(uses_destination(i)),
        buffer(dst.ops->bits == 32 ? 0 : (size_t)width) {}

  void apply(int x, int y, int n, const uint32_t* source) {
    uint8_t* row = dst.row(y);
    if (dst.ops->bits == 32) {
      kernel(reinterpret_cast<uint32_t*>(row + 4 * (size_t)x), source, pattern, n);
      return;
    }
    if (read_destination) dst.ops->get_row(dst, row, x, n, buffer.data());
    kernel(buffer.data(), source, pattern, n);
    dst.ops->put_row(dst, row, x, n, buffer.data());
  }
};

bool intersect(const RECT& a, const RECT& b, RECT* out) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.left >= r.right || r.top >= r.bottom) return false;
  *out = r;
  return true;
}

/* The pattern as a destination raw value; false when the brush draws nothing. */
bool pattern_raw(const Surface& dst, const Brush* brush, unsigned index, uint32_t* raw) {
  *raw = 0;
  if (!uses_pattern(index)) return true;
  if (!brush || brush->hollow) return false;
  *raw = dst.ops->from_rgb(dst, colorref_to_rgb(brush->color));
  return true;
}

/* One rectangle of a BitBlt: w x h pixels from (sx, sy) of the source to
 * (dx, dy) of the destination, both inside their surfaces. */
void blit_rect(const Surface& dst, const Surface& src, const SourceConverter& convert,
               RowCombiner& combine, unsigned index, int dx, int dy, int sx, int sy, int w,
               int h, std::vector<uint32_t>& source_row) {
  bool same_surface = dst.top == src.top;
  bool upward = same_surface && dy > sy; /* overlapping copy downward: go bottom-up */
  int bytes_per_pixel = dst.ops->bits / 8;
  bool copy_rows = index == 0xCC && convert.mode == Conversion::same && dst.ops->bits >= 8;
  bool direct_source = convert.mode == Conversion::same && src.ops->bits == 32 &&
                       !(same_surface && dy == sy);
  for (int k = 0; k < h; k++) {
    int row = upward ? h - 1 - k : k;
    const uint8_t* s_row = src.row(sy + row);
    if (copy_rows) {
      memmove(dst.row(dy + row) + (size_t)dx * bytes_per_pixel,
              s_row + (size_t)sx * bytes_per_pixel, (size_t)w * bytes_per_pixel);
      continue;
    }
    const uint32_t* s;
    if (direct_source) {
      s = reinterpret_cast<const uint32_t*>(s_row + 4 * (size_t)sx);
    } else {
      convert.row(s_row, sx, w, source_row.data());
      s = source_row.data();
    }
    combine.apply(dx, dy + row, w, s);
  }
}

}  // namespace

void pattern_blt_locked(Dc& dc, const RECT& device_rect, DWORD rop, const Brush* brush) {
  if (!dc.bitmap) return;
  const Surface& s = dc.bitmap->surface;
  unsigned index = rop_index(rop);
  uint32_t pattern;
  if (!pattern_raw(s, brush ? brush : dc.brush.get(), index, &pattern)) return;
  for (const RECT& clip : dc_clip_rects_locked(dc)) {
    RECT r;
    if (!intersect(device_rect, clip, &r)) continue;
    if (index == 0xF0) {
      fill_rect_raw(s, r, pattern);
    } else {
      RowCombiner combine(s, index, pattern, false, r.right - r.left);
      for (LONG y = r.top; y < r.bottom; y++)
        combine.apply(r.left, y, r.right - r.left, nullptr);
    }
    dc_touched_locked(dc, r);
  }
}

}  // namespace gdi
}  // namespace plat

using namespace plat;
using namespace plat::gdi;

BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int source_x,
                   int source_y, DWORD rop) {
  unsigned index = rop_index(rop);
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dst_dc = dc_locked(dest);
  if (!dst_dc || !dst_dc->bitmap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (width <= 0 || height <= 0) return TRUE;
  RECT target = device_rect(*dst_dc, x, y, (int64_t)x + width, (int64_t)y + height);
  if (!uses_source(index)) {
    pattern_blt_locked(*dst_dc, target, rop, nullptr);
    return TRUE;
  }
  Dc* src_dc = dc_locked(source);
  if (!src_dc || !src_dc->bitmap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const Surface& dst = dst_dc->bitmap->surface;
  const Surface& src = src_dc->bitmap->surface;
  uint32_t pattern;
  if (!pattern_raw(dst, dst_dc->brush.get(), index, &pattern)) return TRUE;
  /* Source offset from destination device coordinates to source device coordinates. */
  LONG off_x = clamp_coord((int64_t)source_x + src_dc->origin.x - ((int64_t)x + dst_dc->origin.x));
  LONG off_y = clamp_coord((int64_t)source_y + src_dc->origin.y - ((int64_t)y + dst_dc->origin.y));
  RECT src_bounds{0, 0, src.width, src.height};
  SourceConverter convert(src, *src_dc, dst, *dst_dc);
  std::vector<uint32_t> source_row((size_t)width);
  RowCombiner combine(dst, index, pattern, true, width);
  for (const RECT& clip : dc_clip_rects_locked(*dst_dc)) {
    RECT r;
    if (!intersect(target, clip, &r)) continue;
    RECT from{r.left + off_x, r.top + off_y, r.right + off_x, r.bottom + off_y};
    if (!intersect(from, src_bounds, &from)) continue;
    r = RECT{from.left - off_x, from.top - off_y, from.right - off_x, from.bottom - off_y};
    blit_rect(dst, src, convert, combine, index, r.left, r.top, from.left, from.top,
              r.right - r.left, r.bottom - r.top, source_row);
    dc_touched_locked(*dst_dc, r);
  }
  return TRUE;
}

BOOL WINAPI StretchBlt(HDC dest, int x, int y, int width, int height, HDC source, int source_x,
                       int source_y, int source_width, int source_height, DWORD rop) {
  if (width == source_width && height == source_height && width > 0 && height > 0)
    return BitBlt(dest, x, y, width, height, source, source_x, source_y, rop);
  unsigned index = rop_index(rop);
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dst_dc = dc_locked(dest);
  if (!dst_dc || !dst_dc->bitmap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (width == 0 || height == 0) return TRUE;
  /* A negative extent counts from its corner pixel backwards; opposite signs mirror. */
  bool mirror_x = (width < 0) != (source_width < 0);
  bool mirror_y = (height < 0) != (source_height < 0);
  auto span = [](int64_t start, int64_t extent, LONG* lo, LONG* hi) {
    if (extent < 0) {
      *lo = clamp_coord(start + extent + 1);
      *hi = clamp_coord(start + 1);
    } else {
      *lo = clamp_coord(start);
      *hi = clamp_coord(start + extent);
    }
  };
  RECT target;
  span((int64_t)x + dst_dc->origin.x, width, &target.left, &target.right);
  span((int64_t)y + dst_dc->origin.y, height, &target.top, &target.bottom);
  if (!uses_source(index)) {
    pattern_blt_locked(*dst_dc, target, rop, nullptr);
    return TRUE;
  }
  Dc* src_dc = dc_locked(source);
  if (!src_dc || !src_dc->bitmap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (source_width == 0 || source_height == 0) return TRUE;
  RECT from;
  span((int64_t)source_x + src_dc->origin.x, source_width, &from.left, &from.right);
  span((int64_t)source_y + src_dc->origin.y, source_height, &from.top, &from.bottom);
  const Surface& dst = dst_dc->bitmap->surface;
  const Surface& src = src_dc->bitmap->surface;
  uint32_t pattern;
  if (!pattern_raw(dst, dst_dc->brush.get(), index, &pattern)) return TRUE;
  LONG dw = target.right - target.left, dh = target.bottom - target.top;
  LONG sw = from.right - from.left, sh = from.bottom - from.top;
  /* The source pixel whose area holds the centre of destination pixel i. */
  auto map = [](LONG i, LONG d, LONG s, bool mirror) {
    LONG j = (LONG)(((2 * (int64_t)i + 1) * s) / (2 * (int64_t)d));
    return mirror ? s - 1 - j : j;
  };
  SourceConverter convert(src, *src_dc, dst, *dst_dc);
  for (const RECT& clip : dc_clip_rects_locked(*dst_dc)) {
    RECT r;
    if (!intersect(target, clip, &r)) continue;
    /* Source columns of the clipped destination; those outside the source are skipped. */
    std::vector<LONG> columns;
    LONG first = -1, last = -2;
    for (LONG dx = r.left; dx < r.right; dx++) {
      LONG sx = from.left + map(dx - target.left, dw, sw, mirror_x);
      columns.push_back(sx);
      if (sx >= 0 && sx < src.width) {
        if (first < 0) first = dx;
        last = dx;
      }
    }
    if (first < 0) continue;
    LONG lo = std::min(columns[first - r.left], columns[last - r.left]);
    LONG hi = std::max(columns[first - r.left], columns[last - r.left]);
    int n = (int)(last - first + 1);
    std::vector<uint32_t> span_row((size_t)(hi - lo + 1)), source_row((size_t)n);
    RowCombiner combine(dst, index, pattern, true, n);
    LONG cached_row = -1;
    RECT touched{first, r.bottom, last + 1, r.top};
    for (LONG dy = r.top; dy < r.bottom; dy++) {
      LONG sy = from.top + map(dy - target.top, dh, sh, mirror_y);
      if (sy < 0 || sy >= src.height) continue;
      if (sy != cached_row) {
        convert.row(src.row(sy), lo, (int)(hi - lo + 1), span_row.data());
        for (int i = 0; i < n; i++) source_row[i] = span_row[columns[first - r.left + i] - lo];
        cached_row = sy;
      }
      combine.apply(first, dy, n, source_row.data());
      touched.top = std::min(touched.top, dy);
      touched.bottom = std::max(touched.bottom, dy + 1);
    }
    if (touched.top < touched.bottom) dc_touched_locked(*dst_dc, touched);
  }
  return TRUE;
}
