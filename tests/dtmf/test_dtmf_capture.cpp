/* The detector's capture callback: WIM_OPEN resets, WIM_DATA feeds and queues
 * the buffer again only while capture_active is 1, a message starts the
 * command. The callback is called here directly with headers of an open
 * device (skipped where the machine has no capture device); on the host also
 * end to end, with the call audio line recorded by the device as the in-call
 * page opens it. */
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "dtmf_fixture.h"
#include "shell_globals.h"

#ifndef _WIN32
#include "plat/host.h"
#include "plat/wave_host.h"
#endif

using namespace dtmf_test;

namespace {

/* Stands in for the command thread: records the messages. */
std::mutex started_lock;
std::vector<std::string> started;
int record_message(const WCHAR* message) {
  std::lock_guard<std::mutex> guard(started_lock);
  started.push_back(narrow(message));
  return 0;
}
std::vector<std::string> started_messages() {
  std::lock_guard<std::mutex> guard(started_lock);
  return started;
}

class DtmfCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (waveInGetNumDevs() == 0) GTEST_SKIP() << "no capture device on this machine";
    started.clear();
    dtmf_set_message_starter(record_message);
    capture_active = 0;
    WAVEFORMATEX f = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    /* No callback of the device's own: the test calls the detector's. */
    ASSERT_EQ(waveInOpen(&device_, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL), (MMRESULT)MMSYSERR_NOERROR);
  }
  void TearDown() override {
    capture_active = 0;
    dtmf_set_message_starter(nullptr);
    if (device_) {
      waveInReset(device_);
      waveInUnprepareHeader(device_, &header_, sizeof header_);
      waveInClose(device_);
    }
  }
  /* A prepared header holding `a` as recorded audio, as the device returns it. */
  WAVEHDR* filled(const Audio& a) {
    data_ = a;
    data_.resize(data_.size() + 1); /* a byte beyond the recorded ones */
    header_ = WAVEHDR();
    header_.lpData = (LPSTR)data_.data();
    header_.dwBufferLength = (DWORD)(a.size() * 2);
    EXPECT_EQ(waveInPrepareHeader(device_, &header_, sizeof header_), (MMRESULT)MMSYSERR_NOERROR);
    header_.dwBytesRecorded = (DWORD)(a.size() * 2);
    header_.dwFlags |= WHDR_DONE;
    return &header_;
  }
  void data(WAVEHDR* h) { dtmf_capture_callback(device_, WIM_DATA, 0, (DWORD_PTR)h, 0); }

  HWAVEIN device_ = nullptr;
  WAVEHDR header_ = {};
  Audio data_;
};

TEST_F(DtmfCapture, OpenResetsTheDetector) {
  dtmf_detector.message_length = 5;
  dtmf_detector.run = 3;
  dtmf_detector.block_samples = 17;
  dtmf_capture_callback(device_, WIM_OPEN, 0, 0, 0);
  EXPECT_EQ(dtmf_detector.message_length, 0);
  EXPECT_EQ(dtmf_detector.run, 0);
  EXPECT_EQ(dtmf_detector.block_samples, 0);
  EXPECT_TRUE(dtmf_detector.coefficients_ready);
}

TEST_F(DtmfCapture, ActiveBuffersAreFedAndQueuedAgain) {
  capture_active = 1;
  dtmf_capture_callback(device_, WIM_OPEN, 0, 0, 0);
  WAVEHDR* h = filled(keys("03#12367"));
  data(h);
  EXPECT_EQ(started_messages(), std::vector<std::string>{"03#123"});
  EXPECT_TRUE(h->dwFlags & WHDR_INQUEUE);
  EXPECT_FALSE(h->dwFlags & WHDR_DONE);
  /* The detector was reset after the message. */
  EXPECT_EQ(dtmf_detector.message_length, 0);
  EXPECT_EQ(dtmf_detector.block_samples, 0);
}

TEST_F(DtmfCapture, AMessageSplitOverBuffersOfOddSizes) {
  capture_active = 1;
  dtmf_capture_callback(device_, WIM_OPEN, 0, 0, 0);
  Audio a = keys(dtmf_audio::with_check_digits("04#02087651234"));
  for (size_t at = 0, n = 1; at < a.size(); at += n, n = n * 3 + 1) {
    Audio part(a.begin() + at, a.begin() + std::min(a.size(), at + n));
    WAVEHDR* h = filled(part);
    data(h);
    ASSERT_TRUE(h->dwFlags & WHDR_INQUEUE);
    ASSERT_EQ(waveInReset(device_), (MMRESULT)MMSYSERR_NOERROR);
    waveInUnprepareHeader(device_, h, sizeof *h);
  }
  EXPECT_EQ(started_messages(), std::vector<std::string>{"04#02087651234"});
}

