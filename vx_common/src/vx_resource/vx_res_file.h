/* The indexed item store that follows the record table in a resource file:
 * the item count M, M item sizes, M item offsets; item i's record, at its
 * offset, is the 32-bit index i followed by its data. The store keeps the
 * file open and reads single items on demand by seeking. */
#pragma once

#include <stdio.h>
#include <windows.h>

struct VxResFile {
  LONG count;       /* M; -1 while closed */
  FILE* stream;     /* owned while open */
  LONG* sizes;      /* M data lengths */
  LONG* offsets;    /* M absolute offsets of the item records */
};

/* Result codes of vx_res_file_open. */
enum {
  VX_RES_NO_COUNT = -8,       /* item count missing (or negative) */
  VX_RES_NO_SIZES = -9,       /* no memory for the sizes */
  VX_RES_NO_OFFSETS = -10,    /* no memory for the offsets */
  VX_RES_CUT_SHORT = -11,     /* sizes or offsets cut short */
};

/* A closed store: count -1, no stream, no arrays. */
void vx_res_file_init(VxResFile* store);
/* Reads the count, the sizes and the offsets at the stream's position. On
 * success the store owns the stream and 0 is returned (a count of 0 is an
 * empty store); on failure nothing is kept, the stream stays the caller's, and
 * the code above is returned. */
int vx_res_file_open(VxResFile* store, FILE* stream);
/* A new buffer (free it with VX_FREE) with item `index`'s data, its length in
 * *out_size; null for an index outside 0..M-1, a closed store, a record whose
 * index differs, or data cut short. */
BYTE* vx_res_file_read_item(VxResFile* store, int index, LONG* out_size);
/* Frees the arrays, closes the stream; count back to -1. Null does nothing. */
void vx_res_file_close(VxResFile* store);
