/* GDI objects and device contexts: the handle table, stock objects, memory,
 * screen and window DCs, device-dependent bitmaps and DIB sections, solid
 * brushes and pens, DC attributes, pixels and filled rectangles.
 *
 * Objects are shared between the handle table and the DCs that select them;
 * DeleteObject refuses an object that a DC still holds, as Win32 does. */
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "gdi_internal.h"
#include "gdi_state.h"
#include "plat/kernel.h"
#include "window_internal.h"

namespace plat {
namespace gdi {

std::mutex& gdi_mutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

Bitmap::~Bitmap() { free(memory); }

Dc::~Dc() {
  if (bitmap && bitmap->selected_in == this) bitmap->selected_in = nullptr;
}

namespace {

struct HandleTable {
  std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
  uintptr_t next = 0x1000;
  std::shared_ptr<Object> stock[DEFAULT_GUI_FONT + 1];
  std::shared_ptr<Bitmap> stock_bitmap;
};

HandleTable& table() {
  static HandleTable* t = new HandleTable;
  return *t;
}

/* Larger pixel blocks than this are refused (ERROR_NOT_ENOUGH_MEMORY). */
const size_t max_pixel_bytes = (size_t)1 << 30;

size_t dib_stride(int width, int bits) { return (((size_t)width * bits + 31) / 32) * 4; }

/* A bitmap with zeroed pixel memory of the given format, or null. */
std::shared_ptr<Bitmap> new_bitmap(int width, int height, const FormatOps* ops, bool top_down) {
  size_t stride = dib_stride(width, ops->bits);
  if (stride == 0 || (size_t)height > max_pixel_bytes / stride) return nullptr;
  auto b = std::make_shared<Bitmap>();
  b->memory = (uint8_t*)calloc((size_t)height, stride);
  if (!b->memory) return nullptr;
  Surface& s = b->surface;
  s.ops = ops;
  s.width = width;
  s.height = height;
  if (top_down) {
    s.top = b->memory;
    s.pitch = (ptrdiff_t)stride;
  } else {
    s.top = b->memory + (size_t)(height - 1) * stride;
    s.pitch = -(ptrdiff_t)stride;
  }
  return b;
}

void make_monochrome(Surface* s) {
  s->monochrome = true;
  s->colors = 2;
  s->palette[0] = 0x000000;
  s->palette[1] = 0xFFFFFF;
}

std::shared_ptr<Bitmap> new_monochrome(int width, int height) {
  auto b = new_bitmap(width, height, &format_indexed1, true);
  if (b) make_monochrome(&b->surface);
  return b;
}

std::shared_ptr<Bitmap> stock_bitmap_locked() {
  HandleTable& t = table();
  if (!t.stock_bitmap) {
    t.stock_bitmap = new_monochrome(1, 1);
    t.stock_bitmap->stock = true;
    register_locked(t.stock_bitmap);
  }
  return t.stock_bitmap;
}

std::shared_ptr<Object> make_stock(int index) {
  auto brush = [](COLORREF c, bool hollow) {
    auto b = std::make_shared<Brush>();
    b->color = c;
    b->hollow = hollow;
    return std::shared_ptr<Object>(b);
  };
  auto pen = [](COLORREF c, int style) {
    auto p = std::make_shared<Pen>();
    p->color = c;
    p->style = style;
    return std::shared_ptr<Object>(p);
  };
  switch (index) {
    case WHITE_BRUSH: return brush(RGB(255, 255, 255), false);
    case LTGRAY_BRUSH: return brush(RGB(192, 192, 192), false);
    case GRAY_BRUSH: return brush(RGB(128, 128, 128), false);
    case DKGRAY_BRUSH: return brush(RGB(64, 64, 64), false);
    case BLACK_BRUSH: return brush(RGB(0, 0, 0), false);
    case NULL_BRUSH: return brush(0, true);
    case WHITE_PEN: return pen(RGB(255, 255, 255), PS_SOLID);
    case BLACK_PEN: return pen(RGB(0, 0, 0), PS_SOLID);
    case NULL_PEN: return pen(0, PS_NULL);
    case OEM_FIXED_FONT:
    case ANSI_FIXED_FONT:
    case ANSI_VAR_FONT:
    case SYSTEM_FONT:
    case DEVICE_DEFAULT_FONT:
    case SYSTEM_FIXED_FONT:
    case DEFAULT_GUI_FONT: {
      auto f = std::make_shared<Font>();
      f->logfont = default_logfont();
      return f;
    }
    default: return nullptr;
  }
}

std::shared_ptr<Object> stock_locked(int index) {
  HandleTable& t = table();
  if (index < 0 || index > DEFAULT_GUI_FONT) return nullptr;
  if (!t.stock[index]) {
    t.stock[index] = make_stock(index);
    if (!t.stock[index]) return nullptr;
    t.stock[index]->stock = true;
    register_locked(t.stock[index]);
  }
  return t.stock[index];
}

template <class T>
std::shared_ptr<T> stock_as_locked(int index) {
  return std::static_pointer_cast<T>(stock_locked(index));
}

/* A new DC with the default attributes and objects. */
std::shared_ptr<Dc> new_dc(DcType type) {
  auto dc = std::make_shared<Dc>();
  dc->type = type;
  dc->brush = stock_as_locked<Brush>(WHITE_BRUSH);
  dc->pen = stock_as_locked<Pen>(BLACK_PEN);
  dc->font = stock_as_locked<Font>(SYSTEM_FONT);
  return dc;
}

bool intersect(const RECT& a, const RECT& b, RECT* out) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.left >= r.right || r.top >= r.bottom) return false;
  *out = r;
  return true;
}

/* The parts of `rects` outside `cut`. */
std::vector<RECT> subtract(const std::vector<RECT>& rects, const RECT& cut) {
  std::vector<RECT> out;
  for (const RECT& r : rects) {
    RECT i;
    if (!intersect(r, cut, &i)) {
      out.push_back(r);
      continue;
    }
    if (r.top < i.top) out.push_back(RECT{r.left, r.top, r.right, i.top});
    if (i.bottom < r.bottom) out.push_back(RECT{r.left, i.bottom, r.right, r.bottom});
    if (r.left < i.left) out.push_back(RECT{r.left, i.top, i.left, i.bottom});
    if (i.right < r.right) out.push_back(RECT{i.right, i.top, r.right, i.bottom});
  }
  return out;
}

/* The colours that FillRect takes as (HBRUSH)(COLOR_xxx + 1). */
bool system_color_brush(HBRUSH brush, COLORREF* color) {
  static const COLORREF colors[] = {
      RGB(192, 192, 192), RGB(0, 128, 128),   RGB(0, 0, 128),     RGB(128, 128, 128),
      RGB(192, 192, 192), RGB(255, 255, 255), RGB(0, 0, 0),       RGB(0, 0, 0),
      RGB(0, 0, 0),       RGB(255, 255, 255), RGB(192, 192, 192), RGB(192, 192, 192),
      RGB(128, 128, 128), RGB(0, 0, 128),     RGB(255, 255, 255), RGB(192, 192, 192),
      RGB(128, 128, 128), RGB(128, 128, 128), RGB(0, 0, 0),       RGB(192, 192, 192),
      RGB(255, 255, 255), RGB(64, 64, 64),    RGB(224, 224, 224), RGB(0, 0, 0),
      RGB(255, 255, 225)};
  uintptr_t v = (uintptr_t)brush;
  if (v < 1 || v > sizeof colors / sizeof colors[0]) return false;
  *color = colors[v - 1];
  return true;
}

bool inside_any(const std::vector<RECT>& rects, LONG x, LONG y) {
  for (const RECT& r : rects)
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
  return false;
}

RECT normalized(int left, int top, int right, int bottom) {
  return RECT{std::min(left, right), std::min(top, bottom), std::max(left, right),
              std::max(top, bottom)};
}

}  // namespace

