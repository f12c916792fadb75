/* Waveform audio capture: opening with a format, the buffer headers' life
 * (prepare, queue, done, unprepare), the callback's notifications, stop and
 * reset. States Win32 behaviour; where a machine has no capture device (Wine
 * often has none) the device tests are skipped. On the host, the recorded
 * samples are the call audio line's. */
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "known_difference.h"

#ifndef _WIN32
#include "plat/host.h"
#include "plat/wave_host.h"
#endif

namespace {

WAVEFORMATEX pcm(DWORD rate = 8000, WORD channels = 1, WORD bits = 16) {
  WAVEFORMATEX f = {};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = (WORD)(channels * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  f.cbSize = 0;
  return f;
}

/* What the callback saw, in order. */
struct Seen {
  std::mutex lock;
  std::vector<UINT> messages;
  std::vector<WAVEHDR*> headers;
  std::vector<DWORD> bytes;
  std::vector<DWORD> flags;
  DWORD_PTR instance = 0;
};
Seen seen;

void CALLBACK record(HWAVEIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR) {
  std::lock_guard<std::mutex> guard(seen.lock);
  seen.messages.push_back(message);
  seen.instance = instance;
  if (message == WIM_DATA) {
    WAVEHDR* h = (WAVEHDR*)param1;
    seen.headers.push_back(h);
    seen.bytes.push_back(h->dwBytesRecorded);
    seen.flags.push_back(h->dwFlags);
  }
}

class WaveIn : public ::testing::Test {
 protected:
  void SetUp() override {
    if (waveInGetNumDevs() == 0) GTEST_SKIP() << "no capture device on this machine";
    std::lock_guard<std::mutex> guard(seen.lock);
    seen.messages.clear();
    seen.headers.clear();
    seen.bytes.clear();
    seen.flags.clear();
#ifndef _WIN32
    plat::set_speed(20);
#endif
  }
  void TearDown() override {
    if (device_) {
      waveInReset(device_);
      for (WAVEHDR& h : headers_) waveInUnprepareHeader(device_, &h, sizeof h);
      waveInClose(device_);
    }
#ifndef _WIN32
    plat::set_speed(1);
#endif
  }
  void open(DWORD flags = CALLBACK_FUNCTION) {
    WAVEFORMATEX f = pcm();
    ASSERT_EQ(waveInOpen(&device_, WAVE_MAPPER, &f, (DWORD_PTR)record, 1234, flags),
              (MMRESULT)MMSYSERR_NOERROR);
  }
  WAVEHDR* header(int i, DWORD bytes = 4096) {
    data_[i].assign(bytes, 0x55);
    headers_[i] = WAVEHDR();
    headers_[i].lpData = data_[i].data();
    headers_[i].dwBufferLength = bytes;
    return &headers_[i];
  }
  std::vector<UINT> messages() {
    std::lock_guard<std::mutex> guard(seen.lock);
    return seen.messages;
  }
  size_t data_count() {
    std::lock_guard<std::mutex> guard(seen.lock);
    return seen.headers.size();
  }

  HWAVEIN device_ = nullptr;
  WAVEHDR headers_[2] = {};
  std::vector<char> data_[2];
};

TEST_F(WaveIn, FormatsThatAreRefused) {
  struct Case {
    const char* what;
    WAVEFORMATEX format;
  } cases[] = {
      {"8-bit", pcm(8000, 1, 8)},
      {"a tag that is no format", pcm()},
  };
  cases[1].format.wFormatTag = 0x7777;
  HWAVEIN device = nullptr;
  for (Case& c : cases)
    EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, &c.format, 0, 0, CALLBACK_NULL), (MMRESULT)WAVERR_BADFORMAT) << c.what;
  WAVEFORMATEX ok = pcm();
  EXPECT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &ok, 0, 0, WAVE_FORMAT_QUERY), (MMRESULT)MMSYSERR_NOERROR);
  EXPECT_EQ(waveInOpen(&device, WAVE_MAPPER, nullptr, 0, 0, CALLBACK_NULL), (MMRESULT)MMSYSERR_INVALPARAM);
  EXPECT_EQ(waveInOpen(&device, 77, &ok, 0, 0, CALLBACK_NULL), (MMRESULT)MMSYSERR_BADDEVICEID);
}

