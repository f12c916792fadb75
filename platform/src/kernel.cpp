/* Kernel objects of the host: the handle table, last error, waits, threads,
 * critical sections, events, mutexes and semaphores.
 *
 * Names of events, mutexes and semaphores live in one table of this process.
 * So that a second process on the same device root sees a name, each name in
 * use is also a lock file in <device root>/.kernel/ on which every process
 * that holds the name open keeps a shared flock: a process that can take the
 * lock exclusively is the only holder. A process that ends, even by a crash,
 * drops its locks with its file descriptors. All changes of these locks are
 * made under an exclusive flock of <device root>/.kernel/names.lock. A named
 * mutex's ownership is the device's too (see MutexObject); the state of a
 * named event or semaphore is each process's own. */
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "plat/host.h"
#include "plat/kernel.h"
#include "sync.h"

namespace plat {

/* ---- Handle table ---- */

namespace {

struct HandleTable {
  std::mutex lock;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x100;
};

/* Never destroyed: threads may still use handles while the program exits. */
HandleTable& handle_table() {
  static HandleTable* table = new HandleTable;
  return *table;
}

const HANDLE current_process_pseudo = (HANDLE)(intptr_t)-1;
const HANDLE current_thread_pseudo = (HANDLE)(intptr_t)-2;

}  // namespace

HANDLE handle_open(std::shared_ptr<KernelObject> object) {
  HandleTable& table = handle_table();
  std::lock_guard<std::mutex> guard(table.lock);
  uintptr_t value = table.next;
  table.next += 4;
  table.objects.emplace(value, std::move(object));
  return (HANDLE)value;
}

std::shared_ptr<KernelObject> handle_get(HANDLE handle) {
  HandleTable& table = handle_table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.objects.find((uintptr_t)handle);
  if (it == table.objects.end()) return nullptr;
  return it->second;
}

bool handle_close(HANDLE handle) {
  std::shared_ptr<KernelObject> object; /* released after the table's lock */
  HandleTable& table = handle_table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.objects.find((uintptr_t)handle);
  if (it == table.objects.end()) return false;
  object = std::move(it->second);
  table.objects.erase(it);
  return true;
}

/* ---- Synchronisation ---- */

namespace {

struct SyncState {
  std::mutex lock;
  std::condition_variable changed;
};

SyncState& sync_state() {
  static SyncState* state = new SyncState;
  return *state;
}

struct MutexObject;

/* What the kernel keeps for each thread. */
struct ThreadState {
  DWORD id = 0;
  DWORD process_id = 0;
  std::shared_ptr<ThreadObject> self;
  std::vector<std::weak_ptr<MutexObject>> owned; /* guarded by sync_mutex */
  DWORD last_error = 0;
  ~ThreadState();
};

thread_local ThreadState t_state;

std::atomic<DWORD> next_thread_id{0x1000};

}  // namespace

std::string kernel_folder() {
  const std::string& root = device_root();
  if (root.empty()) return std::string();
  std::string dir = root + "/.kernel";
  mkdir(dir.c_str(), 0755);
  return dir;
}

std::mutex& sync_mutex() { return sync_state().lock; }
void sync_notify() { sync_state().changed.notify_all(); }

DWORD new_thread_id() { return next_thread_id.fetch_add(4); }

DWORD current_process_id() {
  if (t_state.process_id == 0) t_state.process_id = (DWORD)getpid();
  return t_state.process_id;
}

static DWORD current_thread_id() {
  if (t_state.id == 0) t_state.id = new_thread_id();
  return t_state.id;
}

/* The object of the calling thread, made on first use for threads that the
 * kernel did not start. */
static std::shared_ptr<ThreadObject> current_thread_object() {
  if (!t_state.self) {
    auto self = std::make_shared<ThreadObject>();
    self->id = current_thread_id();
    self->process_id = current_process_id();
    t_state.self = self;
  }
  return t_state.self;
}

/* The object of a handle, resolving the current thread's pseudo handle. */
static std::shared_ptr<KernelObject> resolve(HANDLE handle) {
  if (handle == current_thread_pseudo) return current_thread_object();
  return handle_get(handle);
}

template <class T>
static std::shared_ptr<T> resolve_as(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(resolve(handle));
}

}  // namespace plat

