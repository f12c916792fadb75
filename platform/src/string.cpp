/* Wide string calls on WCHAR: the CRT's (with the "C" locale's case mapping
 * and Windows' 32-bit long) and the Win32 ones (lstr*, CharUpper/Lower). */
#include <errno.h>
#include <locale.h>

#include <string>

#include "plat/strings.h"

namespace {

WCHAR ascii_lower(WCHAR c) { return c >= 'A' && c <= 'Z' ? (WCHAR)(c + 32) : c; }
WCHAR ascii_upper(WCHAR c) { return c >= 'a' && c <= 'z' ? (WCHAR)(c - 32) : c; }

/* Simple case mapping of the scripts the device shows (see the header). */
WCHAR unicode_upper(WCHAR c) {
  if (c < 0x80) return ascii_upper(c);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return (WCHAR)(c - 0x20);
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x137 && c != 0x130 && c != 0x131) || (c >= 0x14A && c <= 0x177))
    return (WCHAR)(c & ~1u);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return (c & 1) ? c : (WCHAR)(c - 1);
  if (c == 0x3C2) return 0x3A3; /* final sigma */
  if (c >= 0x3B1 && c <= 0x3CB) return (WCHAR)(c - 0x20);
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return (WCHAR)(c - 0x25);
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return (WCHAR)(c - 0x3F);
  if (c >= 0x430 && c <= 0x44F) return (WCHAR)(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return (WCHAR)(c - 0x50);
  if (c >= 0x2170 && c <= 0x217F) return (WCHAR)(c - 0x10);
  if (c >= 0x24D0 && c <= 0x24E9) return (WCHAR)(c - 0x1A);
  if (c >= 0xFF41 && c <= 0xFF5A) return (WCHAR)(c - 0x20);
  return c;
}

WCHAR unicode_lower(WCHAR c) {
  if (c < 0x80) return ascii_lower(c);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return (WCHAR)(c + 0x20);
  if (c == 0x178) return 0xFF;
  if ((c >= 0x100 && c <= 0x137 && c != 0x130 && c != 0x131) || (c >= 0x14A && c <= 0x177))
    return (WCHAR)(c | 1u);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return (c & 1) ? (WCHAR)(c + 1) : c;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return (WCHAR)(c + 0x20);
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return (WCHAR)(c + 0x25);
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return (WCHAR)(c + 0x3F);
  if (c >= 0x410 && c <= 0x42F) return (WCHAR)(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return (WCHAR)(c + 0x50);
  if (c >= 0x2160 && c <= 0x216F) return (WCHAR)(c + 0x10);
  if (c >= 0x24B6 && c <= 0x24CF) return (WCHAR)(c + 0x1A);
  if (c >= 0xFF21 && c <= 0xFF3A) return (WCHAR)(c + 0x20);
  return c;
}

int sign(int v) { return (v > 0) - (v < 0); }

int digit_value(WCHAR c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

/* The common scan of wcstol and wcstoul. The magnitude stops growing past
 * 2^32, which is beyond both results' range. */
struct ParsedInteger {
  unsigned long long magnitude = 0;
  bool negative = false;
  const WCHAR* end = nullptr;
};

ParsedInteger parse_integer(const WCHAR* s, int base) {
  ParsedInteger r;
  r.end = s;
  if (!s) return r;
  if (base < 0 || base == 1 || base > 36) {
    errno = EINVAL;
    return r;
  }
  const WCHAR* p = s;
  while (iswspace(*p)) p++;
  if (*p == '+' || *p == '-') r.negative = *p++ == '-';
  if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
      digit_value(p[2]) < 16) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = p[0] == '0' ? 8 : 10;
  }
  const WCHAR* digits = p;
  const unsigned long long cap = 0x100000000ull;
  for (int d; (d = digit_value(*p)) < base; p++) {
    r.magnitude = r.magnitude * base + d;
    if (r.magnitude > cap) r.magnitude = cap;
  }
  if (p == digits) {
    r.magnitude = 0;
    r.negative = false;
    return r;
  }
  r.end = p;
  return r;
}

WCHAR* format_unsigned(unsigned long value, bool negative, WCHAR* buffer, int base) {
  if (!buffer) return buffer;
  if (base < 2 || base > 36) {
    buffer[0] = 0;
    return buffer;
  }
  WCHAR digits[34];
  int n = 0;
  do {
    int d = (int)(value % base);
    digits[n++] = (WCHAR)(d < 10 ? '0' + d : 'a' + d - 10);
    value /= base;
  } while (value);
  WCHAR* out = buffer;
  if (negative) *out++ = '-';
  while (n) *out++ = digits[--n];
  *out = 0;
  return buffer;
}

locale_t c_locale() {
  static locale_t locale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
  return locale;
}

}  // namespace

/* ---- CRT ---- */

