/* The installer program: its script, its title and one run.
 *
 * The script is an INI file named after the program: the program's path with
 * everything from its first "." replaced by ".ini". Its section "config"
 * names the target folder ("directory") and the package file ("name"). */
#ifndef INSTALLER_INSTALLER_H
#define INSTALLER_INSTALLER_H

#include <windows.h>

/* Characters of a path buffer, terminator included. */
#define INSTALLER_PATH_CHARS 260

/* The script path of the program at module_path into buffer (size
 * characters): "\sdmmc\velinstall.exe" gives "\sdmmc\velinstall.ini"; a path
 * without a "." gets ".ini" appended. 0, or -1 with buffer empty when it does
 * not fit or an argument is null. */
int installer_script_path(const WCHAR* module_path, WCHAR* buffer, int size);

/* The title of the program's boxes: the part of module_path after its last
 * backslash, up to its first "." ("velinstall"). 0, or -1 as above. */
int installer_title(const WCHAR* module_path, WCHAR* buffer, int size);

/* Reads the script of the program at module_path, installs its package and
 * shows "Installation successful!" (information icon) or "Installation
 * failed!" (error icon), titled with installer_title. Returns the program's
 * exit code, always 0. */
int installer_run(const WCHAR* module_path);

#endif