HGDIOBJ register_locked(std::shared_ptr<Object> object) {
  HandleTable& t = table();
  uintptr_t value = (t.next++ << 4) | (uintptr_t)object->kind;
  object->handle = (HGDIOBJ)value;
  t.objects[value] = std::move(object);
  return (HGDIOBJ)value;
}

Object* lookup_locked(HGDIOBJ handle, Kind kind) {
  auto& objects = table().objects;
  auto it = objects.find((uintptr_t)handle);
  if (it == objects.end() || it->second->kind != kind) return nullptr;
  return it->second.get();
}

std::shared_ptr<Object> share_locked(HGDIOBJ handle) {
  auto& objects = table().objects;
  auto it = objects.find((uintptr_t)handle);
  return it == objects.end() ? nullptr : it->second;
}

Dc* dc_locked(HDC dc) { return lookup_as_locked<Dc>((HGDIOBJ)dc, Kind::dc); }

std::vector<RECT> dc_clip_rects_locked(const Dc& dc) {
  std::vector<RECT> out;
  if (!dc.bitmap) return out;
  RECT bounds{0, 0, dc.bitmap->surface.width, dc.bitmap->surface.height};
  if (dc.type == DcType::memory) {
    out.push_back(bounds);
    return out;
  }
  for (const RECT& r : dc.clip) {
    RECT i;
    if (intersect(r, bounds, &i)) out.push_back(i);
  }
  return out;
}

