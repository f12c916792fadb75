/* Fonts and text: CreateFontIndirectW, text metrics and extents, DrawTextW,
 * ExtTextOutW and TextOutW.
 *
 * A logical font is realized on first use: fontconfig matches its face name,
 * weight and slant; when that font has no Chinese glyphs, the best font for
 * the language zh-cn is taken instead, so that every face name can show
 * Chinese. FreeType renders the glyphs (grey-scale antialiased, or one bit
 * for NONANTIALIASED_QUALITY), emboldened or slanted when the font has no
 * such style of its own. Realized fonts and their glyphs are cached; a
 * character missing from the chosen font comes from the Chinese fallback.
 *
 * Heights follow LOGFONTW: negative is the character (em) height in pixels,
 * positive the cell height (ascent + descent), zero the default (16). */
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <tuple>
#include <unordered_map>

#include "gdi_internal.h"
#include "gdi_state.h"
#include "plat/host.h"
#include "plat/kernel.h"

namespace plat {
namespace gdi {

struct Glyph {
  int left = 0, top = 0, width = 0, rows = 0, advance = 0;
  std::vector<uint8_t> coverage; /* width x rows, 0..255 */
};

struct RealFont {
  FT_Face face = nullptr;
  std::string file;
  int index = 0;
  bool bold = false, oblique = false, monochrome = false;
  bool underline = false, strike = false;
  int em = 0, ascent = 0, descent = 0, height = 0;
  int average_width = 0, max_width = 0;
  LONG weight = FW_NORMAL;
  RealFont* fallback = nullptr; /* the Chinese font at the same size, or null */
  std::unordered_map<uint32_t, Glyph> glyphs;
};

namespace {

/* Glyphs cached per realized font before the cache starts over. */
const size_t max_cached_glyphs = 4096;

/* The characters a font must have to count as a Chinese font. */
const FcChar32 chinese_probe[] = {0x4E2D, 0x6587, 0x9ED8, 0x8BA4}; /* 中 文 默 认 */

struct FaceSource {
  std::string file;
  int index = 0;
  int weight = FC_WEIGHT_REGULAR;
  int slant = FC_SLANT_ROMAN;
};

struct TextState {
  FT_Library library = nullptr;
  bool library_failed = false;
  bool fontconfig_ready = false;
  std::map<std::tuple<std::string, int, bool>, FaceSource> sources;
  std::map<std::string, std::unique_ptr<RealFont>> fonts;
};

TextState& state() {
  static TextState* s = new TextState;
  return *s;
}

bool has_chinese(FcPattern* font) {
  FcCharSet* set = nullptr;
  if (FcPatternGetCharSet(font, FC_CHARSET, 0, &set) != FcResultMatch || !set) return false;
  for (FcChar32 c : chinese_probe)
    if (!FcCharSetHasChar(set, c)) return false;
  return true;
}

/* fontconfig's best font for a family (empty: any) or for the language zh-cn. */
FcPattern* match_font(const std::string& family, const char* language, int weight, bool italic) {
  FcPattern* p = FcPatternCreate();
  if (!p) return nullptr;
  if (!family.empty()) FcPatternAddString(p, FC_FAMILY, (const FcChar8*)family.c_str());
  if (language) FcPatternAddString(p, FC_LANG, (const FcChar8*)language);
  FcPatternAddInteger(p, FC_WEIGHT, weight);
  FcPatternAddInteger(p, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, p, FcMatchPattern);
  FcDefaultSubstitute(p);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, p, &result);
  FcPatternDestroy(p);
  return match;
}

bool source_of(FcPattern* match, FaceSource* out) {
  FcChar8* file = nullptr;
  if (FcPatternGetString(match, FC_FILE, 0, &file) != FcResultMatch || !file) return false;
  out->file = (const char*)file;
  int value;
  out->index = FcPatternGetInteger(match, FC_INDEX, 0, &value) == FcResultMatch ? value : 0;
  out->weight = FcPatternGetInteger(match, FC_WEIGHT, 0, &value) == FcResultMatch
                    ? value
                    : FC_WEIGHT_REGULAR;
  out->slant = FcPatternGetInteger(match, FC_SLANT, 0, &value) == FcResultMatch
                   ? value
                   : FC_SLANT_ROMAN;
  return true;
}

/* The font file for a face name: the name's own match when it has Chinese
 * glyphs, else the zh-cn match. Empty file when fontconfig finds nothing. */
FaceSource resolve_locked(const std::string& family, int weight, bool italic) {
  TextState& t = state();
  auto key = std::make_tuple(family, weight, italic);
  auto found = t.sources.find(key);
  if (found != t.sources.end()) return found->second;
  FaceSource source;
  if (!t.fontconfig_ready) t.fontconfig_ready = FcInit() == FcTrue;
  if (t.fontconfig_ready) {
    int fc_weight = FcWeightFromOpenType(weight > 0 ? weight : FW_NORMAL);
    bool done = false;
    if (!family.empty()) {
      if (FcPattern* m = match_font(family, nullptr, fc_weight, italic)) {
        done = has_chinese(m) && source_of(m, &source);
        FcPatternDestroy(m);
      }
    }
    if (!done) {
      if (FcPattern* m = match_font(std::string(), "zh-cn", fc_weight, italic)) {
        done = source_of(m, &source);
        FcPatternDestroy(m);
      }
    }
  }
  t.sources[key] = source;
  return source;
}

std::string logfont_family(const LOGFONTW& lf) {
  size_t n = 0;
  while (n < LF_FACESIZE && lf.lfFaceName[n]) n++;
  return utf16_to_utf8(lf.lfFaceName, n);
}

int cell_height(const LOGFONTW& lf) { return lf.lfHeight == 0 ? 16 : lf.lfHeight; }

RealFont* realize_source_locked(const FaceSource& source, const LOGFONTW& lf, bool chinese_fallback);

/* Sets the face's size for the logical height and fills the metrics. */
void size_font(RealFont* f, int height) {
  FT_Face face = f->face;
  double upem = face->units_per_EM ? face->units_per_EM : 1000;
  double ascent = face->ascender, descent = -face->descender;
  if (TT_OS2* os2 = (TT_OS2*)FT_Get_Sfnt_Table(face, FT_SFNT_OS2)) {
    if (os2->usWinAscent + os2->usWinDescent > 0) {
      ascent = os2->usWinAscent;
      descent = os2->usWinDescent;
    }
  }
  if (ascent + descent <= 0) ascent = upem * 0.8, descent = upem * 0.2;
  double scale = height < 0 ? -height / upem : height / (ascent + descent);
  FT_Set_Char_Size(face, 0, (FT_F26Dot6)std::lround(scale * upem * 64), 72, 72);
  f->em = (int)std::lround(scale * upem);
  f->ascent = (int)std::lround(ascent * scale);
  f->descent = height > 0 ? height - f->ascent : (int)std::lround(descent * scale);
  f->height = f->ascent + f->descent;
  f->max_width = (int)std::lround((face->bbox.xMax - face->bbox.xMin) * scale);
  FT_UInt gi = FT_Get_Char_Index(face, 'x');
  f->average_width = f->em / 2;
  if (gi && FT_Load_Glyph(face, gi, FT_LOAD_DEFAULT) == 0)
    f->average_width = (int)((face->glyph->advance.x + 32) >> 6);
}

RealFont* realize_source_locked(const FaceSource& source, const LOGFONTW& lf,
                                bool chinese_fallback) {
  TextState& t = state();
  int height = cell_height(lf);
  bool want_bold = lf.lfWeight >= FW_SEMIBOLD;
  bool bold = want_bold && source.weight < FC_WEIGHT_DEMIBOLD;
  bool oblique = lf.lfItalic && source.slant == FC_SLANT_ROMAN;
  bool mono = lf.lfQuality == NONANTIALIASED_QUALITY;
  std::string key = source.file + "|" + std::to_string(source.index) + "|" +
                    std::to_string(height) + "|" + (bold ? "b" : "") + (oblique ? "i" : "") +
                    (mono ? "m" : "") + (lf.lfUnderline ? "u" : "") + (lf.lfStrikeOut ? "s" : "");
  auto found = t.fonts.find(key);
  if (found != t.fonts.end()) return found->second.get();
  auto f = std::make_unique<RealFont>();
  f->file = source.file;
  f->index = source.index;
  f->bold = bold;
  f->oblique = oblique;
  f->monochrome = mono;
  f->underline = lf.lfUnderline != 0;
  f->strike = lf.lfStrikeOut != 0;
  f->weight = lf.lfWeight ? lf.lfWeight : FW_NORMAL;
  if (!t.library && !t.library_failed) t.library_failed = FT_Init_FreeType(&t.library) != 0;
  if (t.library && !source.file.empty() &&
      FT_New_Face(t.library, source.file.c_str(), source.index, &f->face) == 0) {
    FT_Select_Charmap(f->face, FT_ENCODING_UNICODE);
    size_font(f.get(), height);
  } else {
    /* No font at all: text has metrics and no ink. */
    f->face = nullptr;
    int cell = height < 0 ? -height * 5 / 4 : height;
    f->ascent = cell * 4 / 5;
    f->descent = cell - f->ascent;
    f->height = cell;
    f->em = cell;
  }
  RealFont* raw = f.get();
  t.fonts[key] = std::move(f);
  if (!chinese_fallback) {
    FaceSource chinese = resolve_locked(std::string(), lf.lfWeight, lf.lfItalic != 0);
    if (chinese.file != source.file || chinese.index != source.index) {
      LOGFONTW same_size = lf;
      same_size.lfUnderline = same_size.lfStrikeOut = 0;
      raw->fallback = realize_source_locked(chinese, same_size, true);
    }
  }
  return raw;
}

RealFont* realize_locked(Font* font) {
  if (font->real) return font->real;
  const LOGFONTW& lf = font->logfont;
  FaceSource source = resolve_locked(logfont_family(lf), lf.lfWeight, lf.lfItalic != 0);
  font->real = realize_source_locked(source, lf, false);
  return font->real;
}

RealFont* dc_font_locked(Dc& dc) {
  if (!dc.font) return nullptr;
  return realize_locked(dc.font.get());
}

/* ---- Glyphs ---- */

const Glyph& glyph_locked(RealFont* f, uint32_t index) {
  auto found = f->glyphs.find(index);
  if (found != f->glyphs.end()) return found->second;
  if (f->glyphs.size() >= max_cached_glyphs) f->glyphs.clear();
  Glyph& g = f->glyphs[index];
  if (!f->face) return g;
  FT_Int32 flags = f->monochrome ? (FT_LOAD_DEFAULT | FT_LOAD_TARGET_MONO)
                                 : (FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL);
  if (FT_Load_Glyph(f->face, index, flags) != 0) return g;
  FT_GlyphSlot slot = f->face->glyph;
  if (f->oblique) FT_GlyphSlot_Oblique(slot);
  if (f->bold) FT_GlyphSlot_Embolden(slot);
  if (FT_Render_Glyph(slot, f->monochrome ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0)
    return g;
  const FT_Bitmap& bm = slot->bitmap;
  g.left = slot->bitmap_left;
  g.top = slot->bitmap_top;
  g.width = (int)bm.width;
  g.rows = (int)bm.rows;
  g.advance = (int)((slot->advance.x + 32) >> 6);
  g.coverage.assign((size_t)g.width * g.rows, 0);
  for (int y = 0; y < g.rows; y++) {
    const uint8_t* src = bm.buffer + (ptrdiff_t)y * bm.pitch;
    uint8_t* dst = &g.coverage[(size_t)y * g.width];
    if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
      for (int x = 0; x < g.width; x++) dst[x] = (src[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    } else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
      int levels = bm.num_grays > 1 ? bm.num_grays - 1 : 255;
      for (int x = 0; x < g.width; x++) dst[x] = (uint8_t)(src[x] * 255 / levels);
    }
  }
  return g;
}

/* One character to draw: the font that has it, its glyph and its advance. */
struct Item {
  RealFont* font = nullptr;
  uint32_t glyph = 0;
  int advance = 0;
  bool underline = false;
};

uint32_t glyph_index(RealFont* f, uint32_t c, RealFont** owner) {
  *owner = f;
  if (!f->face) return 0;
  FT_UInt gi = FT_Get_Char_Index(f->face, c);
  if (!gi && f->fallback && f->fallback->face) {
    FT_UInt other = FT_Get_Char_Index(f->fallback->face, c);
    if (other) {
      *owner = f->fallback;
      return other;
    }
  }
  return gi;
}

/* The next code point of UTF-16 text; advances *i. */
uint32_t next_code_point(const WCHAR* text, int count, int* i) {
  uint32_t c = text[(*i)++];
  if (c >= 0xD800 && c < 0xDC00 && *i < count) {
    uint32_t low = text[*i];
    if (low >= 0xDC00 && low < 0xE000) {
      (*i)++;
      return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return c;
}

Item make_item(RealFont* f, uint32_t c) {
  Item item;
  item.font = f;
  if (c < 0x20) return item; /* control characters take no room */
  item.glyph = glyph_index(f, c, &item.font);
  item.advance = glyph_locked(item.font, item.glyph).advance;
  item.underline = f->underline;
  return item;
}

std::vector<Item> layout(RealFont* f, const WCHAR* text, int count, bool prefixes) {
  std::vector<Item> items;
  int i = 0;
  while (i < count) {
    uint32_t c = next_code_point(text, count, &i);
    bool underline = false;
    if (prefixes && c == '&') {
      if (i >= count) break;
      c = next_code_point(text, count, &i);
      underline = c != '&';
    }
    Item item = make_item(f, c);
    item.underline = item.underline || underline;
    items.push_back(item);
  }
  return items;
}

int run_width(const std::vector<Item>& items) {
  int w = 0;
  for (const Item& item : items) w += item.advance;
  return w;
}

bool intersect(const RECT& a, const RECT& b, RECT* out) {
  RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
         std::min(a.bottom, b.bottom)};
  if (r.left >= r.right || r.top >= r.bottom) return false;
  *out = r;
  return true;
}

void fill_clipped(const Surface& s, const RECT& r, const std::vector<RECT>& clips, uint32_t raw) {
  for (const RECT& c : clips) {
    RECT i;
    if (intersect(r, c, &i)) fill_rect_raw(s, i, raw);
  }
}

/* Blends one glyph's coverage in a colour onto the surface. */
void blend_glyph(const Surface& s, const Glyph& g, int x0, int y0, const std::vector<RECT>& clips,
                 uint32_t rgb) {
  if (g.coverage.empty()) return;
  RECT box{x0, y0, x0 + g.width, y0 + g.rows};
  const FormatOps& ops = *s.ops;
  uint32_t solid = ops.from_rgb(s, rgb);
  bool blend = !ops.indexed;
  int fr = (rgb >> 16) & 0xFF, fg = (rgb >> 8) & 0xFF, fb = rgb & 0xFF;
  for (const RECT& c : clips) {
    RECT r;
    if (!intersect(box, c, &r)) continue;
    for (LONG y = r.top; y < r.bottom; y++) {
      uint8_t* row = s.row(y);
      const uint8_t* cov = &g.coverage[(size_t)(y - y0) * g.width];
      for (LONG x = r.left; x < r.right; x++) {
        int a = cov[x - x0];
        if (a == 0) continue;
        if (a == 255 || !blend) {
          if (a >= 128 || blend) ops.put(s, row, x, solid);
          continue;
        }
        uint32_t under = ops.to_rgb(s, ops.get(s, row, x));
        int ur = (under >> 16) & 0xFF, ug = (under >> 8) & 0xFF, ub = under & 0xFF;
        ur += (fr - ur) * a / 255;
        ug += (fg - ug) * a / 255;
        ub += (fb - ub) * a / 255;
        ops.put(s, row, x, ops.from_rgb(s, ((uint32_t)ur << 16) | ((uint32_t)ug << 8) | (uint32_t)ub));
      }
    }
  }
}

/* Draws a laid-out run with its cell's top-left corner at (x, top), device
 * coordinates; `advances` (optional) replaces the glyphs' own advances. */
void draw_run(Dc& dc, RealFont* f, const std::vector<Item>& items, const int* advances, int x,
              int top, const std::vector<RECT>& clips) {
  const Surface& s = dc.bitmap->surface;
  uint32_t ink = colorref_to_rgb(dc.text_color);
  int baseline = top + f->ascent;
  int pen = x;
  int thickness = std::max(1, f->em / 16);
  for (size_t i = 0; i < items.size(); i++) {
    const Item& item = items[i];
    int advance = advances ? advances[i] : item.advance;
    if (item.glyph || item.advance) {
      const Glyph& g = glyph_locked(item.font, item.glyph);
      blend_glyph(s, g, pen + g.left, baseline - g.top, clips, ink);
    }
    uint32_t raw = s.ops->from_rgb(s, ink);
    if (item.underline && advance > 0)
      fill_clipped(s, RECT{pen, baseline + 1, pen + advance, baseline + 1 + thickness}, clips, raw);
    if (f->strike && advance > 0) {
      int y = baseline - f->ascent / 3;
      fill_clipped(s, RECT{pen, y, pen + advance, y + thickness}, clips, raw);
    }
    pen += advance;
  }
}

std::vector<RECT> clip_to(const std::vector<RECT>& clips, const RECT* limit) {
  if (!limit) return clips;
  std::vector<RECT> out;
  for (const RECT& c : clips) {
    RECT r;
    if (intersect(c, *limit, &r)) out.push_back(r);
  }
  return out;
}

int text_length(const WCHAR* text, int count) {
  if (count >= 0) return count;
  int n = 0;
  while (text[n]) n++;
  return n;
}

void touch(const Dc& dc, const std::vector<RECT>& clips) {
  for (const RECT& c : clips) dc_touched_locked(dc, c);
}

}  // namespace

LOGFONTW default_logfont() {
  LOGFONTW lf{};
  lf.lfHeight = 16;
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  const char16_t name[] = u"System";
  memcpy(lf.lfFaceName, name, sizeof name);
  return lf;
}

}  // namespace gdi

using namespace gdi;

bool font_source(HFONT handle, std::string* file, int* face_index) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Font* font = lookup_as_locked<Font>((HGDIOBJ)handle, Kind::font);
  if (!font) return false;
  RealFont* f = realize_locked(font);
  if (file) *file = f->file;
  if (face_index) *face_index = f->index;
  return true;
}

unsigned font_glyph_index(HFONT handle, uint32_t character) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Font* font = lookup_as_locked<Font>((HGDIOBJ)handle, Kind::font);
  if (!font) return 0;
  RealFont* f = realize_locked(font);
  return f->face ? FT_Get_Char_Index(f->face, character) : 0;
}

}  // namespace plat

