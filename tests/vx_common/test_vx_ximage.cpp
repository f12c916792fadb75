/* The image object: pixel block layout, reference counts, rows and flips. */
#include <gtest/gtest.h>

#include <vector>

#include "vx_ximage.h"

namespace {

struct ImageTest : testing::Test {
  VxImage* image = nullptr;
  void SetUp() override { ASSERT_EQ(vx_ximage_new(&image, VX_XIMAGE_BMP), 1); }
  void TearDown() override { vx_ximage_release(image); }
};

}  // namespace

TEST_F(ImageTest, NewImagesAreEmpty) {
  EXPECT_EQ(image->refs, 1);
  EXPECT_EQ(image->kind, VX_XIMAGE_BMP);
  EXPECT_EQ(image->block, nullptr);
  EXPECT_EQ(image->pixels, nullptr);
  EXPECT_EQ(image->header.x_pels_per_meter, 3780);
  EXPECT_EQ(image->header.y_pels_per_meter, 3780);
  EXPECT_STREQ(image->error, "");
  EXPECT_EQ(vx_ximage_palette(image), nullptr);
  EXPECT_EQ(vx_ximage_row(image, 0), nullptr);
  EXPECT_EQ(vx_ximage_flip(image), 0);
}

TEST_F(ImageTest, CreateLaysOutHeaderPaletteAndRows) {
  struct Case {
    LONG width, height;
    int bits;
    LONG stride;
    DWORD palette;
  };
  const Case cases[] = {
      {33, 2, 1, 8, 2},   {3, 1, 24, 12, 0}, {5, 3, 16, 12, 3}, {7, 4, 4, 4, 16},
      {5, 2, 8, 8, 256},  {2, 2, 32, 8, 0},  {17, 1, 2, 8, 0},  {1, 1, 1, 4, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bits);
    BYTE* block = vx_ximage_create(image, c.width, c.height, c.bits);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block, image->block);
    EXPECT_EQ(image->stride, c.stride);
    const VxImageHeader& h = image->header;
    EXPECT_EQ(h.size, 40u);
    EXPECT_EQ(h.width, c.width);
    EXPECT_EQ(h.height, c.height);
    EXPECT_EQ(h.planes, 1);
    EXPECT_EQ(h.bits, c.bits);
    EXPECT_EQ(h.compression, 3u) << "always the bit-fields code";
    EXPECT_EQ(h.image_size, static_cast<DWORD>(c.stride * c.height));
    EXPECT_EQ(h.colors_used, c.palette);
    EXPECT_EQ(h.colors_important, 0u);
    EXPECT_EQ(memcmp(block, &h, 40), 0) << "the block starts with a copy of the header";
    EXPECT_EQ(image->pixels, block + 40 + 4 * c.palette);
    EXPECT_EQ(vx_ximage_palette(image), c.palette ? block + 40 : nullptr);
    EXPECT_EQ(vx_ximage_row(image, 0), image->pixels);
    EXPECT_EQ(vx_ximage_row(image, c.height - 1), image->pixels + (c.height - 1) * c.stride);
    EXPECT_EQ(vx_ximage_row(image, c.height), nullptr);
    EXPECT_EQ(vx_ximage_row(image, -1), nullptr);
    std::vector<BYTE> rest(block + 40, block + 40 + 4 * c.palette + h.image_size);
    EXPECT_EQ(rest, std::vector<BYTE>(rest.size(), 0)) << "palette and rows start cleared";
  }
}

TEST_F(ImageTest, CreateRefusesSizesAndDepthsItCannotHold) {
  struct Case {
    LONG width, height;
    int bits;
    const char* why;
  };
  const Case cases[] = {
      {0, 5, 8, "width 0"},
      {5, 0, 8, "height 0"},
      {-127, 64, 1, "negative width"},
      {5, -3, 8, "negative height"},
      {4, 4, 3, "3 bits per pixel"},
      {4, 4, 64, "64 bits per pixel"},
      {4, 4, 30000, "30000 bits per pixel"},
      {4, 4, 0, "0 bits per pixel"},
      {16000, 16001, 8, "more than 2,048,000,000 bits"},
      {64000001, 1, 32, "just over the limit"},
      {0x7FFFFFFF, 0x7FFFFFFF, 32, "a product that overflows 64 bits on the way"},
  };
  ASSERT_NE(vx_ximage_create(image, 4, 4, 8), nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(vx_ximage_create(image, c.width, c.height, c.bits), nullptr);
    EXPECT_EQ(image->block, nullptr) << "any old block is freed first";
    EXPECT_EQ(image->pixels, nullptr);
    EXPECT_STREQ(image->error, "") << "the size checks set no message";
  }
}

