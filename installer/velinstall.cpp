/* velinstall's entry: the program's own path names its script; the command
 * line's arguments are not used. */
#include <windows.h>

#include "installer.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR command_line, int show) {
  (void)instance;
  (void)previous;
  (void)command_line;
  (void)show;
  /* The platform reports at most 255 characters of the program's path. */
  WCHAR module_path[256] = {0};
  DWORD n = GetModuleFileNameW(NULL, module_path, 256);
  if (n >= 256) n = 255;
  module_path[n] = 0;
  return installer_run(module_path);
}
