/* A growable array of pointers with its own lock.
 *
 * The array grows and shrinks by whole steps of slots: an append that would
 * fill the last free slot first raises the capacity by steps until a slot is
 * free again; a removal that leaves at least a step of slots unused lowers the
 * capacity by steps, never to 0. Append, remove, find and clear take the lock
 * (a recursive critical section, so a caller may hold it across several
 * calls); count and get do not. The array never owns the items, except
 * through the release callback of clear and destroy. */
#pragma once

#include <windows.h>

typedef struct PtrArray {
  CRITICAL_SECTION lock; /* taken by append, remove, find and clear */
  int step;              /* growth step in slots, fixed at creation */
  int capacity;          /* slots allocated */
  int count;             /* slots in use: items 0..count-1 */
  void** items;          /* `capacity` slots; null while capacity is 0 */
} PtrArray;

/* 0 when `item` matches `key`. */
typedef int (*PtrArrayCompareFn)(void* item, void* key);
typedef void (*PtrArrayReleaseFn)(void* item);

/* An empty array, or null when memory is short or `step` is below 1. */
PtrArray* ptr_array_create(int step);
/* 0 for a null array. */
int ptr_array_count(const PtrArray* array);
/* Item `index`, or null for a null array or an index outside 0..count-1. */
void* ptr_array_get(const PtrArray* array, int index);
/* 0; -1 for a null array or when it cannot grow (nothing changes then). */
int ptr_array_append(PtrArray* array, void* item);
/* Removes item `index` and returns it; the items after it move down. Null for
 * an index outside 0..count-1. */
void* ptr_array_remove_at(PtrArray* array, int index);
/* The first item, from index 0 up, for which compare(item, key) is 0, and its
 * index through `index` (optional). No match: null and index -1. */
void* ptr_array_find(PtrArray* array, PtrArrayCompareFn compare, void* key, int* index);
/* Calls release (optional) on every non-null item in index order, then leaves
 * the array empty with capacity 0. */
void ptr_array_clear(PtrArray* array, PtrArrayReleaseFn release);
/* Clears the array and frees it; null is ignored. */
void ptr_array_destroy(PtrArray* array, PtrArrayReleaseFn release);