void dc_touched_locked(const Dc& dc, const RECT& device_rect) {
  if (dc.type != DcType::memory) screen_damage_locked(device_rect);
}

void fill_rect_raw(const Surface& s, const RECT& r, uint32_t raw) {
  for (LONG y = r.top; y < r.bottom; y++)
    s.ops->fill_row(s, s.row(y), r.left, r.right - r.left, raw);
}

}  // namespace gdi

using namespace gdi;

/* ---- Window DCs ---- */

HDC gdi_window_dc(HWND window, const RECT* clip) {
  /* Window geometry first, without the GDI lock. */
  std::vector<RECT> visible;
  POINT origin{0, 0};
  if (window) {
    RECT rect;
    if (!window_screen_rect(window, &rect)) return nullptr;
    origin = POINT{rect.left, rect.top};
    std::vector<WindowPlace> stack = window_stack();
    bool shown = false;
    std::vector<RECT> above;
    for (const WindowPlace& place : stack) {
      if (place.window == window) {
        shown = place.visible;
        break;
      }
      if (place.visible) above.push_back(place.rect);
    }
    if (shown) {
      RECT area = rect;
      if (clip) {
        RECT c{clamp_coord((int64_t)clip->left + origin.x), clamp_coord((int64_t)clip->top + origin.y),
               clamp_coord((int64_t)clip->right + origin.x),
               clamp_coord((int64_t)clip->bottom + origin.y)};
        if (!intersect(area, c, &area)) area = RECT{0, 0, 0, 0};
      }
      if (area.left < area.right && area.top < area.bottom) {
        visible.push_back(area);
        for (const RECT& cut : above) visible = subtract(visible, cut);
      }
    }
  }
  std::lock_guard<std::mutex> guard(gdi_mutex());
  auto fb = screen_bitmap_locked();
  if (!window) {
    RECT area{0, 0, fb->surface.width, fb->surface.height};
    if (clip && !intersect(area, *clip, &area)) area = RECT{0, 0, 0, 0};
    if (area.left < area.right) visible.push_back(area);
  }
  auto dc = new_dc(window ? DcType::window : DcType::screen);
  dc->window = window;
  dc->origin = origin;
  dc->clip = std::move(visible);
  dc->bitmap = fb;
  return (HDC)register_locked(dc);
}

void gdi_release_window_dc(HDC handle) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc || dc->type == DcType::memory) return;
  auto& objects = table().objects;
  auto it = objects.find((uintptr_t)handle);
  objects.erase(it);
}

}  // namespace plat

