/* Waitable kernel objects and the threads that run in this process, shared by
 * kernel.cpp and process.cpp.
 *
 * Every waitable object changes state under one lock (sync_mutex) and every
 * change wakes all waiters (sync_notify), which then test their objects
 * again; a wait takes its objects under the same lock. */
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "handles.h"
#include "plat/kernel.h"

namespace plat {

/* The host folder of the kernel's own files in the device root
 * (<root>/.kernel, made when missing), or empty without a device root. */
std::string kernel_folder();

std::mutex& sync_mutex();
/* Wakes every waiting thread; called with sync_mutex held. */
void sync_notify();

struct Waitable : KernelObject {
  bool waitable() const override { return true; }
  /* With sync_mutex held: may thread `tid` take the object now? */
  virtual bool signaled(DWORD tid) const = 0;
  /* With sync_mutex held, after signaled(tid): takes the object for the
   * thread; WAIT_OBJECT_0, or WAIT_ABANDONED for an abandoned mutex. */
  virtual DWORD acquire(DWORD tid) {
    (void)tid;
    return WAIT_OBJECT_0;
  }
  /* With sync_mutex held: gives back what signaled(tid) took for a wait on
   * several objects that is not satisfied yet. */
  virtual void unprobe() {}
  /* Changed by other processes too, so waits look at it again every
   * millisecond. */
  virtual bool polled() const { return false; }
};

/* A thread of this process (started by CreateThread or by a stand-in
 * program's launch, or any other thread that asked for its own object). */
struct ThreadObject : Waitable {
  DWORD id = 0;
  DWORD process_id = 0;
  /* The fields below are guarded by sync_mutex. */
  bool done = false;
  DWORD exit_code = STILL_ACTIVE;
  int priority = THREAD_PRIORITY_NORMAL;
  DWORD suspend_count = 0;
  bool signaled(DWORD) const override { return done; }
};

/* A new thread id, unique in this process and never 0. */
DWORD new_thread_id();
/* The process id that the calling thread belongs to. */
DWORD current_process_id();

/* Starts `body` on a new thread that belongs to process `process_id`; with
 * `suspended` it waits for ResumeThread first. The body's result is the
 * thread's exit code. Returns null with the last error set on failure. */
std::shared_ptr<ThreadObject> thread_start(std::function<DWORD()> body, bool suspended,
                                           DWORD process_id, SIZE_T stack_size = 0);

}  // namespace plat
