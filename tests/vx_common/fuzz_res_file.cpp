/* Fuzz target: a resource file read as the skin reads it (record table, then
 * the item store on the same stream, then every item). The first input byte
 * picks the schema and whether a valid header is put in front of the rest. */
#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "res_writer.h"
#include "vx_alloc.h"
#include "vx_data.h"
#include "vx_res_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const std::vector<int32_t> kSchemas[] = {{3, 3, 6, 3, 3, 3, 3, 3, 3, 8, 3}, {1, 2, 3, 4, 5, 6, 7, 8}};
  const std::vector<int32_t>& types = kSchemas[data[0] & 1];
  ResWriter w;
  if (data[0] & 2) w.header(types, data[1]);
  w.raw(std::vector<uint8_t>(data + 2, data + size));
  if (w.bytes.empty()) return 0;
  FILE* f = fmemopen(w.bytes.data(), w.bytes.size(), "rb");
  if (!f) return 0;

  VxData table;
  vx_data_init(&table);
  vx_data_set_columns(&table, static_cast<int>(types.size()));
  for (size_t i = 0; i < types.size(); ++i) vx_data_set_type(&table, static_cast<int>(i), types[i]);
  int read = vx_data_read(&table, f);
  for (VxDataRecord* r = vx_data_first(&table); r; r = vx_data_next(&table, r)) {
    for (size_t i = 0; i < types.size(); ++i)
      if ((types[i] == 7 || types[i] == 8) && r->lengths[i] > 0) {
        volatile uint8_t last = reinterpret_cast<const uint8_t*>(r->slots[i])[r->lengths[i] - 1];
        (void)last;
      }
  }
  vx_data_free(&table);

  VxResFile store;
  vx_res_file_init(&store);
  if (read == 0 && vx_res_file_open(&store, f) == 0) {
    for (int i = -1; i <= store.count && i < 64; ++i) {
      LONG length = 0;
      BYTE* item = vx_res_file_read_item(&store, i, &length);
      if (item && length > 0) {
        volatile uint8_t last = item[length - 1];
        (void)last;
      }
      VX_FREE(item);
    }
    vx_res_file_close(&store);
  } else {
    fclose(f);
  }
  return 0;
}
