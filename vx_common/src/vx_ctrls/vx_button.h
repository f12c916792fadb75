/* Image buttons drawn straight into a page's device context. A page owns one
 * button group; the skin gives every button its rectangle, image and style
 * from the skin item with the button's id (vx_skin_bind_buttons).
 *
 * Image layouts: style 0 holds two frames side by side (normal, pressed), each
 * half the bitmap wide. Styles 1 and 2 hold three frames of the button's own
 * width: normal at x = 0, pressed at x = width, shape at x = 2 x width, where
 * pure white pixels belong to the button and every other colour is
 * transparent. Style 1 hit-tests the shape pixel by pixel, style 2 the
 * rectangle. */
#pragma once

#include <windows.h>

#include "ptr_array.h"

/* Button flags: a button is drawn and hit-tested only while both are set. */
#define VX_BUTTON_SHOWN 0x1
#define VX_BUTTON_USABLE 0x4

/* Group types. */
#define VX_BUTTON_GROUP_PUSH 0
#define VX_BUTTON_GROUP_SELECT 1

/* Button styles. */
#define VX_BUTTON_TWO_FRAMES 0
#define VX_BUTTON_SHAPED 1
#define VX_BUTTON_SHAPED_RECT 2

struct ButtonGroup;

/* Called with (group, button id, event 1, 0, 0) for a click. */
typedef int (*VxButtonClickFn)(struct ButtonGroup* group, int id, int event, int arg1, int arg2);

typedef struct ButtonGroup {
  int type;                 /* VX_BUTTON_GROUP_PUSH or VX_BUTTON_GROUP_SELECT */
  HWND window;              /* the main window */
  PtrArray* buttons;        /* Button pointers in insertion order, step 8 */
  VxButtonClickFn click;    /* set by the page after creation */
  HFONT caption_font;       /* selected for captions when non-zero */
  int selected_index;       /* the last clicked button; -1 initially */
  int selected_state;       /* 2 while the selected button of a selection group shows pressed */
  int pressed_index;        /* the button taken by the last pen-down; -1 when none */
  int pressed_inside;       /* 1 while the pen is inside the pressed button */
} ButtonGroup;

typedef struct Button {
  int id;                   /* the page's button id, also its skin item's id */
  int flags;                /* VX_BUTTON_SHOWN | VX_BUTTON_USABLE at creation */
  int x, y, width, height;  /* window coordinates */
  int caption_owned;        /* non-zero: the caption is freed with the button */
  int caption_x, caption_y; /* caption box relative to the button */
  int caption_width, caption_height;
  WCHAR* caption;           /* null: no caption */
  COLORREF caption_color;
  COLORREF caption_color_pressed;
  int style;                /* VX_BUTTON_TWO_FRAMES, VX_BUTTON_SHAPED, VX_BUTTON_SHAPED_RECT */
  HBITMAP image;            /* belongs to the skin, never deleted here */
  HDC mask_dc;              /* styles 1 and 2: memory context holding the mask */
  HBITMAP mask_bitmap;      /* styles 1 and 2: monochrome shape mask, width x height */
  int owned;                /* 1: freed when the group is destroyed */
} Button;

/* A group of `type` for the window: no buttons, selected and pressed index -1.
 * Null when memory is short. */
ButtonGroup* vx_button_group_create(HWND window, int type);
/* A button with flags 0x5 and owned 1; a style-1 button's shape mask is made at
 * once with the screen's context. Null when memory is short. */
Button* vx_button_create(int id, int x, int y, int width, int height, HBITMAP image, int style);
/* Creates a button and appends it to the group. 0, or -1 when it cannot be
 * created or appended (or for a null group). */
int vx_button_add(ButtonGroup* group, int id, int x, int y, int width, int height, HBITMAP image,
                  int style);