using namespace plat;

DWORD WINAPI GetLastError(void) { return t_state.last_error; }
void WINAPI SetLastError(DWORD error) { t_state.last_error = error; }

BOOL WINAPI CloseHandle(HANDLE object) {
  if (object == current_process_pseudo || object == current_thread_pseudo) return TRUE;
  if (!handle_close(object)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

/* ---- Waits ---- */

static DWORD wait_objects(const std::vector<std::shared_ptr<Waitable>>& objects, bool all,
                          DWORD timeout) {
  DWORD tid = current_thread_id();
  uint64_t start = device_ms();
  const double poll_us = 1000.0;
  bool polled = std::any_of(objects.begin(), objects.end(),
                            [](const std::shared_ptr<Waitable>& o) { return o->polled(); });
  SyncState& sync = sync_state();
  std::unique_lock<std::mutex> lock(sync.lock);
  for (;;) {
    if (all) {
      bool ready = std::all_of(objects.begin(), objects.end(),
                               [tid](const std::shared_ptr<Waitable>& o) { return o->signaled(tid); });
      if (ready) {
        DWORD result = WAIT_OBJECT_0;
        for (size_t i = 0; i < objects.size(); i++) {
          if (objects[i]->acquire(tid) == WAIT_ABANDONED && result == WAIT_OBJECT_0)
            result = WAIT_ABANDONED_0 + (DWORD)i;
        }
        return result;
      }
      for (auto& o : objects) o->unprobe();
    } else {
      for (size_t i = 0; i < objects.size(); i++) {
        if (objects[i]->signaled(tid)) return objects[i]->acquire(tid) + (DWORD)i;
      }
    }
    if (timeout == 0) return WAIT_TIMEOUT;
    if (timeout == INFINITE && !polled) {
      sync.changed.wait(lock);
      continue;
    }
    uint64_t elapsed = device_ms() - start;
    if (timeout != INFINITE && elapsed >= timeout) return WAIT_TIMEOUT;
    /* Device time may change speed meanwhile: wait for the real time that the
     * rest takes now, then look at the device clock again. Another process
     * does not wake this one: its objects are looked at again soon. */
    double real_us = timeout == INFINITE ? 1e9 : std::ceil((double)(timeout - elapsed) * 1000.0 / speed());
    if (polled) real_us = std::min(real_us, poll_us);
    sync.changed.wait_for(lock, std::chrono::microseconds((long long)real_us + 1));
  }
}

static bool collect_waitables(DWORD count, const HANDLE* handles,
                              std::vector<std::shared_ptr<Waitable>>* out) {
  for (DWORD i = 0; i < count; i++) {
    auto object = resolve_as<Waitable>(handles[i]);
    if (!object) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    out->push_back(std::move(object));
  }
  return true;
}

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  std::vector<std::shared_ptr<Waitable>> objects;
  if (!collect_waitables(1, &object, &objects)) return WAIT_FAILED;
  return wait_objects(objects, false, milliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                                    DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<Waitable>> objects;
  if (!collect_waitables(count, handles, &objects)) return WAIT_FAILED;
  if (wait_all) {
    /* One object twice cannot be taken "all at once". */
    std::vector<Waitable*> seen;
    for (auto& o : objects) seen.push_back(o.get());
    std::sort(seen.begin(), seen.end());
    if (std::adjacent_find(seen.begin(), seen.end()) != seen.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return WAIT_FAILED;
    }
  }
  return wait_objects(objects, wait_all != FALSE, milliseconds);
}

/* ---- Threads ---- */

namespace plat {
namespace {

struct StartBlock {
  std::function<DWORD()> body;
  std::shared_ptr<ThreadObject> object;
};

void abandon_owned_mutexes();

void* thread_main(void* arg) {
  std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(arg));
  std::shared_ptr<ThreadObject> object = block->object;
  t_state.id = object->id;
  t_state.process_id = object->process_id;
  t_state.self = object;
  {
    SyncState& sync = sync_state();
    std::unique_lock<std::mutex> lock(sync.lock);
    sync.changed.wait(lock, [&] { return object->suspend_count == 0; });
  }
  DWORD code = block->body();
  block.reset(); /* the body's captures go before the thread counts as ended */
  std::lock_guard<std::mutex> guard(sync_mutex());
  abandon_owned_mutexes();
  object->exit_code = code;
  object->done = true;
  sync_notify();
  return nullptr;
}

}  // namespace

std::shared_ptr<ThreadObject> thread_start(std::function<DWORD()> body, bool suspended,
                                           DWORD process_id, SIZE_T stack_size) {
  auto object = std::make_shared<ThreadObject>();
  object->id = new_thread_id();
  object->process_id = process_id;
  object->suspend_count = suspended ? 1 : 0;
  auto* block = new StartBlock{std::move(body), object};

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stack_size > 0) {
    size_t size = std::max<size_t>(stack_size, 256 * 1024);
    pthread_attr_setstacksize(&attr, size);
  }
  pthread_t thread;
  int rc = pthread_create(&thread, &attr, thread_main, block);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete block;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return object;
}

}  // namespace plat

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stack_size,
                           LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                           LPDWORD thread_id) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto object = thread_start([start, parameter] { return start(parameter); },
                             (flags & CREATE_SUSPENDED) != 0, current_process_id(), stack_size);
  if (!object) return nullptr;
  if (thread_id) *thread_id = object->id;
  return handle_open(object);
}

