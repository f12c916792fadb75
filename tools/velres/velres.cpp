/* velres: the skin's resource file on the host.
 *
 *   velres build SKIN_DIR [-o Velmar.res] [--images DIR]
 *   velres dump Velmar.res
 *   velres extract Velmar.res DIR
 *   velres decode FILE.bmp -o FILE.png
 *
 * build compiles SKIN_DIR/skin.txt (see skin_source.h) and the images it
 * names into the resource file; every image is checked with the system's own
 * BMP decoder. dump lists the records and the stored items, extract writes
 * the stored images out, decode shows one BMP as the device would: the
 * system's decoder, its device bitmap, copied into a 32-bit screen-like DIB,
 * written as PNG. */
#include <errno.h>
#include <png.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "skin_source.h"
#include "vx_alloc.h"
#include "vx_data.h"
#include "vx_res_file.h"
#include "vx_ximage.h"

namespace {

const int32_t kSkinTypes[] = {3, 3, 6, 3, 3, 3, 3, 3, 3, 8, 3};
const int kColumns = 11;

const char kUsage[] =
    "usage: velres build SKIN_DIR [-o Velmar.res] [--images DIR]\n"
    "       velres dump Velmar.res\n"
    "       velres extract Velmar.res DIR\n"
    "       velres decode FILE.bmp -o FILE.png\n"
    "Run 'velres COMMAND --help' for one command.\n";

const char kBuildHelp[] =
    "usage: velres build SKIN_DIR [-o Velmar.res] [--images DIR]\n"
    "Compiles SKIN_DIR/skin.txt and the images it names into a resource file\n"
    "(default Velmar.res). Images are looked for in DIR (default SKIN_DIR) and\n"
    "each must be a BMP file that the system's decoder takes. The source has one\n"
    "item a line, fields as key=value, '#' comments:\n"
    "  id=200 x=0 y=0 width=800 height=480 image=desktop.bmp\n"
    "  id=201 x=24 y=436 width=500 height=40 text=\"Phone connected\" variant=0\n"
    "Fields: id kind reserved x y width height image mask text variant.\n"
    "Errors name the file and line; the exit status is then 1.\n";

const char kDumpHelp[] =
    "usage: velres dump Velmar.res\n"
    "Lists the records of the skin table (in the source's field syntax, with the\n"
    "image slot) and the stored items (offset, size, picture format).\n";

const char kExtractHelp[] =
    "usage: velres extract Velmar.res DIR\n"
    "Writes every stored item to DIR as slot-NNN.bmp (slot-NNN.bin when it is no\n"
    "BMP file); DIR is made when missing.\n";

const char kDecodeHelp[] =
    "usage: velres decode FILE.bmp -o FILE.png\n"
    "Decodes the BMP file with the system's decoder, makes its device bitmap, copies\n"
    "that into a 32-bit picture as the screen would show it, and writes a PNG. When\n"
    "the decoder refuses the file its error text is printed and the exit status is 1.\n";

bool wants_help(int argc, char** argv) {
  for (int i = 0; i < argc; ++i)
    if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) return true;
  return false;
}

int usage_error(const std::string& message, const char* usage) {
  fprintf(stderr, "velres: %s\n%s", message.c_str(), usage);
  return 2;
}

bool read_file(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) {
    *error = strerror(errno);
    return false;
  }
  out->clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out->insert(out->end(), buffer, buffer + n);
  bool ok = !ferror(f);
  if (!ok) *error = strerror(errno);
  fclose(f);
  return ok;
}

bool write_file_atomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
  const std::string temporary = path + ".tmp";
  FILE* f = fopen(temporary.c_str(), "wb");
  if (!f) {
    *error = strerror(errno);
    return false;
  }
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = fflush(f) == 0 && ok;
  ok = fclose(f) == 0 && ok;
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    *error = strerror(errno);
    remove(temporary.c_str());
  }
  return ok;
}

