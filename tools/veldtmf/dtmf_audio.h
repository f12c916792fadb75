/* Call audio on the operator's side: DTMF tone pairs and messages with their
 * two check digits, noise at a given signal-to-noise ratio, and conversion of
 * any sound to 8 kHz mono 16-bit. Header only, standard C++ only: used by the
 * simulator's call audio, veldtmf, the tests and the benchmark. */
#pragma once

#include <ctype.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace dtmf_audio {

const int kRate = 8000;
const double kPi = 3.14159265358979323846;
const double kRowHz[4] = {697, 770, 852, 941};
const double kColumnHz[4] = {1209, 1336, 1477, 1633};
const char kKeys[] = "123A456B789C*0#D";

struct Options {
  double level_dbfs = -10; /* each tone's peak level against full scale */
  double twist_db = 0;     /* column tone level minus row tone level */
  double tone_ms = 100;
  double gap_ms = 100;
  double snr_db = INFINITY; /* noise against the tone pair's power; infinite: none */
  double lead_ms = 100;     /* silence before the first tone */
  double tail_ms = 400;     /* silence after the last tone (ends the message) */
  uint32_t seed = 1;        /* the noise generator's seed */
};

/* A number option's name, range and unit. */
struct OptionRange {
  const char* name;
  double Options::*field;
  double low, high;
  const char* unit;
};

const OptionRange kOptionRanges[] = {
    {"level", &Options::level_dbfs, -90, 0, "dBFS"},
    {"twist", &Options::twist_db, -90, 90, "dB"},
    {"tone", &Options::tone_ms, 1, 10000, "ms"},
    {"gap", &Options::gap_ms, 1, 10000, "ms"},
    {"snr", &Options::snr_db, -200, 200, "dB"},
};

/* The whole of text as a finite number from low to high; false otherwise
 * (also for "inf", "nan" and trailing characters). */
inline bool parse_bounded(const std::string& text, double low, double high, double* value) {
  if (text.empty() || isspace((unsigned char)text[0])) return false;
  char* end = nullptr;
  double v = strtod(text.c_str(), &end);
  if (*end || !isfinite(v) || v < low || v > high) return false;
  *value = v;
  return true;
}

inline std::string number_text(double v) {
  char text[32];
  snprintf(text, sizeof text, "%g", v);
  return text;
}

/* Sets the option `name` (level, twist, tone, gap, snr) from text. False with
 * *error set ("NAME must be a number from LOW to HIGH UNIT, not 'TEXT'") when
 * the value is no number in its range; false with *error empty when there is
 * no such option. */
inline bool set_option(Options* o, const std::string& name, const std::string& text, std::string* error) {
  error->clear();
  for (const OptionRange& r : kOptionRanges) {
    if (name != r.name) continue;
    if (parse_bounded(text, r.low, r.high, &(o->*r.field))) return true;
    *error = name + " must be a number from " + number_text(r.low) + " to " + number_text(r.high) + " " +
             r.unit + ", not '" + text + "'";
    return false;
  }
  return false;
}

/* The row and column index (0-3 each) of key, false when it is no DTMF key. */
inline bool key_position(char key, int* row, int* column) {
  for (int i = 0; i < 16; i++) {
    if (kKeys[i] == key) {
      *row = i / 4;
      *column = i % 4;
      return true;
    }
  }
  return false;
}

inline bool valid_keys(const std::string& text) {
  int r, c;
  for (char k : text)
    if (!key_position(k, &r, &c)) return false;
  return !text.empty();
}

/* The operator's two check digits: the XOR of 255 and every character's
 * code, its bits 6-4 and 2-0 as the characters 0-7. */
inline std::string check_digits(const std::string& text) {
  unsigned c = 255;
  for (unsigned char ch : text) c = (c ^ ch) & 255;
  std::string out;
  out += (char)('0' + ((c >> 4) & 7));
  out += (char)('0' + (c & 7));
  return out;
}

inline std::string with_check_digits(const std::string& message) {
  return message + check_digits(message);
}

inline double amplitude(double dbfs) {
  return 32767.0 * pow(10.0, dbfs / 20.0);
}

inline int16_t clip(double v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return (int16_t)lrint(v);
}

inline size_t ms_samples(double ms) {
  return ms > 0 ? (size_t)lrint(ms * kRate / 1000.0) : 0;
}

/* Appends `count` samples of two sines (amplitudes in sample units). */
inline void append_pair(std::vector<int16_t>& out, double f1, double a1, double f2, double a2,
                        size_t count) {
  const double w1 = 2 * kPi * f1 / kRate, w2 = 2 * kPi * f2 / kRate;
  for (size_t n = 0; n < count; n++) out.push_back(clip(a1 * sin(w1 * n) + a2 * sin(w2 * n)));
}

inline void append_silence(std::vector<int16_t>& out, size_t count) {
  out.insert(out.end(), count, 0);
}