DWORD WINAPI ResumeThread(HANDLE thread) {
  auto object = resolve_as<ThreadObject>(thread);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return (DWORD)-1;
  }
  std::lock_guard<std::mutex> guard(sync_mutex());
  DWORD previous = object->suspend_count;
  if (previous > 0 && --object->suspend_count == 0) sync_notify();
  return previous;
}

BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exit_code) {
  auto object = resolve_as<ThreadObject>(thread);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!exit_code) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(sync_mutex());
  *exit_code = object->exit_code;
  return TRUE;
}

static bool valid_priority(int priority) {
  switch (priority) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
      return true;
    default:
      return false;
  }
}

BOOL WINAPI SetThreadPriority(HANDLE thread, int priority) {
  auto object = resolve_as<ThreadObject>(thread);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!valid_priority(priority)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(sync_mutex());
  object->priority = priority;
  return TRUE;
}

int WINAPI GetThreadPriority(HANDLE thread) {
  auto object = resolve_as<ThreadObject>(thread);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  std::lock_guard<std::mutex> guard(sync_mutex());
  return object->priority;
}

HANDLE WINAPI GetCurrentThread(void) { return current_thread_pseudo; }
DWORD WINAPI GetCurrentThreadId(void) { return current_thread_id(); }
DWORD WINAPI GetCurrentProcessId(void) { return current_process_id(); }

/* ---- Critical sections ---- */

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::Lock),
              "CRITICAL_SECTION has no room for the host lock");

static pthread_mutex_t* cs_lock(LPCRITICAL_SECTION section) {
  return reinterpret_cast<pthread_mutex_t*>(section->Lock.bytes);
}

static void cs_taken(LPCRITICAL_SECTION section) {
  if (section->RecursionCount++ == 0) section->OwningThread = (HANDLE)(uintptr_t)current_thread_id();
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) {
  memset(section, 0, sizeof(*section));
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(cs_lock(section), &attr);
  pthread_mutexattr_destroy(&attr);
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutex_destroy(cs_lock(section));
  memset(section, 0, sizeof(*section));
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
  pthread_mutex_lock(cs_lock(section));
  cs_taken(section);
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  if (pthread_mutex_trylock(cs_lock(section)) != 0) return FALSE;
  cs_taken(section);
  return TRUE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
  if (--section->RecursionCount == 0) section->OwningThread = nullptr;
  pthread_mutex_unlock(cs_lock(section));
}

