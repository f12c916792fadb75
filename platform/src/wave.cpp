/* Audio capture: one device recording the call audio line. One audio thread
 * plays the line at real-time pace in device time (10 ms at a time), writes
 * the samples into the head of the device's buffer queue while it records,
 * and hands every filled or returned buffer to the callback. */
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "plat/host.h"
#include "plat/wave_host.h"

namespace {

const DWORD kRate = 8000;
const uint64_t kChunk = 80; /* 10 ms */
const uint64_t kNone = UINT64_MAX;

struct Returned {
  WAVEHDR* header;
  uint64_t first; /* line position of its first sample, kNone when empty */
};

struct Line {
  std::mutex m;
  std::condition_variable cv;
  bool thread_started = false;
  std::thread::id thread_id;

  /* The call audio line. */
  std::deque<int16_t> audio;
  uint64_t queued_end = 0; /* position after the last queued sample */
  uint64_t position = 0;   /* samples played */
  bool clock_running = false;
  double origin_ms = 0;
  uint64_t origin_position = 0;

  /* The device. */
  bool open = false;
  bool started = false;
  uintptr_t handle_serial = 0;
  HWAVEIN handle = nullptr;
  LPWAVEINPROC proc = nullptr;
  DWORD_PTR instance = 0;
  std::deque<WAVEHDR*> queue;
  uint64_t head_first = kNone; /* line position of the head buffer's first sample */
  std::deque<Returned> returns;
  bool in_callback = false;
  uint64_t callback_first = kNone;
};

/* Never destroyed: the audio thread may outlive static destruction. */
Line& line() {
  static Line* l = new Line;
  return *l;
}

double now_ms() {
  return (double)plat::device_ms();
}

/* The oldest line position still inside a buffer not yet given back. */
uint64_t oldest_unreturned(const Line& l) {
  uint64_t oldest = l.head_first;
  if (l.in_callback && l.callback_first < oldest) oldest = l.callback_first;
  for (const Returned& r : l.returns)
    if (r.first < oldest) oldest = r.first;
  return oldest;
}

void return_head(Line& l) {
  WAVEHDR* h = l.queue.front();
  l.queue.pop_front();
  h->dwFlags = (h->dwFlags & ~(DWORD)WHDR_INQUEUE) | WHDR_DONE;
  l.returns.push_back({h, l.head_first});
  l.head_first = kNone;
}

void play_chunk(Line& l) {
  for (uint64_t i = 0; i < kChunk; i++) {
    int16_t sample = 0;
    if (!l.audio.empty()) {
      sample = l.audio.front();
      l.audio.pop_front();
    }
    if (l.started) {
      while (!l.queue.empty() && l.queue.front()->dwBytesRecorded + 2 > l.queue.front()->dwBufferLength)
        return_head(l);
      if (!l.queue.empty()) {
        WAVEHDR* h = l.queue.front();
        if (l.head_first == kNone) l.head_first = l.position;
        memcpy(h->lpData + h->dwBytesRecorded, &sample, 2);
        h->dwBytesRecorded += 2;
        if (h->dwBytesRecorded + 2 > h->dwBufferLength) return_head(l);
      }
    }
    l.position++;
  }
}

/* Hands the returned buffers to the callback, without the lock held. */
void deliver_returns(Line& l, std::unique_lock<std::mutex>& lk) {
  while (!l.returns.empty()) {
    Returned r = l.returns.front();
    l.returns.pop_front();
    LPWAVEINPROC proc = l.proc;
    HWAVEIN handle = l.handle;
    DWORD_PTR instance = l.instance;
    bool was_in_callback = l.in_callback;
    uint64_t was_first = l.callback_first;
    l.in_callback = true;
    l.callback_first = r.first;
    lk.unlock();
    if (proc) proc(handle, WIM_DATA, instance, (DWORD_PTR)r.header, 0);
    lk.lock();
    l.in_callback = was_in_callback;
    l.callback_first = was_first;
    l.cv.notify_all();
  }
}

void audio_thread() {
  Line& l = line();
  std::unique_lock<std::mutex> lk(l.m);
  for (;;) {
    if (!l.returns.empty()) {
      deliver_returns(l, lk);
      continue;
    }
    if (!l.started && l.audio.empty()) {
      l.clock_running = false;
      l.cv.wait(lk);
      continue;
    }
    if (!l.clock_running) {
      l.origin_ms = now_ms();
      l.origin_position = l.position;
      l.clock_running = true;
    }
    double due = l.origin_ms + (double)(l.position + kChunk - l.origin_position) * 1000.0 / kRate;
    double rest = due - now_ms();
    if (rest > 0) {
      double speed = plat::speed() > 0 ? plat::speed() : 1.0;
      l.cv.wait_for(lk, std::chrono::microseconds((long long)(rest * 1000.0 / speed) + 1));
      continue;
    }
    play_chunk(l);
    l.cv.notify_all();
  }
}

void ensure_thread(Line& l) {
  if (l.thread_started) return;
  l.thread_started = true;
  std::thread t(audio_thread);
  l.thread_id = t.get_id();
  t.detach();
}

bool valid(const Line& l, HWAVEIN device) {
  return l.open && device && device == l.handle;
}

/* Waits until every returned buffer has been through the callback; from the
 * callback itself they are delivered here and now. */
void drain_returns(Line& l, std::unique_lock<std::mutex>& lk) {
  if (std::this_thread::get_id() == l.thread_id) {
    deliver_returns(l, lk);
    return;
  }
  l.cv.notify_all();
  l.cv.wait(lk, [&] { return l.returns.empty() && !l.in_callback; });
}

MMRESULT check_header(LPWAVEHDR header, UINT size) {
  if (!header || size < sizeof(WAVEHDR) || !header->lpData) return MMSYSERR_INVALPARAM;
  return MMSYSERR_NOERROR;
}

}  // namespace