using namespace plat;
using namespace plat::gdi;

HFONT WINAPI CreateFontIndirectW(const LOGFONTW* logfont) {
  if (!logfont) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(gdi_mutex());
  auto font = std::make_shared<Font>();
  font->logfont = *logfont;
  return (HFONT)register_locked(font);
}

BOOL WINAPI GetTextMetricsW(HDC handle, LPTEXTMETRICW tm) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc || !tm) return FALSE;
  RealFont* f = dc_font_locked(*dc);
  if (!f) return FALSE;
  memset(tm, 0, sizeof *tm);
  tm->tmHeight = f->height;
  tm->tmAscent = f->ascent;
  tm->tmDescent = f->descent;
  tm->tmInternalLeading = std::max(0, f->height - f->em);
  tm->tmAveCharWidth = f->average_width;
  tm->tmMaxCharWidth = f->max_width;
  tm->tmWeight = f->weight;
  tm->tmDigitizedAspectX = tm->tmDigitizedAspectY = 96;
  tm->tmFirstChar = 0x20;
  tm->tmLastChar = 0xFFFF;
  tm->tmDefaultChar = 0x1F;
  tm->tmBreakChar = 0x20;
  tm->tmItalic = dc->font->logfont.lfItalic;
  tm->tmUnderlined = dc->font->logfont.lfUnderline;
  tm->tmStruckOut = dc->font->logfont.lfStrikeOut;
  tm->tmCharSet = dc->font->logfont.lfCharSet;
  return TRUE;
}

