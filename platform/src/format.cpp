/* printf-style formatting with the Microsoft CRT's rules, narrow and wide.
 * One core, templated on the output character and on where the arguments
 * come from (a va_list, or the typed list of the variadic templates), parses
 * each conversion; integers and strings are formatted here, floating point
 * numbers by the C library's snprintf with the exponent widened to the CRT's
 * three digits. */
#define PLAT_STRINGS_NO_REDIRECT
#include <limits.h>
#include <math.h>

#include <string>
#include <type_traits>

#include "plat/files.h"
#include "plat/strings.h"

namespace {

using plat_fmt::Arg;

enum class Length { None, hh, h, l, ll, L, w, I64, I32, I, z, j, t };

struct Spec {
  bool minus = false, plus = false, space = false, hash = false, zero = false;
  size_t width = 0;
  int precision = -1; /* -1: none */
  Length length = Length::None;
  char conv = 0;
};

/* Bits of an integer conversion; `size` is the argument's own size in bytes
 * where it is known (l follows it, since long has 32 bits on Windows). */
int integer_bits(Length length, size_t size) {
  switch (length) {
    case Length::hh: return 8;
    case Length::h: return 16;
    case Length::l:
    case Length::w: return size > 4 ? 64 : 32;
    case Length::ll:
    case Length::L:
    case Length::I64:
    case Length::j: return 64;
    case Length::I:
    case Length::z:
    case Length::t: return (int)sizeof(size_t) * 8;
    default: return 32;
  }
}

/* Arguments from a va_list, read with the sizes Windows gives the types. */
class VaSource {
 public:
  explicit VaSource(va_list args) { va_copy(args_, args); }
  ~VaSource() { va_end(args_); }
  VaSource(const VaSource&) = delete;
  VaSource& operator=(const VaSource&) = delete;

  bool integer(Length length, unsigned long long* value, int* bits) {
    *bits = integer_bits(length, 4);
    if (*bits <= 32)
      *value = (unsigned long long)(long long)va_arg(args_, int);
    else
      *value = (unsigned long long)va_arg(args_, long long);
    return true;
  }
  bool real(Length length, long double* value, bool* is_long) {
    *is_long = length == Length::L;
    *value = *is_long ? va_arg(args_, long double) : (long double)va_arg(args_, double);
    return true;
  }
  bool pointer(Arg::Kind* kind, const void** p) {
    *p = va_arg(args_, const void*);
    *kind = Arg::Pointer;
    return true;
  }

 private:
  va_list args_;
};

/* Arguments of a variadic template call: each knows its type. */
class TypedSource {
 public:
  TypedSource(const Arg* args, size_t count) : args_(args), count_(count) {}

  bool integer(Length length, unsigned long long* value, int* bits) {
    const Arg* a = take();
    if (!a) return false;
    if (a->kind == Arg::Integer) {
      *value = (unsigned long long)a->i;
      *bits = integer_bits(length, a->size);
      return true;
    }
    if (a->kind == Arg::Pointer || a->kind == Arg::Text8 || a->kind == Arg::Text16 ||
        a->kind == Arg::Text32) {
      *value = (uintptr_t)a->p;
      *bits = integer_bits(length, sizeof(void*));
      return true;
    }
    return false;
  }
  bool real(Length length, long double* value, bool* is_long) {
    const Arg* a = take();
    if (!a) return false;
    if (a->kind == Arg::Real) {
      *value = a->d;
      *is_long = length == Length::L;
      return true;
    }
    if (a->kind == Arg::LongReal) {
      *value = a->ld;
      *is_long = true;
      return true;
    }
    return false;
  }
  bool pointer(Arg::Kind* kind, const void** p) {
    const Arg* a = take();
    if (!a) return false;
    if (a->kind == Arg::Integer) {
      /* NULL is an integer constant in C++. */
      if (a->i != 0) return false;
      *kind = Arg::Pointer;
      *p = nullptr;
      return true;
    }
    if (a->kind == Arg::Real || a->kind == Arg::LongReal || a->kind == Arg::None) return false;
    *kind = a->kind;
    *p = a->p;
    return true;
  }

