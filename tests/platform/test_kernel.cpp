/* The kernel objects the system relies on, as Win32 defines them: last error,
 * handles, threads, critical sections, events, mutexes, semaphores, waits. */
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "known_difference.h"
#ifndef _WIN32
#include "plat/host.h"
#include "spawn_self.h"
#endif

namespace {

const DWORD sentinel = 0xDEADBEEF;

/* ---- Last error and handles ---- */

DWORD WINAPI set_error_thread(LPVOID parameter) {
  DWORD before = GetLastError();
  SetLastError(777);
  *static_cast<DWORD*>(parameter) = before;
  return GetLastError();
}

TEST(LastError, BelongsToEachThread) {
  SetLastError(sentinel);
  DWORD seen_by_thread = 1;
  HANDLE thread = CreateThread(nullptr, 0, set_error_thread, &seen_by_thread, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(seen_by_thread, 0u) << "a new thread starts without an error";
  EXPECT_EQ(code, 777u);
  CloseHandle(thread);
  EXPECT_EQ(GetLastError(), sentinel);
}

TEST(CloseHandle, UnknownHandlesFail) {
  HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));
  const HANDLE bad[] = {nullptr, (HANDLE)(uintptr_t)0x7ffff00c, closed};
  for (HANDLE h : bad) {
    SetLastError(sentinel);
    EXPECT_FALSE(CloseHandle(h)) << h;
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE) << h;
  }
}

TEST(Handles, WrongKindOrClosedHandleIsInvalid) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 1, nullptr);
  HANDLE closed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(closed);
  LONG previous = 0;
  struct Case {
    const char* call;
    BOOL (*run)(HANDLE, LONG*);
    HANDLE handle;
  } cases[] = {
      {"SetEvent(mutex)", [](HANDLE h, LONG*) { return SetEvent(h); }, mutex},
      {"ResetEvent(semaphore)", [](HANDLE h, LONG*) { return ResetEvent(h); }, semaphore},
      {"SetEvent(closed)", [](HANDLE h, LONG*) { return SetEvent(h); }, closed},
      {"ReleaseMutex(event)", [](HANDLE h, LONG*) { return ReleaseMutex(h); }, event},
      {"ReleaseSemaphore(mutex)", [](HANDLE h, LONG* p) { return ReleaseSemaphore(h, 1, p); }, mutex},
      {"GetExitCodeThread(event)",
       [](HANDLE h, LONG* p) { return GetExitCodeThread(h, (LPDWORD)p); }, event},
      {"GetExitCodeProcess(event)",
       [](HANDLE h, LONG* p) { return GetExitCodeProcess(h, (LPDWORD)p); }, event},
  };
  for (const Case& c : cases) {
    SetLastError(sentinel);
    EXPECT_FALSE(c.run(c.handle, &previous)) << c.call;
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE) << c.call;
  }
  SetLastError(sentinel);
  EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  CloseHandle(event);
  CloseHandle(mutex);
  CloseHandle(semaphore);
}

/* ---- Threads ---- */

struct ThreadProbe {
  HANDLE go;
  DWORD id_inside;
  LPVOID parameter_seen;
};

DWORD WINAPI probe_thread(LPVOID parameter) {
  auto* probe = static_cast<ThreadProbe*>(parameter);
  probe->id_inside = GetCurrentThreadId();
  probe->parameter_seen = parameter;
  WaitForSingleObject(probe->go, INFINITE);
  return 42;
}

TEST(Thread, RunsWithItsParameterAndEndsWithItsExitCode) {
  ThreadProbe probe = {CreateEventW(nullptr, TRUE, FALSE, nullptr), 0, nullptr};
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, probe_thread, &probe, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, (DWORD)STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(thread, 20), (DWORD)WAIT_TIMEOUT);
  SetEvent(probe.go);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(probe.id_inside, id);
  EXPECT_EQ(probe.parameter_seen, &probe);
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "an ended thread stays signalled";
  CloseHandle(thread);
  CloseHandle(probe.go);
}

