/* The built-in BMP decoder on files built by BmpSpec: headers, palettes,
 * depths, RLE8, RLE4, bit fields, and the failures with their messages. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmp_writer.h"
#include "vx_ximabmp.h"
#include "vx_ximage.h"
#include "vx_xstream.h"

namespace {

using Bytes = std::vector<uint8_t>;

/* An image decoded from a file; released at the end of the scope. */
struct Decoded {
  VxImage* image = nullptr;
  int ok = 0;
  explicit Decoded(const Bytes& file) {
    vx_ximage_new(&image, VX_XIMAGE_BMP);
    ok = vx_ximage_decode(image, file.data(), static_cast<LONG>(file.size()));
  }
  ~Decoded() { vx_ximage_release(image); }
  Decoded(const Decoded&) = delete;
  Decoded& operator=(const Decoded&) = delete;
  /* The first `n` bytes of block row r (0 = bottom). */
  Bytes row(LONG r, size_t n) const {
    const BYTE* p = vx_ximage_row(image, r);
    return p ? Bytes(p, p + n) : Bytes();
  }
  uint32_t palette(int i) const {
    const BYTE* p = vx_ximage_palette(image) + 4 * i;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
  }
};

/* A palette of `n` 4-byte entries: entry i is (i, 2i, 3i, 0xFF). */
Bytes palette4(int n) {
  Bytes out;
  for (int i = 0; i < n; ++i)
    for (int v : {i, 2 * i, 3 * i, 0xFF}) out.push_back(static_cast<uint8_t>(v));
  return out;
}

BmpSpec spec(int32_t width, int32_t height, uint16_t bits, uint32_t compression = 0) {
  BmpSpec s;
  s.width = width;
  s.height = height;
  s.bits = bits;
  s.compression = compression;
  return s;
}

}  // namespace

