/* The velres tool, run as a program: a skin source compiled by `velres build`
 * and loaded with vx_skin_load, its errors with file and line, and dump,
 * extract and decode. Sources and pictures are written by the test. */
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../vx_common/bmp_writer.h"
#include "skin_fixture.h"
#include "vx_skin.h"

namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

/* A folder of its own for each test. */
struct Scratch {
  std::string dir;
  Scratch() {
    char name[] = "/tmp/velmar-velres-XXXXXX";
    if (mkdtemp(name)) dir = name;
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string path(const std::string& name) const { return dir + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  void write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    write(name, std::string(bytes.begin(), bytes.end()));
  }
  /* velres with these arguments; its output and errors in files of this folder. */
  Outcome velres(const std::string& arguments) const {
    const std::string command = std::string(VELMAR_BINARY_DIR) + "/bin/velres " + arguments + " >" + path("stdout") +
                                " 2>" + path("stderr");
    Outcome run;
    int raw = system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = slurp(path("stdout"));
    run.err = slurp(path("stderr"));
    return run;
  }
};

WString text_of(const VxSkinItem* item) { return item && item->text ? WString(item->text) : WString(); }

bool exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

/* Two bits per pixel: the decoder takes it, the platform has no bitmap of that depth. */
std::vector<uint8_t> two_bits() {
  BmpSpec spec;
  spec.width = 4;
  spec.height = 2;
  spec.bits = 2;
  spec.colors_used = 4;
  spec.palette.assign(16, 0x80);
  spec.pixels.assign(8, 0x1B);
  return bmp_file(spec);
}

std::vector<uint8_t> rle_on_24_bits() {
  std::vector<uint8_t> bmp = solid_bmp(2, 2, 0x123456);
  bmp[30] = 1;
  return bmp;
}

/* A PNG file's pixels, 8-bit red, green, blue, rows top-down. */
bool read_png(const std::string& path, int* width, int* height, std::vector<uint8_t>* rgb) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  rgb->resize(PNG_IMAGE_SIZE(image));
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  return png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr) != 0;
}

const char kSource[] =
    "# a skin for the round trip\n"
    "\n"
    "id=300 kind=1 reserved=0xFFFFFFFF x=-5 y=6 width=40 height=20 image=pic.bmp mask=-1 # shaped\n"
    "id=301 text=\"来电 \\\"A\\\"\\n\" variant=1\n"
    "id=301 text=\"Call\" variant=0\n"
    "  id=302   image=other.bmp\n"
    "id=303 image=pic.bmp mask=-2 text=\"\\u4E2D\"\n";

}  // namespace

