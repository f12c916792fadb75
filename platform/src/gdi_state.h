/* The inside of the GDI module, shared by gdi.cpp (objects and DCs),
 * gdi_format.cpp (pixel formats), gdi_blit.cpp (raster operations),
 * text.cpp (fonts and text) and screen.cpp (the framebuffer). Private to
 * those sources.
 *
 * One lock (gdi_mutex) guards every object, surface and the FreeType state;
 * the functions named *_locked expect it held. Nothing here calls into the
 * window manager while holding it. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "plat/gdi.h"

namespace plat {
namespace gdi {

std::mutex& gdi_mutex();

struct Surface;

/* The primitives of one pixel format. A raw value is the pixel as stored:
 * a palette index, or the packed bits of a direct-colour pixel. Colours are
 * 0x00RRGGBB (the screen's own pixel value), never COLORREF. */
struct FormatOps {
  const char* name;
  int bits;
  bool indexed; /* raw values are palette indices */
  uint32_t (*get)(const Surface& s, const uint8_t* row, int x);
  void (*put)(const Surface& s, uint8_t* row, int x, uint32_t raw);
  uint32_t (*to_rgb)(const Surface& s, uint32_t raw);
  uint32_t (*from_rgb)(const Surface& s, uint32_t rgb);
  void (*get_row)(const Surface& s, const uint8_t* row, int x, int n, uint32_t* raw);
  void (*put_row)(const Surface& s, uint8_t* row, int x, int n, const uint32_t* raw);
  void (*fill_row)(const Surface& s, uint8_t* row, int x, int n, uint32_t raw);
};

extern const FormatOps format_indexed1, format_indexed4, format_indexed8, format_rgb555,
    format_rgb565, format_bitfields16, format_rgb24, format_rgb32, format_bitfields32;

/* Pixel memory with its format. Row y (0 = top) starts at top + y * pitch;
 * pitch is negative for bottom-up DIBs. */
struct Surface {
  const FormatOps* ops = nullptr;
  int width = 0, height = 0;
  uint8_t* top = nullptr;
  ptrdiff_t pitch = 0;
  bool monochrome = false; /* a 1-bit device bitmap (black 0, white 1) */
  int colors = 0;
  uint32_t palette[256] = {};
  /* Bit fields of direct-colour formats: red, green, blue. */
  uint32_t mask[3] = {};
  int shift[3] = {};
  int bits[3] = {};

  uint8_t* row(int y) const { return top + y * pitch; }
  uint32_t rgb_at(int x, int y) const { return ops->to_rgb(*this, ops->get(*this, row(y), x)); }
};

/* Sets the masks, shifts and widths of the bit fields; false when a mask is
 * empty, not contiguous, or overlaps another. */
bool set_bitfields(Surface* s, uint32_t red, uint32_t green, uint32_t blue);
/* The palette entry nearest to a colour (exact match first). */
uint32_t nearest_index(const Surface& s, uint32_t rgb);

inline uint32_t colorref_to_rgb(COLORREF c) {
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
inline COLORREF rgb_to_colorref(uint32_t rgb) {
  return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
}

/* ---- Objects ---- */
enum class Kind : uint8_t { dc = 1, bitmap, brush, pen, font };

struct Object {
  Kind kind;
  bool stock = false;
  HGDIOBJ handle = nullptr;
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
};

struct Dc;

struct Bitmap : Object {
  Surface surface;
  uint8_t* memory = nullptr; /* owned, calloc'ed */
  bool dib = false;
  BITMAPINFOHEADER header{}; /* DIB sections: the header as created */
  DWORD bitfields[3] = {};
  Dc* selected_in = nullptr;
  Bitmap() : Object(Kind::bitmap) {}
  ~Bitmap() override;
};

struct Brush : Object {
  bool hollow = false;
  COLORREF color = 0;
  Brush() : Object(Kind::brush) {}
};

struct Pen : Object {
  int style = PS_SOLID;
  int width = 1;
  COLORREF color = 0;
  Pen() : Object(Kind::pen) {}
};

struct RealFont; /* text.cpp */

struct Font : Object {
  LOGFONTW logfont{};
  RealFont* real = nullptr; /* resolved on first use; text.cpp's cache owns it */
  Font() : Object(Kind::font) {}
};

enum class DcType { memory, screen, window };

struct Dc : Object {
  DcType type = DcType::memory;
  HWND window = nullptr;
  POINT origin{}; /* device coordinates of the logical origin */
  /* Screen and window DCs: the visible rectangles in device coordinates.
   * Memory DCs draw on the whole selected bitmap. */
  std::vector<RECT> clip;
  std::shared_ptr<Bitmap> bitmap;
  std::shared_ptr<Brush> brush;
  std::shared_ptr<Pen> pen;
  std::shared_ptr<Font> font;
  COLORREF text_color = 0;
  COLORREF bk_color = 0xFFFFFF;
  int bk_mode = OPAQUE;
  int stretch_mode = BLACKONWHITE;
  UINT text_align = TA_LEFT | TA_TOP;
  Dc() : Object(Kind::dc) {}
  ~Dc() override;
};

/* Device coordinates stay within +-2^30, so that sums of coordinates and
 * extents cannot overflow; nothing that far out is on any surface. */
constexpr int64_t coord_limit = (int64_t)1 << 30;
inline LONG clamp_coord(int64_t v) {
  return (LONG)(v < -coord_limit ? -coord_limit : v > coord_limit ? coord_limit : v);
}
/* A logical rectangle of a DC in device coordinates. */
inline RECT device_rect(const Dc& dc, int64_t left, int64_t top, int64_t right, int64_t bottom) {
  return RECT{clamp_coord(left + dc.origin.x), clamp_coord(top + dc.origin.y),
              clamp_coord(right + dc.origin.x), clamp_coord(bottom + dc.origin.y)};
}

/* With the lock held: the live object of a handle, of the given kind. */
Object* lookup_locked(HGDIOBJ handle, Kind kind);
template <class T>
T* lookup_as_locked(HGDIOBJ handle, Kind kind) {
  return static_cast<T*>(lookup_locked(handle, kind));
}
Dc* dc_locked(HDC dc);
/* The shared owner of a live object (to keep it selected). */
std::shared_ptr<Object> share_locked(HGDIOBJ handle);
/* Enters an object in the handle table; returns its handle. */
HGDIOBJ register_locked(std::shared_ptr<Object> object);

/* The rectangles a DC may draw in, device coordinates, already inside its
 * surface. Empty when nothing can be drawn. */
std::vector<RECT> dc_clip_rects_locked(const Dc& dc);
/* Tells the screen that a device rectangle of this DC's surface changed. */
void dc_touched_locked(const Dc& dc, const RECT& device_rect);

/* Fills a device rectangle (already clipped) of a surface with one raw value. */
void fill_rect_raw(const Surface& s, const RECT& r, uint32_t raw);
/* Applies a raster operation that uses no source to a device rectangle,
 * clipped by the DC; the pattern is the DC's brush (or `brush` when given). */
void pattern_blt_locked(Dc& dc, const RECT& device_rect, DWORD rop, const Brush* brush);

/* ---- The screen (screen.cpp) ---- */
/* The framebuffer, made (headless, of the configured size) on first use. */
std::shared_ptr<Bitmap> screen_bitmap_locked();
void screen_damage_locked(const RECT& device_rect);

/* ---- Text (text.cpp) ---- */
/* The stock fonts' logical font. */
LOGFONTW default_logfont();

}  // namespace gdi
}  // namespace plat
