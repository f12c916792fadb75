/* The kernel part of the Win32 subset: last error, handles, waits, threads,
 * critical sections, events, mutexes, semaphores, time, processes and the
 * debug output. Timeouts, sleeps and tick counts are in device time.
 *
 * Named events, mutexes and semaphores share one name space, case-sensitive
 * as on Windows. The name is also seen by the other processes on the same
 * device root (CreateXxxW there reports ERROR_ALREADY_EXISTS while this
 * process holds it open); the object's state is kept by each process. */
#pragma once

#include "plat/wintypes.h"

typedef LONG* LPLONG;

/* ---- Last error ---- */
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD error);

/* ---- Handles and waits ---- */
BOOL WINAPI CloseHandle(HANDLE object);

#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_ABANDONED_0 0x00000080L
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64
#define STILL_ACTIVE 259L

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL wait_all,
                                    DWORD milliseconds);

/* ---- Threads ---- */
typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID parameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

#define CREATE_SUSPENDED 0x00000004
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000

#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack_size,
                           LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                           LPDWORD thread_id);
DWORD WINAPI ResumeThread(HANDLE thread);
BOOL WINAPI GetExitCodeThread(HANDLE thread, LPDWORD exit_code);
/* The priority is recorded and reported; the host scheduler does not use it. */
BOOL WINAPI SetThreadPriority(HANDLE thread, int priority);
int WINAPI GetThreadPriority(HANDLE thread);
/* A pseudo handle that always names the calling thread; closing it does nothing. */
HANDLE WINAPI GetCurrentThread(void);
DWORD WINAPI GetCurrentThreadId(void);
DWORD WINAPI GetCurrentProcessId(void);
void WINAPI Sleep(DWORD milliseconds);
/* Milliseconds of device time since the program started. */
DWORD WINAPI GetTickCount(void);

/* ---- Interlocked operations ---- */
static inline LONG InterlockedIncrement(LONG volatile* value) {
  return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedDecrement(LONG volatile* value) {
  return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
static inline LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange,
                                              LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, 0, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}

/* ---- Critical sections: recursive locks owned by a thread. ---- */
typedef struct _CRITICAL_SECTION {
  /* Host storage of the lock; private to the platform. */
  union {
    unsigned char bytes[64];
    long long align;
  } Lock;
  LONG RecursionCount;
  HANDLE OwningThread; /* the owner's thread id, as on Windows */
} CRITICAL_SECTION, *LPCRITICAL_SECTION, *PCRITICAL_SECTION;

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section);
BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION section);

/* ---- Events, mutexes, semaphores ---- */
#define SYNCHRONIZE 0x00100000L
#define STANDARD_RIGHTS_REQUIRED 0x000F0000L
#define EVENT_MODIFY_STATE 0x0002
#define EVENT_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x3)
#define MUTEX_MODIFY_STATE 0x0001
#define MUTEX_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | MUTEX_MODIFY_STATE)
#define SEMAPHORE_MODIFY_STATE 0x0002
#define SEMAPHORE_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x3)

/* Creating a named object that exists already returns a handle to it and sets
 * ERROR_ALREADY_EXISTS (the other arguments are then ignored); a new object
 * sets the last error to 0. A name held by an object of another type:
 * NULL and ERROR_INVALID_HANDLE. */
HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset,
                           BOOL initial_state, LPCWSTR name);
HANDLE WINAPI OpenEventW(DWORD access, BOOL inherit, LPCWSTR name);
BOOL WINAPI SetEvent(HANDLE event);
BOOL WINAPI ResetEvent(HANDLE event);

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initial_owner, LPCWSTR name);
HANDLE WINAPI OpenMutexW(DWORD access, BOOL inherit, LPCWSTR name);
BOOL WINAPI ReleaseMutex(HANDLE mutex);

HANDLE WINAPI CreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initial_count,
                               LONG maximum_count, LPCWSTR name);
HANDLE WINAPI OpenSemaphoreW(DWORD access, BOOL inherit, LPCWSTR name);
BOOL WINAPI ReleaseSemaphore(HANDLE semaphore, LONG release_count, LPLONG previous_count);

/* ---- Time ----
 * The device clock is the host clock plus an offset that SetSystemTime and
 * SetLocalTime change (the host clock is never touched). Local time is UTC+8. */
typedef struct _TIME_ZONE_INFORMATION {
  LONG Bias; /* minutes, UTC = local time + bias */
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
} TIME_ZONE_INFORMATION, *LPTIME_ZONE_INFORMATION;

#define TIME_ZONE_ID_UNKNOWN 0
#define TIME_ZONE_ID_STANDARD 1
#define TIME_ZONE_ID_DAYLIGHT 2
#define TIME_ZONE_ID_INVALID 0xFFFFFFFFu

void WINAPI GetSystemTime(LPSYSTEMTIME time);
void WINAPI GetLocalTime(LPSYSTEMTIME time);
BOOL WINAPI SetSystemTime(const SYSTEMTIME* time);
BOOL WINAPI SetLocalTime(const SYSTEMTIME* time);
DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION zone);
BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* time, LPFILETIME file_time);
BOOL WINAPI FileTimeToSystemTime(const FILETIME* file_time, LPSYSTEMTIME time);
BOOL WINAPI FileTimeToLocalFileTime(const FILETIME* file_time, LPFILETIME local_time);
BOOL WINAPI LocalFileTimeToFileTime(const FILETIME* local_time, LPFILETIME file_time);
LONG WINAPI CompareFileTime(const FILETIME* first, const FILETIME* second);
void WINAPI GetSystemTimeAsFileTime(LPFILETIME file_time);

/* ---- Processes ----
 * On the host a program is a stand-in registered by the simulator; it runs
 * on its own thread of this process. The command line (Windows CE style)
 * holds the arguments only. */
typedef struct _STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved, lpDesktop, lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
  WORD wShowWindow, cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput, hStdOutput, hStdError;
} STARTUPINFOW, *LPSTARTUPINFOW;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

BOOL WINAPI CreateProcessW(LPCWSTR application, LPWSTR command_line,
                           LPSECURITY_ATTRIBUTES process_attributes,
                           LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                           DWORD flags, LPVOID environment, LPCWSTR current_directory,
                           LPSTARTUPINFOW startup_info, LPPROCESS_INFORMATION information);
BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exit_code);
/* The instance of the running program (null name); other names: NULL and
 * ERROR_MOD_NOT_FOUND. */
HMODULE WINAPI GetModuleHandleW(LPCWSTR module_name);
#ifndef ERROR_MOD_NOT_FOUND
#define ERROR_MOD_NOT_FOUND 126L
#endif

/* ---- Debug output ---- */
/* Writes the text to standard error. */
void WINAPI OutputDebugStringW(LPCWSTR text);

/* MessageBoxW is a user32 call on Windows; the host shows no box: it writes a
 * `messagebox` event, prints the text to standard error and answers with the
 * default button (IDOK for MB_OK). */
#ifndef MB_OK
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_ICONHAND 0x00000010L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_DEFBUTTON1 0x00000000L
#define MB_DEFBUTTON2 0x00000100L
#define MB_DEFBUTTON3 0x00000200L
#define MB_SETFOREGROUND 0x00010000L
#define MB_TOPMOST 0x00040000L
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#endif
int WINAPI MessageBoxW(HWND window, LPCWSTR text, LPCWSTR caption, UINT type);