/* ---- Pictures through the system's decoder ---- */

/* An image decoded by the system's BMP decoder, or null with its error text. */
VxImage* decode(const std::vector<uint8_t>& data, std::string* error) {
  VxImage* image = nullptr;
  if (!vx_ximage_new(&image, VX_XIMAGE_BMP) || !image) {
    *error = "out of memory";
    return nullptr;
  }
  if (!vx_ximage_decode(image, data.data(), static_cast<LONG>(data.size()))) {
    *error = image->error[0] ? image->error : "not a BMP file";
    vx_ximage_release(image);
    return nullptr;
  }
  return image;
}

/* "800 x 480, 24 bits, RGB" from the file's own header. */
std::string describe_bmp(const std::vector<uint8_t>& data) {
  if (data.size() < 30 || data[0] != 'B' || data[1] != 'M') return "no BMP file";
  auto le32 = [&](size_t at) -> uint32_t {
    return at + 4 <= data.size() ? data[at] | data[at + 1] << 8 | data[at + 2] << 16 | uint32_t(data[at + 3]) << 24 : 0;
  };
  const uint32_t header = le32(14);
  int32_t width, height;
  uint32_t bits, compression = 0;
  if (header == 12) {
    width = data[18] | data[19] << 8;
    height = data[20] | data[21] << 8;
    bits = data[24] | data[25] << 8;
  } else {
    width = static_cast<int32_t>(le32(18));
    height = static_cast<int32_t>(le32(22));
    bits = data[28] | data[29] << 8;
    compression = le32(30);
  }
  static const char* names[] = {"RGB", "RLE8", "RLE4", "bit fields"};
  std::string kind = compression < 4 ? names[compression] : "compression " + std::to_string(compression);
  return std::to_string(width) + " x " + std::to_string(height < 0 ? -height : height) + ", " + std::to_string(bits) +
         " bits, " + kind + (height < 0 ? ", top-down" : "");
}

/* What the screen shows of the image: its device bitmap copied into a 32-bit
 * DIB with BitBlt. Rows top-down, 8-bit red, green, blue. */
