/* The TTS library's stand-in in the Windows build: it speaks nothing and
 * only notes the texts. */
#include "tts.h"
#include "tts_common.h"

HANDLE tts_init(const WCHAR* data_path) {
  if (!tts_common_data_exists(data_path)) return 0;
  return tts_common_open();
}

int tts_play(HANDLE handle, const WCHAR* text, int length) {
  if (!tts_common_live(handle) || !text || length < 0) return -1;
  tts_common_record(text, length);
  return 0;
}

void tts_uninit(HANDLE handle) { tts_common_close(handle); }