UINT WINAPI waveInGetNumDevs(void) {
  return 1;
}

MMRESULT WINAPI waveInOpen(LPHWAVEIN device, UINT device_id, LPCWAVEFORMATEX format,
                           DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
  if (!format) return MMSYSERR_INVALPARAM;
  if (device_id != WAVE_MAPPER && device_id != 0) return MMSYSERR_BADDEVICEID;
  if (format->wFormatTag != WAVE_FORMAT_PCM || format->nChannels != 1 ||
      format->nSamplesPerSec != kRate || format->wBitsPerSample != 16 ||
      format->nBlockAlign != 2 || format->nAvgBytesPerSec != kRate * 2)
    return WAVERR_BADFORMAT;
  if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
  if (!device) return MMSYSERR_INVALPARAM;
  DWORD kind = flags & CALLBACK_TYPEMASK;
  /* The host delivers notifications to functions only. */
  if (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION) return MMSYSERR_NOTSUPPORTED;
  Line& l = line();
  LPWAVEINPROC proc = kind == CALLBACK_FUNCTION ? (LPWAVEINPROC)callback : nullptr;
  HWAVEIN handle;
  {
    std::lock_guard<std::mutex> lk(l.m);
    if (l.open) return MMSYSERR_ALLOCATED;
    ensure_thread(l);
    l.open = true;
    l.started = false;
    l.handle_serial++;
    l.handle = handle = (HWAVEIN)(uintptr_t)(0x57A00000u + (l.handle_serial & 0xFFFF) * 16);
    l.proc = proc;
    l.instance = instance;
    l.queue.clear();
    l.head_first = kNone;
  }
  *device = handle;
  plat::Event("capture").str("action", "open");
  if (proc) proc(handle, WIM_OPEN, instance, 0, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInClose(HWAVEIN device) {
  Line& l = line();
  LPWAVEINPROC proc;
  DWORD_PTR instance;
  {
    std::unique_lock<std::mutex> lk(l.m);
    if (!valid(l, device)) return MMSYSERR_INVALHANDLE;
    if (!l.queue.empty()) return WAVERR_STILLPLAYING;
    drain_returns(l, lk);
    if (!valid(l, device)) return MMSYSERR_INVALHANDLE;
    proc = l.proc;
    instance = l.instance;
    l.open = false;
    l.started = false;
    l.handle = nullptr;
    l.proc = nullptr;
    l.cv.notify_all();
  }
  plat::Event("capture").str("action", "close");
  if (proc) proc(device, WIM_CLOSE, instance, 0, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN device, LPWAVEHDR header, UINT header_size) {
  Line& l = line();
  std::lock_guard<std::mutex> lk(l.m);
  if (!valid(l, device)) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = check_header(header, header_size)) return r;
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN device, LPWAVEHDR header, UINT header_size) {
  Line& l = line();
  std::lock_guard<std::mutex> lk(l.m);
  if (!valid(l, device)) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = check_header(header, header_size)) return r;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwFlags &= ~(DWORD)WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN device, LPWAVEHDR header, UINT header_size) {
  Line& l = line();
  std::lock_guard<std::mutex> lk(l.m);
  if (!valid(l, device)) return MMSYSERR_INVALHANDLE;
  if (MMRESULT r = check_header(header, header_size)) return r;
  if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  header->dwFlags = (header->dwFlags & ~(DWORD)WHDR_DONE) | WHDR_INQUEUE;
  header->dwBytesRecorded = 0;
  header->lpNext = nullptr;
  l.queue.push_back(header);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStart(HWAVEIN device) {
  Line& l = line();
  std::lock_guard<std::mutex> lk(l.m);
  if (!valid(l, device)) return MMSYSERR_INVALHANDLE;
  l.started = true;
  l.cv.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStop(HWAVEIN device) {
  Line& l = line();
  std::lock_guard<std::mutex> lk(l.m);
  if (!valid(l, device)) return MMSYSERR_INVALHANDLE;
  l.started = false;
  if (!l.queue.empty() && l.queue.front()->dwBytesRecorded > 0) return_head(l);
  l.cv.notify_all();
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInReset(HWAVEIN device) {
  Line& l = line();
  std::unique_lock<std::mutex> lk(l.m);
  if (!valid(l, device)) return MMSYSERR_INVALHANDLE;
  l.started = false;
  while (!l.queue.empty()) return_head(l);
  drain_returns(l, lk);
  return MMSYSERR_NOERROR;
}

namespace plat {

uint64_t call_audio_queue(const int16_t* samples, size_t count) {
  Line& l = line();
  std::lock_guard<std::mutex> lk(l.m);
  ensure_thread(l);
  if (samples) l.audio.insert(l.audio.end(), samples, samples + count);
  l.queued_end = l.position + l.audio.size();
  l.cv.notify_all();
  return l.queued_end;
}

void call_audio_wait(uint64_t position) {
  Line& l = line();
  std::unique_lock<std::mutex> lk(l.m);
  l.cv.wait(lk, [&] {
    if (l.position < position) return false;
    uint64_t oldest = oldest_unreturned(l);
    return oldest == kNone || oldest >= position;
  });
}

size_t call_audio_pending() {
  Line& l = line();
  std::lock_guard<std::mutex> lk(l.m);
  return l.audio.size();
}

}  // namespace plat
