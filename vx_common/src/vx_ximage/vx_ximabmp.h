/* The built-in decoder of Windows bitmap files: the 12-byte core header, the
 * 40-byte info header, the 64-byte extended core header and longer info
 * headers (compression 0, no colour count, the exact image size); 1, 4, 8,
 * 16, 24 and 32 bits per pixel; uncompressed rows, RLE8, RLE4 and bit fields.
 * The decoded rows are kept bottom-up. Every write stays inside the image's
 * pixel block, whatever the file holds. */
#pragma once

#include <windows.h>

#include "vx_ximage.h"
#include "vx_xstream.h"

/* Decodes the bitmap file at the stream's position into the image's pixel
 * block. Returns 1, or 0 with the error text set where the failure has a
 * message (the caller frees the block after a failure). */
int vx_ximabmp_decode(VxImage* image, VxStream* stream);
/* Reads the info header after the file header into `header`, normalised to the
 * 40-byte layout, and leaves the stream behind the header. Returns 1 or 0. */
int vx_ximabmp_read_header(VxImage* image, VxStream* stream, VxImageHeader* header);
