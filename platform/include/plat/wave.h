/* The waveform audio capture part of the Win32 subset (mmsystem.h): one
 * capture device, 8000 samples per second, 16-bit mono PCM, reported to a
 * callback function on the platform's audio thread. The device records the
 * simulator's call audio at real-time pace in device time, and silence while
 * no call audio is queued. */
#pragma once

#include "plat/wintypes.h"

typedef UINT MMRESULT;
PLAT_DECLARE_HANDLE(HWAVEIN);
typedef HWAVEIN* LPHWAVEIN;

/* Results. */
#define MMSYSERR_BASE 0
#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_NOTENABLED 3
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_NOTSUPPORTED 8
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define WAVERR_BASE 32
#define WAVERR_BADFORMAT (WAVERR_BASE + 0)
#define WAVERR_STILLPLAYING (WAVERR_BASE + 1)
#define WAVERR_UNPREPARED (WAVERR_BASE + 2)
#define WAVERR_SYNC (WAVERR_BASE + 3)

#define WAVE_MAPPER ((UINT)-1)
#define WAVE_FORMAT_PCM 1

/* waveInOpen flags. */
#define WAVE_FORMAT_QUERY 0x0001
#define CALLBACK_TYPEMASK 0x00070000l
#define CALLBACK_NULL 0x00000000l
#define CALLBACK_WINDOW 0x00010000l
#define CALLBACK_TASK 0x00020000l
#define CALLBACK_THREAD CALLBACK_TASK
#define CALLBACK_FUNCTION 0x00030000l
#define CALLBACK_EVENT 0x00050000l

/* Notifications to the callback (dwParam1 of WIM_DATA is the LPWAVEHDR). */
#define MM_WIM_OPEN 0x3BE
#define MM_WIM_CLOSE 0x3BF
#define MM_WIM_DATA 0x3C0
#define WIM_OPEN MM_WIM_OPEN
#define WIM_CLOSE MM_WIM_CLOSE
#define WIM_DATA MM_WIM_DATA

/* WAVEHDR flags. */
#define WHDR_DONE 0x00000001
#define WHDR_PREPARED 0x00000002
#define WHDR_BEGINLOOP 0x00000004
#define WHDR_ENDLOOP 0x00000008
#define WHDR_INQUEUE 0x00000010

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
} WAVEFORMATEX, *PWAVEFORMATEX, *LPWAVEFORMATEX;
#pragma pack(pop)
typedef const WAVEFORMATEX* LPCWAVEFORMATEX;

/* 32 bytes on the 32-bit device, 48 on a 64-bit host: pass sizeof(WAVEHDR). */
typedef struct wavehdr_tag {
  LPSTR lpData;
  DWORD dwBufferLength;
  DWORD dwBytesRecorded;
  DWORD_PTR dwUser;
  DWORD dwFlags;
  DWORD dwLoops;
  struct wavehdr_tag* lpNext;
  DWORD_PTR reserved;
} WAVEHDR, *PWAVEHDR, *LPWAVEHDR;

typedef void(CALLBACK* LPWAVEINPROC)(HWAVEIN device, UINT message, DWORD_PTR instance,
                                     DWORD_PTR param1, DWORD_PTR param2);

UINT WINAPI waveInGetNumDevs(void);
/* Opens the capture device (WAVE_MAPPER or 0). Formats other than 8 kHz 16-bit
 * mono PCM: WAVERR_BADFORMAT. A second open while one is open: MMSYSERR_ALLOCATED.
 * With CALLBACK_FUNCTION, WIM_OPEN reaches the callback before the call returns. */
MMRESULT WINAPI waveInOpen(LPHWAVEIN device, UINT device_id, LPCWAVEFORMATEX format,
                           DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
/* Queued buffers left: WAVERR_STILLPLAYING. Sends WIM_CLOSE. */
MMRESULT WINAPI waveInClose(HWAVEIN device);
MMRESULT WINAPI waveInPrepareHeader(HWAVEIN device, LPWAVEHDR header, UINT header_size);
/* A queued header: WAVERR_STILLPLAYING. */
MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN device, LPWAVEHDR header, UINT header_size);
/* An unprepared header: WAVERR_UNPREPARED. May be called from the callback. */
MMRESULT WINAPI waveInAddBuffer(HWAVEIN device, LPWAVEHDR header, UINT header_size);
MMRESULT WINAPI waveInStart(HWAVEIN device);
/* Stops recording; a partly filled buffer is returned, the others stay queued. */
MMRESULT WINAPI waveInStop(HWAVEIN device);
/* Stops recording and returns every queued buffer (WHDR_DONE, the bytes
 * recorded so far) through WIM_DATA; when it returns the callback is idle. */
MMRESULT WINAPI waveInReset(HWAVEIN device);
