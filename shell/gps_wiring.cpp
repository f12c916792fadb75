#include "gps_wiring.h"

#include "shell_globals.h"

VxGpsData* shell_gps_data = nullptr;
VxGpsPort shell_gps_port;

namespace {
/* 1 once vx_gps_port_init ran on shell_gps_port (its lock exists). */
int port_ready = 0;
GpsStatusObserver status_observer = nullptr;

void set_status(VxGpsData* data, char status) {
  data->status = status;
  if (status_observer) status_observer(status);
}
}  // namespace

void gps_wiring_set_observer(GpsStatusObserver observer) { status_observer = observer; }

int gps_wiring_start(void) {
  if (!shell_gps_data) shell_gps_data = vx_gps_data_create();
  if (!shell_gps_data) return -1;
  if (port_ready) vx_gps_port_close(&shell_gps_port);
  vx_gps_port_init(&shell_gps_port);
  port_ready = 1;
  if (!vx_gps_port_open(&shell_gps_port, 0, TEXT("COM13"), 4800, TEXT("NONE"), 8, 1)) return -1;
  shell_gps_port.polling = 1;
  vx_gps_port_set_callback(&shell_gps_port, gps_sentence_callback);
  vx_gps_port_set_markers(&shell_gps_port, nullptr, 0, nullptr, 0);
  vx_gps_data_reset(shell_gps_data);
  vx_gps_data_enable(shell_gps_data, 1);
  set_status(shell_gps_data, 'V');
  if (!vx_gps_port_start(&shell_gps_port)) return -1;
  /* one step below normal: 4 on the device's 0 (highest) to 7 scale */
  SetThreadPriority(shell_gps_port.thread, THREAD_PRIORITY_BELOW_NORMAL);
  return 0;
}

void gps_wiring_stop(void) {
  if (!shell_gps_data) return;
  if (port_ready) {
    vx_gps_port_close(&shell_gps_port);
    DeleteCriticalSection(&shell_gps_port.lock);
    port_ready = 0;
  }
  if (shell_gps_data->status != 'N') set_status(shell_gps_data, 'N');
  vx_gps_data_free(shell_gps_data);
  shell_gps_data = nullptr;
}

int gps_wiring_has_fix(void) {
  VxGpsData* data = shell_gps_data;
  return data && data->status == 'A' ? 1 : 0;
}

int gps_sentence_callback(VxGpsPort* port, int code, const char* sentence, int length) {
  (void)port, (void)code;
  VxGpsData* data = shell_gps_data;
  if (!data) return -1;
  const char before = data->status;
  vx_gps_parse_sentence(data, sentence, length, nullptr);
  if (data->status != before && status_observer) status_observer(data->status);
  SYSTEMTIME time;
  if (!clock_set && vx_gps_rmc_clock(sentence, length, &time) == VX_GPS_CLOCK_OK &&
      SetSystemTime(&time)) {
    clock_set = 1;
    /* Not SendMessageW: the reader must never wait for the UI thread, which
     * waits for the reader when it closes the port. */
    if (main_window) SendNotifyMessageW(main_window, WM_TIMER, 100, 0);
  }
  return 0;
}