size_t wcslen(const WCHAR* s) {
  const WCHAR* p = s;
  while (*p) p++;
  return (size_t)(p - s);
}

WCHAR* wcscpy(WCHAR* dst, const WCHAR* src) {
  WCHAR* d = dst;
  while ((*d++ = *src++)) {
  }
  return dst;
}

WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n) {
  size_t i = 0;
  for (; i < n && src[i]; i++) dst[i] = src[i];
  for (; i < n; i++) dst[i] = 0;
  return dst;
}

WCHAR* wcscat(WCHAR* dst, const WCHAR* src) {
  wcscpy(dst + wcslen(dst), src);
  return dst;
}

WCHAR* wcsncat(WCHAR* dst, const WCHAR* src, size_t n) {
  WCHAR* d = dst + wcslen(dst);
  size_t i = 0;
  for (; i < n && src[i]; i++) d[i] = src[i];
  d[i] = 0;
  return dst;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
  while (*a && *a == *b) a++, b++;
  return sign((int)*a - (int)*b);
}

int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n) {
  for (; n; n--, a++, b++) {
    if (*a != *b) return sign((int)*a - (int)*b);
    if (!*a) break;
  }
  return 0;
}

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n) {
  for (; n; n--, a++, b++) {
    WCHAR x = ascii_lower(*a), y = ascii_lower(*b);
    if (x != y) return sign((int)x - (int)y);
    if (!x) break;
  }
  return 0;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) { return _wcsnicmp(a, b, (size_t)-1); }

WCHAR* wcschr(WCHAR* s, WCHAR c) {
  for (;; s++) {
    if (*s == c) return s;
    if (!*s) return nullptr;
  }
}
const WCHAR* wcschr(const WCHAR* s, WCHAR c) { return wcschr(const_cast<WCHAR*>(s), c); }

WCHAR* wcsrchr(WCHAR* s, WCHAR c) {
  WCHAR* found = nullptr;
  for (;; s++) {
    if (*s == c) found = s;
    if (!*s) return found;
  }
}
const WCHAR* wcsrchr(const WCHAR* s, WCHAR c) { return wcsrchr(const_cast<WCHAR*>(s), c); }

WCHAR* wcsstr(WCHAR* s, const WCHAR* part) {
  size_t n = wcslen(part);
  for (; *s; s++)
    if (wcsncmp(s, part, n) == 0) return s;
  return n == 0 ? s : nullptr;
}
const WCHAR* wcsstr(const WCHAR* s, const WCHAR* part) {
  return wcsstr(const_cast<WCHAR*>(s), part);
}

WCHAR* _wcsdup(const WCHAR* s) {
  if (!s) return nullptr;
  size_t bytes = (wcslen(s) + 1) * sizeof(WCHAR);
  WCHAR* copy = (WCHAR*)malloc(bytes);
  if (copy) memcpy(copy, s, bytes);
  return copy;
}

WCHAR* _wcsupr(WCHAR* s) {
  for (WCHAR* p = s; p && *p; p++) *p = ascii_upper(*p);
  return s;
}

WCHAR* _wcslwr(WCHAR* s) {
  for (WCHAR* p = s; p && *p; p++) *p = ascii_lower(*p);
  return s;
}

long wcstol(const WCHAR* s, WCHAR** end, int base) {
  ParsedInteger r = parse_integer(s, base);
  if (end) *end = const_cast<WCHAR*>(r.end);
  const unsigned long long max = 0x7FFFFFFF;
  if (r.magnitude > max + (r.negative ? 1 : 0)) {
    errno = ERANGE;
    return r.negative ? -(long)max - 1 : (long)max;
  }
  return r.negative ? -(long)r.magnitude : (long)r.magnitude;
}

unsigned long wcstoul(const WCHAR* s, WCHAR** end, int base) {
  ParsedInteger r = parse_integer(s, base);
  if (end) *end = const_cast<WCHAR*>(r.end);
  if (r.magnitude > 0xFFFFFFFFull) {
    errno = ERANGE;
    return 0xFFFFFFFFul;
  }
  uint32_t v = (uint32_t)r.magnitude;
  return r.negative ? (uint32_t)(0u - v) : v;
}

double wcstod(const WCHAR* s, WCHAR** end) {
  if (end) *end = const_cast<WCHAR*>(s);
  if (!s) return 0.0;
  const WCHAR* p = s;
  while (iswspace(*p)) p++;
  const WCHAR* start = p;
  if (*p == '+' || *p == '-') p++;
  bool digits = false;
  while (iswdigit(*p)) p++, digits = true;
  if (*p == '.') {
    p++;
    while (iswdigit(*p)) p++, digits = true;
  }
  if (!digits) return 0.0;
  if (*p == 'e' || *p == 'E') {
    const WCHAR* e = p + 1;
    if (*e == '+' || *e == '-') e++;
    if (iswdigit(*e)) {
      while (iswdigit(*e)) e++;
      p = e;
    }
  }
  std::string text(start, p); /* ASCII only */
  double v = strtod_l(text.c_str(), nullptr, c_locale());
  if (end) *end = const_cast<WCHAR*>(p);
  return v;
}

