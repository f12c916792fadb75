/* Drivers that answer DeviceIoControl: a named device (register_device of
 * file_internal.h) whose open handle derives from IoctlDevice. */
#pragma once

#include "file_internal.h"

namespace plat {

struct IoctlDevice : DeviceHandle {
  /* Answers one request; the result is a Win32 error code (0 for success)
   * and *returned the output bytes written. */
  virtual DWORD ioctl(DWORD code, const void* input, DWORD input_size, void* output,
                      DWORD output_size, DWORD* returned) = 0;
};

}  // namespace plat