 private:
  const Arg* take() { return next_ < count_ ? &args_[next_++] : nullptr; }
  const Arg* args_;
  size_t count_;
  size_t next_ = 0;
};

/* Output: into a buffer of `capacity` units (counting what does not fit),
 * or appended to a string. */
template <class C>
struct Sink {
  C* buffer = nullptr;
  size_t capacity = 0;
  std::basic_string<C>* text = nullptr;
  size_t length = 0;

  void put(C c) {
    if (text)
      text->push_back(c);
    else if (length < capacity)
      buffer[length] = c;
    length++;
  }
  void fill(C c, size_t n) {
    for (size_t i = 0; i < n; i++) put(c);
  }
  /* ASCII text or text of the output's own width. */
  template <class S>
  void put(const S* s, size_t n) {
    using U = typename std::make_unsigned<S>::type;
    for (size_t i = 0; i < n; i++) put((C)(U)s[i]);
  }
};

template <class C>
void pad_and_put(Sink<C>& out, const Spec& spec, const C* text, size_t n, bool zeros,
                 size_t counted = (size_t)-1) {
  /* `counted`: the length the width is measured against, when it is not n
   * (text converted between widths counts in its source's units). */
  if (counted == (size_t)-1) counted = n;
  size_t pad = spec.width > counted ? spec.width - counted : 0;
  if (!spec.minus) out.fill(zeros && spec.zero ? '0' : ' ', pad);
  out.put(text, n);
  if (spec.minus) out.fill(' ', pad);
}

/* A number: prefix (sign, "0x"), then zeros (the '0' flag), then body. */
template <class C>
void put_number(Sink<C>& out, const Spec& spec, const std::string& prefix, const std::string& body,
                bool zeros_allowed) {
  size_t n = prefix.size() + body.size();
  size_t pad = spec.width > n ? spec.width - n : 0;
  bool zeros = zeros_allowed && spec.zero && !spec.minus;
  if (!spec.minus && !zeros) out.fill(' ', pad);
  out.put(prefix.data(), prefix.size());
  if (zeros) out.fill('0', pad);
  out.put(body.data(), body.size());
  if (spec.minus) out.fill(' ', pad);
}

template <class C>
void put_mismatch(Sink<C>& out, const Spec& spec) {
  out.put('%');
  out.put('!');
  out.put((C)(unsigned char)spec.conv);
}

template <class C>
void format_integer(Sink<C>& out, const Spec& spec, unsigned long long value, int bits) {
  const char conv = spec.conv;
  const bool is_signed = conv == 'd' || conv == 'i';
  unsigned long long mask = bits >= 64 ? ~0ull : (1ull << bits) - 1;
  unsigned long long magnitude = value & mask;
  bool negative = false;
  if (is_signed && bits < 64 && (magnitude >> (bits - 1)) & 1) {
    negative = true;
    magnitude = (0ull - magnitude) & mask;
  } else if (is_signed && bits >= 64 && (long long)magnitude < 0) {
    negative = true;
    magnitude = 0ull - magnitude;
  }
  unsigned base = conv == 'o' ? 8 : (conv == 'x' || conv == 'X') ? 16 : 10;
  const char* digit_chars = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[72];
  size_t n = 0;
  for (unsigned long long v = magnitude; v; v /= base) digits[n++] = digit_chars[v % base];
  std::string body;
  size_t min_digits = spec.precision >= 0 ? (size_t)spec.precision : 1;
  if (n < min_digits) body.assign(min_digits - n, '0');
  while (n) body.push_back(digits[--n]);
  if (conv == 'o' && spec.hash && (body.empty() || body[0] != '0')) body.insert(body.begin(), '0');
  std::string prefix;
  if (is_signed) {
    if (negative)
      prefix = "-";
    else if (spec.plus)
      prefix = "+";
    else if (spec.space)
      prefix = " ";
  }
  if (base == 16 && spec.hash && magnitude) prefix += conv == 'X' ? "0X" : "0x";
  put_number(out, spec, prefix, body, spec.precision < 0);
}

template <class C>
void format_pointer(Sink<C>& out, const Spec& spec, const void* p) {
  uintptr_t v = (uintptr_t)p;
  std::string body(sizeof(void*) * 2, '0');
  for (size_t i = body.size(); i-- > 0; v >>= 4) body[i] = "0123456789ABCDEF"[v & 15];
  put_number(out, spec, std::string(), body, true);
}

template <class C>
void format_real(Sink<C>& out, const Spec& spec, long double value, bool is_long) {
  std::string f = "%";
  if (spec.plus) f += '+';
  if (spec.space) f += ' ';
  if (spec.hash) f += '#';
  if (spec.precision >= 0) f += "." + std::to_string(spec.precision);
  if (is_long) f += 'L';
  f += spec.conv;
  int n = is_long ? snprintf(nullptr, 0, f.c_str(), value)
                  : snprintf(nullptr, 0, f.c_str(), (double)value);
  if (n < 0) return;
  std::string body((size_t)n + 1, '\0');
  if (is_long)
    snprintf(&body[0], body.size(), f.c_str(), value);
  else
    snprintf(&body[0], body.size(), f.c_str(), (double)value);
  body.resize((size_t)n);
  const bool finite = std::isfinite(value);
  if (finite && (spec.conv == 'e' || spec.conv == 'E' || spec.conv == 'g' || spec.conv == 'G')) {
    size_t e = body.find_last_of("eE");
    if (e != std::string::npos && e + 1 < body.size()) {
      size_t digits_at = e + 2; /* after the exponent's sign */
      size_t digits = body.size() - digits_at;
      if (digits < 3) body.insert(digits_at, 3 - digits, '0');
    }
  }
  std::string prefix;
  if (!body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) {
    prefix = body.substr(0, 1);
    body.erase(0, 1);
  }
  if ((spec.conv == 'a' || spec.conv == 'A') && body.size() >= 2 && body[0] == '0' &&
      (body[1] == 'x' || body[1] == 'X')) {
    prefix += body.substr(0, 2);
    body.erase(0, 2);
  }
  put_number(out, spec, prefix, body, finite);
}

/* Whether a string or character conversion takes wide text. */
bool takes_wide(const Spec& spec, bool wide_output) {
  if (spec.length == Length::h || spec.length == Length::hh) return false;
  if (spec.length == Length::l || spec.length == Length::w) return true;
  bool swapped = spec.conv == 'S' || spec.conv == 'C';
  return wide_output != swapped;
}

size_t length16(const WCHAR* s, int precision) {
  size_t n = 0;
  while ((precision < 0 || n < (size_t)precision) && s[n]) n++;
  return n;
}

size_t length8(const char* s, int precision) {
  size_t n = 0;
  while ((precision < 0 || n < (size_t)precision) && s[n]) n++;
  return n;
}

/* UTF-32 (a host wchar_t string) to UTF-16, at most `precision` units. */
std::u16string from_utf32(const wchar_t* s, int precision) {
  std::u16string out;
  for (; *s && (precision < 0 || out.size() < (size_t)precision); s++) {
    uint32_t c = (uint32_t)*s;
    if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) c = 0xFFFD;
    if (c >= 0x10000) {
      if (precision >= 0 && out.size() + 2 > (size_t)precision) break;
      c -= 0x10000;
      out.push_back((char16_t)(0xD800 + (c >> 10)));
      out.push_back((char16_t)(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back((char16_t)c);
    }
  }
  return out;
}

/* Wide text to the ANSI code page. */
std::string to_ansi(const WCHAR* s, size_t n) {
  std::string out;
  if (n == 0) return out;
  out.resize(n * 2);
  int r = WideCharToMultiByte(CP_ACP, 0, s, (int)n, &out[0], (int)out.size(), nullptr, nullptr);
  out.resize(r > 0 ? (size_t)r : 0);
  return out;
}

/* The first `bytes` bytes of ANSI text to wide; a lead byte whose trail byte
 * is cut off becomes '?'. Reads no byte past them. */
std::u16string from_ansi(const char* s, size_t bytes) {
  std::u16string out;
  size_t i = 0;
  while (i < bytes) {
    const bool lead = IsDBCSLeadByte((BYTE)s[i]);
    if (lead && i + 1 >= bytes) {
      out.push_back(u'?');
      break;
    }
    const size_t step = lead ? 2 : 1;
    WCHAR c;
    if (MultiByteToWideChar(CP_ACP, 0, s + i, (int)step, &c, 1) != 1) c = u'?';
    out.push_back(c);
    i += step;
  }
  return out;
}

template <class C, class Source>
void format_string(Sink<C>& out, const Spec& spec, Source& source) {
  const bool wide_output = std::is_same<C, WCHAR>::value;
  const bool wide = takes_wide(spec, wide_output);
  Arg::Kind kind;
  const void* p;
  if (!source.pointer(&kind, &p) || (wide && kind == Arg::Text8) ||
      (!wide && (kind == Arg::Text16 || kind == Arg::Text32))) {
    put_mismatch(out, spec);
    return;
  }
  if (!p) {
    static const char null_text[] = "(null)";
    size_t n = spec.precision >= 0 && spec.precision < 6 ? (size_t)spec.precision : 6;
    std::basic_string<C> text(null_text, null_text + n);
    pad_and_put(out, spec, text.data(), text.size(), true);
    return;
  }
  std::u16string converted;
  const WCHAR* w = nullptr;
  size_t wn = 0;
  if (wide) {
    if (kind == Arg::Text32) {
      converted = from_utf32((const wchar_t*)p, spec.precision);
      w = converted.data(), wn = converted.size();
    } else {
      w = (const WCHAR*)p;
      wn = length16(w, spec.precision);
    }
  }
  /* Text converted between widths is measured, for the precision and the
   * width, in its source's units, as the Microsoft C library does: bytes of
   * narrow text, UTF-16 units of wide text. */
  if (wide_output) {
    size_t counted = wn;
    if (!wide) {
      counted = length8((const char*)p, spec.precision);
      converted = from_ansi((const char*)p, counted);
      w = converted.data(), wn = converted.size();
    }
    pad_and_put(out, spec, (const C*)w, wn, true, counted);
  } else if (wide) {
    std::string narrow = to_ansi(w, wn);
    pad_and_put(out, spec, (const C*)narrow.data(), narrow.size(), true, wn);
  } else {
    const char* s = (const char*)p;
    pad_and_put(out, spec, (const C*)s, length8(s, spec.precision), true);
  }
}

template <class C, class Source>
void format_char(Sink<C>& out, const Spec& spec, Source& source) {
  const bool wide_output = std::is_same<C, WCHAR>::value;
  const bool wide = takes_wide(spec, wide_output);
  unsigned long long value;
  int bits;
  if (!source.integer(Length::None, &value, &bits)) {
    put_mismatch(out, spec);
    return;
  }
  if (wide_output) {
    WCHAR c = (WCHAR)value;
    if (!wide) {
      char b = (char)value;
      if (MultiByteToWideChar(CP_ACP, 0, &b, 1, &c, 1) != 1) c = '?';
    }
    pad_and_put(out, spec, (const C*)&c, 1, true);
  } else if (wide) {
    WCHAR c = (WCHAR)value;
    std::string narrow = to_ansi(&c, 1);
    pad_and_put(out, spec, (const C*)narrow.data(), narrow.size(), true, 1);
  } else {
    char c = (char)value;
    pad_and_put(out, spec, (const C*)&c, 1, true);
  }
}

bool is_digit(unsigned c) { return c >= '0' && c <= '9'; }

/* The core. `restricted` is wsprintf's dialect: flags - # 0 only, no '*',
 * no floating point, o or n. */
template <class C, class Source>
void format(Sink<C>& out, const C* f, Source& source, bool restricted) {
  while (*f) {
    if (*f != '%') {
      out.put(*f++);
      continue;
    }
    const C* start = f++;
    Spec spec;
    for (;; f++) {
      if (*f == '-') spec.minus = true;
      else if (*f == '#') spec.hash = true;
      else if (*f == '0') spec.zero = true;
      else if (*f == '+' && !restricted) spec.plus = true;
      else if (*f == ' ' && !restricted) spec.space = true;
      else break;
    }
    if (*f == '*' && !restricted) {
      f++;
      unsigned long long v = 0;
      int bits;
      if (source.integer(Length::None, &v, &bits)) {
        int w = (int)(unsigned)v;
        if (w < 0) {
          spec.minus = true;
          spec.width = 0u - (unsigned)w;
        } else {
          spec.width = (size_t)w;
        }
      }
    } else {
      for (; is_digit(*f); f++)
        spec.width = spec.width < INT_MAX / 10 ? spec.width * 10 + (*f - '0') : INT_MAX;
    }
    if (*f == '.') {
      f++;
      spec.precision = 0;
      if (*f == '*' && !restricted) {
        f++;
        unsigned long long v = 0;
        int bits;
        if (source.integer(Length::None, &v, &bits)) spec.precision = (int)(unsigned)v;
        if (spec.precision < 0) spec.precision = -1;
      } else {
        for (; is_digit(*f); f++)
          spec.precision = spec.precision < INT_MAX / 10 ? spec.precision * 10 + (*f - '0') : INT_MAX;
      }
    }
    switch (*f) {
      case 'h':
        f++;
        spec.length = Length::h;
        if (*f == 'h' && !restricted) f++, spec.length = Length::hh;
        break;
      case 'l':
        f++;
        spec.length = Length::l;
        if (*f == 'l' && !restricted) f++, spec.length = Length::ll;
        break;
      case 'w': f++, spec.length = Length::w; break;
      case 'I':
        if (f[1] == '6' && f[2] == '4') f += 3, spec.length = Length::I64;
        else if (f[1] == '3' && f[2] == '2') f += 3, spec.length = Length::I32;
        else if (!restricted) f++, spec.length = Length::I;
        break;
      default:
        if (!restricted && (*f == 'L' || *f == 'z' || *f == 'j' || *f == 't')) {
          spec.length = *f == 'L' ? Length::L : *f == 'z' ? Length::z : *f == 'j' ? Length::j : Length::t;
          f++;
        }
        break;
    }
    unsigned conv = (unsigned)*f;
    spec.conv = conv < 0x80 ? (char)conv : '?';
    bool known = true;
    switch (conv) {
      case '%':
        out.put('%');
        break;
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': {
        if (restricted && conv == 'o') {
          known = false;
          break;
        }
        unsigned long long v;
        int bits;
        if (source.integer(spec.length, &v, &bits))
          format_integer(out, spec, v, bits);
        else
          put_mismatch(out, spec);
        break;
      }
      case 'c': case 'C':
        format_char(out, spec, source);
        break;
      case 's': case 'S':
        format_string(out, spec, source);
        break;
      case 'p': {
        Arg::Kind kind;
        const void* p;
        if (source.pointer(&kind, &p))
          format_pointer(out, spec, p);
        else
          put_mismatch(out, spec);
        break;
      }
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A': {
        if (restricted) {
          known = false;
          break;
        }
        long double v;
        bool is_long;
        if (source.real(spec.length, &v, &is_long))
          format_real(out, spec, v, is_long);
        else
          put_mismatch(out, spec);
        break;
      }
      case 'n': {
        if (restricted) {
          known = false;
          break;
        }
        Arg::Kind kind;
        const void* p;
        source.pointer(&kind, &p); /* consumed, never written */
        break;
      }
      default:
        known = false;
        break;
    }
    if (!known) {
      /* Not a conversion: the text stands as written. */
      if (*f) f++;
      for (const C* p = start; p < f; p++) out.put(*p);
      continue;
    }
    f++;
  }
}

