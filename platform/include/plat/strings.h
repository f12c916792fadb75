/* The strings part of the Win32 subset: the CRT's wide string calls on WCHAR,
 * printf-style formatting with the Microsoft CRT's rules, and the code page
 * conversions of the device (ANSI and OEM code page 936, GBK; and UTF-8).
 *
 * Wide string calls are C++ overloads on WCHAR beside the C library's
 * wchar_t ones. The CRT's case mapping (towupper, _wcsicmp, ...) is that of
 * the "C" locale: only A-Z and a-z. The Win32 calls (CharUpperW, lstrcmpiW)
 * also map Latin-1, Latin Extended-A, Greek, Cyrillic and the fullwidth
 * letters. wcstol and its kin work in the 32 bits that long has on Windows:
 * results are clamped to that range, with errno ERANGE.
 *
 * Formatting follows the Microsoft CRT:
 *  - in the wide calls %s and %c take a WCHAR string / character and %S, %C
 *    a narrow one; in the narrow calls the reverse. %hs %hc are always narrow,
 *    %ls %lc %ws %wc always wide. Narrow text meets wide text through the
 *    ANSI code page (936).
 *  - %e, %E, and %g, %G in exponent form write at least three exponent
 *    digits ("1.000000e+000"); %p writes the pointer as upper-case hex
 *    digits, two per byte, without "0x"; a null string prints "(null)"; the
 *    '0' flag pads strings and characters with zeros as well.
 *  - length modifiers h, hh, l, ll, L, I64, I32, I, z, j, t. %ld takes a
 *    32-bit LONG as on Windows; the variadic calls below know the argument's
 *    own type, so a host `long` is printed whole there. The va_list calls
 *    cannot know it and read 32 bits (a host long beyond that range is cut).
 *  - %n writes nothing (the CRT refuses it by default).
 * Host differences: infinities and NaNs print as "inf"/"nan" (the CRT writes
 * "1.#INF00"); no best-fit mapping in WideCharToMultiByte (characters without
 * an exact GBK form become the default character); the user-defined areas of
 * code page 936 and the byte 0xFF do not decode (Windows maps them to the
 * private use area), so they count as invalid here.
 * An argument of the wrong kind in the variadic calls (a narrow string for a
 * wide conversion, a double for %d, a missing argument) prints "%!" and the
 * conversion letter instead of reading memory it does not own.
 *
 * The standard narrow names (printf, fprintf, sprintf, snprintf, vprintf,
 * vfprintf, vsprintf, vsnprintf) collide with the C library's, so they are
 * macros for the plat_ functions below; they follow the rules above (%S, %C,
 * I64, the exponent, %p) and format every other conversion as C does.
 * snprintf/vsnprintf keep C's result and truncation; _snprintf/_vsnprintf
 * and _snwprintf/_vsnwprintf have the CRT's: -1 when the text does not fit,
 * and no terminator when it fills the buffer exactly. Code after this header
 * that declares a printf-style function writes __attribute__((format(
 * __printf__, ...))), since "printf" is a macro here. swprintf is left out on
 * purpose: the CRT has two incompatible forms of it; use _snwprintf. */
#pragma once

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>
#include <wctype.h>
#ifdef __cplusplus
/* Before the macros below: these headers #undef the printf names once. */
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <cstddef>
#include <type_traits>
#endif

#include "plat/wintypes.h"

#ifndef WINAPIV
#define WINAPIV
#endif

/* ---- Wide strings (CRT) ---- */
size_t wcslen(const WCHAR* s);
WCHAR* wcscpy(WCHAR* dst, const WCHAR* src);
WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n);
WCHAR* wcscat(WCHAR* dst, const WCHAR* src);
WCHAR* wcsncat(WCHAR* dst, const WCHAR* src, size_t n);
int wcscmp(const WCHAR* a, const WCHAR* b);
int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n);
/* Compare after mapping A-Z to a-z (so "_" sorts before "A"). */
int _wcsicmp(const WCHAR* a, const WCHAR* b);
int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n);
const WCHAR* wcschr(const WCHAR* s, WCHAR c);
WCHAR* wcschr(WCHAR* s, WCHAR c);
const WCHAR* wcsrchr(const WCHAR* s, WCHAR c);
WCHAR* wcsrchr(WCHAR* s, WCHAR c);
const WCHAR* wcsstr(const WCHAR* s, const WCHAR* part);
WCHAR* wcsstr(WCHAR* s, const WCHAR* part);
/* A copy in malloc'd memory, freed with free(). */
WCHAR* _wcsdup(const WCHAR* s);
WCHAR* _wcsupr(WCHAR* s);
WCHAR* _wcslwr(WCHAR* s);