bool render_as_device(VxImage* image, int* width, int* height, std::vector<uint8_t>* rgb, std::string* error) {
  HBITMAP bitmap = vx_ximage_make_bitmap(image);
  if (!bitmap) {
    *error = "the platform made no device bitmap of it";
    return false;
  }
  BITMAP info;
  memset(&info, 0, sizeof info);
  GetObjectW(bitmap, sizeof info, &info);
  *width = info.bmWidth;
  *height = info.bmHeight;
  BITMAPINFO screen;
  memset(&screen, 0, sizeof screen);
  screen.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  screen.bmiHeader.biWidth = info.bmWidth;
  screen.bmiHeader.biHeight = -info.bmHeight;
  screen.bmiHeader.biPlanes = 1;
  screen.bmiHeader.biBitCount = 32;
  screen.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC source = CreateCompatibleDC(nullptr);
  HDC target = CreateCompatibleDC(nullptr);
  HBITMAP picture = CreateDIBSection(target, &screen, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = source && target && picture && bits;
  if (ok) {
    HGDIOBJ old_source = SelectObject(source, bitmap);
    HGDIOBJ old_target = SelectObject(target, picture);
    ok = BitBlt(target, 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY) != 0;
    GdiFlush();
    SelectObject(source, old_source);
    SelectObject(target, old_target);
  }
  if (ok) {
    rgb->resize(static_cast<size_t>(*width) * *height * 3);
    const uint8_t* p = static_cast<const uint8_t*>(bits);
    for (size_t i = 0; i < static_cast<size_t>(*width) * *height; ++i) {
      (*rgb)[3 * i] = p[4 * i + 2];
      (*rgb)[3 * i + 1] = p[4 * i + 1];
      (*rgb)[3 * i + 2] = p[4 * i];
    }
  } else {
    *error = "the platform could not copy the bitmap";
  }
  if (picture) DeleteObject(picture);
  if (source) DeleteDC(source);
  if (target) DeleteDC(target);
  DeleteObject(bitmap);
  return ok;
}

/* libpng reports errors by longjmp; nothing here lives across it but the structs. */
bool png_encode(FILE* f, int width, int height, const uint8_t* rgb) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) png_write_row(png, const_cast<png_bytep>(rgb + static_cast<size_t>(y) * width * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool write_png(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb, std::string* error) {
  const std::string temporary = path + ".tmp";
  FILE* f = fopen(temporary.c_str(), "wb");
  if (!f) {
    *error = strerror(errno);
    return false;
  }
  bool ok = png_encode(f, width, height, rgb.data());
  ok = fclose(f) == 0 && ok;
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    *error = "cannot write the PNG file";
    remove(temporary.c_str());
  }
  return ok;
}

/* ---- Writing the resource file ---- */

struct Writer {
  std::vector<uint8_t> bytes;
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void wide(const char* ascii) {
    for (; *ascii; ++ascii) {
      bytes.push_back(static_cast<uint8_t>(*ascii));
      bytes.push_back(0);
    }
  }
  void pad4() {
    while (bytes.size() % 4) bytes.push_back(0);
  }
  void blob(const std::vector<uint8_t>& data) {
    u32(static_cast<uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
    if (!data.empty()) pad4();
  }
  void patch32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
};

std::vector<uint8_t> text_blob(const std::string& utf8) {
  std::vector<uint8_t> out;
  if (utf8.empty()) return out;
  std::u16string units;
  velres::utf8_to_utf16(utf8, &units);
  for (char16_t c : units) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

std::vector<uint8_t> resource_file(const std::vector<velres::SourceItem>& items, const std::map<std::string, int>& slots,
                                   const std::vector<std::vector<uint8_t>>& images) {
  Writer w;
  w.wide("VXDATA START");
  w.u32(kColumns);
  for (int32_t t : kSkinTypes) w.u32(static_cast<uint32_t>(t));
  w.u32(static_cast<uint32_t>(items.size()));
  w.wide(" END");
  for (const auto& item : items) {
    const int32_t slot = item.image.empty() ? -1 : slots.at(item.image);
    for (int32_t v : {item.id, item.kind, item.reserved, item.x, item.y, item.width, item.height, slot, item.mask})
      w.u32(static_cast<uint32_t>(v));
    w.blob(text_blob(item.text));
    w.u32(static_cast<uint32_t>(item.variant));
  }
  w.u32(static_cast<uint32_t>(images.size()));
  for (const auto& image : images) w.u32(static_cast<uint32_t>(image.size()));
  const size_t offsets = w.bytes.size();
  for (size_t i = 0; i < images.size(); ++i) w.u32(0);
  for (size_t i = 0; i < images.size(); ++i) {
    w.patch32(offsets + 4 * i, static_cast<uint32_t>(w.bytes.size()));
    w.u32(static_cast<uint32_t>(i));
    w.bytes.insert(w.bytes.end(), images[i].begin(), images[i].end());
    w.pad4();
  }
  return w.bytes;
}

/* ---- Reading the resource file with the system's reader ---- */

struct Loaded {
  VxData table;
  VxResFile store;
  FILE* file = nullptr;
  bool table_read = false;
  bool store_open = false;
  Loaded() {
    vx_data_init(&table);
    vx_res_file_init(&store);
  }
  ~Loaded() {
    vx_data_free(&table);
    if (store_open)
      vx_res_file_close(&store);
    else if (file)
      fclose(file);
  }
  Loaded(const Loaded&) = delete;
  Loaded& operator=(const Loaded&) = delete;
};

std::string table_error(int code) {
  switch (code) {
    case -2: return "no \"VXDATA START\" marker";
    case -3: return "the column count is not 11";
    case -4: return "the record count is missing";
    case -5: return "no \" END\" marker after the header";
    default:
      if (code <= -10 && code > -10 - kColumns)
        return "column " + std::to_string(-code - 10) + " has another type than the skin's schema";
      if (code == -1) return "no record could be read";
      return "only " + std::to_string(code) + " records could be read";
  }
}

bool load(const std::string& path, Loaded* out, std::string* error) {
  vx_data_set_columns(&out->table, kColumns);
  for (int c = 0; c < kColumns; ++c) vx_data_set_type(&out->table, c, kSkinTypes[c]);
  out->file = fopen(path.c_str(), "rb");
  if (!out->file) {
    *error = path + ": " + strerror(errno);
    return false;
  }
  /* The table reader prints its warning on standard output; keep the listing clean. */
  fflush(stdout);
  int code = vx_data_read(&out->table, out->file);
  if (code != 0) {
    *error = path + ": not a skin resource file: " + table_error(code);
    return false;
  }
  out->table_read = true;
  code = vx_res_file_open(&out->store, out->file);
  if (code != 0) {
    *error = path + ": the item store after the table cannot be read (code " + std::to_string(code) + ")";
    return false;
  }
  out->store_open = true;
  return true;
}

std::string quoted(const WCHAR* text) {
  std::string out = "\"";
  for (const WCHAR* p = text; *p; ++p) {
    uint32_t c = *p;
    if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
      out += hex;
    } else {
      velres::put_utf8(out, c);
    }
  }
  return out + "\"";
}

/* ---- Commands ---- */

int build(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    fputs(kBuildHelp, stdout);
    return 0;
  }
  std::string skin_dir, output = "Velmar.res", images_dir;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "-o" || a == "--images") && i + 1 < argc) {
      (a == "-o" ? output : images_dir) = argv[++i];
    } else if (a == "-o" || a == "--images") {
      return usage_error(a + " needs a value", kBuildHelp);
    } else if (!a.empty() && a[0] == '-') {
      return usage_error("unknown option " + a, kBuildHelp);
    } else if (skin_dir.empty()) {
      skin_dir = a;
    } else {
      return usage_error("one SKIN_DIR only", kBuildHelp);
    }
  }
  if (skin_dir.empty()) return usage_error("build needs SKIN_DIR", kBuildHelp);
  if (images_dir.empty()) images_dir = skin_dir;
  const std::string source = skin_dir + "/skin.txt";
  std::ifstream in(source, std::ios::binary);
  if (!in) {
    fprintf(stderr, "velres: %s: cannot be read: %s\n", source.c_str(), strerror(errno));
    return 1;
  }
  std::vector<velres::SourceItem> items;
  std::vector<velres::SourceError> errors;
  velres::parse_skin_source(in, &items, &errors);

  /* The platform's text drawing takes '&' as the mark of the next character. */
  for (const auto& item : items) {
    const std::string& t = item.text;
    for (size_t i = 0; i < t.size(); ++i) {
      if (t[i] != '&') continue;
      if (i + 1 < t.size() && t[i + 1] == '&') {
        ++i;
        continue;
      }
      fprintf(stderr, "%s:%d: warning: '&' in a text underlines the character after it when drawn; write && for an &\n",
              source.c_str(), item.line);
      break;
    }
  }

  /* Images get slots in order of their first mention. */
  std::map<std::string, int> slots;
  std::vector<std::vector<uint8_t>> images;
  for (const auto& item : items) {
    if (item.image.empty() || slots.count(item.image)) continue;
    std::vector<uint8_t> data;
    std::string why;
    const std::string path = images_dir + "/" + item.image;
    if (!read_file(path, &data, &why)) {
      errors.push_back({item.line, "image " + item.image + " cannot be read (" + path + ": " + why + ")"});
      slots[item.image] = -1;
      continue;
    }
    VxImage* image = decode(data, &why);
    if (!image) {
      errors.push_back({item.line, "image " + item.image + " is refused by the BMP decoder: " + why});
      slots[item.image] = -1;
      continue;
    }
    HBITMAP bitmap = vx_ximage_make_bitmap(image);
    vx_ximage_release(image);
    if (!bitmap) {
      errors.push_back({item.line, "image " + item.image + " decodes, but the platform makes no device bitmap of it"});
      slots[item.image] = -1;
      continue;
    }
    DeleteObject(bitmap);
    slots[item.image] = static_cast<int>(images.size());
    images.push_back(std::move(data));
  }
  if (!errors.empty()) {
    std::stable_sort(errors.begin(), errors.end(),
                     [](const velres::SourceError& a, const velres::SourceError& b) { return a.line < b.line; });
    for (const auto& e : errors) fprintf(stderr, "%s:%d: %s\n", source.c_str(), e.line, e.message.c_str());
    fprintf(stderr, "velres: %zu error%s, nothing written\n", errors.size(), errors.size() == 1 ? "" : "s");
    return 1;
  }
  std::string why;
  if (!write_file_atomically(output, resource_file(items, slots, images), &why)) {
    fprintf(stderr, "velres: %s: cannot be written: %s\n", output.c_str(), why.c_str());
    return 1;
  }
  /* Read back with the system's own reader. */
  Loaded check;
  if (!load(output, &check, &why) || check.table.record_count != static_cast<LONG>(items.size()) ||
      check.store.count != static_cast<LONG>(images.size())) {
    fprintf(stderr, "velres: %s: the written file does not read back: %s\n", output.c_str(), why.c_str());
    return 1;
  }
  printf("%s: %zu items, %zu images\n", output.c_str(), items.size(), images.size());
  return 0;
}

