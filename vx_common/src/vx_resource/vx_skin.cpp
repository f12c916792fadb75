#include "vx_skin.h"

#include <string.h>

#include "module_path.h"
#include "vx_alloc.h"
#include "vx_data.h"
#include "vx_ximage.h"
#include "vx_xstream.h"

VxSkin* shell_skin;

namespace {

/* Column types of the skin's record table, in column order. */
const int kColumnTypes[VX_SKIN_COLUMNS] = {3, 3, 6, 3, 3, 3, 3, 3, 3, 8, 3};
enum { kTextColumn = 9, kVariantColumn = 10 };

/* The platform decoder, bound at the first skin creation, process-wide. */
HMODULE decoder_module = nullptr;
VxDecompressImageFn decoder_entry = nullptr;

void bind_platform_decoder() {
  if (decoder_module) return;
  WCHAR path[MAX_PATH];
  if (module_file_path(path, MAX_PATH, nullptr, TEXT("imgdecmp.dll")) != 0) return;
  /* A file of that name in the program's folder keeps the built-in decoder. */
  if (FILE* file = _wfopen(path, TEXT("rb"))) {
    fclose(file);
    return;
  }
  decoder_module = LoadLibraryW(path);
  if (decoder_module) {
    /* Through void (*)(void), the type every function pointer converts to without a warning. */
    FARPROC entry = GetProcAddress(decoder_module, "DecompressImageIndirect");
    decoder_entry = reinterpret_cast<VxDecompressImageFn>(reinterpret_cast<void (*)(void)>(entry));
  }
}

void unbind_platform_decoder() {
  decoder_entry = nullptr;
  if (decoder_module) FreeLibrary(decoder_module);
  decoder_module = nullptr;
}

bool slot_valid(const VxSkin* skin, const VxSkinItem* item) {
  return item->image_slot >= 0 && item->image_slot < skin->slot_count;
}

/* Releases what a skin holds; the bitmaps are deleted, the store closed. */
void release_skin(VxSkin* skin) {
  if (skin->bitmaps) {
    for (int i = 0; i < skin->slot_count; ++i)
      if (skin->bitmaps[i]) DeleteObject(skin->bitmaps[i]);
    VX_FREE(skin->bitmaps);
  }
  VX_FREE(skin->ref_counts);
  if (skin->items) {
    for (int i = 0; i < skin->item_count; ++i) VX_FREE(skin->items[i].text);
    VX_FREE(skin->items);
  }
  if (skin->store) {
    vx_res_file_close(skin->store);
    VX_FREE(skin->store);
  }
  VX_FREE(skin);
  unbind_platform_decoder();
}

/* A zeroed skin with `count` fresh items (variant -1); binds the decoder. */
VxSkin* create_skin(LONG count) {
  VxSkin* skin = static_cast<VxSkin*>(VX_ALLOC(sizeof(VxSkin)));
  if (!skin) return nullptr;
  memset(skin, 0, sizeof *skin);
  bind_platform_decoder();
  if (count > 0) {
    skin->items = static_cast<VxSkinItem*>(VX_ALLOC(sizeof(VxSkinItem) * static_cast<size_t>(count)));
    if (!skin->items) {
      release_skin(skin);
      return nullptr;
    }
    memset(skin->items, 0, sizeof(VxSkinItem) * static_cast<size_t>(count));
    for (LONG i = 0; i < count; ++i) skin->items[i].variant = -1;
    /* The items are released by count: every one is zeroed already. */
    skin->item_count = count;
  }
  return skin;
}

/* Fills an item from a record; 0, or -1 when the text cannot be copied. */
int fill_item(VxSkinItem* item, const VxDataRecord* record) {
  int* fields[] = {&item->id, &item->kind, &item->reserved, &item->x, &item->y,
                   &item->width, &item->height, &item->image_slot, &item->mask_code};
  for (int c = 0; c < 9; ++c) *fields[c] = static_cast<int>(static_cast<LONG>(record->slots[c]));
  const LONG length = record->lengths[kTextColumn];
  if (length > 0 && record->slots[kTextColumn]) {
    /* The copy always ends in a zero unit, also when the stored text has none. */
    const size_t room = (static_cast<size_t>(length) + 1) / 2 * 2 + sizeof(WCHAR);
    item->text = static_cast<WCHAR*>(VX_ALLOC(room));
    if (!item->text) return -1;
    memset(item->text, 0, room);
    memcpy(item->text, reinterpret_cast<const void*>(record->slots[kTextColumn]), static_cast<size_t>(length));
  }
  item->text_length = static_cast<int>(length);
  item->variant = static_cast<int>(static_cast<LONG>(record->slots[kVariantColumn]));
  return 0;
}

DWORD CALLBACK stream_get_data(LPSTR buffer, DWORD buffer_max, LPARAM user) {
  VxStream* stream = reinterpret_cast<VxStream*>(user);
  if (!stream || !buffer) return 0;
  const LONG wanted = buffer_max > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<LONG>(buffer_max);
  int got = vx_xstream_read(stream, buffer, wanted);
  return got > 0 ? static_cast<DWORD>(got) : 0;
}

void CALLBACK ignore_progress(void*, BOOL, LPARAM) {}

HBITMAP decode_with_platform(const void* data, LONG size) {
  VxStream* stream = nullptr;
  if (vx_openrmemory(&stream, data, size) != 0) return nullptr;
  HDC screen = GetDC(nullptr);
  if (!screen) {
    vx_xstream_close(stream);
    return nullptr;
  }
  BYTE work[4096];
  memset(work, 0, sizeof work);
  HBITMAP bitmap = nullptr;
  VxDecompressImageInfo info;
  memset(&info, 0, sizeof info);
  info.size = 60;
  info.buffer = work;
  info.buffer_max = sizeof work;
  info.buffer_current = 0;
  info.bitmap_out = &bitmap;
  info.image_render_out = nullptr;
  info.bit_depth = GetDeviceCaps(screen, BITSPIXEL);
  info.user = reinterpret_cast<LPARAM>(stream);
  info.dc = screen;
  info.scale = 100;
  info.max_width = 10000;
  info.max_height = 10000;
  info.get_data = stream_get_data;
  info.progress = ignore_progress;
  info.transparent_override = 0xFFFFFFFF;
  /* The decoder's own result is not examined: the bitmap tells. */
  decoder_entry(&info);
  ReleaseDC(nullptr, screen);
  vx_xstream_close(stream);
  return bitmap;
}

HBITMAP decode_built_in(const void* data, LONG size) {
  VxImage* image = nullptr;
  if (!vx_ximage_new(&image, VX_XIMAGE_BMP) || !image) return nullptr;
  /* Only BMP has a decoder; the other kinds are tried as the format list has them. */
  static const int kFallbackKinds[] = {VX_XIMAGE_KIND3, VX_XIMAGE_KIND2, VX_XIMAGE_KIND4};
  int ok = vx_ximage_decode(image, data, size);
  for (size_t i = 0; !ok && i < sizeof kFallbackKinds / sizeof kFallbackKinds[0]; ++i) {
    image->kind = kFallbackKinds[i];
    ok = vx_ximage_decode(image, data, size);
  }
  HBITMAP bitmap = ok ? vx_ximage_make_bitmap(image) : nullptr;
  vx_ximage_release(image);
  return bitmap;
}

}  // namespace

