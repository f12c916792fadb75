/* ini_write_string: under the file's own named mutex, locate with the shared
 * scanner, compose the new text, and write old head + text + old tail to a
 * sibling file of a name of its own that then replaces the original. */
#include "ini_writer.h"

#include <string.h>

#include "ini_file.h"

namespace {

const int kTextBytes = 1024;  /* the composed text, terminator included */
const int kChunk = 1024;      /* copy chunk, through the context's line buffer */
const DWORD kLockWaitMs = 10000;
const WCHAR kLockPrefix[] = TEXT("ini_write_string:");
/* path + ".~" + 8 hex digits of the process + 8 of the thread + ".tmp" */
const size_t kTempExtra = 2 + 16 + 4;

IniWriteStepHook step_hook = NULL;

bool step(int which) { return !step_hook || step_hook(which); }

/* A reader that holds the target open (a C stream shares no deletion) makes
 * the replace fail for as long as it reads: try again every 10 ms, 2 s at
 * most, before the write counts as failed. */
const int kReplaceRetryMs = 10;
const int kReplaceRetries = 200;

/* Puts replacement in the place of target in one step. Windows CE has no
 * MoveFileExW: there DeleteAndRenameFile replaces an existing target, and a
 * missing one is a plain rename. */
BOOL replace_once(const WCHAR* target, const WCHAR* replacement, bool target_exists) {
#if defined(_WIN32_WCE)
  return target_exists ? DeleteAndRenameFile(target, replacement) : MoveFileW(replacement, target);
#else
  (void)target_exists;
  return MoveFileExW(replacement, target, MOVEFILE_REPLACE_EXISTING);
#endif
}

BOOL replace_file(const WCHAR* target, const WCHAR* replacement, bool target_exists) {
  for (int attempt = 0;; attempt++) {
    if (replace_once(target, replacement, target_exists)) return TRUE;
    DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) ||
        attempt == kReplaceRetries)
      return FALSE;
    Sleep(kReplaceRetryMs);
  }
}

/* The separator before text placed at offset: "\r\n" unless the unit before it
 * is a line feed or there is none. */
const char* separator_before(IniFile* file, long offset) {
  long unit = file->is_utf16 ? 2 : 1;
  if (!file->stream || offset < unit || fseek(file->stream, offset - unit, SEEK_SET) != 0) return "";
  unsigned char bytes[2] = {0, 0};
  if (fread(bytes, 1, (size_t)unit, file->stream) != (size_t)unit) return "";
  unsigned value = file->is_utf16 ? (unsigned)(bytes[0] | (bytes[1] << 8)) : bytes[0];
  return value == 0x0A ? "" : "\r\n";
}

/* Composes the new text into text; returns its size in bytes, or -1 when it
 * would not fit its buffer. */
int compose(const IniFile* file, const char* separator, bool with_header, WCHAR* text) {
  size_t extra = strlen(separator) + 1 + 2 + (with_header ? 4 : 0);
  if (file->is_utf16) {
    const WCHAR* section = static_cast<const WCHAR*>(file->section);
    const WCHAR* key = static_cast<const WCHAR*>(file->key);
    const WCHAR* value = static_cast<const WCHAR*>(file->value);
    size_t units = extra + wcslen(key) + wcslen(value) + (with_header ? wcslen(section) : 0);
    const size_t capacity = kTextBytes / sizeof(WCHAR);
    if (units + 1 > capacity) return -1;
    int n = with_header
                ? _snwprintf(text, capacity, TEXT("%S[%s]\r\n%s=%s\r\n"), separator, section, key, value)
                : _snwprintf(text, capacity, TEXT("%S%s=%s\r\n"), separator, key, value);
    return n == (int)units ? n * (int)sizeof(WCHAR) : -1;
  }
  const char* section = static_cast<const char*>(file->section);
  const char* key = static_cast<const char*>(file->key);
  const char* value = static_cast<const char*>(file->value);
  size_t bytes = extra + strlen(key) + strlen(value) + (with_header ? strlen(section) : 0);
  if (bytes + 1 > (size_t)kTextBytes) return -1;
  char* out = reinterpret_cast<char*>(text);
  int n = with_header ? _snprintf(out, kTextBytes, "%s[%s]\r\n%s=%s\r\n", separator, section, key, value)
                      : _snprintf(out, kTextBytes, "%s%s=%s\r\n", separator, key, value);
  return n == (int)bytes ? n : -1;
}

