/* The process's kernel handle table, shared by the platform's modules.
 * A HANDLE names one KernelObject; CloseHandle drops the table's reference.
 * Implemented by kernel.cpp. */
#pragma once

#include <memory>

#include "plat/wintypes.h"

namespace plat {

struct KernelObject {
  virtual ~KernelObject() = default;
  /* Waitable objects (events, mutexes, semaphores, threads, processes) say so
   * and are waited on by the kernel module. */
  virtual bool waitable() const { return false; }
};

/* Enters an object in the table and returns its new handle (never null, never
 * INVALID_HANDLE_VALUE). */
HANDLE handle_open(std::shared_ptr<KernelObject> object);
/* The object of a handle, or null when the handle is not open. */
std::shared_ptr<KernelObject> handle_get(HANDLE handle);
template <class T>
std::shared_ptr<T> handle_get_as(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(handle_get(handle));
}
/* Removes a handle; false when it was not open. */
bool handle_close(HANDLE handle);

}  // namespace plat