DWORD WINAPI count_thread(LPVOID parameter) {
  static_cast<std::atomic<int>*>(parameter)->fetch_add(1);
  return 0;
}

TEST(Thread, SuspendedThreadWaitsForResume) {
  std::atomic<int> runs{0};
  HANDLE thread = CreateThread(nullptr, 0, count_thread, &runs, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 30), (DWORD)WAIT_TIMEOUT);
  EXPECT_EQ(runs.load(), 0);
  EXPECT_EQ(ResumeThread(thread), 1u);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(ResumeThread(thread), 0u) << "a thread that is not suspended stays so";
  CloseHandle(thread);
}

TEST(Thread, PriorityIsKept) {
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ThreadProbe probe = {go, 0, nullptr};
  HANDLE thread = CreateThread(nullptr, 0, probe_thread, &probe, 0, nullptr);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
  const int priorities[] = {THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_LOWEST,
                            THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_ABOVE_NORMAL,
                            THREAD_PRIORITY_HIGHEST,      THREAD_PRIORITY_TIME_CRITICAL,
                            THREAD_PRIORITY_NORMAL};
  for (int p : priorities) {
    EXPECT_TRUE(SetThreadPriority(thread, p)) << p;
    EXPECT_EQ(GetThreadPriority(thread), p);
  }
  SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL);
  SetLastError(sentinel);
  EXPECT_FALSE(SetThreadPriority(thread, 100));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_BELOW_NORMAL) << "a refused value changes nothing";

  /* The pseudo handle names the calling thread. */
  int mine = GetThreadPriority(GetCurrentThread());
  EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL));
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_ABOVE_NORMAL);
  SetThreadPriority(GetCurrentThread(), mine);

  SetLastError(sentinel);
  EXPECT_EQ(GetThreadPriority(go), THREAD_PRIORITY_ERROR_RETURN) << "not a thread";
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  SetEvent(go);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(go);
}

/* ---- Critical sections ---- */

struct SectionProbe {
  CRITICAL_SECTION* section;
  BOOL entered;
};

DWORD WINAPI try_enter_thread(LPVOID parameter) {
  auto* probe = static_cast<SectionProbe*>(parameter);
  probe->entered = TryEnterCriticalSection(probe->section);
  if (probe->entered) LeaveCriticalSection(probe->section);
  return 0;
}

BOOL try_from_other_thread(CRITICAL_SECTION* section) {
  SectionProbe probe = {section, -1};
  HANDLE thread = CreateThread(nullptr, 0, try_enter_thread, &probe, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return probe.entered;
}

TEST(CriticalSection, IsRecursiveForItsOwnerOnly) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);
  EXPECT_TRUE(TryEnterCriticalSection(&section)) << "the owner enters again";
  LeaveCriticalSection(&section);
  EXPECT_FALSE(try_from_other_thread(&section));
  LeaveCriticalSection(&section);
  EXPECT_FALSE(try_from_other_thread(&section)) << "still held once";
  LeaveCriticalSection(&section);
  EXPECT_TRUE(try_from_other_thread(&section)) << "free after the last leave";
  DeleteCriticalSection(&section);
}

struct Counter {
  CRITICAL_SECTION section;
  long value;
};

DWORD WINAPI add_under_lock(LPVOID parameter) {
  auto* counter = static_cast<Counter*>(parameter);
  for (int i = 0; i < 20000; i++) {
    EnterCriticalSection(&counter->section);
    EnterCriticalSection(&counter->section);
    long v = counter->value;
    counter->value = v + 1;
    LeaveCriticalSection(&counter->section);
    LeaveCriticalSection(&counter->section);
  }
  return 0;
}