TEST_F(WaveIn, OtherRatesAndChannelsAreRefusedOnTheHostOnly) {
  for (WAVEFORMATEX f : {pcm(44100), pcm(8000, 2)}) {
    HWAVEIN device = nullptr;
    KNOWN_HOST_DIFFERENCE_EQ(
        "the host's device records 8 kHz mono only; Windows converts other PCM formats through its mapper",
        waveInOpen(&device, WAVE_MAPPER, &f, 0, 0, WAVE_FORMAT_QUERY), (MMRESULT)WAVERR_BADFORMAT,
        (MMRESULT)MMSYSERR_NOERROR);
  }
}

TEST_F(WaveIn, OpenAndCloseNotifyTheCallbackWithItsInstance) {
  open();
  EXPECT_EQ(messages(), std::vector<UINT>{WIM_OPEN});
  EXPECT_EQ(seen.instance, (DWORD_PTR)1234);
  ASSERT_EQ(waveInClose(device_), (MMRESULT)MMSYSERR_NOERROR);
  HWAVEIN closed = device_;
  device_ = nullptr;
  EXPECT_EQ(messages(), (std::vector<UINT>{WIM_OPEN, WIM_CLOSE}));
  EXPECT_EQ(waveInStart(closed), (MMRESULT)MMSYSERR_INVALHANDLE);
  EXPECT_EQ(waveInClose(nullptr), (MMRESULT)MMSYSERR_INVALHANDLE);
}

TEST_F(WaveIn, HeaderFlagsThroughPrepareQueueAndUnprepare) {
  open();
  WAVEHDR* h = header(0);
  EXPECT_EQ(waveInAddBuffer(device_, h, sizeof *h), (MMRESULT)WAVERR_UNPREPARED);
  ASSERT_EQ(waveInPrepareHeader(device_, h, sizeof *h), (MMRESULT)MMSYSERR_NOERROR);
  EXPECT_EQ(h->dwFlags, (DWORD)WHDR_PREPARED);
  ASSERT_EQ(waveInAddBuffer(device_, h, sizeof *h), (MMRESULT)MMSYSERR_NOERROR);
  EXPECT_TRUE(h->dwFlags & WHDR_INQUEUE);
  EXPECT_FALSE(h->dwFlags & WHDR_DONE);
  EXPECT_EQ(waveInUnprepareHeader(device_, h, sizeof *h), (MMRESULT)WAVERR_STILLPLAYING);
  EXPECT_EQ(waveInClose(device_), (MMRESULT)WAVERR_STILLPLAYING);
  /* Reset returns the queued buffer, done, through the callback. */
  ASSERT_EQ(waveInReset(device_), (MMRESULT)MMSYSERR_NOERROR);
  EXPECT_EQ(h->dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED), (DWORD)(WHDR_DONE | WHDR_PREPARED));
  EXPECT_EQ(messages(), (std::vector<UINT>{WIM_OPEN, WIM_DATA}));
  EXPECT_EQ(seen.headers, std::vector<WAVEHDR*>{h});
  EXPECT_EQ(waveInUnprepareHeader(device_, h, sizeof *h), (MMRESULT)MMSYSERR_NOERROR);
  EXPECT_FALSE(h->dwFlags & WHDR_PREPARED);
}

