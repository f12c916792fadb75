#include "vx_res_file.h"

#include "vx_alloc.h"
#include "vx_data.h"

namespace {

/* Reads `count` 32-bit values into a new array; false when they are cut short. */
bool read_table(FILE* stream, LONG* table, LONG count) {
  for (LONG i = 0; i < count; ++i)
    if (!vx_data_read_long(stream, &table[i])) return false;
  return true;
}

}  // namespace

void vx_res_file_init(VxResFile* store) {
  if (!store) return;
  store->count = -1;
  store->stream = nullptr;
  store->sizes = nullptr;
  store->offsets = nullptr;
}

int vx_res_file_open(VxResFile* store, FILE* stream) {
  if (!store || !stream) return VX_RES_NO_COUNT;
  LONG count = 0;
  if (!vx_data_read_long(stream, &count) || count < 0) return VX_RES_NO_COUNT;
  /* Two tables of `count` entries that the file cannot hold are cut short;
   * nothing is allocated for them. */
  long long left = vx_data_bytes_left(stream);
  if (left >= 0 && 8LL * count > left) return VX_RES_CUT_SHORT;
  size_t bytes = sizeof(LONG) * static_cast<size_t>(count > 0 ? count : 1);
  LONG* sizes = static_cast<LONG*>(VX_ALLOC(bytes));
  if (!sizes) return VX_RES_NO_SIZES;
  LONG* offsets = static_cast<LONG*>(VX_ALLOC(bytes));
  if (!offsets) {
    VX_FREE(sizes);
    return VX_RES_NO_OFFSETS;
  }
  if (!read_table(stream, sizes, count) || !read_table(stream, offsets, count)) {
    VX_FREE(sizes);
    VX_FREE(offsets);
    return VX_RES_CUT_SHORT;
  }
  if (store->stream == stream) store->stream = nullptr;
  vx_res_file_close(store);
  store->count = count;
  store->stream = stream;
  store->sizes = sizes;
  store->offsets = offsets;
  return 0;
}

BYTE* vx_res_file_read_item(VxResFile* store, int index, LONG* out_size) {
  if (!store || !store->stream || index < 0 || index >= store->count) return nullptr;
  LONG size = store->sizes[index];
  if (size < 0) return nullptr;
  FILE* stream = store->stream;
  if (fseek(stream, store->offsets[index], SEEK_SET) != 0) return nullptr;
  LONG stored_index = 0;
  if (!vx_data_read_long(stream, &stored_index) || stored_index != index) return nullptr;
  /* Data that the file cannot hold is cut short; nothing is allocated for it. */
  long long left = vx_data_bytes_left(stream);
  if (left >= 0 && size > left) return nullptr;
  BYTE* buffer = static_cast<BYTE*>(VX_ALLOC(static_cast<size_t>(size > 0 ? size : 1)));
  if (!buffer) return nullptr;
  LONG got = 0;
  while (got < size) {
    size_t n = fread(buffer + got, 1, static_cast<size_t>(size - got), stream);
    got += static_cast<LONG>(n);
    if (n == 0 || feof(stream)) break;
  }
  if (got != size) {
    VX_FREE(buffer);
    return nullptr;
  }
  if (out_size) *out_size = size;
  return buffer;
}

void vx_res_file_close(VxResFile* store) {
  if (!store) return;
  VX_FREE(store->sizes);
  VX_FREE(store->offsets);
  if (store->stream) fclose(store->stream);
  vx_res_file_init(store);
}