using namespace plat;
using namespace plat::gdi;

/* ---- Device contexts ---- */

HDC WINAPI CreateCompatibleDC(HDC handle) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  if (handle && !dc_locked(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto dc = new_dc(DcType::memory);
  dc->bitmap = stock_bitmap_locked();
  return (HDC)register_locked(dc);
}

BOOL WINAPI DeleteDC(HDC handle) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  if (!dc_locked(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto& objects = table().objects;
  auto it = objects.find((uintptr_t)handle);
  objects.erase(it);
  return TRUE;
}

int WINAPI GetDeviceCaps(HDC handle, int index) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  if (!dc_locked(handle)) return 0;
  auto fb = screen_bitmap_locked();
  int width = fb->surface.width, height = fb->surface.height;
  switch (index) {
    case HORZRES: return width;
    case VERTRES: return height;
    case HORZSIZE: return width * 254 / 960;
    case VERTSIZE: return height * 254 / 960;
    case BITSPIXEL: return 32;
    case PLANES: return 1;
    case NUMCOLORS: return -1;
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;
    default: return 0;
  }
}

HGDIOBJ WINAPI SelectObject(HDC handle, HGDIOBJ object) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  std::shared_ptr<Object> target = share_locked(object);
  if (!dc || !target) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  switch (target->kind) {
    case Kind::bitmap: {
      auto bitmap = std::static_pointer_cast<Bitmap>(target);
      if (dc->type != DcType::memory) return nullptr;
      if (bitmap->selected_in && bitmap->selected_in != dc) return nullptr;
      std::shared_ptr<Bitmap> old = dc->bitmap;
      if (old && old->selected_in == dc) old->selected_in = nullptr;
      if (!bitmap->stock) bitmap->selected_in = dc;
      dc->bitmap = bitmap;
      return old ? old->handle : nullptr;
    }
    case Kind::brush: {
      HGDIOBJ old = dc->brush ? dc->brush->handle : nullptr;
      dc->brush = std::static_pointer_cast<Brush>(target);
      return old;
    }
    case Kind::pen: {
      HGDIOBJ old = dc->pen ? dc->pen->handle : nullptr;
      dc->pen = std::static_pointer_cast<Pen>(target);
      return old;
    }
    case Kind::font: {
      HGDIOBJ old = dc->font ? dc->font->handle : nullptr;
      dc->font = std::static_pointer_cast<Font>(target);
      return old;
    }
    case Kind::dc: break;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

HGDIOBJ WINAPI GetCurrentObject(HDC handle, UINT type) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc) return nullptr;
  switch (type) {
    case OBJ_BITMAP: return dc->bitmap ? dc->bitmap->handle : nullptr;
    case OBJ_BRUSH: return dc->brush ? dc->brush->handle : nullptr;
    case OBJ_PEN: return dc->pen ? dc->pen->handle : nullptr;
    case OBJ_FONT: return dc->font ? dc->font->handle : nullptr;
    default: return nullptr;
  }
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  auto& objects = table().objects;
  auto it = objects.find((uintptr_t)object);
  if (it == objects.end() || it->second->kind == Kind::dc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (it->second->stock) return TRUE;
  /* Selected into a DC: the table is not the only owner. */
  if (it->second.use_count() > 1) return FALSE;
  objects.erase(it);
  return TRUE;
}

HGDIOBJ WINAPI GetStockObject(int index) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  auto object = stock_locked(index);
  return object ? object->handle : nullptr;
}

DWORD WINAPI GetObjectType(HGDIOBJ object) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  auto target = share_locked(object);
  if (!target) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  switch (target->kind) {
    case Kind::dc:
      return static_cast<Dc*>(target.get())->type == DcType::memory ? OBJ_MEMDC : OBJ_DC;
    case Kind::bitmap: return OBJ_BITMAP;
    case Kind::brush: return OBJ_BRUSH;
    case Kind::pen: return OBJ_PEN;
    case Kind::font: return OBJ_FONT;
  }
  return 0;
}

