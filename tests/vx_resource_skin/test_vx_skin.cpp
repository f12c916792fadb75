/* The skin: loading the record table and the item store, finding items by
 * variant, the bitmap cache with its reference counts, binding button
 * groups, and both image paths (the built-in decoder and a stand-in of the
 * platform decoder). Fixtures are made by skin_fixture.h. */
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "skin_fixture.h"
#include "vx_alloc.h"
#include "vx_button.h"
#include "vx_skin.h"
#ifndef _WIN32
#include <dirent.h>

#include "plat/module_host.h"
#endif

namespace {

int live_blocks() { return ptr_array_count(vx_mem_records()); }

#ifndef _WIN32
int open_descriptors() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) n++;
    closedir(dir);
  }
  return n;
}
#endif

SIZE bitmap_size(HBITMAP bitmap) {
  BITMAP info;
  memset(&info, 0, sizeof info);
  if (!bitmap || GetObjectW(bitmap, sizeof info, &info) != (int)sizeof info) return SIZE{-1, -1};
  return SIZE{info.bmWidth, info.bmHeight};
}

/* The pixel as 0xRRGGBB. */
uint32_t pixel_at(HBITMAP bitmap, int x, int y) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  COLORREF c = GetPixel(dc, x, y);
  SelectObject(dc, old);
  DeleteDC(dc);
  return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}

WString text_of(const VxSkinItem* item) { return item && item->text ? WString(item->text) : WString(); }

/* A skin written into the program folder and loaded with languages a and b. */
VxSkin* load_skin(const DeviceRoot& root, const std::vector<SkinRow>& rows,
                  const std::vector<std::vector<uint8_t>>& images, int variant_a = 3, int variant_b = 1) {
  if (!root.write("Velmar.res", skin_file(rows, images))) return nullptr;
  return vx_skin_load(root.path("Velmar.res").c_str(), variant_a, variant_b);
}

}  // namespace

TEST(VxSkinLoad, CopiesEveryColumnAndTerminatesEveryText) {
  DeviceRoot root;
  SkinRow full;
  full.id = 100;
  full.kind = 1;
  full.reserved = 0x7FFFFFF0;
  full.x = -10;
  full.y = 20;
  full.width = 30;
  full.height = 40;
  full.slot = 1;
  full.mask = -2;
  full.text = TEXT("背景 A");
  full.variant = 5;
  SkinRow bare;
  bare.id = 7;
  SkinRow unterminated;
  unterminated.id = 8;
  unterminated.text = TEXT("AB");
  unterminated.terminator = false;

  VxSkin* skin = load_skin(root, {full, bare, unterminated}, {solid_bmp(2, 2, 0), solid_bmp(1, 1, 0)}, 5, 1);
  ASSERT_NE(skin, nullptr);
  EXPECT_EQ(skin->item_count, 3);
  EXPECT_EQ(skin->slot_count, 2);
  EXPECT_EQ(skin->variant_a, 5);
  EXPECT_EQ(skin->variant_b, 1);
  ASSERT_NE(skin->bitmaps, nullptr);
  EXPECT_EQ(skin->bitmaps[0], nullptr) << "images are decoded on first use only";

  const VxSkinItem& a = skin->items[0];
  EXPECT_EQ(a.id, 100);
  EXPECT_EQ(a.kind, 1);
  EXPECT_EQ(a.reserved, 0x7FFFFFF0);
  EXPECT_EQ(a.x, -10);
  EXPECT_EQ(a.y, 20);
  EXPECT_EQ(a.width, 30);
  EXPECT_EQ(a.height, 40);
  EXPECT_EQ(a.image_slot, 1);
  EXPECT_EQ(a.mask_code, -2);
  EXPECT_EQ(text_of(&a), TEXT("背景 A"));
  EXPECT_EQ(a.text_length, 10) << "four units and the terminator";
  EXPECT_EQ(a.variant, 5);

  const VxSkinItem& b = skin->items[1];
  EXPECT_EQ(b.id, 7);
  EXPECT_EQ(b.image_slot, -1);
  EXPECT_EQ(b.text, nullptr);
  EXPECT_EQ(b.text_length, 0);
  EXPECT_EQ(b.variant, -1);

  EXPECT_EQ(text_of(&skin->items[2]), TEXT("AB")) << "a stored text without its zero unit still ends";
  EXPECT_EQ(skin->items[2].text_length, 4);
  EXPECT_EQ(vx_skin_free(skin), 0);
  EXPECT_EQ(vx_skin_free(nullptr), -1);
}

