/* The host side of the platform: what the host entry, the simulator and the
 * platform's own modules share. Not part of the Win32 surface; the system's
 * code never includes it. */
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "plat/wintypes.h"

namespace plat {

/* ---- UTF conversions (utf.cpp). Invalid input is replaced by U+FFFD. ---- */
std::string utf16_to_utf8(const WCHAR* s, size_t n = (size_t)-1);
std::string utf16_to_utf8(const std::u16string& s);
std::u16string utf8_to_utf16(const std::string& s);
/* Appends one code point (at most U+10FFFF) as UTF-8. */
void append_utf8(std::string& out, uint32_t code_point);

/* ---- The device root (file.cpp). ---- */
void set_device_root(const std::string& host_dir);
const std::string& device_root();
/* Maps a device path ("\residentflash2\x", "sdmmc\y": always rooted) to a host
 * path inside the device root. Each existing component is matched
 * case-insensitively; components that do not exist keep the given spelling. */
std::string host_path(const WCHAR* device_path);
/* The device path of the running program (what GetModuleFileNameW reports). */
void set_module_path(const std::u16string& device_path);

/* ---- Device time (time.cpp): device time runs `speed` times real time. ---- */
void set_speed(double speed);
double speed();
/* Milliseconds of device time since the process started. */
uint64_t device_ms();
/* Sleeps for `ms` of device time. */
void sleep_device_ms(uint64_t ms);

/* ---- Event log (event.cpp): one JSON object a line, UTF-8. ---- */
/* path "-" is standard output; an empty path disables the log. */
void event_log_open(const std::string& path);
void event_log_close();
/* Observers see every event line as written (the console's `expect`). */
void event_log_observe(std::function<void(const std::string& line)> observer);

class Event {
 public:
  explicit Event(const char* ev);
  ~Event();                    /* writes the line */
  Event& str(const char* key, const std::string& utf8);
  Event& str(const char* key, const WCHAR* text);
  Event& num(const char* key, long long value);
  Event& real(const char* key, double value);
  Event& boolean(const char* key, bool value);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

 private:
  std::string line_;
};

/* ---- Stand-in device programs (process.cpp). ---- */
/* A program started by CreateProcessW at `device_path` (matched
 * case-insensitively) runs `main` on its own thread; its result is the exit code. */
using ProgramMain = std::function<DWORD(const std::u16string& command_line)>;
void register_program(const std::u16string& device_path, ProgramMain main);
void unregister_programs();

/* ---- The host entry (host/host_main.cpp). ---- */
struct HostOptions {
  std::string device_dir = "./device-run";
  std::string script;           /* empty: none; "-": stdin */
  std::vector<std::string> then_scripts;  /* further --script options, read in turn after it */
  std::string events;           /* empty: stdout when a script is given */
  bool headless = false;
  int screen_width = 800, screen_height = 480;
  double speed = 1.0;
  std::string gps_tty;
  std::string audio_out;
  std::string as_path;          /* velinstall --as */
};

struct HostProgram {
  const char* name;                       /* "Velmar" */
  const char16_t* module_path;            /* u"\\residentflash2\\Velmar\\Velmar.exe" */
  /* Called after the device root is ready and before wWinMain; may be null. */
  void (*attach)(const HostOptions& options);
  /* Called after wWinMain returned, with its exit code; may be null. */
  void (*detach)(int exit_code);
};

HostOptions& host_options();
/* Parses the host options, prepares the device root from the template, runs
 * wWinMain and returns its exit code as the process's status. */
int host_main(int argc, char** argv, const HostProgram& program);

}  // namespace plat

/* The program's own entry, as on Windows. */
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR command_line, int show);
