/* The file part of the Win32 subset: handle-based files, folders, attributes,
 * file times, searches, byte-range locks and the program's own path, and the
 * CRT's C streams opened by device path with the wide stream calls on WCHAR.
 *
 * Paths are device paths: "\residentflash2\x" (a path without a leading
 * separator is rooted too; "/" separates as well as "\"), matched
 * case-insensitively inside the device root. Named devices ("COM13:",
 * "VIP1:") open through CreateFileW when a platform module serves them.
 *
 * Host limits: share modes are accepted and not enforced (a file open
 * elsewhere can be deleted or replaced); the hidden, system and archive
 * attributes and a set creation time are kept in extended attributes of the
 * host file system and are lost where it has none. */
#pragma once

#include <stdio.h>
/* The C library's wide declarations come first: fgetwc below is a macro. */
#include <wchar.h>
#ifdef __cplusplus
#include <cwchar>
#endif

#include "plat/wintypes.h"

/* ---- Access, sharing, dispositions, attributes ---- */
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u

#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_RANDOM_ACCESS 0x10000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_WRITE_THROUGH 0x00000008

#define LOCKFILE_FAIL_IMMEDIATELY 0x00000001
#define LOCKFILE_EXCLUSIVE_LOCK 0x00000002

#ifndef ERROR_GEN_FAILURE
#define ERROR_GEN_FAILURE 31L
#endif
#ifndef ERROR_NOT_LOCKED
#define ERROR_NOT_LOCKED 158L
#endif
#ifndef ERROR_FILENAME_EXCED_RANGE
#define ERROR_FILENAME_EXCED_RANGE 206L
#endif
#ifndef ERROR_DIRECTORY
#define ERROR_DIRECTORY 267L
#endif

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

/* The desktop form of the find record (the installer's package entries use
 * its layout). */
typedef struct _WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *PWIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

/* ---- Files ---- */
HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share,
                          LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags_and_attributes, HANDLE template_file);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read,
                     LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
                      LPOVERLAPPED overlapped);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method);
BOOL WINAPI SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER new_position,
                             DWORD method);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD size_high);
BOOL WINAPI SetEndOfFile(HANDLE file);
BOOL WINAPI FlushFileBuffers(HANDLE file);
BOOL WINAPI GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME last_access,
                        LPFILETIME last_write);
BOOL WINAPI SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* last_access,
                        const FILETIME* last_write);

/* Locks are exclusive to the handle that holds them: a second lock of an
 * overlapping range fails with ERROR_LOCK_VIOLATION, through this handle or
 * any other, and other handles of this process cannot read or write a range
 * locked against them. Other processes see the locks (fcntl locks on the
 * open file) but are not kept from reading or writing. */
BOOL WINAPI LockFile(HANDLE file, DWORD offset_low, DWORD offset_high, DWORD bytes_low,
                     DWORD bytes_high);
BOOL WINAPI UnlockFile(HANDLE file, DWORD offset_low, DWORD offset_high, DWORD bytes_low,
                       DWORD bytes_high);
BOOL WINAPI LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytes_low,
                       DWORD bytes_high, LPOVERLAPPED overlapped);
BOOL WINAPI UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytes_low, DWORD bytes_high,
                         LPOVERLAPPED overlapped);

/* ---- Names ---- */
BOOL WINAPI DeleteFileW(LPCWSTR path);
/* Fails with ERROR_ALREADY_EXISTS when the target exists. */
BOOL WINAPI MoveFileW(LPCWSTR existing, LPCWSTR target);
/* MOVEFILE_REPLACE_EXISTING replaces a file in one atomic rename;
 * MOVEFILE_WRITE_THROUGH returns once the rename is on the disk. */
BOOL WINAPI MoveFileExW(LPCWSTR existing, LPCWSTR target, DWORD flags);
BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
BOOL WINAPI RemoveDirectoryW(LPCWSTR path);
DWORD WINAPI GetFileAttributesW(LPCWSTR path);
BOOL WINAPI SetFileAttributesW(LPCWSTR path, DWORD attributes);

/* Wildcards * and ? in the last component, matched case-insensitively; "."
 * and ".." are not reported (as on Windows CE). */
HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
BOOL WINAPI FindNextFileW(HANDLE search, LPWIN32_FIND_DATAW data);
BOOL WINAPI FindClose(HANDLE search);

/* The running program's device path for a null module (or the program's
 * instance). A buffer too small receives the path truncated and terminated;
 * the result is then the buffer's size, with ERROR_INSUFFICIENT_BUFFER. */
DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);

/* ---- C streams (the CRT's wide entry points) ----
 * Modes "r", "w", "a", each with "+" and "b" or "t". A text stream (no "b")
 * reads "\r\n" as "\n", ends at a Ctrl-Z byte, and writes every "\n" as
 * "\r\n"; ftell and fseek on it use raw file offsets, as the CRT's do. A text
 * stream is unbuffered on the host, so that its position is always exact. */
FILE* _wfopen(const WCHAR* path, const WCHAR* mode);
int _wremove(const WCHAR* path);
/* Fails (EACCES) when the new name exists. */
int _wrename(const WCHAR* old_path, const WCHAR* new_path);
int _wmkdir(const WCHAR* path);

/* Wide stream calls with the CRT's rules: on a binary stream a character is
 * two bytes, UTF-16LE; on a text stream it is one multibyte character of the
 * ANSI code page. The result type and WEOF are the C library's. */
WCHAR* fgetws(WCHAR* buffer, int count, FILE* stream);
int fputws(const WCHAR* text, FILE* stream);
wint_t fputwc(WCHAR c, FILE* stream);
#ifdef __cplusplus
extern "C" {
#endif
wint_t plat_fgetwc(FILE* stream);
#ifdef __cplusplus
}
#endif
/* fgetwc(FILE*) cannot be told from the C library's by its arguments. */
#define fgetwc(stream) plat_fgetwc(stream)
