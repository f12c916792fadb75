/* The TTS library of the device (outside the system; here a stand-in).
 * tts_init loads the engine from its data file, tts_play speaks a text,
 * tts_uninit releases the engine. */
#pragma once

#include <windows.h>

/* A handle of the engine whose data file is data_path
 * ("\residentflash2\Velmar\tts\Resource.dat"); 0 when the file does not exist. */
HANDLE tts_init(const WCHAR* data_path);
/* Speaks length characters of text; returns when the text has been spoken.
 * 0, or -1 for a null handle or text. */
int tts_play(HANDLE handle, const WCHAR* text, int length);
/* Releases the engine; 0 is ignored. */
void tts_uninit(HANDLE handle);
