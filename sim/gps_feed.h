/* The GPS receiver's stand-in (outside the system): COM13 on a
 * pseudo-terminal fed by the console, or a real serial device. */
#pragma once

#include <string>

#include "plat/host.h"

namespace sim {

/* Serves COM13: from options.gps_tty when set (a real receiver, for example
 * a USB one), else from a new pseudo-terminal; registers the console
 * commands `gps FILE` and `nmea SENTENCE`, which feed the pseudo-terminal.
 * A relative FILE not found in the current folder is read from the script's. */
void gps_attach(const plat::HostOptions& options);

/* One sentence as the `nmea` command sends it: a '$' in front, "*hh" (the
 * XOR of the bytes between '$' and '*') and "\r\n" appended when missing. */
std::string nmea_complete(const std::string& sentence);

}  // namespace sim
