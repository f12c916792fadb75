/* File-like reading from a buffer (vx_xbuffer): read, one byte, tell, seek.
 * Streams are reference-counted; each holds one reference on its buffer.
 * A memory read stream never fails: reads at the end come back short, getc
 * gives -1 and seeks are clamped to the data. */
#pragma once

#include <windows.h>

#include "vx_xbuffer.h"

enum {
  VX_XSTREAM_MEMORY = 1,   /* kind */
  VX_XSTREAM_READ = 0,     /* direction */
  VX_XSTREAM_WRITE = 1,
};

enum {
  VX_SEEK_SET = 0,
  VX_SEEK_CUR = 1,
  VX_SEEK_END = 2,
};

struct VxStream {
  LONG refs;             /* reference count; the stream is freed at 0 */
  LONG kind;             /* VX_XSTREAM_MEMORY */
  LONG direction;        /* VX_XSTREAM_READ */
  LONG error;            /* 0: usable; otherwise read, tell and seek fail */
  VxBuffer* buffer;      /* one reference held */
  char message[256];     /* zero-terminated text of the last error */
};

/* A memory stream over `buffer` (one reference taken). A read stream marks the
 * buffer as having nothing to refill from. Returns 0, or -1 when out of memory. */
int vx_xstream_open(VxStream** out, VxBuffer* buffer, int direction);
/* A read stream over the caller's bytes; the stream holds the only reference on
 * its buffer. The bytes must outlive the stream. Returns 0 or -1. */
int vx_xstream_open_memory(VxStream** out, const void* data, LONG size);
/* The same, under the name the image code uses. */
int vx_openrmemory(VxStream** out, const void* data, LONG size);

/* Copies up to `count` bytes; returns the number copied (short at the end of
 * the data, 0 for a count below 1), or -1 when a refill fails. */
int vx_xstream_read(VxStream* stream, void* destination, LONG count);
/* The next byte (0 to 255), or -1 at the end of the data. */
int vx_xstream_getc(VxStream* stream);
/* The cursor's offset from the start, or -1 in error state. */
LONG vx_xstream_tell(VxStream* stream);
/* Moves the cursor (origin VX_SEEK_SET, VX_SEEK_CUR or VX_SEEK_END), clamped to
 * the data; returns the new offset, or -1 in error state. */
LONG vx_xstream_seek(VxStream* stream, LONG offset, int origin);
/* Called with the cursor at the end of the data: -1 in error state or for a
 * write stream; for a memory buffer sets its end-of-data flag and returns 0. */
int vx_xstream_fill(VxStream* stream);
/* One reference less; at 0 the buffer is released and the stream freed. */
void vx_xstream_close(VxStream* stream);
