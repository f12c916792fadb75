/* The installer program: script, title, package, final message box. */
#include "installer.h"

#include "ini_reader.h"
#include "message_box.h"
#include "package.h"

namespace {

/* Copies count characters of text into buffer and terminates it; -1 with
 * buffer empty when they do not fit. */
int copy_text(WCHAR* buffer, int size, const WCHAR* text, size_t count, const WCHAR* suffix) {
  size_t suffix_length = suffix ? wcslen(suffix) : 0;
  if (count + suffix_length + 1 > (size_t)size) {
    buffer[0] = 0;
    return -1;
  }
  for (size_t i = 0; i < count; i++) buffer[i] = text[i];
  for (size_t i = 0; i < suffix_length; i++) buffer[count + i] = suffix[i];
  buffer[count + suffix_length] = 0;
  return 0;
}

}  // namespace

int installer_script_path(const WCHAR* module_path, WCHAR* buffer, int size) {
  if (!buffer || size < 1) return -1;
  if (!module_path) {
    buffer[0] = 0;
    return -1;
  }
  const WCHAR* dot = wcschr(module_path, '.');
  size_t count = dot ? (size_t)(dot - module_path) : wcslen(module_path);
  return copy_text(buffer, size, module_path, count, TEXT(".ini"));
}

int installer_title(const WCHAR* module_path, WCHAR* buffer, int size) {
  if (!buffer || size < 1) return -1;
  if (!module_path) {
    buffer[0] = 0;
    return -1;
  }
  const WCHAR* slash = wcsrchr(module_path, '\\');
  const WCHAR* base = slash ? slash + 1 : module_path;
  const WCHAR* dot = wcschr(base, '.');
  size_t count = dot ? (size_t)(dot - base) : wcslen(base);
  return copy_text(buffer, size, base, count, NULL);
}

int installer_run(const WCHAR* module_path) {
  WCHAR script[INSTALLER_PATH_CHARS];
  WCHAR title[INSTALLER_PATH_CHARS];
  WCHAR directory[INSTALLER_PATH_CHARS];
  WCHAR package[INSTALLER_PATH_CHARS];
  if (installer_script_path(module_path, script, INSTALLER_PATH_CHARS) != 0) script[0] = 0;
  ini_read_string(TEXT("config"), TEXT("directory"), NULL, directory, INSTALLER_PATH_CHARS, script);
  ini_read_string(TEXT("config"), TEXT("name"), NULL, package, INSTALLER_PATH_CHARS, script);
  if (installer_title(module_path, title, INSTALLER_PATH_CHARS) != 0) title[0] = 0;
  if (install_package(directory, package))
    show_message_box(TEXT("Installation successful!"), title, MB_ICONINFORMATION);
  else
    show_message_box(TEXT("Installation failed!"), title, MB_ICONERROR);
  return 0;
}