long wcstol(const WCHAR* s, WCHAR** end, int base);
unsigned long wcstoul(const WCHAR* s, WCHAR** end, int base);
/* Decimal forms only: [space][sign]digits[.digits][(e|E)[sign]digits]. */
double wcstod(const WCHAR* s, WCHAR** end);
int _wtoi(const WCHAR* s);
long _wtol(const WCHAR* s);
double _wtof(const WCHAR* s);
/* Digits of value in base 2..36 (lower case); only base 10 writes a minus
 * sign, other bases show the 32-bit two's complement. */
WCHAR* _itow(int value, WCHAR* buffer, int base);
WCHAR* _ltow(long value, WCHAR* buffer, int base);
WCHAR* _ultow(unsigned long value, WCHAR* buffer, int base);

WCHAR towupper(WCHAR c);
WCHAR towlower(WCHAR c);
int iswspace(WCHAR c);
int iswdigit(WCHAR c);
#ifdef __cplusplus
/* wchar_t arguments keep the C library's meaning (they would otherwise be
 * ambiguous between the two sets). */
inline wint_t towupper(wchar_t c) { return ::towupper((wint_t)c); }
inline wint_t towlower(wchar_t c) { return ::towlower((wint_t)c); }
inline int iswspace(wchar_t c) { return ::iswspace((wint_t)c); }
inline int iswdigit(wchar_t c) { return ::iswdigit((wint_t)c); }
#endif

/* ---- Wide strings (Win32) ---- */
/* Null pointers count as empty strings for lstrlenW and lstrcmp(i)W; the
 * copying calls return NULL for them. */
int WINAPI lstrlenW(LPCWSTR s);
LPWSTR WINAPI lstrcpyW(LPWSTR dst, LPCWSTR src);
/* Copies at most size-1 characters and always terminates (size > 0). */
LPWSTR WINAPI lstrcpynW(LPWSTR dst, LPCWSTR src, int size);
LPWSTR WINAPI lstrcatW(LPWSTR dst, LPCWSTR src);
/* Word order as the user locale sorts: punctuation before digits before
 * letters, letters alphabetically regardless of case, then lower case before
 * upper case; "-" and "'" weigh only when all else is equal. Characters past
 * U+007F compare by their (upper-cased) code. Results are -1, 0, 1. */
int WINAPI lstrcmpW(LPCWSTR a, LPCWSTR b);
int WINAPI lstrcmpiW(LPCWSTR a, LPCWSTR b);
/* A pointer whose high bits are zero is one character (in the low word). */
LPWSTR WINAPI CharUpperW(LPWSTR s);
LPWSTR WINAPI CharLowerW(LPWSTR s);
DWORD WINAPI CharUpperBuffW(LPWSTR s, DWORD length);
DWORD WINAPI CharLowerBuffW(LPWSTR s, DWORD length);

#define lstrlen lstrlenW
#define lstrcpy lstrcpyW
#define lstrcpyn lstrcpynW
#define lstrcat lstrcatW
#define lstrcmp lstrcmpW
#define lstrcmpi lstrcmpiW
#define CharUpper CharUpperW
#define CharLower CharLowerW

/* ---- Code pages ---- */
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_MACCP 2
#define CP_THREAD_ACP 3
#define CP_UTF8 65001

#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008

#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_COMPOSITECHECK 0x00000200
#define WC_NO_BEST_FIT_CHARS 0x00000400

/* Code pages: CP_ACP, CP_OEMCP, CP_THREAD_ACP and 936 (GBK), CP_UTF8; any
 * other fails with ERROR_INVALID_PARAMETER. Without MB_ERR_INVALID_CHARS an
 * invalid sequence becomes U+003F '?' in code page 936 (a lead byte without
 * a valid trail byte is one such sequence; the byte after it is read anew)
 * and U+FFFD in UTF-8 (one for each maximal invalid subsequence). */
