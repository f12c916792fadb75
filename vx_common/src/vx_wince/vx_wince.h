/* What differs between Windows CE, the device's system, and desktop Windows,
 * in one place. The device and the host's simulation of it take the Windows
 * CE side; the Windows build (desktop Windows, _WIN32 without _WIN32_WCE)
 * takes the desktop side. Everything else in the system is the same code on
 * both. */
#pragma once

#include <windows.h>

/* 1 when built for desktop Windows, 0 for Windows CE and its simulation. */
int vx_wince_is_desktop(void);

/* The path that CreateFileW opens a serial port by, from its name ("COM13"):
 * Windows CE names ports past COM9 in its "\$device\" namespace
 * ("\$device\COM13"), desktop Windows in "\\.\" ("\\.\COM13"). Returns 0, or
 * -1 when the name is null or the path does not fit `capacity` characters
 * with its terminator (out is then empty). */
int vx_wince_serial_path(const WCHAR* port, WCHAR* out, int capacity);

/* The character set a page font asks for with the face `face`: on Windows CE
 * DEFAULT_CHARSET for "宋体" and ANSI_CHARSET for any other face (the device
 * has one Chinese font, found either way); desktop Windows finds a Chinese
 * font only for DEFAULT_CHARSET, so it is DEFAULT_CHARSET there always. */
BYTE vx_wince_font_charset(const WCHAR* face);