TEST(VxXimabmp, RefusesWhatItCannotDecodeWithItsMessage) {
  struct Case {
    const char* name;
    Bytes file;
    const char* message;
  };
  auto with = [](BmpSpec s) { return bmp_file(s); };
  BmpSpec long_header = spec(2, 2, 24);
  long_header.header_size = 108;
  BmpSpec bn = spec(2, 2, 24);
  bn.type = 'B' | ('N' << 8);
  Bytes file_header_only = bmp_file(spec(1, 1, 24));
  file_header_only.resize(14);
  Bytes cut_file_header = file_header_only;
  cut_file_header.resize(13);
  BmpSpec size16 = spec(2, 2, 8);
  size16.header_size = 16;
  BmpSpec v2_bitfields = spec(2, 2, 32, 3);
  v2_bitfields.header_size = 52;
  v2_bitfields.image_size = 16;
  BmpSpec v4_colors = spec(2, 2, 8);
  v4_colors.header_size = 108;
  v4_colors.image_size = 8;
  v4_colors.colors_used = 252;
  BmpSpec v5_planes = spec(2, 2, 24);
  v5_planes.header_size = 124;
  v5_planes.image_size = 16;
  v5_planes.planes = 2;

  const Case cases[] = {
      {"type B N", with(bn), ""},
      {"empty data", {}, "Not a BMP"},
      {"file header cut short", cut_file_header, "Not a BMP"},
      {"no info header", file_header_only, "read BITMAPINFOHEADER len error"},
      {"header size 16", with(size16), ""},
      {"header size 66 with colours", [] { BmpSpec s = spec(2, 2, 1); s.header_size = 66; s.colors_used = 2; return bmp_file(s); }(), ""},
      {"108-byte header with image size 0", with(long_header), ""},
      {"52-byte header with bit fields", with(v2_bitfields), ""},
      {"108-byte header with 252 colours", with(v4_colors), ""},
      {"124-byte header with 2 planes", with(v5_planes), ""},
      {"width 0", with(spec(0, 4, 8)), "Can't allocate memory"},
      {"width -127", with(spec(-127, 64, 1)), "Can't allocate memory"},
      {"height 0", with(spec(4, 0, 8)), "Can't allocate memory"},
      {"height -2147483648", with(spec(4, INT32_MIN, 8)), "Can't allocate memory"},
      {"3 bits per pixel", with(spec(4, 4, 3)), "Can't allocate memory"},
      {"30000 bits per pixel", with(spec(127, 64, 30000)), "Can't allocate memory"},
      {"64 bits per pixel", with(spec(4, 4, 64)), "Can't allocate memory"},
      {"0 bits per pixel", with(spec(4, 4, 0)), "Can't allocate memory"},
      {"too large a picture", with(spec(100000, 100000, 24)), "Can't allocate memory"},
      {"8 bits with compression 3", with(spec(4, 4, 8, 3)), "compression type not supported"},
      {"1 bit with compression 4", with(spec(4, 4, 1, 4)), "compression type not supported"},
      {"4 bits with compression 5", with(spec(4, 4, 4, 5)), "compression type not supported"},
      {"24 bits with RLE8", with(spec(4, 4, 24, 1)), "unknown compression"},
      {"24 bits with bit fields", with(spec(4, 4, 24, 3)), "unknown compression"},
      {"32 bits with RLE4", with(spec(4, 4, 32, 2)), "unknown compression"},
      {"32 bits with compression 6", with(spec(4, 4, 32, 6)), "unknown compression"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoded d(c.file);
    EXPECT_EQ(d.ok, 0);
    EXPECT_STREQ(d.image->error, c.message);
    EXPECT_EQ(d.image->block, nullptr) << "a failed decode leaves no block";
  }
}

TEST(VxXimabmp, AWrongTypeLeavesTheStreamAtTheStart) {
  BmpSpec s = spec(2, 2, 24);
  s.type = 'B' | ('N' << 8);
  Bytes file = {0xAA, 0xBB, 0xCC};
  Bytes bmp = bmp_file(s);
  file.insert(file.end(), bmp.begin(), bmp.end());
  VxStream* stream = nullptr;
  ASSERT_EQ(vx_openrmemory(&stream, file.data(), static_cast<LONG>(file.size())), 0);
  ASSERT_EQ(vx_xstream_seek(stream, 3, VX_SEEK_SET), 3);
  VxImage* image = nullptr;
  ASSERT_EQ(vx_ximage_new(&image, VX_XIMAGE_BMP), 1);
  EXPECT_EQ(vx_ximabmp_decode(image, stream), 0);
  EXPECT_EQ(vx_xstream_tell(stream), 3);
  EXPECT_STREQ(image->error, "");
  EXPECT_EQ(vx_ximabmp_decode(image, nullptr), 0);
  EXPECT_STREQ(image->error, "Not a BMP");
  vx_ximage_release(image);
  vx_xstream_close(stream);
}

TEST(VxXimabmp, CoreHeaderSizesAreUnsignedAndItsPaletteIsWidened) {
  BmpSpec s = spec(0x8000, 1, 1);
  s.header_size = 12;
  s.palette = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
  s.zero_offset = true; /* the pixels follow the 3-byte palette */
  s.pixels.assign(4096, 0);
  s.pixels[0] = 0xA5;
  s.pixels[4095] = 0x81;
  Decoded d(bmp_file(s));
  ASSERT_EQ(d.ok, 1) << d.image->error;
  EXPECT_EQ(d.image->header.width, 32768);
  EXPECT_EQ(d.image->header.height, 1);
  EXPECT_EQ(d.palette(0), 0x00302010u);
  EXPECT_EQ(d.palette(1), 0x00605040u);
  EXPECT_EQ(d.row(0, 1), Bytes{0xA5});
  EXPECT_EQ(vx_ximage_row(d.image, 0)[4095], 0x81);
}

TEST(VxXimabmp, TopDownRowsAreReversedIntoBottomUpOrder) {
  BmpSpec s = spec(4, -10, 8);
  s.palette = palette4(256);
  for (int r = 0; r < 10; ++r)
    for (int x = 0; x < 4; ++x) s.pixels.push_back(static_cast<uint8_t>(r * 16 + x));
  Decoded d(bmp_file(s));
  ASSERT_EQ(d.ok, 1) << d.image->error;
  EXPECT_EQ(d.image->header.height, 10);
  EXPECT_EQ(d.row(9, 4), (Bytes{0, 1, 2, 3})) << "the first stored row is the top row";
  EXPECT_EQ(d.row(0, 4), (Bytes{0x90, 0x91, 0x92, 0x93}));
}

TEST(VxXimabmp, ALongHeaderIsAcceptedOnlyUnderItsConditionsAndSkipped) {
  BmpSpec s = spec(2, 2, 24);
  s.header_size = 108;
  s.image_size = 16;
  s.zero_offset = true; /* the pixels follow the 108 bytes */
  s.pixels = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  Decoded d(bmp_file(s));
  ASSERT_EQ(d.ok, 1) << d.image->error;
  EXPECT_EQ(d.row(0, 6), (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(d.row(1, 6), (Bytes{7, 8, 9, 10, 11, 12}));

  /* A 64-byte header skips its last 24 bytes whatever they hold. */
  BmpSpec os2 = spec(2, 1, 8);
  os2.header_size = 64;
  os2.colors_used = 2;
  os2.palette = palette4(2);
  os2.zero_offset = true;
  os2.pixels = {1, 0, 0, 0};
  Decoded e(bmp_file(os2));
  ASSERT_EQ(e.ok, 1) << e.image->error;
  EXPECT_EQ(e.palette(1), 0x00030201u);
  EXPECT_EQ(e.row(0, 2), (Bytes{1, 0}));
}

TEST(VxXimabmp, PaletteCountsAreBoundedByThePalette) {
  struct Case {
    const char* name;
    uint16_t bits;
    uint32_t colors_used;
    int written;      /* entries in the file */
    int kept;         /* entries expected in the image */
    bool zero_offset; /* the pixels must then follow the file's palette */
  };
  const Case cases[] = {
      {"8 bits, colours used 0 means 256", 8, 0, 256, 256, true},
      {"8 bits, 16 colours", 8, 16, 16, 16, true},
      {"8 bits, 300 colours", 8, 300, 300, 256, true},
      {"1 bit, 5 colours", 1, 5, 5, 2, true},
      {"4 bits, an absurd count", 4, 0x12345678, 16, 16, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BmpSpec s = spec(8, 1, c.bits);
    s.colors_used = c.colors_used;
    s.palette = palette4(c.written);
    s.zero_offset = c.zero_offset;
    s.pixels = {0xC3, 0x5A, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    s.pixels.resize(static_cast<size_t>((8 * c.bits + 31) / 32 * 4));
    Decoded d(bmp_file(s));
    ASSERT_EQ(d.ok, 1) << d.image->error;
    const int room = vx_ximage_palette_size(c.bits);
    for (int i = 0; i < room; ++i) {
      uint32_t expected = i < c.kept ? static_cast<uint32_t>(i | ((2 * i & 0xFF) << 8) | ((3 * i & 0xFF) << 16)) : 0;
      ASSERT_EQ(d.palette(i), expected) << "entry " << i << ": fourth byte cleared, unlisted entries 0";
    }
    EXPECT_EQ(d.row(0, s.pixels.size()), s.pixels) << "the pixel data follows the whole file palette";
  }
}

TEST(VxXimabmp, ShortPixelDataIsNotAnError) {
  BmpSpec s = spec(4, 2, 8);
  s.palette = palette4(256);
  s.pixels = {1, 2, 3, 4, 5};
  Decoded d(bmp_file(s));
  ASSERT_EQ(d.ok, 1);
  EXPECT_EQ(d.row(0, 4), (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(d.row(1, 4), (Bytes{5, 0, 0, 0})) << "unread bytes stay cleared";

  /* 2 bits: decoded, rows never written, no palette. */
  BmpSpec two = spec(4, 2, 2);
  two.palette = palette4(4);
  two.pixels = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  Decoded e(bmp_file(two));
  ASSERT_EQ(e.ok, 1);
  EXPECT_EQ(vx_ximage_palette(e.image), nullptr);
  EXPECT_EQ(e.row(0, 4), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(e.row(1, 4), (Bytes{0, 0, 0, 0}));
}

namespace {

struct RleCase {
  const char* name;
  int32_t width;
  int32_t height;
  Bytes data;
  std::vector<Bytes> rows; /* expected block rows from row 0 (bottom), `width` bytes or stride */
};

void check_rle(uint16_t bits, uint32_t compression, const RleCase& c) {
  SCOPED_TRACE(c.name);
  BmpSpec s = spec(c.width, c.height, bits, compression);
  s.palette = palette4(1 << bits);
  s.pixels = c.data;
  Decoded d(bmp_file(s));
  ASSERT_EQ(d.ok, 1) << d.image->error;
  ASSERT_EQ(c.rows.size(), static_cast<size_t>(c.height));
  for (LONG r = 0; r < c.height; ++r) EXPECT_EQ(d.row(r, c.rows[r].size()), c.rows[r]) << "row " << r;
}

}  // namespace

TEST(VxXimabmp, Rle8DecodesRunsAndStaysInsideEachRow) {
  const RleCase cases[] = {
      {"runs, an absolute run with padding, end of line, end of bitmap", 6, 2,
       {3, 5, 0, 3, 7, 8, 9, 0, 0, 0, 2, 4, 0, 1}, {{5, 5, 5, 7, 8, 9, 0, 0}, {4, 4, 0, 0, 0, 0, 0, 0}}},
      {"a run that fills its row exactly goes on", 4, 2, {4, 1, 0, 0, 2, 2, 0, 1}, {{1, 1, 1, 1}, {2, 2, 0, 0}}},
      {"an encoded run past the end of its row ends the decoding", 4, 2, {6, 7, 0, 0, 2, 2, 0, 1},
       {{7, 7, 7, 7}, {0, 0, 0, 0}}},
      {"an absolute run longer than its row is cut at the row end", 4, 2,
       {0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0, 2, 2, 0, 1, 8, 0, 1}, {{1, 2, 3, 4}, {0, 0, 8, 0}}},
      {"an absolute run longer than the top row stays in the block", 4, 1, {0, 6, 1, 2, 3, 4, 5, 6, 0, 1},
       {{1, 2, 3, 4}}},
      {"delta moves right and up", 4, 3, {1, 9, 0, 2, 2, 1, 1, 3, 0, 1}, {{9, 0, 0, 0}, {0, 0, 0, 3}, {0, 0, 0, 0}}},
      {"a delta past the row end, then a run, ends the decoding", 4, 2, {0, 2, 10, 0, 2, 6, 0, 0, 2, 5},
       {{0, 0, 0, 0}, {0, 0, 0, 0}}},
      {"a row past the top keeps the row pointer where it was", 4, 2, {0, 2, 0, 5, 2, 4, 0, 1},
       {{4, 4, 0, 0}, {0, 0, 0, 0}}},
      {"data that runs out ends the decoding", 4, 2, {2, 1, 0, 0, 3}, {{1, 1, 0, 0}, {0, 0, 0, 0}}},
      {"an absolute run cut by the end of the data", 4, 1, {0, 4, 6, 7}, {{6, 7, 0, 0}}},
  };
  for (const RleCase& c : cases) check_rle(8, 1, c);
}

TEST(VxXimabmp, Rle4TakesNibblesInStreamOrder) {
  const RleCase cases[] = {
      {"a run of 3 of 0x12 at an even pixel gives 1, 2, 1", 8, 1, {3, 0x12, 0, 1}, {{0x12, 0x10, 0, 0}}},
      {"a run of 3 of 0x12 at an odd pixel gives 1, 2, 1 too", 8, 1, {1, 0x30, 3, 0x12, 0, 1}, {{0x31, 0x21, 0, 0}}},
      {"an absolute run of 3 pixels reads 2 bytes and no padding", 8, 1, {0, 3, 0x45, 0x60, 2, 0x77, 0, 1},
       {{0x45, 0x67, 0x70, 0}}},
      {"an absolute run of 5 pixels at an odd pixel reads 3 bytes and a pad", 8, 1,
       {1, 0x10, 0, 5, 0x23, 0x45, 0x60, 0xEE, 1, 0x90, 0, 1}, {{0x12, 0x34, 0x56, 0x90}}},
      {"an absolute run of 4 pixels reads 2 bytes", 8, 1, {0, 4, 0xAB, 0xCD, 1, 0xE0, 0, 1}, {{0xAB, 0xCD, 0xE0, 0}}},
      {"a delta moves whole pixels, odd ones too", 8, 2, {1, 0x10, 0, 2, 3, 1, 1, 0x20, 0, 1},
       {{0x10, 0, 0, 0}, {0, 0, 0x20, 0}}},
      {"pixels past the row end are dropped, the next row is decoded", 8, 2, {12, 0x56, 0, 0, 2, 0x11, 0, 1},
       {{0x56, 0x56, 0x56, 0x56}, {0x11, 0, 0, 0}}},
      {"data that runs out ends the decoding", 8, 2, {2, 0x12, 0, 0, 5}, {{0x12, 0, 0, 0}, {0, 0, 0, 0}}},
  };
  for (const RleCase& c : cases) check_rle(4, 2, c);
}

TEST(VxXimabmp, SixteenBitsKeepTheirMasksInThePalette) {
  struct Case {
    const char* name;
    uint32_t compression;
    Bytes masks;
    int palette_entries;
    bool zero_offset;
    uint32_t expected[3];
  };
  const Case cases[] = {
      {"compression 0: the 5-5-5 default", 0, {}, 0, false, {0x7C00, 0x03E0, 0x001F}},
      {"compression 0 with a listed palette", 0, {}, 2, true, {0x7C00, 0x03E0, 0x001F}},
      {"bit fields 5-6-5", 3, masks_of(0xF800, 0x07E0, 0x001F), 0, false, {0xF800, 0x07E0, 0x001F}},
      {"bit fields before a palette, which is skipped", 3, masks_of(0xF800, 0x07E0, 0x001F), 256, true,
       {0xF800, 0x07E0, 0x001F}},
      {"bit fields with a high mask bit", 3, masks_of(0xFF000000, 0xFF00, 0), 0, false, {0xFF000000, 0xFF00, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BmpSpec s = spec(2, 1, 16, c.compression);
    s.masks = c.masks;
    s.colors_used = static_cast<uint32_t>(c.palette_entries);
    s.palette = palette4(c.palette_entries);
    s.zero_offset = c.zero_offset;
    s.pixels = {0x34, 0x12, 0x78, 0x56};
    Decoded d(bmp_file(s));
    ASSERT_EQ(d.ok, 1) << d.image->error;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(d.palette(i), c.expected[i]) << "mask " << i;
    EXPECT_EQ(d.row(0, 4), s.pixels) << "16-bit pixels are copied as they are";
  }
}

TEST(VxXimabmp, ThirtyTwoBitsBecomeBlueGreenRedThroughTheMasks) {
  struct Case {
    const char* name;
    uint32_t compression;
    Bytes masks;
    Bytes pixel;
    Bytes expected;
  };
  const Case cases[] = {
      {"compression 0 drops the fourth byte", 0, {}, {0x11, 0x22, 0x33, 0x44}, {0x11, 0x22, 0x33, 0}},
      {"default masks as bit fields", 3, masks_of(0xFF0000, 0xFF00, 0xFF), {0x11, 0x22, 0x33, 0x44},
       {0x11, 0x22, 0x33, 0}},
      {"channels in another order", 3, masks_of(0xFF, 0xFF00, 0xFF000000), {0x11, 0x22, 0x33, 0x44},
       {0x44, 0x22, 0x11, 0}},
      {"10-bit channels are scaled", 3, masks_of(0x3FF00000, 0x000FFC00, 0x000003FF),
       /* red 0x3FF, green 0x200, blue 0x004 */ {0x04, 0x00, 0xF8, 0x3F}, {1, 128, 255, 0}},
      {"a zero mask gives 0", 3, masks_of(0xFF0000, 0, 0xFF), {0x11, 0x22, 0x33, 0x44}, {0x11, 0, 0x33, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BmpSpec s = spec(1, 1, 32, c.compression);
    s.masks = c.masks;
    s.pixels = c.pixel;
    Decoded d(bmp_file(s));
    ASSERT_EQ(d.ok, 1) << d.image->error;
    EXPECT_EQ(d.image->header.bits, 32);
    EXPECT_EQ(d.row(0, 4), c.expected);
  }

  /* Short data: whole pixels that are there are converted, the rest stays cleared. */
  BmpSpec s = spec(2, 2, 32);
  s.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Decoded d(bmp_file(s));
  ASSERT_EQ(d.ok, 1);
  EXPECT_EQ(d.row(0, 8), (Bytes{1, 2, 3, 0, 5, 6, 7, 0}));
  EXPECT_EQ(d.row(1, 8), (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
}
