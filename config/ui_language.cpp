/* The UI language index from the registry. */
#include "ui_language.h"

#include <string.h>

namespace {
const DWORD kLanguageCount = 22;
}

int get_mui_language(void) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("MUI"), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return -1;
  BYTE data[512];
  memset(data, 0, sizeof data);
  DWORD type = 0;
  DWORD size = sizeof data;
  LONG status = RegQueryValueExW(key, TEXT("language"), NULL, &type, data, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size < sizeof(DWORD)) return -1;
  DWORD value;
  memcpy(&value, data, sizeof value);
  return value < kLanguageCount ? (int)value : -1;
}
