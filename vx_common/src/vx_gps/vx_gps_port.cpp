#include "vx_gps_port.h"

#include <string.h>

#include "vx_wince.h"

namespace {

const DWORD kEventMask = EV_RXCHAR | EV_CTS | EV_DSR | EV_RING; /* 0x119 */
const DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
const int kPollRequest = 1024;

void pause(int32_t ms) {
  if (ms >= 0) Sleep((DWORD)ms);
}

void defaults(VxGpsPort* port) {
  port->port = 0;
  memset(&port->timeouts, 0, sizeof port->timeouts);
  memset(&port->settings, 0, sizeof port->settings);
  port->thread = 0;
  port->notify_window = 0;
  port->sentence_callback = nullptr;
  port->raw_callback = nullptr;
  port->data_delay_ms = 50;
  port->idle_delay_ms = 100;
  port->polling = 0;
  port->stop_requested = 0;
  port->capture_file = INVALID_HANDLE_VALUE;
  port->framing = 1;
  memset(port->start_marker, 0, sizeof port->start_marker);
  memset(port->end_marker, 0, sizeof port->end_marker);
  port->start_marker[0] = '{';
  port->start_marker_length = 0;
  port->end_marker[0] = '}';
  port->end_marker_length = 0;
  port->chunk_size = 0;
}

void deliver(VxGpsPort* port, const char* bytes, int length) {
  if (port->notify_window)
    SendMessageW(port->notify_window, WM_GPS_SENTENCE, (WPARAM)bytes, (LPARAM)length);
  if (port->sentence_callback) port->sentence_callback(port, WM_GPS_SENTENCE, bytes, length);
}

void deliver_to_port(void* context, const char* bytes, int length) {
  deliver((VxGpsPort*)context, bytes, length);
}

DWORD WINAPI reader(LPVOID parameter) {
  VxGpsPort* port = (VxGpsPort*)parameter;
  char buffer[VX_GPS_BUFFER_SIZE];
  memset(buffer, 0, sizeof buffer);
  VxGpsFramer f;
  vx_gps_framer_init(&f, buffer, VX_GPS_BUFFER_SIZE);
  if (port->port) {
    PurgeComm(port->port, kPurgeAll);
    PurgeComm(port->port, kPurgeAll);
  }
  for (;;) {
    if (port->stop_requested) return 1;
    DWORD request = kPollRequest;
    if (!port->polling) {
      DWORD events = 0;
      if (!port->port || !WaitCommEvent(port->port, &events, nullptr) || !(events & EV_RXCHAR)) {
        pause(port->idle_delay_ms);
        continue;
      }
      COMSTAT status;
      DWORD errors = 0;
      if (!ClearCommError(port->port, &errors, &status) || status.cbInQue == 0) {
        pause(port->idle_delay_ms);
        continue;
      }
      request = status.cbInQue;
    }
    if (!port->port) {
      pause(port->idle_delay_ms);
      continue;
    }
    int room = 0;
    char* fresh = vx_gps_framer_space(&f, &room);
    if (request > (DWORD)room) request = (DWORD)room;
    DWORD got = 0;
    EnterCriticalSection(&port->lock);
    BOOL ok = ReadFile(port->port, fresh, request, &got, nullptr);
    LeaveCriticalSection(&port->lock);
    if (!ok || got == 0) {
      pause(port->idle_delay_ms);
      continue;
    }
    if (port->raw_callback) port->raw_callback(port, 0, fresh, (int)got);
    if (port->capture_file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(port->capture_file, fresh, got, &written, nullptr);
    }
    if (port->framing) {
      vx_gps_framer_push(&f, (int)got, deliver_to_port, port);
    } else {
      deliver(port, fresh, (int)got);
    }
    pause(port->data_delay_ms);
  }
}

}  // namespace

void vx_gps_framer_init(VxGpsFramer* f, char* buffer, int capacity) {
  f->buffer = buffer;
  f->capacity = capacity;
  f->fill = f->scan = 0;
  f->start = -1;
}

char* vx_gps_framer_space(VxGpsFramer* f, int* room) {
  /* A sentence in progress that left no room is dropped whole: no NMEA
   * sentence comes near the buffer's size. */
  if (f->fill >= f->capacity) f->fill = f->scan = 0, f->start = -1;
  *room = f->capacity - f->fill;
  return f->buffer + f->fill;
}

void vx_gps_framer_push(VxGpsFramer* f, int count, VxGpsSentenceSink sink, void* context) {
  f->fill += count;
  while (f->scan < f->fill) {
    char* at = f->buffer + f->scan;
    const int left = f->fill - f->scan;
    if (f->start < 0) {
      char* dollar = (char*)memchr(at, '$', left);
      if (!dollar) {
        f->fill = f->scan = 0;
        return;
      }
      f->start = (int)(dollar - f->buffer);
      f->scan = f->start + 1;
      continue;
    }
    int i = 0;
    while (i < left && at[i] != '$' && at[i] != '\n') i++;
    if (i == left) {
      f->scan = f->fill;
      break;
    }
    if (at[i] == '$') {
      f->start = f->scan + i; /* a new sentence: the bytes before are dropped */
      f->scan = f->start + 1;
      continue;
    }
    const int end = f->scan + i; /* the line feed */
    sink(context, f->buffer + f->start, end - f->start + 1);
    f->start = -1;
    f->scan = end + 1;
  }
  if (f->start < 0) {
    f->fill = f->scan = 0;
  } else if (f->start >= VX_GPS_COMPACT_AT) {
    const int kept = f->fill - f->start;
    memmove(f->buffer, f->buffer + f->start, kept);
    f->fill = kept;
    f->scan = kept;
    f->start = 0;
  }
}

