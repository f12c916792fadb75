#include "vx_alloc.h"

#include <stdlib.h>
#include <string.h>

/* The records of the live blocks; made by the first allocation that needs it,
 * never destroyed. */
static PtrArray* records;

static PtrArray* record_list(void) {
  if (!records) records = ptr_array_create(16);
  return records;
}

static int same_address(void* item, void* key) {
  return ((VxMemRecord*)item)->address == key ? 0 : 1;
}

static void fill_record(VxMemRecord* record, void* address, const char* file, int line) {
  size_t n = 0;
  if (file) {
    while (n < VX_MEM_FILE_SIZE - 1 && file[n]) {
      record->file[n] = file[n];
      n++;
    }
  }
  memset(record->file + n, 0, VX_MEM_FILE_SIZE - n);
  record->line = line;
  record->address = address;
}

/* Adds a record for a new block; a failure only leaves the block untracked. */
static void track(void* block, const char* file, int line) {
  PtrArray* list = record_list();
  if (!list) return;
  VxMemRecord* record = (VxMemRecord*)malloc(sizeof(VxMemRecord));
  if (!record) return;
  fill_record(record, block, file, line);
  if (ptr_array_append(list, record) != 0) free(record);
}

void* vx_mem_alloc(size_t size, const char* file, int line) {
  void* block = malloc(size);
  if (!block) return NULL;
  track(block, file, line);
  return block;
}

void* vx_mem_realloc(void* block, size_t size, const char* file, int line) {
  if (block && size == 0) {
    vx_mem_free(block);
    return NULL;
  }
  PtrArray* list = record_list();
  /* The lock is held from the look-up to the update, so the record found is
   * still the block's when it is changed. */
  if (list) EnterCriticalSection(&list->lock);
  int index = -1;
  VxMemRecord* record = block && list ? (VxMemRecord*)ptr_array_find(list, same_address, block, &index) : NULL;
  void* resized = realloc(block, size);
  if (resized) {
    if (record) {
      fill_record(record, resized, file, line);
    } else {
      track(resized, file, line);
    }
  }
  if (list) LeaveCriticalSection(&list->lock);
  return resized;
}

void vx_mem_free(void* block) {
  if (!block) return;
  if (records) {
    EnterCriticalSection(&records->lock);
    int index = -1;
    VxMemRecord* record = (VxMemRecord*)ptr_array_find(records, same_address, block, &index);
    if (record) {
      ptr_array_remove_at(records, index);
      free(record);
    }
    LeaveCriticalSection(&records->lock);
  }
  free(block);
}

const PtrArray* vx_mem_records(void) { return records; }

int vx_pad_to_4(FILE* stream) {
  if (!stream) return -1;
  long position = ftell(stream);
  if (position < 0) return -1;
  if (position % 4 == 0) return 0;
  return fseek(stream, 4 - position % 4, SEEK_CUR);
}

int vx_file_exists(const WCHAR* path) {
  if (!path) return -1;
  FILE* file = _wfopen(path, TEXT("r"));
  if (!file) return -1;
  fclose(file);
  return 0;
}
