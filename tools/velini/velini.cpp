/* velini: reads and writes INI values of a host file with the system's own
 * ini_read_string, ini_lookup_value and ini_write_string.
 *
 * The file is mapped into the device it belongs to: the nearest folder above
 * it that holds the platform's ".kernel" folder is the device root (so velini
 * takes turns with the shell and the other programs of that device), else
 * the file's own folder is. Either way the values go through the platform
 * exactly as on the device. Arguments and output are UTF-8. */
#include <string.h>

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
    "value printed. FILE's name is found without regard to case, as device\n"
    "paths are; SECTION and KEY match exactly. Refused as bad usage, since\n"
    "the file could not hold them: a CR or LF in any argument, a KEY that\n"
    "begins with \"[\" or holds \"=\", a SECTION that holds \"]\".\n"
    "Exit status: 0 found or written, 1 not found or the write failed, 2 bad\n"
    "usage.\n";

int usage_error(const char* why) {
  std::cerr << "velini: " << why << "\n" << kUsage;
  return 2;
}

/* Makes the file's device root the platform's; returns the file's device path. */
bool map_file(const std::string& host_file, std::u16string* device_path) {
  namespace fs = std::filesystem;
  fs::path file(host_file);
  std::string name = file.filename().string();
  if (name.empty() || name == "." || name == ".." || name.find('\\') != std::string::npos)
    return false;
  std::error_code error;
  fs::path folder = fs::absolute(file.parent_path().empty() ? fs::path(".") : file.parent_path(), error);
  if (error || !fs::is_directory(folder, error)) return false;
  folder = folder.lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();
  fs::path root = folder;
  std::string inside;
  for (fs::path at = folder; at.has_relative_path(); at = at.parent_path()) {
    if (fs::is_directory(at / ".kernel", error)) {
      root = at;
      inside = folder.lexically_relative(at).string();
      break;
    }
  }
  if (inside == ".") inside.clear();
  std::string device = "\\";
  for (char c : inside) device += c == '/' ? '\\' : c;
  if (!inside.empty()) device += '\\';
  plat::set_device_root(root.string());
  *device_path = plat::utf8_to_utf16(device + name);
  return true;
}

/* Why a name or value cannot go into an INI file, or null when it can. */
const char* refusal(int argc, char** argv) {
  for (int i = 2; i < argc; i++) {
    if (strpbrk(argv[i], "\r\n")) return "an argument holds a CR or LF";
  }
  std::string section = argv[3], key = argv[4];
  if (section.find(']') != std::string::npos) return "SECTION must not hold \"]\"";
  if (!key.empty() && key[0] == '[') return "KEY must not begin with \"[\"";
  if (key.find('=') != std::string::npos) return "KEY must not hold \"=\"";
  return nullptr;
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

  if (const char* why = refusal(argc, argv)) return usage_error(why);
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
