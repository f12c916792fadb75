/* The shell's GPS receiver: its one record and port, opened at main window
 * creation and closed at its destruction, and the sentence callback that
 * parses into the record and sets the device clock at the first fix. */
#pragma once

#include <windows.h>

#include "vx_gps_parse.h"
#include "vx_gps_port.h"

/* The one record; null before gps_wiring_start and after gps_wiring_stop.
 * Its status is 'A' while the receiver reports a fix (the GPS indicator). */
extern VxGpsData* shell_gps_data;
/* The one port context. */
extern VxGpsPort shell_gps_port;

/* Creates the record, opens COM13 at 4800 baud 8N1, sets polling, the
 * callback and the markers, resets and enables the record with status 'V',
 * starts the reader one priority step below normal. 0 when the reader runs;
 * -1 when the record could not be made or the port not opened (the record
 * then stays, with status 0). */
int gps_wiring_start(void);
/* Closes the port, sets the record's status to 'N' and frees it. */
void gps_wiring_stop(void);
/* 1 when the record reports a fix, else 0 (also without a record). */
int gps_wiring_has_fix(void);

/* Called with the record's new status whenever it changes (the reader's
 * thread for sentences, the caller's for start and stop). Null: none. */
typedef void (*GpsStatusObserver)(char status);
void gps_wiring_set_observer(GpsStatusObserver observer);

/* The sentence callback: parses into shell_gps_data. Until clock_set, an RMC
 * that gives a valid clock (vx_gps_rmc_clock: status 'A', time and date in
 * range) sets the system clock (UTC) from its own time and date; only when
 * the platform accepts it does clock_set become 1 and main_window get
 * WM_TIMER 100. Other sentences, GGA fixes included, never set the clock.
 * -1 without a record, else 0. */
int gps_sentence_callback(VxGpsPort* port, int code, const char* sentence, int length);
