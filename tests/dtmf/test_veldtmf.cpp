/* veldtmf: messages to call audio and back through the system's detector,
 * a recording that ends right after the message, --verbose, several
 * messages in one file, any sound file format and rate (16-bit PCM exactly),
 * bounded option values, usage and errors. Host only. */
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
#include "sound_file.h"

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
      {"--raw", "12367", 1, ""},     /* no "#" */
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
      {"encode 03#1 -o x.wav --speed 3", 2, "unknown option '--speed'"},
      {"encode 03#1 -o x.wav --level", 2, "--level needs a value"},
      {"encode 03#1 -o /nonexistent/dir/x.wav", 3, "cannot write"},
      {"decode", 2, "no file given"},
      {"decode a b", 2, "one file"},
      {"decode --loud a", 2, "unknown option '--loud'"},
      {"decode /nonexistent.wav", 3, "cannot read /nonexistent.wav"},
  };
  for (const Case& c : cases) {
    ToolRun r = run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
  }
  /* A file that is no sound. */
  std::ofstream(file("text.wav")) << "not a sound\n";
  ToolRun r = run("decode '" + file("text.wav") + "'");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("cannot read"), std::string::npos);
}

TEST_F(Veldtmf, BadOptionValuesAreUsageErrorsAndWriteNothing) {
  struct Case {
    const char* option;
    const char* says;
  } cases[] = {
      {"--level nan", "--level must be a number from -90 to 0 dBFS, not 'nan'"},
      {"--level -inf", "--level must be a number from -90 to 0 dBFS"},
      {"--level -91", "--level must be a number from -90 to 0 dBFS"},
      {"--level 0.5", "--level must be a number from -90 to 0 dBFS"},
      {"--level loud", "--level must be a number"},
      {"--level ''", "--level must be a number"},
      {"--level '-10 '", "--level must be a number"},
      {"--tone 0", "--tone must be a number from 1 to 10000 ms"},
      {"--tone 1e9", "--tone must be a number from 1 to 10000 ms, not '1e9'"},
      {"--tone inf", "--tone must be a number from 1 to 10000 ms"},
      {"--gap inf", "--gap must be a number from 1 to 10000 ms, not 'inf'"},
      {"--gap 10001", "--gap must be a number from 1 to 10000 ms"},
      {"--snr inf", "--snr must be a number from -200 to 200 dB"},
      {"--snr nan", "--snr must be a number from -200 to 200 dB"},
      {"--twist nan", "--twist must be a number from -90 to 90 dB"},
      {"--pause 0 04#1", "--pause must be a number from 1 to 60000 ms, not '0'"},
      {"--pause inf 04#1", "--pause must be a number from 1 to 60000 ms"},
      {"--pause 100", "--pause goes between two messages"},
  };
  for (const Case& c : cases) {
    ToolRun r = run("encode 03#1 -o '" + file("x.wav") + "' " + c.option);
    EXPECT_EQ(r.status, 2) << c.option;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.option << ": " << r.err;
    EXPECT_NE(access(file("x.wav").c_str(), F_OK), 0) << c.option << " wrote the file";
  }
  ToolRun first = run("encode --pause 100 03#1 -o '" + file("x.wav") + "'");
  EXPECT_EQ(first.status, 2);
  EXPECT_NE(first.err.find("--pause goes between two messages"), std::string::npos) << first.err;
  /* The bounds themselves are good values. */
  EXPECT_EQ(run("encode 03#1 -o '" + file("x.wav") + "' --level -90 --tone 1 --gap 10000 --snr -200").status, 0);
  EXPECT_EQ(run("encode 03#1 -o '" + file("x.wav") + "' --level 0 --tone 10000 --gap 1 --snr 200").status, 0);
}

/* A WAV file of the samples, 8 kHz mono 16-bit. */
void write_samples(const std::string& path, const std::vector<int16_t>& samples) {
  std::string error;
  ASSERT_TRUE(dtmf_audio::write_wav(path, samples, &error)) << error;
}

TEST_F(Veldtmf, DecodeFinishesAMessageThatEndsWithTheFile) {
  /* The recording stops some time after the last tone; the detector needs
   * about 205 ms of silence after the last digit to end the message, which
   * decode supplies as the line would. */
  struct Case {
    const char* sent; /* with its check digits */
    double tail_ms;   /* after the last tone; below 0: cut off its end */
    int status;
    const char* decoded;
  } cases[] = {
      {"03#12367", 400, 0, "03#123\n"},
      {"03#12367", 200, 0, "03#123\n"},
      {"03#12367", 100, 0, "03#123\n"},
      {"03#12367", 26, 0, "03#123\n"},
      {"03#12367", 0, 0, "03#123\n"},
      {"03#12366", 0, 1, ""},             /* wrong check digits */
      {"03#12367", -30, 0, "03#123\n"},  /* the file ends 70 ms into the last tone */
      {"02#011345670022543255", 0, 0, "02#0113456700225432\n"},
  };
  for (const Case& c : cases) {
    dtmf_audio::Options o;
    o.tail_ms = c.tail_ms;
    std::vector<int16_t> a;
    ASSERT_TRUE(dtmf_audio::keys_audio(c.sent, o, &a));
    if (c.tail_ms < 0) a.resize(a.size() - dtmf_audio::ms_samples(-c.tail_ms));
    write_samples(file("m.wav"), a);
    ToolRun d = run("decode '" + file("m.wav") + "'");
    EXPECT_EQ(d.status, c.status) << c.sent << " " << c.tail_ms << " ms";
    EXPECT_EQ(d.out, c.decoded) << c.sent << " " << c.tail_ms << " ms";
  }
}

