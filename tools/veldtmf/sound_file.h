/* Sound files through libsndfile, as 8 kHz mono 16-bit call audio. Header
 * only; host side (the simulator's call audio, veldtmf, tests). */
#pragma once

#include <sndfile.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dtmf_audio.h"

namespace dtmf_audio {

/* Reads any file libsndfile knows, mixed to mono and converted to 8 kHz.
 * 16-bit PCM is read as it is stored: at 8 kHz mono every sample is the
 * file's. False with *error set when it cannot be read. */
inline bool read_sound_file(const std::string& path, std::vector<int16_t>* out, std::string* error) {
  SF_INFO info = {};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) {
    if (error) *error = "cannot read " + path + ": " + sf_strerror(nullptr);
    return false;
  }
  if (info.channels <= 0 || info.samplerate <= 0) {
    sf_close(f);
    if (error) *error = "no audio in " + path;
    return false;
  }
  const size_t kFrames = 4096, channels = (size_t)info.channels;
  std::vector<float> frames;
  sf_count_t got;
  if ((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16) {
    std::vector<int16_t> shorts, chunk(kFrames * channels);
    while ((got = sf_readf_short(f, chunk.data(), kFrames)) > 0)
      shorts.insert(shorts.end(), chunk.begin(), chunk.begin() + got * channels);
    sf_close(f);
    if (channels == 1 && info.samplerate == kRate) {
      *out = std::move(shorts);
      return true;
    }
    for (int16_t s : shorts) frames.push_back(s / 32768.0f);
  } else {
    std::vector<float> chunk(kFrames * channels);
    while ((got = sf_readf_float(f, chunk.data(), kFrames)) > 0)
      frames.insert(frames.end(), chunk.begin(), chunk.begin() + got * channels);
    sf_close(f);
  }
  *out = to_8k(to_mono(frames, info.channels), info.samplerate);
  return true;
}

/* Writes 8 kHz mono 16-bit PCM as a WAV file. */
inline bool write_wav(const std::string& path, const std::vector<int16_t>& samples, std::string* error) {
  SF_INFO info = {};
  info.samplerate = kRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) {
    if (error) *error = "cannot write " + path + ": " + sf_strerror(nullptr);
    return false;
  }
  sf_count_t put = sf_write_short(f, samples.data(), (sf_count_t)samples.size());
  sf_close(f);
  if (put != (sf_count_t)samples.size()) {
    if (error) *error = "cannot write " + path;
    return false;
  }
  return true;
}

/* TEXT spoken by the espeak-ng program (voice "en", or "cmn" when the text
 * has characters beyond ASCII), as call audio. The program runs apart so that
 * it shares no state with a TTS engine in this process; the text goes in a
 * file, so that no word of it is taken for an option. */
inline bool speak(const std::string& text, std::vector<int16_t>* out, std::string* error) {
  bool ascii = true;
  for (unsigned char c : text) ascii = ascii && c < 0x80;
  char wav[] = "/tmp/velmar-speech-XXXXXX.wav";
  char txt[] = "/tmp/velmar-speech-XXXXXX.txt";
  int wav_fd = mkstemps(wav, 4);
  int txt_fd = mkstemps(txt, 4);
  bool ok = wav_fd >= 0 && txt_fd >= 0 &&
            write(txt_fd, text.data(), text.size()) == (ssize_t)text.size();
  if (wav_fd >= 0) close(wav_fd);
  if (txt_fd >= 0) close(txt_fd);
  std::string why = "cannot make a temporary file";
  if (ok) {
    pid_t pid = fork();
    if (pid == 0) {
      execlp("espeak-ng", "espeak-ng", "-v", ascii ? "en" : "cmn", "-w", wav, "-f", txt, (char*)nullptr);
      _exit(127);
    }
    int status = -1;
    if (pid > 0) waitpid(pid, &status, 0);
    why = "espeak-ng failed";
    ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && read_sound_file(wav, out, &why);
  }
  if (wav_fd >= 0) unlink(wav);
  if (txt_fd >= 0) unlink(txt);
  if (!ok && error) *error = why;
  return ok;
}

}  // namespace dtmf_audio