BOOL WINAPI GetTextExtentPoint32W(HDC handle, LPCWSTR text, int count, LPSIZE size) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc || !size || count < 0 || (!text && count > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  RealFont* f = dc_font_locked(*dc);
  if (!f) return FALSE;
  size->cx = run_width(layout(f, text, count, false));
  size->cy = f->height;
  return TRUE;
}

DWORD WINAPI GetGlyphIndicesW(HDC handle, LPCWSTR text, int count, WORD* indices, DWORD flags) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc || !text || !indices || count < 0 || (flags & ~(DWORD)GGI_MARK_NONEXISTING_GLYPHS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return GDI_ERROR;
  }
  RealFont* f = dc_font_locked(*dc);
  if (!f) return GDI_ERROR;
  const WORD none = (flags & GGI_MARK_NONEXISTING_GLYPHS) ? 0xFFFF : 0;
  for (int i = 0; i < count; i++) {
    unsigned glyph = f->face ? FT_Get_Char_Index(f->face, text[i]) : 0;
    indices[i] = glyph && glyph < 0xFFFF ? (WORD)glyph : none;
  }
  return (DWORD)count;
}

int WINAPI DrawTextW(HDC handle, LPCWSTR text, int count, LPRECT rect, UINT format) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc || !rect || (!text && count != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  RealFont* f = dc_font_locked(*dc);
  if (!f || !dc->bitmap) return 0;
  count = text ? text_length(text, count) : 0;
  bool single = (format & DT_SINGLELINE) != 0;
  bool prefixes = (format & DT_NOPREFIX) == 0;
  /* The lines: split at "\r\n", "\n" and "\r" unless on a single line. */
  std::vector<std::vector<Item>> lines;
  int start = 0;
  for (int i = 0; i <= count; i++) {
    bool end = i == count;
    bool brk = !end && !single && (text[i] == '\r' || text[i] == '\n');
    if (!end && !brk) continue;
    lines.push_back(layout(f, text + start, i - start, prefixes));
    if (brk && text[i] == '\r' && i + 1 < count && text[i + 1] == '\n') i++;
    start = i + 1;
  }
  if (count == 0) return 0;
  int line_height = f->height;
  int total = line_height * (int)lines.size();
  if (format & DT_CALCRECT) {
    int widest = 0;
    for (const auto& line : lines) widest = std::max(widest, run_width(line));
    rect->right = rect->left + widest;
    rect->bottom = rect->top + total;
    return total;
  }
  int64_t top = rect->top;
  if (single && (format & DT_VCENTER))
    top = rect->top + ((int64_t)rect->bottom - rect->top - line_height) / 2;
  else if (single && (format & DT_BOTTOM))
    top = (int64_t)rect->bottom - line_height;
  RECT box = device_rect(*dc, rect->left, rect->top, rect->right, rect->bottom);
  std::vector<RECT> clips =
      clip_to(dc_clip_rects_locked(*dc), (format & DT_NOCLIP) ? nullptr : &box);
  const Surface& s = dc->bitmap->surface;
  int y = clamp_coord(top + dc->origin.y);
  for (const auto& line : lines) {
    int width = run_width(line);
    int64_t left = rect->left;
    if (format & DT_CENTER)
      left = rect->left + ((int64_t)rect->right - rect->left - width) / 2;
    else if (format & DT_RIGHT)
      left = (int64_t)rect->right - width;
    int x = clamp_coord(left + dc->origin.x);
    if (dc->bk_mode == OPAQUE)
      fill_clipped(s, RECT{x, y, x + width, y + line_height}, clips,
                   s.ops->from_rgb(s, colorref_to_rgb(dc->bk_color)));
    draw_run(*dc, f, line, nullptr, x, y, clips);
    y += line_height;
  }
  touch(*dc, clips);
  if (single && (format & (DT_VCENTER | DT_BOTTOM))) return (int)(top - rect->top) + total;
  return total;
}