int WINAPI GetObjectW(HGDIOBJ object, int size, LPVOID buffer) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  auto target = share_locked(object);
  if (!target || target->kind == Kind::dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  switch (target->kind) {
    case Kind::bitmap: {
      const Bitmap& b = *static_cast<Bitmap*>(target.get());
      const Surface& s = b.surface;
      BITMAP bm{};
      bm.bmType = 0;
      bm.bmWidth = s.width;
      bm.bmHeight = s.height;
      bm.bmPlanes = 1;
      bm.bmBitsPixel = (WORD)s.ops->bits;
      if (b.dib) {
        bm.bmWidthBytes = (LONG)(((size_t)s.width * s.ops->bits + 31) / 32 * 4);
        bm.bmBits = b.memory;
      } else {
        bm.bmWidthBytes = (LONG)(((size_t)s.width * s.ops->bits + 15) / 16 * 2);
      }
      if (!buffer) return b.dib ? (int)sizeof(DIBSECTION) : (int)sizeof(BITMAP);
      if (b.dib && size >= (int)sizeof(DIBSECTION)) {
        DIBSECTION ds{};
        ds.dsBm = bm;
        ds.dsBmih = b.header;
        /* Reported positive for top-down sections too, as Windows does. */
        if (ds.dsBmih.biHeight < 0) ds.dsBmih.biHeight = -ds.dsBmih.biHeight;
        memcpy(ds.dsBitfields, b.bitfields, sizeof ds.dsBitfields);
        memcpy(buffer, &ds, sizeof ds);
        return (int)sizeof(DIBSECTION);
      }
      if (size < (int)sizeof(BITMAP)) return 0;
      memcpy(buffer, &bm, sizeof bm);
      return (int)sizeof(BITMAP);
    }
    case Kind::brush: {
      const Brush& b = *static_cast<Brush*>(target.get());
      if (!buffer) return (int)sizeof(LOGBRUSH);
      if (size < (int)sizeof(LOGBRUSH)) return 0;
      LOGBRUSH lb{b.hollow ? (UINT)BS_NULL : (UINT)BS_SOLID, b.hollow ? 0 : b.color, 0};
      memcpy(buffer, &lb, sizeof lb);
      return (int)sizeof(LOGBRUSH);
    }
    case Kind::pen: {
      const Pen& p = *static_cast<Pen*>(target.get());
      if (!buffer) return (int)sizeof(LOGPEN);
      if (size < (int)sizeof(LOGPEN)) return 0;
      LOGPEN lp{(UINT)p.style, POINT{p.width, 0}, p.color};
      memcpy(buffer, &lp, sizeof lp);
      return (int)sizeof(LOGPEN);
    }
    case Kind::font: {
      const Font& f = *static_cast<Font*>(target.get());
      if (!buffer) return (int)sizeof(LOGFONTW);
      int n = std::min(size, (int)sizeof(LOGFONTW));
      if (n <= 0) return 0;
      memcpy(buffer, &f.logfont, (size_t)n);
      return n;
    }
    case Kind::dc: break;
  }
  return 0;
}

/* ---- Attributes ---- */

COLORREF WINAPI SetTextColor(HDC handle, COLORREF color) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc) return CLR_INVALID;
  COLORREF old = dc->text_color;
  dc->text_color = color & 0xFFFFFF;
  return old;
}

COLORREF WINAPI GetTextColor(HDC handle) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  return dc ? dc->text_color : CLR_INVALID;
}

COLORREF WINAPI SetBkColor(HDC handle, COLORREF color) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc) return CLR_INVALID;
  COLORREF old = dc->bk_color;
  dc->bk_color = color & 0xFFFFFF;
  return old;
}

COLORREF WINAPI GetBkColor(HDC handle) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  return dc ? dc->bk_color : CLR_INVALID;
}

int WINAPI SetBkMode(HDC handle, int mode) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc) return 0;
  if (mode != TRANSPARENT && mode != OPAQUE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int old = dc->bk_mode;
  dc->bk_mode = mode;
  return old;
}

