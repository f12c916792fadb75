#include "vx_wince.h"

#include <string.h>

#if defined(_WIN32) && !defined(_WIN32_WCE)
#define VX_WINCE_DESKTOP 1
#else
#define VX_WINCE_DESKTOP 0
#endif

int vx_wince_is_desktop(void) { return VX_WINCE_DESKTOP; }

int vx_wince_serial_path(const WCHAR* port, WCHAR* out, int capacity) {
  if (!out || capacity <= 0) return -1;
  out[0] = 0;
  if (!port) return -1;
#if VX_WINCE_DESKTOP
  static const WCHAR prefix[] = TEXT("\\\\.\\");
#else
  static const WCHAR prefix[] = TEXT("\\$device\\");
#endif
  const int prefix_length = (int)(sizeof prefix / sizeof prefix[0]) - 1;
  const int length = lstrlenW(port);
  if (prefix_length + length + 1 > capacity) return -1;
  memcpy(out, prefix, prefix_length * sizeof(WCHAR));
  memcpy(out + prefix_length, port, (length + 1) * sizeof(WCHAR));
  return 0;
}

BYTE vx_wince_font_charset(const WCHAR* face) {
#if VX_WINCE_DESKTOP
  (void)face;
  return DEFAULT_CHARSET;
#else
  return face && lstrcmpW(face, TEXT("宋体")) == 0 ? DEFAULT_CHARSET : ANSI_CHARSET;
#endif
}
