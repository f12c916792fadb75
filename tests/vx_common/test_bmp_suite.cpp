/* The BMP test suite in the shared test data: every file of g/, q/, b/ and x/
 * with its expected result, compared with the suite's reference pictures
 * (the PNG files in html/). Skipped when the test data is absent. */
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "image_render.h"
#include "vx_ximage.h"

namespace {

enum Expect {
  kMatch,    /* decodes to the reference picture */
  kRefuse,   /* fails with the message (empty: without one) */
  kDiffers,  /* decodes, but shows something else than the reference, for the reason given */
  kDecodes,  /* decodes; the suite has no picture to compare with */
};

struct SuiteFile {
  const char* file;
  Expect expect;
  const char* reference; /* html/ picture, or the message of a refusal */
  int tolerance;         /* largest channel difference allowed for a match */
  const char* reason;
};

const SuiteFile kSuite[] = {
    {"g/pal1.bmp", kMatch, "pal1.png", 0, ""},
    {"g/pal1bg.bmp", kMatch, "pal1bg.png", 0, ""},
    {"g/pal1wb.bmp", kMatch, "pal1.png", 0, "white is palette entry 0"},
    {"g/pal4.bmp", kMatch, "pal4.png", 0, ""},
    {"g/pal4gs.bmp", kMatch, "pal4gs.png", 0, ""},
    {"g/pal4rle.bmp", kMatch, "pal4.png", 0, "RLE4 nibbles in stream order"},
    {"g/pal8-0.bmp", kMatch, "pal8.png", 0, "image size 0 and colours used 0 take their defaults"},
    {"g/pal8.bmp", kMatch, "pal8.png", 0, ""},
    {"g/pal8gs.bmp", kMatch, "pal8gs.png", 0, ""},
    {"g/pal8nonsquare.bmp", kMatch, "pal8nonsquare-e.png", 0, "pixels are not stretched"},
    {"g/pal8os2.bmp", kMatch, "pal8.png", 0, "12-byte header, 3-byte palette entries"},
    {"g/pal8rle.bmp", kMatch, "pal8.png", 0, ""},
    {"g/pal8topdown.bmp", kMatch, "pal8.png", 0, "negative height: rows reversed"},
    {"g/pal8v4.bmp", kRefuse, "", 0, "a header longer than 40 bytes is taken only with colours used 0 (here 252)"},
    {"g/pal8v5.bmp", kRefuse, "", 0, "a header longer than 40 bytes is taken only with colours used 0 (here 252)"},
    {"g/pal8w124.bmp", kMatch, "pal8w124.png", 0, "row padding"},
    {"g/pal8w125.bmp", kMatch, "pal8w125.png", 0, "row padding"},
    {"g/pal8w126.bmp", kMatch, "pal8w126.png", 0, "row padding"},
    {"g/rgb16-565.bmp", kMatch, "rgb16-565.png", 0, "bit-field masks in the palette"},
    {"g/rgb16-565pal.bmp", kMatch, "rgb16-565.png", 0, "masks before the palette, which is skipped"},
    {"g/rgb16.bmp", kMatch, "rgb16.png", 0, "compression 0: 5-5-5 masks"},
    {"g/rgb16bfdef.bmp", kMatch, "rgb16.png", 0, ""},
    {"g/rgb24.bmp", kMatch, "rgb24.png", 0, ""},
    {"g/rgb24pal.bmp", kMatch, "rgb24.png", 0, "the pixel offset skips the palette"},
    {"g/rgb32.bmp", kMatch, "rgb24.png", 0, "fourth byte dropped"},
    {"g/rgb32bf.bmp", kMatch, "rgb24.png", 0, "channels placed by the masks"},
    {"g/rgb32bfdef.bmp", kMatch, "rgb24.png", 0, ""},

    {"q/pal1huffmsb.bmp", kRefuse, "compression type not supported", 0, "OS/2 Huffman 1D is compression 3"},
    {"q/pal1p1.bmp", kMatch, "pal1p1.png", 0, "one palette colour"},
    {"q/pal2.bmp", kDiffers, "pal2.png", 0, "2 bits: no palette and no rows are decoded"},
    {"q/pal2color.bmp", kDiffers, "pal2color.png", 0, "2 bits: no palette and no rows are decoded"},
    {"q/pal4rlecut.bmp", kMatch, "pal4rlecut-0.png", 0, "skipped pixels stay palette entry 0"},
    {"q/pal4rletrns.bmp", kMatch, "pal4rletrns-0.png", 0, "skipped pixels stay palette entry 0; odd deltas"},
    {"q/pal8offs.bmp", kMatch, "pal8.png", 0, "pixel offset honoured"},
    {"q/pal8os2-hs.bmp", kMatch, "pal8.png", 0, ""},
    {"q/pal8os2-sz.bmp", kMatch, "pal8.png", 0, ""},
    {"q/pal8os2sp.bmp", kMatch, "pal8.png", 0, "short palette: the pixel offset corrects the position"},
    {"q/pal8os2v2-16.bmp", kRefuse, "", 0, "a 16-byte header is not supported"},
    {"q/pal8os2v2-40sz.bmp", kMatch, "pal8.png", 0, ""},
    {"q/pal8os2v2-sz.bmp", kMatch, "pal8.png", 0, "64-byte header"},
    {"q/pal8os2v2.bmp", kMatch, "pal8.png", 0, "64-byte header"},
    {"q/pal8oversizepal.bmp", kMatch, "pal8.png", 0, "300 colours: 256 kept, the rest skipped"},
    {"q/pal8rlecut.bmp", kMatch, "pal8rlecut-0.png", 0, "skipped pixels stay palette entry 0"},
    {"q/pal8rletrns.bmp", kMatch, "pal8rletrns-0.png", 0, "skipped pixels stay palette entry 0"},
    {"q/rgb16-231.bmp", kMatch, "rgb16-231.png", 0, "odd masks"},
    {"q/rgb16-3103.bmp", kMatch, "rgb16-3103.png", 0, "odd masks"},
    {"q/rgb16faketrns.bmp", kMatch, "rgb16.png", 0, "the unused bit is outside the 5-5-5 masks"},
    {"q/rgb24jpeg.bmp", kRefuse, "", 0, "124-byte header with compression 4"},
    {"q/rgb24largepal.bmp", kMatch, "rgb24.png", 0, ""},
    {"q/rgb24lprof.bmp", kMatch, "rgb24.png", 0, "the linked profile is ignored"},
    {"q/rgb24png.bmp", kRefuse, "", 0, "124-byte header with compression 5"},
    {"q/rgb24rle24.bmp", kRefuse, "unknown compression", 0, "OS/2 RLE24 is compression 4"},
    {"q/rgb32-111110.bmp", kMatch, "rgb24.png", 1, "11- and 10-bit channels rounded to 8 bits"},
    {"q/rgb32-7187.bmp", kMatch, "rgb32-7187.png", 0, "7-, 18- and 7-bit channels"},
    {"q/rgb32-xbgr.bmp", kRefuse, "", 0, "124-byte header with bit fields"},
    {"q/rgb32fakealpha.bmp", kMatch, "rgb24.png", 0, "fourth byte dropped"},
    {"q/rgb32h52.bmp", kRefuse, "", 0, "52-byte header with bit fields"},
    {"q/rgba16-1924.bmp", kRefuse, "", 0, "124-byte header with bit fields"},
    {"q/rgba16-4444.bmp", kRefuse, "", 0, "124-byte header with bit fields"},
    {"q/rgba16-5551.bmp", kRefuse, "", 0, "124-byte header with bit fields"},
    {"q/rgba32-1.bmp", kRefuse, "", 0, "124-byte header with bit fields"},
    {"q/rgba32-1010102.bmp", kRefuse, "", 0, "124-byte header with bit fields"},
    {"q/rgba32-2.bmp", kRefuse, "", 0, "124-byte header with bit fields"},
    {"q/rgba32-61754.bmp", kRefuse, "", 0, "124-byte header with bit fields"},
    {"q/rgba32-81284.bmp", kRefuse, "", 0, "124-byte header with bit fields"},
    {"q/rgba32abf.bmp", kRefuse, "unknown compression", 0, "compression 6"},
    {"q/rgba32h56.bmp", kRefuse, "", 0, "56-byte header with bit fields"},
    {"q/rgba64.bmp", kRefuse, "Can't allocate memory", 0, "64 bits per pixel"},

    {"b/badbitcount.bmp", kRefuse, "Can't allocate memory", 0, "30000 bits per pixel"},
    {"b/badbitssize.bmp", kMatch, "pal1.png", 0, "the 1-bit picture; the image size field is not used"},
    {"b/baddens1.bmp", kMatch, "pal1.png", 0, "the 1-bit picture; density ignored"},
    {"b/baddens2.bmp", kMatch, "pal1.png", 0, "the 1-bit picture; density ignored"},
    {"b/badfilesize.bmp", kMatch, "pal1.png", 0, "the 1-bit picture; file size ignored"},
    {"b/badheadersize.bmp", kRefuse, "", 0, "66-byte header with colours used 2"},
    {"b/badpalettesize.bmp", kMatch, "pal8.png", 0, "an absurd colour count: 256 kept"},
    {"b/badplanes.bmp", kMatch, "pal1.png", 0, "the 1-bit picture; planes not checked"},
    {"b/badrle.bmp", kDecodes, "", 0, "invalid RLE8; writes stay inside the rows"},
    {"b/badrle4.bmp", kDecodes, "", 0, "invalid RLE4; writes stay inside the rows"},
    {"b/badrle4bis.bmp", kDecodes, "", 0, "invalid RLE4; writes stay inside the rows"},
    {"b/badrle4ter.bmp", kDecodes, "", 0, "invalid RLE4; writes stay inside the rows"},
    {"b/badrlebis.bmp", kDecodes, "", 0, "invalid RLE8; writes stay inside the rows"},
    {"b/badrleter.bmp", kDecodes, "", 0, "invalid RLE8; writes stay inside the rows"},
    {"b/badwidth.bmp", kRefuse, "Can't allocate memory", 0, "negative width"},
    {"b/pal8badindex.bmp", kDecodes, "", 0, "indices past the palette show its cleared entries"},
    {"b/reallybig.bmp", kRefuse, "Can't allocate memory", 0, "over the size limit"},
    {"b/rgb16-880.bmp", kMatch, "rgb16-880.png", 0, "blue mask 0"},
    {"b/rletopdown.bmp", kMatch, "pal8.png", 0, "RLE with a negative height is decoded, then reversed"},
    {"b/shortfile.bmp", kDiffers, "pal1.png", 0, "cut in its pixel data: the missing rows stay palette entry 0"},

    {"x/ba-bm.bmp", kRefuse, "", 0, "an OS/2 bitmap array (type BA)"},
};

std::string suite_dir() { return std::string(VELMAR_TESTDATA) + "/bmpsuite/"; }

std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) out.insert(out.end(), chunk, chunk + n);
  fclose(f);
  return out;
}