int WINAPI GetBkMode(HDC handle) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  return dc ? dc->bk_mode : 0;
}

int WINAPI SetStretchBltMode(HDC handle, int mode) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc) return 0;
  if (mode < BLACKONWHITE || mode > HALFTONE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int old = dc->stretch_mode;
  dc->stretch_mode = mode;
  return old;
}

int WINAPI GetStretchBltMode(HDC handle) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  return dc ? dc->stretch_mode : 0;
}

UINT WINAPI SetTextAlign(HDC handle, UINT align) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc) return GDI_ERROR;
  UINT old = dc->text_align;
  dc->text_align = align;
  return old;
}

UINT WINAPI GetTextAlign(HDC handle) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  return dc ? dc->text_align : GDI_ERROR;
}

int WINAPI GetClipBox(HDC handle, LPRECT rect) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc || !rect) return ERROR;
  std::vector<RECT> rects = dc_clip_rects_locked(*dc);
  if (rects.empty()) {
    *rect = RECT{0, 0, 0, 0};
    return NULLREGION;
  }
  RECT box = rects[0];
  for (const RECT& r : rects) {
    box.left = std::min(box.left, r.left);
    box.top = std::min(box.top, r.top);
    box.right = std::max(box.right, r.right);
    box.bottom = std::max(box.bottom, r.bottom);
  }
  *rect = RECT{box.left - dc->origin.x, box.top - dc->origin.y, box.right - dc->origin.x,
               box.bottom - dc->origin.y};
  return rects.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

/* ---- Bitmaps ---- */

