/* The registry store reader on any bytes: it takes no more than it is given,
 * and what it writes back reads again whole, to the same text. */
#include <stdint.h>

#include "plat/registry_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string first, second;
  if (plat::registry_store_parse((const char*)data, size, &first) > size) __builtin_trap();
  if (plat::registry_store_parse(first.data(), first.size(), &second) != first.size()) __builtin_trap();
  if (second != first) __builtin_trap();
  return 0;
}
