#include "vx_font.h"

#include <string.h>

#include "vx_skin.h"
#include "vx_wince.h"

namespace {

/* The platform's ClearType output quality. */
const BYTE CLEARTYPE_QUALITY_VALUE = 5;

/* The drawing rectangle of an item: its right and bottom edges are the last
 * pixel column and row inside it. */
bool item_rectangle(int item_id, RECT* rect, const WCHAR** text) {
  const VxSkinItem* item = vx_skin_find(shell_skin, item_id);
  if (!item) return false;
  rect->left = item->x;
  rect->top = item->y;
  rect->right = item->x + item->width - 1;
  rect->bottom = item->y + item->height - 1;
  if (text) *text = item->text;
  return true;
}

void draw_in_item(HDC dc, int item_id, const WCHAR* text, UINT format) {
  RECT rect;
  if (!dc || !text || !item_rectangle(item_id, &rect, nullptr)) return;
  DrawTextW(dc, text, -1, &rect, format);
}

}  // namespace

HFONT vx_create_font(int weight, int height, const WCHAR* face) {
  LOGFONTW font;
  memset(&font, 0, sizeof font);
  font.lfHeight = height;
  font.lfWeight = weight;
  font.lfQuality = CLEARTYPE_QUALITY_VALUE;
  font.lfCharSet = vx_wince_font_charset(face);
  if (face) lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirectW(&font);
}

void vx_draw_skin_text(HDC dc, int item_id) {
  RECT rect;
  const WCHAR* text = nullptr;
  if (!dc || !item_rectangle(item_id, &rect, &text) || !text) return;
  DrawTextW(dc, text, -1, &rect, DT_VCENTER | DT_SINGLELINE);
}

void vx_draw_text_in_item(HDC dc, int item_id, const WCHAR* text) { draw_in_item(dc, item_id, text, DT_VCENTER); }

void vx_draw_text_centred_in_item(HDC dc, int item_id, const WCHAR* text) {
  draw_in_item(dc, item_id, text, DT_CENTER | DT_VCENTER);
}

void vx_draw_text_top_left(HDC dc, int item_id, const WCHAR* text) { draw_in_item(dc, item_id, text, DT_TOP | DT_LEFT); }