HBITMAP WINAPI CreateBitmap(int width, int height, UINT planes, UINT bits_per_pixel,
                            const void* bits) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  if (width < 0 || height < 0 || planes != 1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (width == 0 || height == 0) return (HBITMAP)stock_bitmap_locked()->handle;
  const FormatOps* ops = nullptr;
  switch (bits_per_pixel) {
    case 1: ops = &format_indexed1; break;
    case 16: ops = &format_rgb565; break;
    case 24: ops = &format_rgb24; break;
    case 32: ops = &format_rgb32; break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
  auto b = new_bitmap(width, height, ops, true);
  if (!b) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (bits_per_pixel == 1) make_monochrome(&b->surface);
  if (bits) {
    /* Device bitmap rows given to CreateBitmap are padded to 16 bits. */
    size_t in_stride = ((size_t)width * bits_per_pixel + 15) / 16 * 2;
    size_t row_bytes = ((size_t)width * bits_per_pixel + 7) / 8;
    for (int y = 0; y < height; y++)
      memcpy(b->surface.row(y), (const uint8_t*)bits + (size_t)y * in_stride, row_bytes);
  }
  return (HBITMAP)register_locked(b);
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC handle, int width, int height) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (width < 0 || height < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (width == 0 || height == 0) return (HBITMAP)stock_bitmap_locked()->handle;
  const Surface* like = dc->type == DcType::memory && dc->bitmap ? &dc->bitmap->surface : nullptr;
  auto b = new_bitmap(width, height, like ? like->ops : &format_rgb32, true);
  if (!b) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (like) {
    Surface& s = b->surface;
    s.monochrome = like->monochrome;
    s.colors = like->colors;
    memcpy(s.palette, like->palette, sizeof s.palette);
    memcpy(s.mask, like->mask, sizeof s.mask);
    memcpy(s.shift, like->shift, sizeof s.shift);
    memcpy(s.bits, like->bits, sizeof s.bits);
  }
  return (HBITMAP)register_locked(b);
}

HBITMAP WINAPI CreateDIBSection(HDC handle, const BITMAPINFO* info, UINT usage, void** bits,
                                HANDLE section, DWORD offset) {
  (void)offset;
  if (bits) *bits = nullptr;
  std::lock_guard<std::mutex> guard(gdi_mutex());
  if (handle && !dc_locked(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!info || usage > DIB_PAL_COLORS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (usage == DIB_PAL_COLORS || section) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 ||
      h.biHeight == INT32_MIN || h.biPlanes != 1 ||
      (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const uint8_t* color_table = (const uint8_t*)info + h.biSize;
  bool fields = h.biCompression == BI_BITFIELDS;
  if (fields && h.biBitCount != 16 && h.biBitCount != 32) { /* bit fields exist only there */
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  /* Masks: inside a version 4 or later header, else the first three table entries. */
  const uint8_t* mask_bytes = h.biSize >= 52 ? (const uint8_t*)info + 40 : color_table;
  DWORD masks[3] = {0, 0, 0};
  const FormatOps* ops = nullptr;
  switch (h.biBitCount) {
    case 1: ops = &format_indexed1; break;
    case 4: ops = &format_indexed4; break;
    case 8: ops = &format_indexed8; break;
    case 24: ops = &format_rgb24; break;
    case 16:
    case 32:
      if (fields) {
        memcpy(masks, mask_bytes, sizeof masks);
      } else if (h.biBitCount == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
      } else {
        masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF;
      }
      if (h.biBitCount == 16) {
        if (masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F)
          ops = &format_rgb555;
        else if (masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F)
          ops = &format_rgb565;
        else
          ops = &format_bitfields16;
      } else {
        ops = masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF
                  ? &format_rgb32
                  : &format_bitfields32;
      }
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
  int width = h.biWidth;
  bool top_down = h.biHeight < 0;
  int height = top_down ? -h.biHeight : h.biHeight;
  auto b = new_bitmap(width, height, ops, top_down);
  if (!b) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Surface& s = b->surface;
  if (h.biBitCount == 16 || h.biBitCount == 32) {
    if (!set_bitfields(&s, masks[0], masks[1], masks[2]) ||
        (h.biBitCount == 16 && ((masks[0] | masks[1] | masks[2]) >> 16))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
  }
  if (ops->indexed) {
    int capacity = 1 << h.biBitCount;
    int n = h.biClrUsed && h.biClrUsed < (DWORD)capacity ? (int)h.biClrUsed : capacity;
    s.colors = capacity;
    for (int i = 0; i < n; i++) {
      const uint8_t* q = color_table + 4 * i;
      s.palette[i] = ((uint32_t)q[2] << 16) | ((uint32_t)q[1] << 8) | q[0];
    }
  }
  b->dib = true;
  b->header = h;
  b->header.biSize = sizeof(BITMAPINFOHEADER);
  b->header.biSizeImage = (DWORD)(dib_stride(width, h.biBitCount) * (size_t)height);
  if (h.biBitCount == 16 || h.biBitCount == 32) memcpy(b->bitfields, masks, sizeof masks);
  if (bits) *bits = b->memory;
  return (HBITMAP)register_locked(b);
}

/* ---- Brushes and pens ---- */

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  auto b = std::make_shared<Brush>();
  b->color = color & 0xFFFFFF;
  return (HBRUSH)register_locked(b);
}

HPEN WINAPI CreatePen(int style, int width, COLORREF color) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  auto p = std::make_shared<Pen>();
  p->style = style == PS_NULL ? PS_NULL : PS_SOLID;
  p->width = width < 1 ? 1 : width;
  p->color = color & 0xFFFFFF;
  return (HPEN)register_locked(p);
}

/* ---- Pixels ---- */

BOOL WINAPI GdiFlush(void) { return TRUE; }

COLORREF WINAPI GetPixel(HDC handle, int x, int y) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc) return CLR_INVALID;
  LONG dx = clamp_coord((int64_t)x + dc->origin.x), dy = clamp_coord((int64_t)y + dc->origin.y);
  if (!inside_any(dc_clip_rects_locked(*dc), dx, dy)) return CLR_INVALID;
  return rgb_to_colorref(dc->bitmap->surface.rgb_at(dx, dy));
}

COLORREF WINAPI SetPixel(HDC handle, int x, int y, COLORREF color) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc) return CLR_INVALID;
  LONG dx = clamp_coord((int64_t)x + dc->origin.x), dy = clamp_coord((int64_t)y + dc->origin.y);
  if (!inside_any(dc_clip_rects_locked(*dc), dx, dy)) return CLR_INVALID;
  const Surface& s = dc->bitmap->surface;
  uint32_t raw = s.ops->from_rgb(s, colorref_to_rgb(color));
  s.ops->put(s, s.row(dy), dx, raw);
  dc_touched_locked(*dc, RECT{dx, dy, dx + 1, dy + 1});
  return rgb_to_colorref(s.ops->to_rgb(s, raw));
}

/* ---- Filled shapes ---- */

int WINAPI FillRect(HDC handle, const RECT* rect, HBRUSH brush_handle) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc || !rect) return 0;
  Brush brush;
  COLORREF system_color;
  if (Brush* b = lookup_as_locked<Brush>((HGDIOBJ)brush_handle, Kind::brush)) {
    brush.hollow = b->hollow;
    brush.color = b->color;
  } else if (system_color_brush(brush_handle, &system_color)) {
    brush.color = system_color;
  } else {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (brush.hollow) return 1;
  pattern_blt_locked(*dc, device_rect(*dc, rect->left, rect->top, rect->right, rect->bottom),
                     PATCOPY, &brush);
  return 1;
}

