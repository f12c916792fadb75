/* The registry part of the Win32 subset, as Windows CE has it.
 *
 * Four independent roots (HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
 * HKEY_LOCAL_MACHINE, HKEY_USERS). Key and value names compare
 * case-insensitively and keep the case they were created with. Every call
 * returns its Win32 error code and leaves the last error alone.
 *
 * Windows CE behaviour kept where it differs from desktop Windows:
 * - the access mask of an open or created key is recorded but not enforced;
 * - RegDeleteKeyW deletes a key together with all its subkeys.
 *
 * On the host the registry lives in the text file "registry.reg" in the device
 * root. Every change rewrites it durably before the call returns; changes made
 * by other processes on the same device root are seen by the next call. */
#pragma once

#include "plat/wintypes.h"

typedef DWORD REGSAM;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

/* Value types. */
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

/* Access rights (recorded, not enforced). */
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x00020019
#define KEY_WRITE 0x00020006
#define KEY_EXECUTE 0x00020019
#define KEY_ALL_ACCESS 0x000F003F

#define REG_OPTION_RESERVED 0x00000000
#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001

/* Dispositions of RegCreateKeyExW. */
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

#ifndef ERROR_NOACCESS
#define ERROR_NOACCESS 998L
#endif
#ifndef ERROR_BAD_PATHNAME
#define ERROR_BAD_PATHNAME 161L
#endif

/* Creates every missing key of `sub_key` (backslash-separated) under `key`
 * and opens the last one; `disposition` (optional) tells whether it was new.
 * A null or empty `sub_key` opens `key` itself. */
LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD reserved, LPWSTR class_name,
                            DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                            PHKEY result, LPDWORD disposition);
/* Opens an existing key: ERROR_FILE_NOT_FOUND when any part of the path is missing. */
LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD options, REGSAM access,
                          PHKEY result);
LONG WINAPI RegCloseKey(HKEY key);
/* The store is written through on every change; flushing only checks the handle. */
LONG WINAPI RegFlushKey(HKEY key);
/* Deletes the key with its subkeys. */
LONG WINAPI RegDeleteKeyW(HKEY key, LPCWSTR sub_key);

/* A null or empty value name is the key's default value. The data is stored
 * exactly as given, whatever the type. */
LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR value_name, DWORD reserved, DWORD type,
                           const BYTE* data, DWORD data_size);
/* `type` and `data_size` are optional outputs. Null data asks for the size;
 * a buffer that is too small gives ERROR_MORE_DATA with the size needed. */
LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR value_name, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD data_size);
LONG WINAPI RegDeleteValueW(HKEY key, LPCWSTR value_name);

/* Subkeys in the order of their names (case-insensitive); `name_size` is in
 * characters: the buffer's size on input, the name's length on output. */
LONG WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_size,
                          LPDWORD reserved, LPWSTR class_name, LPDWORD class_size,
                          LPFILETIME last_write_time);
/* Values in the order they were first set. */
LONG WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_size,
                          LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD data_size);
