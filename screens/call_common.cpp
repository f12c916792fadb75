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

void call_draw_mode_texts(PagePaint* paint, const PageControls* controls, const WCHAR* state) {
  HDC dc = paint->dc;
  if (call_info.mode == CALL_MODE_CENTRE) {
    WCHAR line[32];
    call_device_id_line(line);
    page_paint_text(paint, controls->label_font, PAGE_WHITE);
    vx_draw_text_in_item(dc, CALL_ITEM_DEVICE_ID, line);
    call_draw_name_and_detail(dc);
  } else if (call_info.mode == CALL_MODE_RECALL) {
    page_paint_text(paint, controls->title_font, PAGE_WHITE);
    vx_draw_skin_text(dc, CALL_ITEM_RECALL_TITLE);
    page_paint_text(paint, controls->label_font, PAGE_WHITE);
    call_draw_name_and_detail(dc);
  } else {
    page_paint_text(paint, controls->title_font, PAGE_WHITE);
    vx_draw_text_in_item(dc, CALL_ITEM_STATE, state);
    page_paint_text(paint, controls->label_font, PAGE_WHITE);
    vx_draw_text_centred_in_item(dc, CALL_ITEM_NUMBER, call_info.number);
  }
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
