/* Fuzz target: install_package on arbitrary package bytes, into a fresh
 * target folder of one device root; the registry store is dropped after
 * every input. */
#include <stddef.h>
#include <stdint.h>

#include "installer_fixture.h"
#include "package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fixture::DeviceRoot* root = new fixture::DeviceRoot;
  root->write("pkg.bin", std::string((const char*)data, size));
  install_package(root->device("t").c_str(), root->device("pkg.bin").c_str());
  std::error_code ignored;
  std::filesystem::remove_all(root->host("t"), ignored);
  std::filesystem::remove(root->host("registry.reg"), ignored);
  fixture::boxes().clear();
  return 0;
}
