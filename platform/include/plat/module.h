/* Run-time binding of libraries: LoadLibraryW, GetProcAddress, FreeLibrary.
 *
 * The host has no loader of device libraries. A library is found only when
 * the simulator (or a test) has registered a stand-in under its device path
 * (plat/module_host.h); a path without a stand-in is answered as Windows
 * answers a path that holds no module: NULL with ERROR_MOD_NOT_FOUND, or
 * ERROR_BAD_EXE_FORMAT when a file of that name exists but is no module.
 * As on Windows CE, a path whose library is not there is tried again as the
 * bare name in \windows. Loading a library that is loaded already returns the
 * same handle and counts one more load; FreeLibrary removes one, and the
 * last one unloads it. */
#pragma once

#include "plat/wintypes.h"

#ifndef ERROR_MOD_NOT_FOUND
#define ERROR_MOD_NOT_FOUND 126L
#endif
#ifndef ERROR_PROC_NOT_FOUND
#define ERROR_PROC_NOT_FOUND 127L
#endif

HMODULE WINAPI LoadLibraryW(LPCWSTR file_name);
/* The export `name` of the module, or NULL with ERROR_PROC_NOT_FOUND (the
 * running program's own instance exports nothing); NULL with
 * ERROR_MOD_NOT_FOUND for a handle that is not a loaded module. */
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
/* FALSE with ERROR_MOD_NOT_FOUND for a handle that is not a loaded module. */
BOOL WINAPI FreeLibrary(HMODULE module);
