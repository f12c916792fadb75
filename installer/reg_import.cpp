/* Importing a registry file in the REGEDIT4 text form. */
#include "reg_import.h"

#include <stdio.h>
#include <string.h>

#include "message_box.h"

namespace {

const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                  "HKEY_USERS"};
const HKEY kRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};

/* Characters of a string value that fit the value buffer. */
const int kStringChars = REG_LINE_BYTES / 2;

/* The length of a line's text: up to its first zero byte, at most size. */
int text_length(const char* line, int size) {
  if (!line || size <= 0) return 0;
  const void* zero = memchr(line, 0, (size_t)size);
  return zero ? (int)((const char*)zero - line) : size;
}

/* The first position of c in line[from, end), or -1. */
int find(const char* line, int from, int end, char c) {
  for (int i = from; i < end; i++)
    if (line[i] == c) return i;
  return -1;
}

/* A byte as one UTF-16 unit, sign-extended. */
WCHAR widen(char c) { return (WCHAR)(short)(signed char)c; }

/* Widens count bytes into a terminated name; false when they are too many. */
bool widen_name(const char* text, int count, WCHAR* out) {
  if (count < 0 || count > REG_NAME_CHARS) return false;
  for (int i = 0; i < count; i++) out[i] = widen(text[i]);
  out[count] = 0;
  return true;
}

/* The digit value of a hexadecimal character; other characters give
 * meaningless values. */
int hex_digit(char c) { return (c & 0x0F) + ((c & 0x40) ? 9 : 0); }

bool starts_with(const char* line, int at, int end, const char* prefix) {
  size_t n = strlen(prefix);
  return at >= 0 && (size_t)(end - at) >= n && memcmp(line + at, prefix, n) == 0;
}

LONG set_dword(HKEY key, const WCHAR* name, const char* line, int at, int end) {
  DWORD value = 0;
  for (int i = 0; i < 8; i++) {
    /* Characters past the line's end read as zero bytes. */
    char c = at + i < end ? line[at + i] : 0;
    value = value << 4 | (DWORD)hex_digit(c);
  }
  BYTE data[4] = {(BYTE)value, (BYTE)(value >> 8), (BYTE)(value >> 16), (BYTE)(value >> 24)};
  return RegSetValueExW(key, name, 0, REG_DWORD, data, 4);
}

LONG set_binary(HKEY key, const WCHAR* name, const char* line, int at, int end) {
  BYTE data[REG_LINE_BYTES];
  int count = 0;
  auto char_at = [&](int i) -> char { return i < end ? line[i] : 0; };
  for (;;) {
    if (count == REG_LINE_BYTES) return -1;
    data[count++] = (BYTE)(hex_digit(char_at(at)) << 4 | hex_digit(char_at(at + 1)));
    at += 2;
    if (char_at(at) != ',') break;
    at++;
  }
  return RegSetValueExW(key, name, 0, REG_BINARY, data, (DWORD)count);
}

LONG set_string(HKEY key, const WCHAR* name, const char* line, int at, int end) {
  /* The unit after the text is always zero, so the platform sees the same
   * memory whatever came before: Windows CE stores the bytes given, desktop
   * Windows counts such a zero as the terminator the size left out. */
  WCHAR data[kStringChars + 1] = {0};
  int count = 0;
  while (at < end && line[at] != '"') {
    if (line[at] == '\\') {
      /* A pair gives one backslash; a lone backslash is dropped. */
      at++;
      if (at < end && line[at] == '\\') {
        if (count == kStringChars) return -1;
        data[count++] = '\\';
        at++;
      }
      continue;
    }
    if (count == kStringChars) return -1;
    data[count++] = widen(line[at++]);
  }
  if (at >= end) return -1; /* no closing quote */
  return RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)data, (DWORD)(count * sizeof(WCHAR)));
}

void close_key(HKEY* key) {
  if (!*key) return;
  RegFlushKey(*key);
  RegCloseKey(*key);
  *key = 0;
}

void show_line(const char* line, const WCHAR* path) {
  WCHAR text[REG_LINE_BYTES + 1];
  int n = _snwprintf(text, REG_LINE_BYTES, TEXT("%S"), line);
  if (n < 0) n = REG_LINE_BYTES;
  text[n] = 0;
  const WCHAR* slash = wcsrchr(path, '/');
  show_message_box(text, slash ? slash + 1 : path, MB_ICONERROR);
}

}  // namespace

