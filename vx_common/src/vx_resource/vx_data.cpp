#include "vx_data.h"

#include "vx_alloc.h"

namespace {

const char kWarning[] = "warning: the item num read from head not equal that read actually!\n";

/* UTF-16LE bytes of the two markers. */
const BYTE kStart[24] = {'V', 0, 'X', 0, 'D', 0, 'A', 0, 'T', 0, 'A', 0, ' ', 0, 'S', 0, 'T', 0, 'A', 0, 'R', 0, 'T', 0};
const BYTE kEnd[8] = {' ', 0, 'E', 0, 'N', 0, 'D', 0};

/* A text (code 7) or blob (code 8) field. A length larger than what the file
 * still holds is cut short without allocating. */
int read_sized(FILE* stream, bool text, VxDataSlot* slot, LONG* length) {
  LONG size = 0;
  if (!vx_data_read_long(stream, &size)) return -1;
  if (size <= 0) return 0;
  long long left = vx_data_bytes_left(stream);
  if (left >= 0 && size > left) return -3;
  size_t room = static_cast<size_t>(size) + (text ? 2 : 0);
  BYTE* buffer = static_cast<BYTE*>(VX_ALLOC(room));
  if (!buffer) return -2;
  if (fread(buffer, 1, static_cast<size_t>(size), stream) != static_cast<size_t>(size)) {
    VX_FREE(buffer);
    return -3;
  }
  if (text) {
    size_t at = static_cast<size_t>(size) & ~static_cast<size_t>(1);
    buffer[at] = 0;
    buffer[at + 1] = 0;
  }
  vx_pad_to_4(stream);
  *slot = reinterpret_cast<VxDataSlot>(buffer);
  *length = size;
  return 0;
}

int read_field(VxData* table, int column, FILE* stream, VxDataSlot* slot, LONG* length) {
  *slot = 0;
  *length = 0;
  BYTE b[4] = {0, 0, 0, 0};
  switch (table->types[column]) {
    case VX_DATA_U8:
    case VX_DATA_U8_B:
      if (fread(b, 1, 1, stream) != 1) return -1;
      *slot = b[0];
      *length = 1;
      return 0;
    case VX_DATA_U16:
    case VX_DATA_U16_B:
      if (fread(b, 1, 2, stream) != 2) return -1;
      *slot = b[0] | (b[1] << 8);
      *length = 2;
      return 0;
    case VX_DATA_I32:
    case VX_DATA_I32_B: {
      LONG value = 0;
      if (!vx_data_read_long(stream, &value)) return -1;
      *slot = value;
      *length = 4;
      return 0;
    }
    case VX_DATA_TEXT:
      return read_sized(stream, true, slot, length);
    case VX_DATA_BLOB:
      return read_sized(stream, false, slot, length);
    case VX_DATA_CUSTOM: {
      VxDataReader reader = table->readers ? table->readers[column] : nullptr;
      if (!reader) return -10;
      return reader(slot, stream) == 0 ? 0 : -1;
    }
    default:
      return -10;
  }
}

void release_fields(VxData* table, VxDataRecord* record) {
  for (LONG i = 0; i < table->column_count; ++i) {
    VxDataSlot value = record->slots[i];
    if (!value) continue;
    switch (table->types[i]) {
      case VX_DATA_TEXT:
      case VX_DATA_BLOB:
        VX_FREE(reinterpret_cast<void*>(value));
        break;
      case VX_DATA_CUSTOM:
        if (table->releases && table->releases[i]) table->releases[i](value);
        break;
      default:
        break;
    }
    record->slots[i] = 0;
  }
}

void free_record(VxData* table, VxDataRecord* record) {
  if (!record) return;
  if (record->slots) release_fields(table, record);
  VX_FREE(record->slots);
  VX_FREE(record->lengths);
  VX_FREE(record);
}

VxDataRecord* new_record(LONG columns) {
  VxDataRecord* record = static_cast<VxDataRecord*>(VX_ALLOC(sizeof(VxDataRecord)));
  if (!record) return nullptr;
  record->slots = static_cast<VxDataSlot*>(VX_ALLOC(sizeof(VxDataSlot) * columns));
  record->lengths = static_cast<LONG*>(VX_ALLOC(sizeof(LONG) * columns));
  record->next = nullptr;
  if (!record->slots || !record->lengths) {
    VX_FREE(record->slots);
    VX_FREE(record->lengths);
    VX_FREE(record);
    return nullptr;
  }
  memset(record->slots, 0, sizeof(VxDataSlot) * columns);
  memset(record->lengths, 0, sizeof(LONG) * columns);
  return record;
}

void free_records(VxData* table) {
  VxDataRecord* record = table->first;
  while (record) {
    VxDataRecord* next = record->next;
    free_record(table, record);
    record = next;
  }
  table->first = table->last = nullptr;
  table->record_count = 0;
}

int read_header(VxData* table, FILE* stream, LONG* count) {
  BYTE work[40];
  memset(work, 0, sizeof work);
  if (fread(work, 1, 24, stream) != 24 || memcmp(work, kStart, sizeof kStart) != 0) return VX_DATA_BAD_START;
  LONG columns = 0;
  if (!vx_data_read_long(stream, &columns) || columns != table->column_count) return VX_DATA_BAD_COLUMNS;
  for (LONG i = 0; i < table->column_count; ++i) {
    LONG code = 0;
    if (!vx_data_read_long(stream, &code) || code != table->types[i]) return VX_DATA_BAD_TYPE_BASE - i;
  }
  if (!vx_data_read_long(stream, count)) return VX_DATA_NO_COUNT;
  memset(work, 0, sizeof work);
  if (fread(work, 1, 8, stream) != 8 || memcmp(work, kEnd, sizeof kEnd) != 0) return VX_DATA_BAD_END;
  return 0;
}

}  // namespace