/* A PNG as 8-bit RGB (16-bit samples scaled, palettes expanded, alpha dropped). */
bool load_png(const std::string& path, RgbPicture* out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    fclose(f);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  png_set_scale_16(png);
  png_set_palette_to_rgb(png);
  png_set_gray_to_rgb(png);
  png_set_strip_alpha(png);
  png_set_expand(png);
  png_read_update_info(png, info);
  out->width = static_cast<int>(png_get_image_width(png, info));
  out->height = static_cast<int>(png_get_image_height(png, info));
  out->rgb.assign(static_cast<size_t>(out->width) * out->height * 3, 0);
  std::vector<png_bytep> rows(out->height);
  for (int y = 0; y < out->height; ++y) rows[y] = &out->rgb[static_cast<size_t>(y) * out->width * 3];
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  fclose(f);
  return true;
}

/* Pixels whose largest channel difference exceeds `tolerance`; -1 when the sizes differ. */
int differing_pixels(const RgbPicture& a, const RgbPicture& b, int tolerance) {
  if (a.width != b.width || a.height != b.height) return -1;
  int count = 0;
  for (size_t i = 0; i < a.rgb.size(); i += 3) {
    int worst = 0;
    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(a.rgb[i + c] - b.rgb[i + c]));
    if (worst > tolerance) count++;
  }
  return count;
}

