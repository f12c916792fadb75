/* The TTS stand-in's handles and its record of spoken texts. */
#include "tts_common.h"

#include <string.h>

#include "tts_stand_in.h"

namespace {

const int kMaxHandles = 16;
const int kLastSize = 260;

CRITICAL_SECTION lock;
/* Each slot's handle value is its address: unique and never 0. */
char slots[kMaxHandles];
bool slot_used[kMaxHandles];
int spoken_count;
WCHAR last_text[kLastSize];
HANDLE init_gate;

struct LockInit {
  LockInit() { InitializeCriticalSection(&lock); }
} lock_init;

}  // namespace

void tts_stand_in_hold_init(HANDLE gate) { init_gate = gate; }

HANDLE tts_common_open(void) {
  /* An engine that hangs in its start (a test's gate, until it is set). */
  if (HANDLE gate = init_gate) WaitForSingleObject(gate, INFINITE);
  HANDLE handle = 0;
  EnterCriticalSection(&lock);
  for (int i = 0; i < kMaxHandles; ++i) {
    if (!slot_used[i]) {
      slot_used[i] = true;
      handle = (HANDLE)&slots[i];
      break;
    }
  }
  LeaveCriticalSection(&lock);
  return handle;
}

int tts_common_live(HANDLE handle) {
  int live = 0;
  EnterCriticalSection(&lock);
  for (int i = 0; i < kMaxHandles; ++i)
    if (slot_used[i] && handle == (HANDLE)&slots[i]) live = 1;
  LeaveCriticalSection(&lock);
  return live;
}

void tts_common_close(HANDLE handle) {
  EnterCriticalSection(&lock);
  for (int i = 0; i < kMaxHandles; ++i)
    if (slot_used[i] && handle == (HANDLE)&slots[i]) slot_used[i] = false;
  LeaveCriticalSection(&lock);
}

void tts_common_record(const WCHAR* text, int length) {
  EnterCriticalSection(&lock);
  if (length > kLastSize - 1) length = kLastSize - 1;
  memcpy(last_text, text, (size_t)length * sizeof(WCHAR));
  last_text[length] = 0;
  ++spoken_count;
  LeaveCriticalSection(&lock);
}

int tts_common_data_exists(const WCHAR* path) {
  if (!path) return 0;
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int tts_stand_in_spoken(WCHAR* last, int capacity) {
  EnterCriticalSection(&lock);
  int count = spoken_count;
  if (last && capacity > 0) {
    int length = (int)wcslen(last_text);
    if (length > capacity - 1) length = capacity - 1;
    memcpy(last, last_text, (size_t)length * sizeof(WCHAR));
    last[length] = 0;
  }
  LeaveCriticalSection(&lock);
  return count;
}