template <class C, class Source>
int to_buffer_from(C* buffer, size_t count, plat_fmt::Target target, const C* format_text,
                   Source& source) {
  using plat_fmt::Target;
  if (!format_text) return -1;
  if (!buffer && (count || target == Target::Unbounded || target == Target::Wsprintf)) return -1;
  const size_t wsprintf_limit = 1023;
  Sink<C> out;
  out.buffer = buffer;
  switch (target) {
    case Target::Msvc: out.capacity = count; break;
    case Target::C99: out.capacity = count ? count - 1 : 0; break;
    case Target::Unbounded: out.capacity = (size_t)-1; break;
    case Target::Wsprintf: out.capacity = wsprintf_limit; break;
  }
  format(out, format_text, source, target == Target::Wsprintf);
  size_t n = out.length;
  switch (target) {
    case Target::Msvc:
      if (n < count) buffer[n] = 0;
      return n > count || n > INT_MAX ? -1 : (int)n;
    case Target::C99:
      if (count) buffer[n < count ? n : count - 1] = 0;
      return n > INT_MAX ? -1 : (int)n;
    case Target::Unbounded:
      buffer[n] = 0;
      return n > INT_MAX ? -1 : (int)n;
    case Target::Wsprintf:
      if (n > wsprintf_limit) n = wsprintf_limit;
      buffer[n] = 0;
      return (int)n;
  }
  return -1;
}