int vx_gps_port_init(VxGpsPort* port) {
  if (!port) return 0;
  InitializeCriticalSection(&port->lock);
  defaults(port);
  return 1;
}

int vx_gps_port_open(VxGpsPort* port, HWND notify_window, const WCHAR* name, int baud,
                     const WCHAR* parity, int data_bits, int stop_bits) {
  if (!port) return 0;
  /* a reader left running would read a port closed under it */
  if (port->thread) vx_gps_port_stop(port);
  EnterCriticalSection(&port->lock);
  int result = 0;
  do {
    if (port->port) {
      CloseHandle(port->port);
      port->port = 0;
    }
    port->notify_window = notify_window;
    WCHAR path[32];
    const int length = name ? lstrlenW(name) : 0;
    if (length == 4) {
      wsprintfW(path, TEXT("%s:"), name);
    } else if (length == 5) {
      if (vx_wince_serial_path(name, path, 32) != 0) break;
    } else {
      break;
    }
    HANDLE handle = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE || handle == 0) break;
    port->port = handle;
    port->settings.DCBlength = sizeof(DCB);
    if (!GetCommState(handle, &port->settings)) break;
    port->settings.BaudRate = (DWORD)baud;
    port->settings.ByteSize = (BYTE)data_bits;
    if (parity && (lstrcmpW(parity, TEXT("ODD")) == 0 || lstrcmpW(parity, TEXT("O")) == 0))
      port->settings.Parity = ODDPARITY;
    else if (parity && (lstrcmpW(parity, TEXT("EVEN")) == 0 || lstrcmpW(parity, TEXT("E")) == 0))
      port->settings.Parity = EVENPARITY;
    else
      port->settings.Parity = NOPARITY;
    if (stop_bits == 1)
      port->settings.StopBits = ONESTOPBIT;
    else if (stop_bits == 2)
      port->settings.StopBits = TWOSTOPBITS;
    if (!SetCommState(handle, &port->settings)) break;
    if (!GetCommTimeouts(handle, &port->timeouts)) break;
    port->timeouts.ReadIntervalTimeout = MAXDWORD;
    port->timeouts.ReadTotalTimeoutMultiplier = 0;
    port->timeouts.ReadTotalTimeoutConstant = 0;
    port->timeouts.WriteTotalTimeoutMultiplier = 0;
    port->timeouts.WriteTotalTimeoutConstant = 0;
    if (!SetCommTimeouts(handle, &port->timeouts)) break;
    if (!SetCommMask(handle, kEventMask)) break;
    PurgeComm(handle, kPurgeAll);
    port->polling = 0;
    result = 1;
  } while (0);
  LeaveCriticalSection(&port->lock);
  return result;
}

int vx_gps_port_set_callback(VxGpsPort* port, VxGpsCallback sentence_callback) {
  if (!port) return 0;
  port->sentence_callback = sentence_callback;
  return 1;
}

int vx_gps_port_set_markers(VxGpsPort* port, const char* start, int start_length,
                            const char* end, int end_length) {
  if (!port) return 0;
  if (start_length < 0 || start_length > VX_GPS_MARKER_SIZE || end_length < 0 ||
      end_length > VX_GPS_MARKER_SIZE)
    return 0;
  if (start_length && !start) return 0;
  if (end_length && !end) return 0;
  if (start_length) memcpy(port->start_marker, start, start_length);
  port->start_marker_length = start_length;
  if (end_length) memcpy(port->end_marker, end, end_length);
  port->end_marker_length = end_length;
  return 1;
}

int vx_gps_port_start(VxGpsPort* port) {
  if (!port || !port->port) return 0;
  if (port->thread) return 1;
  port->stop_requested = 0;
  DWORD id = 0;
  port->thread = CreateThread(nullptr, 0, reader, port, 0, &id);
  return port->thread ? 1 : 0;
}

int vx_gps_port_stop(VxGpsPort* port) {
  if (!port) return 0;
  if (!port->thread) return 1;
  port->stop_requested = 1;
  /* Wait for the reader to see the flag (it never blocks for long: reads
   * return at once and clearing the event mask ends a pending event wait).
   * Messages sent to this thread's windows are handled meanwhile, so a
   * reader inside a cross-thread SendMessageW is not left waiting on us. */
  for (;;) {
    if (port->port) SetCommMask(port->port, 0);
    DWORD code = 0;
    if (!GetExitCodeThread(port->thread, &code) || code != (DWORD)STILL_ACTIVE) break;
    if (WaitForSingleObject(port->thread, 20) == WAIT_OBJECT_0) break;
    MSG msg;
    PeekMessageW(&msg, 0, 0, 0, PM_NOREMOVE);
  }
  CloseHandle(port->thread);
  port->thread = 0;
  return 1;
}

int vx_gps_port_write(VxGpsPort* port, const void* bytes, int length) {
  if (!port || !bytes || length <= 0) return 0;
  EnterCriticalSection(&port->lock);
  DWORD written = 0;
  BOOL ok = port->port ? WriteFile(port->port, bytes, (DWORD)length, &written, nullptr) : FALSE;
  LeaveCriticalSection(&port->lock);
  return ok && written > 0 ? 1 : 0;
}

int vx_gps_port_close(VxGpsPort* port) {
  if (!port) return 0;
  vx_gps_port_stop(port);
  if (port->port) {
    CloseHandle(port->port);
    port->port = 0;
  }
  if (port->capture_file != INVALID_HANDLE_VALUE) {
    CloseHandle(port->capture_file);
    port->capture_file = INVALID_HANDLE_VALUE;
  }
  DeleteCriticalSection(&port->lock);
  vx_gps_port_init(port);
  return 1;
}
