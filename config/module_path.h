/* Paths of files beside the running program. */
#ifndef CONFIG_MODULE_PATH_H
#define CONFIG_MODULE_PATH_H

#include <windows.h>

/* Writes into buffer (capacity characters) the running program's own path
 * (module is null: the program itself) cut after its last backslash, followed
 * by file_name: "\residentflash2\Velmar\Velmar.exe" and "config.ini" give
 * "\residentflash2\Velmar\config.ini"; a name that begins with a backslash
 * gives a doubled one. Without a backslash in the program path the name is
 * appended to the whole path. Returns 0, or -1 with buffer empty when the
 * program path is not known or the result does not fit. */
int module_file_path(WCHAR* buffer, int capacity, HMODULE module, const WCHAR* file_name);

#endif