template <class Source>
int to_stream_from(FILE* stream, const char* format_text, Source& source) {
  if (!stream || !format_text) return -1;
  std::string text;
  Sink<char> out;
  out.text = &text;
  format(out, format_text, source, false);
  if (text.size() > INT_MAX) return -1;
  if (!text.empty() && fwrite(text.data(), 1, text.size(), stream) != text.size()) return -1;
  return (int)text.size();
}

template <class Source>
int to_stream_from(FILE* stream, const WCHAR* format_text, Source& source) {
  if (!stream || !format_text) return -1;
  std::u16string text;
  Sink<WCHAR> out;
  out.text = &text;
  format(out, format_text, source, false);
  if (text.size() > INT_MAX) return -1;
  if (stream == stdout || stream == stderr) {
    /* The console streams are text streams of the ANSI code page. */
    std::string bytes = to_ansi(text.data(), text.size());
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) return -1;
  } else {
    for (WCHAR c : text)
      if (fputwc(c, stream) == WEOF) return -1;
  }
  return (int)text.size();
}

}  // namespace

namespace plat_fmt {

int to_buffer(char* out, size_t count, Target target, const char* format, const Arg* args,
              size_t arg_count) {
  TypedSource source(args, arg_count);
  return to_buffer_from(out, count, target, format, source);
}

int to_buffer(WCHAR* out, size_t count, Target target, const WCHAR* format, const Arg* args,
              size_t arg_count) {
  TypedSource source(args, arg_count);
  return to_buffer_from(out, count, target, format, source);
}

int to_stream(FILE* stream, const char* format, const Arg* args, size_t arg_count) {
  TypedSource source(args, arg_count);
  return to_stream_from(stream, format, source);
}

int to_stream(FILE* stream, const WCHAR* format, const Arg* args, size_t arg_count) {
  TypedSource source(args, arg_count);
  return to_stream_from(stream, format, source);
}

}  // namespace plat_fmt