TEST(CriticalSection, ExcludesOtherThreads) {
  Counter counter;
  InitializeCriticalSection(&counter.section);
  counter.value = 0;
  HANDLE threads[4];
  for (HANDLE& t : threads) t = CreateThread(nullptr, 0, add_under_lock, &counter, 0, nullptr);
  EXPECT_EQ(WaitForMultipleObjects(4, threads, TRUE, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(counter.value, 4 * 20000);
  for (HANDLE t : threads) CloseHandle(t);
  DeleteCriticalSection(&counter.section);
}

/* ---- Events ---- */

TEST(Event, ResetModesAndInitialState) {
  struct Case {
    BOOL manual, initial;
    DWORD first, second; /* two waits with timeout 0 */
  } cases[] = {
      {FALSE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
      {FALSE, TRUE, WAIT_OBJECT_0, WAIT_TIMEOUT},
      {TRUE, FALSE, WAIT_TIMEOUT, WAIT_TIMEOUT},
      {TRUE, TRUE, WAIT_OBJECT_0, WAIT_OBJECT_0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "manual " << c.manual << " initial " << c.initial);
    HANDLE event = CreateEventW(nullptr, c.manual, c.initial, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), c.first);
    EXPECT_EQ(WaitForSingleObject(event, 0), c.second);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), c.manual ? WAIT_OBJECT_0 : (DWORD)WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT);
    CloseHandle(event);
  }
}

DWORD WINAPI wait_event_thread(LPVOID parameter) {
  return WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
}

TEST(Event, AutoResetReleasesOneWaiterPerSet) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE threads[2];
  for (HANDLE& t : threads) t = CreateThread(nullptr, 0, wait_event_thread, event, 0, nullptr);
  EXPECT_EQ(WaitForMultipleObjects(2, threads, FALSE, 30), (DWORD)WAIT_TIMEOUT);
  SetEvent(event);
  DWORD first = WaitForMultipleObjects(2, threads, FALSE, INFINITE);
  ASSERT_LT(first, 2u);
  HANDLE other = threads[1 - first];
  EXPECT_EQ(WaitForSingleObject(other, 50), (DWORD)WAIT_TIMEOUT) << "one set, one waiter";
  EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT) << "the release used the set";
  SetEvent(event);
  EXPECT_EQ(WaitForSingleObject(other, INFINITE), WAIT_OBJECT_0);
  for (HANDLE t : threads) CloseHandle(t);
  CloseHandle(event);
}

TEST(Event, ManualResetReleasesEveryWaiter) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE threads[3];
  for (HANDLE& t : threads) t = CreateThread(nullptr, 0, wait_event_thread, event, 0, nullptr);
  SetEvent(event);
  EXPECT_EQ(WaitForMultipleObjects(3, threads, TRUE, INFINITE), WAIT_OBJECT_0);
  for (HANDLE t : threads) CloseHandle(t);
  CloseHandle(event);
}

/* ---- Mutexes ---- */

struct MutexProbe {
  HANDLE mutex;
  DWORD wait_result;
  BOOL released;
  DWORD release_error;
};

DWORD WINAPI mutex_other_thread(LPVOID parameter) {
  auto* probe = static_cast<MutexProbe*>(parameter);
  SetLastError(sentinel);
  probe->released = ReleaseMutex(probe->mutex);
  probe->release_error = GetLastError();
  probe->wait_result = WaitForSingleObject(probe->mutex, 0);
  if (probe->wait_result == WAIT_OBJECT_0) ReleaseMutex(probe->mutex);
  return 0;
}

MutexProbe probe_from_other_thread(HANDLE mutex) {
  MutexProbe probe = {mutex, 0, -1, 0};
  HANDLE thread = CreateThread(nullptr, 0, mutex_other_thread, &probe, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return probe;
}

TEST(Mutex, RecursiveOwnershipByItsOwner) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << "the owner takes it again";

  MutexProbe probe = probe_from_other_thread(mutex);
  EXPECT_FALSE(probe.released);
  EXPECT_EQ(probe.release_error, (DWORD)ERROR_NOT_OWNER);
  EXPECT_EQ(probe.wait_result, (DWORD)WAIT_TIMEOUT);

  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(probe_from_other_thread(mutex).wait_result, (DWORD)WAIT_TIMEOUT) << "held once more";
  EXPECT_TRUE(ReleaseMutex(mutex));
  SetLastError(sentinel);
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_OWNER);
  EXPECT_EQ(probe_from_other_thread(mutex).wait_result, WAIT_OBJECT_0);
  CloseHandle(mutex);
}

