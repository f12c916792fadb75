/* Random call audio through the detector: its state stays in bounds and a
 * delivered message has the form the command handler expects. The first
 * byte chooses the buffer length and whether the rest are samples or, a byte
 * a tone, keys with their lengths and gaps (so that messages do end). */
#include <windows.h>

#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "dtmf_detector.h"

static bool is_key(WCHAR c) {
  return c < 128 && c && strchr(dtmf_keys, (char)c) != nullptr;
}

static void check_bounds(const DtmfDetector& d) {
  if (d.message_length < 0 || d.message_length >= DTMF_DETECTOR_MESSAGE_SIZE) abort();
  if (d.candidate_count < 0 || d.candidate_count > DTMF_CANDIDATES) abort();
  if (d.block_samples < 0 || d.block_samples >= DTMF_BLOCK_SAMPLES) abort();
  for (int i = 0; i < d.candidate_count; i++)
    if (d.candidates[i].count < 1 || !is_key((WCHAR)d.candidates[i].key)) abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t chunk = (size_t)(data[0] >> 1) * 73 + 1;
  std::vector<short> samples;
  if (data[0] & 1) {
    for (size_t i = 1; i < size; i++) {
      int key = data[i] & 15, tone = ((data[i] >> 4) & 3) + 1, gap = (data[i] >> 6) * 2;
      double f1 = dtmf_frequencies[key / 4], f2 = dtmf_frequencies[4 + key % 4];
      for (int n = 0; n < tone * DTMF_BLOCK_SAMPLES; n++)
        samples.push_back((short)(8000 * sin(f1 * n * 7.853981625e-4) + 8000 * sin(f2 * n * 7.853981625e-4)));
      samples.insert(samples.end(), (size_t)gap * DTMF_BLOCK_SAMPLES, 0);
    }
    samples.insert(samples.end(), 10 * DTMF_BLOCK_SAMPLES, 0);
  } else {
    samples.resize((size - 1) / 2);
    if (!samples.empty()) memcpy(samples.data(), data + 1, samples.size() * 2);
  }
  static DtmfDetector d;
  dtmf_detector_reset(&d);
  for (size_t at = 0; at < samples.size(); at += chunk) {
    size_t n = samples.size() - at < chunk ? samples.size() - at : chunk;
    const WCHAR* m = dtmf_detector_feed(&d, samples.data() + at, (int)n);
    check_bounds(d);
    if (!m) continue;
    size_t len = 0;
    while (len < DTMF_DETECTOR_MESSAGE_SIZE && m[len]) {
      if (!is_key(m[len])) abort();
      len++;
    }
    if (len < 3 || len >= DTMF_DETECTOR_MESSAGE_SIZE || m[2] != '#') abort();
    dtmf_detector_reset(&d);
  }
  return 0;
}
