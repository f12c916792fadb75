/* The host side of library binding: stand-in libraries registered by the
 * simulator or a test. Not part of the Win32 surface; the system's code never
 * includes it. */
#pragma once

#include <map>
#include <string>

#include "plat/wintypes.h"

namespace plat {

/* Exported names and their functions (cast to FARPROC). */
using ModuleExports = std::map<std::string, FARPROC>;

/* LoadLibraryW of `device_path` (matched case-insensitively) loads a stand-in
 * with these exports. Registering again replaces the exports for later loads;
 * a loaded stand-in keeps the ones it was loaded with. */
void register_module(const std::u16string& device_path, ModuleExports exports);
/* Removes the registration; modules already loaded stay loaded. */
void unregister_module(const std::u16string& device_path);
/* How many loads of the stand-in at `device_path` are not freed yet. */
int module_load_count(const std::u16string& device_path);

}  // namespace plat
