/* UTF-8 <-> UTF-16 for the host side of the platform. */
#include "plat/host.h"

namespace plat {

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += (char)cp;
  } else if (cp < 0x800) {
    out += (char)(0xC0 | (cp >> 6));
    out += (char)(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += (char)(0xE0 | (cp >> 12));
    out += (char)(0x80 | ((cp >> 6) & 0x3F));
    out += (char)(0x80 | (cp & 0x3F));
  } else {
    out += (char)(0xF0 | (cp >> 18));
    out += (char)(0x80 | ((cp >> 12) & 0x3F));
    out += (char)(0x80 | ((cp >> 6) & 0x3F));
    out += (char)(0x80 | (cp & 0x3F));
  }
}

std::string utf16_to_utf8(const WCHAR* s, size_t n) {
  std::string out;
  if (!s) return out;
  if (n == (size_t)-1) {
    n = 0;
    while (s[n]) n++;
  }
  for (size_t i = 0; i < n; i++) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      i++;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    append_utf8(out, c);
  }
  return out;
}

std::string utf16_to_utf8(const std::u16string& s) { return utf16_to_utf8(s.data(), s.size()); }

std::u16string utf8_to_utf16(const std::string& s) {
  std::u16string out;
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char b = (unsigned char)s[i];
    uint32_t cp;
    size_t len;
    if (b < 0x80) { cp = b; len = 1; }
    else if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; len = 2; }
    else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; len = 3; }
    else if ((b & 0xF8) == 0xF0) { cp = b & 0x07; len = 4; }
    else { out += (char16_t)0xFFFD; i++; continue; }
    if (i + len > n) { out += (char16_t)0xFFFD; break; }
    bool ok = true;
    for (size_t k = 1; k < len; k++) {
      unsigned char c = (unsigned char)s[i + k];
      if ((c & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (c & 0x3F);
    }
    static const uint32_t min_cp[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || cp < min_cp[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
      out += (char16_t)0xFFFD;
      i++;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += (char16_t)(0xD800 + (cp >> 10));
      out += (char16_t)(0xDC00 + (cp & 0x3FF));
    } else {
      out += (char16_t)cp;
    }
    i += len;
  }
  return out;
}

}  // namespace plat
