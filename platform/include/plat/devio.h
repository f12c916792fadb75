/* Device control requests to drivers opened by name with CreateFileW
 * ("SCA0:", "VIP1:"). On the host a driver is a platform device whose open
 * handle answers requests (plat/devio_internal.h in platform/src). */
#pragma once

#include "plat/wintypes.h"

/* Sends request `code` with its input and output buffers to the driver of
 * `device`. Not an open handle: FALSE and ERROR_INVALID_HANDLE; a handle
 * whose driver takes no requests (a file, a serial port of the host):
 * FALSE and ERROR_INVALID_FUNCTION; otherwise the driver's answer, with
 * *returned (when given) set to the output bytes it wrote (0 on failure).
 * Overlapped requests are not supported (the pointer must be null). */
BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD input_size,
                            LPVOID output, DWORD output_size, LPDWORD returned,
                            LPOVERLAPPED overlapped);