TEST_F(WaveIn, RecordedBuffersComeBackInOrderWhileStarted) {
  open();
  for (int i = 0; i < 2; i++) {
    WAVEHDR* h = header(i, 1600); /* 100 ms */
    ASSERT_EQ(waveInPrepareHeader(device_, h, sizeof *h), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(device_, h, sizeof *h), (MMRESULT)MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveInStart(device_), (MMRESULT)MMSYSERR_NOERROR);
  for (int wait = 0; wait < 400 && data_count() < 2; wait++) Sleep(10);
  ASSERT_EQ(data_count(), 2u);
  std::lock_guard<std::mutex> guard(seen.lock);
  EXPECT_EQ(seen.headers, (std::vector<WAVEHDR*>{&headers_[0], &headers_[1]}));
  EXPECT_EQ(seen.bytes, (std::vector<DWORD>{1600, 1600}));
  for (DWORD f : seen.flags) EXPECT_EQ(f & (WHDR_DONE | WHDR_INQUEUE), (DWORD)WHDR_DONE);
}

TEST_F(WaveIn, StopReturnsThePartBufferAndKeepsTheRestQueued) {
  open();
  for (int i = 0; i < 2; i++) {
    WAVEHDR* h = header(i, 64000); /* 4 s each */
    waveInPrepareHeader(device_, h, sizeof *h);
    waveInAddBuffer(device_, h, sizeof *h);
  }
  waveInStart(device_);
  Sleep(300);
  ASSERT_EQ(waveInStop(device_), (MMRESULT)MMSYSERR_NOERROR);
  for (int wait = 0; wait < 200 && data_count() < 1; wait++) Sleep(10);
  ASSERT_EQ(data_count(), 1u);
  EXPECT_GT(headers_[0].dwBytesRecorded, 0u);
  EXPECT_LT(headers_[0].dwBytesRecorded, 64000u);
  EXPECT_EQ(headers_[0].dwBytesRecorded % 2, 0u);
  EXPECT_TRUE(headers_[1].dwFlags & WHDR_INQUEUE);
  Sleep(100);
  EXPECT_EQ(data_count(), 1u); /* stopped: nothing more recorded */
}

#ifndef _WIN32
TEST_F(WaveIn, TheHostRecordsTheCallAudioLineAndSilenceAfterIt) {
  open();
  WAVEHDR* h = header(0, 2000);
  waveInPrepareHeader(device_, h, sizeof *h);
  waveInAddBuffer(device_, h, sizeof *h);
  waveInStart(device_);
  std::vector<int16_t> ramp(600);
  for (size_t i = 0; i < ramp.size(); i++) ramp[i] = (int16_t)(i * 50 - 15000);
  DWORD start = GetTickCount();
  plat::call_audio_wait(plat::call_audio_queue(ramp.data(), ramp.size()));
  /* The line's 600 samples then silence fill the buffer, at real-time pace
   * in device time: 1000 samples are 125 ms. */
  for (int wait = 0; wait < 200 && data_count() < 1; wait++) Sleep(10);
  ASSERT_EQ(data_count(), 1u);
  EXPECT_GE(GetTickCount() - start, 120u);
  const int16_t* got = (const int16_t*)h->lpData;
  /* The first samples may be silence recorded before the ramp was queued. */
  size_t first = 0;
  while (first < 1000 && got[first] != ramp[0]) first++;
  ASSERT_LT(first + ramp.size(), 1000u) << "the ramp is not in the buffer";
  for (size_t i = 0; i < ramp.size(); i++) ASSERT_EQ(got[first + i], ramp[i]) << i;
  for (size_t i = first + ramp.size(); i < 1000; i++) ASSERT_EQ(got[i], 0) << i;
  EXPECT_EQ(plat::call_audio_pending(), 0u);
}

TEST_F(WaveIn, TheHostAcceptsOneOpenDeviceAndCallbackFunctionsOnly) {
  open();
  WAVEFORMATEX f = pcm();
  HWAVEIN second = nullptr;
  EXPECT_EQ(waveInOpen(&second, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), (MMRESULT)MMSYSERR_ALLOCATED);
  ASSERT_EQ(waveInClose(device_), (MMRESULT)MMSYSERR_NOERROR);
  device_ = nullptr;
  EXPECT_EQ(waveInOpen(&second, WAVE_MAPPER, &f, 0, 0, CALLBACK_EVENT), (MMRESULT)MMSYSERR_NOTSUPPORTED);
}
#endif

}  // namespace
