/* Importing a registry file in the REGEDIT4 text form. */
#include "reg_import.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "message_box.h"

namespace {

const char* const kRootNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                  "HKEY_USERS"};
const HKEY kRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};

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

/* The value of a hexadecimal digit, or -1 for any other character. */
int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_line_end(char c) { return c == '\r' || c == '\n'; }

/* True when only blanks and line-end characters lie in line[at, end). */
bool only_blanks(const char* line, int at, int end) {
  for (int i = at; i < end; i++)
    if (!is_blank(line[i]) && !is_line_end(line[i])) return false;
  return true;
}

bool starts_with(const char* line, int at, int end, const char* prefix) {
  size_t n = strlen(prefix);
  return at >= 0 && (size_t)(end - at) >= n && memcmp(line + at, prefix, n) == 0;
}

/* "dword:" takes 1 to 8 hexadecimal digits, and nothing but blanks after them. */
LONG set_dword(HKEY key, const WCHAR* name, const char* line, int at, int end) {
  DWORD value = 0;
  int digits = 0;
  for (; at < end && hex_digit(line[at]) >= 0; at++, digits++)
    value = value << 4 | (DWORD)hex_digit(line[at]);
  if (digits < 1 || digits > 8 || !only_blanks(line, at, end)) return -1;
  BYTE data[4] = {(BYTE)value, (BYTE)(value >> 8), (BYTE)(value >> 16), (BYTE)(value >> 24)};
  return RegSetValueExW(key, name, 0, REG_DWORD, data, 4);
}

/* "hex:" takes bytes of one or two hexadecimal digits separated by ","; an
 * empty list is a value of no bytes, an empty entry is refused. */
LONG set_binary(HKEY key, const WCHAR* name, const char* line, int at, int end) {
  std::vector<BYTE> data;
  if (!only_blanks(line, at, end)) {
    for (;;) {
      int digits = 0, value = 0;
      for (; at < end && hex_digit(line[at]) >= 0; at++, digits++)
        if (digits < 2) value = value << 4 | hex_digit(line[at]);
      if (digits < 1 || digits > 2) return -1;
      data.push_back((BYTE)value);
      if (at < end && line[at] == ',') {
        at++;
        continue;
      }
      if (!only_blanks(line, at, end)) return -1;
      break;
    }
  }
  return RegSetValueExW(key, name, 0, REG_BINARY, data.empty() ? NULL : data.data(),
                        (DWORD)data.size());
}

LONG set_string(HKEY key, const WCHAR* name, const char* line, int at, int end) {
  /* The unit after the text is always zero, so the platform sees the same
   * memory whatever came before: Windows CE stores the bytes given, desktop
   * Windows counts such a zero as the terminator the size left out. */
  std::basic_string<WCHAR> data;
  while (at < end && line[at] != '"') {
    if (line[at] == '\\') {
      /* A pair gives one backslash; a lone backslash is dropped. */
      at++;
      if (at < end && line[at] == '\\') {
        data += (WCHAR)'\\';
        at++;
      }
      continue;
    }
    data += widen(line[at++]);
  }
  if (at >= end) return -1; /* no closing quote */
  return RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)data.c_str(),
                        (DWORD)(data.size() * sizeof(WCHAR)));
}

void close_key(HKEY* key) {
  if (!*key) return;
  RegFlushKey(*key);
  RegCloseKey(*key);
  *key = 0;
}

/* Shows the text of a failing line (as the file has it, line ends included)
 * in the error box, titled with the file's name. */
void show_line(const std::string& raw, const WCHAR* path) {
  std::vector<WCHAR> text(raw.size() + 1);
  int n = _snwprintf(text.data(), raw.size() + 1, TEXT("%S"), raw.c_str());
  if (n < 0 || (size_t)n > raw.size()) n = (int)raw.size();
  text[(size_t)n] = 0;
  const WCHAR* slash = wcsrchr(path, '/');
  show_message_box(text.data(), slash ? slash + 1 : path, MB_ICONERROR);
}

/* Appends the next line of file, its line end included, to raw; false at the
 * end of the file with nothing read. */
bool read_line(FILE* file, std::string* raw) {
  bool any = false;
  for (int c; (c = getc(file)) != EOF;) {
    any = true;
    *raw += (char)c;
    if (c == '\n') break;
  }
  return any;
}

/* The length of text without its line end. */
size_t without_line_end(const std::string& text, size_t from) {
  size_t end = text.size();
  while (end > from && is_line_end(text[end - 1])) end--;
  return end;
}

/* Reads one logical line: a value line whose text ends with a backslash goes
 * on in the next line, whose leading blanks are skipped. raw gets the lines as
 * the file has them, text the joined text without line ends. */
bool read_logical_line(FILE* file, std::string* raw, std::string* text) {
  raw->clear();
  text->clear();
  if (!read_line(file, raw)) return false;
  text->assign(*raw, 0, without_line_end(*raw, 0));
  if ((*text)[0] != '"') return true;
  while (!text->empty() && text->back() == '\\') {
    text->pop_back();
    size_t start = raw->size();
    if (!read_line(file, raw)) break;
    size_t end = without_line_end(*raw, start);
    while (start < end && is_blank((*raw)[start])) start++;
    text->append(*raw, start, end - start);
  }
  return true;
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
  std::string raw, text;
  if (!read_line(file, &raw)) {
    fclose(file);
    return 0;
  }
  if (raw != "REGEDIT4\r\n") {
    fclose(file);
    return -1;
  }
  HKEY current = 0;
  while (read_logical_line(file, &raw, &text)) {
    int length = (int)text.size();
    const char* line = text.c_str();
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
      show_line(raw, path);
      close_key(&current);
      fclose(file);
      return -1;
    }
  }
  close_key(&current);
  fclose(file);
  return 0;
}
