/* The record table (vx_data) and the item store (vx_res_file) of the
 * resource file, on fixtures written by ResWriter. */
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "res_writer.h"
#include "vx_alloc.h"
#include "vx_data.h"
#include "vx_res_file.h"

namespace {

const std::vector<int32_t> kSkinTypes = {3, 3, 6, 3, 3, 3, 3, 3, 3, 8, 3};
const char kWarning[] = "warning: the item num read from head not equal that read actually!\n";

void declare(VxData* table, const std::vector<int32_t>& types) {
  vx_data_init(table);
  ASSERT_EQ(vx_data_set_columns(table, static_cast<int>(types.size())), 0);
  for (size_t i = 0; i < types.size(); ++i) ASSERT_EQ(vx_data_set_type(table, static_cast<int>(i), types[i]), 0);
}

/* One skin record: columns 0 to 8, the text blob, the variant. */
void skin_record(ResWriter& w, int32_t id, const std::vector<uint8_t>& text, int32_t variant = -1) {
  for (int32_t v : {id, 1, 77, 10, 20, 30, 40, id % 3, -1}) w.u32(static_cast<uint32_t>(v));
  w.sized(text);
  w.u32(static_cast<uint32_t>(variant));
}

std::vector<VxDataRecord*> records(VxData* table) {
  std::vector<VxDataRecord*> out;
  for (VxDataRecord* r = vx_data_first(table); r; r = vx_data_next(table, r)) out.push_back(r);
  return out;
}

/* Reads the table with standard output captured; returns the result. */
int read_capturing(VxData* table, FILE* f, std::string* printed) {
  testing::internal::CaptureStdout();
  int result = vx_data_read(table, f);
  fflush(stdout);
  *printed = testing::internal::GetCapturedStdout();
  return result;
}

size_t count_of(const std::string& haystack, const std::string& needle) {
  size_t n = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) n++;
  return n;
}

}  // namespace