DWORD WINAPI take_and_end(LPVOID parameter) {
  return WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
}

TEST(Mutex, OwnerEndingAbandonsIt) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, take_and_end, mutex, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 1;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), (DWORD)WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex)) << "the waiter that got it abandoned owns it";
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << "abandoned once only";
  ReleaseMutex(mutex);
  CloseHandle(thread);
  CloseHandle(mutex);
}

/* ---- Named objects ---- */

TEST(NamedObject, SecondCreateOpensTheSameObject) {
  const WCHAR* name = TEXT("velmar-test-named-mutex");
  SetLastError(sentinel);
  HANDLE first = CreateMutexW(nullptr, TRUE, name);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u) << "a new object clears the last error";

  HANDLE second = CreateMutexW(nullptr, FALSE, name);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  EXPECT_NE(first, second);
  EXPECT_EQ(probe_from_other_thread(second).wait_result, (DWORD)WAIT_TIMEOUT)
      << "owned through the first handle";
  EXPECT_TRUE(ReleaseMutex(second)) << "same owner, same object";
  EXPECT_EQ(probe_from_other_thread(first).wait_result, WAIT_OBJECT_0);

  /* An existing mutex is not taken by a create that asks for ownership. */
  HANDLE third = CreateMutexW(nullptr, TRUE, name);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  EXPECT_EQ(probe_from_other_thread(third).wait_result, WAIT_OBJECT_0);

  HANDLE opened = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name);
  EXPECT_NE(opened, nullptr);
  for (HANDLE h : {first, second, third, opened}) CloseHandle(h);

  SetLastError(sentinel);
  HANDLE again = CreateMutexW(nullptr, FALSE, name);
  EXPECT_EQ(GetLastError(), 0u) << "the name ends with its last handle";
  CloseHandle(again);
}

TEST(NamedObject, NamesAreSharedBetweenKindsAndCaseSensitive) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, TEXT("velmar-test-shared-name"));
  ASSERT_NE(event, nullptr);
  SetLastError(sentinel);
  EXPECT_EQ(CreateMutexW(nullptr, FALSE, TEXT("velmar-test-shared-name")), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  SetLastError(sentinel);
  EXPECT_EQ(CreateSemaphoreW(nullptr, 0, 1, TEXT("velmar-test-shared-name")), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  SetLastError(sentinel);
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, TEXT("velmar-test-shared-name")), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);

  HANDLE other_case = CreateEventW(nullptr, TRUE, FALSE, TEXT("VELMAR-TEST-SHARED-NAME"));
  EXPECT_EQ(GetLastError(), 0u) << "another spelling is another name";

  HANDLE opened = OpenEventW(EVENT_ALL_ACCESS, FALSE, TEXT("velmar-test-shared-name"));
  ASSERT_NE(opened, nullptr);
  SetEvent(opened);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(other_case, 0), (DWORD)WAIT_TIMEOUT);
  CloseHandle(opened);
  CloseHandle(other_case);
  CloseHandle(event);
}

TEST(NamedObject, OpenMissingNameFails) {
  struct Case {
    const char* call;
    HANDLE (*open)(LPCWSTR);
  } cases[] = {
      {"OpenMutexW", [](LPCWSTR n) { return OpenMutexW(SYNCHRONIZE, FALSE, n); }},
      {"OpenEventW", [](LPCWSTR n) { return OpenEventW(SYNCHRONIZE, FALSE, n); }},
      {"OpenSemaphoreW", [](LPCWSTR n) { return OpenSemaphoreW(SYNCHRONIZE, FALSE, n); }},
  };
  for (const Case& c : cases) {
    SetLastError(sentinel);
    EXPECT_EQ(c.open(TEXT("velmar-test-no-such-object")), nullptr) << c.call;
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND) << c.call;
  }
}

