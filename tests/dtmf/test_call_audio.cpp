/* The simulated device's call audio commands, run by the Velmar program on
 * the host with a console script: audio FILE (any format and rate; beside
 * the script), dtmf MESSAGE with its options, speech TEXT, and their errors.
 * The shell's in-call page captures the audio and the operator's commands
 * land in config.ini. Host only. */
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dtmf_audio.h"
#include "sound_file.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

/* config.ini is UTF-16LE on the device; its ASCII keys read as every other byte. */
std::string ascii_of(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i++)
    if (bytes[i] != 0) out += bytes[i];
  return out;
}

class CallAudio : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velmar-call-audio-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  /* Runs the script after the lines that bring up a service-centre call. */
  int run(const std::string& body) {
    std::ofstream(dir_ + "/s.txt") << "phone start\nphone info 13800000000\ncopydata 256\n"
                                      "expect-page 3\nphone active\nexpect-page 4\n"
                                   << body << "quit\n";
    std::string cmd = "cd / && " + std::string(VELMAR_BINARY_DIR) + "/bin/Velmar --headless --speed 4 --device '" +
                      dir_ + "/device' --script '" + dir_ + "/s.txt' >'" + dir_ + "/events' 2>'" + dir_ + "/err'";
    int s = std::system(cmd.c_str());
    events_ = slurp(dir_ + "/events");
    err_ = slurp(dir_ + "/err");
    config_ = ascii_of(slurp(dir_ + "/device/residentflash2/Velmar/config.ini"));
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  }

  std::string dir_, events_, err_, config_;
};

TEST_F(CallAudio, AudioFileBesideTheScriptAndDtmfWithOptions) {
  /* The operator's message recorded at 22.05 kHz stereo as 24-bit PCM WAV. */
  std::vector<int16_t> mono;
  ASSERT_TRUE(dtmf_audio::message_audio("03#777", dtmf_audio::Options(), &mono));
  SF_INFO info = {};
  info.samplerate = 22050;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
  SNDFILE* f = sf_open((dir_ + "/m.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  for (size_t n = 0; n < mono.size() * 22050 / 8000; n++) {
    /* Nearest sample: good enough below the tones' frequencies at this rate. */
    float v = mono[n * 8000 / 22050] / 32768.0f;
    float frame[2] = {v, v};
    sf_writef_float(f, frame, 1);
  }
  sf_close(f);
  EXPECT_EQ(run("audio m.wav\n"
                "dtmf 04#888 level=-30 tone=70 gap=70 snr=15\n"
                "expect-file \\residentflash2\\Velmar\\config.ini RECALL_NUMBER=888\n"), 0) << err_;
  EXPECT_NE(config_.find("CENTER_NUMBER=777"), std::string::npos) << config_;
  EXPECT_NE(config_.find("RECALL_NUMBER=888"), std::string::npos) << config_;
  EXPECT_NE(events_.find("\"ev\":\"call-audio\",\"source\":\"file\""), std::string::npos) << events_;
  EXPECT_NE(events_.find("\"ev\":\"capture\",\"action\":\"open\""), std::string::npos) << events_;
  EXPECT_EQ(err_.find("console:"), std::string::npos) << err_;
}

TEST_F(CallAudio, SpeechIsNoCommand) {
  EXPECT_EQ(run("speech Please send the destination to my car, number three, hash, one two three.\n"), 0) << err_;
  EXPECT_NE(events_.find("\"source\":\"speech\""), std::string::npos) << events_;
  EXPECT_NE(config_.find("CENTER_NUMBER=4006601234"), std::string::npos) << config_;
  EXPECT_EQ(err_.find("console:"), std::string::npos) << err_;
}

TEST_F(CallAudio, ErrorsNameTheLineAndTheRunGoesOn) {
  /* Each bad command or value is one error line and nothing else: no
   * audio, and the run goes on. */
  EXPECT_EQ(run("dtmf 03#1X\n"
                "dtmf 03#1 volume=3\n"
                "dtmf 03#1 level=3\n"
                "dtmf 03#1 tone=fast\n"
                "audio nothere.wav\n"
                "speech\n"
                "dtmf\n"
                "dtmf 03#1 gap=inf\n"
                "dtmf 03#1 level=nan\n"
                "dtmf 03#1 tone=1e9\n"
                "dtmf 03#1 snr=inf\n"
                "dtmf 03#1 level=-91\n"
                "dtmf 03#1 gap=0\n"
                "dtmf 03#1 level\n"
                "dtmf 03#555\n"
                "expect-file \\residentflash2\\Velmar\\config.ini CENTER_NUMBER=555\n"), 0) << err_;
  const char* says[] = {"line 7: '03#1X' has characters that are no DTMF keys",
                        "line 8: unknown dtmf option 'volume=3'",
                        "line 9: dtmf option level must be a number from -90 to 0 dBFS, not '3'",
                        "line 10: dtmf option tone must be a number from 1 to 10000 ms, not 'fast'",
                        "line 11: cannot read",
                        "line 12: speech needs a text",
                        "line 13: dtmf needs a message",
                        "line 14: dtmf option gap must be a number from 1 to 10000 ms, not 'inf'",
                        "line 15: dtmf option level must be a number from -90 to 0 dBFS, not 'nan'",
                        "line 16: dtmf option tone must be a number from 1 to 10000 ms, not '1e9'",
                        "line 17: dtmf option snr must be a number from -200 to 200 dB, not 'inf'",
                        "line 18: dtmf option level must be a number from -90 to 0 dBFS, not '-91'",
                        "line 19: dtmf option gap must be a number from 1 to 10000 ms, not '0'",
                        "line 20: unknown dtmf option 'level'"};
  std::vector<std::string> lines;
  std::istringstream in(err_);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), sizeof says / sizeof *says) << err_;
  for (size_t i = 0; i < lines.size(); i++) EXPECT_NE(lines[i].find(says[i]), std::string::npos) << says[i] << "\n" << err_;
  /* Only the last dtmf played. */
  size_t played = 0;
  for (size_t at = 0; (at = events_.find("\"ev\":\"call-audio\"", at)) != std::string::npos; at++) played++;
  EXPECT_EQ(played, 1u) << events_;
}

}  // namespace
