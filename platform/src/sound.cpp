/* PlaySoundW on the simulated device: the sound is an event, its duration is
 * device time taken from the WAVE header. */
#include <stdio.h>
#include <string.h>

#include <mutex>
#include <string>

#include "plat/host.h"
#include "plat/sound.h"

namespace plat {

namespace {

struct SoundState {
  std::mutex lock;
  bool playing = false;
  bool loop = false;
  uint64_t end_ms = 0;       /* device time a sound without a loop ends */
  uint64_t generation = 0;   /* one more for every sound started */
  std::u16string file;
};

SoundState& sound_state() {
  static SoundState* state = new SoundState;
  return *state;
}

uint32_t le32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* The playing time of a RIFF WAVE file in milliseconds, or -1 when the file
 * cannot be read or is no WAVE file with a format and a data chunk. */
long long wave_duration_ms(const std::string& host_file) {
  FILE* f = fopen(host_file.c_str(), "rb");
  if (!f) return -1;
  unsigned char header[12];
  long long result = -1;
  if (fread(header, 1, 12, f) == 12 && memcmp(header, "RIFF", 4) == 0 &&
      memcmp(header + 8, "WAVE", 4) == 0) {
    uint32_t byte_rate = 0;
    bool have_format = false;
    unsigned char chunk[8];
    while (fread(chunk, 1, 8, f) == 8) {
      const uint32_t size = le32(chunk + 4);
      if (memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
        unsigned char format[16];
        if (fread(format, 1, 16, f) != 16) break;
        byte_rate = le32(format + 8);
        have_format = true;
        if (fseek(f, (long)(size - 16 + (size & 1)), SEEK_CUR) != 0) break;
      } else if (memcmp(chunk, "data", 4) == 0) {
        if (have_format && byte_rate > 0) result = (long long)size * 1000 / byte_rate;
        break;
      } else if (fseek(f, (long)(size + (size & 1)), SEEK_CUR) != 0) {
        break;
      }
    }
  }
  fclose(f);
  return result;
}

bool still_playing(const SoundState& state, uint64_t now) {
  return state.playing && (state.loop || now < state.end_ms);
}

/* Under the state's lock. */
void stop_locked(SoundState& state) {
  if (still_playing(state, device_ms())) Event("sound").str("file", state.file.c_str()).boolean("stop", true);
  state.playing = false;
}

}  // namespace

}  // namespace plat

BOOL WINAPI PlaySoundW(LPCWSTR sound, HMODULE module, DWORD flags) {
  (void)module;
  using namespace plat;
  SoundState& state = sound_state();
  if (!sound) {
    std::lock_guard<std::mutex> guard(state.lock);
    stop_locked(state);
    return TRUE;
  }
  if (!(flags & SND_FILENAME) || (flags & SND_MEMORY)) return FALSE;
  const bool loop = (flags & SND_LOOP) != 0;
  const bool async = (flags & SND_ASYNC) != 0;
  if (loop && !async) return FALSE;
  const long long duration = wave_duration_ms(host_path(sound));
  if (duration < 0) return FALSE;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    if ((flags & SND_NOSTOP) && still_playing(state, device_ms())) return FALSE;
    stop_locked(state);
    state.playing = true;
    state.loop = loop;
    state.file = sound;
    state.end_ms = device_ms() + (uint64_t)duration;
    generation = ++state.generation;
    Event("sound").str("file", sound).boolean("loop", loop);
  }
  if (!async) {
    sleep_device_ms((uint64_t)duration);
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.generation == generation) state.playing = false;
  }
  return TRUE;
}
