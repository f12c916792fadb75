/* The host's entry of a program of the system: host options, the device root
 * (made from the template when missing or empty), device time, the event
 * log, then the program's own wWinMain. */
#include <limits.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <system_error>

#include "plat/host.h"
#include "plat/kernel.h"

namespace fs = std::filesystem;

namespace plat {

HostOptions& host_options() {
  static HostOptions* options = new HostOptions;
  return *options;
}

namespace {

const char usage_text[] =
    "options:\n"
    "  --device DIR        the device root (default ./device-run, made from the template)\n"
    "  --script FILE|-     console commands from a file (-: standard input); given again,\n"
    "                      the next input is read when one ends\n"
    "  --events FILE       the event log (default: standard output when --script is given)\n"
    "  --headless          no window (the default when DISPLAY is unset)\n"
    "  --screen WxH        the screen size (default 800x480)\n"
    "  --speed N           device time runs N times faster than real time (default 1)\n"
    "  --gps TTY           a real serial device as COM13\n"
    "  --audio-out DIR     where played sounds are written\n"
    "  --as DEVICE_PATH    the device path of the running program\n"
    "  --help              this text\n";

bool parse_screen(const std::string& text, int* width, int* height) {
  int w = 0, h = 0;
  char x = 0, rest = 0;
  if (sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) != 3 || x != 'x') return false;
  if (w <= 0 || h <= 0 || w > 16384 || h > 16384) return false;
  *width = w;
  *height = h;
  return true;
}

bool parse_speed(const std::string& text, double* speed) {
  char* end = nullptr;
  double value = strtod(text.c_str(), &end);
  if (text.empty() || *end != 0 || !std::isfinite(value) || value <= 0) return false;
  *speed = value;
  return true;
}

enum class Parse { run, help, error };

/* Reads the options into *options; on an error, *message says why. */
Parse parse_options(int argc, char** argv, HostOptions* options, std::string* message) {
  const char* display = getenv("DISPLAY");
  options->headless = !display || !*display;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return Parse::help;
    if (arg == "--headless") {
      options->headless = true;
      continue;
    }
    std::string name = arg, value;
    size_t equals = arg.find('=');
    bool inline_value = arg.compare(0, 2, "--") == 0 && equals != std::string::npos;
    if (inline_value) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
    }
    static const char* const with_value[] = {"--device", "--script", "--events", "--screen",
                                             "--speed",  "--gps",    "--audio-out", "--as"};
    bool known = false;
    for (const char* option : with_value) known = known || name == option;
    if (!known) {
      *message = "unknown option: " + arg;
      return Parse::error;
    }
    if (!inline_value) {
      if (i + 1 >= argc) {
        *message = "missing value after " + name;
        return Parse::error;
      }
      value = argv[++i];
    }
    if (value.empty()) {
      *message = "empty value of " + name;
      return Parse::error;
    }
    if (name == "--device") {
      options->device_dir = value;
    } else if (name == "--script") {
      if (options->script.empty())
        options->script = value;
      else
        options->then_scripts.push_back(value);
    } else if (name == "--events") {
      options->events = value;
    } else if (name == "--screen") {
      if (!parse_screen(value, &options->screen_width, &options->screen_height)) {
        *message = "bad screen size (WxH expected): " + value;
        return Parse::error;
      }
    } else if (name == "--speed") {
      if (!parse_speed(value, &options->speed)) {
        *message = "bad speed (a positive number expected): " + value;
        return Parse::error;
      }
    } else if (name == "--gps") {
      options->gps_tty = value;
    } else if (name == "--audio-out") {
      options->audio_out = value;
    } else {
      options->as_path = value;
    }
  }
  return Parse::run;
}

/* <exe dir>/../device-template, or the folder that VELMAR_DEVICE_TEMPLATE names. */
std::string template_folder() {
  const char* env = getenv("VELMAR_DEVICE_TEMPLATE");
  if (env && *env) return env;
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return std::string();
  exe[n] = 0;
  return (fs::path(exe).parent_path().parent_path() / "device-template").string();
}

/* Makes the device root ready; false (with a message) when it cannot be. */
bool prepare_device_root(const std::string& dir, std::string* message) {
  std::error_code ec;
  fs::path root(dir);
  if (fs::exists(root, ec) && !fs::is_directory(root, ec)) {
    *message = "the device root is not a folder: " + dir;
    return false;
  }
  bool fresh = !fs::exists(root, ec) || fs::is_empty(root, ec);
  if (!fresh) return true;
  fs::create_directories(root, ec);
  if (ec) {
    *message = "cannot make the device root " + dir + ": " + ec.message();
    return false;
  }
  std::string source = template_folder();
  if (source.empty() || !fs::is_directory(source, ec)) {
    fprintf(stderr, "warning: no device template at %s; the device root %s starts empty\n",
            source.c_str(), dir.c_str());
    return true;
  }
  /* Two programs started at once on a fresh root may both copy. */
  fs::copy(source, root, fs::copy_options::recursive | fs::copy_options::skip_existing, ec);
  if (ec) {
    *message = "cannot copy the device template " + source + " to " + dir + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace

int host_main(int argc, char** argv, const HostProgram& program) {
  HostOptions options;
  std::string message;
  const char* name = argc > 0 && argv[0] ? argv[0] : program.name;
  switch (parse_options(argc, argv, &options, &message)) {
    case Parse::help:
      printf("usage: %s [options]\n%s", name, usage_text);
      return 0;
    case Parse::error:
      fprintf(stderr, "%s: %s\n%s", name, message.c_str(), usage_text);
      return 2;
    case Parse::run:
      break;
  }
  host_options() = options;

  if (!prepare_device_root(options.device_dir, &message)) {
    fprintf(stderr, "%s: %s\n", name, message.c_str());
    return 1;
  }
  std::error_code ec;
  fs::path root = fs::absolute(options.device_dir, ec).lexically_normal();
  std::string root_text = root.string();
  while (root_text.size() > 1 && root_text.back() == '/') root_text.pop_back();
  set_device_root(root_text);
  if (!options.as_path.empty())
    set_module_path(utf8_to_utf16(options.as_path));
  else if (program.module_path)
    set_module_path(program.module_path);
  set_speed(options.speed);

  std::string events = options.events;
  if (events.empty() && !options.script.empty()) events = "-";
  event_log_open(events);
  Event("start")
      .str("program", std::string(program.name ? program.name : ""))
      .str("screen", std::to_string(options.screen_width) + "x" + std::to_string(options.screen_height));

  if (program.attach) program.attach(options);
  static WCHAR no_arguments[1] = {0};
  const int show_normal = 1; /* SW_SHOWNORMAL */
  int code = wWinMain((HINSTANCE)GetModuleHandleW(nullptr), nullptr, no_arguments, show_normal);
  if (program.detach) program.detach(code);

  Event("exit").num("code", code);
  event_log_close();
  return code & 0xFF;
}

}  // namespace plat
