/* Fuzz target: the REGEDIT4 import. The first byte chooses: odd, the line
 * functions on the rest as one line of exactly that size (no terminator, so
 * a read past it is caught); even, import_reg_file on the rest as a file,
 * with the header put in front when the byte's bit 1 is set. The registry
 * store is dropped after every input. */
#include <stddef.h>
#include <stdint.h>

#include "installer_fixture.h"
#include "reg_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fixture::DeviceRoot* root = new fixture::DeviceRoot;
  if (size == 0) return 0;
  const char* rest = (const char*)data + 1;
  int length = (int)(size - 1);
  if (data[0] & 1) {
    HKEY key = reg_open_key_line(rest, length);
    reg_root_from_name(rest, length);
    reg_delete_key_line(rest, length);
    HKEY target = key;
    if (!target)
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, TEXT("Software\\Fuzz"), 0, NULL, 0, KEY_WRITE, NULL,
                      &target, NULL);
    if (target) {
      reg_set_value_line(target, rest, length);
      RegCloseKey(target);
    }
  } else {
    std::string file = (data[0] & 2) ? "REGEDIT4\r\n" : "";
    file.append(rest, (size_t)length);
    root->write("f.reg", file);
    import_reg_file(root->device("f.reg").c_str());
  }
  std::error_code ignored;
  std::filesystem::remove(root->host("registry.reg"), ignored);
  fixture::boxes().clear();
  return 0;
}
