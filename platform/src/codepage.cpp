/* Code page conversions: code page 936 (GBK, the device's ANSI and OEM code
 * page) from tables built once with iconv's CP936, and UTF-8. */
#include <iconv.h>

#include <mutex>

#include "plat/kernel.h"
#include "plat/strings.h"

namespace {

const UINT kGbk = 936;

enum class Page { Gbk, Utf8, Unknown };

Page page_of(UINT code_page) {
  switch (code_page) {
    case CP_ACP:
    case CP_OEMCP:
    case CP_THREAD_ACP:
    case kGbk:
      return Page::Gbk;
    case CP_UTF8:
      return Page::Utf8;
    default:
      return Page::Unknown;
  }
}

bool gbk_lead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool gbk_trail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

/* decode[lead - 0x81][trail - 0x40]: the character of a double-byte
 * sequence, 0 where it has none. encode[c]: the bytes of c (a single byte
 * when below 0x100, else lead << 8 | trail), 0 where it has none. */
struct GbkTables {
  WCHAR decode[126][191];
  WCHAR single_80; /* the character of the single byte 0x80 */
  uint16_t encode[65536];
};

GbkTables* gbk_tables() {
  static GbkTables* tables;
  static std::once_flag once;
  std::call_once(once, [] {
    static GbkTables t;
    iconv_t to_unicode = iconv_open("UTF-16LE", "CP936");
    iconv_t from_unicode = iconv_open("CP936", "UTF-16LE");
    if (to_unicode == (iconv_t)-1 || from_unicode == (iconv_t)-1) {
      fputs("platform: iconv has no CP936; code page 936 converts ASCII only\n", stderr);
      tables = &t;
      return;
    }
    auto decode = [&](const unsigned char* bytes, size_t n) -> WCHAR {
      char in[2] = {(char)bytes[0], n > 1 ? (char)bytes[1] : (char)0};
      unsigned char out[8];
      char *ip = in, *op = (char*)out;
      size_t il = n, ol = sizeof out;
      iconv(to_unicode, nullptr, nullptr, nullptr, nullptr);
      if (iconv(to_unicode, &ip, &il, &op, &ol) == (size_t)-1 || il != 0 || ol != sizeof out - 2)
        return 0;
      return (WCHAR)(out[0] | out[1] << 8);
    };
    auto encode = [&](WCHAR c) -> uint16_t {
      unsigned char in[2] = {(unsigned char)c, (unsigned char)(c >> 8)};
      unsigned char out[4];
      char *ip = (char*)in, *op = (char*)out;
      size_t il = 2, ol = sizeof out;
      iconv(from_unicode, nullptr, nullptr, nullptr, nullptr);
      if (iconv(from_unicode, &ip, &il, &op, &ol) == (size_t)-1 || il != 0) return 0;
      size_t n = sizeof out - ol;
      if (n == 1) return out[0];
      if (n == 2) return (uint16_t)(out[0] << 8 | out[1]);
      return 0;
    };
    const unsigned char b80 = 0x80;
    t.single_80 = decode(&b80, 1);
    if (t.single_80) t.encode[t.single_80] = 0x80;
    for (int lead = 0x81; lead <= 0xFE; lead++) {
      for (int trail = 0x40; trail <= 0xFE; trail++) {
        if (trail == 0x7F) continue;
        const unsigned char pair[2] = {(unsigned char)lead, (unsigned char)trail};
        WCHAR c = decode(pair, 2);
        if (c < 0x80 || (c >= 0xD800 && c < 0xE000)) continue;
        t.decode[lead - 0x81][trail - 0x40] = c;
        uint16_t bytes = (uint16_t)(lead << 8 | trail);
        if (!t.encode[c]) {
          t.encode[c] = bytes;
        } else if (t.encode[c] != bytes) {
          /* Two sequences share the character: iconv names the one it writes. */
          uint16_t preferred = encode(c);
          if (preferred) t.encode[c] = preferred;
        }
      }
    }
    iconv_close(to_unicode);
    iconv_close(from_unicode);
    tables = &t;
  });
  return tables;
}

/* Output of a conversion: counts only when capacity is 0, and refuses a unit
 * group that does not fit whole. */
template <class T>
struct Output {
  T* out;
  size_t capacity; /* 0: count only */
  size_t length = 0;
  bool overflow = false;

