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

namespace {

/* Destination AND NOT source: clears the destination where the mask is 1. */
const DWORD MASK_CLEAR = 0x00220326u;

Button* button_at(const ButtonGroup* group, int index) {
  return static_cast<Button*>(ptr_array_get(group->buttons, index));
}

bool usable(const Button* button) {
  return (button->flags & (VX_BUTTON_SHOWN | VX_BUTTON_USABLE)) == (VX_BUTTON_SHOWN | VX_BUTTON_USABLE);
}

bool in_rectangle(const Button* button, int x, int y) {
  return x >= button->x && x < button->x + button->width && y >= button->y && y < button->y + button->height;
}

/* The style-1 hit test: the mask pixel under the point is white. A button
 * without a mask has no pixel of its shape to hit. */
bool in_shape(const Button* button, int x, int y) {
  if (!button->mask_dc || !button->mask_bitmap) return false;
  const COLORREF pixel = GetPixel(button->mask_dc, x - button->x, y - button->y);
  return pixel != CLR_INVALID && pixel != 0;
}

bool shown_pressed(const ButtonGroup* group, const Button* button) {
  if (group->pressed_inside == 1 && button_at(group, group->pressed_index) == button) return true;
  return group->type == VX_BUTTON_GROUP_SELECT && group->selected_state == 2 &&
         button_at(group, group->selected_index) == button;
}

void draw_caption(ButtonGroup* group, HDC dc, const Button* button, bool pressed) {
  RECT box;
  if (button->caption_width > 0 && button->caption_height > 0) {
    box.left = button->x + button->caption_x;
    box.top = button->y + button->caption_y;
    box.right = box.left + button->caption_width - 1;
    box.bottom = box.top + button->caption_height - 1;
  } else {
    box.left = button->x;
    box.top = button->y;
    box.right = box.left + button->width - 1;
    box.bottom = box.top + button->height - 1;
  }
  const int old_mode = SetBkMode(dc, TRANSPARENT);
  const COLORREF old_color =
      SetTextColor(dc, pressed ? button->caption_color_pressed : button->caption_color);
  HGDIOBJ old_font = group->caption_font ? SelectObject(dc, group->caption_font) : nullptr;
  DrawTextW(dc, button->caption, -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (old_font) SelectObject(dc, old_font);
  SetTextColor(dc, old_color);
  SetBkMode(dc, old_mode);
}

/* The group window's client area; the screen without a window. */
RECT group_client(const ButtonGroup* group) {
  RECT client = {0, 0, 0, 0};
  if (group->window) {
    GetClientRect(group->window, &client);
  } else {
    client.right = GetSystemMetrics(SM_CXSCREEN);
    client.bottom = GetSystemMetrics(SM_CYSCREEN);
  }
  return client;
}

/* Draws the button over the window's content: its rectangle is taken from the
 * screen into an off-screen copy, drawn there and copied back. */
void redraw_button(ButtonGroup* group, Button* button) {
  if (!group || !button) return;
  HDC screen = GetDC(group->window);
  if (!screen) return;
  RECT client = group_client(group);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP canvas = CreateCompatibleBitmap(screen, client.right - client.left, client.bottom - client.top);
  HGDIOBJ old = memory && canvas ? SelectObject(memory, canvas) : nullptr;
  if (old) {
    BitBlt(memory, button->x, button->y, button->width, button->height, screen, button->x, button->y, SRCCOPY);
    vx_button_draw(group, memory, button);
    BitBlt(screen, button->x, button->y, button->width, button->height, memory, button->x, button->y, SRCCOPY);
    SelectObject(memory, old);
  }
  if (canvas) DeleteObject(canvas);
  if (memory) DeleteDC(memory);
  ReleaseDC(group->window, screen);
}

bool bitmap_size(HBITMAP bitmap, int* width, int* height) {
  BITMAP info;
  memset(&info, 0, sizeof info);
  if (GetObjectW(bitmap, sizeof info, &info) == 0) return false;
  *width = info.bmWidth;
  *height = info.bmHeight;
  return true;
}

/* The source rectangle of a frame: the left or right half of the bitmap from
 * (src_x, src_y) for frames 1 and 2, the rest of the bitmap otherwise. */
void frame_source(int bitmap_width, int bitmap_height, int src_x, int src_y, int frame, int* x, int* width,
                  int* height) {
  *height = bitmap_height - src_y;
  if (frame == 1 || frame == 2) {
    *width = (bitmap_width - src_x) / 2;
    *x = frame == 1 ? src_x : src_x + *width;
  } else {
    *width = bitmap_width - src_x;
    *x = src_x;
  }
}

}  // namespace

void vx_button_draw(ButtonGroup* group, HDC dc, Button* button) {
  if (!group || !dc || !button || !usable(button)) return;
  const bool pressed = shown_pressed(group, button);
  const int frame = pressed ? 2 : 1;
  if (button->style == VX_BUTTON_TWO_FRAMES) {
    vx_blit_frame(dc, button->x, button->y, button->width, button->height, button->image, 0, 0, SRCCOPY, frame);
  } else if (button->image) {
    /* Mask 1 bits come in as the background colour and 0 bits as the text
     * colour: white and black make the clear step exact. */
    const COLORREF old_text = SetTextColor(dc, RGB(0, 0, 0));
    const COLORREF old_back = SetBkColor(dc, RGB(255, 255, 255));
    if (button->mask_dc)
      BitBlt(dc, button->x, button->y, button->width, button->height, button->mask_dc, 0, 0, MASK_CLEAR);
    HDC image_dc = CreateCompatibleDC(dc);
    HGDIOBJ old_image = image_dc ? SelectObject(image_dc, button->image) : nullptr;
    if (old_image) {
      BitBlt(dc, button->x, button->y, button->width, button->height, image_dc, pressed ? button->width : 0, 0,
             SRCPAINT);
      SelectObject(image_dc, old_image);
    }
    if (image_dc) DeleteDC(image_dc);
    SetBkColor(dc, old_back);
    SetTextColor(dc, old_text);
  }
  if (button->caption) draw_caption(group, dc, button, pressed);
}

void vx_button_draw_all(ButtonGroup* group, HDC dc) {
  if (!group) return;
  if (dc) {
    const int count = ptr_array_count(group->buttons);
    for (int i = 0; i < count; ++i) vx_button_draw(group, dc, button_at(group, i));
    return;
  }
  HDC screen = GetDC(group->window);
  if (!screen) return;
  RECT client = group_client(group);
  const int width = client.right - client.left, height = client.bottom - client.top;
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP canvas = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = memory && canvas ? SelectObject(memory, canvas) : nullptr;
  if (old) {
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    vx_button_draw_all(group, memory);
    BitBlt(screen, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
  }
  if (canvas) DeleteObject(canvas);
  if (memory) DeleteDC(memory);
  ReleaseDC(group->window, screen);
}

void vx_button_redraw(ButtonGroup* group, int id) { redraw_button(group, vx_button_find(group, id)); }

int vx_button_lbutton_down(ButtonGroup* group, int x, int y) {
  if (!group) return -1;
  const int count = ptr_array_count(group->buttons);
  for (int i = 0; i < count; ++i) {
    Button* button = button_at(group, i);
    if (!button || !usable(button) || !in_rectangle(button, x, y)) continue;
    if (button->style == VX_BUTTON_SHAPED && !in_shape(button, x, y)) continue;
    group->pressed_inside = 1;
    group->pressed_index = i;
    redraw_button(group, button);
    return button->id;
  }
  return -1;
}

int vx_button_mouse_move(ButtonGroup* group, int x, int y) {
  if (!group) return -1;
  Button* button = button_at(group, group->pressed_index);
  if (!button) return -1;
  const int inside = in_rectangle(button, x, y) ? 1 : 0;
  const bool changed = inside != group->pressed_inside;
  group->pressed_inside = inside;
  if (changed || group->type == VX_BUTTON_GROUP_SELECT) redraw_button(group, button);
  return button->id;
}

int vx_button_lbutton_up(ButtonGroup* group, int x, int y) {
  if (!group) return -1;
  Button* button = button_at(group, group->pressed_index);
  if (!button) return -1;
  if (!in_rectangle(button, x, y) || !group->click) {
    group->pressed_index = -1;
    return 0;
  }
  const int id = button->id;
  const int result = group->click(group, id, 1, 0, 0);
  /* The page has switched: its leave handler may have destroyed the group. */
  if (result < 0) return 0;
  if (group->type == VX_BUTTON_GROUP_SELECT) {
    Button* previous = button_at(group, group->selected_index);
    group->selected_state = 0;
    if (previous && previous != button) redraw_button(group, previous);
  }
  group->pressed_inside = 0;
  if (group->type == VX_BUTTON_GROUP_SELECT)
    group->selected_state = 2;
  else
    redraw_button(group, button);
  group->selected_index = group->pressed_index;
  group->pressed_index = -1;
  return result == 0 ? id : 0;
}

int vx_blit_frame(HDC dc, int x, int y, int width, int height, HBITMAP bitmap, int src_x, int src_y, DWORD rop,
                  int frame) {
  if (!dc || !bitmap) return -1;
  int source_x = src_x;
  if (frame == 1 || frame == 2) {
    int bitmap_width = 0, bitmap_height = 0;
    if (!bitmap_size(bitmap, &bitmap_width, &bitmap_height)) return -1;
    int frame_width = 0, frame_height = 0;
    frame_source(bitmap_width, bitmap_height, src_x, src_y, frame, &source_x, &frame_width, &frame_height);
    if (width > frame_width) width = frame_width;
    if (height > frame_height) height = frame_height;
  }
  if (width <= 0 || height <= 0) return 0;
  HDC source = CreateCompatibleDC(dc);
  if (!source) return -1;
  HGDIOBJ old = SelectObject(source, bitmap);
  if (old) {
    BitBlt(dc, x, y, width, height, source, source_x, src_y, rop);
    SelectObject(source, old);
  }
  DeleteDC(source);
  return old ? 0 : -1;
}

int vx_stretch_frame(HDC dc, int x, int y, int width, int height, HBITMAP bitmap, int src_x, int src_y,
                     DWORD rop, int frame) {
  if (!dc || !bitmap) return -1;
  int bitmap_width = 0, bitmap_height = 0;
  if (!bitmap_size(bitmap, &bitmap_width, &bitmap_height)) return -1;
  int source_x = 0, source_width = 0, source_height = 0;
  frame_source(bitmap_width, bitmap_height, src_x, src_y, frame, &source_x, &source_width, &source_height);
  if (width <= 0 || height <= 0 || source_width <= 0 || source_height <= 0) return 0;
  HDC source = CreateCompatibleDC(dc);
  if (!source) return -1;
  HGDIOBJ old = SelectObject(source, bitmap);
  if (old) {
    if (width == source_width && height == source_height) {
      BitBlt(dc, x, y, width, height, source, source_x, src_y, rop);
    } else {
      /* Whole pixels of the source, never blended or combined. */
      const int old_mode = SetStretchBltMode(dc, COLORONCOLOR);
      StretchBlt(dc, x, y, width, height, source, source_x, src_y, source_width, source_height, rop);
      if (old_mode) SetStretchBltMode(dc, old_mode);
    }
    SelectObject(source, old);
  }
  DeleteDC(source);
  return old ? 0 : -1;
}
