/* The debug output and the message box of the host: both go to standard
 * error; the message box is also an event and answers with its default
 * button, as if the user had pressed Enter. */
#include "plat/host.h"
#include "plat/kernel.h"

using namespace plat;

void WINAPI OutputDebugStringW(LPCWSTR text) {
  if (!text) return;
  std::string utf8 = utf16_to_utf8(text);
  fwrite(utf8.data(), 1, utf8.size(), stderr);
  fflush(stderr);
}

/* The button a box of this type answers with when Enter is pressed. */
static int default_button(UINT type) {
  static const int buttons[6][3] = {
      {IDOK, IDOK, IDOK},               /* MB_OK */
      {IDOK, IDCANCEL, IDOK},           /* MB_OKCANCEL */
      {IDABORT, IDRETRY, IDIGNORE},     /* MB_ABORTRETRYIGNORE */
      {IDYES, IDNO, IDCANCEL},          /* MB_YESNOCANCEL */
      {IDYES, IDNO, IDYES},             /* MB_YESNO */
      {IDRETRY, IDCANCEL, IDRETRY},     /* MB_RETRYCANCEL */
  };
  UINT kind = type & 0xF;
  UINT which = (type >> 8) & 0xF;
  if (kind > 5) kind = 0;
  if (which > 2) which = 0;
  return buttons[kind][which];
}

int WINAPI MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
  std::string body = utf16_to_utf8(text ? text : u"");
  std::string title = utf16_to_utf8(caption ? caption : u"Error");
  Event("messagebox").str("text", body).str("title", title);
  fprintf(stderr, "[%s] %s\n", title.c_str(), body.c_str());
  fflush(stderr);
  return default_button(type);
}
