/* Tracked allocation: every live block of the library code has a record of
 * the source file and line that allocated it, kept for inspection in a
 * debugger (the program never prints them). Plus two small file operations
 * of the resource and skin code.
 *
 * The bookkeeping never fails an allocation: a block whose record could not
 * be made is handed out, and later freed, without one. Allocation happens on
 * the user-interface thread. */
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <windows.h>

#include "ptr_array.h"

#define VX_MEM_FILE_SIZE 260

/* One live block. */
typedef struct VxMemRecord {
  char file[VX_MEM_FILE_SIZE]; /* the caller's source path as passed, cut to fit, terminated */
  int32_t line;                /* the caller's line */
  void* address;               /* the block */
} VxMemRecord;

/* A block of `size` bytes, or null. */
void* vx_mem_alloc(size_t size, const char* file, int line);
/* Resizes `block` (null: allocates). Null when that fails; the old block then
 * stays valid and keeps its record. A size of 0 frees the block: null. */
void* vx_mem_realloc(void* block, size_t size, const char* file, int line);
/* Frees a block of vx_mem_alloc or vx_mem_realloc; null is ignored. */
void vx_mem_free(void* block);

#define VX_ALLOC(size) vx_mem_alloc((size), __FILE__, __LINE__)
#define VX_REALLOC(block, size) vx_mem_realloc((block), (size), __FILE__, __LINE__)
#define VX_FREE(block) vx_mem_free(block)

/* The records of the live blocks (VxMemRecord pointers), or null before the
 * first allocation. */
const PtrArray* vx_mem_records(void);

/* Moves the stream forward to the next multiple of 4: 0 when it is there
 * already, -1 when the position cannot be read (or for a null stream),
 * otherwise the result of the move. */
int vx_pad_to_4(FILE* stream);
/* 0 when the file at the UTF-16 path opens for reading; -1 otherwise (also for null). */
int vx_file_exists(const WCHAR* path);