TEST(Velres, BuildThenLoadGivesTheItemsAndImagesOfTheSource) {
  Scratch s;
  const std::vector<uint8_t> pic = bmp24(120, 20, [](int x, int) { return x < 40 ? 0x102030u : 0xFFFFFFu; });
  const std::vector<uint8_t> other = solid_bmp(3, 5, 0xC0FFEE);
  s.write("skin.txt", kSource);
  s.write("pic.bmp", pic);
  s.write("other.bmp", other);
  const Outcome run = s.velres("build " + s.dir + " -o " + s.path("Velmar.res"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("5 items, 2 images"), std::string::npos) << run.out;

  DeviceRoot root;
  const std::string built = slurp(s.path("Velmar.res"));
  ASSERT_TRUE(root.write("Velmar.res", std::vector<uint8_t>(built.begin(), built.end())));
  VxSkin* skin = vx_skin_load(root.path("Velmar.res").c_str(), 0, 1);
  ASSERT_NE(skin, nullptr);
  ASSERT_EQ(skin->item_count, 5);
  EXPECT_EQ(skin->slot_count, 2) << "one slot per image file";

  const VxSkinItem& shaped = skin->items[0];
  const int expected[] = {300, 1, -1, -5, 6, 40, 20, 0, -1, -1};
  const int got[] = {shaped.id, shaped.kind, shaped.reserved, shaped.x, shaped.y, shaped.width,
                     shaped.height, shaped.image_slot, shaped.mask_code, shaped.variant};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(got[i], expected[i]) << "column " << i;
  EXPECT_EQ(shaped.text, nullptr);

  EXPECT_EQ(text_of(&skin->items[1]), u"来电 \"A\"\n");
  EXPECT_EQ(skin->items[1].text_length, 16) << "seven units and the terminator";
  EXPECT_EQ(skin->items[1].variant, 1);
  EXPECT_EQ(text_of(vx_skin_find(skin, 301)), u"Call") << "language 0";
  EXPECT_EQ(skin->items[3].image_slot, 1);
  EXPECT_EQ(skin->items[4].image_slot, 0) << "the same file shares its slot";
  EXPECT_EQ(text_of(&skin->items[4]), u"中");

  HBITMAP bitmap = vx_skin_get_bitmap(skin, &skin->items[3], 0);
  ASSERT_NE(bitmap, nullptr);
  BITMAP info;
  ASSERT_EQ(GetObjectW(bitmap, sizeof info, &info), (int)sizeof info);
  EXPECT_EQ(info.bmWidth, 3);
  EXPECT_EQ(info.bmHeight, 5);

  /* The shaped button binds with its mask from the white third frame. */
  ButtonGroup* group = vx_button_group_create(nullptr, VX_BUTTON_GROUP_PUSH);
  ASSERT_EQ(vx_button_add(group, 300, 0, 0, 0, 0, nullptr, 0), 0);
  ASSERT_EQ(vx_skin_bind_buttons(skin, group, 1), 0);
  Button* button = vx_button_find(group, 300);
  EXPECT_EQ(button->style, VX_BUTTON_SHAPED);
  EXPECT_EQ(GetPixel(button->mask_dc, 0, 0), RGB(255, 255, 255));
  vx_skin_release_buttons(skin, group);
  vx_button_group_destroy(group);
  vx_skin_free(skin);
}

TEST(Velres, SourceErrorsNameFileAndLineAndWriteNothing) {
  const struct {
    const char* source;
    const char* message;
  } cases[] = {
      {"# fine\n\nid=1 colour=3\n", ":3: unknown field 'colour'"},
      {"id=1 image=none.bmp\n", ":1: image none.bmp cannot be read"},
      {"id=1\nid=2 image=rle.bmp\n", ":2: image rle.bmp is refused by the BMP decoder: unknown compression"},
      {"id=1 image=text.bmp\n", ":1: image text.bmp is refused by the BMP decoder"},
      {"id=1 image=two.bmp\n", ":1: image two.bmp decodes, but the platform makes no device bitmap of it"},
      {"id=0\n", ":1: id 0 out of range"},
      {"id=-3\n", ":1: id -3 out of range"},
      {"id=2147483648\n", ":1: 'id=2147483648' is not a 32-bit whole number"},
      {"id=1 x=12px\n", ":1: 'x=12px' is not a 32-bit whole number"},
      {"id=1 variant=22\n", ":1: variant 22 out of range"},
      {"id=1 kind=2\n", ":1: kind 2 out of range"},
      {"id=1 width=-4\n", ":1: width -4 is negative"},
      {"id=5 variant=1\nid=6\nid=5 variant=1\n", ":3: id 5 with variant 1 is given already at line 1"},
      {"id=1 text=\"open\n", ":1: quoted value of 'text' is not closed"},
      {"id=1 text=\"\\q\"\n", ":1: unknown escape \\q"},
      {"x=3 y=4\n", ":1: item without an id"},
      {"id=1 x=1 x=2\n", ":1: field 'x' given twice"},
      {"id=1 x\n", ":1: 'x' has no value"},
      {"id=1 text=\"\xFF\"\n", ":1: text is not valid UTF-8"},
  };
  for (const auto& c : cases) {
    Scratch s;
    s.write("skin.txt", c.source);
    s.write("rle.bmp", rle_on_24_bits());
    s.write("text.bmp", std::string("just some words"));
    s.write("two.bmp", two_bits());
    const Outcome run = s.velres("build " + s.dir + " -o " + s.path("out.res"));
    EXPECT_EQ(run.status, 1) << c.source;
    EXPECT_NE(run.err.find(s.path("skin.txt") + c.message), std::string::npos) << c.source << "\n" << run.err;
    EXPECT_FALSE(exists(s.path("out.res"))) << c.source;
  }
}

TEST(Velres, DumpAndExtractShowWhatIsStored) {
  Scratch s;
  const std::vector<uint8_t> pic = solid_bmp(6, 2, 0xFFFFFF);
  const std::vector<uint8_t> other = solid_bmp(3, 5, 0x445566);
  s.write("skin.txt", kSource);
  s.write("pic.bmp", pic);
  s.write("other.bmp", other);
  ASSERT_EQ(s.velres("build " + s.dir + " -o " + s.path("Velmar.res")).status, 0);

  Outcome dump = s.velres("dump " + s.path("Velmar.res"));
  ASSERT_EQ(dump.status, 0) << dump.err;
  for (const char* line :
       {"id=300 kind=1 reserved=-1 x=-5 y=6 width=40 height=20 slot=0 mask=-1 variant=-1\n",
        "id=301 kind=0 reserved=0 x=0 y=0 width=0 height=0 slot=-1 mask=0 text=\"来电 \\\"A\\\"\\n\" variant=1\n",
        "id=303 kind=0 reserved=0 x=0 y=0 width=0 height=0 slot=0 mask=-2 text=\"中\" variant=-1\n",
        ", 6 x 2, 24 bits, RGB, decodes, ids 300 303\n", ", 3 x 5, 24 bits, RGB, decodes, ids 302\n"})
    EXPECT_NE(dump.out.find(line), std::string::npos) << line << "\n" << dump.out;

  Outcome extract = s.velres("extract " + s.path("Velmar.res") + " " + s.path("images"));
  ASSERT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(slurp(s.path("images/slot-000.bmp")), std::string(pic.begin(), pic.end()));
  EXPECT_EQ(slurp(s.path("images/slot-001.bmp")), std::string(other.begin(), other.end()));

  s.write("plain.txt", std::string("VXDATA START, but no more"));
  for (const char* command : {"dump ", "extract "}) {
    Outcome refused = s.velres(command + s.path("plain.txt") + (command[0] == 'e' ? " " + s.path("x") : ""));
    EXPECT_EQ(refused.status, 1) << command;
    EXPECT_NE(refused.err.find("not a skin resource file"), std::string::npos) << refused.err;
  }
}

TEST(Velres, DecodeShowsTheDevicePictureOrTheDecodersError) {
  Scratch s;
  s.write("pic.bmp", bmp24(5, 3, [](int x, int y) { return static_cast<uint32_t>(x * 0x300000 + y * 0x70 + 0x0100); }));
  Outcome run = s.velres("decode " + s.path("pic.bmp") + " -o " + s.path("pic.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(read_png(s.path("pic.png"), &width, &height, &rgb));
  EXPECT_EQ(width, 5);
  EXPECT_EQ(height, 3);
  const size_t at = (2 * 5 + 4) * 3; /* x 4, y 2 */
  EXPECT_EQ(rgb[at], 0xC0);
  EXPECT_EQ(rgb[at + 1], 0x01);
  EXPECT_EQ(rgb[at + 2], 0xE0);

  s.write("rle.bmp", rle_on_24_bits());
  run = s.velres("decode " + s.path("rle.bmp") + " -o " + s.path("rle.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("unknown compression"), std::string::npos) << run.err;
  EXPECT_FALSE(exists(s.path("rle.png")));
}

TEST(Velres, HelpAndUsage) {
  Scratch s;
  for (const char* command : {"--help", "build --help", "dump --help", "extract --help", "decode --help"}) {
    Outcome run = s.velres(command);
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_NE(run.out.find("usage: velres"), std::string::npos) << command;
  }
  for (const char* wrong : {"", "frobnicate", "build", "dump", "extract only-one", "decode x.bmp", "build a b", "build a --bogus"}) {
    Outcome run = s.velres(wrong);
    EXPECT_EQ(run.status, 2) << wrong;
    EXPECT_NE(run.err.find("usage: velres"), std::string::npos) << wrong;
  }
}
