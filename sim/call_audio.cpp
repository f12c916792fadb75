#include "call_audio.h"

#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "device_commands.h"
#include "plat/wave_host.h"
#include "sound_file.h"

namespace sim {
namespace {

/* The script's folder: a relative sound file not in the current folder is read there. */
std::string script_dir;

/* Plays the samples on the call line and waits until the device has them. */
void deliver(const std::vector<int16_t>& samples, const char* source) {
  uint64_t end = plat::call_audio_queue(samples.data(), samples.size());
  plat::Event("call-audio").str("source", source).num("samples", (long long)samples.size());
  plat::call_audio_wait(end);
}

bool run_audio(const std::string& args, std::string* error) {
  if (args.empty()) {
    *error = "audio needs a sound file";
    return false;
  }
  std::string path = args;
  if (access(path.c_str(), F_OK) != 0 && path[0] != '/' && !script_dir.empty()) path = script_dir + "/" + path;
  std::vector<int16_t> samples;
  if (!dtmf_audio::read_sound_file(path, &samples, error)) return false;
  deliver(samples, "file");
  return true;
}

bool parse_option(const std::string& word, dtmf_audio::Options* o, std::string* error) {
  size_t eq = word.find('=');
  std::string key = word.substr(0, eq), text = eq == std::string::npos ? "" : word.substr(eq + 1);
  if (eq != std::string::npos && dtmf_audio::set_option(o, key, text, error)) return true;
  if (eq == std::string::npos || error->empty())
    *error = "unknown dtmf option '" + word + "' (level=DBFS tone=MS gap=MS snr=DB twist=DB)";
  else
    *error = "dtmf option " + *error;
  return false;
}

bool run_dtmf(const std::string& args, std::string* error) {
  std::istringstream in(args);
  std::string message, word;
  in >> message;
  dtmf_audio::Options options;
  while (in >> word)
    if (!parse_option(word, &options, error)) return false;
  if (!dtmf_audio::valid_keys(message)) {
    *error = message.empty() ? "dtmf needs a message" : "'" + message + "' has characters that are no DTMF keys";
    return false;
  }
  std::vector<int16_t> samples;
  dtmf_audio::message_audio(message, options, &samples);
  deliver(samples, "dtmf");
  return true;
}

bool run_speech(const std::string& args, std::string* error) {
  if (args.empty()) {
    *error = "speech needs a text";
    return false;
  }
  std::vector<int16_t> samples;
  if (!dtmf_audio::speak(args, &samples, error)) return false;
  deliver(samples, "speech");
  return true;
}

}  // namespace

void call_audio_attach(const plat::HostOptions& options) {
  if (!options.script.empty() && options.script != "-") {
    size_t slash = options.script.rfind('/');
    script_dir = slash == std::string::npos ? "." : options.script.substr(0, slash);
  }
  register_device_command({"audio", "audio FILE", run_audio});
  register_device_command({"dtmf", "dtmf MESSAGE [level=DBFS] [tone=MS] [gap=MS] [snr=DB] [twist=DB]", run_dtmf});
  register_device_command({"speech", "speech TEXT", run_speech});
}

}  // namespace sim
