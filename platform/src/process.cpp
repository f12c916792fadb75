/* Processes of the simulated device. The device's other programs are stand-ins
 * registered by the simulator under their device paths; CreateProcessW runs
 * one on its own thread of this process, and its result is the process's
 * exit code. Every start asked for is a `launch` event. */
#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "plat/files.h"
#include "plat/host.h"
#include "plat/kernel.h"
#include "file_internal.h"
#include "sync.h"

namespace plat {

namespace {

struct ProgramTable {
  std::mutex lock;
  std::map<std::u16string, ProgramMain> programs;
};

ProgramTable& program_table() {
  static ProgramTable* table = new ProgramTable;
  return *table;
}

ProgramMain find_program(const std::u16string& path) {
  ProgramTable& table = program_table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.programs.find(device_path_key(path));
  /* A bare name is looked for in \windows too, as Windows CE does. */
  if (it == table.programs.end() && path.find_first_of(u"\\/") == std::u16string::npos)
    it = table.programs.find(device_path_key(u"\\windows\\" + path));
  return it == table.programs.end() ? ProgramMain() : it->second;
}

/* Whether the device has a program file at the path (a bare name is looked
 * for in \windows as well). */
bool marker_file(const std::u16string& path) {
  std::u16string candidates[2] = {path, u"\\windows\\" + path};
  int count = path.find_first_of(u"\\/") == std::u16string::npos ? 2 : 1;
  DWORD error = GetLastError();
  bool found = false;
  for (int i = 0; i < count && !found; i++) {
    DWORD attributes = GetFileAttributesW(candidates[i].c_str());
    found = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  SetLastError(error);
  return found;
}

struct ProcessObject : Waitable {
  DWORD id = 0;
  /* Guarded by sync_mutex. */
  bool done = false;
  DWORD exit_code = STILL_ACTIVE;
  bool signaled(DWORD) const override { return done; }
};

std::atomic<DWORD> next_process_id{0x20000000};

/* Without an application name the command line starts with the program. */
void split_command_line(const std::u16string& line, std::u16string* program, std::u16string* args) {
  size_t i = 0;
  if (!line.empty() && line[0] == u'"') {
    size_t end = line.find(u'"', 1);
    if (end == std::u16string::npos) end = line.size();
    *program = line.substr(1, end - 1);
    i = end < line.size() ? end + 1 : end;
  } else {
    size_t end = line.find(u' ');
    if (end == std::u16string::npos) end = line.size();
    *program = line.substr(0, end);
    i = end;
  }
  while (i < line.size() && line[i] == u' ') i++;
  *args = line.substr(i);
}

void launch_event(const std::u16string& path, const std::u16string& command_line, bool ok) {
  Event("launch").str("path", utf16_to_utf8(path)).str("cmdline", utf16_to_utf8(command_line)).boolean("ok", ok);
}

}  // namespace

void register_program(const std::u16string& device_path, ProgramMain main) {
  ProgramTable& table = program_table();
  std::lock_guard<std::mutex> guard(table.lock);
  if (main)
    table.programs[device_path_key(device_path)] = std::move(main);
  else
    table.programs.erase(device_path_key(device_path));
}

void unregister_programs() {
  ProgramTable& table = program_table();
  std::lock_guard<std::mutex> guard(table.lock);
  table.programs.clear();
}

}  // namespace plat

using namespace plat;

BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD flags, LPVOID, LPCWSTR,
                           LPSTARTUPINFOW, LPPROCESS_INFORMATION information) {
  std::u16string path, args;
  std::u16string given = command_line ? std::u16string(command_line) : std::u16string();
  if (application && *application) {
    path = application;
    args = given;
  } else if (!given.empty()) {
    split_command_line(given, &path, &args);
  }
  if (path.empty()) {
    launch_event(path, given, false);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ProgramMain main = find_program(path);
  if (!main && marker_file(path)) {
    /* A program of the device that nothing in the simulator stands in for
     * (its file is a marker): it starts and ends at once. */
    main = [](const std::u16string&) -> DWORD { return 0; };
  }
  if (!main) {
    launch_event(path, given, false);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }

  auto process = std::make_shared<ProcessObject>();
  process->id = next_process_id.fetch_add(4);
  /* The thread waits until the launch is logged, so that the program's own
   * events come after it. */
  auto thread = thread_start(
      [main, args, process]() -> DWORD {
        DWORD code = main(args);
        std::lock_guard<std::mutex> guard(sync_mutex());
        process->exit_code = code;
        process->done = true;
        sync_notify();
        return code;
      },
      true, process->id);
  if (!thread) {
    DWORD error = GetLastError();
    launch_event(path, given, false);
    SetLastError(error);
    return FALSE;
  }
  if (information) {
    information->hProcess = handle_open(process);
    information->hThread = handle_open(thread);
    information->dwProcessId = process->id;
    information->dwThreadId = thread->id;
  }
  launch_event(path, given, true);
  if (!(flags & CREATE_SUSPENDED)) {
    std::lock_guard<std::mutex> guard(sync_mutex());
    thread->suspend_count--;
    sync_notify();
  }
  return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exit_code) {
  auto object = handle_get_as<ProcessObject>(process);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!exit_code) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(sync_mutex());
  *exit_code = object->exit_code;
  return TRUE;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR module_name) {
  if (!module_name) return (HMODULE)(uintptr_t)0x00010000;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}