TEST(NamedObject, ExistingSemaphoreKeepsItsCount) {
  HANDLE first = CreateSemaphoreW(nullptr, 0, 40, TEXT("velmar-test-semaphore"));
  HANDLE second = CreateSemaphoreW(nullptr, 5, 10, TEXT("velmar-test-semaphore"));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(second, 1, &previous));
  EXPECT_EQ(previous, 0) << "the counts given to the second create are ignored";
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first, 0), (DWORD)WAIT_TIMEOUT);
  CloseHandle(first);
  CloseHandle(second);
}

/* ---- Semaphores ---- */

TEST(Semaphore, CreateChecksItsCounts) {
  struct Case {
    LONG initial, maximum;
    bool ok;
  } cases[] = {
      {0, 1, true}, {1, 1, true}, {0, 40, true}, {2, 1, false}, {-1, 1, false}, {0, 0, false}, {0, -3, false},
  };
  for (const Case& c : cases) {
    SetLastError(sentinel);
    HANDLE h = CreateSemaphoreW(nullptr, c.initial, c.maximum, nullptr);
    EXPECT_EQ(h != nullptr, c.ok) << c.initial << "/" << c.maximum;
    if (!c.ok) {
      EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    }
    if (h) CloseHandle(h);
  }
}

TEST(Semaphore, ReleaseCountsAndLimits) {
  HANDLE s = CreateSemaphoreW(nullptr, 1, 3, nullptr);
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(s, 2, &previous));
  EXPECT_EQ(previous, 1);

  SetLastError(sentinel);
  EXPECT_FALSE(ReleaseSemaphore(s, 1, &previous));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_TOO_MANY_POSTS);
  SetLastError(sentinel);
  const BOOL released_none = ReleaseSemaphore(s, 0, &previous);
  const DWORD error = GetLastError();
  KNOWN_WINE_DIFFERENCE("Wine accepts a release count of 0", released_none);
  if (!known_difference::on_wine()) {
    EXPECT_EQ(error, (DWORD)ERROR_INVALID_PARAMETER);
  }

  for (int i = 0; i < 3; i++) EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0) << i;
  EXPECT_EQ(WaitForSingleObject(s, 0), (DWORD)WAIT_TIMEOUT) << "count 3 taken, none left";
  EXPECT_TRUE(ReleaseSemaphore(s, 3, nullptr)) << "the failed releases added nothing";
  CloseHandle(s);
}

/* ---- Waiting on several objects ---- */

TEST(WaitForMultiple, AnyGivesTheFirstSignalledIndex) {
  HANDLE e[3];
  for (HANDLE& h : e) h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), (DWORD)WAIT_TIMEOUT);
  SetEvent(e[2]);
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 2);
  SetEvent(e[1]);
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 1);
  for (HANDLE h : e) CloseHandle(h);
}

TEST(WaitForMultiple, AllTakesNothingUntilAllAreSignalled) {
  HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 2, nullptr);
  HANDLE both[] = {automatic, semaphore};
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), (DWORD)WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0) << "still set after the failed wait";
  SetEvent(automatic);
  ReleaseSemaphore(semaphore, 1, nullptr);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), (DWORD)WAIT_TIMEOUT) << "taken by the wait";
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), (DWORD)WAIT_TIMEOUT) << "taken by the wait";
  CloseHandle(automatic);
  CloseHandle(semaphore);
}

