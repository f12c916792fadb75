/* velini: reads and writes INI values of a host file with the system's own
 * ini_read_string, ini_lookup_value and ini_write_string.
 *
 * The file's folder becomes the device root and the file is passed as
 * "\" + its name, so the values go through the platform exactly as on the
 * device. Arguments and output are UTF-8. */
#include <filesystem>
#include <iostream>
#include <string>

#include "ini_reader.h"
#include "ini_writer.h"
#include "plat/host.h"

namespace {

const char kUsage[] =
    "usage: velini get FILE SECTION KEY\n"
    "       velini lookup FILE SECTION KEY\n"
    "       velini set FILE SECTION KEY VALUE\n"
    "\n"
    "  get     the value as ini_read_string finds it (trimmed; first header wins)\n"
    "  lookup  the value as ini_lookup_value finds it (no trimming; text mode)\n"
    "  set     sets the value with ini_write_string (the file keeps its encoding)\n"
    "\n"
    "FILE is a host path; FILE, SECTION, KEY and VALUE are UTF-8, and so is the\n"
    "value printed. Exit status: 0 found or written, 1 not found or the write\n"
    "failed, 2 bad usage.\n";

int usage_error(const char* why) {
  std::cerr << "velini: " << why << "\n" << kUsage;
  return 2;
}

/* Makes the file's folder the device root; returns the file's device path. */
bool map_file(const std::string& host_file, std::u16string* device_path) {
  namespace fs = std::filesystem;
  fs::path file(host_file);
  std::string name = file.filename().string();
  if (name.empty() || name == "." || name == ".." || name.find('\\') != std::string::npos)
    return false;
  std::error_code error;
  fs::path folder = fs::absolute(file.parent_path().empty() ? fs::path(".") : file.parent_path(), error);
  if (error || !fs::is_directory(folder, error)) return false;
  plat::set_device_root(folder.string());
  *device_path = u"\\" + plat::utf8_to_utf16(name);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (argc < 2) return usage_error("no command given");
  std::string command = argv[1];
  int wanted = command == "set" ? 6 : (command == "get" || command == "lookup") ? 5 : 0;
  if (wanted == 0) return usage_error(("unknown command '" + command + "'").c_str());
  if (argc != wanted) return usage_error(("wrong number of arguments for '" + command + "'").c_str());

  std::u16string path;
  if (!map_file(argv[2], &path)) return usage_error("FILE must name a file in an existing folder");
  std::u16string section = plat::utf8_to_utf16(argv[3]);
  std::u16string key = plat::utf8_to_utf16(argv[4]);

  if (command == "get") {
    WCHAR value[1024];
    int length = ini_read_string(section.c_str(), key.c_str(), NULL, value, 1024, path.c_str());
    if (length <= 0) return 1;
    std::cout << plat::utf16_to_utf8(value) << "\n";
    return 0;
  }
  if (command == "lookup") {
    WCHAR value[260];
    int code = ini_lookup_value(path.c_str(), section.c_str(), key.c_str(), value, 260,
                                INI_VALUE_STRING);
    if (code != INI_LOOKUP_OK) {
      std::cerr << "velini: not found (ini_lookup_value " << code << ")\n";
      return 1;
    }
    std::cout << plat::utf16_to_utf8(value) << "\n";
    return 0;
  }
  std::u16string value = plat::utf8_to_utf16(argv[5]);
  if (!ini_write_string(section.c_str(), key.c_str(), value.c_str(), path.c_str())) {
    std::cerr << "velini: the write failed\n";
    return 1;
  }
  return 0;
}
