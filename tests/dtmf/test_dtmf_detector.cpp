/* The DTMF detector on generated call audio: the Goertzel filters (their
 * exact powers on every filter path) and each block's key decision, the tone logic that stores digits, the message's
 * end, alignment and check digits, buffers of any length, and the log. */
#include <windows.h>

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <random>
#include <string>

#include "dtmf_fixture.h"
#include "shell_globals.h"
#include "temp_folder.h"

using namespace dtmf_test;

namespace {

/* ---- Goertzel filters and coefficients ---- */

TEST(DtmfGoertzel, CoefficientsAreComputedOnceByReset) {
  DtmfDetector d = {};
  dtmf_detector_reset(&d);
  ASSERT_TRUE(d.coefficients_ready);
  for (int k = 0; k < DTMF_FREQUENCIES; k++)
    EXPECT_DOUBLE_EQ(d.coefficient[k], 2 * cos(dtmf_frequencies[k] * 7.853981625e-4)) << k;
  d.coefficient[0] = 42;  /* a ready detector keeps its coefficients */
  dtmf_detector_reset(&d);
  EXPECT_EQ(d.coefficient[0], 42);
}

TEST(DtmfGoertzel, BlockPowerPeaksAtTheTonesOfTheKey) {
  /* One block of 770 + 1336 Hz: the filters of rows 1 and column 5 hold the
   * energy, and each power is what the direct DFT sum at that frequency gives. */
  Audio a;
  tone_blocks(a, '5', 1, -20);
  DtmfDetector d = {};
  dtmf_detector_reset(&d);
  dtmf_detector_feed(&d, a.data(), (int)a.size());
  EXPECT_EQ(d.block_samples, 0);
  for (int k = 0; k < DTMF_FREQUENCIES; k++) {
    double re = 0, im = 0, w = dtmf_frequencies[k] * 7.853981625e-4;
    for (int n = 0; n < DTMF_BLOCK_SAMPLES; n++) {
      re += a[n] * cos(w * (n + 1));
      im += a[n] * sin(w * (n + 1));
    }
    EXPECT_NEAR(d.power[k], re * re + im * im, 1e-6 * d.power[1] + 1) << k;
  }
  for (int k : {0, 2, 3}) EXPECT_LT(d.power[k], 0.1 * d.power[1]);
  for (int k : {4, 6, 7}) EXPECT_LT(d.power[k], 0.1 * d.power[5]);
  EXPECT_EQ(d.last, '5');
}

/* ---- Exact powers on every path ---- */

std::string hex(double v) {
  char text[40];
  snprintf(text, sizeof text, "%a", v);
  return text;
}

/* What a detector did, block by block: the powers' exact bits, the key, run
 * and candidate count; each digit stored and each message ended; and what
 * feeding returned. */
struct Trace {
  DtmfDetector* d;
  std::vector<std::string> lines;
};

void trace_event(void* context, const DtmfEvent* e) {
  Trace* t = (Trace*)context;
  std::string line;
  if (e->kind == DTMF_EVENT_BLOCK) {
    for (double p : t->d->power) line += hex(p) + " ";
    line += "key " + std::to_string((int)e->key) + " run " + std::to_string(t->d->run) + " candidates " +
            std::to_string(t->d->candidate_count);
  } else if (e->kind == DTMF_EVENT_DIGIT) {
    line = std::string("digit ") + e->key + " x" + std::to_string(e->blocks);
  } else {
    line = "message " + narrow(e->text) + " verdict " + std::to_string(e->verdict);
  }
  t->lines.push_back(line);
}

/* The trace of a fresh detector fed `a` in buffers of `chunk`, on the path
 * in use, reset after each message as the capture callback does. */
std::vector<std::string> trace(const Audio& a, size_t chunk) {
  DtmfDetector d = {};
  Trace t = {&d, {}};
  dtmf_detector_observe(&d, trace_event, &t);
  dtmf_detector_reset(&d);
  for (size_t at = 0; at < a.size(); at += chunk) {
    size_t n = std::min(chunk, a.size() - at);
    if (const WCHAR* m = dtmf_detector_feed(&d, a.data() + at, (int)n)) {
      t.lines.push_back("delivered " + narrow(m));
      dtmf_detector_reset(&d);
    }
  }
  t.lines.push_back("block samples " + std::to_string(d.block_samples));
  return t.lines;
}

/* The input of the golden powers, integers only: 205 samples of a linear
 * congruential generator, 205 of full-scale steps, 205 of a small ramp. */
Audio golden_input() {
  Audio a;
  uint32_t state = 12345;
  for (int n = 0; n < 3 * DTMF_BLOCK_SAMPLES; n++) {
    if (n < 205) {
      state = state * 1103515245u + 12345u;
      a.push_back((short)(state >> 16));
    } else if (n < 410) {
      a.push_back(n % 7 < 3 ? 32767 : -32768);
    } else {
      a.push_back((short)(n % 5 - 2));
    }
  }
  return a;
}

/* The powers of golden_input's blocks by a plain scalar evaluation of the
 * filters (double arithmetic, no fused multiply-add), and the coefficients. */
const double kGoldenCoefficients[8] = {
    0x1.b52e4e1c17c81p+0, 0x1.a5312355e733fp+0, 0x1.919578617177ap+0, 0x1.7a6b9d5a46962p+0,
    0x1.2a02b8ab9f878p+0, 0x1.fe243c8d02944p-1, 0x1.98e482844da8cp-1, 0x1.2316b824c02c2p-1};
const double kGoldenPowers[3][8] = {
    {0x1.25c8a73f93845p+36, 0x1.3802f993694ddp+35, 0x1.2b6574596cbdep+34, 0x1.b2313cc2d383ep+35,
     0x1.2d873f34b46f6p+35, 0x1.2938d5a78d6ffp+36, 0x1.5a4e9ce1926eep+37, 0x1.767a4241cb3eap+36},
    {0x1.30ef3a17708dap+33, 0x1.0c09e73ecd73bp+34, 0x1.a6188ba709592p+34, 0x1.9342d801929bcp+33,
     0x1.ae845a491e4p+38, 0x1.8fcf5dc069e5ap+31, 0x1.b1108cda6667fp+34, 0x1.ae0c2e91ecd0bp+33},
    {0x1.fa9a5ca719b38p+1, 0x1.ab1aa2ac43fbp+3, 0x1.addd9a51ece9cp+2, 0x1.dbd259f92353p+1,
     0x1.cc50dbfd0dc2p-3, 0x1.8d9562cdc6cb3p+5, 0x1.4e7900f87116ep+6, 0x1.b33c8f50c9adp+9}};

TEST(DtmfExact, GoldenPowerBitsOnEveryPathAndBuffering) {
  DtmfDetector d = {};
  dtmf_detector_reset(&d);
  for (int k = 0; k < DTMF_FREQUENCIES; k++) EXPECT_EQ(hex(d.coefficient[k]), hex(kGoldenCoefficients[k])) << k;
  Audio a = golden_input();
  std::vector<std::string> expected;
  for (const double* p : kGoldenPowers) {
    std::string line;
    for (int k = 0; k < DTMF_FREQUENCIES; k++) line += hex(p[k]) + " ";
    expected.push_back(line);
  }
  for (int path : paths()) {
    ASSERT_TRUE(dtmf_set_path(path));
    for (size_t chunk : {1, 100, 205, 333, 615}) {
      std::vector<std::string> got = trace(a, chunk);
      ASSERT_EQ(got.size(), 4u);
      for (int b = 0; b < 3; b++)
        EXPECT_EQ(got[b].substr(0, expected[b].size()), expected[b])
            << dtmf_path_name(path) << ", buffers of " << chunk << ", block " << b;
    }
  }
  dtmf_set_path(-1);
}

/* The powers of one block by the plain scalar formulas. */
void reference_powers(const short* x, double power[8]) {
  for (int k = 0; k < 8; k++) {
    double c = 2.0 * cos(dtmf_frequencies[k] * 7.853981625e-4), q1 = 0, q2 = 0;
    for (int n = 0; n < DTMF_BLOCK_SAMPLES; n++) {
      double q0 = c * q1 - q2 + (double)x[n];
      q2 = q1;
      q1 = q0;
    }
    power[k] = q1 * q1 + q2 * q2 - c * q1 * q2;
  }
}

TEST(DtmfExact, EveryPathGivesTheSameBlocksDigitsAndMessages) {
  /* Random full-range samples; messages at low level in noise, with twist
   * and unaligned blocks; wrong check digits; tones at the edge of the
   * energy threshold. */
  std::mt19937 random(11);
  Audio noise(60 * DTMF_BLOCK_SAMPLES + 17);
  for (short& s : noise) s = (short)(random() & 0xffff);
  std::vector<Audio> inputs = {noise};
  dtmf_audio::Options o;
  o.level_dbfs = -24;
  o.snr_db = 12;
  o.twist_db = 4;
  o.lead_ms = 37.3;
  Audio m;
  ASSERT_TRUE(dtmf_audio::message_audio("02#0113456700225432", o, &m));
  Audio bad = keys("03#12366");
  m.insert(m.end(), bad.begin(), bad.end());
  inputs.push_back(m);
  Audio weak;
  for (double dbfs : {-38.0, -40.0, -42.0}) tone_blocks(weak, '9', 6, dbfs);
  silent_blocks(weak, 10);
  inputs.push_back(weak);

  /* The scalar path's powers are the plain formulas' (whole blocks from the start). */
  ASSERT_TRUE(dtmf_set_path(DTMF_PATH_SCALAR));
  std::vector<std::string> blocks = trace(noise, noise.size());
  for (size_t b = 0; b < noise.size() / DTMF_BLOCK_SAMPLES; b++) {
    double p[8];
    reference_powers(noise.data() + b * DTMF_BLOCK_SAMPLES, p);
    std::string line;
    for (double v : p) line += hex(v) + " ";
    ASSERT_EQ(blocks[b].substr(0, line.size()), line) << "block " << b;
  }
  for (size_t i = 0; i < inputs.size(); i++) {
    for (size_t chunk : {1, 7, 204, 205, 206, 410, 1000, 2048, 2460, 4096, 1 << 20}) {
      on_every_path([&] { return trace(inputs[i], chunk); });
      if (HasFailure()) FAIL() << "input " << i << ", buffers of " << chunk;
    }
  }
  /* The messages themselves. */
  EXPECT_EQ(messages(m), std::vector<std::string>{"02#0113456700225432"});
}

/* ---- The key decision of one block ---- */

struct Decision {
  const char* what;
  double power[8];
  int run;
  char last;
  char key;
};

const Decision kDecisions[] = {
    {"clean pair row 0 col 4", {1e10, 0, 0, 0, 1e10, 0, 0, 0}, 4, 0, '1'},
    {"row 3 col 7 is D", {0, 0, 0, 5e9, 0, 0, 0, 5e9}, 4, 0, 'D'},
    {"row 3 col 4 is *", {0, 0, 0, 5e9, 5e9, 0, 0, 0}, 4, 0, '*'},
    {"row 3 col 6 is #", {0, 0, 0, 5e9, 0, 0, 5e9, 0}, 4, 0, '#'},
    {"row power exactly 1e9", {1e9, 0, 0, 0, 1e10, 0, 0, 0}, 4, 0, 0},
    {"column power exactly 1e9", {1e10, 0, 0, 0, 1e9, 0, 0, 0}, 4, 0, 0},
    {"both just above 1e9", {1.000001e9, 0, 0, 0, 1.000001e9, 0, 0, 0}, 4, 0, '1'},
    {"second row at 0.397", {1e10, 3.97e9, 0, 0, 1e10, 0, 0, 0}, 4, 0, '1'},
    {"second row at 0.399", {1e10, 3.99e9, 0, 0, 1e10, 0, 0, 0}, 4, 0, 0},
    {"second column at 0.157", {1e10, 0, 0, 0, 1e10, 0, 1.57e9, 0}, 4, 0, '1'},
    {"second column at 0.159", {1e10, 0, 0, 0, 1e10, 0, 1.59e9, 0}, 4, 0, 0},
    {"second row rejected at run 3 when last differs", {1e10, 3.99e9, 0, 0, 1e10, 0, 0, 0}, 3, '2', 0},
    {"held at run 3 when last is the key", {1e10, 3.99e9, 0, 0, 1e10, 0, 0, 0}, 3, '1', '1'},
    {"held at run 0 when last is the key", {1e10, 1e10, 0, 0, 1e10, 1e10, 0, 0}, 0, '1', '1'},
    {"not held at run 4", {1e10, 1e10, 0, 0, 1e10, 0, 0, 0}, 4, '1', 0},
    {"a tie of rows: the first row wins, held", {1e10, 1e10, 0, 0, 0, 1e10, 0, 0}, 1, '2', '2'},
    {"a tie of columns: the first column wins, held", {0, 1e10, 0, 0, 0, 0, 1e10, 1e10}, 2, '6', '6'},
    {"hold needs the energy", {1e10, 0, 0, 0, 5e8, 0, 0, 0}, 1, '1', 0},
};

TEST(DtmfDecision, TableOfBlockPowers) {
  for (const Decision& c : kDecisions)
    EXPECT_EQ(dtmf_decide_key(c.power, c.run, c.last), c.key) << c.what;
}

/* ---- Tones into digits ---- */

TEST(DtmfTones, EachKeyOfAHundredMillisecondToneIsStored) {
  for (const char* k = dtmf_keys; *k; k++) {
    dtmf_audio::Options o;
    o.tail_ms = 100; /* the tone ends, the message does not */
    EXPECT_EQ(stored_digits(keys(std::string(1, *k), o)), std::string(1, *k)) << *k;
  }
}

TEST(DtmfTones, LevelsAndTwist) {
  struct Case {
    double row_dbfs, column_dbfs;
    bool stored;
  } cases[] = {
      {-3, -3, true},  {-20, -20, true}, {-30, -30, true},  {-45, -45, false}, {-60, -60, false},
      {-10, -20, true}, {-20, -10, true}, {-10, -50, false}, {-50, -10, false},
  };
  for (const Case& c : cases) {
    Audio a;
    tone_blocks(a, '5', 5, c.row_dbfs, c.column_dbfs - c.row_dbfs);
    silent_blocks(a, 2);
    EXPECT_EQ(stored_digits(a), c.stored ? "5" : "") << c.row_dbfs << " / " << c.column_dbfs;
  }
}

TEST(DtmfTones, ToneLengthsAndGapsBetweenTheSameKey) {
  struct Case {
    int tone_blocks, gap_blocks;
    const char* stored;
  } cases[] = {
      {1, 4, ""},      /* one block: no key reaches two */
      {2, 4, "55"},    /* shortest stored tone */
      {2, 2, "5"},     /* run reaches only 4 at the second silent block: merged */
      {2, 3, "55"},    /* three silent blocks after a two-block tone */
      {3, 1, "5"},
      {3, 2, "55"},
      {4, 1, "55"},    /* after four blocks one silent block ends the tone */
      {10, 1, "55"},
  };
  for (const Case& c : cases) {
    Audio a;
    tone_blocks(a, '5', c.tone_blocks);
    silent_blocks(a, c.gap_blocks);
    tone_blocks(a, '5', c.tone_blocks);
    silent_blocks(a, 4);
    EXPECT_EQ(stored_digits(a), c.stored) << c.tone_blocks << " tone, " << c.gap_blocks << " gap";
  }
}

TEST(DtmfTones, DifferentKeysWithoutSilenceAreOneTone) {
  struct Case {
    const char* sequence; /* key, blocks, key, blocks, ... */
    const char* stored;
  } cases[] = {
      {"1325", "2"},             /* the key seen in more blocks wins */
      {"1523", "1"},
      {"1222", "1"},             /* a tie: the first seen */
      {"1222324255", "1"},       /* a fifth key is ignored, though seen most */
      {"1122", "2"},             /* one block of 1 alone does not count */
  };
  for (const Case& c : cases) {
    Audio a;
    for (const char* p = c.sequence; p[0] && p[1]; p += 2) tone_blocks(a, p[0], p[1] - '0');
    silent_blocks(a, 3);
    EXPECT_EQ(stored_digits(a), c.stored) << c.sequence;
  }
}

TEST(DtmfTones, AShortDropOutDoesNotEndATone) {
  Audio a;
  tone_blocks(a, '7', 3);
  silent_blocks(a, 1);
  tone_blocks(a, '7', 3);
  silent_blocks(a, 3);
  EXPECT_EQ(stored_digits(a), "7");
}

TEST(DtmfTones, NoiseAloneAndSignalsInNoise) {
  /* Loud white noise for five seconds gives no message. */
  dtmf_audio::Options loud;
  loud.level_dbfs = -6;
  loud.snr_db = 0;
  Audio noise(5 * 8000, 0);
  dtmf_audio::add_noise(noise, loud);
  EXPECT_TRUE(messages(noise).empty());
  /* A message at -20 dBFS per tone comes through noise 10 dB and 20 dB below it. */
  for (double snr : {10.0, 20.0}) {
    dtmf_audio::Options o;
    o.level_dbfs = -20;
    o.snr_db = snr;
    o.seed = 7;
    Audio a;
    ASSERT_TRUE(dtmf_audio::message_audio("03#4006601234", o, &a));
    EXPECT_EQ(messages(a), std::vector<std::string>{"03#4006601234"}) << snr;
  }
}

/* ---- Messages ---- */

TEST(DtmfMessages, CheckDigits) {
  struct Case {
    const char* text;
    const char* digits;
  } cases[] = {{"03#123", "67"}, {"02#0113456700225432", "55"}, {"", "77"}, {"#", "54"}, {"ABCD*", "51"}};
  for (const Case& c : cases) {
    std::basic_string<WCHAR> t;
    for (const char* p = c.text; *p; p++) t += (WCHAR)*p;
    WCHAR out[2];
    dtmf_check_digits(t.c_str(), (int)t.size(), out);
    EXPECT_EQ(std::string({(char)out[0], (char)out[1]}), c.digits) << c.text;
    EXPECT_EQ(dtmf_audio::check_digits(c.text), c.digits) << c.text;
  }
}

TEST(DtmfMessages, TransmittedKeysAndTheMessageDelivered) {
  struct Case {
    const char* sent;
    const char* delivered; /* null: dropped */
  } cases[] = {
      {"03#12367", "03#123"},
      {"03#12366", nullptr},
      {"03#12377", nullptr},
      {"02#011345670022543255", "02#0113456700225432"},
      {"102#011345670022543255", "02#0113456700225432"}, /* a stray digit before */
      {"99902#011345670022543255", "02#0113456700225432"},
      {"1234567", nullptr},   /* no "#" */
      {"#1234", nullptr},     /* "#" only before index 2 */
      {"1#03#12367", "03#123"}, /* aligned on the first "#" at index 2 or later */
      {"03#57", "03#"},       /* an empty payload */
  };
  for (const Case& c : cases) {
    std::vector<std::string> got = messages(keys(c.sent));
    if (c.delivered)
      EXPECT_EQ(got, std::vector<std::string>{c.delivered}) << c.sent;
    else
      EXPECT_TRUE(got.empty()) << c.sent << " gave " << (got.empty() ? "" : got[0]);
  }
}

TEST(DtmfMessages, EightSilentBlocksAfterTheLastDigitEndTheMessage) {
  Audio a;
  for (char k : std::string("03#12367")) {
    tone_blocks(a, k, 4);
    silent_blocks(a, 4);
  }
  a.resize(a.size() - 4 * DTMF_BLOCK_SAMPLES);
  /* The block after the tone stores the digit; eight more end the message. */
  DtmfDetector d = {};
  dtmf_detector_reset(&d);
  ASSERT_EQ(dtmf_detector_feed(&d, a.data(), (int)a.size()), nullptr);
  Audio silence;
  silent_blocks(silence, 1);
  for (int i = 0; i < 8; i++)
    ASSERT_EQ(dtmf_detector_feed(&d, silence.data(), (int)silence.size()), nullptr) << i;
  const WCHAR* text = dtmf_detector_feed(&d, silence.data(), (int)silence.size());
  EXPECT_EQ(narrow(text), "03#123");
}

TEST(DtmfMessages, AMessageStopsTheBufferAndTwoMessagesNeedTheirPause) {
  /* Two messages in one buffer: the first is delivered, the rest of the
   * buffer is not examined (no digit of the second one stored). */
  Audio a = keys("03#12367"), b = keys("04#55565");
  Audio both = a;
  both.insert(both.end(), b.begin(), b.end());
  /* The same with a pause of more than one capture buffer between them. */
  Audio apart = a;
  dtmf_audio::append_silence(apart, 2048);
  apart.insert(apart.end(), b.begin(), b.end());
  DtmfDetector d = {};
  dtmf_detector_reset(&d);
  EXPECT_EQ(narrow(dtmf_detector_feed(&d, both.data(), (int)both.size())), "03#123");
  EXPECT_EQ(d.message_length, 0);
  EXPECT_EQ(d.candidate_count, 0);
  /* Fed in capture buffers with a pause of one buffer between them, both arrive. */
  EXPECT_EQ(messages(apart), (std::vector<std::string>{"03#123", "04#555"}));
}

TEST(DtmfMessages, AnyBufferLengthGivesTheSameMessage) {
  Audio a;
  dtmf_audio::Options o;
  o.lead_ms = 100 + 77 / 8.0; /* blocks not aligned on the tones */
  ASSERT_TRUE(dtmf_audio::message_audio("02#0113456700225432", o, &a));
  for (size_t chunk : {1, 2, 3, 7, 204, 205, 206, 409, 2048, 4097, 1 << 20})
    EXPECT_EQ(messages(a, chunk), std::vector<std::string>{"02#0113456700225432"}) << chunk;
  /* Buffers of random lengths. */
  std::mt19937 random(5);
  DtmfDetector d = {};
  dtmf_detector_reset(&d);
  std::string got;
  for (size_t at = 0; at < a.size() && got.empty();) {
    size_t n = std::min(a.size() - at, (size_t)(random() % 700 + 1));
    if (const WCHAR* t = dtmf_detector_feed(&d, a.data() + at, (int)n)) got = narrow(t);
    at += n;
  }
  EXPECT_EQ(got, "02#0113456700225432");
}

TEST(DtmfMessages, MoreThan260DigitsWrapAndFailTheirCheck) {
  std::string fits = "03#" + std::string(250, '1');
  std::string wraps = "03#" + std::string(258, '1');
  dtmf_audio::Options o;
  Audio a, b;
  ASSERT_TRUE(dtmf_audio::message_audio(fits, o, &a));
  ASSERT_TRUE(dtmf_audio::message_audio(wraps, o, &b));
  EXPECT_EQ(messages(a), std::vector<std::string>{fits});
  EXPECT_TRUE(messages(b).empty());
}

TEST(DtmfMessages, NullAndEmptyInput) {
  DtmfDetector d = {};
  dtmf_detector_reset(&d);
  short s[4] = {};
  EXPECT_EQ(dtmf_detector_feed(nullptr, s, 4), nullptr);
  EXPECT_EQ(dtmf_detector_feed(&d, nullptr, 4), nullptr);
  EXPECT_EQ(dtmf_detector_feed(&d, s, 0), nullptr);
  EXPECT_EQ(dtmf_detector_feed(&d, s, -1), nullptr);
  EXPECT_EQ(d.block_samples, 0);
  dtmf_detector_reset(nullptr);
}

/* ---- The log by debug level ---- */

/* "%e" as printed: d.dddddde+XX (two or three exponent digits). */
bool e_number(const std::string& t) {
  size_t e = t.find('e');
  if (e != 8 || t.size() < 12 || t.size() > 13 || t[1] != '.') return false;
  for (size_t i = 0; i < t.size(); i++)
    if (i != 1 && i != e && i != e + 1 && !isdigit((unsigned char)t[i])) return false;
  return t[e + 1] == '+' || t[e + 1] == '-';
}

/* A frame line: row power, tab, column power, then `rest`. */
bool frame_line(const std::string& line, const std::string& rest) {
  size_t tab = line.find('\t');
  if (tab == std::string::npos || line.size() < rest.size() ||
      line.compare(line.size() - rest.size(), rest.size(), rest) != 0)
    return false;
  return e_number(line.substr(0, tab)) && e_number(line.substr(tab + 1, line.size() - rest.size() - tab - 1));
}

class DtmfLog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.open("dtmf-log"));
#ifdef _WIN32
    /* A relative path is the current folder's on desktop Windows. */
    GetCurrentDirectoryW(MAX_PATH, previous_);
    ASSERT_TRUE(SetCurrentDirectoryW(folder_.base().c_str()));
