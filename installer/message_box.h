/* The installer's message boxes: the one place that calls MessageBoxW, so
 * that a test program can put a stand-in for the platform's box in its place
 * (a box waits for a person on Windows). */
#ifndef INSTALLER_MESSAGE_BOX_H
#define INSTALLER_MESSAGE_BOX_H

#include <windows.h>

/* Shows text in a box titled title with the icon bits of type (MB_OK
 * buttons); returns the button pressed. */
int show_message_box(const WCHAR* text, const WCHAR* title, UINT type);

#endif
