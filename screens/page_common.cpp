#include "page_common.h"

#include <string.h>

#include "nav_stack.h"
#include "pages.h"
#include "shell_globals.h"
#include "vx_font.h"

void page_picture_find(PagePicture* picture, int id) {
  picture->item = vx_skin_find(shell_skin, id);
  picture->bitmap = NULL;
}

void page_picture_draw(PagePicture* picture, HDC dc, int frame) {
  if (!picture->item || !shell_skin) return;
  if (!picture->bitmap) picture->bitmap = vx_skin_get_bitmap(shell_skin, picture->item, 0);
  if (!picture->bitmap) return;
  const VxSkinItem* item = picture->item;
  vx_stretch_frame(dc, item->x, item->y, item->width, item->height, picture->bitmap, 0, 0, SRCCOPY,
                   frame);
}

void page_picture_release(PagePicture* picture) {
  if (picture->bitmap && picture->item) vx_skin_put_bitmap(shell_skin, picture->item);
  picture->bitmap = NULL;
  picture->item = NULL;
}

int page_controls_build(PageControls* controls, VxButtonClickFn click, const int* ids, int count,
                        int label_height, const WCHAR* label_face) {
  if (!controls->group) {
    controls->group = vx_button_group_create(main_window, VX_BUTTON_GROUP_PUSH);
    if (!controls->group) return -1;
    controls->group->click = click;
    for (int i = 0; i < count; ++i) vx_button_add(controls->group, ids[i], 0, 0, 0, 0, NULL, 0);
    vx_skin_bind_buttons(shell_skin, controls->group, 1);
  }
  if (!controls->title_font)
    controls->title_font = vx_create_font(PAGE_FONT_WEIGHT, PAGE_TITLE_HEIGHT, PAGE_FACE_DEFAULT);
  if (!controls->label_font) controls->label_font = vx_create_font(PAGE_FONT_WEIGHT, label_height, label_face);
  return 0;
}

void page_controls_release(PageControls* controls) {
  if (controls->group) {
    vx_skin_release_buttons(shell_skin, controls->group);
    vx_button_group_destroy(controls->group);
    controls->group = NULL;
  }
  if (controls->title_font) DeleteObject(controls->title_font);
  if (controls->label_font) DeleteObject(controls->label_font);
  controls->title_font = NULL;
  controls->label_font = NULL;
}

int page_controls_down(PageControls* controls, int x, int y) {
  vx_button_lbutton_down(controls->group, x, y);
  return 0;
}

int page_controls_move(PageControls* controls, int x, int y) {
  vx_button_mouse_move(controls->group, x, y);
  return 0;
}

int page_controls_up(PageControls* controls, int x, int y) {
  vx_button_lbutton_up(controls->group, x, y);
  return 0;
}

HDC page_paint_begin(PagePaint* paint, HDC dc) {
  memset(paint, 0, sizeof *paint);
  if (!dc) {
    HDC window_dc = GetDC(main_window);
    if (!window_dc) return NULL;
    HDC memory = CreateCompatibleDC(window_dc);
    HBITMAP bitmap = memory ? CreateCompatibleBitmap(window_dc, screen_width, screen_height) : NULL;
    if (!bitmap) {
      if (memory) DeleteDC(memory);
      ReleaseDC(main_window, window_dc);
      return NULL;
    }
    paint->window_dc = window_dc;
    paint->bitmap = bitmap;
    paint->old_bitmap = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, screen_width, screen_height, window_dc, 0, 0, SRCCOPY);
    dc = memory;
  }
  paint->dc = dc;
  SetBkMode(dc, TRANSPARENT);
  return dc;
}

void page_paint_text(PagePaint* paint, HFONT font, COLORREF colour) {
  SetTextColor(paint->dc, colour);
  if (!font) return;
  HGDIOBJ old = SelectObject(paint->dc, font);
  if (!paint->font_selected) {
    paint->old_font = old;
    paint->font_selected = 1;
  }
}

void page_paint_end(PagePaint* paint) {
  if (!paint->dc) return;
  if (paint->font_selected) SelectObject(paint->dc, paint->old_font);
  if (paint->window_dc) {
    BitBlt(paint->window_dc, 0, 0, screen_width, screen_height, paint->dc, 0, 0, SRCCOPY);
    SelectObject(paint->dc, paint->old_bitmap);
    DeleteObject(paint->bitmap);
    DeleteDC(paint->dc);
    ReleaseDC(main_window, paint->window_dc);
  }
  memset(paint, 0, sizeof *paint);
}

int pages_spare_handler(void) { return 0; }

int page_register(Page* page, int id, VxPagePaintFn paint, VxPageMouseFn move, VxPageMouseFn down,
                  VxPageMouseFn up, VxPageEnterFn enter, VxPageLeaveFn leave) {
  memset(page, 0, sizeof *page);
  page->previous_id = -1;
  page->id = id;
  page->owned = 0;
  page->paint = paint;
  page->mouse_move = move;
  page->button_down = down;
  page->button_up = up;
  page->enter = enter;
  page->leave = leave;
  page->spare = pages_spare_handler;
  return vx_page_add(page_manager, page);
}

void page_invalidate(void) { InvalidateRect(main_window, NULL, TRUE); }