HKEY reg_root_from_name(const char* text, int length) {
  if (length < 0 || (!text && length > 0)) return 0;
  for (size_t i = 0; i < sizeof kRoots / sizeof kRoots[0]; i++) {
    if ((size_t)length <= strlen(kRootNames[i]) &&
        (length == 0 || memcmp(kRootNames[i], text, (size_t)length) == 0))
      return kRoots[i];
  }
  return 0;
}

HKEY reg_open_key_line(const char* line, int length) {
  int end = text_length(line, length);
  int open = find(line, 0, end, '[');
  if (open < 0) return 0;
  int backslash = find(line, open + 1, end, '\\');
  if (backslash < 0) return 0;
  int close = find(line, backslash + 1, end, ']');
  if (close < 0) return 0;
  HKEY root = reg_root_from_name(line + open + 1, backslash - open - 1);
  WCHAR path[REG_NAME_CHARS + 1];
  if (!root || !widen_name(line + backslash + 1, close - backslash - 1, path)) return 0;
  HKEY key = 0;
  if (RegCreateKeyExW(root, path, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
    return 0;
  return key;
}

LONG reg_delete_key_line(const char* line, int length) {
  int end = text_length(line, length);
  int start = -1;
  for (int i = 0; i + 1 < end && start < 0; i++)
    if (line[i] == '[' && line[i + 1] == '-') start = i;
  if (start < 0) return -1;
  int root_start = start + 2;
  int first = find(line, root_start, end, '\\');
  if (first < 0) return -1;
  int last = first;
  for (int i = first + 1; i < end; i++)
    if (line[i] == '\\') last = i;
  int close = find(line, last + 1, end, ']');
  if (close < 0) return -1;
  HKEY root = reg_root_from_name(line + root_start, first - root_start);
  WCHAR parent_path[REG_NAME_CHARS + 1], leaf[REG_NAME_CHARS + 1];
  int parent_length = last > first ? last - first - 1 : 0;
  if (!root || !widen_name(line + first + 1, parent_length, parent_path) ||
      !widen_name(line + last + 1, close - last - 1, leaf))
    return -1;
  /* An empty leaf would name the parent itself, or the root. */
  if (!leaf[0]) return -1;
  HKEY parent = 0;
  LONG result = RegOpenKeyExW(root, parent_path, 0, KEY_WRITE, &parent);
  if (result != ERROR_SUCCESS) return result;
  result = RegDeleteKeyW(parent, leaf);
  if (result == ERROR_SUCCESS) RegFlushKey(parent);
  RegCloseKey(parent);
  return result;
}

LONG reg_set_value_line(HKEY key, const char* line, int size) {
  int end = text_length(line, size);
  int open = find(line, 0, end, '"');
  if (open < 0) return -1;
  int close = find(line, open + 1, end, '"');
  if (close < 0) return -1;
  WCHAR name[REG_NAME_CHARS + 1];
  if (!widen_name(line + open + 1, close - open - 1, name)) return -1;
  int at = close + 1;
  if (starts_with(line, at, end, "=-")) return RegDeleteValueW(key, name);
  if (starts_with(line, at, end, "=dword:")) return set_dword(key, name, line, at + 7, end);
  if (starts_with(line, at, end, "=hex:")) return set_binary(key, name, line, at + 5, end);
  if (starts_with(line, at, end, "=\"")) return set_string(key, name, line, at + 2, end);
  return -1;
}

int import_reg_file(const WCHAR* path) {
  if (!path) return -1;
  FILE* file = _wfopen(path, TEXT("rb"));
  if (!file) return -1;
  char line[REG_LINE_BYTES];
  if (!fgets(line, sizeof line, file)) {
    fclose(file);
    return 0;
  }
  if (strcmp(line, "REGEDIT4\r\n") != 0) {
    fclose(file);
    return -1;
  }
  HKEY current = 0;
  while (fgets(line, sizeof line, file)) {
    int length = (int)strlen(line);
    bool failed = false;
    if (line[0] == '[') {
      close_key(&current);
      if (line[1] == '-') {
        failed = reg_delete_key_line(line, length) != 0;
      } else {
        current = reg_open_key_line(line, length);
        failed = !current;
      }
    } else if (line[0] == '"' && current) {
      failed = reg_set_value_line(current, line, length) != 0;
    }
    if (failed) {
      show_line(line, path);
      close_key(&current);
      fclose(file);
      return -1;
    }
  }
  close_key(&current);
  fclose(file);
  return 0;
}