TEST(WaitForMultiple, BadArguments) {
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE closed = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  CloseHandle(closed);
  HANDLE with_closed[] = {event, closed};
  HANDLE twice[] = {event, event};
  std::vector<HANDLE> too_many(MAXIMUM_WAIT_OBJECTS + 1, event);
  struct Case {
    const char* what;
    DWORD count;
    const HANDLE* handles;
    BOOL all;
    DWORD error;
    bool wine_accepts;
  } cases[] = {
      {"no objects", 0, with_closed, FALSE, ERROR_INVALID_PARAMETER, false},
      {"too many", (DWORD)too_many.size(), too_many.data(), FALSE, ERROR_INVALID_PARAMETER, false},
      {"closed handle", 2, with_closed, FALSE, ERROR_INVALID_HANDLE, false},
      {"one object twice, all", 2, twice, TRUE, ERROR_INVALID_PARAMETER, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(sentinel);
    const DWORD result = WaitForMultipleObjects(c.count, c.handles, c.all, 0);
    const DWORD error = GetLastError();
    if (c.wine_accepts) {
      KNOWN_WINE_DIFFERENCE("Wine waits for all of a list that holds one object twice",
                            result != WAIT_FAILED);
      if (known_difference::on_wine()) continue;
    }
    EXPECT_EQ(result, WAIT_FAILED);
    EXPECT_EQ(error, c.error);
  }
  CloseHandle(event);
}

/* ---- The host: names seen by other processes, device time ---- */
#ifndef _WIN32

const WCHAR* const shared_mutex = TEXT("GUID_VELMAR_20140313");
const WCHAR* const shared_event = TEXT("velmar-test-cross-process-event");
const WCHAR* const owned_mutex = TEXT("velmar-test-owned-elsewhere");

/* The second process: creates one named object, says what the last error was,
 * and holds the object until the parent lets it go. */
int child_main(const std::string& mode, const std::string& root) {
  plat::set_device_root(root);
  HANDLE h = mode == "event"   ? CreateEventW(nullptr, TRUE, FALSE, shared_event)
             : mode == "owned" ? CreateMutexW(nullptr, TRUE, owned_mutex)
                               : CreateMutexW(nullptr, FALSE, shared_mutex);
  spawn_self::reply(std::to_string(h ? GetLastError() : 9999));
  spawn_self::wait_for_parent();
  return 0;
}

::testing::Environment* const child_environment =
    ::testing::AddGlobalTestEnvironment(new spawn_self::ChildEnvironment(child_main));

class DeviceRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/velmar-kernel-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    previous_ = plat::device_root();
    plat::set_device_root(root_);
  }
  void TearDown() override {
    plat::set_device_root(previous_);
    std::string command = "rm -rf '" + root_ + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }
  std::string root_, previous_;
};

/* What a second process's CreateXxxW reported. */
std::string child_error(spawn_self::Child& child) { return spawn_self::read_reply(child); }

TEST_F(DeviceRoot, NamedMutexIsSeenByOtherProcesses) {
  spawn_self::Child first = spawn_self::start("mutex", root_);
  ASSERT_EQ(child_error(first), "0") << "the first process makes the mutex";

  SetLastError(sentinel);
  HANDLE mine = CreateMutexW(nullptr, FALSE, shared_mutex);
  ASSERT_NE(mine, nullptr) << "the handle is returned all the same";
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);

  /* A crashed holder drops its hold; this process still holds the name. */
  EXPECT_EQ(spawn_self::finish(first, SIGKILL), 128 + SIGKILL);
  spawn_self::Child second = spawn_self::start("mutex", root_);
  EXPECT_EQ(child_error(second), "183");
  EXPECT_EQ(spawn_self::finish(second), 0);

  CloseHandle(mine);
  spawn_self::Child third = spawn_self::start("mutex", root_);
  EXPECT_EQ(child_error(third), "0") << "nobody holds the name any more";

  /* The name is not another kind's in the other process either. */
  SetLastError(sentinel);
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, shared_mutex), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  EXPECT_EQ(spawn_self::finish(third), 0);
}

