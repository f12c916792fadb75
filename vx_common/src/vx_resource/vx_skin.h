/* The skin: every page's layout and pictures, built once from the resource
 * file. It answers which item has an id (in the preferred language variant),
 * gives the device bitmap of an item's image slot (decoded on first use,
 * cached and counted per slot), and binds a button group to the items with
 * the buttons' ids.
 *
 * Images are decoded by the platform's "imgdecmp.dll" when it can be bound,
 * else by the built-in BMP decoder. */
#pragma once

#include <stdio.h>
#include <windows.h>

#include "vx_button.h"
#include "vx_res_file.h"

/* The record table's schema: 11 columns. */
#define VX_SKIN_COLUMNS 11

/* One record of the table. A fresh item has variant -1 and all else 0. */
typedef struct VxSkinItem {
  int id;
  int kind;           /* 0 or 1 */
  int reserved;       /* carried, not interpreted */
  int x, y;           /* left and top in screen pixels */
  int width, height;
  int image_slot;     /* index in the item store; negative for none */
  int mask_code;      /* -1: button style 1; -2: button style 2; else no change */
  WCHAR* text;        /* owned, zero-terminated; null when the text is empty */
  int text_length;    /* byte length of the stored text */
  int variant;        /* language index the item is for; -1 = any */
} VxSkinItem;

typedef struct VxSkin {
  VxSkinItem* items;  /* file order (owned) */
  int item_count;
  HBITMAP* bitmaps;   /* one per image slot, null until first use (owned) */
  int* ref_counts;    /* one per image slot (owned) */
  int slot_count;     /* M: the item store's item count */
  int variant_a;      /* the UI language index, -1 when unknown */
  int variant_b;      /* 1 */
  VxResFile* store;   /* owned; holds the open resource file */
} VxSkin;

/* The parameter record of the platform decoder's DecompressImageIndirect, in
 * the platform's published field order. */
typedef DWORD (CALLBACK* VxImageGetDataFn)(LPSTR buffer, DWORD buffer_max, LPARAM user);
typedef void (CALLBACK* VxImageProgressFn)(void* render, BOOL complete, LPARAM user);
typedef struct VxDecompressImageInfo {
  DWORD size;                    /* 60 */
  LPBYTE buffer;                 /* work buffer */
  DWORD buffer_max;
  DWORD buffer_current;
  HBITMAP* bitmap_out;
  void** image_render_out;
  int bit_depth;
  LPARAM user;                   /* passed to the callbacks */
  HDC dc;
  int scale;
  int max_width;
  int max_height;
  VxImageGetDataFn get_data;
  VxImageProgressFn progress;
  COLORREF transparent_override;
} VxDecompressImageInfo;
typedef LONG (WINAPI* VxDecompressImageFn)(VxDecompressImageInfo* info);

/* The program's one skin: loaded by the shell's creation handler, freed by its
 * destroy handler; null before and after. The pages and the text helpers
 * draw from it. */
extern VxSkin* shell_skin;

/* The skin of the resource file at `path`: variant_a = the UI language index,
 * variant_b = 1. Null when the file cannot be opened or read; nothing is left
 * allocated then. The first skin binds the platform decoder. */
VxSkin* vx_skin_load(const WCHAR* path, int variant_a, int variant_b);
/* Deletes the cached bitmaps, frees the items and texts, closes the file, frees
 * the skin and unbinds the platform decoder. 0, or -1 for no skin. */
int vx_skin_free(VxSkin* skin);
/* The item with this id (borrowed) or null: the first one of variant A or any,
 * else the first of variant B or any, else the first with the id. */
VxSkinItem* vx_skin_find(VxSkin* skin, int id);
/* The device bitmap of the item's image slot, decoded on first use; adds one
 * reference. `add` is 0 for a page background, 1 for a button group. Null
 * (and no reference) for a missing skin or item, a slot outside 0..M-1, or an
 * image that cannot be read or decoded. */
HBITMAP vx_skin_get_bitmap(VxSkin* skin, VxSkinItem* item, int add);
/* Drops one reference of the item's slot; at 0 the bitmap is deleted and the
 * next get decodes it again. */
void vx_skin_put_bitmap(VxSkin* skin, VxSkinItem* item);
/* Gives every button of the group with an id above 0 the rectangle, image
 * (one reference) and style of its item, and prepares the shape masks. With
 * hide_unusable, clears VX_BUTTON_USABLE of buttons without an item with a
 * valid slot, without size or without an image. Ends with pressed index -1.
 * 0, or -1 for no skin or no group. */
int vx_skin_bind_buttons(VxSkin* skin, ButtonGroup* group, int hide_unusable);
/* Drops the references taken by vx_skin_bind_buttons; pressed index -1.
 * 0, or -1 for no skin or no group. */
int vx_skin_release_buttons(VxSkin* skin, ButtonGroup* group);
/* A device bitmap of the image file of `size` bytes at `data`, or null. */
HBITMAP vx_skin_decode_image(const void* data, LONG size);