VxSkin* vx_skin_load(const WCHAR* path, int variant_a, int variant_b) {
  if (!path) return nullptr;
  VxData table;
  vx_data_init(&table);
  if (vx_data_set_columns(&table, VX_SKIN_COLUMNS) != 0) return nullptr;
  for (int c = 0; c < VX_SKIN_COLUMNS; ++c) vx_data_set_type(&table, c, kColumnTypes[c]);

  FILE* file = _wfopen(path, TEXT("rb"));
  if (!file) {
    vx_data_free(&table);
    return nullptr;
  }
  if (vx_data_read(&table, file) != 0) {
    vx_data_free(&table);
    fclose(file);
    return nullptr;
  }

  VxSkin* skin = create_skin(table.record_count);
  if (!skin) {
    vx_data_free(&table);
    fclose(file);
    return nullptr;
  }
  skin->store = static_cast<VxResFile*>(VX_ALLOC(sizeof(VxResFile)));
  if (skin->store) vx_res_file_init(skin->store);
  if (!skin->store || vx_res_file_open(skin->store, file) != 0) {
    /* The store has not taken the file. */
    fclose(file);
    release_skin(skin);
    vx_data_free(&table);
    return nullptr;
  }

  int i = 0;
  for (VxDataRecord* record = vx_data_first(&table); record && i < skin->item_count;
       record = vx_data_next(&table, record), ++i) {
    if (fill_item(&skin->items[i], record) != 0) {
      release_skin(skin);
      vx_data_free(&table);
      return nullptr;
    }
  }
  skin->variant_a = variant_a;
  skin->variant_b = variant_b;

  const LONG slots = skin->store->count;
  if (slots > 0) {
    skin->bitmaps = static_cast<HBITMAP*>(VX_ALLOC(sizeof(HBITMAP) * static_cast<size_t>(slots)));
    skin->ref_counts = static_cast<int*>(VX_ALLOC(sizeof(int) * static_cast<size_t>(slots)));
    if (!skin->bitmaps || !skin->ref_counts) {
      release_skin(skin);
      vx_data_free(&table);
      return nullptr;
    }
    memset(skin->bitmaps, 0, sizeof(HBITMAP) * static_cast<size_t>(slots));
    memset(skin->ref_counts, 0, sizeof(int) * static_cast<size_t>(slots));
  }
  skin->slot_count = slots > 0 ? static_cast<int>(slots) : 0;
  vx_data_free(&table);
  return skin;
}

