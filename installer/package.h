/* Unpacking an installation package into a target folder.
 *
 * A package is a plain sequence of entries, read front to back, with no file
 * header and no trailer. Each entry is a PackageEntryHeader (1636 bytes, all
 * integers little-endian) followed, for a file entry, by the file's contents.
 * Every unpacked file whose own folder or name contains ".reg" or ".REG" is
 * imported into the registry with import_reg_file and then deleted.
 *
 * Entries are refused, and the installation fails, when their name or folder
 * is not terminated within its field or has a ".." component (a package
 * cannot write outside the target folder), or when a folder entry declares a
 * size (what follows it could not be told apart from its contents). */
#ifndef INSTALLER_PACKAGE_H
#define INSTALLER_PACKAGE_H

#include <windows.h>

#include <stddef.h>

#define PACKAGE_ENTRY_HEADER_SIZE 1636
/* Attribute bit of a folder entry (FILE_ATTRIBUTE_DIRECTORY). */
#define PACKAGE_FOLDER_ATTRIBUTE 0x10
/* Characters of the name and folder fields, terminator included. */
#define PACKAGE_NAME_CHARS 260

/* One entry's header. Bytes 0 to 591 have the layout of the desktop
 * WIN32_FIND_DATAW record. Times are file times (100 ns units since
 * 1601-01-01 UTC). */
struct PackageEntryHeader {
  DWORD attributes;               /* 0x10 set: a folder entry, without contents */
  FILETIME creation_time;
  FILETIME last_access_time;
  FILETIME last_write_time;
  DWORD size_high;                /* size, high 32 bits */
  DWORD size_low;                 /* bytes of contents that follow the header */
  DWORD reserved[2];              /* not read */
  WCHAR name[PACKAGE_NAME_CHARS]; /* zero-terminated */
  WCHAR short_name[14];           /* not read */
  WCHAR unused[260];              /* not read */
  WCHAR folder[PACKAGE_NAME_CHARS]; /* relative to the target folder; may be empty */
  DWORD unused_tail;              /* not read */
};

static_assert(sizeof(PackageEntryHeader) == PACKAGE_ENTRY_HEADER_SIZE, "entry header size");
static_assert(offsetof(PackageEntryHeader, size_low) == 32, "size field offset");
static_assert(offsetof(PackageEntryHeader, name) == 44, "name field offset");
static_assert(offsetof(PackageEntryHeader, folder) == 1112, "folder field offset");

/* Results of package_entry_check. */
#define PACKAGE_ENTRY_OK 0
#define PACKAGE_ENTRY_UNTERMINATED 1     /* name or folder fills its field */
#define PACKAGE_ENTRY_LEAVES_TARGET 2    /* a ".." component in name or folder */
#define PACKAGE_ENTRY_FOLDER_WITH_SIZE 3 /* a folder entry that declares contents */

/* Whether install_package accepts the entry: one of the codes above. */
int package_entry_check(const PackageEntryHeader* header);

/* 1 when install_package imports the (file) entry as a registry file: its
 * folder or name contains ".reg" or ".REG" (case kept: ".Reg" does not count).
 * The target folder is not part of the test. The header must have passed
 * package_entry_check. */
int package_entry_is_registry_file(const PackageEntryHeader* header);

/* The contents' size of a file entry: both halves of the size. */
unsigned long long package_entry_size(const PackageEntryHeader* header);

/* Creates target_folder with all its ancestors, then unpacks every entry of
 * the package file at package_path into it as "<target>/<folder>/<name>",
 * restoring each file's three times. Each file is written under a temporary
 * name beside its target, in chunks of at most PACKAGE_CHUNK_BYTES, and
 * renamed over the target only when it is complete and its times are set;
 * on a failure the temporary file is removed, so an existing file is never
 * replaced by a partial one. Returns 1 when the package was processed to its
 * end, 0 on the first failure: a refused entry, a package that ends inside
 * an entry, a failed read or write, a failed registry import (each reported
 * by a message box, the standard output or the debug output as it happened).
 * Files completed and registry changes imported before a failure stay. */
int install_package(const WCHAR* target_folder, const WCHAR* package_path);

/* The largest piece of a file's contents held in memory at once. */
#define PACKAGE_CHUNK_BYTES (1u << 20)
/* Appended to a file's path for the temporary file it is written to. */
#define PACKAGE_TEMPORARY_SUFFIX TEXT(".velinstall-part")

#endif