TEST(VxSkinLoad, AnyFailureLeavesNothingAllocatedAndTheFileClosed) {
  DeviceRoot root;
  SkinRow row;
  row.id = 1;
  row.slot = 0;
  row.text = TEXT("text");
  const std::vector<SkinRow> rows = {row, row, row};
  const std::vector<uint8_t> good = skin_file(rows, {solid_bmp(2, 2, 0)});
  const size_t records_end = skin_file(rows, {}).size() - 4;

  std::vector<uint8_t> lower_case = good;
  lower_case[0] = 'v';
  std::vector<uint8_t> ten_columns = good;
  ten_columns[24] = 10;
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"start marker in lower case", lower_case},
      {"ten columns", ten_columns},
      {"cut inside the first record", std::vector<uint8_t>(good.begin(), good.begin() + 100)},
      {"cut inside the third record", std::vector<uint8_t>(good.begin(), good.begin() + records_end - 8)},
      {"no item store", std::vector<uint8_t>(good.begin(), good.begin() + records_end)},
      {"item sizes cut short", std::vector<uint8_t>(good.begin(), good.begin() + records_end + 6)},
  };
  const int blocks = live_blocks();
#ifndef _WIN32
  const int descriptors = open_descriptors();
#endif
  EXPECT_EQ(vx_skin_load(root.path("none.res").c_str(), -1, 1), nullptr);
  for (const auto& c : cases) {
    ASSERT_TRUE(root.write("Velmar.res", c.bytes));
    testing::internal::CaptureStdout();
    VxSkin* skin = vx_skin_load(root.path("Velmar.res").c_str(), -1, 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(skin, nullptr) << c.what;
    if (skin) vx_skin_free(skin);
    EXPECT_EQ(live_blocks(), blocks) << c.what;
#ifndef _WIN32
    EXPECT_EQ(open_descriptors(), descriptors) << c.what;
#endif
  }
  ASSERT_TRUE(root.write("Velmar.res", good));
  VxSkin* skin = vx_skin_load(root.path("Velmar.res").c_str(), -1, 1);
  ASSERT_NE(skin, nullptr) << "the unchanged file loads";
  vx_skin_free(skin);
  EXPECT_EQ(live_blocks(), blocks);
#ifndef _WIN32
  EXPECT_EQ(open_descriptors(), descriptors);
#endif
}

TEST(VxSkinFind, PrefersLanguageThenSecondVariantThenAny) {
  DeviceRoot root;
  auto item = [](int32_t id, int32_t variant) {
    SkinRow r;
    r.id = id;
    r.variant = variant;
    return r;
  };
  const struct {
    const char* what;
    std::vector<SkinRow> rows;
    int language;
    int id;
    int expected;  /* index of the item found, -1: none */
  } cases[] = {
      {"the language's own item", {item(100, 5), item(100, -1)}, 5, 100, 0},
      {"another language: the item for any", {item(100, 5), item(100, -1)}, 3, 100, 1},
      {"no item for any: the second variant", {item(100, 5), item(100, 1)}, 3, 100, 1},
      {"neither variant nor any: the first", {item(7, 4), item(7, 8)}, 3, 7, 0},
      {"an earlier item for any wins", {item(100, -1), item(100, 5)}, 5, 100, 0},
      {"unknown language", {item(100, 0), item(100, 1)}, -1, 100, 1},
      {"other ids do not count", {item(1, 5), item(100, 2), item(2, -1)}, 5, 100, 1},
      {"unknown id", {item(100, -1)}, 5, 101, -1},
  };
  for (const auto& c : cases) {
    VxSkin* skin = load_skin(root, c.rows, {}, c.language, 1);
    ASSERT_NE(skin, nullptr) << c.what;
    VxSkinItem* found = vx_skin_find(skin, c.id);
    EXPECT_EQ(found, c.expected < 0 ? nullptr : &skin->items[c.expected]) << c.what;
    vx_skin_free(skin);
  }
  EXPECT_EQ(vx_skin_find(nullptr, 100), nullptr);
}

