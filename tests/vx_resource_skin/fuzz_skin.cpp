/* Fuzz target: the input, behind a valid skin header when its first byte's low
 * bit is set, loaded as the skin's resource file; then every item is found,
 * its bitmap taken and given back, and a button group of every id is bound
 * and released. */
#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "skin_fixture.h"
#include "vx_alloc.h"
#include "vx_button.h"
#include "vx_skin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DeviceRoot* root = new DeviceRoot;
  if (size < 2) return 0;
  ResWriter w;
  if (data[0] & 1) w.header({3, 3, 6, 3, 3, 3, 3, 3, 3, 8, 3}, data[1] % 16);
  w.raw(std::vector<uint8_t>(data + 2, data + size));
  if (!root->write("Velmar.res", w.bytes)) return 0;
  VxSkin* skin = vx_skin_load(root->path("Velmar.res").c_str(), data[0] >> 4, 1);
  if (!skin) return 0;
  ButtonGroup* group = vx_button_group_create(nullptr, VX_BUTTON_GROUP_PUSH);
  for (int i = 0; i < skin->item_count; ++i) {
    VxSkinItem* item = vx_skin_find(skin, skin->items[i].id);
    if (item->text) (void)WString(item->text).size();
    if (vx_skin_get_bitmap(skin, item, 0)) vx_skin_put_bitmap(skin, item);
    vx_button_add(group, skin->items[i].id, 0, 0, 0, 0, nullptr, 0);
  }
  vx_skin_bind_buttons(skin, group, 1);
  vx_skin_release_buttons(skin, group);
  vx_button_group_destroy(group);
  vx_skin_free(skin);
  return 0;
}
