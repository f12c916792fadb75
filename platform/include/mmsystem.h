/* The multimedia part of the Win32 subset; windows.h already includes it. */
#ifndef PLAT_MMSYSTEM_H
#define PLAT_MMSYSTEM_H
#include <windows.h>
#endif