bool write_all(HANDLE handle, const void* data, DWORD size) {
  if (!step(INI_STEP_WRITE)) return false;
  DWORD written = 0;
  return WriteFile(handle, data, size, &written, NULL) && written == size;
}

/* Copies the old file's bytes [from, to) to handle in chunks through the line
 * buffer; to < 0 copies up to the end of the file. A missing file (no stream)
 * has no bytes. */
bool copy_range(IniFile* file, long from, long to, HANDLE handle) {
  if (!file->stream) return to < 0 || to == from;
  if (fseek(file->stream, from, SEEK_SET) != 0) return false;
  BYTE* chunk = reinterpret_cast<BYTE*>(file->line);
  long left = to - from;
  for (;;) {
    size_t want = (size_t)kChunk;
    if (to >= 0) {
      if (left == 0) return true;
      if (left < kChunk) want = (size_t)left;
    }
    if (!step(INI_STEP_READ)) return false;
    size_t got = fread(chunk, 1, want, file->stream);
    if (got < want && (ferror(file->stream) || to >= 0)) return false;
    if (got > 0 && !write_all(handle, chunk, (DWORD)got)) return false;
    if (to < 0 && got < want) return true;
    left -= (long)got;
  }
}

/* Writes the new content to temp_path. */
bool write_replacement(IniFile* file, const WCHAR* temp_path, long region_start, long region_end,
                       const WCHAR* text, int text_bytes) {
  if (!step(INI_STEP_CREATE_TEMP)) return false;
  HANDLE handle = CreateFileW(temp_path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool ok = copy_range(file, 0, region_start, handle) &&
            write_all(handle, text, (DWORD)text_bytes) &&
            copy_range(file, region_end, -1, handle) &&
            step(INI_STEP_FLUSH) && FlushFileBuffers(handle);
  bool close_allowed = step(INI_STEP_CLOSE_TEMP);
  if (!CloseHandle(handle) || !close_allowed) ok = false;
  if (!ok) DeleteFileW(temp_path);
  return ok;
}

/* The name of the file's mutex: the path with its separators made "/" and
 * its ASCII letters folded (device paths are case-insensitive), or, when that
 * would be too long for a name, a hash of it. */
void lock_name(const WCHAR* path, WCHAR* name, size_t size) {
  const size_t prefix = sizeof kLockPrefix / sizeof kLockPrefix[0] - 1;
  memcpy(name, kLockPrefix, prefix * sizeof(WCHAR));
  size_t n = prefix;
  unsigned long long hash = 1469598103934665603ull;
  bool fits = true;
  WCHAR last = 0;
  if (path[0] != TEXT('\\') && path[0] != TEXT('/')) name[n++] = last = TEXT('/');
  for (const WCHAR* p = path; *p; p++) {
    WCHAR c = *p == TEXT('\\') ? TEXT('/') : *p;
    if (c >= TEXT('A') && c <= TEXT('Z')) c = (WCHAR)(c - TEXT('A') + TEXT('a'));
    if (c == TEXT('/') && last == TEXT('/')) continue;
    last = c;
    hash = (hash ^ (unsigned)c) * 1099511628211ull;
    if (n + 1 < size) name[n++] = c;
    else fits = false;
  }
  name[n] = 0;
  if (!fits) _snwprintf(name + prefix, size - prefix, TEXT("#%08lX%08lX"),
                        (unsigned long)(hash >> 32), (unsigned long)(hash & 0xFFFFFFFFu));
}

/* Removes temporary files that writers which ended half-way left behind;
 * called with the file's mutex held, so no writer is using one. */
void remove_stale_temps(const WCHAR* path, size_t path_length) {
  WCHAR pattern[MAX_PATH + kTempExtra + 1];
  memcpy(pattern, path, path_length * sizeof(WCHAR));
  memcpy(pattern + path_length, TEXT(".~*.tmp"), 8 * sizeof(WCHAR));
  size_t folder = path_length;
  while (folder > 0 && path[folder - 1] != TEXT('\\') && path[folder - 1] != TEXT('/')) folder--;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    size_t length = wcslen(found.cFileName);
    if (folder + length >= sizeof pattern / sizeof pattern[0]) continue;
    memcpy(pattern + folder, found.cFileName, (length + 1) * sizeof(WCHAR));
    DeleteFileW(pattern);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

int write_locked(const WCHAR* section, const WCHAR* key, const WCHAR* value, const WCHAR* path,
                 const WCHAR* temp_path);

}  // namespace

void ini_write_set_step_hook(IniWriteStepHook hook) { step_hook = hook; }

int ini_write_string(const WCHAR* section, const WCHAR* key, const WCHAR* value,
                     const WCHAR* path) {
  if (!path || !section || !key || !value) return 0;

  WCHAR temp_path[MAX_PATH + kTempExtra + 1];
  size_t path_length = wcslen(path);
  if (path_length == 0 || path_length > MAX_PATH) return 0;
  memcpy(temp_path, path, path_length * sizeof(WCHAR));
  _snwprintf(temp_path + path_length, kTempExtra + 1, TEXT(".~%08lX%08lX.tmp"),
             (unsigned long)GetCurrentProcessId(), (unsigned long)GetCurrentThreadId());

  WCHAR name[MAX_PATH];
  lock_name(path, name, MAX_PATH);
  HANDLE lock = CreateMutexW(NULL, FALSE, name);
  if (!lock) return 0;
  /* An owner that ended half-way (abandoned) left the file old or new. */
  DWORD waited = WaitForSingleObject(lock, kLockWaitMs);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(lock);
    return 0;
  }
  remove_stale_temps(path, path_length);
  int result = write_locked(section, key, value, path, temp_path);
  ReleaseMutex(lock);
  CloseHandle(lock);
  return result;
}

