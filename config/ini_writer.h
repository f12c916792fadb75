/* Setting one key of an INI file such as "config.ini".
 *
 * The file keeps its encoding (UTF-16LE with its mark, or ANSI) and every byte
 * other than the key's line; new lines end in "\r\n". The format and scanning
 * rules are those of ini_file.h. */
#ifndef CONFIG_INI_WRITER_H
#define CONFIG_INI_WRITER_H

#include <windows.h>

/* Sets key=value in the first section named section of the file at path:
 *   key found                 its whole line (line end included) is replaced
 *   section found, key not    the line goes before the next header line, or at
 *                             the end of the file when the section runs to it
 *   section missing           "[section]" and the line go at the end of the file
 * Text added right after a unit that is not a line feed starts with "\r\n"
 * (so after the mark of a UTF-16 file that holds nothing else). A missing file
 * is created as ANSI.
 *
 * The whole read-modify-replace runs under a named mutex of the file's own,
 * "ini_write_string:" + the path with "/" separators and folded ASCII letters
 * (a hash of it when too long), so every thread and every program of the
 * device that writes the file through here takes turns; a turn is waited for
 * at most 10 s. The new content is written to the sibling file
 * path + ".~" + the writer's process and thread ids + ".tmp" in chunks of
 * 1024 bytes, flushed to the storage, given the old file's attributes, and
 * then replaces the file in one rename: whatever happens on the way, the file
 * holds either its old or its new content, complete (a missing file stays
 * missing or appears complete). Temporary files that interrupted rewrites
 * left are removed by the next one.
 *
 * Returns 1 on success, 0 on failure with the file untouched: a null section,
 * key, value or path (a null key or value deletes nothing); an existing file
 * that cannot be opened for update (a read-only one) or a new one that cannot
 * be created; strings that do not fit the 1024-byte
 * work area in the ANSI code page; a new text longer than its buffer (1023
 * bytes of an ANSI file, 511 characters of a UTF-16 file); a failed read,
 * write, flush or rename; no turn within 10 s. */
int ini_write_string(const WCHAR* section, const WCHAR* key, const WCHAR* value,
                     const WCHAR* path);

/* The file steps of a rewrite, in order (read and write repeat per chunk). */
enum IniWriteStep {
  INI_STEP_CREATE_TEMP = 1,
  INI_STEP_READ,
  INI_STEP_WRITE,
  INI_STEP_FLUSH,
  INI_STEP_CLOSE_TEMP,
  INI_STEP_REPLACE
};

/* Fault injection, for tests only: when a hook is set, it is called before each
 * step of a rewrite and the step fails when it returns FALSE. Null (no hook) by
 * default; the system never sets one. */
typedef BOOL (*IniWriteStepHook)(int step);
void ini_write_set_step_hook(IniWriteStepHook hook);

#endif
