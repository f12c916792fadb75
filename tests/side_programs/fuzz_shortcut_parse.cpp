/* Shortcut text from any bytes: the outputs stay terminated inside the
 * caller's capacity, the program holds no space, and without a "#" byte
 * before the first zero byte within the 260 bytes read no program is named.
 * (A "#" right after a lead byte of the ANSI code page is part of that
 * character, so a "#" byte alone does not always name one.) */
#include <windows.h>

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "side_programs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  int capacity = 1 + data[0] % 300;
  const char* text = (const char*)data + 1;
  int length = (int)(size - 1);
  WCHAR program[302], command_line[302];
  for (int i = 0; i < 302; i++) program[i] = command_line[i] = 0x7777;
  int names = shortcut_parse(text, length, program, command_line, capacity);

  int read = length < 260 ? length : 260;
  bool hash = false;
  for (int i = 0; i < read && text[i]; i++) hash = hash || text[i] == '#';
  if (names == 1 && !hash) abort();
  int p = 0, c = 0;
  while (p < capacity && program[p]) p++;
  while (c < capacity && command_line[c]) c++;
  if (p == capacity || c == capacity) abort();      /* not terminated in capacity */
  if (program[capacity] != 0x7777 || command_line[capacity] != 0x7777) abort();
  for (int i = 0; i < p; i++)
    if (program[i] == ' ') abort();
  if (!names && (p || c)) abort();
  return 0;
}
