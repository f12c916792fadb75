/* Fuzz target: the INI readers on arbitrary file bytes stay inside their
 * buffers, terminate them, and end. */
#include <windows.h>

#include <stdlib.h>

#include <fstream>
#include <string>

#include "ini_reader.h"
#include "plat/host.h"

static std::string host_file() {
  static std::string file;
  if (file.empty()) {
    char pattern[] = "/tmp/velmar-fuzz-reader-XXXXXX";
    if (!mkdtemp(pattern)) abort();
    plat::set_device_root(pattern);
    file = std::string(pattern) + "/fuzz.ini";
  }
  return file;
}

static void check_string(int n, const WCHAR* buffer, int size) {
  int length = 0;
  while (length < size && buffer[length]) length++;
  if (length >= size || n < 0 || n > size - 1) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::ofstream out(host_file(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), (std::streamsize)size);
  }
  const WCHAR* path = u"\\fuzz.ini";
  WCHAR big[600], small[4], line[260];
  const WCHAR* keys[] = {u"ID", u"A", u"名称", u""};
  for (const WCHAR* key : keys) {
    check_string(ini_read_string(u"CONFIG", key, NULL, big, 600, path), big, 600);
    check_string(ini_read_string(u"CONFIG", key, u"default", small, 4, path), small, 4);
    (void)ini_read_int(u"CONFIG", key, 7, path);
    int code = ini_lookup_value(path, u"CONFIG", key, line, 260, INI_VALUE_STRING);
    if (code == 0) check_string(0, line, 260);
    int number;
    double real;
    (void)ini_lookup_value(path, u"CONFIG", key, &number, 1, INI_VALUE_INT);
    (void)ini_lookup_value(path, u"CONFIG", key, &real, 1, INI_VALUE_DOUBLE);
  }
  return 0;
}
