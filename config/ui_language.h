/* The user-interface language chosen on the device. */
#ifndef CONFIG_UI_LANGUAGE_H
#define CONFIG_UI_LANGUAGE_H

#include <windows.h>

/* The language index 0-21 stored as the 32-bit number (REG_DWORD) "language"
 * under HKEY_LOCAL_MACHINE\MUI; -1 when the key or value is missing, has
 * another type, or is out of range. */
int get_mui_language(void);

#endif