int _wtoi(const WCHAR* s) { return (int)wcstol(s, nullptr, 10); }
long _wtol(const WCHAR* s) { return wcstol(s, nullptr, 10); }
double _wtof(const WCHAR* s) { return wcstod(s, nullptr); }

WCHAR* _itow(int value, WCHAR* buffer, int base) {
  if (base == 10 && value < 0)
    return format_unsigned(0u - (uint32_t)value, true, buffer, base);
  return format_unsigned((uint32_t)value, false, buffer, base);
}
WCHAR* _ltow(long value, WCHAR* buffer, int base) { return _itow((int)value, buffer, base); }
WCHAR* _ultow(unsigned long value, WCHAR* buffer, int base) {
  return format_unsigned((uint32_t)value, false, buffer, base);
}

WCHAR towupper(WCHAR c) { return ascii_upper(c); }
WCHAR towlower(WCHAR c) { return ascii_lower(c); }
int iswspace(WCHAR c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x3000;
}
int iswdigit(WCHAR c) { return c >= '0' && c <= '9'; }

/* ---- Win32 ---- */

int WINAPI lstrlenW(LPCWSTR s) { return s ? (int)wcslen(s) : 0; }

LPWSTR WINAPI lstrcpyW(LPWSTR dst, LPCWSTR src) {
  if (!dst || !src) return nullptr;
  return wcscpy(dst, src);
}

LPWSTR WINAPI lstrcpynW(LPWSTR dst, LPCWSTR src, int size) {
  if (!dst || !src) return nullptr;
  if (size <= 0) return dst;
  int i = 0;
  for (; i < size - 1 && src[i]; i++) dst[i] = src[i];
  dst[i] = 0;
  return dst;
}

LPWSTR WINAPI lstrcatW(LPWSTR dst, LPCWSTR src) {
  if (!dst || !src) return nullptr;
  return wcscat(dst, src);
}

namespace {

/* The alphabetic weight of a character: 0 for the ones word order passes
 * over, then punctuation, digits, letters. */
unsigned primary_weight(WCHAR c) {
  if (c == '-' || c == '\'') return 0;
  if (c >= '0' && c <= '9') return 0x200 + c;
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return 0x300 + ascii_lower(c);
  if (c < 0x80) return 0x100 + c;
  return 0x10000 + unicode_upper(c);
}

bool is_lower(WCHAR c) { return unicode_upper(c) != c; }

int compare_words(LPCWSTR a, LPCWSTR b, bool ignore_case) {
  static const WCHAR empty[] = {0};
  if (!a) a = empty;
  if (!b) b = empty;
  int case_order = 0;
  const WCHAR *p = a, *q = b;
  for (;;) {
    while (*p && primary_weight(*p) == 0) p++;
    while (*q && primary_weight(*q) == 0) q++;
    if (!*p || !*q) break;
    unsigned x = primary_weight(*p), y = primary_weight(*q);
    if (x != y) return x < y ? -1 : 1;
    if (!case_order && *p != *q) case_order = is_lower(*p) ? -1 : 1;
    p++, q++;
  }
  if (*p || *q) return *p ? 1 : -1;
  if (!ignore_case && case_order) return case_order;
  for (p = a, q = b; *p || *q; p++, q++) {
    WCHAR x = ignore_case ? unicode_upper(*p) : *p, y = ignore_case ? unicode_upper(*q) : *q;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool is_single_character(LPWSTR s) { return ((uintptr_t)s >> 16) == 0; }

}  // namespace

int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b) { return compare_words(a, b, false); }
int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b) { return compare_words(a, b, true); }

DWORD WINAPI CharUpperBuffW(LPWSTR s, DWORD length) {
  if (!s) return 0;
  for (DWORD i = 0; i < length; i++) s[i] = unicode_upper(s[i]);
  return length;
}

DWORD WINAPI CharLowerBuffW(LPWSTR s, DWORD length) {
  if (!s) return 0;
  for (DWORD i = 0; i < length; i++) s[i] = unicode_lower(s[i]);
  return length;
}

LPWSTR WINAPI CharUpperW(LPWSTR s) {
  if (is_single_character(s)) return (LPWSTR)(uintptr_t)unicode_upper((WCHAR)(uintptr_t)s);
  CharUpperBuffW(s, (DWORD)wcslen(s));
  return s;
}

LPWSTR WINAPI CharLowerW(LPWSTR s) {
  if (is_single_character(s)) return (LPWSTR)(uintptr_t)unicode_lower((WCHAR)(uintptr_t)s);
  CharLowerBuffW(s, (DWORD)wcslen(s));
  return s;
}
