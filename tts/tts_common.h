/* The part of the TTS stand-in that both builds share: the live handles and
 * the record of what was spoken. */
#pragma once

#include <windows.h>

/* A new live handle (never 0). */
HANDLE tts_common_open(void);
/* 1 when handle is live. */
int tts_common_live(HANDLE handle);
/* Forgets a live handle; others are ignored. */
void tts_common_close(HANDLE handle);
/* Notes one spoken text. */
void tts_common_record(const WCHAR* text, int length);
/* 1 when path names an existing file (not a folder). */
int tts_common_data_exists(const WCHAR* path);