int dump(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    fputs(kDumpHelp, stdout);
    return 0;
  }
  if (argc != 1) return usage_error("dump needs one resource file", kDumpHelp);
  Loaded loaded;
  std::string error;
  if (!load(argv[0], &loaded, &error)) {
    fprintf(stderr, "velres: %s\n", error.c_str());
    return 1;
  }
  printf("# %s: %d records, %d items\n", argv[0], static_cast<int>(loaded.table.record_count),
         static_cast<int>(loaded.store.count));
  std::map<int, std::vector<int>> users;  /* slot -> ids */
  for (VxDataRecord* r = vx_data_first(&loaded.table); r; r = vx_data_next(&loaded.table, r)) {
    LONG v[11];
    for (int c = 0; c < kColumns; ++c) v[c] = static_cast<LONG>(r->slots[c]);
    printf("id=%d kind=%d reserved=%d x=%d y=%d width=%d height=%d slot=%d mask=%d", (int)v[0], (int)v[1], (int)v[2],
           (int)v[3], (int)v[4], (int)v[5], (int)v[6], (int)v[7], (int)v[8]);
    if (r->lengths[9] > 0) {
      /* The blob as a zero-terminated text, cut at its end if it has no terminator. */
      std::u16string text;
      const uint8_t* p = reinterpret_cast<const uint8_t*>(r->slots[9]);
      for (LONG i = 0; i + 1 < r->lengths[9]; i += 2) {
        char16_t c = static_cast<char16_t>(p[i] | p[i + 1] << 8);
        if (!c) break;
        text += c;
      }
      printf(" text=%s", quoted(reinterpret_cast<const WCHAR*>(text.c_str())).c_str());
    }
    printf(" variant=%d\n", (int)v[10]);
    users[static_cast<int>(v[7])].push_back(static_cast<int>(v[0]));
  }
  for (LONG i = 0; i < loaded.store.count; ++i) {
    LONG size = 0;
    BYTE* data = vx_res_file_read_item(&loaded.store, static_cast<int>(i), &size);
    printf("# slot %d: offset %d, size %d", static_cast<int>(i), static_cast<int>(loaded.store.offsets[i]),
           static_cast<int>(loaded.store.sizes[i]));
    if (!data) {
      printf(", unreadable\n");
      continue;
    }
    std::vector<uint8_t> bytes(data, data + size);
    VX_FREE(data);
    std::string why;
    VxImage* image = decode(bytes, &why);
    printf(", %s, %s", describe_bmp(bytes).c_str(), image ? "decodes" : ("refused: " + why).c_str());
    if (image) vx_ximage_release(image);
    auto it = users.find(static_cast<int>(i));
    if (it != users.end()) {
      printf(", ids");
      for (int id : it->second) printf(" %d", id);
    }
    printf("\n");
  }
  return 0;
}

