/* The host side of the registry: its store file. Not part of the Win32
 * surface; the system's code never includes it.
 *
 * "registry.reg" in the device root is UTF-8 text, one item a line:
 *
 *   VELMAR REGISTRY 1
 *   [HKEY_LOCAL_MACHINE\SOFTWARE\Kelvory\GpsNavi]
 *   "UseFM"=dword:00000001
 *   "Name"=sz:"text with its terminator\0"
 *   @=hex:01,ff
 *
 * Key lines hold the path below a root; a key name character that is '%', a
 * control character or not valid UTF-16 is written %XXXX (its UTF-16 unit in
 * hexadecimal). Value lines name a value in quotes, or @ for the default
 * value, then the data: dword:8 hex digits (REG_DWORD of 4 bytes);
 * sz:"...", expand:"...", multi:"..." (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ of
 * an even size, every UTF-16 unit kept); hex:bytes (REG_BINARY); hex(T):bytes
 * (any other type T in hexadecimal, or a size those forms cannot hold).
 * Inside quotes \\ \" \0 \t \n \r and \uXXXX are escapes. Lines starting with
 * ';' and blank lines are comments. Every line ends with a line feed.
 *
 * The reader takes a file as far as it is valid: it stops at the first line
 * that is malformed or not ended, and keeps what came before. */
#pragma once

#include <string>

namespace plat {

/* Reads a store text as far as it is valid and returns the number of bytes
 * taken (the whole size for a valid text). When `rewritten` is given, it
 * receives the store text of what was read, as the registry would write it. */
size_t registry_store_parse(const char* text, size_t size, std::string* rewritten);

/* The steps of a store rewrite, in order. */
enum RegistryWriteStage {
  REGISTRY_TEMP_OPENED,       /* the sibling temporary file is created, empty */
  REGISTRY_TEMP_HALF_WRITTEN, /* half of the new text is in it */
  REGISTRY_TEMP_WRITTEN,      /* all of it */
  REGISTRY_TEMP_SYNCED,       /* flushed to the disk and closed */
  REGISTRY_RENAMED,           /* renamed over "registry.reg" */
  REGISTRY_FOLDER_SYNCED,     /* the folder's entry flushed */
  REGISTRY_WRITE_STAGES
};

/* A test's observer of the rewrite steps (null to remove); called with the
 * registry locked, in the writing process. */
void registry_set_write_hook(void (*hook)(RegistryWriteStage stage));

}  // namespace plat
