/* Library binding on the host: stand-in libraries only (see plat/module.h). */
#include <mutex>

#include "plat/files.h"
#include "plat/kernel.h"
#include "plat/module.h"
#include "plat/module_host.h"
#include "file_internal.h"

namespace plat {

namespace {

struct LoadedModule {
  std::u16string key;
  ModuleExports exports;
  int loads = 0;
};

struct ModuleTable {
  std::mutex lock;
  std::map<std::u16string, ModuleExports> registered;  /* by key */
  std::map<uintptr_t, LoadedModule> loaded;            /* by handle */
  uintptr_t next = 0x10020000;
};

ModuleTable& module_table() {
  static ModuleTable* table = new ModuleTable;
  return *table;
}

/* The handle of a loaded module with this key, or 0. Called under the lock. */
uintptr_t loaded_handle(const ModuleTable& table, const std::u16string& key) {
  for (const auto& entry : table.loaded)
    if (entry.second.key == key) return entry.first;
  return 0;
}

bool is_plain_file(const std::u16string& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

/* One way of finding the library: the stand-in under `path` (loaded or
 * registered), else a file there. Returns the handle, or 0 with *error set. */
HMODULE load_from(const std::u16string& path, DWORD* error) {
  const std::u16string key = device_path_key(path);
  {
    ModuleTable& table = module_table();
    std::lock_guard<std::mutex> guard(table.lock);
    if (uintptr_t handle = loaded_handle(table, key)) {
      table.loaded[handle].loads++;
      return (HMODULE)handle;
    }
    auto it = table.registered.find(key);
    if (it != table.registered.end()) {
      uintptr_t handle = table.next;
      table.next += 0x10000;
      LoadedModule& module = table.loaded[handle];
      module.key = key;
      module.exports = it->second;
      module.loads = 1;
      return (HMODULE)handle;
    }
  }
  *error = is_plain_file(path) ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND;
  return nullptr;
}

}  // namespace

void register_module(const std::u16string& device_path, ModuleExports exports) {
  ModuleTable& table = module_table();
  std::lock_guard<std::mutex> guard(table.lock);
  table.registered[device_path_key(device_path)] = std::move(exports);
}

void unregister_module(const std::u16string& device_path) {
  ModuleTable& table = module_table();
  std::lock_guard<std::mutex> guard(table.lock);
  table.registered.erase(device_path_key(device_path));
}

int module_load_count(const std::u16string& device_path) {
  ModuleTable& table = module_table();
  std::lock_guard<std::mutex> guard(table.lock);
  uintptr_t handle = loaded_handle(table, device_path_key(device_path));
  return handle ? table.loaded[handle].loads : 0;
}

}  // namespace plat

HMODULE WINAPI LoadLibraryW(LPCWSTR file_name) {
  if (!file_name || !*file_name) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  const std::u16string path(file_name);
  DWORD error = ERROR_MOD_NOT_FOUND;
  if (HMODULE module = plat::load_from(path, &error)) return module;
  /* Not there: the bare name in \windows, unless that is where it was looked for. */
  const size_t slash = path.find_last_of(u"\\/");
  const std::u16string base = slash == std::u16string::npos ? path : path.substr(slash + 1);
  const std::u16string in_windows = u"\\windows\\" + base;
  if (error == ERROR_MOD_NOT_FOUND && !base.empty() &&
      plat::device_path_key(in_windows) != plat::device_path_key(path)) {
    if (HMODULE module = plat::load_from(in_windows, &error)) return module;
  }
  SetLastError(error);
  return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (!module || module == GetModuleHandleW(nullptr)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  plat::ModuleTable& table = plat::module_table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.loaded.find((uintptr_t)module);
  if (it == table.loaded.end()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  auto found = name ? it->second.exports.find(name) : it->second.exports.end();
  if (found == it->second.exports.end() || !found->second) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return found->second;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  plat::ModuleTable& table = plat::module_table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.loaded.find((uintptr_t)module);
  if (it == table.loaded.end()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  if (--it->second.loads == 0) table.loaded.erase(it);
  return TRUE;
}