int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args) {
  VaSource source(args);
  return to_buffer_from(buffer, count, plat_fmt::Msvc, format, source);
}

int WINAPI wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args) {
  VaSource source(args);
  return to_buffer_from(buffer, (size_t)-1, plat_fmt::Wsprintf, format, source);
}

int vfwprintf(FILE* stream, const WCHAR* format, va_list args) {
  VaSource source(args);
  return to_stream_from(stream, format, source);
}

int vwprintf(const WCHAR* format, va_list args) { return vfwprintf(stdout, format, args); }

int _vsnprintf(char* buffer, size_t count, const char* format, va_list args) {
  VaSource source(args);
  return to_buffer_from(buffer, count, plat_fmt::Msvc, format, source);
}

int plat_vsnprintf(char* buffer, size_t count, const char* format, va_list args) {
  VaSource source(args);
  return to_buffer_from(buffer, count, plat_fmt::C99, format, source);
}

int plat_vsprintf(char* buffer, const char* format, va_list args) {
  VaSource source(args);
  return to_buffer_from(buffer, (size_t)-1, plat_fmt::Unbounded, format, source);
}

int plat_vfprintf(FILE* stream, const char* format, va_list args) {
  VaSource source(args);
  return to_stream_from(stream, format, source);
}

int plat_vprintf(const char* format, va_list args) { return plat_vfprintf(stdout, format, args); }
