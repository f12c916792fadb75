/* Tracked allocation (a record of file and line for every live block), and
 * the two small file operations beside it. */
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "vx_alloc.h"

#ifndef _WIN32
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "plat/host.h"

/* Under AddressSanitizer an allocation that the system refuses returns null,
 * as the C library's does, instead of ending the program. */
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace {

int record_count() { return ptr_array_count(vx_mem_records()); }

/* The record of the block at `address`, and how many there are. */
const VxMemRecord* record_of(uintptr_t address, int* matches = nullptr) {
  const VxMemRecord* found = nullptr;
  int n = 0;
  for (int i = 0; i < record_count(); i++) {
    auto* r = (const VxMemRecord*)ptr_array_get(vx_mem_records(), i);
    if ((uintptr_t)r->address == address) {
      found = r;
      n++;
    }
  }
  if (matches) *matches = n;
  return found;
}

const VxMemRecord* record_of(void* block) { return record_of((uintptr_t)block); }

TEST(VxAlloc, EveryLiveBlockHasItsRecord) {
  int before = record_count();
  void* first = VX_ALLOC(10); int first_line = __LINE__;
  void* second = VX_ALLOC(20);
  void* third = VX_ALLOC(30); int third_line = __LINE__;
  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(record_count(), before + 3);
  VX_FREE(second);
  EXPECT_EQ(record_count(), before + 2);
  EXPECT_EQ(record_of(second), nullptr);
  const VxMemRecord* r = record_of(first);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->file, __FILE__);
  EXPECT_EQ(r->line, first_line);
  r = record_of(third);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->line, third_line);
  VX_FREE(first);
  VX_FREE(third);
  EXPECT_EQ(record_count(), before);
}

TEST(VxAlloc, ResizeThatMovesLeavesOneRecordWithTheNewAddress) {
  int before = record_count();
  void* block = VX_ALLOC(16);
  ASSERT_NE(block, nullptr);
  memset(block, 0x5A, 16);
  uintptr_t old_address = (uintptr_t)block;
  void* moved = VX_REALLOC(block, 1 << 20); int line = __LINE__;
  ASSERT_NE(moved, nullptr);
  ASSERT_NE((uintptr_t)moved, old_address) << "a block this much larger moves";
  EXPECT_EQ(((unsigned char*)moved)[15], 0x5A) << "the contents move along";
  EXPECT_EQ(record_of(old_address), nullptr);
  int matches = 0;
  const VxMemRecord* r = record_of((uintptr_t)moved, &matches);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(matches, 1);
  EXPECT_EQ(r->line, line) << "the record names the resize";
  EXPECT_EQ(record_count(), before + 1);
  VX_FREE(moved);
  EXPECT_EQ(record_count(), before);
}

TEST(VxAlloc, ResizeOfNullAllocatesAndResizeToZeroFrees) {
  int before = record_count();
  void* block = VX_REALLOC(nullptr, 32);
  ASSERT_NE(block, nullptr);
  EXPECT_NE(record_of(block), nullptr);
  EXPECT_EQ(VX_REALLOC(block, 0), nullptr);
  EXPECT_EQ(record_count(), before);
}

TEST(VxAlloc, FreeOfNullDoesNothing) {
  void* kept = VX_ALLOC(4); /* so that the records exist */
  int before = record_count();
  VX_FREE(nullptr);
  EXPECT_EQ(record_count(), before);
  VX_FREE(kept);
}

TEST(VxAlloc, LongSourcePathIsCutToFit) {
  std::string path(400, 'p');
  void* block = vx_mem_alloc(8, path.c_str(), 77);
  const VxMemRecord* r = record_of(block);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::string(r->file), path.substr(0, VX_MEM_FILE_SIZE - 1));
  EXPECT_EQ(r->line, 77);
  VX_FREE(block);
  block = vx_mem_alloc(8, nullptr, 1);
  r = record_of(block);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->file, "");
  VX_FREE(block);
}

#ifndef _WIN32
#define CHILD_CHECK(condition)                     \
  do {                                             \
    if (!(condition)) {                            \
      fprintf(stderr, "failed: %s\n", #condition); \
      fflush(stderr);                              \
      _exit(1);                                    \
    }                                              \
  } while (0)

/* Allows this process `headroom` bytes of data memory beyond what it has now. */
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

/* Runs in a child process whose memory is then limited. */
void failed_allocations_keep_the_records() {
#ifdef M_MMAP_THRESHOLD
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
  void* block = VX_ALLOC(64);
  CHILD_CHECK(block != nullptr);
  memset(block, 0x33, 64);
  int before = record_count();
  CHILD_CHECK(limit_data_memory(1 << 20));
  CHILD_CHECK(VX_ALLOC(64 << 20) == nullptr);
  CHILD_CHECK(record_count() == before);
  /* A failed resize leaves the block as it was, still with its record. */
  CHILD_CHECK(VX_REALLOC(block, 64 << 20) == nullptr);
  CHILD_CHECK(record_count() == before);
  CHILD_CHECK(record_of(block) != nullptr);
  CHILD_CHECK(((unsigned char*)block)[63] == 0x33);
  VX_FREE(block);
  CHILD_CHECK(record_count() == before - 1);
  _exit(0);
}

TEST(VxAllocDeathTest, FailedAllocationsKeepTheRecordsRight) {
  EXPECT_EXIT(failed_allocations_keep_the_records(), ::testing::ExitedWithCode(0), "");
}
#endif

/* ---- Small file operations ---- */

TEST(VxPadTo4, MovesForwardToTheNextMultipleOfFour) {
  FILE* stream = tmpfile();
  ASSERT_NE(stream, nullptr);
  const struct {
    long position;
    long padded;
  } cases[] = {{0, 0}, {5, 8}, {8, 8}, {6, 8}, {7, 8}, {9, 12}};
  for (const auto& c : cases) {
    ASSERT_EQ(fseek(stream, c.position, SEEK_SET), 0);
    EXPECT_EQ(vx_pad_to_4(stream), 0) << c.position;
    EXPECT_EQ(ftell(stream), c.padded) << c.position;
  }
  fclose(stream);
  EXPECT_EQ(vx_pad_to_4(nullptr), -1);
}

#ifndef _WIN32
TEST(VxPadTo4, UnreadablePositionGivesMinusOne) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  FILE* stream = fdopen(ends[0], "r");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(vx_pad_to_4(stream), -1);
  fclose(stream);
  close(ends[1]);
}
#endif

class VxFileExists : public ::testing::Test {
 protected:
#ifndef _WIN32
  void SetUp() override {
    previous_ = plat::device_root();
    char dir[] = "/tmp/velmar-alloc-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    plat::set_device_root(root_);
  }
  void TearDown() override {
    plat::set_device_root(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  std::string root_, previous_;
#endif
};

TEST_F(VxFileExists, TellsWhetherTheFileOpensForReading) {
  const WCHAR* path = TEXT("vx_alloc_exists.txt");
  _wremove(path);
  EXPECT_EQ(vx_file_exists(path), -1);
  FILE* file = _wfopen(path, TEXT("w"));
  ASSERT_NE(file, nullptr);
  fputs("x", file);
  fclose(file);
  EXPECT_EQ(vx_file_exists(path), 0);
  EXPECT_EQ(vx_file_exists(TEXT("VX_ALLOC_EXISTS.TXT")), 0) << "names ignore case";
  EXPECT_EQ(vx_file_exists(nullptr), -1);
  EXPECT_EQ(_wremove(path), 0);
  EXPECT_EQ(vx_file_exists(path), -1);
}

}  // namespace
