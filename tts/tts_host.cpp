/* The TTS library's stand-in on the host: texts are really spoken with
 * espeak-ng (Mandarin voice). With the host option --audio-out DIR the speech
 * goes to DIR/tts-N.wav (N counting from 1) instead of the sound device;
 * without a window (headless) it is synthesised and dropped. Each text is a
 * `tts` event, written once it has been spoken. */
#include <espeak-ng/speak_lib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "plat/host.h"
#include "tts.h"
#include "tts_common.h"

namespace plat {
/* Defined by the host entry; absent in programs without it (unit tests). */
__attribute__((weak)) HostOptions& host_options();
}  // namespace plat

namespace {

enum class Output { none, playback, capture };

std::mutex engine_lock;
bool engine_ready;
Output engine_output = Output::none;
int sample_rate;
std::vector<short> captured;
int wav_serial;

int capture_samples(short* samples, int count, espeak_EVENT* events) {
  (void)events;
  if (samples && count > 0) captured.insert(captured.end(), samples, samples + count);
  return 0;
}

std::string audio_out_dir() {
  if (!&plat::host_options) return std::string();
  return plat::host_options().audio_out;
}

bool headless() {
  if (!&plat::host_options) return true;
  return plat::host_options().headless || getenv("DISPLAY") == nullptr;
}

/* Called with engine_lock held. */
bool engine_start() {
  if (engine_ready) return true;
  bool play = audio_out_dir().empty() && !headless();
  int rate = espeak_Initialize(play ? AUDIO_OUTPUT_SYNCH_PLAYBACK : AUDIO_OUTPUT_SYNCHRONOUS, 0,
                               nullptr, 0);
  if (rate <= 0) return false;
  if (espeak_SetVoiceByName("cmn") != EE_OK) espeak_SetVoiceByName("zh");
  if (!play) espeak_SetSynthCallback(capture_samples);
  sample_rate = rate;
  engine_output = play ? Output::playback : Output::capture;
  engine_ready = true;
  return true;
}

void put_u32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += (char)((v >> (8 * i)) & 0xFF);
}
void put_u16(std::string& out, uint16_t v) {
  out += (char)(v & 0xFF);
  out += (char)(v >> 8);
}

/* 16-bit mono PCM in a RIFF WAVE file. */
void write_wav(const std::string& path, const std::vector<short>& samples, int rate) {
  std::string header = "RIFF";
  uint32_t data_bytes = (uint32_t)(samples.size() * 2);
  put_u32(header, 36 + data_bytes);
  header += "WAVEfmt ";
  put_u32(header, 16);
  put_u16(header, 1);
  put_u16(header, 1);
  put_u32(header, (uint32_t)rate);
  put_u32(header, (uint32_t)rate * 2);
  put_u16(header, 2);
  put_u16(header, 16);
  header += "data";
  put_u32(header, data_bytes);
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "tts: cannot write %s\n", path.c_str());
    return;
  }
  std::fwrite(header.data(), 1, header.size(), f);
  for (short s : samples) {
    unsigned char b[2] = {(unsigned char)(s & 0xFF), (unsigned char)((unsigned short)s >> 8)};
    std::fwrite(b, 1, 2, f);
  }
  std::fclose(f);
}

void speak(const std::string& utf8) {
  std::lock_guard<std::mutex> hold(engine_lock);
  if (!engine_start()) return;
  captured.clear();
  espeak_Synth(utf8.c_str(), utf8.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr,
               nullptr);
  espeak_Synchronize();
  std::string dir = audio_out_dir();
  if (engine_output == Output::capture && !dir.empty())
    write_wav(dir + "/tts-" + std::to_string(++wav_serial) + ".wav", captured, sample_rate);
  captured.clear();
}

}  // namespace

HANDLE tts_init(const WCHAR* data_path) {
  if (!tts_common_data_exists(data_path)) return 0;
  return tts_common_open();
}

int tts_play(HANDLE handle, const WCHAR* text, int length) {
  if (!tts_common_live(handle) || !text || length < 0) return -1;
  std::string utf8 = plat::utf16_to_utf8(text, (size_t)length);
  speak(utf8);
  tts_common_record(text, length);
  plat::Event("tts").str("text", utf8);
  return 0;
}

void tts_uninit(HANDLE handle) { tts_common_close(handle); }