TEST(VxSkinBitmap, IsDecodedOnceCountedAndDeletedAtTheLastPut) {
  DeviceRoot root;
  std::vector<SkinRow> rows(6);
  const int32_t slots[] = {0, 0, -1, 3, 1, 2};
  for (int i = 0; i < 6; ++i) {
    rows[i].id = i + 1;
    rows[i].slot = slots[i];
  }
  const std::vector<uint8_t> garbage = {'B', 'M', 1, 2, 3};
  std::vector<uint8_t> rle24 = solid_bmp(4, 4, 0x123456);
  rle24[30] = 1; /* 24 bits with RLE8 compression */
  VxSkin* skin = load_skin(root, rows, {solid_bmp(4, 3, 0x336699), garbage, rle24});
  ASSERT_NE(skin, nullptr);
  ASSERT_EQ(skin->slot_count, 3);
  VxSkinItem* first = vx_skin_find(skin, 1);
  VxSkinItem* sharing = vx_skin_find(skin, 2);

  HBITMAP bitmap = vx_skin_get_bitmap(skin, first, 0);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap_size(bitmap).cx, 4);
  EXPECT_EQ(bitmap_size(bitmap).cy, 3);
  EXPECT_EQ(pixel_at(bitmap, 3, 2), 0x336699u);
  EXPECT_EQ(vx_skin_get_bitmap(skin, first, 1), bitmap) << "the cached bitmap";
  EXPECT_EQ(vx_skin_get_bitmap(skin, sharing, 1), bitmap) << "items of one slot share it";
  EXPECT_EQ(skin->ref_counts[0], 3);

  vx_skin_put_bitmap(skin, sharing);
  vx_skin_put_bitmap(skin, first);
  EXPECT_EQ(skin->ref_counts[0], 1);
  EXPECT_EQ(GetObjectType(bitmap), (DWORD)OBJ_BITMAP) << "still referenced";
  vx_skin_put_bitmap(skin, first);
  EXPECT_EQ(skin->ref_counts[0], 0);
  EXPECT_EQ(skin->bitmaps[0], nullptr);
  EXPECT_EQ(GetObjectType(bitmap), 0u) << "deleted at the last put";
  vx_skin_put_bitmap(skin, first);
  EXPECT_EQ(skin->ref_counts[0], 0) << "a put on an empty slot does nothing";

  HBITMAP again = vx_skin_get_bitmap(skin, first, 0);
  ASSERT_NE(again, nullptr) << "decoded again";
  EXPECT_EQ(pixel_at(again, 0, 0), 0x336699u);
  EXPECT_EQ(skin->ref_counts[0], 1);

  /* A negative count (never produced here) counts as 0. */
  skin->ref_counts[0] = -4;
  EXPECT_EQ(vx_skin_get_bitmap(skin, first, 0), again);
  EXPECT_EQ(skin->ref_counts[0], 1);

  for (int id : {3, 4, 5, 6}) {
    VxSkinItem* item = vx_skin_find(skin, id);
    for (int attempt = 0; attempt < 2; ++attempt)
      EXPECT_EQ(vx_skin_get_bitmap(skin, item, 0), nullptr) << "item " << id << ", attempt " << attempt;
    vx_skin_put_bitmap(skin, item);
  }
  EXPECT_EQ(skin->bitmaps[1], nullptr) << "an undecodable image leaves its slot empty";
  EXPECT_EQ(skin->ref_counts[1], 0);
  EXPECT_EQ(skin->bitmaps[2], nullptr);
  EXPECT_EQ(vx_skin_get_bitmap(skin, nullptr, 0), nullptr);
  EXPECT_EQ(vx_skin_get_bitmap(nullptr, first, 0), nullptr);
  vx_skin_put_bitmap(nullptr, first);
  vx_skin_free(skin);
}

