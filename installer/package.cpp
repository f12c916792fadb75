/* Unpacking an installation package. */
#include "package.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "debug_output.h"
#include "message_box.h"
#include "reg_import.h"

namespace {

/* Room for "<target>/<folder>/<name>" with every field at its longest. */
const size_t kEntryPathChars = 3 * PACKAGE_NAME_CHARS + 2;

bool is_separator(WCHAR c) { return c == '/' || c == '\\'; }

/* Creates every folder named by target up to one of its separators, then
 * target itself; failures are ignored (an existing folder is one). */
void create_folders(const WCHAR* target) {
  size_t length = wcslen(target);
  WCHAR* prefix = (WCHAR*)malloc((length + 1) * sizeof(WCHAR));
  if (prefix) {
    for (size_t i = 0; i < length; i++) {
      if (is_separator(target[i])) {
        memcpy(prefix, target, i * sizeof(WCHAR));
        prefix[i] = 0;
        CreateDirectoryW(prefix, NULL);
      }
    }
    free(prefix);
  }
  CreateDirectoryW(target, NULL);
}

bool is_folder(const WCHAR* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

/* The length of a field's text, or -1 when it has no terminator. */
int field_length(const WCHAR* field) {
  for (int i = 0; i < PACKAGE_NAME_CHARS; i++)
    if (!field[i]) return i;
  return -1;
}

/* A component made of dots and blanks only, with at least two dots: ".."
 * itself, and the forms that Windows trims to it. */
bool is_parent_component(const WCHAR* start, size_t count) {
  int dots = 0;
  for (size_t i = 0; i < count; i++) {
    if (start[i] == '.')
      dots++;
    else if (start[i] != ' ')
      return false;
  }
  return dots >= 2;
}

/* True when the field names a place inside the folder it is relative to:
 * no component leads up to a parent folder. */
bool stays_inside(const WCHAR* field) {
  const WCHAR* start = field;
  for (const WCHAR* p = field;; p++) {
    if (!*p || is_separator(*p)) {
      if (is_parent_component(start, (size_t)(p - start))) return false;
      if (!*p) return true;
      start = p + 1;
    }
  }
}

void report_box(const WCHAR* text) {
  show_message_box(text, TEXT("Tips"), 0);
}

void report_out(const char* text) {
  printf("%s\n", text);
  fflush(stdout);
}

bool contains_reg(const WCHAR* field) {
  return wcsstr(field, TEXT(".reg")) || wcsstr(field, TEXT(".REG"));
}

/* Bytes of the package after the read position; -1 when unknown. */
long long remaining_bytes(HANDLE package) {
  DWORD high = 0;
  DWORD low = GetFileSize(package, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  LARGE_INTEGER zero, position;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(package, zero, &position, FILE_CURRENT)) return -1;
  long long size = (long long)(((unsigned long long)high << 32) | low);
  return size - position.QuadPart;
}

/* The buffer the contents pass through, reserved at the first file with
 * contents and kept for the rest of the package. */
struct Chunk {
  BYTE* bytes = nullptr;
  DWORD size = 0;
};

/* Reserves the chunk: PACKAGE_CHUNK_BYTES, or less when that cannot be had. */
bool reserve_chunk(Chunk* chunk) {
  if (chunk->bytes) return true;
  for (DWORD size = PACKAGE_CHUNK_BYTES; size >= 4096; size /= 2) {
    chunk->bytes = (BYTE*)malloc(size);
    if (chunk->bytes) {
      chunk->size = size;
      return true;
    }
  }
  return false;
}

/* Copies size bytes of contents from the package to out, one chunk at a
 * time; false when the package ends early or a read or write fails. */
bool copy_contents(HANDLE package, HANDLE out, unsigned long long size, Chunk* chunk,
                   const WCHAR* path) {
  for (unsigned long long left = size; left > 0;) {
    DWORD want = left < chunk->size ? (DWORD)left : chunk->size;
    DWORD read = 0;
    if (!ReadFile(package, chunk->bytes, want, &read, NULL)) {
      debug_print(TEXT("Could not read the package (error %d)\n"), (int)GetLastError());
      return false;
    }
    if (read != want) {
      debug_print(TEXT("Package cut short inside the contents of %s\n"), path);
      return false;
    }
    DWORD written = 0;
    if (!WriteFile(out, chunk->bytes, read, &written, NULL) || written != read) {
      debug_print(TEXT("Could not write %s (error %d)\n"), path, (int)GetLastError());
      return false;
    }
    left -= read;
  }
  return true;
}

/* Unpacks one file entry to path through a temporary file beside it, which
 * replaces path only once it is complete and carries the header's times. */
bool unpack_file(HANDLE package, const PackageEntryHeader* header, const WCHAR* path,
                 const WCHAR* temporary, Chunk* chunk) {
  unsigned long long size = package_entry_size(header);
  long long remaining = remaining_bytes(package);
  if (remaining >= 0 && size > (unsigned long long)remaining) {
    /* Nothing to write: the package cannot hold the whole file. */
    debug_print(TEXT("Package cut short inside the contents of %s\n"), path);
    return false;
  }
  HANDLE out = CreateFileW(temporary, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
  if (out == INVALID_HANDLE_VALUE) {
    report_out("Could not open Two.txt.");
    return false;
  }
  bool ok = true;
  if (size > 0) {
    if (!reserve_chunk(chunk)) {
      report_box(TEXT("VirtualAlloc Fail."));
      report_out("VirtualAlloc Fail.");
      ok = false;
    } else {
      BOOL locked = LockFile(out, 0, 0, header->size_low, header->size_high);
      ok = copy_contents(package, out, size, chunk, path);
      if (locked) UnlockFile(out, 0, 0, header->size_low, header->size_high);
    }
  }
  if (ok)
    SetFileTime(out, &header->creation_time, &header->last_access_time, &header->last_write_time);
  if (!CloseHandle(out) && ok) {
    debug_print(TEXT("Could not write %s (error %d)\n"), path, (int)GetLastError());
    ok = false;
  }
  if (ok && !MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING)) {
    debug_print(TEXT("Could not replace %s (error %d)\n"), path, (int)GetLastError());
    ok = false;
  }
  if (!ok) DeleteFileW(temporary);
  return ok;
}

}  // namespace

int package_entry_check(const PackageEntryHeader* header) {
  if (field_length(header->name) < 0 || field_length(header->folder) < 0)
    return PACKAGE_ENTRY_UNTERMINATED;
  if (!stays_inside(header->name) || !stays_inside(header->folder))
    return PACKAGE_ENTRY_LEAVES_TARGET;
  if ((header->attributes & PACKAGE_FOLDER_ATTRIBUTE) && package_entry_size(header) != 0)
    return PACKAGE_ENTRY_FOLDER_WITH_SIZE;
  return PACKAGE_ENTRY_OK;
}

int package_entry_is_registry_file(const PackageEntryHeader* header) {
  return contains_reg(header->folder) || contains_reg(header->name);
}

unsigned long long package_entry_size(const PackageEntryHeader* header) {
  return (unsigned long long)header->size_high << 32 | header->size_low;
}

int install_package(const WCHAR* target_folder, const WCHAR* package_path) {
  const WCHAR* target = target_folder ? target_folder : TEXT("");
  create_folders(target);

  HANDLE package = CreateFileW(package_path ? package_path : TEXT(""), GENERIC_READ, 0, NULL,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (package == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    report_box(TEXT("Could not open file"));
    debug_print(TEXT("Could not open file (error %d)\n"), (int)error);
    return 0;
  }
  if (!is_folder(target)) {
    report_box(TEXT("Could not create new directory.\n"));
    report_out("Could not create new directory.");
    CloseHandle(package);
    return 0;
  }

  static WCHAR entry_path[kEntryPathChars];
  static WCHAR temporary_path[kEntryPathChars + 32];
  PackageEntryHeader header;
  Chunk chunk;
  int result = 1;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(package, &header, sizeof header, &read, NULL)) {
      debug_print(TEXT("Could not read the package (error %d)\n"), (int)GetLastError());
      result = 0;
      break;
    }
    if (read == 0) break;
    if (read != sizeof header) {
      debug_print(TEXT("Package entry header cut short (%d bytes)\n"), (int)read);
      result = 0;
      break;
    }
    int check = package_entry_check(&header);
    if (check != PACKAGE_ENTRY_OK) {
      debug_print(check == PACKAGE_ENTRY_FOLDER_WITH_SIZE
                      ? TEXT("Package entry refused: a folder entry with a size\n")
                      : TEXT("Package entry refused: its name or folder leaves the target folder\n"));
      result = 0;
      break;
    }
    int length = _snwprintf(entry_path, kEntryPathChars, TEXT("%s/%s/%s"), target, header.folder,
                            header.name);
    if (length < 0 || (size_t)length >= kEntryPathChars) {
      debug_print(TEXT("Package entry path too long\n"));
      result = 0;
      break;
    }

    if (header.attributes & PACKAGE_FOLDER_ATTRIBUTE) {
      CreateDirectoryW(entry_path, NULL);
      continue;
    }
    _snwprintf(temporary_path, sizeof temporary_path / sizeof temporary_path[0], TEXT("%s%s"),
               entry_path, PACKAGE_TEMPORARY_SUFFIX);
    if (!unpack_file(package, &header, entry_path, temporary_path, &chunk)) {
      result = 0;
      break;
    }
    if (package_entry_is_registry_file(&header)) {
      int imported = import_reg_file(entry_path);
      DeleteFileW(entry_path);
      if (imported != 0) {
        result = 0;
        break;
      }
    }
  }
  free(chunk.bytes);
  CloseHandle(package);
  return result;
}