/* The time at the start of a --verbose line ("   1234 ms  ..."), -1 if none. */
long line_time(const std::string& line) {
  long ms = -1;
  char unit[3] = {};
  return sscanf(line.c_str(), "%ld %2s", &ms, unit) == 2 && std::string(unit) == "ms" ? ms : -1;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(Veldtmf, VerboseShowsKeyRunsVerdictsAndTheDeliveredText) {
  /* Wrong check digits, then the same message right, ending with the file. */
  dtmf_audio::Options o;
  o.tail_ms = 50;
  std::vector<int16_t> a;
  ASSERT_TRUE(dtmf_audio::sequence_audio({"03#12366", "03#12367"}, {1000}, o, &a));
  write_samples(file("m.wav"), a);
  ToolRun bad = run("decode --verbose '" + file("m.wav") + "'");
  EXPECT_EQ(bad.status, 0) << bad.err;
  std::vector<std::string> lines = lines_of(bad.out);
  const char* expected[] = {
      "key 0 stored (", "key 3 stored", "key #", "key 1", "key 2", "key 3", "key 6", "key 6",
      "message 03#12366: check digits wrong (67 expected)",
      "key 0", "key 3", "key #", "key 1", "key 2", "key 3", "key 6", "key 7",
      "end of the file; silence follows",
      "message 03#12367: valid",
      "delivered 03#123",
  };
  ASSERT_EQ(lines.size(), sizeof expected / sizeof *expected) << bad.out;
  long previous = 0;
  for (size_t i = 0; i < lines.size(); i++) {
    EXPECT_NE(lines[i].find(expected[i]), std::string::npos) << lines[i];
    long ms = line_time(lines[i]);
    EXPECT_GE(ms, previous) << lines[i];
    previous = ms;
  }
  /* The first tone lasts from 100 to 200 ms: its key is stored with the
   * first silent block after it. */
  EXPECT_GE(line_time(lines[0]), 200);
  EXPECT_LE(line_time(lines[0]), 230);
  /* The end of the file: 100 ms lead, 16 tones and 14 gaps of 100 ms, a pause of 1000 and 50 ms. */
  EXPECT_EQ(line_time(lines[17]), 100 + 3000 + 1000 + 50);
  EXPECT_EQ(line_time(lines[19]), line_time(lines[18]));
  /* The silence continues the file's time: the message ends eight blocks
   * after its last digit was stored. */
  EXPECT_NEAR(line_time(lines[18]) - line_time(lines[16]), 8 * 25.625, 1);

  /* Only the wrong one: nothing delivered, exit 1, the verdict shown. */
  ASSERT_TRUE(dtmf_audio::keys_audio("03#12366", dtmf_audio::Options(), &a));
  write_samples(file("bad.wav"), a);
  ToolRun only = run("decode --verbose '" + file("bad.wav") + "'");
  EXPECT_EQ(only.status, 1);
  EXPECT_NE(only.out.find("message 03#12366: check digits wrong (67 expected)\n"), std::string::npos) << only.out;
  EXPECT_EQ(only.out.find("delivered"), std::string::npos) << only.out;
  /* Without --verbose only delivered texts are printed. */
  EXPECT_EQ(run("decode '" + file("bad.wav") + "'").out, "");
}

TEST_F(Veldtmf, EncodeSeveralMessagesWithTheirPauses) {
  ToolRun e = run("encode 03#123 --pause 2000 04#555 --pause 1500 05#1 -o '" + file("call.wav") +
                  "' --tone 80 --gap 90");
  ASSERT_EQ(e.status, 0) << e.err;
  std::vector<int16_t> a;
  std::string error;
  ASSERT_TRUE(dtmf_audio::read_sound_file(file("call.wav"), &a, &error)) << error;
  /* Lead 100; 8 keys, 2000; 8 keys, 1500; 6 keys, tail 400 (keys of 80 ms, 90 ms apart). */
  EXPECT_EQ(a.size(), (size_t)8 * (100 + (8 * 80 + 7 * 90) + 2000 + (8 * 80 + 7 * 90) + 1500 + (6 * 80 + 5 * 90) + 400));
  ToolRun d = run("decode '" + file("call.wav") + "'");
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.out, "03#123\n04#555\n05#1\n");
  /* No pause given: 2000 ms. With --raw each message is sent as given. */
  ASSERT_EQ(run("encode 03#12367 03#12366 -o '" + file("raw.wav") + "' --raw").status, 0);
  ASSERT_TRUE(dtmf_audio::read_sound_file(file("raw.wav"), &a, &error)) << error;
  EXPECT_EQ(a.size(), (size_t)8 * (100 + 1500 + 2000 + 1500 + 400));
  EXPECT_EQ(run("decode '" + file("raw.wav") + "'").out, "03#123\n");
}

TEST_F(Veldtmf, SixteenBitPcmIsReadSampleExactly) {
  std::vector<int16_t> samples = {-32768, 32767, 20000, -20000, 1, -1, 0, 12345};
  write_samples(file("s.wav"), samples);
  std::vector<int16_t> got;
  std::string error;
  ASSERT_TRUE(dtmf_audio::read_sound_file(file("s.wav"), &got, &error)) << error;
  EXPECT_EQ(got, samples);
  /* The same values as 32-bit floats at 8 kHz come back the same too. */
  SF_INFO info = {};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open(file("f.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  for (int16_t s : samples) {
    float v = s / 32768.0f;
    sf_write_float(f, &v, 1);
  }
  sf_close(f);
  ASSERT_TRUE(dtmf_audio::read_sound_file(file("f.wav"), &got, &error)) << error;
  EXPECT_EQ(got, samples);
}

}  // namespace
