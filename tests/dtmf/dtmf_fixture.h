/* Call audio built block by block for the detector's tests, and feeding
 * helpers that use the detector the way the capture callback does. */
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "dtmf_audio.h"
#include "dtmf_detector.h"

namespace dtmf_test {

typedef std::vector<int16_t> Audio;

inline std::string narrow(const WCHAR* text) {
  std::string s;
  for (; text && *text; text++) s += (char)*text;
  return s;
}

/* `blocks` whole detector blocks of key's tone pair at `dbfs` per tone. */
inline void tone_blocks(Audio& a, char key, int blocks, double dbfs = -10, double twist_db = 0) {
  int r = 0, c = 0;
  dtmf_audio::key_position(key, &r, &c);
  dtmf_audio::append_pair(a, dtmf_audio::kRowHz[r], dtmf_audio::amplitude(dbfs), dtmf_audio::kColumnHz[c],
                          dtmf_audio::amplitude(dbfs + twist_db), (size_t)blocks * DTMF_BLOCK_SAMPLES);
}

inline void silent_blocks(Audio& a, int blocks) {
  dtmf_audio::append_silence(a, (size_t)blocks * DTMF_BLOCK_SAMPLES);
}

/* Every filter path this machine can run. */
inline std::vector<int> paths() {
  std::vector<int> p;
  for (int i = 0; i < DTMF_PATHS; i++)
    if (dtmf_path_available(i)) p.push_back(i);
  return p;
}

/* f() on the scalar path, then on every other path, which must give the
 * same; the scalar path's result. The detector then chooses again. */
template <class F>
auto on_every_path(F f) -> decltype(f()) {
  dtmf_set_path(DTMF_PATH_SCALAR);
  auto expected = f();
  for (int p : paths()) {
    if (p == DTMF_PATH_SCALAR) continue;
    dtmf_set_path(p);
    EXPECT_EQ(f(), expected) << "on the " << dtmf_path_name(p) << " path";
  }
  dtmf_set_path(-1);
  return expected;
}

/* The digits stored so far by a fresh detector fed with `a` (no message
 * end), on the path in use. */
inline std::string stored_digits_here(const Audio& a) {
  DtmfDetector d = {};
  dtmf_detector_reset(&d);
  dtmf_detector_feed(&d, a.data(), (int)a.size());
  std::string s;
  for (int i = 0; i < d.message_length; i++) s += (char)d.message[i];
  return s;
}

/* The same on every path, which must agree. */
inline std::string stored_digits(const Audio& a) {
  return on_every_path([&] { return stored_digits_here(a); });
}

/* Every message a fresh detector delivers from `a` fed in buffers of `chunk`
 * samples, on the path in use; after a message the rest of its buffer is
 * dropped and the detector reset, as the capture callback does. */
inline std::vector<std::string> messages_here(const Audio& a, size_t chunk = 2048) {
  DtmfDetector d = {};
  dtmf_detector_reset(&d);
  std::vector<std::string> found;
  for (size_t at = 0; at < a.size(); at += chunk) {
    size_t n = a.size() - at < chunk ? a.size() - at : chunk;
    if (const WCHAR* text = dtmf_detector_feed(&d, a.data() + at, (int)n)) {
      found.push_back(narrow(text));
      dtmf_detector_reset(&d);
    }
  }
  return found;
}

/* The same on every path, which must agree. */
inline std::vector<std::string> messages(const Audio& a, size_t chunk = 2048) {
  return on_every_path([&] { return messages_here(a, chunk); });
}

/* Every digit a fresh detector stores over the whole audio, fed a block at a
 * time; a message's end (valid or not) only clears the message, so that the
 * digits after it are heard too. On every path, which must agree. */
inline std::string heard_digits(const Audio& a) {
  return on_every_path([&] {
    DtmfDetector d = {};
    dtmf_detector_reset(&d);
    std::string digits;
    for (size_t at = 0; at < a.size(); at += DTMF_BLOCK_SAMPLES) {
      int before = d.message_length;
      size_t n = a.size() - at < DTMF_BLOCK_SAMPLES ? a.size() - at : DTMF_BLOCK_SAMPLES;
      dtmf_detector_feed(&d, a.data() + at, (int)n);
      if (d.message_length > before) digits += (char)d.message[d.message_length - 1];
      if (d.message_length < before) d.message_length = 0;
    }
    return digits;
  });
}

/* The keys as the operator's generator sends them (no check digits added). */
inline Audio keys(const std::string& k, const dtmf_audio::Options& o = dtmf_audio::Options()) {
  Audio a;
  dtmf_audio::keys_audio(k, o, &a);
  return a;
}

}  // namespace dtmf_test
