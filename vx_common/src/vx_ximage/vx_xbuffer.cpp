#include "vx_xbuffer.h"

#include "vx_alloc.h"

int vx_xbuffer_open_memory(VxBuffer** out, const void* data, LONG size) {
  if (!out) return -1;
  *out = nullptr;
  if (size < 0 || (!data && size > 0)) return -1;
  VxBuffer* buffer = static_cast<VxBuffer*>(VX_ALLOC(sizeof(VxBuffer)));
  if (!buffer) return -1;
  const BYTE* bytes = static_cast<const BYTE*>(data);
  buffer->refs = 1;
  buffer->owned = 0;
  buffer->base = bytes;
  buffer->cursor = bytes;
  buffer->end = bytes ? bytes + size : bytes;
  buffer->limit = buffer->end;
  buffer->eof = 0;
  *out = buffer;
  return 0;
}

VxBuffer* vx_xbuffer_retain(VxBuffer* buffer) {
  if (buffer) buffer->refs++;
  return buffer;
}

void vx_xbuffer_release(VxBuffer* buffer) {
  if (!buffer) return;
  if (--buffer->refs > 0) return;
  if (buffer->owned) VX_FREE(const_cast<BYTE*>(buffer->base));
  VX_FREE(buffer);
}