int vx_skin_free(VxSkin* skin) {
  if (!skin) return -1;
  release_skin(skin);
  return 0;
}

VxSkinItem* vx_skin_find(VxSkin* skin, int id) {
  if (!skin) return nullptr;
  const int preferred[2] = {skin->variant_a, skin->variant_b};
  for (int variant : preferred)
    for (int i = 0; i < skin->item_count; ++i) {
      VxSkinItem* item = &skin->items[i];
      if (item->id == id && (item->variant == variant || item->variant == -1)) return item;
    }
  for (int i = 0; i < skin->item_count; ++i)
    if (skin->items[i].id == id) return &skin->items[i];
  return nullptr;
}

HBITMAP vx_skin_get_bitmap(VxSkin* skin, VxSkinItem* item, int add) {
  (void)add; /* both kinds of caller take one reference */
  if (!skin || !item || !slot_valid(skin, item)) return nullptr;
  const int slot = item->image_slot;
  if (!skin->bitmaps[slot]) {
    LONG size = 0;
    BYTE* data = vx_res_file_read_item(skin->store, slot, &size);
    if (data) {
      skin->bitmaps[slot] = vx_skin_decode_image(data, size);
      VX_FREE(data);
    }
  }
  if (!skin->bitmaps[slot]) return nullptr;
  if (skin->ref_counts[slot] < 0) skin->ref_counts[slot] = 0;
  skin->ref_counts[slot]++;
  return skin->bitmaps[slot];
}

void vx_skin_put_bitmap(VxSkin* skin, VxSkinItem* item) {
  if (!skin || !item || !slot_valid(skin, item)) return;
  const int slot = item->image_slot;
  if (!skin->bitmaps[slot]) return;
  if (skin->ref_counts[slot] > 0) skin->ref_counts[slot]--;
  if (skin->ref_counts[slot] < 1) {
    skin->ref_counts[slot] = 0;
    DeleteObject(skin->bitmaps[slot]);
    skin->bitmaps[slot] = nullptr;
  }
}

int vx_skin_bind_buttons(VxSkin* skin, ButtonGroup* group, int hide_unusable) {
  if (!skin || !group) return -1;
  const int count = ptr_array_count(group->buttons);
  for (int i = 0; i < count; ++i) {
    Button* button = static_cast<Button*>(ptr_array_get(group->buttons, i));
    if (!button || button->id <= 0) continue;
    VxSkinItem* item = vx_skin_find(skin, button->id);
    const bool usable = item && slot_valid(skin, item);
    if (usable) {
      button->x = item->x;
      button->y = item->y;
      button->width = item->width;
      button->height = item->height;
      button->image = vx_skin_get_bitmap(skin, item, 1);
      if (item->mask_code == -1) button->style = VX_BUTTON_SHAPED;
      if (item->mask_code == -2) button->style = VX_BUTTON_SHAPED_RECT;
      if (button->style == VX_BUTTON_SHAPED || button->style == VX_BUTTON_SHAPED_RECT)
        vx_button_prepare_mask(button, nullptr);
    }
    if (hide_unusable && (!usable || button->width == 0 || button->height == 0 || !button->image))
      button->flags &= ~VX_BUTTON_USABLE;
    /* A shaped button without its mask would be ORed onto the page and never
     * hit: it is neither drawn nor hit. */
    if (button->style == VX_BUTTON_SHAPED && (!button->mask_dc || !button->mask_bitmap))
      button->flags &= ~VX_BUTTON_SHOWN;
  }
  group->pressed_index = -1;
  return 0;
}

int vx_skin_release_buttons(VxSkin* skin, ButtonGroup* group) {
  if (!skin || !group) return -1;
  const int count = ptr_array_count(group->buttons);
  for (int i = 0; i < count; ++i) {
    Button* button = static_cast<Button*>(ptr_array_get(group->buttons, i));
    /* The binding took no reference for ids of 0 and below. */
    if (!button || button->id <= 0) continue;
    if (VxSkinItem* item = vx_skin_find(skin, button->id)) vx_skin_put_bitmap(skin, item);
  }
  group->pressed_index = -1;
  return 0;
}

HBITMAP vx_skin_decode_image(const void* data, LONG size) {
  if (decoder_entry) return decode_with_platform(data, size);
  return decode_built_in(data, size);
}