/* Appends key's tone pair; false when key is no DTMF key. */
inline bool append_key(std::vector<int16_t>& out, char key, const Options& o) {
  int r, c;
  if (!key_position(key, &r, &c)) return false;
  append_pair(out, kRowHz[r], amplitude(o.level_dbfs), kColumnHz[c],
              amplitude(o.level_dbfs + o.twist_db), ms_samples(o.tone_ms));
  return true;
}

/* A small deterministic Gaussian noise source. */
struct Noise {
  uint64_t state;
  explicit Noise(uint32_t seed) : state(seed * 6364136223846793005ull + 1442695040888963407ull) {}
  double uniform() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return ((state >> 11) + 0.5) / 9007199254740992.0;
  }
  double gaussian() { return sqrt(-2 * log(uniform())) * cos(2 * kPi * uniform()); }
};

/* Adds white noise whose power is that of a tone pair at `level_dbfs` (and
 * twist) less `snr_db`. */
inline void add_noise(std::vector<int16_t>& samples, const Options& o) {
  if (!isfinite(o.snr_db)) return;
  double a1 = amplitude(o.level_dbfs), a2 = amplitude(o.level_dbfs + o.twist_db);
  double signal = a1 * a1 / 2 + a2 * a2 / 2;
  double sigma = sqrt(signal / pow(10.0, o.snr_db / 10.0));
  Noise noise(o.seed);
  for (int16_t& s : samples) s = clip(s + sigma * noise.gaussian());
}

/* Several strings of keys as tones with the options' timing, one after
 * another: after string i, pauses_ms[i] of silence, after the last the tail;
 * the lead before the first; noise over all. False when a character is no
 * key or a pause is missing. */
inline bool sequence_audio(const std::vector<std::string>& strings, const std::vector<double>& pauses_ms,
                           const Options& o, std::vector<int16_t>* out) {
  if (strings.empty() || pauses_ms.size() + 1 < strings.size()) return false;
  for (const std::string& digits : strings)
    if (!valid_keys(digits)) return false;
  std::vector<int16_t> a;
  append_silence(a, ms_samples(o.lead_ms));
  for (size_t s = 0; s < strings.size(); s++) {
    const std::string& digits = strings[s];
    for (size_t i = 0; i < digits.size(); i++) {
      append_key(a, digits[i], o);
      if (i + 1 < digits.size()) append_silence(a, ms_samples(o.gap_ms));
    }
    append_silence(a, ms_samples(s + 1 < strings.size() ? pauses_ms[s] : o.tail_ms));
  }
  add_noise(a, o);
  *out = std::move(a);
  return true;
}

/* The keys of `digits` as tones with the options' timing, lead and tail
 * silence, and noise. False when a character is no key. */
inline bool keys_audio(const std::string& digits, const Options& o, std::vector<int16_t>* out) {
  return sequence_audio({digits}, {}, o, out);
}

/* The operator's message with its check digits appended, as call audio. */
inline bool message_audio(const std::string& message, const Options& o, std::vector<int16_t>* out) {
  return valid_keys(message) && keys_audio(with_check_digits(message), o, out);
}

/* Converts mono samples in [-1, 1] at `rate` to 8 kHz 16-bit (1.0 is 32768,
 * as libsndfile scales 16-bit samples to floats): a windowed-sinc
 * interpolator whose cutoff lies below both Nyquist frequencies. */
inline std::vector<int16_t> to_8k(const std::vector<float>& in, double rate) {
  std::vector<int16_t> out;
  if (in.empty() || !(rate > 0)) return out;
  if (rate == kRate) {
    for (float s : in) out.push_back(clip(s * 32768.0));
    return out;
  }
  const double step = rate / kRate;                  /* input samples per output sample */
  const double cutoff = 0.45 * (step > 1 ? 1 / step : 1); /* in cycles per input sample */
  const int half = (int)ceil(16 * (step > 1 ? step : 1));
  size_t count = (size_t)floor((in.size() - 1) / step) + 1;
  out.reserve(count);
  for (size_t n = 0; n < count; n++) {
    double t = n * step;
    long centre = (long)floor(t);
    double sum = 0;
    for (long k = centre - half + 1; k <= centre + half; k++) {
      if (k < 0 || k >= (long)in.size()) continue;
      double x = t - k;
      double sinc = x == 0 ? 2 * cutoff : sin(2 * kPi * cutoff * x) / (kPi * x);
      double window = 0.5 + 0.5 * cos(kPi * x / half); /* Hann over the kernel */
      sum += in[k] * sinc * window;
    }
    out.push_back(clip(sum * 32768.0));
  }
  return out;
}

/* Interleaved frames of `channels` channels averaged to mono. */
inline std::vector<float> to_mono(const std::vector<float>& frames, int channels) {
  std::vector<float> mono;
  if (channels <= 0) return mono;
  mono.reserve(frames.size() / channels);
  for (size_t i = 0; i + channels <= frames.size(); i += channels) {
    double s = 0;
    for (int c = 0; c < channels; c++) s += frames[i + c];
    mono.push_back((float)(s / channels));
  }
  return mono;
}

}  // namespace dtmf_audio
