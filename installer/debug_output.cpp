/* The installer's debug output. */
#include "debug_output.h"

#include <stdarg.h>

void debug_print(const WCHAR* format, ...) {
  static WCHAR buffer[1024];
  if (!format) return;
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf(buffer, sizeof buffer / sizeof buffer[0] - 1, format, args);
  va_end(args);
  /* A text that does not fit is cut: _vsnwprintf leaves it unterminated. */
  if (n < 0) n = (int)(sizeof buffer / sizeof buffer[0] - 1);
  buffer[n] = 0;
  OutputDebugStringW(buffer);
}
