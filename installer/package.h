/* Unpacking an installation package into a target folder.
 *
 * A package is a plain sequence of entries, read front to back, with no file
 * header and no trailer. Each entry is a PackageEntryHeader (1636 bytes, all
 * integers little-endian) followed, for a file entry, by the file's contents.
 * Every unpacked file whose path contains ".reg" or ".REG" is imported into
 * the registry with import_reg_file and then deleted.
 *
 * Entries are refused, and the installation fails, when their name or folder
 * is not terminated within its field or has a ".." component: a package
 * cannot write outside the target folder. */
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
  DWORD size_high;                /* must be 0 for the contents to be written */
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

/* Creates target_folder with all its ancestors, then unpacks every entry of
 * the package file at package_path into it as "<target>/<folder>/<name>",
 * restoring each file's three times. A file whose contents are cut short by
 * the end of the package stays empty and the installation goes on. Returns 1
 * when the package was processed to its end, 0 on the first failure (which
 * has been reported by a message box or on the standard output as it
 * happened); nothing written before a failure is undone. */
int install_package(const WCHAR* target_folder, const WCHAR* package_path);

#endif