/* ---- Named objects ---- */

namespace plat {
namespace {

enum class Kind { event, mutex, semaphore };

struct NamedObject : Waitable {
  Kind kind;
  std::u16string name; /* empty: unnamed */
  explicit NamedObject(Kind k) : kind(k) {}
  ~NamedObject() override;
  /* What another process needs to make its own copy of the object. */
  virtual std::string describe() const = 0;
  /* Called once the name is this process's (lock file: the name's file). */
  virtual void share_with_processes(const std::string& lock_file) { (void)lock_file; }
};

struct EventObject : NamedObject {
  bool manual_reset;
  bool state; /* guarded by sync_mutex */
  EventObject(bool manual, bool initial) : NamedObject(Kind::event), manual_reset(manual), state(initial) {}
  bool signaled(DWORD) const override { return state; }
  DWORD acquire(DWORD) override {
    if (!manual_reset) state = false;
    return WAIT_OBJECT_0;
  }
  std::string describe() const override { return manual_reset ? "event manual" : "event auto"; }
};

/* A named mutex is owned by one thread of the whole device: the process of
 * the owning thread holds an exclusive flock of the name's ".own" file, and
 * writes its process id there while it owns it. A process that ends while it
 * owns the mutex leaves the id behind: the next owner sees the mutex
 * abandoned, as it would see a thread of its own that ended owning it. */
struct MutexObject : NamedObject, std::enable_shared_from_this<MutexObject> {
  /* Guarded by sync_mutex. */
  DWORD owner = 0;
  DWORD count = 0;
  bool abandoned = false;
  int own_fd = -1;              /* the ".own" file of a named mutex, or -1 */
  mutable bool own_held = false; /* this process holds its flock */
  MutexObject() : NamedObject(Kind::mutex) {}
  ~MutexObject() override {
    if (own_fd >= 0) close(own_fd);
  }
  void share_with_processes(const std::string& lock_file) override {
    std::string path = lock_file.substr(0, lock_file.size() - 5) + ".own";
    own_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  }
  bool polled() const override { return own_fd >= 0; }
  bool signaled(DWORD tid) const override {
    if (owner == tid) return true;
    if (owner != 0) return false;
    if (own_fd >= 0 && !own_held) own_held = flock(own_fd, LOCK_EX | LOCK_NB) == 0;
    return own_fd < 0 || own_held;
  }
  void unprobe() override {
    if (owner == 0 && own_held) {
      flock(own_fd, LOCK_UN);
      own_held = false;
    }
  }
  DWORD acquire(DWORD tid) override {
    if (owner == 0) {
      owner = tid;
      count = 1;
      t_state.owned.push_back(weak_from_this());
      if (own_held) {
        char left[16];
        if (pread(own_fd, left, sizeof left, 0) > 0) abandoned = true;
        std::string pid = std::to_string(getpid());
        if (ftruncate(own_fd, 0) != 0 || pwrite(own_fd, pid.data(), pid.size(), 0) < 0) {
          /* Only the abandonment of a crashed owner goes unseen. */
        }
      }
    } else {
      count++;
    }
    if (abandoned) {
      abandoned = false;
      return WAIT_ABANDONED;
    }
    return WAIT_OBJECT_0;
  }
  /* No thread owns it any more; `cleanly` (a release) clears the owner's id. */
  void let_go(bool cleanly) {
    owner = 0;
    count = 0;
    if (!own_held) return;
    if (cleanly && ftruncate(own_fd, 0) != 0) abandoned = true;
    flock(own_fd, LOCK_UN);
    own_held = false;
  }
  std::string describe() const override { return "mutex"; }
};

struct SemaphoreObject : NamedObject {
  LONG count; /* guarded by sync_mutex */
  LONG maximum;
  SemaphoreObject(LONG initial, LONG max) : NamedObject(Kind::semaphore), count(initial), maximum(max) {}
  bool signaled(DWORD) const override { return count > 0; }
  DWORD acquire(DWORD) override {
    count--;
    return WAIT_OBJECT_0;
  }
  std::string describe() const override { return "semaphore " + std::to_string(maximum); }
};

/* Called with sync_mutex held when the thread ends. */
void abandon_owned_mutexes() {
  bool any = false;
  for (auto& weak : t_state.owned) {
    auto mutex = weak.lock();
    if (mutex && mutex->owner == t_state.id) {
      mutex->let_go(false);
      mutex->abandoned = true;
      any = true;
    }
  }
  t_state.owned.clear();
  if (any) sync_notify();
}

ThreadState::~ThreadState() {
  if (owned.empty()) return;
  std::lock_guard<std::mutex> guard(sync_mutex());
  abandon_owned_mutexes();
}

/* ---- Names seen by other processes ---- */

std::string lock_file_path(const std::string& dir, const std::u16string& name) {
  std::string utf8 = utf16_to_utf8(name);
  std::string encoded = "obj-";
  static const char hex[] = "0123456789abcdef";
  for (unsigned char c : utf8) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
        c == '-') {
      encoded += (char)c;
    } else {
      encoded += '%';
      encoded += hex[c >> 4];
      encoded += hex[c & 15];
    }
  }
  if (encoded.size() > 200) {
    /* Too long for a file name: a prefix and a hash of the whole name. */
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : utf8) h = (h ^ c) * 1099511628211ull;
    char tail[24];
    snprintf(tail, sizeof tail, "#%016llx", (unsigned long long)h);
    encoded = encoded.substr(0, 180) + tail;
  }
  return dir + "/" + encoded + ".lock";
}