bool suite_present() { return std::filesystem::is_directory(suite_dir() + "g"); }

}  // namespace

TEST(BmpSuite, EveryFileHasItsExpectedResult) {
  if (!suite_present()) GTEST_SKIP() << "BMP suite not found at " << suite_dir() << ": test skipped";
  for (const SuiteFile& row : kSuite) {
    SCOPED_TRACE(testing::Message() << row.file << " (" << row.reason << ")");
    std::vector<uint8_t> data = read_file(suite_dir() + row.file);
    ASSERT_FALSE(data.empty()) << "missing file";
    VxImage* image = nullptr;
    ASSERT_EQ(vx_ximage_new(&image, VX_XIMAGE_BMP), 1);
    int ok = vx_ximage_decode(image, data.data(), static_cast<LONG>(data.size()));
    if (row.expect == kRefuse) {
      EXPECT_EQ(ok, 0);
      EXPECT_STREQ(image->error, row.reference);
      EXPECT_EQ(image->block, nullptr);
    } else {
      EXPECT_EQ(ok, 1) << image->error;
    }
    if (ok && row.expect != kRefuse && row.expect != kDecodes) {
      RgbPicture decoded, reference;
      ASSERT_TRUE(load_png(suite_dir() + "html/" + row.reference, &reference)) << row.reference;
      bool shown = render_image(image, &decoded);
      int differ = shown ? differing_pixels(decoded, reference, row.tolerance) : -1;
      if (row.expect == kMatch) {
        ASSERT_TRUE(shown);
        EXPECT_EQ(differ, 0) << "pixels differing from " << row.reference << " (-1: other size)";
      } else {
        EXPECT_NE(differ, 0) << "now matches " << row.reference << ": update the table";
      }
    }
    if (ok && row.expect == kDecodes) {
      EXPECT_EQ(image->header.width, 127);
      EXPECT_EQ(image->header.height, 64);
    }
    vx_ximage_release(image);
  }
}

TEST(BmpSuite, TheTableNamesEveryFileOfTheSuite) {
  if (!suite_present()) GTEST_SKIP() << "BMP suite not found at " << suite_dir() << ": test skipped";
  std::set<std::string> listed;
  for (const SuiteFile& row : kSuite) listed.insert(row.file);
  for (const char* folder : {"g", "q", "b", "x"}) {
    for (const auto& entry : std::filesystem::directory_iterator(suite_dir() + folder)) {
      if (entry.path().extension() != ".bmp") continue;
      std::string name = std::string(folder) + "/" + entry.path().filename().string();
      EXPECT_TRUE(listed.count(name)) << name << " has no row";
    }
  }
}