TEST(VxData, RefusesAHeaderThatDiffersFromTheSchema) {
  struct Case {
    const char* name;
    std::function<void(ResWriter&)> write;
    int expected;
  };
  const Case cases[] = {
      {"start marker in lower case", [](ResWriter& w) { w.wide("vxdata start"); }, -2},
      {"start marker cut short", [](ResWriter& w) { w.wide("VXDATA"); }, -2},
      {"empty file", [](ResWriter&) {}, -2},
      {"10 columns for the 11-column schema",
       [](ResWriter& w) {
         w.header({3, 3, 6, 3, 3, 3, 3, 3, 3, 8}, 0);
       },
       -3},
      {"column count missing", [](ResWriter& w) { w.wide("VXDATA START"); w.u16(11); }, -3},
      {"column 9 with code 3 instead of 8",
       [](ResWriter& w) { w.header({3, 3, 6, 3, 3, 3, 3, 3, 3, 3, 3}, 0); }, -19},
      {"column 0 with code 6 instead of 3",
       [](ResWriter& w) { w.header({6, 3, 6, 3, 3, 3, 3, 3, 3, 8, 3}, 0); }, -10},
      {"type code of column 4 missing",
       [](ResWriter& w) {
         w.wide("VXDATA START");
         w.u32(11);
         for (int i = 0; i < 4; ++i) w.u32(static_cast<uint32_t>(kSkinTypes[i]));
       },
       -14},
      {"record count missing",
       [](ResWriter& w) {
         w.wide("VXDATA START");
         w.u32(11);
         for (int32_t t : kSkinTypes) w.u32(static_cast<uint32_t>(t));
       },
       -4},
      {"end marker in another case",
       [](ResWriter& w) {
         w.wide("VXDATA START");
         w.u32(11);
         for (int32_t t : kSkinTypes) w.u32(static_cast<uint32_t>(t));
         w.u32(0);
         w.wide(" End");
       },
       -5},
      {"end marker cut short",
       [](ResWriter& w) {
         w.wide("VXDATA START");
         w.u32(11);
         for (int32_t t : kSkinTypes) w.u32(static_cast<uint32_t>(t));
         w.u32(0);
         w.wide(" EN");
       },
       -5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResWriter w;
    c.write(w);
    VxData table;
    declare(&table, kSkinTypes);
    FILE* f = w.file();
    std::string printed;
    EXPECT_EQ(read_capturing(&table, f, &printed), c.expected);
    EXPECT_EQ(printed, "") << "a header failure prints nothing";
    EXPECT_EQ(vx_data_first(&table), nullptr);
    fclose(f);
    vx_data_free(&table);
  }
}

TEST(VxData, ReadsSkinRecordsWithPaddedBlobsAndTheStoreAfterThem) {
  ResWriter w;
  w.header(kSkinTypes, 4);
  /* The text of record 0 starts on a 4-byte boundary and has odd length 5. */
  const std::vector<uint8_t> odd = {'a', 0, 'b', 0, 'c'};
  skin_record(w, 100, odd, 5);
  skin_record(w, 101, utf16le("Menu", true), -1);
  skin_record(w, 102, {}, 2);
  /* A negative length: the field is empty and only the length word is stored. */
  for (int32_t v : {103, 0, 0, 1, 2, 3, 4, -1, -2}) w.u32(static_cast<uint32_t>(v));
  w.u32(static_cast<uint32_t>(-7));
  w.u32(9);
  w.store({{'B', 'M', 1}, {}, {9, 8, 7, 6}});

  VxData table;
  declare(&table, kSkinTypes);
  FILE* f = w.file();
  std::string printed;
  ASSERT_EQ(read_capturing(&table, f, &printed), 0);
  EXPECT_EQ(printed, "");
  std::vector<VxDataRecord*> got = records(&table);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(table.record_count, 4);

  const int32_t fixed[4][9] = {{100, 1, 77, 10, 20, 30, 40, 1, -1},
                               {101, 1, 77, 10, 20, 30, 40, 2, -1},
                               {102, 1, 77, 10, 20, 30, 40, 0, -1},
                               {103, 0, 0, 1, 2, 3, 4, -1, -2}};
  const int32_t variants[4] = {5, -1, 2, 9};
  for (int r = 0; r < 4; ++r) {
    SCOPED_TRACE(r);
    for (int c = 0; c < 9; ++c) {
      EXPECT_EQ(static_cast<LONG>(got[r]->slots[c]), fixed[r][c]) << "column " << c;
      EXPECT_EQ(got[r]->lengths[c], 4);
    }
    EXPECT_EQ(static_cast<LONG>(got[r]->slots[10]), variants[r]);
  }
  /* A blob is a buffer of exactly L bytes. */
  ASSERT_EQ(got[0]->lengths[9], 5);
  ASSERT_NE(got[0]->slots[9], 0);
  EXPECT_EQ(memcmp(reinterpret_cast<void*>(got[0]->slots[9]), odd.data(), 5), 0);
  ASSERT_EQ(got[1]->lengths[9], 10);
  EXPECT_EQ(memcmp(reinterpret_cast<void*>(got[1]->slots[9]), utf16le("Menu", true).data(), 10), 0);
  EXPECT_EQ(got[2]->lengths[9], 0);
  EXPECT_EQ(got[2]->slots[9], 0);
  EXPECT_EQ(got[3]->lengths[9], 0);
  EXPECT_EQ(got[3]->slots[9], 0);

  /* The item store begins where the last record ended. */
  VxResFile store;
  vx_res_file_init(&store);
  ASSERT_EQ(vx_res_file_open(&store, f), 0);
  EXPECT_EQ(store.count, 3);
  LONG size = -1;
  BYTE* item = vx_res_file_read_item(&store, 2, &size);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(item[0], 9);
  EXPECT_EQ(item[3], 6);
  VX_FREE(item);
  vx_res_file_close(&store);
  EXPECT_EQ(vx_data_free(&table), 0);
  EXPECT_EQ(vx_data_first(&table), nullptr);
}

TEST(VxData, StoresEachFieldTypeAsItsCodeSays) {
  /* Every code once; the text and blob of odd length are followed by padding. */
  const std::vector<int32_t> types = {1, 2, 3, 4, 5, 6, 7, 8, 3};
  ResWriter w;
  w.header(types, 1);
  w.u8(0xFF);
  w.u16(0xFFFE);
  w.u32(0xFFFFFFFB);
  w.u8(0x80);
  w.u16(0x8001);
  w.u32(0x7FFFFFFF);
  w.sized({'x', 0, 'y', 0, 'z'});  /* text, L = 5 */
  w.sized({1, 2, 3});              /* blob, L = 3 */
  w.u32(42);
  w.u32(0);  /* an empty store follows */

  VxData table;
  declare(&table, types);
  FILE* f = w.file();
  ASSERT_EQ(vx_data_read(&table, f), 0);
  VxDataRecord* r = vx_data_first(&table);
  ASSERT_NE(r, nullptr);
  struct Expect {
    LONG value;
    LONG length;
  };
  const Expect fixed[] = {{255, 1}, {65534, 2}, {-5, 4}, {128, 1}, {32769, 2}, {0x7FFFFFFF, 4}};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(static_cast<LONG>(r->slots[i]), fixed[i].value) << "column " << i;
    EXPECT_EQ(r->lengths[i], fixed[i].length) << "column " << i;
  }
  /* Text: L + 2 bytes, a 16-bit zero at L rounded down to even (here over the
   * fifth byte). */
  EXPECT_EQ(r->lengths[6], 5);
  const BYTE* text = reinterpret_cast<const BYTE*>(r->slots[6]);
  ASSERT_NE(text, nullptr);
  const BYTE expected_text[] = {'x', 0, 'y', 0, 0, 0};
  EXPECT_EQ(memcmp(text, expected_text, sizeof expected_text), 0);
  EXPECT_EQ(r->lengths[7], 3);
  const BYTE* blob = reinterpret_cast<const BYTE*>(r->slots[7]);
  ASSERT_NE(blob, nullptr);
  EXPECT_EQ(blob[2], 3);
  EXPECT_EQ(static_cast<LONG>(r->slots[8]), 42) << "the field after a padded blob starts on a multiple of 4";
  EXPECT_EQ(vx_data_next(&table, r), nullptr);

  VxResFile store;
  vx_res_file_init(&store);
  EXPECT_EQ(vx_res_file_open(&store, f), 0);
  EXPECT_EQ(store.count, 0);
  EXPECT_EQ(vx_res_file_read_item(&store, 0, nullptr), nullptr);
  vx_res_file_close(&store);
  vx_data_free(&table);
}