TEST(VxSkinBitmap, ASkinWithoutImagesGivesNone) {
  DeviceRoot root;
  std::vector<SkinRow> rows(3);
  for (int i = 0; i < 3; ++i) {
    rows[i].id = i + 1;
    rows[i].slot = i - 1;
  }
  VxSkin* skin = load_skin(root, rows, {});
  ASSERT_NE(skin, nullptr);
  EXPECT_EQ(skin->slot_count, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(vx_skin_get_bitmap(skin, &skin->items[i], 1), nullptr) << i;
  vx_skin_free(skin);

  /* No items at all either. */
  skin = load_skin(root, {}, {});
  ASSERT_NE(skin, nullptr);
  EXPECT_EQ(skin->item_count, 0);
  EXPECT_EQ(vx_skin_find(skin, 0), nullptr);
  vx_skin_free(skin);
}

TEST(VxSkinButtons, BindGivesRectangleImageStyleAndMaskOrHides) {
  DeviceRoot root;
  const uint32_t red = 0xFF0000, blue = 0x0000FF, green = 0x00FF00, yellow = 0xFFFF00;
  /* Two frames 20 x 10; three frames 8 x 8 whose shape is the left half. */
  auto two_frames = bmp24(40, 10, [=](int x, int) { return x < 20 ? red : blue; });
  auto three_frames = bmp24(24, 8, [=](int x, int) -> uint32_t {
    if (x < 8) return green;
    if (x < 16) return yellow;
    return x - 16 < 4 ? 0xFFFFFF : 0xFEFEFE;
  });
  struct Row {
    int32_t id, x, y, width, height, slot, mask;
  };
  const Row table[] = {
      {10, 5, 6, 20, 10, 0, 0},   {11, 30, 0, 8, 8, 1, -1}, {12, 40, 0, 8, 8, 1, -2},
      {13, 1, 1, 5, 5, -1, 0},    {14, 1, 1, 0, 10, 0, 0},  {15, 1, 1, 8, 8, 2, 0},
      {16, 50, 0, 8, 8, 1, 7},    {0, 9, 9, 9, 9, 0, 0},    {18, 70, 0, 1000, 8, 1, -1},
  };
  std::vector<SkinRow> rows;
  for (const Row& r : table) {
    SkinRow s;
    s.id = r.id;
    s.x = r.x;
    s.y = r.y;
    s.width = r.width;
    s.height = r.height;
    s.slot = r.slot;
    s.mask = r.mask;
    rows.push_back(s);
  }
  VxSkin* skin = load_skin(root, rows, {two_frames, three_frames, {1, 2, 3}});
  ASSERT_NE(skin, nullptr);

  /* A page's background reference on slot 0, through the item with id 0. */
  HBITMAP background = vx_skin_get_bitmap(skin, vx_skin_find(skin, 0), 0);
  ASSERT_NE(background, nullptr);

  ButtonGroup* group = vx_button_group_create(nullptr, VX_BUTTON_GROUP_PUSH);
  ASSERT_NE(group, nullptr);
  for (int id : {10, 11, 12, 13, 14, 15, 16, 99, 18}) ASSERT_EQ(vx_button_add(group, id, 0, 0, 0, 0, nullptr, 0), 0);
  ASSERT_EQ(vx_button_add(group, 0, 1, 2, 3, 4, nullptr, 0), 0);
  vx_button_find(group, 16)->style = VX_BUTTON_SHAPED;
  group->pressed_index = 3;
  EXPECT_EQ(vx_skin_bind_buttons(skin, group, 1), 0);
  EXPECT_EQ(group->pressed_index, -1);

  /* 18 is wider than its image: no mask is made for it, and a shaped button
   * without its mask is hidden (neither drawn nor hit). */
  const struct {
    int id;
    bool usable;
    int x, y, width, height, style;
    bool masked;
  } expected[] = {
      {10, true, 5, 6, 20, 10, VX_BUTTON_TWO_FRAMES, false}, {11, true, 30, 0, 8, 8, VX_BUTTON_SHAPED, true},
      {12, true, 40, 0, 8, 8, VX_BUTTON_SHAPED_RECT, true},  {13, false, 0, 0, 0, 0, 0, false},
      {14, false, 1, 1, 0, 10, 0, false},                    {15, false, 1, 1, 8, 8, 0, false},
      {16, true, 50, 0, 8, 8, VX_BUTTON_SHAPED, true},       {99, false, 0, 0, 0, 0, 0, false},
      {0, true, 1, 2, 3, 4, 0, false},                       {18, true, 70, 0, 1000, 8, VX_BUTTON_SHAPED, false},
  };
  for (const auto& e : expected) {
    Button* b = vx_button_find(group, e.id);
    ASSERT_NE(b, nullptr) << e.id;
    EXPECT_EQ((b->flags & VX_BUTTON_USABLE) != 0, e.usable) << e.id;
    EXPECT_EQ((b->flags & VX_BUTTON_SHOWN) != 0, e.style != VX_BUTTON_SHAPED || e.masked) << e.id;
    EXPECT_EQ(b->x, e.x) << e.id;
    EXPECT_EQ(b->y, e.y) << e.id;
    EXPECT_EQ(b->width, e.width) << e.id;
    EXPECT_EQ(b->height, e.height) << e.id;
    EXPECT_EQ(b->style, e.style) << e.id;
    EXPECT_EQ(b->mask_dc != nullptr, e.masked) << e.id;
    EXPECT_EQ(b->mask_bitmap != nullptr, e.masked) << e.id;
  }
  EXPECT_EQ(vx_button_find(group, 0)->image, nullptr) << "id 0 is left alone";
  EXPECT_EQ(vx_button_find(group, 10)->image, background);
  EXPECT_EQ(skin->ref_counts[0], 3) << "background, 10 and 14";
  EXPECT_EQ(skin->ref_counts[1], 4) << "11, 12, 16 and 18";

  /* The mask is the white half of the shape frame; the frames are black
   * outside it. */
  Button* shaped = vx_button_find(group, 11);
  EXPECT_EQ(GetPixel(shaped->mask_dc, 1, 1), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(shaped->mask_dc, 6, 1), RGB(0, 0, 0)) << "near-white is transparent";
  EXPECT_EQ(pixel_at(shaped->image, 1, 1), green);
  EXPECT_EQ(pixel_at(shaped->image, 6, 1), 0u);
  EXPECT_EQ(pixel_at(shaped->image, 8 + 1, 7), yellow);
  EXPECT_EQ(pixel_at(shaped->image, 8 + 6, 7), 0u);
  EXPECT_EQ(pixel_at(shaped->image, 16 + 6, 7), 0xFEFEFEu) << "the shape frame is kept";

  EXPECT_EQ(vx_skin_release_buttons(skin, group), 0);
  EXPECT_EQ(group->pressed_index, -1);
  EXPECT_EQ(skin->ref_counts[0], 1) << "the background's reference stays";
  EXPECT_EQ(skin->bitmaps[0], background);
  EXPECT_EQ(skin->ref_counts[1], 0);
  EXPECT_EQ(skin->bitmaps[1], nullptr);

  EXPECT_EQ(vx_skin_bind_buttons(nullptr, group, 1), -1);
  EXPECT_EQ(vx_skin_release_buttons(nullptr, group), -1);
  EXPECT_EQ(vx_skin_release_buttons(skin, nullptr), -1);
  vx_button_group_destroy(group);
  vx_skin_free(skin);
}

TEST(VxSkinButtons, WithoutHidingTheFlagsStay) {
  DeviceRoot root;
  SkinRow row;
  row.id = 5;
  row.slot = -1;
  VxSkin* skin = load_skin(root, {row}, {});
  ASSERT_NE(skin, nullptr);
  ButtonGroup* group = vx_button_group_create(nullptr, VX_BUTTON_GROUP_PUSH);
  ASSERT_EQ(vx_button_add(group, 5, 0, 0, 0, 0, nullptr, 0), 0);
  ASSERT_EQ(vx_button_add(group, 6, 0, 0, 0, 0, nullptr, 0), 0);
  EXPECT_EQ(vx_skin_bind_buttons(skin, group, 0), 0);
  EXPECT_EQ(vx_button_find(group, 5)->flags, VX_BUTTON_SHOWN | VX_BUTTON_USABLE);
  EXPECT_EQ(vx_button_find(group, 6)->flags, VX_BUTTON_SHOWN | VX_BUTTON_USABLE);
  vx_button_group_destroy(group);
  vx_skin_free(skin);
}

TEST(VxSkinDecode, BuiltInDecoderMakesTheBitmapOrNone) {
  const std::vector<uint8_t> picture = bmp24(3, 2, [](int x, int y) { return (uint32_t)(x * 0x40 << 16 | y * 0x80); });
  HBITMAP bitmap = vx_skin_decode_image(picture.data(), (LONG)picture.size());
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap_size(bitmap).cx, 3);
  EXPECT_EQ(bitmap_size(bitmap).cy, 2);
  EXPECT_EQ(pixel_at(bitmap, 2, 1), 0x800080u) << "row 0 is the top row";
  DeleteObject(bitmap);

  std::vector<uint8_t> png_like = picture;
  png_like[0] = 0x89;
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
  } refused[] = {
      {"not a BMP", png_like},
      {"file header only", std::vector<uint8_t>(picture.begin(), picture.begin() + 14)},
      {"nothing", {}},
  };
  for (const auto& c : refused)
    EXPECT_EQ(vx_skin_decode_image(c.bytes.data(), (LONG)c.bytes.size()), nullptr) << c.what;
}

