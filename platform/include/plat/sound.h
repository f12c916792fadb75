/* Sound file playback: PlaySoundW.
 *
 * The host has no loudspeaker. A sound that starts is a `sound` event with
 * the file as given and whether it loops; a sound that is stopped while it
 * still plays (by PlaySoundW(NULL, ...) or by the next sound) is a `sound`
 * event with the file and "stop". A sound without a loop plays for the
 * duration its WAVE header gives (device time): synchronously the call
 * returns after it, asynchronously it ends by itself. */
#pragma once

#include "plat/wintypes.h"

#ifndef SND_SYNC
#define SND_SYNC 0x0000
#define SND_ASYNC 0x0001
#define SND_NODEFAULT 0x0002
#define SND_MEMORY 0x0004
#define SND_LOOP 0x0008
#define SND_NOSTOP 0x0010
#define SND_FILENAME 0x00020000
#endif

/* sound NULL: stops the sound that plays (TRUE, also when none plays).
 * With SND_FILENAME: plays the WAVE file at that device path; FALSE when it
 * cannot be read or is no RIFF WAVE file, and when SND_NOSTOP is given while
 * another sound plays. SND_LOOP only with SND_ASYNC. Other sources (aliases,
 * resources, memory) are not supported: FALSE. */
BOOL WINAPI PlaySoundW(LPCWSTR sound, HMODULE module, DWORD flags);
