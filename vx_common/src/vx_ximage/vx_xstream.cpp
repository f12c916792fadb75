#include "vx_xstream.h"

#include "vx_alloc.h"

int vx_xstream_open(VxStream** out, VxBuffer* buffer, int direction) {
  if (!out) return -1;
  *out = nullptr;
  if (!buffer) return -1;
  VxStream* stream = static_cast<VxStream*>(VX_ALLOC(sizeof(VxStream)));
  if (!stream) return -1;
  memset(stream, 0, sizeof *stream);
  stream->refs = 1;
  stream->kind = VX_XSTREAM_MEMORY;
  stream->direction = direction;
  stream->buffer = vx_xbuffer_retain(buffer);
  /* A memory buffer has nothing to refill from. */
  if (direction == VX_XSTREAM_READ) buffer->eof = 1;
  *out = stream;
  return 0;
}

int vx_xstream_open_memory(VxStream** out, const void* data, LONG size) {
  if (out) *out = nullptr;
  VxBuffer* buffer = nullptr;
  if (vx_xbuffer_open_memory(&buffer, data, size) != 0) return -1;
  int result = vx_xstream_open(out, buffer, VX_XSTREAM_READ);
  vx_xbuffer_release(buffer);
  return result;
}

int vx_openrmemory(VxStream** out, const void* data, LONG size) {
  return vx_xstream_open_memory(out, data, size);
}

int vx_xstream_fill(VxStream* stream) {
  if (!stream || stream->error || stream->direction != VX_XSTREAM_READ) return -1;
  VxBuffer* buffer = stream->buffer;
  if (!buffer) return -1;
  if (!buffer->owned) {
    buffer->eof = 1;
    return 0;
  }
  return -1;
}

int vx_xstream_read(VxStream* stream, void* destination, LONG count) {
  if (!stream || !stream->buffer || stream->error) return -1;
  if (count < 1) return 0;
  if (!destination) return -1;
  VxBuffer* buffer = stream->buffer;
  BYTE* out = static_cast<BYTE*>(destination);
  LONG copied = 0;
  while (copied < count) {
    if (buffer->cursor >= buffer->end) {
      if (buffer->eof) break;
      if (vx_xstream_fill(stream) != 0) return -1;
      continue;
    }
    LONG available = static_cast<LONG>(buffer->end - buffer->cursor);
    LONG take = count - copied < available ? count - copied : available;
    memcpy(out + copied, buffer->cursor, static_cast<size_t>(take));
    buffer->cursor += take;
    copied += take;
  }
  return copied;
}

int vx_xstream_getc(VxStream* stream) {
  if (!stream || !stream->buffer) return -1;
  VxBuffer* buffer = stream->buffer;
  if (buffer->cursor >= buffer->end && vx_xstream_fill(stream) != 0) return -1;
  if (buffer->cursor >= buffer->end) return -1;
  return *buffer->cursor++;
}

LONG vx_xstream_tell(VxStream* stream) {
  if (!stream || !stream->buffer || stream->error) return -1;
  return static_cast<LONG>(stream->buffer->cursor - stream->buffer->base);
}

LONG vx_xstream_seek(VxStream* stream, LONG offset, int origin) {
  if (!stream || !stream->buffer || stream->error) return -1;
  VxBuffer* buffer = stream->buffer;
  long long target = offset;
  if (origin == VX_SEEK_CUR) {
    target += buffer->cursor - buffer->base;
    origin = VX_SEEK_SET;
  }
  buffer->eof = 0;
  long long capacity = buffer->limit - buffer->base;
  if (origin != VX_SEEK_SET) target += capacity;
  if (target < 0) target = 0;
  if (target > capacity) target = capacity;
  buffer->cursor = buffer->base + target;
  return static_cast<LONG>(target);
}

void vx_xstream_close(VxStream* stream) {
  if (!stream) return;
  if (--stream->refs > 0) return;
  vx_xbuffer_release(stream->buffer);
  VX_FREE(stream);
}
