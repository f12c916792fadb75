/* The serial communications part of the Win32 subset: the port settings
 * block, time-outs, the event mask and its wait, queue status and purging, on
 * a port handle from CreateFileW ("COM13:", or "\$device\COM13" in the device
 * namespace; the host serves it from a terminal device, see plat/host.h).
 *
 * Host limits: the settings of the block that a terminal has no counterpart
 * for (XonLim, XoffLim, the error, EOF and event characters, DTR and RTS
 * control), and parity and character size on a pseudo-terminal, are kept
 * and reported back but not applied. */
#pragma once

#include "plat/wintypes.h"

#ifndef MAXDWORD
#define MAXDWORD 0xFFFFFFFFu
#endif

typedef struct _DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _COMSTAT {
  DWORD fCtsHold : 1;
  DWORD fDsrHold : 1;
  DWORD fRlsdHold : 1;
  DWORD fXoffHold : 1;
  DWORD fXoffSent : 1;
  DWORD fEof : 1;
  DWORD fTxim : 1;
  DWORD fReserved : 25;
  DWORD cbInQue;
  DWORD cbOutQue;
} COMSTAT, *LPCOMSTAT;

/* Baud rates. */
#define CBR_110 110
#define CBR_300 300
#define CBR_600 600
#define CBR_1200 1200
#define CBR_2400 2400
#define CBR_4800 4800
#define CBR_9600 9600
#define CBR_14400 14400
#define CBR_19200 19200
#define CBR_38400 38400
#define CBR_57600 57600
#define CBR_115200 115200

/* Parity and stop bits. */
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2

#define DTR_CONTROL_DISABLE 0x00
#define DTR_CONTROL_ENABLE 0x01
#define DTR_CONTROL_HANDSHAKE 0x02
#define RTS_CONTROL_DISABLE 0x00
#define RTS_CONTROL_ENABLE 0x01
#define RTS_CONTROL_HANDSHAKE 0x02
#define RTS_CONTROL_TOGGLE 0x03

/* Event mask bits. */
#define EV_RXCHAR 0x0001
#define EV_RXFLAG 0x0002
#define EV_TXEMPTY 0x0004
#define EV_CTS 0x0008
#define EV_DSR 0x0010
#define EV_RLSD 0x0020
#define EV_BREAK 0x0040
#define EV_ERR 0x0080
#define EV_RING 0x0100

/* PurgeComm flags. */
#define PURGE_TXABORT 0x0001
#define PURGE_RXABORT 0x0002
#define PURGE_TXCLEAR 0x0004
#define PURGE_RXCLEAR 0x0008

/* ClearCommError error bits. */
#define CE_RXOVER 0x0001
#define CE_OVERRUN 0x0002
#define CE_RXPARITY 0x0004
#define CE_FRAME 0x0008
#define CE_BREAK 0x0010

#ifndef ERROR_OPERATION_ABORTED
#define ERROR_OPERATION_ABORTED 995L
#endif

/* A block with a baud rate of 0, ByteSize outside 5 to 8, or Parity or
 * StopBits outside their values fails with ERROR_INVALID_PARAMETER and
 * changes nothing. Any other handle than a port: ERROR_INVALID_HANDLE. */
BOOL WINAPI GetCommState(HANDLE port, LPDCB dcb);
BOOL WINAPI SetCommState(HANDLE port, LPDCB dcb);

/* ReadFile on a port: with ReadIntervalTimeout MAXDWORD and both total
 * values 0 it returns at once with what is queued (possibly nothing); with
 * all values 0 it waits until the whole request arrived; otherwise it waits
 * at most the total time-out (multiplier times the request plus the
 * constant) and, after the first byte, at most the interval between bytes. */
BOOL WINAPI GetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts);
BOOL WINAPI SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS timeouts);

/* WaitCommEvent blocks (without an OVERLAPPED) until an event of the mask
 * happens and reports it in *mask; SetCommMask from another thread ends a
 * pending wait, which then reports 0 and succeeds. A mask of 0 fails with
 * ERROR_INVALID_PARAMETER. Host differences: only EV_RXCHAR is reported (a
 * terminal gives no modem-line events), and it is reported while bytes are
 * queued, where Windows reports a byte that arrived since the last wait. */
BOOL WINAPI SetCommMask(HANDLE port, DWORD mask);
BOOL WINAPI GetCommMask(HANDLE port, LPDWORD mask);
BOOL WINAPI WaitCommEvent(HANDLE port, LPDWORD mask, LPOVERLAPPED overlapped);

/* *errors may be null; status->cbInQue is the number of bytes queued for
 * reading, cbOutQue for writing. */
BOOL WINAPI ClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT status);
BOOL WINAPI PurgeComm(HANDLE port, DWORD flags);
/* The queue sizes are advice; the host accepts and ignores them. */
BOOL WINAPI SetupComm(HANDLE port, DWORD in_queue, DWORD out_queue);
