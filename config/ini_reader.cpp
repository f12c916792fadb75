/* INI lookups: ini_read_string and ini_read_int over the shared scanner, and the
 * simpler text-mode ini_lookup_value. */
#include "ini_reader.h"

#include <stdlib.h>
#include <string.h>

#include "ini_file.h"

namespace {

const int kIntText = 20;      /* characters read for ini_read_int */
const int kLookupLine = 255;  /* ini_lookup_value's line buffer */

/* The ASCII form of a number's text for the C conversions; any other character
 * becomes DEL, which ends a number. */
void number_text(const WCHAR* s, char* out, int capacity) {
  int i = 0;
  for (; s[i] && i < capacity - 1; i++) out[i] = s[i] < 0x80 ? (char)s[i] : '\x7f';
  out[i] = 0;
}

int decimal(const WCHAR* s) {
  char text[kLookupLine + 1];
  number_text(s, text, (int)sizeof text);
  long long v = strtoll(text, NULL, 10);
  return (int)(unsigned int)(unsigned long long)v;
}

double real_number(const WCHAR* s) {
  char text[kLookupLine + 1];
  number_text(s, text, (int)sizeof text);
  return strtod(text, NULL);
}

/* Scans for the value and leaves it, cut to fit, in the context's result area.
 * Returns its length in the file's units (0: not found or empty). */
int find_value(IniFile* file, const WCHAR* section, const WCHAR* key, int size) {
  if (ini_file_set_strings(file, section, key, NULL) != 0) return 0;
  int n = size < file->result_capacity ? size : file->result_capacity;
  if (n < 2) return 0;
  IniScan scan;
  ini_file_scan(file, &scan);
  if (scan.stop != INI_SCAN_KEY_FOUND) return 0;
  int take = scan.value_length < n - 1 ? scan.value_length : n - 1;
  if (file->is_utf16) {
    WCHAR* result = static_cast<WCHAR*>(file->result);
    memcpy(result, file->line + scan.value_offset, (size_t)take * sizeof(WCHAR));
    result[take] = 0;
  } else {
    char* result = static_cast<char*>(file->result);
    memcpy(result, reinterpret_cast<const char*>(file->line) + scan.value_offset, (size_t)take);
    result[take] = 0;
  }
  file->result_length = take;
  return take;
}

}  // namespace

int ini_read_string(const WCHAR* section, const WCHAR* key, const WCHAR* default_value,
                    WCHAR* buffer, int size, const WCHAR* path) {
  if (!buffer || size <= 0) return 0;
  buffer[0] = 0;
  if (size == 1) return 0;

  if (section && key) {
    IniFile file;
    if (ini_file_open(&file, path) == 0) {
      int length = find_value(&file, section, key, size);
      ini_file_close(&file);
      if (length > 0) {
        if (file.is_utf16) {
          memcpy(buffer, file.result, (size_t)(length + 1) * sizeof(WCHAR));
          return length;
        }
        if (MultiByteToWideChar(CP_ACP, 0, static_cast<const char*>(file.result), length + 1,
                                buffer, size) > 0)
          return length;
        buffer[0] = 0;
      }
    }
  }

  if (!default_value) return 0;
  int count = (int)wcslen(default_value);
  if (count > size - 1) count = size - 1;
  memcpy(buffer, default_value, (size_t)count * sizeof(WCHAR));
  buffer[count] = 0;
  return count;
}

int ini_read_int(const WCHAR* section, const WCHAR* key, int default_value, const WCHAR* path) {
  WCHAR text[kIntText];
  memset(text, 0, sizeof text);
  if (section && key && path) ini_read_string(section, key, NULL, text, kIntText, path);
  if (text[0] == 0) return default_value;
  return decimal(text);
}

