/* The installer's message boxes. */
#include "message_box.h"

int show_message_box(const WCHAR* text, const WCHAR* title, UINT type) {
  return MessageBoxW(NULL, text, title, type | MB_OK);
}
