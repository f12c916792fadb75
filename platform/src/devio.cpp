#include "plat/devio.h"

#include "devio_internal.h"
#include "plat/kernel.h"

using namespace plat;

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD input_size,
                            LPVOID output, DWORD output_size, LPDWORD returned,
                            LPOVERLAPPED overlapped) {
  if (returned) *returned = 0;
  std::shared_ptr<KernelObject> object = handle_get(device);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto driver = std::dynamic_pointer_cast<IoctlDevice>(object);
  if (!driver) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  if (overlapped || (input_size && !input) || (output_size && !output)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD done = 0;
  DWORD error = driver->ioctl(code, input, input_size, output, output_size, &done);
  if (error) {
    SetLastError(error);
    return FALSE;
  }
  if (returned) *returned = done;
  return TRUE;
}