TEST_F(DeviceRoot, OpenFindsAnObjectOfAnotherProcess) {
  SetLastError(sentinel);
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, shared_event), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);

  spawn_self::Child child = spawn_self::start("event", root_);
  ASSERT_EQ(child_error(child), "0");
  HANDLE opened = OpenEventW(SYNCHRONIZE, FALSE, shared_event);
  EXPECT_NE(opened, nullptr);
  SetLastError(sentinel);
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, shared_event), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  CloseHandle(opened);
  EXPECT_EQ(spawn_self::finish(child), 0);

  SetLastError(sentinel);
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, shared_event), nullptr) << "gone with its process";
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

/* A mutex is owned by one thread of the whole device: while the other
 * process owns it a wait times out; when that process dies owning it, the
 * next wait takes it abandoned. (Events and semaphores share only their
 * names between host processes: a known host difference, which the system
 * does not meet, as it signals neither across processes.) */
TEST_F(DeviceRoot, MutexOwnershipIsTheDevices) {
  spawn_self::Child child = spawn_self::start("owned", root_);
  ASSERT_EQ(child_error(child), "0");
  HANDLE mutex = CreateMutexW(nullptr, FALSE, owned_mutex);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), (DWORD)WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(mutex, 50), (DWORD)WAIT_TIMEOUT);
  EXPECT_EQ(spawn_self::finish(child, SIGKILL), 128 + SIGKILL);
  EXPECT_EQ(WaitForSingleObject(mutex, 5000), (DWORD)WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  /* Released cleanly, it is free for the next owner, in any process. */
  EXPECT_EQ(WaitForSingleObject(mutex, 0), (DWORD)WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  spawn_self::Child next = spawn_self::start("owned", root_);
  EXPECT_EQ(child_error(next), "183") << "the mutex exists: the child does not own it";
  EXPECT_EQ(WaitForSingleObject(mutex, 0), (DWORD)WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
  EXPECT_EQ(spawn_self::finish(next), 0);
}

/* Timeouts and sleeps are device time: at speed 50 a second of device time
 * passes in 20 ms. The bound of one real second only tells device time from
 * real time; it is no performance figure. */
TEST(DeviceTime, TimeoutsAndSleepsRunAtTheDeviceSpeed) {
  plat::set_speed(50);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  struct Case {
    const char* what;
    void (*run)(HANDLE);
  } cases[] = {
      {"WaitForSingleObject", [](HANDLE h) { EXPECT_EQ(WaitForSingleObject(h, 1000), (DWORD)WAIT_TIMEOUT); }},
      {"WaitForMultipleObjects",
       [](HANDLE h) { EXPECT_EQ(WaitForMultipleObjects(1, &h, TRUE, 1000), (DWORD)WAIT_TIMEOUT); }},
      {"Sleep", [](HANDLE) { Sleep(1000); }},
      {"sleep_device_ms", [](HANDLE) { plat::sleep_device_ms(1000); }},
  };
  for (const Case& c : cases) {
    auto real_start = std::chrono::steady_clock::now();
    uint64_t device_start = plat::device_ms();
    DWORD ticks_start = GetTickCount();
    c.run(event);
    uint64_t device_elapsed = plat::device_ms() - device_start;
    auto real_elapsed = std::chrono::steady_clock::now() - real_start;
    EXPECT_GE(device_elapsed, 1000u) << c.what << ": never early in device time";
    EXPECT_GE(GetTickCount() - ticks_start, 1000u) << c.what;
    EXPECT_LT(real_elapsed, std::chrono::milliseconds(1000)) << c.what << ": not real time";
  }
  CloseHandle(event);
  plat::set_speed(1);
  EXPECT_EQ(plat::speed(), 1.0);
  plat::set_speed(0);
  plat::set_speed(-2);
  EXPECT_EQ(plat::speed(), 1.0) << "a speed that is not positive is refused";
}

#endif

}  // namespace