BOOL WINAPI Rectangle(HDC handle, int left, int top, int right, int bottom) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc) return FALSE;
  RECT n = normalized(left, top, right, bottom);
  RECT r = device_rect(*dc, n.left, n.top, n.right, n.bottom);
  const Pen* pen = dc->pen.get();
  if (!pen || pen->style == PS_NULL) {
    /* Without a pen the filled area ends one pixel short on the right and bottom. */
    if (dc->brush && !dc->brush->hollow)
      pattern_blt_locked(*dc, RECT{r.left, r.top, r.right - 1, r.bottom - 1}, PATCOPY, nullptr);
    return TRUE;
  }
  int w = pen->width;
  int before = (w - 1) / 2, after = w / 2; /* the frame is centred on the outline */
  RECT outer{r.left - before, r.top - before, r.right - 1 + after + 1, r.bottom - 1 + after + 1};
  RECT inner{r.left + after + 1, r.top + after + 1, r.right - 1 - before, r.bottom - 1 - before};
  if (dc->brush && !dc->brush->hollow && inner.left < inner.right && inner.top < inner.bottom)
    pattern_blt_locked(*dc, inner, PATCOPY, nullptr);
  Brush ink;
  ink.color = pen->color;
  if (inner.left >= inner.right || inner.top >= inner.bottom) {
    pattern_blt_locked(*dc, outer, PATCOPY, &ink);
    return TRUE;
  }
  pattern_blt_locked(*dc, RECT{outer.left, outer.top, outer.right, inner.top}, PATCOPY, &ink);
  pattern_blt_locked(*dc, RECT{outer.left, inner.bottom, outer.right, outer.bottom}, PATCOPY, &ink);
  pattern_blt_locked(*dc, RECT{outer.left, inner.top, inner.left, inner.bottom}, PATCOPY, &ink);
  pattern_blt_locked(*dc, RECT{inner.right, inner.top, outer.right, inner.bottom}, PATCOPY, &ink);
  return TRUE;
}

BOOL WINAPI PatBlt(HDC handle, int x, int y, int width, int height, DWORD rop) {
  unsigned index = (rop >> 16) & 0xFF;
  if (((index >> 2) ^ index) & 0x33) { /* the operation needs a source */
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc) return FALSE;
  int64_t x2 = (int64_t)x + width, y2 = (int64_t)y + height;
  pattern_blt_locked(*dc,
                     device_rect(*dc, std::min<int64_t>(x, x2), std::min<int64_t>(y, y2),
                                 std::max<int64_t>(x, x2), std::max<int64_t>(y, y2)),
                     rop, nullptr);
  return TRUE;
}