TEST_F(ImageTest, FlipReversesRowsAndKeepsThePalette) {
  ASSERT_NE(vx_ximage_create(image, 3, 3, 8), nullptr);
  BYTE* palette = vx_ximage_palette(image);
  palette[4 * 7] = 0x12;
  palette[4 * 255 + 2] = 0x34;
  for (LONG r = 0; r < 3; ++r) memset(vx_ximage_row(image, r), 0xA0 + r, 4);
  ASSERT_EQ(vx_ximage_flip(image), 1);
  EXPECT_EQ(vx_ximage_row(image, 0)[0], 0xA2);
  EXPECT_EQ(vx_ximage_row(image, 1)[3], 0xA1);
  EXPECT_EQ(vx_ximage_row(image, 2)[1], 0xA0);
  EXPECT_EQ(vx_ximage_palette(image)[4 * 7], 0x12);
  EXPECT_EQ(vx_ximage_palette(image)[4 * 255 + 2], 0x34);
  EXPECT_EQ(image->header.height, 3);
  EXPECT_EQ(image->stride, 4);
  EXPECT_EQ(memcmp(image->block, &image->header, 40), 0);
}

TEST_F(ImageTest, ReferencesKeepTheObjectUntilTheLastRelease) {
  ASSERT_NE(vx_ximage_create(image, 2, 2, 24), nullptr);
  EXPECT_EQ(vx_ximage_retain(image), image);
  EXPECT_EQ(image->refs, 2);
  vx_ximage_release(image);
  EXPECT_EQ(image->refs, 1);
  EXPECT_NE(image->block, nullptr) << "still alive after the first release";
  vx_ximage_destroy_pixels(image);
  EXPECT_EQ(image->block, nullptr);
  EXPECT_EQ(image->pixels, nullptr);
  vx_ximage_release(nullptr);
}

TEST(VxXimage, OnlyTheBmpKindDecodes) {
  /* A valid 1 x 1 24-bit file. */
  const BYTE file[] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0,
                       1,   0,   24, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0,
                       0,   0,   1,  2, 3, 0};
  for (int kind : {VX_XIMAGE_KIND2, VX_XIMAGE_KIND3, VX_XIMAGE_KIND4, VX_XIMAGE_BMP}) {
    SCOPED_TRACE(kind);
    VxImage* image = nullptr;
    ASSERT_EQ(vx_ximage_new(&image, kind), 1);
    ASSERT_NE(vx_ximage_create(image, 2, 2, 8), nullptr);
    int ok = vx_ximage_decode(image, file, sizeof file);
    EXPECT_EQ(ok, kind == VX_XIMAGE_BMP ? 1 : 0);
    if (ok) {
      EXPECT_EQ(image->header.width, 1);
      EXPECT_EQ(image->pixels[2], 3);
    } else {
      EXPECT_EQ(image->block, nullptr) << "a failed decode leaves the object empty";
    }
    vx_ximage_release(image);
  }

  /* No stream can be opened over a negative size. */
  VxImage* image = nullptr;
  ASSERT_EQ(vx_ximage_new(&image, VX_XIMAGE_BMP), 1);
  EXPECT_EQ(vx_ximage_decode(image, file, -1), 0);
  EXPECT_STREQ(image->error, "vx_openrmemory error");
  EXPECT_EQ(vx_ximage_decode(image, file, sizeof file), 1);
  EXPECT_STREQ(image->error, "") << "each decode starts with an empty error text";
  vx_ximage_release(image);
}

