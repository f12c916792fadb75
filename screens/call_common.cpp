#include "call_common.h"

#include "ini_reader.h"
#include "module_path.h"
#include "pages.h"
#include "shell_globals.h"
#include "vx_font.h"

void call_read_config(const WCHAR* key, WCHAR* buffer, int size) {
  WCHAR path[MAX_PATH];
  buffer[0] = 0;
  if (module_file_path(path, MAX_PATH, NULL, TEXT("config.ini")) != 0) return;
  ini_read_string(TEXT("CONFIG"), key, NULL, buffer, size, path);
}

void call_device_id_line(WCHAR* buffer) { wsprintfW(buffer, TEXT("设备号：%s"), device_id); }

void call_draw_name_and_detail(HDC dc) {
  vx_draw_text_in_item(dc, CALL_ITEM_NAME, call_info.name);
  SetTextColor(dc, 0x000000);
  vx_draw_text_top_left(dc, CALL_ITEM_DETAIL, call_info.detail);
}

void expand_escapes(WCHAR* text) {
  if (!text) return;
  WCHAR* out = text;
  for (const WCHAR* in = text; *in; ++in) {
    if (in[0] == '\\' && (in[1] == 'n' || in[1] == 'r')) {
      *out++ = in[1] == 'n' ? '\n' : '\r';
      ++in;
    } else {
      *out++ = *in;
    }
  }
  *out = 0;
}
