/* The TTS library's stand-in on the host: handles by the data file, texts
 * really synthesised by espeak-ng, the `tts` event, and the WAV file of each
 * text under --audio-out. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "plat/host.h"
#include "tts.h"
#include "tts_stand_in.h"

namespace {

class TtsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velmar-tts-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    root_ = pattern;
    plat::set_device_root(root_.string());
    std::filesystem::create_directories(root_ / "tts");
    std::ofstream(root_ / "tts" / "Resource.dat") << "engine data";
    plat::host_options().headless = true;
    plat::host_options().audio_out.clear();
  }
  void TearDown() override {
    plat::host_options().audio_out.clear();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  std::filesystem::path root_;
};

uint32_t u32(const std::string& b, size_t at) {
  return (uint32_t)(unsigned char)b[at] | (uint32_t)(unsigned char)b[at + 1] << 8 |
         (uint32_t)(unsigned char)b[at + 2] << 16 | (uint32_t)(unsigned char)b[at + 3] << 24;
}

TEST_F(TtsTest, HandleOnlyWhenTheDataFileExists) {
  EXPECT_EQ(tts_init(NULL), (HANDLE)0);
  EXPECT_EQ(tts_init(u"\\tts\\Missing.dat"), (HANDLE)0);
  EXPECT_EQ(tts_init(u"\\tts"), (HANDLE)0);  /* a folder */
  HANDLE a = tts_init(u"\\tts\\Resource.dat");
  HANDLE b = tts_init(u"\\TTS\\resource.dat");  /* the device's names ignore case */
  ASSERT_NE(a, (HANDLE)0);
  ASSERT_NE(b, (HANDLE)0);
  EXPECT_NE(a, b);
  tts_uninit(a);
  tts_uninit(b);
  tts_uninit(0);
}

TEST_F(TtsTest, PlayNeedsALiveHandleAndSpeaksTheGivenLength) {
  HANDLE handle = tts_init(u"\\tts\\Resource.dat");
  ASSERT_NE(handle, (HANDLE)0);
  static std::vector<std::string> events;
  static std::mutex lock;
  events.clear();
  static bool observing = false;
  static std::vector<std::string>* sink = nullptr;
  static std::mutex* sink_lock = nullptr;
  sink = &events;
  sink_lock = &lock;
  if (!observing) {
    observing = true;
    plat::event_log_observe([](const std::string& line) {
      std::lock_guard<std::mutex> hold(*sink_lock);
      if (sink && line.find("\"ev\":\"tts\"") != std::string::npos) sink->push_back(line);
    });
  }

  int before = tts_stand_in_spoken(NULL, 0);
  EXPECT_EQ(tts_play(0, u"请插入地图卡", 6), -1);
  EXPECT_EQ(tts_play(handle, NULL, 6), -1);
  /* Only the given length is spoken. */
  EXPECT_EQ(tts_play(handle, u"请插入地图卡和别的", 6), 0);
  WCHAR last[16];
  EXPECT_EQ(tts_stand_in_spoken(last, 16), before + 1);
  EXPECT_EQ(plat::utf16_to_utf8(last), "请插入地图卡");
  tts_uninit(handle);
  EXPECT_EQ(tts_play(handle, u"请插入地图卡", 6), -1);
  EXPECT_EQ(tts_stand_in_spoken(NULL, 0), before + 1);

  std::lock_guard<std::mutex> hold(lock);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NE(events[0].find("\"text\":\"请插入地图卡\""), std::string::npos) << events[0];
  sink = nullptr;
}

TEST_F(TtsTest, AudioOutGetsOneWaveFileOfSpeechPerText) {
  std::filesystem::path out = root_ / "audio";
  plat::host_options().audio_out = out.string();
  HANDLE handle = tts_init(u"\\tts\\Resource.dat");
  ASSERT_NE(handle, (HANDLE)0);
  ASSERT_EQ(tts_play(handle, u"请插入地图卡", 6), 0);
  ASSERT_EQ(tts_play(handle, u"你好", 2), 0);
  tts_uninit(handle);

  std::vector<std::filesystem::path> files;
  for (auto& entry : std::filesystem::directory_iterator(out)) files.push_back(entry.path());
  ASSERT_EQ(files.size(), 2u);
  std::sort(files.begin(), files.end());
  uint32_t data_sizes[2] = {0, 0};
  for (size_t f = 0; f < files.size(); ++f) {
    SCOPED_TRACE(files[f].string());
    EXPECT_EQ(files[f].extension(), ".wav");
    std::ifstream in(files[f], std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(b.size(), 44u);
    EXPECT_EQ(b.substr(0, 4), "RIFF");
    EXPECT_EQ(u32(b, 4), b.size() - 8);
    EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(b[20], 1);   /* PCM */
    EXPECT_EQ(b[22], 1);   /* mono */
    EXPECT_GT(u32(b, 24), 8000u);
    EXPECT_EQ(b[34], 16);  /* bits */
    EXPECT_EQ(b.substr(36, 4), "data");
    data_sizes[f] = u32(b, 40);
    EXPECT_EQ(data_sizes[f], b.size() - 44);
    /* Speech, not silence: at least a tenth of a second, and loud somewhere. */
    EXPECT_GT(data_sizes[f], u32(b, 24) / 5);
    int peak = 0;
    for (size_t i = 44; i + 1 < b.size(); i += 2) {
      int s = (int16_t)((unsigned char)b[i] | (unsigned char)b[i + 1] << 8);
      peak = std::max(peak, std::abs(s));
    }
    EXPECT_GT(peak, 1000);
  }
  /* Six syllables last longer than two. */
  EXPECT_GT(data_sizes[0], data_sizes[1]);
}

}  // namespace