BOOL WINAPI ExtTextOutW(HDC handle, int x, int y, UINT options, const RECT* rect, LPCWSTR text,
                        UINT count, const INT* dx) {
  std::lock_guard<std::mutex> guard(gdi_mutex());
  Dc* dc = dc_locked(handle);
  if (!dc || (!text && count > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  RealFont* f = dc_font_locked(*dc);
  if (!f || !dc->bitmap) return FALSE;
  const Surface& s = dc->bitmap->surface;
  std::vector<RECT> clips = dc_clip_rects_locked(*dc);
  RECT box{};
  if (rect) box = device_rect(*dc, rect->left, rect->top, rect->right, rect->bottom);
  if (rect && (options & ETO_OPAQUE))
    fill_clipped(s, box, clips, s.ops->from_rgb(s, colorref_to_rgb(dc->bk_color)));
  if (rect && (options & ETO_CLIPPED)) clips = clip_to(clips, &box);
  std::vector<Item> items = layout(f, text, (int)count, false);
  /* Caller-given advances are per UTF-16 unit; a surrogate pair gets both. */
  std::vector<int> advances;
  if (dx) {
    int unit = 0;
    for (size_t i = 0; i < items.size() && unit < (int)count; i++) {
      int start = unit;
      next_code_point(text, (int)count, &unit);
      int a = 0;
      for (int k = start; k < unit; k++) a += dx[k];
      advances.push_back(a);
    }
  }
  int width = 0;
  for (size_t i = 0; i < items.size(); i++) width += dx ? advances[i] : items[i].advance;
  UINT align = dc->text_align;
  int64_t start = x;
  if ((align & TA_CENTER) == TA_CENTER)
    start = (int64_t)x - width / 2;
  else if (align & TA_RIGHT)
    start = (int64_t)x - width;
  int64_t cell_top = y;
  if ((align & TA_BASELINE) == TA_BASELINE)
    cell_top = (int64_t)y - f->ascent;
  else if (align & TA_BOTTOM)
    cell_top = (int64_t)y - f->height;
  int left = clamp_coord(start + dc->origin.x);
  int top = clamp_coord(cell_top + dc->origin.y);
  if (dc->bk_mode == OPAQUE)
    fill_clipped(s, RECT{left, top, left + width, top + f->height}, clips,
                 s.ops->from_rgb(s, colorref_to_rgb(dc->bk_color)));
  draw_run(*dc, f, items, dx ? advances.data() : nullptr, left, top, clips);
  touch(*dc, dc_clip_rects_locked(*dc));
  return TRUE;
}

#if defined(__SANITIZE_ADDRESS__)
/* fontconfig loses a block while parsing its configuration files; that leak
 * is the library's, not ours. */
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

BOOL WINAPI TextOutW(HDC dc, int x, int y, LPCWSTR text, int count) {
  if (count < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return ExtTextOutW(dc, x, y, 0, nullptr, text, (UINT)count, nullptr);
}