/* Holds the exclusive lock of the folder's names.lock. */
struct FolderGuard {
  int fd = -1;
  explicit FolderGuard(const std::string& dir) {
    fd = open((dir + "/names.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0 && flock(fd, LOCK_EX) != 0) {
      close(fd);
      fd = -1;
    }
  }
  ~FolderGuard() {
    if (fd >= 0) close(fd);
  }
};

std::string read_description(int fd) {
  char buffer[128];
  ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
  return std::string(buffer, n > 0 ? (size_t)n : 0);
}

enum class Claim { local_only, fresh, elsewhere };

/* Takes a shared lock on the name's file (fd: the process's descriptor of it,
 * or -1 to open it) and tells whether another process holds it too; a new
 * holder writes the description. */
Claim claim_name(const std::u16string& name, const std::string& description, int* fd,
                 std::string* other_description) {
  std::string dir = kernel_folder();
  if (dir.empty()) return Claim::local_only;
  FolderGuard guard(dir);
  if (guard.fd < 0) return Claim::local_only;
  std::string path = lock_file_path(dir, name);
  if (*fd < 0) *fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (*fd < 0) return Claim::local_only;
  if (flock(*fd, LOCK_EX | LOCK_NB) == 0) {
    if (ftruncate(*fd, 0) == 0 && pwrite(*fd, description.data(), description.size(), 0) < 0) {
      /* The description only serves other processes' OpenXxxW. */
    }
    flock(*fd, LOCK_SH);
    return Claim::fresh;
  }
  *other_description = read_description(*fd);
  flock(*fd, LOCK_SH);
  return Claim::elsewhere;
}

/* Looks for a name held by another process; on success *fd holds a shared lock. */
bool probe_name(const std::u16string& name, int* fd, std::string* description) {
  std::string dir = kernel_folder();
  if (dir.empty()) return false;
  FolderGuard guard(dir);
  if (guard.fd < 0) return false;
  std::string path = lock_file_path(dir, name);
  int f = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (f < 0) return false;
  if (flock(f, LOCK_EX | LOCK_NB) == 0) {
    unlink(path.c_str());
    close(f);
    return false;
  }
  *description = read_description(f);
  flock(f, LOCK_SH);
  *fd = f;
  return true;
}

/* Drops the process's hold of a name; the last holder removes the file. */
void release_name(const std::u16string& name, int fd) {
  std::string dir = kernel_folder();
  if (!dir.empty()) {
    FolderGuard guard(dir);
    if (guard.fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) unlink(lock_file_path(dir, name).c_str());
  }
  close(fd);
}

struct NameEntry {
  std::weak_ptr<NamedObject> object;
  NamedObject* owner;
  int fd; /* the lock file, or -1 */
};

struct NameTable {
  std::mutex lock;
  std::map<std::u16string, NameEntry> entries;
};

NameTable& name_table() {
  static NameTable* table = new NameTable;
  return *table;
}

NamedObject::~NamedObject() {
  if (name.empty()) return;
  NameTable& table = name_table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.entries.find(name);
  /* A new object may have taken the name (and the lock file) over meanwhile. */
  if (it == table.entries.end() || it->second.owner != this) return;
  if (it->second.fd >= 0) release_name(name, it->second.fd);
  table.entries.erase(it);
}

Kind kind_of_description(const std::string& description) {
  if (description.compare(0, 5, "event") == 0) return Kind::event;
  if (description.compare(0, 9, "semaphore") == 0) return Kind::semaphore;
  return Kind::mutex;
}

/* The object of this process for a name that another process holds. */
std::shared_ptr<NamedObject> copy_from_description(const std::string& description) {
  switch (kind_of_description(description)) {
    case Kind::event:
      return std::make_shared<EventObject>(description == "event manual", false);
    case Kind::semaphore: {
      long maximum = strtol(description.c_str() + 9, nullptr, 10);
      return std::make_shared<SemaphoreObject>(0, maximum > 0 ? (LONG)maximum : 1);
    }
    case Kind::mutex:
      break;
  }
  return std::make_shared<MutexObject>();
}

/* CreateXxxW: the handle of the new or existing object, with the last error
 * of Win32. `made` is the new object (with its arguments applied), used when
 * the name is free in this process. */
HANDLE create_named(LPCWSTR name, std::shared_ptr<NamedObject> made) {
  if (!name || !*name) {
    SetLastError(0);
    return handle_open(std::move(made));
  }
  std::u16string key(name);
  std::shared_ptr<NamedObject> existing; /* released after the table's lock */
  NameTable& table = name_table();
  std::unique_lock<std::mutex> lock(table.lock);
  int fd = -1;
  auto it = table.entries.find(key);
  if (it != table.entries.end()) {
    existing = it->second.object.lock();
    if (existing) {
      if (existing->kind != made->kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      HANDLE h = handle_open(existing);
      SetLastError(ERROR_ALREADY_EXISTS);
      return h;
    }
    /* The last handle of the previous object is closing: take its lock over. */
    fd = it->second.fd;
    it->second.owner = nullptr;
  }
  std::string other;
  Claim claim = claim_name(key, made->describe(), &fd, &other);
  if (claim == Claim::elsewhere && kind_of_description(other) != made->kind) {
    if (fd >= 0) release_name(key, fd);
    table.entries.erase(key);
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  made->name = key;
  if (fd >= 0) made->share_with_processes(lock_file_path(kernel_folder(), key));
  table.entries[key] = NameEntry{made, made.get(), fd};
  HANDLE h = handle_open(made);
  SetLastError(claim == Claim::elsewhere ? ERROR_ALREADY_EXISTS : 0);
  return h;
}

/* OpenXxxW. */
HANDLE open_named(LPCWSTR name, Kind kind) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::u16string key(name);
  std::shared_ptr<NamedObject> object;
  NameTable& table = name_table();
  std::unique_lock<std::mutex> lock(table.lock);
  auto it = table.entries.find(key);
  if (it != table.entries.end()) object = it->second.object.lock();
  if (!object) {
    int fd = -1;
    std::string description;
    if (it != table.entries.end() || !probe_name(key, &fd, &description)) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    object = copy_from_description(description);
    object->name = key;
    object->share_with_processes(lock_file_path(kernel_folder(), key));
    table.entries[key] = NameEntry{object, object.get(), fd};
  }
  if (object->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return handle_open(object);
}

template <class T>
std::shared_ptr<T> object_or_error(HANDLE handle) {
  auto object = resolve_as<T>(handle);
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

}  // namespace
}  // namespace plat

/* ---- Events ---- */

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manual_reset, BOOL initial_state,
                           LPCWSTR name) {
  return create_named(name, std::make_shared<EventObject>(manual_reset != FALSE, initial_state != FALSE));
}

HANDLE WINAPI OpenEventW(DWORD, BOOL, LPCWSTR name) { return open_named(name, Kind::event); }

static BOOL set_event_state(HANDLE event, bool state) {
  auto object = object_or_error<EventObject>(event);
  if (!object) return FALSE;
  std::lock_guard<std::mutex> guard(sync_mutex());
  object->state = state;
  if (state) sync_notify();
  return TRUE;
}

BOOL WINAPI SetEvent(HANDLE event) { return set_event_state(event, true); }
BOOL WINAPI ResetEvent(HANDLE event) { return set_event_state(event, false); }

/* ---- Mutexes ---- */

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initial_owner, LPCWSTR name) {
  auto made = std::make_shared<MutexObject>();
  HANDLE h = create_named(name, made);
  /* An existing mutex is not taken by its creator. */
  if (h && initial_owner && GetLastError() != ERROR_ALREADY_EXISTS) {
    std::lock_guard<std::mutex> guard(sync_mutex());
    if (made->signaled(current_thread_id())) made->acquire(current_thread_id());
  }
  return h;
}