namespace {

/* The text-mode line reading of ini_lookup_value. 8-bit text is read as the C
 * library's text mode decodes it. A file that begins with the UTF-16LE mark
 * FF FE is read as UTF-16, with "\r\n" becoming "\n", as the device's library
 * reads it in text mode (a desktop library would take its bytes for 8-bit
 * text, and no key would ever match). */
struct LookupStream {
  FILE* file;
  bool utf16;
  int pending;  /* a unit read ahead after a lone "\r", or -1 */
};

bool lookup_open(const WCHAR* path, LookupStream* s) {
  s->pending = -1;
  s->utf16 = false;
  s->file = _wfopen(path, TEXT("rb"));
  if (!s->file) return false;
  unsigned char mark[2];
  if (fread(mark, 1, 2, s->file) == 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
    s->utf16 = true;
    return true;
  }
  fclose(s->file);
  s->file = _wfopen(path, TEXT("r"));
  return s->file != NULL;
}

/* The next UTF-16 unit of the file, or -1 at its end. */
int lookup_unit(LookupStream* s) {
  if (s->pending >= 0) {
    int unit = s->pending;
    s->pending = -1;
    return unit;
  }
  unsigned char bytes[2];
  if (fread(bytes, 1, 2, s->file) != 2) return -1;
  return bytes[0] | (bytes[1] << 8);
}

/* As fgetws: at most size-1 characters, up to and with the line feed; null
 * at the end of the file. */
WCHAR* lookup_line(LookupStream* s, WCHAR* line, int size) {
  if (!s->utf16) return fgetws(line, size, s->file);
  int n = 0;
  while (n < size - 1) {
    int unit = lookup_unit(s);
    if (unit < 0) break;
    if (unit == '\r') {
      int next = lookup_unit(s);
      if (next == '\n')
        unit = '\n';
      else
        s->pending = next;
    }
    line[n++] = (WCHAR)unit;
    if (unit == '\n') break;
  }
  if (n == 0) return NULL;
  line[n] = 0;
  return line;
}

}  // namespace

int ini_lookup_value(const WCHAR* path, const WCHAR* section, const WCHAR* key, void* out,
                     int count, int type) {
  if (!path || !section || !key || !out || count <= 0) return INI_LOOKUP_BAD_ARGUMENT;
  LookupStream stream;
  if (!lookup_open(path, &stream)) return INI_LOOKUP_NO_FILE;
  FILE* f = stream.file;

  WCHAR line[kLookupLine];
  size_t section_length = wcslen(section);
  size_t key_length = wcslen(key);
  for (;;) {
    if (!lookup_line(&stream, line, kLookupLine)) {
      fclose(f);
      return INI_LOOKUP_NO_SECTION;
    }
    if (line[0] == ';') continue;
    if (line[0] == '[' && wcsncmp(line + 1, section, section_length) == 0 &&
        line[1 + section_length] == ']')
      break;
  }
  for (;;) {
    if (!lookup_line(&stream, line, kLookupLine) || line[0] == '[') {
      fclose(f);
      return INI_LOOKUP_NO_KEY;
    }
    if (line[0] == ';') continue;
    if (wcsncmp(line, key, key_length) == 0 && line[key_length] == '=') break;
  }
  fclose(f);

  const WCHAR* value = line + key_length + 1;
  if (type == INI_VALUE_INT || type == INI_VALUE_DOUBLE) {
    if (value[0] == 0) return INI_LOOKUP_EMPTY_VALUE;
    if (type == INI_VALUE_INT) {
      int v = decimal(value);
      memcpy(out, &v, sizeof v);
    } else {
      double v = real_number(value);
      memcpy(out, &v, sizeof v);
    }
    return INI_LOOKUP_OK;
  }
  size_t length = wcslen(value);
  if (length > 0 && value[length - 1] == '\n') length--;
  if (length > (size_t)count - 1) length = (size_t)count - 1;
  WCHAR* text = static_cast<WCHAR*>(out);
  memcpy(text, value, length * sizeof(WCHAR));
  text[length] = 0;
  return INI_LOOKUP_OK;
}