namespace {
int custom_reads = 0;
std::vector<VxDataSlot> custom_released;

/* A custom column: a 16-bit count, stored as the count plus 1000. */
int read_custom(VxDataSlot* slot, FILE* stream) {
  custom_reads++;
  uint8_t b[2];
  if (fread(b, 1, 2, stream) != 2) return -1;
  *slot = 1000 + (b[0] | (b[1] << 8));
  return 0;
}
void release_custom(VxDataSlot value) { custom_released.push_back(value); }
}  // namespace

TEST(VxData, CustomColumnsUseTheOwnersReaderAndRelease) {
  ResWriter w;
  w.header({3, 16}, 2);
  w.u32(1);
  w.u16(5);
  w.u32(2);
  w.u16(7);

  VxData table;
  declare(&table, {3, 16});
  ASSERT_NE(table.readers, nullptr);
  ASSERT_NE(table.releases, nullptr);
  EXPECT_EQ(table.readers[1], nullptr) << "the function arrays start zeroed";
  table.readers[1] = read_custom;
  table.releases[1] = release_custom;
  custom_reads = 0;
  custom_released.clear();
  FILE* f = w.file();
  ASSERT_EQ(vx_data_read(&table, f), 0);
  EXPECT_EQ(custom_reads, 2);
  std::vector<VxDataRecord*> got = records(&table);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0]->slots[1], 1005);
  EXPECT_EQ(got[1]->slots[1], 1007);
  vx_data_free(&table);
  EXPECT_EQ(custom_released, (std::vector<VxDataSlot>{1005, 1007}));
  fclose(f);
}