UINT WINAPI GetACP(void);
UINT WINAPI GetOEMCP(void);
BOOL WINAPI IsDBCSLeadByte(BYTE c);
BOOL WINAPI IsDBCSLeadByteEx(UINT code_page, BYTE c);
int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int bytes, LPWSTR wide,
                               int wide_count);
int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR wide, int wide_count,
                               LPSTR text, int bytes, LPCSTR default_char, LPBOOL used_default);

/* ---- Formatting ---- */
#ifdef __cplusplus
namespace plat_fmt {

/* One argument of a variadic formatting call, with its type. */
struct Arg {
  enum Kind : unsigned char { None, Integer, Real, LongReal, Text8, Text16, Text32, Pointer };
  Kind kind = None;
  unsigned char size = 0; /* bytes of an integer */
  long long i = 0;
  double d = 0;
  long double ld = 0;
  const void* p = nullptr;
};

template <class T>
inline Arg integer_arg(T v) {
  Arg a;
  a.kind = Arg::Integer;
  a.size = sizeof(T);
  a.i = std::is_signed<T>::value ? (long long)v : (long long)(unsigned long long)v;
  return a;
}
inline Arg text_arg(Arg::Kind kind, const void* p) {
  Arg a;
  a.kind = p ? kind : Arg::Pointer;
  a.p = p;
  return a;
}
inline Arg make_arg(bool v) { return integer_arg((int)v); }
inline Arg make_arg(char v) { return integer_arg(v); }
inline Arg make_arg(signed char v) { return integer_arg(v); }
inline Arg make_arg(unsigned char v) { return integer_arg(v); }
inline Arg make_arg(short v) { return integer_arg(v); }
inline Arg make_arg(unsigned short v) { return integer_arg(v); }
inline Arg make_arg(int v) { return integer_arg(v); }
inline Arg make_arg(unsigned v) { return integer_arg(v); }
inline Arg make_arg(long v) { return integer_arg(v); }
inline Arg make_arg(unsigned long v) { return integer_arg(v); }
inline Arg make_arg(long long v) { return integer_arg(v); }
inline Arg make_arg(unsigned long long v) { return integer_arg(v); }
inline Arg make_arg(char16_t v) { return integer_arg(v); }
inline Arg make_arg(char32_t v) { return integer_arg(v); }
inline Arg make_arg(wchar_t v) { return integer_arg(v); }
inline Arg make_arg(double v) {
  Arg a;
  a.kind = Arg::Real;
  a.d = v;
  return a;
}
inline Arg make_arg(float v) { return make_arg((double)v); }
inline Arg make_arg(long double v) {
  Arg a;
  a.kind = Arg::LongReal;
  a.ld = v;
  return a;
}
inline Arg make_arg(const char* v) { return text_arg(Arg::Text8, v); }
inline Arg make_arg(const signed char* v) { return text_arg(Arg::Text8, v); }
inline Arg make_arg(const unsigned char* v) { return text_arg(Arg::Text8, v); }
inline Arg make_arg(const char16_t* v) { return text_arg(Arg::Text16, v); }
inline Arg make_arg(const wchar_t* v) { return text_arg(Arg::Text32, v); }
inline Arg make_arg(std::nullptr_t) { return text_arg(Arg::Pointer, nullptr); }
template <class T>
inline Arg make_arg(const volatile T* v) {
  return text_arg(Arg::Pointer, (const void*)v);
}
template <class R, class... P>
inline Arg make_arg(R (*v)(P...)) {
  return text_arg(Arg::Pointer, (const void*)v);
}
template <class T, typename std::enable_if<std::is_enum<T>::value, int>::type = 0>
inline Arg make_arg(T v) {
  return integer_arg((typename std::underlying_type<T>::type)v);
}

enum Target {
  Msvc,       /* _snprintf: -1 when it does not fit, no terminator when full */
  C99,        /* snprintf: truncated and terminated, the full length returned */
  Unbounded,  /* sprintf */
  Wsprintf,   /* wsprintfW: at most 1023 characters and the terminator */
};

int to_buffer(char* out, size_t count, Target target, const char* format, const Arg* args,
              size_t arg_count);
int to_buffer(WCHAR* out, size_t count, Target target, const WCHAR* format, const Arg* args,
              size_t arg_count);
int to_stream(FILE* stream, const char* format, const Arg* args, size_t arg_count);
int to_stream(FILE* stream, const WCHAR* format, const Arg* args, size_t arg_count);

}  // namespace plat_fmt