namespace {

/* Pixels of a device bitmap, read back through a memory device context. */
std::vector<COLORREF> bitmap_pixels(HBITMAP bitmap, int width, int height) {
  std::vector<COLORREF> out;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) out.push_back(GetPixel(dc, x, y));
  SelectObject(dc, old);
  DeleteDC(dc);
  return out;
}

void set_entry(BYTE* palette, int i, BYTE r, BYTE g, BYTE b) {
  palette[4 * i] = b;
  palette[4 * i + 1] = g;
  palette[4 * i + 2] = r;
}

}  // namespace

TEST_F(ImageTest, MakeBitmapShowsThePixelsAtEveryDepth) {
  struct Case {
    int bits;
    void (*fill)(VxImage*);
    std::vector<COLORREF> expected; /* 2 x 2, top row first */
  };
  const Case cases[] = {
      {1,
       [](VxImage* im) {
         set_entry(vx_ximage_palette(im), 1, 0x10, 0x20, 0x30);
         vx_ximage_row(im, 0)[0] = 0x40; /* bottom row: 0, 1 */
         vx_ximage_row(im, 1)[0] = 0x80; /* top row: 1, 0 */
       },
       {RGB(0x10, 0x20, 0x30), RGB(0, 0, 0), RGB(0, 0, 0), RGB(0x10, 0x20, 0x30)}},
      {4,
       [](VxImage* im) {
         set_entry(vx_ximage_palette(im), 3, 0xFF, 0, 0);
         set_entry(vx_ximage_palette(im), 12, 0, 0, 0xFF);
         vx_ximage_row(im, 0)[0] = 0x3C;
         vx_ximage_row(im, 1)[0] = 0xC3;
       },
       {RGB(0, 0, 0xFF), RGB(0xFF, 0, 0), RGB(0xFF, 0, 0), RGB(0, 0, 0xFF)}},
      {8,
       [](VxImage* im) {
         set_entry(vx_ximage_palette(im), 200, 0x12, 0x34, 0x56);
         vx_ximage_row(im, 1)[1] = 200;
       },
       {RGB(0, 0, 0), RGB(0x12, 0x34, 0x56), RGB(0, 0, 0), RGB(0, 0, 0)}},
      {16,
       [](VxImage* im) {
         const DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
         memcpy(vx_ximage_palette(im), masks, sizeof masks);
         BYTE* top = vx_ximage_row(im, 1);
         top[0] = 0x00, top[1] = 0xF8; /* red */
         top[2] = 0xE0, top[3] = 0x07; /* green */
         BYTE* bottom = vx_ximage_row(im, 0);
         bottom[0] = 0x1F, bottom[1] = 0x00; /* blue */
       },
       {RGB(0xFF, 0, 0), RGB(0, 0xFF, 0), RGB(0, 0, 0xFF), RGB(0, 0, 0)}},
      {24,
       [](VxImage* im) {
         BYTE* top = vx_ximage_row(im, 1);
         top[0] = 0x11, top[1] = 0x22, top[2] = 0x33;
       },
       {RGB(0x33, 0x22, 0x11), RGB(0, 0, 0), RGB(0, 0, 0), RGB(0, 0, 0)}},
      {32,
       [](VxImage* im) {
         BYTE* top = vx_ximage_row(im, 1);
         top[4] = 0x11, top[5] = 0x22, top[6] = 0x33;
         BYTE* bottom = vx_ximage_row(im, 0);
         bottom[0] = 0xFF;
       },
       {RGB(0, 0, 0), RGB(0x33, 0x22, 0x11), RGB(0, 0, 0xFF), RGB(0, 0, 0)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits");
    ASSERT_NE(vx_ximage_create(image, 2, 2, c.bits), nullptr);
    c.fill(image);
    HBITMAP bitmap = vx_ximage_make_bitmap(image);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap_pixels(bitmap, 2, 2), c.expected);
    DeleteObject(bitmap);
  }
  vx_ximage_destroy_pixels(image);
  EXPECT_EQ(vx_ximage_make_bitmap(image), nullptr) << "no bitmap from an empty image";
}