int extract(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    fputs(kExtractHelp, stdout);
    return 0;
  }
  if (argc != 2) return usage_error("extract needs a resource file and a folder", kExtractHelp);
  Loaded loaded;
  std::string error;
  if (!load(argv[0], &loaded, &error)) {
    fprintf(stderr, "velres: %s\n", error.c_str());
    return 1;
  }
  const std::string dir = argv[1];
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    fprintf(stderr, "velres: %s: cannot be made: %s\n", dir.c_str(), strerror(errno));
    return 1;
  }
  int failures = 0;
  for (LONG i = 0; i < loaded.store.count; ++i) {
    LONG size = 0;
    BYTE* data = vx_res_file_read_item(&loaded.store, static_cast<int>(i), &size);
    if (!data) {
      fprintf(stderr, "velres: slot %d cannot be read\n", static_cast<int>(i));
      failures++;
      continue;
    }
    std::vector<uint8_t> bytes(data, data + size);
    VX_FREE(data);
    char name[32];
    const bool bmp = size >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
    snprintf(name, sizeof name, "slot-%03d.%s", static_cast<int>(i), bmp ? "bmp" : "bin");
    const std::string path = dir + "/" + name;
    if (!write_file_atomically(path, bytes, &error)) {
      fprintf(stderr, "velres: %s: cannot be written: %s\n", path.c_str(), error.c_str());
      failures++;
      continue;
    }
    printf("%s\n", path.c_str());
  }
  return failures ? 1 : 0;
}