#ifndef _WIN32
/* The host loads stand-in libraries only; on Windows no decoder of this name is found. */
namespace {

/* A stand-in of the platform decoder: records what it was given, reads the
 * data through the callback and makes a bitmap of 5 x 7 (or none). */
struct StandInDecoder {
  int calls = 0;
  bool make_bitmap = true;
  VxDecompressImageInfo seen;
  bool buffer_was_zero = false;
  bool out_was_empty = false;
  std::vector<uint8_t> data;
  DWORD with_no_user = 1;
} stand_in;

LONG WINAPI stand_in_decompress(VxDecompressImageInfo* info) {
  stand_in.calls++;
  stand_in.seen = *info;
  stand_in.buffer_was_zero = true;
  for (DWORD i = 0; i < info->buffer_max; ++i)
    if (info->buffer[i]) stand_in.buffer_was_zero = false;
  stand_in.out_was_empty = info->bitmap_out && !*info->bitmap_out;
  stand_in.data.clear();
  for (;;) {
    DWORD n = info->get_data(reinterpret_cast<LPSTR>(info->buffer), 7, info->user);
    if (n == 0) break;
    stand_in.data.insert(stand_in.data.end(), info->buffer, info->buffer + n);
  }
  stand_in.with_no_user = info->get_data(reinterpret_cast<LPSTR>(info->buffer), 7, 0);
  info->progress(nullptr, TRUE, info->user);
  if (stand_in.make_bitmap) *info->bitmap_out = CreateCompatibleBitmap(info->dc, 5, 7);
  return stand_in.make_bitmap ? 0 : (LONG)0x80004005;
}

const char16_t kDecoderPath[] = u"\\residentflash2\\Velmar\\imgdecmp.dll";

}  // namespace

