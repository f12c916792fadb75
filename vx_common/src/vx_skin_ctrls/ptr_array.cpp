#include "ptr_array.h"

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* Moves the items into a new zeroed block of `capacity` slots. On failure the
 * array keeps its block: -1. */
static int move_to_block(PtrArray* array, long long capacity) {
  if (capacity <= 0 || capacity > INT_MAX || (unsigned long long)capacity > SIZE_MAX / sizeof(void*)) {
    return -1;
  }
  size_t bytes = (size_t)capacity * sizeof(void*);
  void** block = (void**)malloc(bytes);
  if (!block) return -1;
  memset(block, 0, bytes);
  if (array->count > 0) memcpy(block, array->items, (size_t)array->count * sizeof(void*));
  free(array->items);
  array->items = block;
  array->capacity = (int)capacity;
  return 0;
}

PtrArray* ptr_array_create(int step) {
  if (step < 1) return NULL;
  PtrArray* array = (PtrArray*)malloc(sizeof(PtrArray));
  if (!array) return NULL;
  memset(array, 0, sizeof(*array));
  array->step = step;
  InitializeCriticalSection(&array->lock);
  return array;
}

int ptr_array_count(const PtrArray* array) { return array ? array->count : 0; }

void* ptr_array_get(const PtrArray* array, int index) {
  if (!array || index < 0 || index >= array->count) return NULL;
  return array->items[index];
}

int ptr_array_append(PtrArray* array, void* item) {
  if (!array) return -1;
  EnterCriticalSection(&array->lock);
  int result = 0;
  long long needed = (long long)array->count + 1;
  if (needed >= array->capacity) {
    /* The smallest capacity, a whole number of steps up, that exceeds the new count. */
    long long steps = (needed - array->capacity) / array->step + 1;
    result = move_to_block(array, array->capacity + steps * array->step);
  }
  if (result == 0) array->items[array->count++] = item;
  LeaveCriticalSection(&array->lock);
  return result;
}

void* ptr_array_remove_at(PtrArray* array, int index) {
  if (!array || index < 0 || index >= array->count) return NULL;
  EnterCriticalSection(&array->lock);
  void* item = NULL;
  if (index < array->count) { /* another thread may have removed items meanwhile */
    item = array->items[index];
    memmove(array->items + index, array->items + index + 1,
            (size_t)(array->count - index - 1) * sizeof(void*));
    array->count--;
    array->items[array->count] = NULL;
    long long count = array->count, capacity = array->capacity, step = array->step;
    if (count <= capacity - step) {
      /* The smallest capacity, a whole number of steps down, that still holds
       * the items; never 0. A failed move keeps the larger block. */
      long long smaller = capacity - ((capacity - count) / step) * step;
      if (smaller > 0) move_to_block(array, smaller);
    }
  }
  LeaveCriticalSection(&array->lock);
  return item;
}

void* ptr_array_find(PtrArray* array, PtrArrayCompareFn compare, void* key, int* index) {
  if (index) *index = -1;
  if (!array || !compare) return NULL;
  EnterCriticalSection(&array->lock);
  void* found = NULL;
  for (int i = 0; i < array->count; i++) {
    if (compare(array->items[i], key) == 0) {
      found = array->items[i];
      if (index) *index = i;
      break;
    }
  }
  LeaveCriticalSection(&array->lock);
  return found;
}

void ptr_array_clear(PtrArray* array, PtrArrayReleaseFn release) {
  if (!array) return;
  EnterCriticalSection(&array->lock);
  for (int i = 0; i < array->count; i++) {
    void* item = array->items[i];
    if (!item) continue;
    if (release) release(item);
    /* A release that changed the array leaves its slots alone. */
    if (i < array->count && array->items[i] == item) array->items[i] = NULL;
  }
  free(array->items);
  array->items = NULL;
  array->count = 0;
  array->capacity = 0;
  LeaveCriticalSection(&array->lock);
}

void ptr_array_destroy(PtrArray* array, PtrArrayReleaseFn release) {
  if (!array) return;
  ptr_array_clear(array, release);
  DeleteCriticalSection(&array->lock);
  free(array);
}
