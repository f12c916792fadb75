/* Fuzz target: the writer's scanner on arbitrary file bytes. Each write must
 * succeed, read back as written, leave another key's value as it was, and
 * leave no temporary file. */
#include <windows.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "ini_reader.h"
#include "ini_writer.h"
#include "plat/host.h"

static std::string folder() {
  static std::string dir;
  if (dir.empty()) {
    char pattern[] = "/tmp/velmar-fuzz-writer-XXXXXX";
    if (!mkdtemp(pattern)) abort();
    plat::set_device_root(pattern);
    dir = pattern;
  }
  return dir;
}

static std::u16string read(const WCHAR* key, const WCHAR* path) {
  WCHAR buffer[600];
  ini_read_string(u"CONFIG", key, NULL, buffer, 600, path);
  return buffer;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = folder() + "/fuzz.ini";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), (std::streamsize)size);
  }
  const WCHAR* path = u"\\fuzz.ini";
  const std::u16string other_before = read(u"A", path);
  if (ini_write_string(u"CONFIG", u"ID", u"值-7", path) != 1) abort();
  if (read(u"ID", path) != u"值-7") abort();
  if (read(u"A", path) != other_before) abort();
  for (auto& entry : std::filesystem::directory_iterator(folder()))
    if (entry.path().filename().string().compare(0, 9, "fuzz.ini.") == 0) abort();
  return 0;
}
