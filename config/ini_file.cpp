/* The INI access context and line scanner. */
#include "ini_file.h"

namespace {

const int kLineBytes = 1024;
const int kLineUnits = 512;

/* Reads one line piece into the line buffer, terminated. Returns the bytes
 * consumed (0 at the end of the file or on a failed read). A UTF-16 file's
 * incomplete last unit is not consumed. */
int read_line(IniFile* file) {
  FILE* f = file->stream;
  if (file->is_utf16) {
    WCHAR* out = file->line;
    int units = 0;
    while (units < kLineUnits - 1) {
      int lo = getc(f);
      if (lo == EOF) break;
      int hi = getc(f);
      if (hi == EOF) break;
      WCHAR unit = (WCHAR)(lo | (hi << 8));
      out[units++] = unit;
      if (unit == 0x000A) break;
    }
    out[units] = 0;
    return units * 2;
  }
  char* out = reinterpret_cast<char*>(file->line);
  int bytes = 0;
  while (bytes < kLineBytes - 1) {
    int c = getc(f);
    if (c == EOF) break;
    out[bytes++] = (char)c;
    if (c == '\n') break;
  }
  out[bytes] = 0;
  return bytes;
}

template <class Unit>
int length_of(const Unit* s) {
  int n = 0;
  while (s[n]) n++;
  return n;
}

/* The units of s[0..n) equal the terminated string name. */
template <class Unit>
bool same_name(const Unit* s, int n, const Unit* name) {
  for (int i = 0; i < n; i++) {
    if (name[i] == 0 || name[i] != s[i]) return false;
  }
  return name[n] == 0;
}

enum LineKind { LINE_IGNORED, LINE_HEADER, LINE_KEY };

struct ParsedLine {
  int kind;
  bool matches;      /* header: names the section; key line: the key */
  int value_offset;  /* key line */
  int value_length;
};

template <class Unit>
ParsedLine parse_line(const Unit* line, const Unit* section, const Unit* key) {
  ParsedLine parsed = {LINE_IGNORED, false, 0, 0};
  int length = length_of(line);
  if (length == 0 || line[0] == ';') return parsed;
  if (line[0] == '[') {
    for (int i = 1; i < length; i++) {
      if (line[i] == ']') {
        parsed.kind = LINE_HEADER;
        parsed.matches = same_name(line + 1, i - 1, section);
        return parsed;
      }
    }
    return parsed;
  }
  int equals = -1;
  for (int i = 0; i < length; i++) {
    if (line[i] == '=') {
      equals = i;
      break;
    }
  }
  if (equals < 0) return parsed;
  parsed.kind = LINE_KEY;
  int key_begin = 0, key_end = equals;
  while (key_begin < key_end && line[key_begin] == ' ') key_begin++;
  while (key_end > key_begin && line[key_end - 1] == ' ') key_end--;
  parsed.matches = same_name(line + key_begin, key_end - key_begin, key);
  int value_begin = equals + 1, value_end = length;
  while (value_begin < value_end && line[value_begin] == ' ') value_begin++;
  while (value_end > value_begin &&
         (line[value_end - 1] == ' ' || line[value_end - 1] == '\r' || line[value_end - 1] == '\n'))
    value_end--;
  parsed.value_offset = value_begin;
  parsed.value_length = value_end - value_begin;
  return parsed;
}

ParsedLine parse(const IniFile* file) {
  if (file->is_utf16)
    return parse_line(file->line, static_cast<const WCHAR*>(file->section),
                      static_cast<const WCHAR*>(file->key));
  return parse_line(reinterpret_cast<const char*>(file->line),
                    static_cast<const char*>(file->section), static_cast<const char*>(file->key));
}

}  // namespace

int ini_file_open(IniFile* file, const WCHAR* path) {
  file->stream = NULL;
  file->is_utf16 = 0;
  file->wide_api = 1;
  file->path = path;
  file->section = file->key = file->value = NULL;
  file->result = NULL;
  file->result_capacity = 0;
  file->result_length = 0;
  file->line[0] = 0;
  if (!path) return -1;
  FILE* f = _wfopen(path, TEXT("rb+"));
  if (!f) return -1;
  unsigned char head[4] = {0, 0, 0, 0};
  size_t got = fread(head, 1, sizeof head, f);
  file->is_utf16 = got >= 2 && head[0] == 0xFF && head[1] == 0xFE;
  if (fseek(f, file->is_utf16 ? 2 : 0, SEEK_SET) != 0) {
    fclose(f);
    return -1;
  }
  file->stream = f;
  return 0;
}

int ini_file_set_strings(IniFile* file, const WCHAR* section, const WCHAR* key,
                         const WCHAR* value) {
  if (!section || !key) return -1;
  if (file->is_utf16) {
    file->section = section;
    file->key = key;
    file->value = value;
    file->result = file->work;
    file->result_capacity = kLineUnits;
    return 0;
  }
  char* out = reinterpret_cast<char*>(file->work);
  int left = kLineBytes;
  const WCHAR* strings[3] = {section, key, value};
  const void** slots[3] = {&file->section, &file->key, &file->value};
  for (int i = 0; i < 3; i++) {
    *slots[i] = NULL;
    if (!strings[i]) continue;
    int n = left > 0 ? WideCharToMultiByte(CP_ACP, 0, strings[i], -1, out, left, NULL, NULL) : 0;
    if (n <= 0) return -1;
    *slots[i] = out;
    out += n;
    left -= n;
  }
  file->result = out;
  file->result_capacity = left;
  return 0;
}

void ini_file_scan(IniFile* file, IniScan* scan) {
  scan->stop = INI_SCAN_END_OF_FILE;
  scan->section_found = 0;
  scan->read_error = 0;
  scan->line_start = scan->line_end = 0;
  scan->value_offset = scan->value_length = 0;
  long position = ftell(file->stream);
  if (position < 0) {
    scan->read_error = 1;
    scan->position = 0;
    return;
  }
  for (;;) {
    long line_start = position;
    int consumed = read_line(file);
    if (consumed == 0) break;
    position += consumed;
    ParsedLine parsed = parse(file);
    if (parsed.kind == LINE_HEADER) {
      if (scan->section_found) {
        scan->stop = INI_SCAN_SECTION_END;
        scan->line_start = line_start;
        scan->position = position;
        return;
      }
      if (parsed.matches) scan->section_found = 1;
    } else if (parsed.kind == LINE_KEY && scan->section_found && parsed.matches) {
      scan->stop = INI_SCAN_KEY_FOUND;
      scan->line_start = line_start;
      scan->line_end = position;
      scan->position = position;
      scan->value_offset = parsed.value_offset;
      scan->value_length = parsed.value_length;
      return;
    }
  }
  scan->read_error = ferror(file->stream) ? 1 : 0;
  scan->position = position;
}

void ini_file_close(IniFile* file) {
  if (file->stream) fclose(file->stream);
  file->stream = NULL;
}
