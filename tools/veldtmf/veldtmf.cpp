/* veldtmf: writes an operator's DTMF message as call audio, and finds the
 * messages in call audio with the system's own detector, fed in capture
 * buffers of 2048 samples as on the device. */
#include <iostream>
#include <string>
#include <vector>

#include "dtmf_detector.h"
#include "plat/host.h"
#include "sound_file.h"

namespace {

const char kUsage[] =
    "usage: veldtmf encode MESSAGE -o FILE.wav [--level DBFS] [--tone MS] [--gap MS]\n"
    "                      [--snr DB] [--twist DB] [--raw]\n"
    "       veldtmf decode FILE\n"
    "\n"
    "  encode  the keys of MESSAGE (0-9 * # A-D) with the two check digits appended\n"
    "          as 8 kHz mono 16-bit WAV; --raw sends the keys as given.\n"
    "          Defaults: level -10 dBFS per tone, tone 100 ms, gap 100 ms, no\n"
    "          noise, no twist (column level minus row level)\n"
    "  decode  any sound file libsndfile reads (converted to 8 kHz mono), through\n"
    "          the detector; prints each valid message found, one a line, without\n"
    "          its check digits\n"
    "\n"
    "Exit status: 0 written or at least one message found, 1 the file could not\n"
    "be written or read or no message was found, 2 bad usage.\n";

int usage_error(const std::string& why) {
  std::cerr << "veldtmf: " << why << "\n" << kUsage;
  return 2;
}

bool parse_number(const std::string& text, double* value) {
  try {
    size_t used = 0;
    *value = std::stod(text, &used);
    return used == text.size();
  } catch (...) {
    return false;
  }
}

int encode(const std::vector<std::string>& args) {
  std::string message, output;
  bool raw = false;
  dtmf_audio::Options options;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    double* target = nullptr;
    if (a == "-o") {
      if (i + 1 >= args.size()) return usage_error("-o needs a file");
      output = args[++i];
      continue;
    }
    if (a == "--raw") {
      raw = true;
      continue;
    }
    if (a == "--level") target = &options.level_dbfs;
    else if (a == "--tone") target = &options.tone_ms;
    else if (a == "--gap") target = &options.gap_ms;
    else if (a == "--snr") target = &options.snr_db;
    else if (a == "--twist") target = &options.twist_db;
    if (target) {
      if (i + 1 >= args.size() || !parse_number(args[i + 1], target))
        return usage_error(a + " needs a number");
      i++;
      continue;
    }
    if (!a.empty() && a[0] == '-' && a.size() > 1) return usage_error("unknown option '" + a + "'");
    if (!message.empty()) return usage_error("more than one message");
    message = a;
  }
  if (message.empty()) return usage_error("no message given");
  if (output.empty()) return usage_error("no output file (-o FILE.wav)");
  if (!dtmf_audio::valid_keys(message))
    return usage_error("'" + message + "' has characters that are no DTMF keys (0-9 * # A-D)");
  if (options.level_dbfs > 0) return usage_error("--level must be 0 dBFS or below");
  if (options.tone_ms <= 0 || options.gap_ms < 0) return usage_error("--tone must be positive and --gap not negative");
  std::vector<int16_t> audio;
  if (raw)
    dtmf_audio::keys_audio(message, options, &audio);
  else
    dtmf_audio::message_audio(message, options, &audio);
  std::string error;
  if (!dtmf_audio::write_wav(output, audio, &error)) {
    std::cerr << "veldtmf: " << error << "\n";
    return 1;
  }
  return 0;
}

int decode(const std::vector<std::string>& args) {
  if (args.size() != 1) return usage_error(args.empty() ? "no file given" : "decode takes one file");
  std::vector<int16_t> audio;
  std::string error;
  if (!dtmf_audio::read_sound_file(args[0], &audio, &error)) {
    std::cerr << "veldtmf: " << error << "\n";
    return 1;
  }
  const size_t kBuffer = 2048;
  int found = 0;
  dtmf_detector_reset(&dtmf_detector);
  for (size_t at = 0; at < audio.size(); at += kBuffer) {
    size_t n = audio.size() - at < kBuffer ? audio.size() - at : kBuffer;
    if (const WCHAR* text = dtmf_detector_feed(&dtmf_detector, audio.data() + at, (int)n)) {
      std::cout << plat::utf16_to_utf8(text) << "\n";
      found++;
      dtmf_detector_reset(&dtmf_detector);
    }
  }
  return found > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (args.empty()) return usage_error("no command given");
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "encode") return encode(args);
  if (command == "decode") return decode(args);
  return usage_error("unknown command '" + command + "'");
}
