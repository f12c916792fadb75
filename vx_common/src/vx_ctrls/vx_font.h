/* Page fonts and the text of skin items. The text helpers draw into the
 * rectangle of an item of the program's skin (shell_skin): left = x, top = y,
 * right = x + width - 1, bottom = y + height - 1, with whatever font, text
 * colour and background mode the caller selected. An id the skin does not
 * know (or no skin) draws nothing. */
#pragma once

#include <windows.h>

/* A font of `height` and `weight` with ClearType quality (5) and the face
 * `face` (copied, cut to the face name's room); its character set is
 * vx_wince_font_charset(face). The caller deletes it with DeleteObject. Null
 * when the platform cannot create it. */
HFONT vx_create_font(int weight, int height, const WCHAR* face);
/* Draws the item's own text on one line, left-aligned and centred vertically
 * (DT_VCENTER | DT_SINGLELINE). An item without text draws nothing. */
void vx_draw_skin_text(HDC dc, int item_id);
/* Draws `text` in the item's rectangle with DT_VCENTER (no DT_SINGLELINE). */
void vx_draw_text_in_item(HDC dc, int item_id, const WCHAR* text);
/* Draws `text` in the item's rectangle centred horizontally (DT_CENTER |
 * DT_VCENTER, no DT_SINGLELINE): a text of any length sits in the middle of
 * the item. */
void vx_draw_text_centred_in_item(HDC dc, int item_id, const WCHAR* text);
/* Draws `text` from the top left of the item's rectangle (flags 0); lines
 * break only at the line breaks in the text. */
void vx_draw_text_top_left(HDC dc, int item_id, const WCHAR* text);
