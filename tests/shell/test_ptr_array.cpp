/* The locked pointer array: its steps of growth and shrinking, removal,
 * look-up, clearing, its lock, and a failed allocation. */
#include <gtest/gtest.h>
#include <windows.h>

#include <limits.h>

#include <set>
#include <thread>
#include <vector>

#include "ptr_array.h"

#ifndef _WIN32
#include <malloc.h>
#include <sys/resource.h>

#include <fstream>
#include <string>

/* Under AddressSanitizer an allocation that the system refuses returns null,
 * as the C library's does, instead of ending the program. */
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace {

void* item(intptr_t n) { return (void*)n; }

std::vector<intptr_t> contents(const PtrArray* array) {
  std::vector<intptr_t> items;
  for (int i = 0; i < ptr_array_count(array); i++) items.push_back((intptr_t)ptr_array_get(array, i));
  return items;
}

struct Checkpoint {
  int count;
  int capacity;
};

/* Appends up to each checkpoint's count, or removes the last items down to it. */
void follow(PtrArray* array, const std::vector<Checkpoint>& checkpoints) {
  for (const auto& c : checkpoints) {
    while (array->count < c.count) ASSERT_EQ(ptr_array_append(array, item(array->count + 1)), 0);
    while (array->count > c.count) {
      int last = array->count - 1;
      ASSERT_EQ(ptr_array_remove_at(array, last), item(last + 1));
    }
    EXPECT_EQ(array->capacity, c.capacity) << "at count " << c.count;
    EXPECT_GE(array->capacity, array->count);
  }
  for (int i = 0; i < array->count; i++) ASSERT_EQ(ptr_array_get(array, i), item(i + 1));
}

TEST(PtrArray, CapacityGrowsAndShrinksByWholeSteps) {
  PtrArray* array = ptr_array_create(8);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(array->capacity, 0);
  EXPECT_EQ(array->items, nullptr);
  follow(array, {
                    {1, 8},   /* the first append */
                    {7, 8},
                    {8, 16},  /* the eighth: one slot always stays free */
                    {15, 16},
                    {16, 24},
                    {15, 16}, /* a whole step unused: one step down */
                    {9, 16},
                    {8, 8},
                    {1, 8},
                    {0, 8},   /* the last item of capacity 8: never down to 0 */
                    {8, 16},
                });
  ptr_array_destroy(array, nullptr);

  /* Step 1: a shrink can leave no free slot, and the next append grows again. */
  array = ptr_array_create(1);
  ASSERT_NE(array, nullptr);
  follow(array, {{1, 2}, {2, 3}, {3, 4}, {1, 1}, {0, 1}, {1, 2}});
  ptr_array_destroy(array, nullptr);
}

TEST(PtrArray, StepBelowOneIsRefused) {
  EXPECT_EQ(ptr_array_create(0), nullptr);
  EXPECT_EQ(ptr_array_create(-8), nullptr);
}

TEST(PtrArray, RemoveAtMovesTheFollowingItemsDown) {
  PtrArray* array = ptr_array_create(8);
  for (intptr_t n = 1; n <= 5; n++) ASSERT_EQ(ptr_array_append(array, item(n)), 0);
  EXPECT_EQ(ptr_array_remove_at(array, 1), item(2));
  EXPECT_EQ(contents(array), (std::vector<intptr_t>{1, 3, 4, 5}));
  EXPECT_EQ(ptr_array_remove_at(array, 0), item(1));
  EXPECT_EQ(ptr_array_remove_at(array, 2), item(5));
  EXPECT_EQ(contents(array), (std::vector<intptr_t>{3, 4}));
  EXPECT_EQ(ptr_array_get(array, 2), nullptr) << "past the count";
  EXPECT_EQ(ptr_array_get(array, -1), nullptr);
  ptr_array_destroy(array, nullptr);
}

TEST(PtrArray, RemoveAtOutsideTheItemsChangesNothing) {
  PtrArray* array = ptr_array_create(8);
  for (intptr_t n = 1; n <= 3; n++) ASSERT_EQ(ptr_array_append(array, item(n)), 0);
  void** items = array->items;
  for (int index : {-1, 3, 4, INT_MIN}) {
    EXPECT_EQ(ptr_array_remove_at(array, index), nullptr) << index;
    EXPECT_EQ(contents(array), (std::vector<intptr_t>{1, 2, 3})) << index;
    EXPECT_EQ(array->capacity, 8);
    EXPECT_EQ(array->items, items);
  }
  ptr_array_destroy(array, nullptr);
}

int compare_number(void* item, void* key) { return (intptr_t)item == *(intptr_t*)key ? 0 : 1; }

TEST(PtrArray, FindGivesTheFirstMatchAndItsIndex) {
  PtrArray* array = ptr_array_create(8);
  for (intptr_t n : {4, 7, 9, 7}) ASSERT_EQ(ptr_array_append(array, item(n)), 0);
  const struct {
    intptr_t key;
    void* found;
    int index;
  } cases[] = {{4, item(4), 0}, {7, item(7), 1}, {9, item(9), 2}, {5, nullptr, -1}};
  for (const auto& c : cases) {
    intptr_t key = c.key;
    int index = 99;
    EXPECT_EQ(ptr_array_find(array, compare_number, &key, &index), c.found) << c.key;
    EXPECT_EQ(index, c.index) << c.key;
  }
  intptr_t key = 9;
  EXPECT_EQ(ptr_array_find(array, compare_number, &key, nullptr), item(9)) << "no index wanted";
  int index = 99;
  EXPECT_EQ(ptr_array_find(nullptr, compare_number, &key, &index), nullptr);
  EXPECT_EQ(index, -1);
  ptr_array_destroy(array, nullptr);
}

std::vector<intptr_t> released;
void record_release(void* item) { released.push_back((intptr_t)item); }

TEST(PtrArray, ClearReleasesTheItemsInIndexOrder) {
  PtrArray* array = ptr_array_create(8);
  for (intptr_t n : {5, 0, 3, 9}) ASSERT_EQ(ptr_array_append(array, item(n)), 0);
  released.clear();
  ptr_array_clear(array, record_release);
  EXPECT_EQ(released, (std::vector<intptr_t>{5, 3, 9})) << "null slots are skipped";
  EXPECT_EQ(array->count, 0);
  EXPECT_EQ(array->capacity, 0);
  EXPECT_EQ(array->items, nullptr);
  /* Still usable, from the first step again. */
  ASSERT_EQ(ptr_array_append(array, item(1)), 0);
  EXPECT_EQ(array->capacity, 8);
  ptr_array_clear(array, nullptr);
  EXPECT_EQ(array->count, 0);

  ASSERT_EQ(ptr_array_append(array, item(6)), 0);
  ASSERT_EQ(ptr_array_append(array, item(2)), 0);
  released.clear();
  ptr_array_destroy(array, record_release);
  EXPECT_EQ(released, (std::vector<intptr_t>{6, 2}));
}

TEST(PtrArray, NullArrayIsHarmless) {
  EXPECT_EQ(ptr_array_count(nullptr), 0);
  EXPECT_EQ(ptr_array_get(nullptr, 0), nullptr);
  EXPECT_EQ(ptr_array_append(nullptr, item(1)), -1);
  EXPECT_EQ(ptr_array_remove_at(nullptr, 0), nullptr);
  released.clear();
  ptr_array_clear(nullptr, record_release);
  ptr_array_destroy(nullptr, record_release);
  EXPECT_TRUE(released.empty());
}

TEST(PtrArray, LockIsRecursiveAndSharedWithTheCaller) {
  PtrArray* array = ptr_array_create(8);
  /* A caller may hold the array's lock across a look-up and a removal. */
  EnterCriticalSection(&array->lock);
  ASSERT_EQ(ptr_array_append(array, item(1)), 0);
  intptr_t key = 1;
  int index = -1;
  ASSERT_EQ(ptr_array_find(array, compare_number, &key, &index), item(1));
  EXPECT_EQ(ptr_array_remove_at(array, index), item(1));
  LeaveCriticalSection(&array->lock);
  ptr_array_destroy(array, nullptr);
}

TEST(PtrArray, ConcurrentAppendsAndRemovalsLoseNothing) {
  PtrArray* array = ptr_array_create(8);
  const int kThreads = 4, kEach = 3000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([array, t] {
      for (int i = 0; i < kEach; i++) {
        ptr_array_append(array, item(1 + t * kEach + i));
        if (i % 3 == 2) { /* take one of our own back out again */
          intptr_t key = 1 + t * kEach + i;
          int index = -1;
          EnterCriticalSection(&array->lock);
          if (ptr_array_find(array, compare_number, &key, &index)) ptr_array_remove_at(array, index);
          LeaveCriticalSection(&array->lock);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<intptr_t> seen;
  for (intptr_t n : contents(array)) EXPECT_TRUE(seen.insert(n).second) << "twice: " << n;
  EXPECT_EQ(array->count, kThreads * kEach * 2 / 3);
  for (int t = 0; t < kThreads; t++) {
    for (int i = 0; i < kEach; i++) {
      EXPECT_EQ(seen.count(1 + t * kEach + i), i % 3 == 2 ? 0u : 1u);
    }
  }
  ptr_array_destroy(array, nullptr);
}

#ifndef _WIN32
/* Allows this process `headroom` bytes of data memory beyond what it has now,
 * so that larger allocations really fail. */
bool limit_data_memory(size_t headroom) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 7, "VmData:") != 0) continue;
    rlim_t used = (rlim_t)std::stoull(line.substr(7)) * 1024;
    struct rlimit limit = {used + headroom, used + headroom};
    return setrlimit(RLIMIT_DATA, &limit) == 0;
  }
  return false;
}

#define CHILD_CHECK(condition)                                 \
  do {                                                         \
    if (!(condition)) {                                        \
      fprintf(stderr, "failed: %s\n", #condition);             \
      fflush(stderr);                                          \
      _exit(1);                                                \
    }                                                          \
  } while (0)

/* Runs in a child process whose memory is then limited. */
void failed_allocations_leave_the_array_unchanged() {
#ifdef M_MMAP_THRESHOLD
  mallopt(M_MMAP_THRESHOLD, 128 * 1024); /* large blocks always come fresh from the system */
#endif
  const int kStep = 1 << 20; /* 8 MiB of slots a step */
  PtrArray* full = ptr_array_create(kStep);
  for (int i = 0; i < kStep - 1; i++) CHILD_CHECK(ptr_array_append(full, item(i + 1)) == 0);
  PtrArray* shrinking = ptr_array_create(kStep);
  for (int i = 0; i < kStep; i++) CHILD_CHECK(ptr_array_append(shrinking, item(i + 1)) == 0);
  CHILD_CHECK(full->capacity == kStep && shrinking->capacity == 2 * kStep);
  CHILD_CHECK(limit_data_memory(1 << 20));

  /* Growing needs two steps of slots, which the system refuses. */
  void** items = full->items;
  CHILD_CHECK(ptr_array_append(full, item(-1)) == -1);
  CHILD_CHECK(full->count == kStep - 1 && full->capacity == kStep && full->items == items);
  CHILD_CHECK(ptr_array_get(full, kStep - 2) == item(kStep - 1));

  /* Shrinking fails too: the removal still happens, in the larger block. */
  items = shrinking->items;
  CHILD_CHECK(ptr_array_remove_at(shrinking, 0) == item(1));
  CHILD_CHECK(shrinking->count == kStep - 1 && shrinking->capacity == 2 * kStep);
  CHILD_CHECK(shrinking->items == items);
  CHILD_CHECK(ptr_array_get(shrinking, 0) == item(2) && ptr_array_get(shrinking, kStep - 2) == item(kStep));
  /* An append that needs no new block still works. */
  CHILD_CHECK(ptr_array_append(shrinking, item(-2)) == 0);
  CHILD_CHECK(ptr_array_get(shrinking, kStep - 1) == item(-2));
  _exit(0);
}

TEST(PtrArrayDeathTest, FailedAllocationLeavesTheArrayUnchanged) {
  EXPECT_EXIT(failed_allocations_leave_the_array_unchanged(), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
