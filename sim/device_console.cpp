/* Console commands in which another program of the device, the user or the
 * factory acts on the shell: SD card changes, camera requests, WM_COPYDATA,
 * hang-up requests, window order, registry values, and the check of a file. */
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "device_commands.h"
#include "phone.h"

namespace sim {

namespace {

const UINT WM_CAMERA_SHOW = 7028, WM_CAMERA_HIDE = 7029, WM_HANGUP_HOME = 30583;
const WPARAM DBT_DEVICEARRIVAL = 0x8000, DBT_DEVICEREMOVECOMPLETE = 0x8004;
/* expect-file waits this long (device time) for the file to be written. */
const uint64_t expect_file_ms = 2000;

std::vector<std::string> words_of(const std::string& s) {
  std::vector<std::string> words;
  std::istringstream in(s);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

/* The text after the first `count` words (leading spaces dropped). */
std::string after_words(const std::string& s, int count) {
  size_t at = 0;
  for (int i = 0; i < count; i++) {
    at = s.find_first_not_of(" \t", at);
    if (at == std::string::npos) return std::string();
    at = s.find_first_of(" \t", at);
    if (at == std::string::npos) return std::string();
  }
  at = s.find_first_not_of(" \t", at);
  return at == std::string::npos ? std::string() : s.substr(at);
}

bool to_shell(UINT message, WPARAM wparam, LPARAM lparam, std::string* error) {
  HWND shell = shell_window();
  if (!shell) {
    *error = "the shell's window does not exist";
    return false;
  }
  SendMessageW(shell, message, wparam, lparam);
  return true;
}

/* sd write NAME TEXT: the card holds the file \sdmmc\NAME with TEXT in the
 * ANSI code page, without a line end (as a PC would leave it there). */
bool write_sd_file(const std::string& args, std::string* error) {
  std::vector<std::string> words = words_of(args);
  if (words.size() < 2) return false;
  std::string name = words[1];
  if (name.find("..") != std::string::npos) {
    *error = "sd write: bad file name " + name;
    return false;
  }
  std::u16string path = u"\\sdmmc\\" + plat::utf8_to_utf16(name);
  if (!write_device_file(path.c_str(), ansi_of(after_words(args, 2)))) {
    *error = "sd write: cannot write " + name;
    return false;
  }
  return true;
}

bool run_sd(const std::string& args, std::string* error) {
  if (args.compare(0, 6, "write ") == 0) return write_sd_file(args, error);
  WPARAM change;
  if (args == "insert")
    change = DBT_DEVICEARRIVAL;
  else if (args == "remove")
    change = DBT_DEVICEREMOVECOMPLETE;
  else
    return false;
  /* A device broadcast header (size, device type, reserved) and the device
   * name from byte offset 12. */
  struct {
    DWORD size, device_type, reserved;
    WCHAR name[8];
  } header = {};
  header.size = sizeof header;
  header.device_type = 3; /* a port */
  memcpy(header.name, u"DSK1:", 6 * sizeof(WCHAR));
  return to_shell(WM_DEVICECHANGE, change, (LPARAM)&header, error);
}

bool run_camera(const std::string& args, std::string* error) {
  if (args == "show") return to_shell(WM_CAMERA_SHOW, 0, 0, error);
  if (args == "hide") return to_shell(WM_CAMERA_HIDE, 0, 0, error);
  return false;
}

bool run_copydata(const std::string& args, std::string* error) {
  std::vector<std::string> words = words_of(args);
  if (words.size() != 1) return false;
  char* end = nullptr;
  unsigned long wparam = strtoul(words[0].c_str(), &end, 0);
  if (!end || *end) return false;
  COPYDATASTRUCT data = {};
  return to_shell(WM_COPYDATA, (WPARAM)wparam, (LPARAM)&data, error);
}

bool run_hangup_home(const std::string& args, std::string* error) {
  if (!args.empty()) return false;
  return to_shell(WM_HANGUP_HOME, 0, 0, error);
}

bool run_foreground(const std::string& args, std::string* error) {
  if (args.empty()) return false;
  std::u16string title = plat::utf8_to_utf16(args);
  HWND window = FindWindowW(nullptr, title.c_str());
  if (!window) {
    *error = "foreground: no window titled " + args;
    return false;
  }
  ShowWindow(window, SW_SHOW);
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  SetForegroundWindow(window);
  return true;
}

/* registry KEY VALUE TYPE [DATA]: TYPE is REG_SZ (DATA the rest of the line,
 * may be empty), REG_DWORD (DATA decimal or 0x hexadecimal) or delete. */
bool run_registry(const std::string& args, std::string* error) {
  std::vector<std::string> words = words_of(args);
  if (words.size() < 3) return false;
  std::string path = words[0];
  HKEY root = HKEY_LOCAL_MACHINE;
  const struct {
    const char* prefix;
    HKEY root;
  } roots[] = {{"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE}, {"HKLM\\", HKEY_LOCAL_MACHINE},
               {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER},   {"HKCU\\", HKEY_CURRENT_USER}};
  for (const auto& r : roots) {
    size_t n = strlen(r.prefix);
    if (path.size() > n && strncasecmp(path.c_str(), r.prefix, n) == 0) {
      root = r.root;
      path = path.substr(n);
      break;
    }
  }
  std::u16string key_name = plat::utf8_to_utf16(path);
  std::u16string value_name = plat::utf8_to_utf16(words[1]);
  std::string type = words[2];
  std::string data = after_words(args, 3);
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, key_name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    *error = "registry: cannot open " + words[0];
    return false;
  }
  LONG result;
  if (type == "REG_SZ") {
    std::u16string text = plat::utf8_to_utf16(data);
    result = RegSetValueExW(key, value_name.c_str(), 0, REG_SZ, (const BYTE*)text.c_str(),
                            (DWORD)((text.size() + 1) * sizeof(WCHAR)));
  } else if (type == "REG_DWORD") {
    char* end = nullptr;
    unsigned long long number = strtoull(data.c_str(), &end, 0);
    if (data.empty() || !end || *end || number > 0xFFFFFFFFull) {
      RegCloseKey(key);
      *error = "registry: bad REG_DWORD data: " + data;
      return false;
    }
    DWORD value = (DWORD)number;
    result = RegSetValueExW(key, value_name.c_str(), 0, REG_DWORD, (const BYTE*)&value, sizeof value);
  } else if (type == "delete" && data.empty()) {
    result = RegDeleteValueW(key, value_name.c_str());
    if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
  } else {
    RegCloseKey(key);
    return false;
  }
  RegFlushKey(key);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) {
    *error = "registry: cannot set " + words[1];
    return false;
  }
  return true;
}

/* The file's text as UTF-8: UTF-16LE after its mark, UTF-8 when it is valid
 * UTF-8, otherwise GBK. */
std::string file_text(const std::string& bytes) {
  if (bytes.size() >= 2 && (unsigned char)bytes[0] == 0xFF && (unsigned char)bytes[1] == 0xFE) {
    std::u16string wide((bytes.size() - 2) / 2, u'\0');
    memcpy(&wide[0], bytes.data() + 2, wide.size() * 2);
    return plat::utf16_to_utf8(wide);
  }
  std::u16string probe = plat::utf8_to_utf16(bytes);
  if (probe.find(u'\xFFFD') == std::u16string::npos) return bytes;
  int n = MultiByteToWideChar(936, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
  std::u16string wide((size_t)(n > 0 ? n : 0), u'\0');
  if (n > 0) MultiByteToWideChar(936, 0, bytes.data(), (int)bytes.size(), &wide[0], n);
  return plat::utf16_to_utf8(wide);
}

bool read_device_file(const std::u16string& path, std::string* bytes) {
  FILE* file = _wfopen(path.c_str(), u"rb");
  if (!file) return false;
  bytes->clear();
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes->append(buffer, n);
  fclose(file);
  return true;
}

/* expect-file PATH [TEXT]: waits up to 2000 ms of device time for the file
 * (holding TEXT). A failure ends the run with status 3, as a failed expect. */
bool run_expect_file(const std::string& args, std::string* error) {
  std::vector<std::string> words = words_of(args);
  if (words.empty()) return false;
  std::u16string path = plat::utf8_to_utf16(words[0]);
  std::string text = after_words(args, 1);
  uint64_t until = plat::device_ms() + expect_file_ms;
  std::string bytes;
  bool exists = false;
  for (;;) {
    exists = read_device_file(path, &bytes);
    if (exists && (text.empty() || file_text(bytes).find(text) != std::string::npos)) return true;
    if (plat::device_ms() >= until) break;
    plat::sleep_device_ms(20);
  }
  *error = "expect-file failed: expected " + words[0] +
           (text.empty() ? std::string(" to exist") : " to contain " + text) + "; " +
           (exists ? "it holds " + file_text(bytes).substr(0, 200) : std::string("it does not exist"));
  return false;
}

}  // namespace

void device_console_attach() {
  register_device_command({"sd", "sd insert|remove|write NAME TEXT", run_sd});
  register_device_command({"camera", "camera show|hide", run_camera});
  register_device_command({"copydata", "copydata WPARAM", run_copydata});
  register_device_command({"hangup-home", "hangup-home", run_hangup_home});
  register_device_command({"foreground", "foreground TITLE", run_foreground});
  register_device_command(
      {"registry", "registry KEY VALUE REG_SZ|REG_DWORD|delete [DATA]", run_registry});
  register_device_command({"expect-file", "expect-file PATH [TEXT]", run_expect_file, true});
}

}  // namespace sim
