/* What the file module shares with the stream module and with the platform
 * modules that serve named devices ("COM13:", "VIP1:", "SCA0:") through
 * CreateFileW, ReadFile and WriteFile. Implemented by file.cpp. */
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "handles.h"
#include "plat/wintypes.h"

namespace plat {

/* A device's open handle: an entry of the kernel handle table that ReadFile,
 * WriteFile and FlushFileBuffers pass to. Results are Win32 error codes
 * (0 for success). */
struct DeviceHandle : KernelObject {
  virtual DWORD read(void* data, DWORD size, DWORD* done) {
    (void)data, (void)size;
    *done = 0;
    return ERROR_INVALID_FUNCTION;
  }
  virtual DWORD write(const void* data, DWORD size, DWORD* done) {
    (void)data, (void)size;
    *done = 0;
    return ERROR_INVALID_FUNCTION;
  }
  virtual DWORD flush() { return 0; }
};

/* Opens the device for CreateFileW; null with *error set when it cannot. */
using DeviceOpen =
    std::function<std::shared_ptr<DeviceHandle>(DWORD access, DWORD share, DWORD* error)>;
/* name is the device name with its colon ("COM13:"), matched case-insensitively
 * with or without a leading separator. A new registration replaces an old one. */
/* The key of a device path for tables of names (stand-in programs, modules):
 * rooted, backslashes, one separator at a time, ASCII letters folded. */
std::u16string device_path_key(const std::u16string& path);

void register_device(const std::u16string& name, DeviceOpen open);
void unregister_device(const std::u16string& name);

/* Opens a device path as open(2) would with flags (O_RDONLY, O_RDWR, O_CREAT,
 * O_TRUNC, O_APPEND, O_EXCL), with the Win32 rules on top: a read-only file
 * refuses write access (also to root), a folder does not open. Returns the
 * descriptor, or -1 with *error the Win32 code and errno the C library's. */
int open_device_file(const WCHAR* path, int flags, DWORD* error);

/* The Win32 code for an errno value. */
DWORD error_from_errno(int error);

}  // namespace plat
