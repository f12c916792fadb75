/* A reference-counted description of a block of bytes with a read cursor.
 * Buffers are made over the caller's bytes, which they never copy or free. */
#pragma once

#include <windows.h>

struct VxBuffer {
  LONG refs;             /* reference count; the buffer is freed at 0 */
  LONG owned;            /* 0: the bytes belong to the caller */
  const BYTE* base;      /* first byte */
  const BYTE* cursor;    /* next byte to read */
  const BYTE* end;       /* end of the data: base + size */
  const BYTE* limit;     /* end of the capacity: base + size */
  LONG eof;              /* set once a refill found nothing more to read */
};

/* A buffer over `size` bytes at `data`, with one reference. Returns 0, or -1
 * when out of memory or for a negative size (or no data with a size). */
int vx_xbuffer_open_memory(VxBuffer** out, const void* data, LONG size);
/* One reference more; returns the buffer. */
VxBuffer* vx_xbuffer_retain(VxBuffer* buffer);
/* One reference less; at 0 the buffer object is freed (its bytes only if owned).
 * Null does nothing. */
void vx_xbuffer_release(VxBuffer* buffer);