namespace {

int write_locked(const WCHAR* section, const WCHAR* key, const WCHAR* value, const WCHAR* path,
                 const WCHAR* temp_path) {
  /* A file that exists but cannot be opened for update (a read-only one) is
   * refused; a missing one is new and empty, an ANSI file. */
  IniFile file;
  bool exists = ini_file_open(&file, path) == 0;
  if (!exists && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return 0;
  if (ini_file_set_strings(&file, section, key, value) != 0) {
    ini_file_close(&file);
    return 0;
  }

  IniScan scan;
  if (exists) {
    ini_file_scan(&file, &scan);
  } else {
    memset(&scan, 0, sizeof scan);
    scan.stop = INI_SCAN_END_OF_FILE;
  }
  if (scan.read_error) {
    ini_file_close(&file);
    return 0;
  }
  long region_start, region_end;
  if (scan.stop == INI_SCAN_KEY_FOUND) {
    region_start = scan.line_start;
    region_end = scan.line_end;
  } else {
    region_start = region_end = scan.stop == INI_SCAN_SECTION_END ? scan.line_start : scan.position;
  }

  WCHAR text[kTextBytes / sizeof(WCHAR)];
  int text_bytes = compose(&file, separator_before(&file, region_start), !scan.section_found, text);
  bool ok = text_bytes > 0 && write_replacement(&file, temp_path, region_start, region_end, text, text_bytes);
  ini_file_close(&file);
  if (!ok) return 0;
  /* The new file keeps the old one's attributes (hidden, system, archive). */
  if (exists) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && attributes != FILE_ATTRIBUTE_NORMAL)
      SetFileAttributesW(temp_path, attributes);
  }
  if (!step(INI_STEP_REPLACE) || !replace_file(path, temp_path, exists)) {
    DeleteFileW(temp_path);
    return 0;
  }
  return 1;
}

}  // namespace
