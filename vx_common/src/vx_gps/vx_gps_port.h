/* The GPS serial port: opening and configuring it, and a reader thread that
 * frames the byte stream into sentences from '$' to the line feed and hands
 * each one, in place, to a window and a callback. Results are 1 for success
 * and 0 for failure. */
#pragma once

#include <stdint.h>
#include <windows.h>

/* The message a notify window receives per sentence: wParam the address,
 * lParam the length. */
#define WM_GPS_SENTENCE 0x40A
#define VX_GPS_BUFFER_SIZE 12288
/* An incomplete sentence starting at or past this offset is moved to the front. */
#define VX_GPS_COMPACT_AT 7168
#define VX_GPS_MARKER_SIZE 4

/* The reader's framing over a buffer of its own: bytes are appended where
 * vx_gps_framer_space says, then vx_gps_framer_push hands every complete
 * sentence ('$' to the line feed inclusive, a later '$' restarting it) to
 * the sink, in place, and keeps an incomplete one (moved to the front once
 * it starts at VX_GPS_COMPACT_AT or later). */
typedef void (*VxGpsSentenceSink)(void* context, const char* sentence, int length);
typedef struct VxGpsFramer {
  char* buffer;
  int capacity;
  int fill;   /* bytes held */
  int scan;   /* how far they were scanned */
  int start;  /* where the sentence in progress starts, -1: none */
} VxGpsFramer;

void vx_gps_framer_init(VxGpsFramer* framer, char* buffer, int capacity);
/* Where the next bytes go and how many fit (*room). A sentence in progress
 * that filled the whole buffer is dropped first. */
char* vx_gps_framer_space(VxGpsFramer* framer, int* room);
/* Takes `count` bytes written at vx_gps_framer_space and frames them. */
void vx_gps_framer_push(VxGpsFramer* framer, int count, VxGpsSentenceSink sink, void* context);

struct VxGpsPort;
/* Called on the reader thread with (port, code, bytes, length): code
 * WM_GPS_SENTENCE for a sentence, 0 for a raw chunk. The bytes are valid
 * only during the call. */
typedef int (*VxGpsCallback)(struct VxGpsPort* port, int code, const char* bytes, int length);

typedef struct VxGpsPort {
  HANDLE port;                 /* 0 when not open */
  CRITICAL_SECTION lock;       /* around reads, writes and the open */
  COMMTIMEOUTS timeouts;
  DCB settings;
  HANDLE thread;               /* the reader thread, 0 when none */
  HWND notify_window;          /* receives WM_GPS_SENTENCE when set */
  VxGpsCallback sentence_callback;
  VxGpsCallback raw_callback;
  int32_t data_delay_ms;       /* pause after a read with data; negative: none */
  int32_t idle_delay_ms;       /* pause after an empty wait or read; negative: none */
  volatile int32_t polling;    /* 1: read up to 1024 bytes each pass without waiting */
  volatile int32_t stop_requested;
  HANDLE capture_file;         /* INVALID_HANDLE_VALUE when none */
  int32_t framing;             /* 1: sentences; 0: raw chunks */
  char start_marker[VX_GPS_MARKER_SIZE];
  int32_t start_marker_length;
  char end_marker[VX_GPS_MARKER_SIZE];
  int32_t end_marker_length;
  int32_t chunk_size;          /* raw mode only */
} VxGpsPort;

/* Initialises the lock and the defaults. Returns 1. */
int vx_gps_port_init(VxGpsPort* port);
/* Opens `name` ("COM1" -> "COM1:", "COM13" -> the device namespace; other
 * lengths fail) and configures baud, parity ("ODD"/"O", "EVEN"/"E", else
 * none), data bits and stop bits (1 or 2; else as the port had them). */
int vx_gps_port_open(VxGpsPort* port, HWND notify_window, const WCHAR* name, int baud,
                     const WCHAR* parity, int data_bits, int stop_bits);
/* 0 for a null port, else 1. */
int vx_gps_port_set_callback(VxGpsPort* port, VxGpsCallback sentence_callback);
/* Copies up to 4 bytes of each marker; a length above 4 (or below 0): 0, no change. */
int vx_gps_port_set_markers(VxGpsPort* port, const char* start, int start_length,
                            const char* end, int end_length);
/* Starts the reader thread: 1 if a thread runs (or already ran), 0 when the
 * port is not open or the thread could not be made. */
int vx_gps_port_start(VxGpsPort* port);
/* Ends the reader thread and waits for it. 0 for a null port, else 1. */
int vx_gps_port_stop(VxGpsPort* port);
/* Writes under the lock: 1 when at least one byte was written, else 0. */
int vx_gps_port_write(VxGpsPort* port, const void* bytes, int length);
/* Stops the thread, closes the port and the capture file, initialises the
 * context again. 0 for a null port, else 1. */
int vx_gps_port_close(VxGpsPort* port);