HANDLE WINAPI OpenMutexW(DWORD, BOOL, LPCWSTR name) { return open_named(name, Kind::mutex); }

BOOL WINAPI ReleaseMutex(HANDLE mutex) {
  auto object = object_or_error<MutexObject>(mutex);
  if (!object) return FALSE;
  DWORD tid = current_thread_id();
  std::lock_guard<std::mutex> guard(sync_mutex());
  if (object->owner != tid || object->count == 0) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--object->count == 0) {
    object->let_go(true);
    auto& owned = t_state.owned;
    owned.erase(std::remove_if(owned.begin(), owned.end(),
                               [&](const std::weak_ptr<MutexObject>& w) {
                                 auto m = w.lock();
                                 return !m || m == object;
                               }),
                owned.end());
    sync_notify();
  }
  return TRUE;
}

/* ---- Semaphores ---- */

HANDLE WINAPI CreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG initial_count, LONG maximum_count,
                               LPCWSTR name) {
  if (maximum_count <= 0 || initial_count < 0 || initial_count > maximum_count) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return create_named(name, std::make_shared<SemaphoreObject>(initial_count, maximum_count));
}

HANDLE WINAPI OpenSemaphoreW(DWORD, BOOL, LPCWSTR name) { return open_named(name, Kind::semaphore); }

BOOL WINAPI ReleaseSemaphore(HANDLE semaphore, LONG release_count, LPLONG previous_count) {
  auto object = object_or_error<SemaphoreObject>(semaphore);
  if (!object) return FALSE;
  if (release_count <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(sync_mutex());
  if (release_count > object->maximum - object->count) {
    SetLastError(ERROR_TOO_MANY_POSTS);
    return FALSE;
  }
  if (previous_count) *previous_count = object->count;
  object->count += release_count;
  sync_notify();
  return TRUE;
}