#define PLAT_FMT_ARGS(a) const plat_fmt::Arg args_[] = {plat_fmt::make_arg(a)..., plat_fmt::Arg()}

/* Wide */
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);
template <class... A>
inline int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, A... a) {
  PLAT_FMT_ARGS(a);
  return plat_fmt::to_buffer(buffer, count, plat_fmt::Msvc, format, args_, sizeof...(A));
}
/* No floating point conversions, no '+', ' ' or '*'; at most 1024
 * characters with the terminator; the result excludes the terminator. */
int WINAPI wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args);
template <class... A>
inline int WINAPIV wsprintfW(LPWSTR buffer, LPCWSTR format, A... a) {
  PLAT_FMT_ARGS(a);
  return plat_fmt::to_buffer(buffer, (size_t)-1, plat_fmt::Wsprintf, format, args_, sizeof...(A));
}
#define wsprintf wsprintfW
#define wvsprintf wvsprintfW
/* To a stream: each character goes through fputwc (a text stream stores it
 * in the ANSI code page, a binary one as UTF-16LE); stdout and stderr are
 * text streams. The result counts wide characters. */
int vfwprintf(FILE* stream, const WCHAR* format, va_list args);
int vwprintf(const WCHAR* format, va_list args);
template <class... A>
inline int fwprintf(FILE* stream, const WCHAR* format, A... a) {
  PLAT_FMT_ARGS(a);
  return plat_fmt::to_stream(stream, format, args_, sizeof...(A));
}
template <class... A>
inline int wprintf(const WCHAR* format, A... a) {
  PLAT_FMT_ARGS(a);
  return plat_fmt::to_stream(stdout, format, args_, sizeof...(A));
}

/* Narrow */
int _vsnprintf(char* buffer, size_t count, const char* format, va_list args);
template <class... A>
inline int _snprintf(char* buffer, size_t count, const char* format, A... a) {
  PLAT_FMT_ARGS(a);
  return plat_fmt::to_buffer(buffer, count, plat_fmt::Msvc, format, args_, sizeof...(A));
}
int plat_vsnprintf(char* buffer, size_t count, const char* format, va_list args);
int plat_vsprintf(char* buffer, const char* format, va_list args);
int plat_vfprintf(FILE* stream, const char* format, va_list args);
int plat_vprintf(const char* format, va_list args);
template <class... A>
inline int plat_snprintf(char* buffer, size_t count, const char* format, A... a) {
  PLAT_FMT_ARGS(a);
  return plat_fmt::to_buffer(buffer, count, plat_fmt::C99, format, args_, sizeof...(A));
}
template <class... A>
inline int plat_sprintf(char* buffer, const char* format, A... a) {
  PLAT_FMT_ARGS(a);
  return plat_fmt::to_buffer(buffer, (size_t)-1, plat_fmt::Unbounded, format, args_, sizeof...(A));
}
template <class... A>
inline int plat_fprintf(FILE* stream, const char* format, A... a) {
  PLAT_FMT_ARGS(a);
  return plat_fmt::to_stream(stream, format, args_, sizeof...(A));
}
template <class... A>
inline int plat_printf(const char* format, A... a) {
  PLAT_FMT_ARGS(a);
  return plat_fmt::to_stream(stdout, format, args_, sizeof...(A));
}
#undef PLAT_FMT_ARGS

/* The standard names, also as std:: members. (The WCHAR overloads stay out
 * of std: the C++ library takes the address of std::wcstol and its kin.) */
namespace std {
using ::plat_fprintf;
using ::plat_printf;
using ::plat_snprintf;
using ::plat_sprintf;
using ::plat_vfprintf;
using ::plat_vprintf;
using ::plat_vsnprintf;
using ::plat_vsprintf;
}  // namespace std

#ifndef PLAT_STRINGS_NO_REDIRECT
#define printf plat_printf
#define fprintf plat_fprintf
#define sprintf plat_sprintf
#define snprintf plat_snprintf
#define vprintf plat_vprintf
#define vfprintf plat_vfprintf
#define vsprintf plat_vsprintf
#define vsnprintf plat_vsnprintf
#endif
#endif /* __cplusplus */
