/* The Win32 / Windows CE API subset the system calls, for POSIX hosts.
 * The system includes only this header; each role has its own part below. */
#ifndef PLAT_WINDOWS_H
#define PLAT_WINDOWS_H

#include "plat/wintypes.h"
#include "plat/strings.h"
#include "plat/files.h"
#include "plat/kernel.h"
#include "plat/registry.h"
#include "plat/user.h"
#include "plat/gdi.h"
#include "plat/module.h"
#include "plat/devio.h"
#include "plat/serial.h"
#include "plat/sound.h"
#include "plat/wave.h"

#endif
