/* Paths beside the running program. */
#include "module_path.h"

#include <string.h>

int module_file_path(WCHAR* buffer, int capacity, HMODULE module, const WCHAR* file_name) {
  if (!buffer || capacity <= 0) return -1;
  buffer[0] = 0;
  if (!file_name) return -1;
  DWORD length = GetModuleFileNameW(module, buffer, (DWORD)capacity);
  if (length == 0 || length >= (DWORD)capacity) {
    buffer[0] = 0;
    return -1;
  }
  buffer[length] = 0;
  WCHAR* slash = wcsrchr(buffer, '\\');
  size_t cut = slash ? (size_t)(slash - buffer) + 1 : length;
  size_t name_length = wcslen(file_name);
  if (cut + name_length >= (size_t)capacity) {
    buffer[0] = 0;
    return -1;
  }
  memcpy(buffer + cut, file_name, (name_length + 1) * sizeof(WCHAR));
  return 0;
}