TEST(VxSkinDecode, BoundPlatformDecoderGetsTheImageThroughItsCallbacks) {
  DeviceRoot root;
  plat::register_module(kDecoderPath,
                        {{"DecompressImageIndirect", reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(stand_in_decompress))}});
  stand_in = StandInDecoder();
  const std::vector<uint8_t> picture = solid_bmp(3, 3, 0xABCDEF);
  SkinRow row;
  row.id = 1;
  row.slot = 0;
  VxSkin* skin = load_skin(root, {row}, {picture});
  ASSERT_NE(skin, nullptr);
  EXPECT_EQ(plat::module_load_count(kDecoderPath), 1) << "bound at the skin's creation";

  HBITMAP bitmap = vx_skin_get_bitmap(skin, &skin->items[0], 0);
  ASSERT_EQ(stand_in.calls, 1);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap_size(bitmap).cx, 5) << "the platform decoder's bitmap";
  EXPECT_EQ(stand_in.data, picture);
  EXPECT_EQ(stand_in.with_no_user, 0u);
  const VxDecompressImageInfo& s = stand_in.seen;
  EXPECT_EQ(s.size, 60u);
  EXPECT_NE(s.buffer, nullptr);
  EXPECT_TRUE(stand_in.buffer_was_zero);
  EXPECT_EQ(s.buffer_max, 4096u);
  EXPECT_EQ(s.buffer_current, 0u);
  EXPECT_TRUE(stand_in.out_was_empty);
  EXPECT_EQ(s.image_render_out, nullptr);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(s.bit_depth, GetDeviceCaps(screen, BITSPIXEL));
  ReleaseDC(nullptr, screen);
  EXPECT_NE(s.dc, nullptr);
  EXPECT_EQ(s.scale, 100);
  EXPECT_EQ(s.max_width, 10000);
  EXPECT_EQ(s.max_height, 10000);
  EXPECT_EQ(s.transparent_override, 0xFFFFFFFFu);

  /* A decoder that writes no bitmap gives none: no fallback to the built-in one. */
  vx_skin_put_bitmap(skin, &skin->items[0]);
  stand_in.make_bitmap = false;
  EXPECT_EQ(vx_skin_get_bitmap(skin, &skin->items[0], 0), nullptr);
  EXPECT_EQ(stand_in.calls, 2);

  vx_skin_free(skin);
  EXPECT_EQ(plat::module_load_count(kDecoderPath), 0) << "unbound with the skin";

  /* A file of that name in the program's folder keeps the built-in decoder. */
  ASSERT_TRUE(root.write("imgdecmp.dll", {'M', 'Z'}));
  skin = load_skin(root, {row}, {picture});
  ASSERT_NE(skin, nullptr);
  EXPECT_EQ(plat::module_load_count(kDecoderPath), 0);
  bitmap = vx_skin_get_bitmap(skin, &skin->items[0], 0);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(bitmap_size(bitmap).cx, 3);
  EXPECT_EQ(pixel_at(bitmap, 1, 1), 0xABCDEFu);
  EXPECT_EQ(stand_in.calls, 2);
  vx_skin_free(skin);
  plat::unregister_module(kDecoderPath);
}

