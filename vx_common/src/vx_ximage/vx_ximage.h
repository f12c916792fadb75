/* One decoded picture as a device-independent bitmap in memory: a 40-byte
 * bitmap info header, the palette and the pixel rows in one block, laid out
 * as the platform's bitmap-section call takes them. Rows are stored bottom-up
 * (row 0 is the bottom row of the picture). Objects are reference-counted. */
#pragma once

#include <windows.h>

/* Format kinds; only VX_XIMAGE_BMP has a decoder. */
enum {
  VX_XIMAGE_BMP = 1,
  VX_XIMAGE_KIND2 = 2,
  VX_XIMAGE_KIND3 = 3,
  VX_XIMAGE_KIND4 = 4,
};

/* The bitmap info header (the standard 40-byte layout). */
struct VxImageHeader {
  DWORD size;              /* 40 */
  LONG width;
  LONG height;             /* positive: rows bottom-up */
  WORD planes;             /* 1 */
  WORD bits;               /* bits per pixel */
  DWORD compression;       /* always 3 (bit fields) in an image's block */
  DWORD image_size;        /* stride x height */
  LONG x_pels_per_meter;   /* 3780 */
  LONG y_pels_per_meter;   /* 3780 */
  DWORD colors_used;       /* palette entries */
  DWORD colors_important;  /* 0 */
};
static_assert(sizeof(VxImageHeader) == 40, "the bitmap info header is 40 bytes");

struct VxImage {
  LONG refs;               /* 1 after creation; destroyed at 0 */
  LONG kind;               /* format kind */
  VxImageHeader header;
  LONG stride;             /* bytes per row: ((width x bits + 31) / 32) x 4 */
  BYTE* pixels;            /* row 0 inside the block, or null */
  char error[256];         /* message of the last failure; empty when none */
  BYTE* block;             /* header copy, palette, rows; null when empty */
};

/* Largest width x height x bits (lowest three bits cleared) that create accepts. */
#define VX_XIMAGE_MAX_BITS 2048000000ULL

/* A new empty image of the given kind with one reference. Returns 1, or 0
 * when out of memory. */
int vx_ximage_new(VxImage** out, int kind);
/* One reference more; returns the image. */
VxImage* vx_ximage_retain(VxImage* image);
/* One reference less; the last one frees the block and the object. Null does nothing. */
void vx_ximage_release(VxImage* image);

/* Palette entries of an image of this depth: 2, 16, 256, 3 (the masks of 16
 * bits), else 0. */
int vx_ximage_palette_size(int bits);
/* Replaces the pixel block by a cleared one for width x height at `bits` bits
 * per pixel (1, 2, 4, 8, 16, 24 or 32). Returns the block, or null: for a width
 * or height below 1, another depth, a picture over VX_XIMAGE_MAX_BITS, or no
 * memory (then the error text is "Create can't allocate memory"). */
BYTE* vx_ximage_create(VxImage* image, LONG width, LONG height, int bits);
/* Frees the pixel block; the image is empty again. */
void vx_ximage_destroy_pixels(VxImage* image);
/* The palette (4-byte entries blue, green, red, reserved), or null when the
 * image has no palette or no block. */
BYTE* vx_ximage_palette(VxImage* image);
/* Row r (0 = bottom), or null outside the image or without a block. */
BYTE* vx_ximage_row(VxImage* image, LONG row);
/* Reverses the order of the rows. Returns 1, or 0 (image unchanged) when the
 * image is empty or no memory was left. */
int vx_ximage_flip(VxImage* image);
/* Decodes an image file of `size` bytes at `data` by the image's kind.
 * Returns 1, or 0 with the image empty and the error text set where the
 * failure has a message. */
int vx_ximage_decode(VxImage* image, const void* data, LONG size);
/* A device bitmap (DIB section) holding the image, owned by the caller; null
 * for an empty image or when the platform refuses. */
HBITMAP vx_ximage_make_bitmap(VxImage* image);

/* Sets the error text (truncated to fit). */
void vx_ximage_set_error(VxImage* image, const char* message);