#endif
    ASSERT_TRUE(CreateDirectoryW(folder_.path(TEXT("sdmmc")).c_str(), NULL));
  }
  void TearDown() override {
    debug_level = 0;
#ifdef _WIN32
    SetCurrentDirectoryW(previous_);
#endif
    folder_.close();
  }
  std::string log() { return folder_.read(TEXT("sdmmc\\dtmf.txt")); }

  test_support::TempFolder folder_;
#ifdef _WIN32
  WCHAR previous_[MAX_PATH];
#endif
};

TEST_F(DtmfLog, LevelFourWritesEveryBlockLevelThreeTheVerdictsBelowNothing) {
  Audio good = keys("03#12367"), bad = keys("03#12366");
  Audio both = bad;
  both.insert(both.end(), good.begin(), good.end());

  debug_level = 2;
  EXPECT_EQ(messages_here(both).size(), 1u);
  EXPECT_EQ(log(), "<missing>");

  debug_level = 3;
  EXPECT_EQ(messages_here(both).size(), 1u);
  EXPECT_EQ(log(), "DTMF:03#12366\tFALSE\r\nDTMF:03#12367\tTRUE\r\n");

  ASSERT_TRUE(DeleteFileW(folder_.path(TEXT("sdmmc\\dtmf.txt")).c_str()));
  debug_level = 4;
  Audio a;
  tone_blocks(a, '5', 3);
  silent_blocks(a, 2);
  tone_blocks(a, '#', 1, -60);
  stored_digits_here(a);
  std::string text = log();
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end + 1 - at));
  ASSERT_EQ(lines.size(), 6u) << text;
  for (int i = 0; i < 3; i++) EXPECT_TRUE(frame_line(lines[i], "    5\r\n")) << lines[i];
  for (int i = 3; i < 6; i++) EXPECT_TRUE(frame_line(lines[i], "\r\n")) << lines[i];
  /* The weak block still logs its strongest row and column (941 and 1477 Hz). */
  double row = 0, column = 0;
  ASSERT_EQ(sscanf(lines[5].c_str(), "%lf\t%lf", &row, &column), 2);
  EXPECT_GT(row, 1e4);
  EXPECT_LT(row, 1e9);
  EXPECT_GT(column, 1e4);
}

TEST_F(DtmfLog, AMissingFolderIsSkipped) {
  ASSERT_TRUE(RemoveDirectoryW(folder_.path(TEXT("sdmmc")).c_str()));
  debug_level = 4;
  EXPECT_EQ(messages_here(keys("03#12367")), std::vector<std::string>{"03#123"});
}

}  // namespace