int decode_command(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    fputs(kDecodeHelp, stdout);
    return 0;
  }
  std::string input, output;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-o" && i + 1 < argc) {
      output = argv[++i];
    } else if (a == "-o") {
      return usage_error("-o needs a file name", kDecodeHelp);
    } else if (!a.empty() && a[0] == '-') {
      return usage_error("unknown option " + a, kDecodeHelp);
    } else if (input.empty()) {
      input = a;
    } else {
      return usage_error("one BMP file only", kDecodeHelp);
    }
  }
  if (input.empty() || output.empty()) return usage_error("decode needs FILE.bmp and -o FILE.png", kDecodeHelp);
  std::vector<uint8_t> data;
  std::string error;
  if (!read_file(input, &data, &error)) {
    fprintf(stderr, "velres: %s: %s\n", input.c_str(), error.c_str());
    return 1;
  }
  VxImage* image = decode(data, &error);
  if (!image) {
    fprintf(stderr, "%s: %s\n", input.c_str(), error.c_str());
    return 1;
  }
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  bool ok = render_as_device(image, &width, &height, &rgb, &error);
  vx_ximage_release(image);
  if (!ok || !write_png(output, width, height, rgb, &error)) {
    fprintf(stderr, "velres: %s: %s\n", ok ? output.c_str() : input.c_str(), error.c_str());
    return 1;
  }
  printf("%s: %d x %d\n", output.c_str(), width, height);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    fputs(kUsage, stdout);
    return 0;
  }
  if (command == "build") return build(argc - 2, argv + 2);
  if (command == "dump") return dump(argc - 2, argv + 2);
  if (command == "extract") return extract(argc - 2, argv + 2);
  if (command == "decode") return decode_command(argc - 2, argv + 2);
  return usage_error("unknown command '" + command + "'", kUsage);
}