void vx_data_init(VxData* table) {
  if (table) memset(table, 0, sizeof *table);
}

int vx_data_set_columns(VxData* table, int count) {
  if (!table || count < 1) return -1;
  free_records(table);
  VX_FREE(table->types);
  VX_FREE(table->readers);
  VX_FREE(table->releases);
  table->types = nullptr;
  table->readers = nullptr;
  table->releases = nullptr;
  table->column_count = 0;
  LONG* types = static_cast<LONG*>(VX_ALLOC(sizeof(LONG) * static_cast<size_t>(count)));
  if (!types) return -1;
  memset(types, 0, sizeof(LONG) * static_cast<size_t>(count));
  table->types = types;
  table->column_count = count;
  return 0;
}

int vx_data_set_type(VxData* table, int column, int code) {
  if (!table || !table->types || column < 0 || column >= table->column_count) return -1;
  if (code == VX_DATA_CUSTOM && !table->readers) {
    size_t n = static_cast<size_t>(table->column_count);
    VxDataReader* readers = static_cast<VxDataReader*>(VX_ALLOC(sizeof(VxDataReader) * n));
    VxDataRelease* releases = static_cast<VxDataRelease*>(VX_ALLOC(sizeof(VxDataRelease) * n));
    if (!readers || !releases) {
      VX_FREE(readers);
      VX_FREE(releases);
      return -1;
    }
    for (size_t i = 0; i < n; ++i) {
      readers[i] = nullptr;
      releases[i] = nullptr;
    }
    table->readers = readers;
    table->releases = releases;
  }
  table->types[column] = code;
  return 0;
}

int vx_data_read(VxData* table, FILE* stream) {
  if (!table || !stream || !table->types) return VX_DATA_BAD_START;
  free_records(table);
  LONG wanted = 0;
  int header = read_header(table, stream, &wanted);
  if (header != 0) return header;

  while (table->record_count < wanted && !feof(stream)) {
    VxDataRecord* record = new_record(table->column_count);
    if (!record) break;
    bool ok = true;
    for (LONG i = 0; i < table->column_count && ok; ++i)
      ok = read_field(table, i, stream, &record->slots[i], &record->lengths[i]) == 0;
    if (!ok) {
      free_record(table, record);
      break;
    }
    if (table->last)
      table->last->next = record;
    else
      table->first = record;
    table->last = record;
    table->record_count++;
  }
  if (table->record_count < wanted) {
    printf("%s", kWarning);
    return table->record_count > 0 ? (int)table->record_count : (int)VX_DATA_NO_RECORD;
  }
  return 0;
}

VxDataRecord* vx_data_first(VxData* table) { return table ? table->first : nullptr; }

VxDataRecord* vx_data_next(VxData* table, VxDataRecord* record) {
  (void)table;
  return record ? record->next : nullptr;
}

int vx_data_free(VxData* table) {
  if (!table) return 0;
  free_records(table);
  VX_FREE(table->types);
  VX_FREE(table->readers);
  VX_FREE(table->releases);
  vx_data_init(table);
  return 0;
}

int vx_data_read_long(FILE* stream, LONG* value) {
  BYTE b[4];
  if (fread(b, 1, 4, stream) != 4) return 0;
  *value = static_cast<LONG>(static_cast<DWORD>(b[0]) | (static_cast<DWORD>(b[1]) << 8) |
                             (static_cast<DWORD>(b[2]) << 16) | (static_cast<DWORD>(b[3]) << 24));
  return 1;
}

long long vx_data_bytes_left(FILE* stream) {
  long here = ftell(stream);
  if (here < 0 || fseek(stream, 0, SEEK_END) != 0) return -1;
  long end = ftell(stream);
  fseek(stream, here, SEEK_SET);
  return end < here ? 0 : static_cast<long long>(end) - here;
}
