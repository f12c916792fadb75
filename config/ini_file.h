/* The access context and the line scanner shared by the INI reader and writer.
 *
 * An INI file is UTF-16LE when it starts with FF FE (reading then starts at
 * offset 2), else 8-bit text in the ANSI code page read from offset 0. Lines end
 * at a line feed and are read in pieces of at most 511 UTF-16 units or 1023
 * bytes; each piece is parsed as a line of its own:
 *   ";" in column 0          comment
 *   "[" ... "]" ...          header, the name is the text up to the first "]"
 *   "[" without "]"          ignored (neither opens nor closes a section)
 *   other text with "="      key line: key trimmed of spaces (0x20 only),
 *                            value without leading spaces and without
 *                            trailing spaces, CR and LF
 * Names compare exactly, unit by unit. Only the first header that names the
 * section counts: the next valid header ends it. */
#ifndef CONFIG_INI_FILE_H
#define CONFIG_INI_FILE_H

#include <stdio.h>
#include <windows.h>

/* One per call, on the caller's stack. */
struct IniFile {
  FILE* stream;          /* opened "rb+" */
  int is_utf16;          /* the file starts with FF FE */
  int wide_api;          /* the caller's strings are UTF-16: always set here */
  WCHAR line[512];       /* line buffer: 512 UTF-16 units or 1024 bytes */
  WCHAR work[512];       /* converted section, key, value, then the result area */
  const WCHAR* path;
  const void* section;   /* in the file's encoding */
  const void* key;
  const void* value;
  void* result;          /* where a found value is collected */
  int result_capacity;   /* units that fit in the result area */
  int result_length;     /* length of the found value, in the file's units */
};

enum IniScanStop {
  INI_SCAN_KEY_FOUND = 1,    /* the key's line is [line_start, line_end) */
  INI_SCAN_SECTION_END = 2,  /* a header after the section begins at line_start */
  INI_SCAN_END_OF_FILE = 3   /* nothing more; position is the end of the text */
};

struct IniScan {
  int stop;            /* IniScanStop */
  int section_found;   /* the section's header was seen */
  int read_error;      /* the scan ended on a failed read, not at the end */
  long line_start;
  long line_end;
  long position;       /* INI_SCAN_END_OF_FILE: offset after the last whole unit */
  int value_offset;    /* INI_SCAN_KEY_FOUND: the trimmed value in `line`, in units */
  int value_length;
};

/* Opens path "rb+", detects the encoding and positions after the mark.
 * 0, or -1 when the file cannot be opened for update. */
int ini_file_open(IniFile* file, const WCHAR* path);

/* Sets section, key and (optional) value in the file's encoding: used directly
 * for a UTF-16 file (the result area is then the whole work area, 512 units),
 * converted one after another into the work area for an ANSI file (the result
 * area is what remains of its 1024 bytes). 0, or -1 when they do not fit. */
int ini_file_set_strings(IniFile* file, const WCHAR* section, const WCHAR* key,
                         const WCHAR* value);

/* Scans from the current position (right after ini_file_open) for the key of
 * the section; the found line, if any, is left in file->line. */
void ini_file_scan(IniFile* file, IniScan* scan);

/* Closes the stream; accepts a context whose stream is already closed. */
void ini_file_close(IniFile* file);

#endif
