/* Reading values from INI files such as "config.ini".
 *
 * Every call opens the file, scans it from the start and closes it: nothing is
 * cached. The format and the scanning rules are those of ini_file.h. */
#ifndef CONFIG_INI_READER_H
#define CONFIG_INI_READER_H

#include <windows.h>

/* Looks up key in the first section named section of the file at path and
 * copies its value into buffer (size characters, always terminated when size
 * > 0). Returns the value's length in the file's units (characters of a UTF-16
 * file, bytes of an ANSI file); a value is cut to size-1 units, and in a UTF-16
 * file to at most 511. A missing or unopenable file (read-only ones included), a
 * missing section or key, an empty value, and a null section or key all give the
 * default instead: min(its length, size-1) characters of default_value are
 * copied and their count returned, or, with a null default, an empty string and
 * 0. A null buffer or a size below 1 returns 0 and touches nothing. */
int ini_read_string(const WCHAR* section, const WCHAR* key, const WCHAR* default_value,
                    WCHAR* buffer, int size, const WCHAR* path);

/* The value of key read with ini_read_string (at most 19 characters) and
 * converted as decimal: leading white space, an optional sign, digits up to the
 * first non-digit (none gives 0); the low 32 bits of the result. default_value
 * when the value is empty or missing, or section, key or path is null. */
int ini_read_int(const WCHAR* section, const WCHAR* key, int default_value, const WCHAR* path);

/* Result types of ini_lookup_value. */
enum IniValueType {
  INI_VALUE_STRING = 0,  /* out: WCHAR[count] */
  INI_VALUE_INT = 1,     /* out: int32 */
  INI_VALUE_DOUBLE = 2   /* out: double */
};

/* Result codes of ini_lookup_value. */
enum IniLookupResult {
  INI_LOOKUP_OK = 0,
  INI_LOOKUP_BAD_ARGUMENT = -1,   /* a null argument, or count <= 0 */
  INI_LOOKUP_NO_FILE = -10,       /* the file could not be opened */
  INI_LOOKUP_NO_SECTION = -20,    /* end of file before the section's header */
  INI_LOOKUP_NO_KEY = -30,        /* next header or end of file before the key */
  INI_LOOKUP_EMPTY_VALUE = -40    /* INI_VALUE_INT or INI_VALUE_DOUBLE and the value is empty */
};

/* A simpler lookup with its own rules: the file is read as text ("r") in lines
 * of at most 254 characters; the header is "[" section "]" at the start of a
 * line, the key line is key "=" value at the start of a line, nothing is
 * trimmed, ";" lines are skipped and any line starting with "[" after the
 * header ends the section. Strings (any type other than 1 and 2) lose one
 * trailing line feed and are cut to count-1 characters, terminated. */
int ini_lookup_value(const WCHAR* path, const WCHAR* section, const WCHAR* key, void* out,
                     int count, int type);

#endif