TEST(VxData, FewerRecordsThanCountedPrintTheWarningOnceAndFail) {
  struct Case {
    const char* name;
    std::vector<int32_t> types;
    int32_t declared;
    std::function<void(ResWriter&)> write;
    size_t cut;  /* bytes of the file kept; SIZE_MAX for all */
    int expected;
    size_t held;
  };
  auto ten_records = [](ResWriter& w) {
    for (int i = 0; i < 10; ++i) skin_record(w, 200 + i, utf16le("item", true));
  };
  /* Every skin record above is 9 x 4 + 4 + 12 + 4 = 56 bytes after the 84-byte header. */
  const size_t header = 40 + 4 * 11, record = 56;
  const Case cases[] = {
      {"cut inside record 3 of 10", kSkinTypes, 10, ten_records, header + 3 * record + 20, 3, 3},
      {"cut inside the blob of record 3", kSkinTypes, 10, ten_records, header + 3 * record + 42, 3, 3},
      {"cut before record 0 of 10", kSkinTypes, 10, ten_records, header, VX_DATA_NO_RECORD, 0},
      {"cut at the end of record 9 of 11", kSkinTypes, 11, ten_records, SIZE_MAX, 10, 10},
      {"a text longer than the file",
       {3, 7},
       2,
       [](ResWriter& w) {
         w.u32(1);
         w.sized(utf16le("ok", false));
         w.u32(2);
         w.u32(0x7FFFFFFF);
         w.u32(0);
       },
       SIZE_MAX, 1, 1},
      {"a type code without a reader", {3, 9}, 1, [](ResWriter& w) { w.u32(1); w.u32(2); }, SIZE_MAX,
       VX_DATA_NO_RECORD, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResWriter w;
    w.header(c.types, c.declared);
    c.write(w);
    VxData table;
    declare(&table, c.types);
    FILE* f = w.file(c.cut);
    std::string printed;
    EXPECT_EQ(read_capturing(&table, f, &printed), c.expected);
    EXPECT_EQ(count_of(printed, kWarning), 1u) << printed;
    EXPECT_EQ(printed.size(), strlen(kWarning));
    EXPECT_EQ(records(&table).size(), c.held);
    EXPECT_EQ(table.record_count, static_cast<LONG>(c.held));
    fclose(f);
    vx_data_free(&table);
  }
}

TEST(VxData, AnEmptyTableSucceeds) {
  ResWriter w;
  w.header(kSkinTypes, 0);
  const size_t store_at = w.bytes.size();
  w.store({{1, 2, 3}});
  VxData table;
  declare(&table, kSkinTypes);
  FILE* f = w.file();
  std::string printed;
  EXPECT_EQ(read_capturing(&table, f, &printed), 0);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(vx_data_first(&table), nullptr);
  EXPECT_EQ(ftell(f), static_cast<long>(store_at)) << "the item store starts right after the end marker";
  fclose(f);
  vx_data_free(&table);
}

TEST(VxData, SchemaCallsRejectWhatCannotBeDeclared) {
  VxData table;
  vx_data_init(&table);
  EXPECT_EQ(vx_data_set_type(&table, 0, 3), -1) << "no columns declared yet";
  EXPECT_EQ(vx_data_set_columns(&table, 0), -1);
  ASSERT_EQ(vx_data_set_columns(&table, 2), 0);
  EXPECT_EQ(table.types[0], 0);
  EXPECT_EQ(table.types[1], 0);
  EXPECT_EQ(vx_data_set_type(&table, 2, 3), -1);
  EXPECT_EQ(vx_data_set_type(&table, -1, 3), -1);
  EXPECT_EQ(table.readers, nullptr) << "no custom column, no function arrays";
  vx_data_free(&table);
}

namespace {

/* A store of three items; `patch` may change the bytes before the file is made. */
struct StoreFile {
  ResWriter w;
  std::vector<std::vector<uint8_t>> items = {{'B', 'M', 0, 1}, {5, 6, 7}, {1, 2, 3, 4, 5, 6, 7, 8, 9}};
  size_t table_at = 0;
  StoreFile() {
    w.u32(0xAAAAAAAA); /* something before the store */
    table_at = w.bytes.size();
    w.store(items);
  }
  uint32_t offset_of(int i) const {
    size_t at = table_at + 4 + 4 * items.size() + 4 * i;
    return w.bytes[at] | (w.bytes[at + 1] << 8) | (w.bytes[at + 2] << 16) | (static_cast<uint32_t>(w.bytes[at + 3]) << 24);
  }
};

FILE* open_at_store(const StoreFile& s, size_t cut = SIZE_MAX) {
  FILE* f = s.w.file(cut);
  fseek(f, static_cast<long>(s.table_at), SEEK_SET);
  return f;
}

}  // namespace

TEST(VxResFile, ReadsItemsByIndexAndRefusesBadOnes) {
  StoreFile s;
  /* Item 1's record carries the wrong index. */
  s.w.bytes[s.offset_of(1)] = 7;
  FILE* f = open_at_store(s, s.w.bytes.size() - 2); /* item 2's data cut short */
  VxResFile store;
  vx_res_file_init(&store);
  EXPECT_EQ(store.count, -1);
  ASSERT_EQ(vx_res_file_open(&store, f), 0);
  EXPECT_EQ(store.count, 3);
  EXPECT_EQ(store.stream, f);

  struct Case {
    int index;
    bool found;
    const char* why;
  };
  const Case cases[] = {
      {1, false, "record starts with the wrong index"},
      {2, false, "data cut short"},
      {0, true, "other items stay readable"},
      {-1, false, "index -1"},
      {3, false, "index M"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    fseek(f, 3, SEEK_SET);
    LONG size = -5;
    BYTE* item = vx_res_file_read_item(&store, c.index, &size);
    EXPECT_EQ(item != nullptr, c.found);
    if (item) {
      ASSERT_EQ(size, 4);
      EXPECT_EQ(memcmp(item, s.items[c.index].data(), 4), 0);
      VX_FREE(item);
    } else {
      EXPECT_EQ(size, -5) << "no size is stored for a failure";
    }
    if (c.index < 0 || c.index >= 3) {
      EXPECT_EQ(ftell(f), 3) << "the stream is not touched";
    }
  }
  vx_res_file_close(&store);
  EXPECT_EQ(store.count, -1);
  EXPECT_EQ(store.stream, nullptr);
  EXPECT_EQ(vx_res_file_read_item(&store, 0, nullptr), nullptr) << "a closed store reads nothing";
}

TEST(VxResFile, OpenFailsWithoutTakingTheStream) {
  StoreFile s;
  const size_t tables_end = s.table_at + 4 + 8 * s.items.size();
  struct Case {
    const char* name;
    size_t cut;
    int32_t count_override;  /* 0: as written */
    int expected;
  };
  const Case cases[] = {
      {"no count", s.table_at + 2, 0, -8},
      {"negative count", SIZE_MAX, -3, -8},
      {"sizes cut short", s.table_at + 8, 0, -11},
      {"offsets cut short", tables_end - 1, 0, -11},
      {"a count larger than the file", SIZE_MAX, 0x40000000, -11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StoreFile t;
    if (c.count_override)
      for (int i = 0; i < 4; ++i) t.w.bytes[t.table_at + i] = static_cast<uint8_t>(c.count_override >> (8 * i));
    FILE* f = open_at_store(t, c.cut);
    VxResFile store;
    vx_res_file_init(&store);
    EXPECT_EQ(vx_res_file_open(&store, f), c.expected);
    EXPECT_EQ(store.count, -1);
    EXPECT_EQ(store.stream, nullptr);
    EXPECT_EQ(store.sizes, nullptr);
    EXPECT_EQ(fclose(f), 0) << "the stream still belongs to the caller";
  }
}