#endif

TEST(VxSkinDecode, WithoutThePlatformLibraryTheBuiltInDecoderIsUsed) {
  DeviceRoot root;
  SkinRow row;
  row.id = 1;
  row.slot = 0;
  VxSkin* skin = load_skin(root, {row}, {solid_bmp(2, 2, 0x010203)});
  ASSERT_NE(skin, nullptr);
  HBITMAP bitmap = vx_skin_get_bitmap(skin, &skin->items[0], 0);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(pixel_at(bitmap, 0, 0), 0x010203u);
  vx_skin_free(skin);
}

namespace {

std::vector<int> ids(int first, int last) {
  std::vector<int> out;
  for (int id = first; id <= last; ++id) out.push_back(id);
  return out;
}

/* The BMP header fields of a stored image: bits per pixel and compression. */
std::pair<int, int> stored_format(VxSkin* skin, int slot) {
  LONG size = 0;
  BYTE* data = vx_res_file_read_item(skin->store, slot, &size);
  std::pair<int, int> format(-1, -1);
  if (data && size >= 34) format = {data[28] | data[29] << 8, data[30] | data[31] << 8};
  VX_FREE(data);
  return format;
}

}  // namespace

TEST(DefaultSkin, HoldsEveryItemOfTheTwelvePagesInBothLanguages) {
  const std::string built = std::string(VELMAR_BINARY_DIR) + "/skins/default/Velmar.res";
  FILE* f = fopen(built.c_str(), "rb");
  if (!f) GTEST_SKIP() << built << " is not built";
  std::vector<uint8_t> bytes;
  for (int c; (c = fgetc(f)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
  fclose(f);
  DeviceRoot root;
  ASSERT_TRUE(root.write("Velmar.res", bytes));

  /* Buttons of each page: every one has a usable item of the right image layout. */
  const std::vector<std::vector<int>> pages = {
      ids(211, 221),
      [] { auto v = ids(1101, 1107); v.push_back(102); return v; }(),
      {535, 536},
      {301, 536},
      [] { auto v = ids(601, 612); v.push_back(301); v.push_back(536); return v; }(),
      {701, 702},
      [] { auto v = ids(1001, 1005); v.push_back(102); return v; }(),
      {102},
      [] { auto v = ids(1200, 1209); v.push_back(102); return v; }(),
      {102, 1404, 1405},
      [] { auto v = ids(1503, 1514); v.push_back(102); return v; }(),
  };
  const std::vector<int> pictures = {100, 200, 300, 302, 303, 401, 530, 700, 1301, 1401, 1501};
  const std::vector<int> indicators = {205, 206, 207};
  const std::vector<int> areas = {202, 203, 305, 306, 321, 533, 534, 537, 600, 1402, 1403, 1502};
  std::vector<int> texts = {201, 208, 326, 402, 532, 705, 1000, 1100, 1299, 1300, 1400, 1406, 1407, 1500, 1515, 1516};
  for (int id : ids(1011, 1015)) texts.push_back(id);
  for (int id : ids(1111, 1117)) texts.push_back(id);
  for (int id : ids(1210, 1219)) texts.push_back(id);

  for (int language : {1, 0, -1, 7}) {
    VxSkin* skin = vx_skin_load(root.path("Velmar.res").c_str(), language, 1);
    ASSERT_NE(skin, nullptr);
    for (const auto& page : pages) {
      ButtonGroup* group = vx_button_group_create(nullptr, VX_BUTTON_GROUP_PUSH);
      for (int id : page) ASSERT_EQ(vx_button_add(group, id, 0, 0, 0, 0, nullptr, 0), 0);
      ASSERT_EQ(vx_skin_bind_buttons(skin, group, 1), 0);
      for (int id : page) {
        Button* b = vx_button_find(group, id);
        EXPECT_EQ(b->flags & VX_BUTTON_USABLE, VX_BUTTON_USABLE) << "button " << id;
        SIZE size = bitmap_size(b->image);
        const int frames = b->style == VX_BUTTON_TWO_FRAMES ? 2 : 3;
        EXPECT_EQ(size.cx, frames * b->width) << "button " << id;
        EXPECT_EQ(size.cy, b->height) << "button " << id;
        EXPECT_TRUE(b->x >= 0 && b->y >= 0 && b->x + b->width <= 800 && b->y + b->height <= 480) << "button " << id;
      }
      vx_skin_release_buttons(skin, group);
      vx_button_group_destroy(group);
    }
    for (int id : pictures) {
      VxSkinItem* item = vx_skin_find(skin, id);
      ASSERT_NE(item, nullptr) << id;
      HBITMAP bitmap = vx_skin_get_bitmap(skin, item, 0);
      EXPECT_EQ(bitmap_size(bitmap).cx, item->width) << id;
      EXPECT_EQ(bitmap_size(bitmap).cy, item->height) << id;
      vx_skin_put_bitmap(skin, item);
    }
    for (int id : indicators) {
      VxSkinItem* item = vx_skin_find(skin, id);
      ASSERT_NE(item, nullptr) << id;
      HBITMAP bitmap = vx_skin_get_bitmap(skin, item, 0);
      EXPECT_EQ(bitmap_size(bitmap).cx, 2 * item->width) << "two frames of indicator " << id;
      vx_skin_put_bitmap(skin, item);
    }
    for (int id : areas) {
      VxSkinItem* item = vx_skin_find(skin, id);
      ASSERT_NE(item, nullptr) << id;
      EXPECT_GT(item->width, 0) << id;
      EXPECT_GT(item->height, 0) << id;
    }
    for (int id : texts) {
      const WString text = text_of(vx_skin_find(skin, id));
      ASSERT_FALSE(text.empty()) << id;
      const bool ascii = std::all_of(text.begin(), text.end(), [](WCHAR c) { return c < 0x80; });
      const bool chinese = std::any_of(text.begin(), text.end(), [](WCHAR c) { return c >= 0x4E00 && c <= 0x9FFF; });
      if (language == 0) {
        EXPECT_TRUE(ascii) << "English text of " << id;
      } else if (id != 1013) { /* "Flash" is the program's name in both */
        EXPECT_TRUE(chinese) << "Chinese text of " << id << " for language " << language;
      }
    }
    for (int i = 0; i < skin->slot_count; ++i) EXPECT_EQ(skin->ref_counts[i], 0) << "slot " << i;
    vx_skin_free(skin);
  }

  /* The images are stored in every format the decoder takes. */
  VxSkin* skin = vx_skin_load(root.path("Velmar.res").c_str(), 1, 1);
  ASSERT_NE(skin, nullptr);
  std::set<std::pair<int, int>> formats;
  for (int i = 0; i < skin->slot_count; ++i) formats.insert(stored_format(skin, i));
  for (auto wanted : {std::make_pair(24, 0), std::make_pair(8, 0), std::make_pair(8, 1), std::make_pair(4, 2),
                      std::make_pair(16, 3)})
    EXPECT_TRUE(formats.count(wanted)) << wanted.first << " bits, compression " << wanted.second;
  vx_skin_free(skin);
}
