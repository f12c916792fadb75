#include "vx_button.h"

#include <string.h>

#include "vx_alloc.h"

namespace {

void release_mask(Button* button) {
  if (button->mask_dc) DeleteDC(button->mask_dc);
  if (button->mask_bitmap) DeleteObject(button->mask_bitmap);
  button->mask_dc = nullptr;
  button->mask_bitmap = nullptr;
}

void release_button(void* item) {
  Button* button = static_cast<Button*>(item);
  release_mask(button);
  if (button->caption_owned && button->caption) VX_FREE(button->caption);
  button->caption = nullptr;
  if (button->owned) VX_FREE(button);
}

}  // namespace

ButtonGroup* vx_button_group_create(HWND window, int type) {
  ButtonGroup* group = static_cast<ButtonGroup*>(VX_ALLOC(sizeof(ButtonGroup)));
  if (!group) return nullptr;
  memset(group, 0, sizeof *group);
  group->buttons = ptr_array_create(8);
  if (!group->buttons) {
    VX_FREE(group);
    return nullptr;
  }
  group->type = type;
  group->window = window;
  group->selected_index = -1;
  group->pressed_index = -1;
  return group;
}

Button* vx_button_create(int id, int x, int y, int width, int height, HBITMAP image, int style) {
  Button* button = static_cast<Button*>(VX_ALLOC(sizeof(Button)));
  if (!button) return nullptr;
  memset(button, 0, sizeof *button);
  button->id = id;
  button->flags = VX_BUTTON_SHOWN | VX_BUTTON_USABLE;
  button->x = x;
  button->y = y;
  button->width = width;
  button->height = height;
  button->image = image;
  button->style = style;
  button->owned = 1;
  if (style == VX_BUTTON_SHAPED) vx_button_prepare_mask(button, nullptr);
  return button;
}

int vx_button_add(ButtonGroup* group, int id, int x, int y, int width, int height, HBITMAP image, int style) {
  if (!group) return -1;
  Button* button = vx_button_create(id, x, y, width, height, image, style);
  if (!button) return -1;
  if (ptr_array_append(group->buttons, button) != 0) {
    release_button(button);
    return -1;
  }
  return 0;
}

Button* vx_button_find(ButtonGroup* group, int id) {
  if (!group) return nullptr;
  const int count = ptr_array_count(group->buttons);
  for (int i = 0; i < count; ++i) {
    Button* button = static_cast<Button*>(ptr_array_get(group->buttons, i));
    if (button && button->id == id) return button;
  }
  return nullptr;
}

void vx_button_prepare_mask(Button* button, HDC dc) {
  if (!button || !button->image) return;
  if (button->style != VX_BUTTON_SHAPED && button->style != VX_BUTTON_SHAPED_RECT) return;
  release_mask(button);
  /* A mask larger than the image (or of no size) would hold nothing of it;
   * such sizes come only from a broken skin and are not allocated. */
  BITMAP picture;
  memset(&picture, 0, sizeof picture);
  if (GetObjectW(button->image, sizeof picture, &picture) != (int)sizeof picture) return;
  if (button->width <= 0 || button->height <= 0 || button->width > picture.bmWidth || button->height > picture.bmHeight)
    return;
  HDC screen = nullptr;
  if (!dc) dc = screen = GetDC(nullptr);
  HDC image_dc = CreateCompatibleDC(dc);
  HGDIOBJ old_image = image_dc ? SelectObject(image_dc, button->image) : nullptr;
  button->mask_dc = CreateCompatibleDC(dc);
  button->mask_bitmap = CreateBitmap(button->width, button->height, 1, 1, nullptr);
  if (image_dc && old_image && button->mask_dc && button->mask_bitmap) {
    SelectObject(button->mask_dc, button->mask_bitmap);
    const int w = button->width, h = button->height;
    /* White (the image context's background colour) becomes 1 in the mask. */
    BitBlt(button->mask_dc, 0, 0, w, h, image_dc, 2 * w, 0, SRCCOPY);
    /* 1 bits come in as white, 0 bits as black: the transparent pixels of
     * both frames turn black. */
    BitBlt(image_dc, 0, 0, w, h, button->mask_dc, 0, 0, SRCAND);
    BitBlt(image_dc, w, 0, w, h, button->mask_dc, 0, 0, SRCAND);
  }
  if (old_image) SelectObject(image_dc, old_image);
  if (image_dc) DeleteDC(image_dc);
  if (screen) ReleaseDC(nullptr, screen);
}

void vx_button_group_destroy(ButtonGroup* group) {
  if (!group) return;
  ptr_array_destroy(group->buttons, release_button);
  VX_FREE(group);
}
