/* Importing a registry file in the REGEDIT4 text form.
 *
 * The file is 8-bit text of lines of any length, ending in CR LF or LF. The
 * first line must be exactly "REGEDIT4\r\n". A value line whose text ends
 * with "\" goes on in the next line, that line's leading blanks skipped (as
 * exporters wrap long binary values); any number of such lines may follow.
 * Then lines are matched by their first character:
 *   [ROOT\path]              open or create a key, which becomes the current key
 *   [-ROOT\path]             delete that key
 *   "name"=-                 delete a value of the current key
 *   "name"=dword:XXXXXXXX    REG_DWORD, 1 to 8 hexadecimal digits
 *   "name"=hex:01,ff,...     REG_BINARY, bytes of 1 or 2 hexadecimal digits
 *   "name"="text"            REG_SZ ("\\" gives one backslash; no terminator stored)
 * Any other line is ignored, as are value lines while no key is current.
 * Bytes become UTF-16 units one by one, sign-extended (only ASCII is carried
 * over faithfully). The first line that cannot be applied stops the import
 * with a message box that shows it; changes of earlier lines stay. */
#ifndef INSTALLER_REG_IMPORT_H
#define INSTALLER_REG_IMPORT_H

#include <windows.h>

/* Characters of a key path or value name, terminator excluded. */
#define REG_NAME_CHARS 259

/* Applies the REGEDIT4 file at path. Returns 0 on success (an empty file
 * included), -1 for a null path, a file that cannot be opened, a wrong header
 * (no message) or a failing line (message box with the line, titled with the
 * part of path after its last "/", error icon). */
int import_reg_file(const WCHAR* path);

/* The predefined root whose name ("HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
 * "HKEY_LOCAL_MACHINE", "HKEY_USERS", tried in this order) begins with the
 * length characters of text; 0 when none does. */
HKEY reg_root_from_name(const char* text, int length);

/* A key line "[ROOT\path]" (of length bytes): creates or opens the path under
 * the root with KEY_WRITE. The open key, or 0 when the line has no "\" or "]"
 * where they belong, an unknown root, a path longer than REG_NAME_CHARS, or
 * the platform refuses. */
HKEY reg_open_key_line(const char* line, int length);

/* A key deletion line "[-ROOT\parent\leaf]" (of length bytes): deletes leaf
 * in parent and flushes parent. 0 on success, the platform's error code (a
 * missing key is one), or -1 for a malformed line or an unknown root. */
LONG reg_delete_key_line(const char* line, int length);

/* A value line of the current key (line of size bytes; the text ends at its
 * first zero byte or at size; a line end after the value is allowed). 0 on
 * success, the platform's error code, or -1, with nothing stored, for a line
 * without a quoted name, of another kind (hex(2), hex(7), blanks around "="),
 * a string without its closing quote, a dword that is not 1 to 8
 * hexadecimal digits, or a hex list with an entry that is not 1 or 2
 * hexadecimal digits (an empty entry included). */
LONG reg_set_value_line(HKEY key, const char* line, int size);

#endif
