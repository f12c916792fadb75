/* veldtmf: writes operators' DTMF messages as call audio, and finds the
 * messages in call audio with the system's own detector, fed in capture
 * buffers of 2048 samples as on the device. */
#include <stdio.h>

#include <iostream>
#include <string>
#include <vector>

#include "dtmf_detector.h"
#include "plat/host.h"
#include "sound_file.h"

namespace {

const char kUsage[] =
    "usage: veldtmf encode MESSAGE [--pause MS MESSAGE]... -o FILE.wav [--level DBFS]\n"
    "                      [--tone MS] [--gap MS] [--snr DB] [--twist DB] [--raw]\n"
    "       veldtmf decode [--verbose] FILE\n"
    "\n"
    "  encode  the keys of each MESSAGE (0-9 * # A-D) with its two check digits\n"
    "          appended, as 8 kHz mono 16-bit WAV; --raw sends the keys as given.\n"
    "          --pause MS between two messages is the silence from the last tone\n"
    "          of one to the first of the next (default 2000).\n"
    "          Ranges (defaults): --level -90 to 0 dBFS per tone (-10), --tone and\n"
    "          --gap 1 to 10000 ms (100), --pause 1 to 60000 ms, --snr -200 to 200 dB\n"
    "          (no noise), --twist -90 to 90 dB, column level minus row level (0)\n"
    "  decode  any sound file libsndfile reads (16-bit PCM as stored, others\n"
    "          converted to 8 kHz mono 16-bit), through the detector, followed\n"
    "          by the silence that ends a message in progress (as the call's line\n"
    "          goes on); prints each delivered message, one a line, without its\n"
    "          check digits. --verbose: also each stored key run, each ended\n"
    "          message with its verdict and the end of the file, in ms from the start.\n"
    "\n"
    "Exit status: 0 written, or at least one message delivered; 1 no message\n"
    "delivered; 2 bad usage; 3 the file could not be read or written.\n";

const int kUsageError = 2, kFileError = 3;
const size_t kBuffer = 2048;

int usage_error(const std::string& why) {
  std::cerr << "veldtmf: " << why << "\n" << kUsage;
  return kUsageError;
}

int encode(const std::vector<std::string>& args) {
  std::vector<std::string> messages;
  std::vector<double> pauses;
  double pause = -1; /* given since the last message; -1 none */
  std::string output;
  bool raw = false;
  dtmf_audio::Options options;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& a = args[i];
    if (a == "--raw") {
      raw = true;
      continue;
    }
    if (a == "-o" || (a.size() > 2 && a.compare(0, 2, "--") == 0)) {
      if (i + 1 >= args.size()) return usage_error(a + " needs a value");
      const std::string& value = args[++i];
      std::string error;
      if (a == "-o") {
        output = value;
      } else if (a == "--pause") {
        if (messages.empty()) return usage_error("--pause goes between two messages");
        if (!dtmf_audio::parse_bounded(value, 1, 60000, &pause))
          return usage_error("--pause must be a number from 1 to 60000 ms, not '" + value + "'");
      } else if (!dtmf_audio::set_option(&options, a.substr(2), value, &error)) {
        return usage_error(error.empty() ? "unknown option '" + a + "'" : "--" + error);
      }
      continue;
    }
    if (a.size() > 1 && a[0] == '-') return usage_error("unknown option '" + a + "'");
    if (!dtmf_audio::valid_keys(a)) return usage_error("'" + a + "' has characters that are no DTMF keys (0-9 * # A-D)");
    if (!messages.empty()) pauses.push_back(pause < 0 ? 2000 : pause);
    messages.push_back(a);
    pause = -1;
  }
  if (messages.empty()) return usage_error("no message given");
  if (pause >= 0) return usage_error("--pause goes between two messages");
  if (output.empty()) return usage_error("no output file (-o FILE.wav)");
  if (!raw)
    for (std::string& m : messages) m = dtmf_audio::with_check_digits(m);
  std::vector<int16_t> audio;
  dtmf_audio::sequence_audio(messages, pauses, options, &audio);
  std::string error;
  if (!dtmf_audio::write_wav(output, audio, &error)) {
    std::cerr << "veldtmf: " << error << "\n";
    return kFileError;
  }
  return 0;
}

/* What decode --verbose prints of the detector's events. */
struct Listener {
  size_t at;      /* the sample where the buffer being fed starts */
  size_t message; /* where the last message ended */
};

void print_time(size_t sample) {
  printf("%8zu ms  ", sample * 1000 / dtmf_audio::kRate);
}

void listen(void* context, const DtmfEvent* e) {
  Listener* l = (Listener*)context;
  if (e->kind == DTMF_EVENT_DIGIT) {
    print_time(l->at + e->end);
    printf("key %c stored (%d blocks)\n", e->key, e->blocks);
  } else if (e->kind == DTMF_EVENT_MESSAGE) {
    std::basic_string<WCHAR> text(e->text);
    l->message = l->at + e->end;
    print_time(l->message);
    printf("message %s: ", plat::utf16_to_utf8(e->text).c_str());
    if (e->verdict == DTMF_VERDICT_VALID) {
      printf("valid\n");
    } else if (e->verdict == DTMF_VERDICT_CHECK_DIGITS) {
      WCHAR check[2];
      dtmf_check_digits(text.c_str(), (int)text.size() - 2, check);
      printf("check digits wrong (%c%c expected)\n", (char)check[0], (char)check[1]);
    } else {
      printf("dropped, no # at index 2 or later\n");
    }
  }
}

int decode(const std::vector<std::string>& args) {
  bool verbose = false;
  std::vector<std::string> files;
  for (const std::string& a : args) {
    if (a == "--verbose" || a == "-v")
      verbose = true;
    else if (a.size() > 1 && a[0] == '-')
      return usage_error("unknown option '" + a + "'");
    else
      files.push_back(a);
  }
  if (files.size() != 1) return usage_error(files.empty() ? "no file given" : "decode takes one file");
  std::vector<int16_t> audio;
  std::string error;
  if (!dtmf_audio::read_sound_file(files[0], &audio, &error)) {
    std::cerr << "veldtmf: " << error << "\n";
    return kFileError;
  }
  DtmfDetector& d = dtmf_detector;
  Listener listener = {0, 0};
  dtmf_detector_reset(&d);
  if (verbose) dtmf_detector_observe(&d, listen, &listener);
  /* The file, then silence while a tone or message is in progress, as the
   * line goes on after a recording ends: a message ends within twenty
   * blocks, eight buffers hold eighty. */
  std::vector<int16_t> silence(kBuffer, 0);
  int found = 0;
  size_t n = 0;
  for (size_t at = 0, silent = 0; silent < 8; at += n) {
    const int16_t* samples = silence.data();
    n = kBuffer;
    if (at < audio.size()) {
      samples = audio.data() + at;
      if (audio.size() - at < kBuffer) n = audio.size() - at;
    } else {
      if (d.message_length == 0 && d.candidate_count == 0) break;
      if (silent++ == 0 && verbose) {
        print_time(audio.size());
        printf("end of the file; silence follows\n");
      }
    }
    listener.at = at;
    if (const WCHAR* text = dtmf_detector_feed(&d, samples, (int)n)) {
      if (verbose) {
        print_time(listener.message);
        printf("delivered ");
      }
      printf("%s\n", plat::utf16_to_utf8(text).c_str());
      found++;
      dtmf_detector_reset(&d);
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
