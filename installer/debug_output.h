/* The installer's debug output. */
#ifndef INSTALLER_DEBUG_OUTPUT_H
#define INSTALLER_DEBUG_OUTPUT_H

#include <windows.h>

/* Formats with the platform's wide printf-style formatter (%s is a wide
 * string, %S a narrow one) into one static buffer of 1024 characters (longer
 * text is cut) and sends it to the platform's debug output. Not for use by
 * two threads at once. */
void debug_print(const WCHAR* format, ...);

#endif