/* The first button with this id in insertion order, or null. */
Button* vx_button_find(ButtonGroup* group, int id);
/* For a button with an image and style 1 or 2: makes the monochrome mask from
 * the image's shape frame (white = 1) in a memory context of `dc` (the
 * screen's when null), and blackens the transparent pixels of the normal and
 * pressed frames in the image itself. A mask made before is replaced. No
 * mask is made for a button of no size or larger than its image. */
void vx_button_prepare_mask(Button* button, HDC dc);
/* Releases every button (mask context and bitmap, owned caption, owned
 * record), the array, and the group. Null is ignored. */
void vx_button_group_destroy(ButtonGroup* group);

/* Draws one button into `dc` when both VX_BUTTON_SHOWN and VX_BUTTON_USABLE
 * are set: pressed (frame 2) when it is the group's pressed button with the
 * pen inside, or the selected button of a selection group in selected state 2;
 * else normal (frame 1). Style 0 blits its frame; styles 1 and 2 clear the
 * shape through the mask (destination AND NOT mask) and paint the frame over
 * it with SRCPAINT, so the page around the shape stays. A caption is drawn
 * centred on one line in its box (the button rectangle when the caption box
 * has no size), with the caption font and colour, the context's mode, colour
 * and font restored afterwards. Null group, context or button: nothing. */
void vx_button_draw(ButtonGroup* group, HDC dc, Button* button);
/* Draws every button in insertion order into `dc`. With a null `dc` it draws
 * into an off-screen copy of the window's client area and copies it back.
 * Null group: nothing. */
void vx_button_draw_all(ButtonGroup* group, HDC dc);
/* Redraws the button with this id on the window: its rectangle is copied from
 * the screen into an off-screen context, the button drawn over it and the
 * rectangle copied back. No such button: nothing. */
void vx_button_redraw(ButtonGroup* group, int id);

/* Touch state machine; the page forwards its pen handlers unchanged.
 * Pen down: the first button in insertion order with both flags whose
 * rectangle holds the point (for style 1 also a white mask pixel) becomes the
 * pressed button, pressed inside 1, redrawn pressed; its id. No hit: -1 and
 * nothing changes. Null group: -1. */
int vx_button_lbutton_down(ButtonGroup* group, int x, int y);
/* Pen move: -1 without a pressed button; else pressed inside := whether the
 * point is in the pressed button's rectangle, redrawn when that changed (and
 * on every move in a selection group); the pressed button's id. Null: -1. */
int vx_button_mouse_move(ButtonGroup* group, int x, int y);
/* Pen up: -1 without a pressed button. Inside the pressed button's rectangle
 * with a click callback, calls it with (group, id, 1, 0, 0): a negative result
 * means the page switched and the group may be gone, so nothing more is
 * touched and 0 is returned; otherwise the click completes (redrawn normal,
 * or kept pressed as the selection of a selection group; selected index :=
 * the pressed index; pressed index -1) and the result is the id when the
 * callback returned 0, else 0. Outside, or without a callback: pressed index
 * -1, no redraw, 0. Null group: -1. */
int vx_button_lbutton_up(ButtonGroup* group, int x, int y);

/* Copies a frame of `bitmap` to (x, y) of `dc` with raster operation `rop`.
 * Frame 1: the left half from (src_x, src_y); frame 2: the right half. Both
 * clip the size to min(width, (bitmap width - src_x) / 2) x
 * min(height, bitmap height - src_y). Any other frame copies width x height
 * from (src_x, src_y) unclipped. 0, or -1 for a null context or bitmap. */
int vx_blit_frame(HDC dc, int x, int y, int width, int height, HBITMAP bitmap, int src_x, int src_y,
                  DWORD rop, int frame);
/* Like vx_blit_frame, but the source (left half from (src_x, src_y) for frame
 * 1, right half for frame 2, else the whole bitmap from (src_x, src_y)) is
 * stretched into width x height when its size differs. 0, or -1 for a null
 * context or bitmap. */
int vx_stretch_frame(HDC dc, int x, int y, int width, int height, HBITMAP bitmap, int src_x,
                     int src_y, DWORD rop, int frame);
