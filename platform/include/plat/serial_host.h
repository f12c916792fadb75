/* The host side of the serial ports: a port name served by a host terminal
 * device. Not part of the Win32 surface; the system's code never includes it. */
#pragma once

#include <string>

namespace plat {

/* CreateFileW of `device` ("COM13:", also reachable as "\$device\COM13")
 * opens the terminal at `tty_path` (a pseudo-terminal's slave side or a real
 * serial device) in raw mode. One handle at a time: a second open while the
 * first is held fails with ERROR_ACCESS_DENIED, as a port does on Windows. A
 * new attach replaces the old one for later opens. */
void serial_attach(const std::u16string& device, const std::string& tty_path);
void serial_detach(const std::u16string& device);

}  // namespace plat
