/* veldtmf: messages to call audio and back through the system's detector,
 * any sound file format and rate, usage and errors. Host only. */
#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dtmf_audio.h"

namespace {

struct ToolRun {
  int status;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Veldtmf : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/veldtmf-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  ToolRun run(const std::string& args) {
    std::string cmd = std::string(VELMAR_BINARY_DIR) + "/bin/veldtmf " + args + " >'" + dir_ +
                      "/out' 2>'" + dir_ + "/err'";
    int s = std::system(cmd.c_str());
    return {WIFEXITED(s) ? WEXITSTATUS(s) : -1, slurp(dir_ + "/out"), slurp(dir_ + "/err")};
  }
  std::string file(const char* name) { return dir_ + "/" + name; }

  std::string dir_;
};

TEST_F(Veldtmf, EncodeThenDecode) {
  struct Case {
    const char* encode;  /* arguments after the message */
    const char* message;
    int decode_status;
    const char* decoded;
  } cases[] = {
      {"", "03#123", 0, "03#123\n"},
      {"--level -25 --snr 15", "02#0113456700225432", 0, "02#0113456700225432\n"},
      {"--tone 70 --gap 70 --twist 3", "05#111*222", 0, "05#111*222\n"},
      {"--raw", "03#12367", 0, "03#123\n"},
      {"--raw", "03#12366", 1, ""},  /* wrong check digits */
      {"--level -60", "03#123", 1, ""},
  };
  for (const Case& c : cases) {
    std::string wav = file("m.wav");
    ToolRun e = run(std::string("encode '") + c.message + "' -o '" + wav + "' " + c.encode);
    ASSERT_EQ(e.status, 0) << c.encode << e.err;
    ToolRun d = run("decode '" + wav + "'");
    EXPECT_EQ(d.status, c.decode_status) << c.message << " " << c.encode;
    EXPECT_EQ(d.out, c.decoded) << c.message << " " << c.encode;
  }
}

TEST_F(Veldtmf, TheWavFileHoldsTheMessageWithItsCheckDigits) {
  ASSERT_EQ(run("encode 03#123 -o '" + file("m.wav") + "' --tone 80 --gap 120").status, 0);
  SF_INFO info = {};
  SNDFILE* f = sf_open(file("m.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  sf_close(f);
  EXPECT_EQ(info.samplerate, 8000);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  /* 100 ms lead, 8 tones of 80 ms ("03#123" and "67"), 7 gaps of 120 ms, 400 ms tail. */
  EXPECT_EQ(info.frames, (sf_count_t)(8 * (100 + 8 * 80 + 7 * 120 + 400)));
}

TEST_F(Veldtmf, DecodeReadsOtherRatesChannelsAndFormats) {
  /* The message at 44.1 kHz in stereo, as a 32-bit float WAV and a 24-bit AIFF. */
  std::vector<float> frames;
  std::string sent = dtmf_audio::with_check_digits("04#02087651234");
  const double rate = 44100;
  auto tone = [&](double ms, double f1, double f2) {
    for (int n = 0; n < (int)(ms * rate / 1000); n++) {
      float v = (float)(0.3 * sin(2 * dtmf_audio::kPi * f1 * n / rate) + 0.3 * sin(2 * dtmf_audio::kPi * f2 * n / rate));
      frames.push_back(v);
      frames.push_back(v * 0.5f);
    }
  };
  tone(100, 0, 0);
  for (char k : sent) {
    int r = 0, c = 0;
    dtmf_audio::key_position(k, &r, &c);
    tone(100, dtmf_audio::kRowHz[r], dtmf_audio::kColumnHz[c]);
    tone(100, 0, 0);
  }
  tone(500, 0, 0);
  struct Format {
    const char* name;
    int format;
  } formats[] = {{"f.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT}, {"f.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_24}};
  for (const Format& fm : formats) {
    SF_INFO info = {};
    info.samplerate = (int)rate;
    info.channels = 2;
    info.format = fm.format;
    SNDFILE* f = sf_open(file(fm.name).c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_writef_float(f, frames.data(), (sf_count_t)frames.size() / 2);
    sf_close(f);
    ToolRun d = run(std::string("decode '") + file(fm.name) + "'");
    EXPECT_EQ(d.status, 0) << fm.name << d.err;
    EXPECT_EQ(d.out, "04#02087651234\n") << fm.name;
  }
}

TEST_F(Veldtmf, UsageAndErrors) {
  ToolRun help = run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: veldtmf encode"), std::string::npos);
  struct Case {
    std::string args;
    int status;
    const char* says;
  } cases[] = {
      {"", 2, "no command given"},
      {"play x", 2, "unknown command 'play'"},
      {"encode 03#1", 2, "no output file"},
      {"encode -o x.wav", 2, "no message given"},
      {"encode 03#1X -o x.wav", 2, "no DTMF keys"},
      {"encode 03#1 -o x.wav --level loud", 2, "--level needs a number"},
      {"encode 03#1 -o x.wav --level 3", 2, "0 dBFS or below"},
      {"encode 03#1 -o x.wav --tone 0", 2, "--tone must be positive"},
      {"encode 03#1 -o x.wav --speed 3", 2, "unknown option '--speed'"},
      {"encode 03#1 -o /nonexistent/dir/x.wav", 1, "cannot write"},
      {"decode", 2, "no file given"},
      {"decode a b", 2, "one file"},
      {"decode /nonexistent.wav", 1, "cannot read /nonexistent.wav"},
  };
  for (const Case& c : cases) {
    ToolRun r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
  }
  /* A file that is no sound. */
  std::ofstream(file("text.wav")) << "not a sound\n";
  ToolRun r = run("decode '" + file("text.wav") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot read"), std::string::npos);
}

}  // namespace
