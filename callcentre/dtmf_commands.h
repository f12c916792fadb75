/* The commands of the service-centre operator, sent as DTMF messages during
 * the call. A message (check digits already removed) is
 *   positions 0-1   the command number, two decimal digits
 *   position 2      "#"
 *   3 to the end    the payload
 * Commands: 2 destination (sign, 7 digits, sign, digits; units of 0.0001
 * degree), 3 CENTER_NUMBER, 4 RECALL_NUMBER, 5 GZDTMF_NUMBER (values written
 * to config.ini as they stand), 6 call the payload's number back once the
 * call pages are left. Anything else is ignored. */
#pragma once

#include <windows.h>

#include "nav_handoff.h"

#define DTMF_MESSAGE_SIZE 260

enum DtmfCommand {
  DTMF_COMMAND_DESTINATION = 2,
  DTMF_COMMAND_CENTER_NUMBER = 3,
  DTMF_COMMAND_RECALL_NUMBER = 4,
  DTMF_COMMAND_GZDTMF_NUMBER = 5,
  DTMF_COMMAND_CALL_BACK = 6
};

/* The decimal value of the leading digits of message (0 when it does not
 * start with a digit). */
int dtmf_command_number(const WCHAR* message);
/* 1 when message has the form of a command: two digits and "#" at
 * position 2; else 0. */
int dtmf_command_well_formed(const WCHAR* message);
/* The two coordinates of a command 2 message, in degrees: a sign character
 * other than "0" makes its number negative. Short payloads read what is
 * missing as nothing (a number without digits is 0, never -0); nothing past
 * the terminator is read. 0, or -1 for a null argument. */
int dtmf_parse_destination(const WCHAR* message, DestinationRecord* out);

/* Runs one message's command on the caller's thread; the message is copied
 * into a buffer of 260 characters first (longer text is cut). Returns 0. */
int dtmf_run_command(const WCHAR* message);
/* Thread entry: the parameter is the message text (const WCHAR*), which must
 * stay unchanged until the thread has copied it; dtmf_run_command on it.
 * Returns 0. dtmf_start_command is the safe way to start one. */
DWORD WINAPI dtmf_command_thread(LPVOID message);
/* Starts dtmf_command_thread with a copy of message that the thread frees;
 * nobody waits for it. 0, or -1 when no thread could be made. */
int dtmf_start_command(const WCHAR* message);

/* How long command 6 sleeps between looks at the current page, and before it
 * dials (1000 ms each on the device). For tests. */
void dtmf_set_call_back_poll_ms(DWORD ms);
