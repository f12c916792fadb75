/* Queries of the TTS library's stand-in, for tests: the real library has no
 * such call. */
#pragma once

#include <windows.h>

/* How many texts tts_play has spoken with a live handle since the program
 * started; the last of them goes into last (capacity characters, terminated)
 * when last is not null. */
int tts_stand_in_spoken(WCHAR* last, int capacity);

/* Makes tts_init hang, as an engine that blocks in its start would, until the
 * event `gate` is set (null: no hang, the default). */
void tts_stand_in_hold_init(HANDLE gate);
