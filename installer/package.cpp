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

enum class Unpacked { ok, failed };

/* Writes one file entry's contents to path; the contents are read from the
 * package in any case. */
Unpacked unpack_file(HANDLE package, const PackageEntryHeader* header, const WCHAR* path) {
  HANDLE out = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
  if (out == INVALID_HANDLE_VALUE) {
    printf("Could not open Two.txt.\n");
    fflush(stdout);
    return Unpacked::failed;
  }
  DWORD size = header->size_low;
  Unpacked result = Unpacked::ok;
  long long remaining = remaining_bytes(package);
  if (remaining >= 0 && (long long)size > remaining) {
    /* Cut short by the end of the package: nothing to buffer, the file stays
     * empty and the next header read finds the end. */
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    SetFilePointerEx(package, zero, NULL, FILE_END);
  } else {
    BYTE* contents = NULL;
    if (size > 0) {
      contents = (BYTE*)malloc(size);
      if (!contents) {
        report_box(TEXT("VirtualAlloc Fail."));
        printf("VirtualAlloc Fail.\n");
        fflush(stdout);
        CloseHandle(out);
        return Unpacked::failed;
      }
    }
    DWORD read = 0;
    BOOL ok = size == 0 || ReadFile(package, contents, size, &read, NULL);
    if (ok && read == size && header->size_high == 0) {
      if (size > 0) {
        BOOL locked = LockFile(out, 0, 0, size, 0);
        DWORD written = 0;
        if (!WriteFile(out, contents, size, &written, NULL) || written != size) {
          debug_print(TEXT("Could not write %s (error %d)\n"), path, (int)GetLastError());
          result = Unpacked::failed;
        }
        if (locked) UnlockFile(out, 0, 0, size, 0);
      }
      SetFileTime(out, &header->creation_time, &header->last_access_time,
                  &header->last_write_time);
    }
    free(contents);
  }
  CloseHandle(out);
  return result;
}

}  // namespace

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
    printf("Could not create new directory.\n");
    fflush(stdout);
    CloseHandle(package);
    return 0;
  }

  static WCHAR entry_path[kEntryPathChars];
  PackageEntryHeader header;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(package, &header, sizeof header, &read, NULL) || read == 0) break;
    if (read != sizeof header) {
      debug_print(TEXT("Package entry header cut short (%d bytes)\n"), (int)read);
      CloseHandle(package);
      return 0;
    }
    if (field_length(header.name) < 0 || field_length(header.folder) < 0 ||
        !stays_inside(header.name) || !stays_inside(header.folder)) {
      debug_print(TEXT("Package entry refused: its name or folder leaves the target folder\n"));
      CloseHandle(package);
      return 0;
    }
    int length = _snwprintf(entry_path, kEntryPathChars, TEXT("%s/%s/%s"), target, header.folder,
                            header.name);
    if (length < 0 || (size_t)length >= kEntryPathChars) {
      debug_print(TEXT("Package entry path too long\n"));
      CloseHandle(package);
      return 0;
    }

    if (header.attributes & PACKAGE_FOLDER_ATTRIBUTE) {
      CreateDirectoryW(entry_path, NULL);
      continue;
    }
    if (unpack_file(package, &header, entry_path) != Unpacked::ok) {
      CloseHandle(package);
      return 0;
    }
    if (wcsstr(entry_path, TEXT(".reg")) || wcsstr(entry_path, TEXT(".REG"))) {
      int imported = import_reg_file(entry_path);
      DeleteFileW(entry_path);
      if (imported != 0) {
        CloseHandle(package);
        return 0;
      }
    }
  }
  CloseHandle(package);
  return 1;
}