  bool put(const T* units, size_t n) {
    if (capacity && length + n > capacity) {
      overflow = true;
      return false;
    }
    if (capacity)
      for (size_t i = 0; i < n; i++) out[length + i] = units[i];
    length += n;
    return true;
  }
};

/* One step of decoding: the number of bytes read, the units made (1 or 2)
 * and whether the sequence was valid. */
struct Step {
  size_t bytes;
  WCHAR units[2];
  size_t count;
  bool valid;
};

Step decode_gbk(const GbkTables* t, const unsigned char* s, size_t n) {
  unsigned char b = s[0];
  if (b < 0x80) return {1, {b, 0}, 1, true};
  if (b == 0x80 && t->single_80) return {1, {t->single_80, 0}, 1, true};
  if (gbk_lead(b) && n >= 2 && gbk_trail(s[1])) {
    WCHAR c = t->decode[b - 0x81][s[1] - 0x40];
    return {2, {c ? c : (WCHAR)'?', 0}, 1, c != 0};
  }
  /* As Windows: a lead byte takes the byte after it, whatever it is, except
   * a terminator; the pair is one invalid character. */
  if (gbk_lead(b) && n >= 2 && s[1] != 0) return {2, {'?', 0}, 1, false};
  return {1, {'?', 0}, 1, false};
}

Step decode_utf8(const unsigned char* s, size_t n) {
  const Step invalid = {1, {0xFFFD, 0}, 1, false};
  unsigned char b = s[0];
  if (b < 0x80) return {1, {b, 0}, 1, true};
  size_t length;
  uint32_t cp;
  unsigned char low = 0x80, high = 0xBF; /* range of the second byte */
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2, cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3, cp = b & 0x0F;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4, cp = b & 0x07;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return invalid;
  }
  for (size_t i = 1; i < length; i++) {
    unsigned char c = i < n ? s[i] : 0;
    bool ok = i == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
    if (i >= n || !ok) {
      /* The maximal valid prefix is one invalid sequence. */
      Step r = invalid;
      r.bytes = i;
      return r;
    }
    cp = cp << 6 | (c & 0x3F);
  }
  if (cp >= 0x10000) {
    cp -= 0x10000;
    return {length, {(WCHAR)(0xD800 + (cp >> 10)), (WCHAR)(0xDC00 + (cp & 0x3FF))}, 2, true};
  }
  return {length, {(WCHAR)cp, 0}, 1, true};
}

int fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

UINT WINAPI GetACP(void) { return kGbk; }
UINT WINAPI GetOEMCP(void) { return kGbk; }

BOOL WINAPI IsDBCSLeadByteEx(UINT code_page, BYTE c) {
  return page_of(code_page) == Page::Gbk && gbk_lead(c);
}
BOOL WINAPI IsDBCSLeadByte(BYTE c) { return gbk_lead(c); }

int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int bytes, LPWSTR wide,
                               int wide_count) {
  if (!text || bytes == 0 || bytes < -1 || wide_count < 0 || (wide_count > 0 && !wide) ||
      (wide_count > 0 && (const void*)text == (const void*)wide))
    return fail(ERROR_INVALID_PARAMETER);
  Page page = page_of(code_page);
  if (page == Page::Unknown) return fail(ERROR_INVALID_PARAMETER);
  if (page == Page::Utf8 && (flags & ~(DWORD)MB_ERR_INVALID_CHARS))
    return fail(ERROR_INVALID_FLAGS);
  if (page == Page::Gbk &&
      ((flags & ~(DWORD)(MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS)) ||
       (flags & (MB_PRECOMPOSED | MB_COMPOSITE)) == (MB_PRECOMPOSED | MB_COMPOSITE)))
    return fail(ERROR_INVALID_FLAGS);

  size_t n = bytes == -1 ? strlen(text) + 1 : (size_t)bytes;
  const unsigned char* s = (const unsigned char*)text;
  const GbkTables* t = page == Page::Gbk ? gbk_tables() : nullptr;
  Output<WCHAR> out{wide, (size_t)wide_count};
  for (size_t i = 0; i < n;) {
    Step step = t ? decode_gbk(t, s + i, n - i) : decode_utf8(s + i, n - i);
    if (!step.valid && (flags & MB_ERR_INVALID_CHARS)) return fail(ERROR_NO_UNICODE_TRANSLATION);
    if (!out.put(step.units, step.count)) return fail(ERROR_INSUFFICIENT_BUFFER);
    i += step.bytes;
  }
  if (out.length > 0x7FFFFFFF) return fail(ERROR_INSUFFICIENT_BUFFER);
  return (int)out.length;
}