TEST_F(DtmfCapture, InactiveBuffersAreNeitherExaminedNorQueued) {
  capture_active = 0;
  dtmf_capture_callback(device_, WIM_OPEN, 0, 0, 0);
  WAVEHDR* h = filled(keys("03#12367"));
  data(h);
  EXPECT_TRUE(started_messages().empty());
  EXPECT_FALSE(h->dwFlags & WHDR_INQUEUE);
  EXPECT_EQ(dtmf_detector.block_samples, 0);
  EXPECT_EQ(dtmf_detector.run, 0);
}

TEST_F(DtmfCapture, OtherNotificationsDoNothing) {
  capture_active = 1;
  dtmf_capture_callback(device_, WIM_OPEN, 0, 0, 0);
  WAVEHDR* h = filled(keys("03#12367"));
  dtmf_capture_callback(device_, WIM_CLOSE, 0, (DWORD_PTR)h, 0);
  dtmf_capture_callback(device_, 0x3C5, 0, (DWORD_PTR)h, 0);
  EXPECT_TRUE(started_messages().empty());
  EXPECT_FALSE(h->dwFlags & WHDR_INQUEUE);
  dtmf_capture_callback(device_, WIM_DATA, 0, 0, 0); /* no header: nothing */
}

TEST_F(DtmfCapture, RecordedBytesBeyondTheBufferAreNotRead) {
  capture_active = 1;
  dtmf_capture_callback(device_, WIM_OPEN, 0, 0, 0);
  Audio a = keys("03#12367");
  WAVEHDR* h = filled(a);
  h->dwBufferLength = 4102; /* a device that reports more than the buffer holds */
  h->dwBytesRecorded = 1u << 30;
  data(h);
  EXPECT_EQ(dtmf_detector.block_samples, 2051 % DTMF_BLOCK_SAMPLES);
}

#ifndef _WIN32
/* The in-call page's way: two buffers of 2048 samples, the callback on the
 * device's audio thread, the call audio line played in device time. */
TEST_F(DtmfCapture, TheCallAudioLineEndToEnd) {
  waveInClose(device_);
  device_ = nullptr;
  plat::set_speed(20);
  WAVEFORMATEX f = {WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
  HWAVEIN device = nullptr;
  ASSERT_EQ(waveInOpen(&device, WAVE_MAPPER, &f, (DWORD_PTR)dtmf_capture_callback, 0, CALLBACK_FUNCTION),
            (MMRESULT)MMSYSERR_NOERROR);
  static char blocks[2][4096];
  WAVEHDR headers[2] = {};
  for (int i = 0; i < 2; i++) {
    headers[i].lpData = blocks[i];
    headers[i].dwBufferLength = 4096;
    waveInPrepareHeader(device, &headers[i], sizeof(WAVEHDR));
  }
  for (WAVEHDR& h : headers) waveInAddBuffer(device, &h, sizeof(WAVEHDR));
  waveInStart(device);
  capture_active = 1;
  for (const char* m : {"03#4006601234", "05#111*222"}) {
    Audio a;
    ASSERT_TRUE(dtmf_audio::message_audio(m, dtmf_audio::Options(), &a));
    dtmf_audio::append_silence(a, 4096); /* a pause between the messages */
    plat::call_audio_wait(plat::call_audio_queue(a.data(), a.size()));
  }
  EXPECT_EQ(started_messages(), (std::vector<std::string>{"03#4006601234", "05#111*222"}));
  /* Leaving the page: the reset returns both buffers, which stay returned. */
  capture_active = 0;
  ASSERT_EQ(waveInReset(device), (MMRESULT)MMSYSERR_NOERROR);
  for (WAVEHDR& h : headers) EXPECT_EQ(h.dwFlags & (WHDR_DONE | WHDR_INQUEUE), (DWORD)WHDR_DONE);
  for (WAVEHDR& h : headers) EXPECT_EQ(waveInUnprepareHeader(device, &h, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_NOERROR);
  EXPECT_EQ(waveInClose(device), (MMRESULT)MMSYSERR_NOERROR);
  plat::set_speed(1);
}
#endif

}  // namespace