int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR wide, int wide_count,
                               LPSTR text, int bytes, LPCSTR default_char, LPBOOL used_default) {
  if (!wide || wide_count == 0 || wide_count < -1 || bytes < 0 || (bytes > 0 && !text) ||
      (bytes > 0 && (const void*)text == (const void*)wide))
    return fail(ERROR_INVALID_PARAMETER);
  Page page = page_of(code_page);
  if (page == Page::Unknown) return fail(ERROR_INVALID_PARAMETER);
  if (page == Page::Utf8) {
    if (flags & ~(DWORD)WC_ERR_INVALID_CHARS) return fail(ERROR_INVALID_FLAGS);
    if (default_char || used_default) return fail(ERROR_INVALID_PARAMETER);
  } else if (flags & ~(DWORD)(WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR |
                              WC_NO_BEST_FIT_CHARS)) {
    return fail(ERROR_INVALID_FLAGS);
  }

  size_t n = 0;
  if (wide_count == -1) {
    while (wide[n]) n++;
    n++;
  } else {
    n = (size_t)wide_count;
  }
  Output<char> out{text, (size_t)bytes};

  if (page == Page::Utf8) {
    for (size_t i = 0; i < n; i++) {
      uint32_t c = wide[i];
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
        i++;
      } else if (c >= 0xD800 && c < 0xE000) {
        if (flags & WC_ERR_INVALID_CHARS) return fail(ERROR_NO_UNICODE_TRANSLATION);
        c = 0xFFFD;
      }
      char u[4];
      size_t k;
      if (c < 0x80) {
        u[0] = (char)c, k = 1;
      } else if (c < 0x800) {
        u[0] = (char)(0xC0 | c >> 6), u[1] = (char)(0x80 | (c & 0x3F)), k = 2;
      } else if (c < 0x10000) {
        u[0] = (char)(0xE0 | c >> 12), u[1] = (char)(0x80 | ((c >> 6) & 0x3F));
        u[2] = (char)(0x80 | (c & 0x3F)), k = 3;
      } else {
        u[0] = (char)(0xF0 | c >> 18), u[1] = (char)(0x80 | ((c >> 12) & 0x3F));
        u[2] = (char)(0x80 | ((c >> 6) & 0x3F)), u[3] = (char)(0x80 | (c & 0x3F)), k = 4;
      }
      if (!out.put(u, k)) return fail(ERROR_INSUFFICIENT_BUFFER);
    }
  } else {
    const GbkTables* t = gbk_tables();
    /* The default character: one character of the code page, '?' when none
     * is given. */
    char fallback[2] = {'?', 0};
    size_t fallback_length = 1;
    if (default_char) {
      const unsigned char* d = (const unsigned char*)default_char;
      fallback[0] = (char)d[0];
      if (gbk_lead(d[0]) && gbk_trail(d[1])) fallback[1] = (char)d[1], fallback_length = 2;
    }
    if (used_default) *used_default = FALSE;
    for (size_t i = 0; i < n; i++) {
      WCHAR c = wide[i];
      char b[2];
      size_t k;
      uint16_t code = c < 0x80 ? c : t->encode[c];
      if (c < 0x80 || (code && code < 0x100)) {
        b[0] = (char)code, k = 1;
      } else if (code) {
        b[0] = (char)(code >> 8), b[1] = (char)(code & 0xFF), k = 2;
      } else {
        b[0] = fallback[0], b[1] = fallback[1], k = fallback_length;
        if (used_default) *used_default = TRUE;
      }
      if (!out.put(b, k)) return fail(ERROR_INSUFFICIENT_BUFFER);
    }
  }
  if (out.length > 0x7FFFFFFF) return fail(ERROR_INSUFFICIENT_BUFFER);
  return (int)out.length;
}
