#include "console.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include "device_commands.h"
#include "event_lines.h"
#include "gdi_internal.h"
#include "plat/host.h"
#include "window_internal.h"

namespace sim {

namespace {

/* Commands of the simulated device that no stand-in has registered yet. */
const char* const later_commands[] = {
    "phone", "audio", "dtmf",     "speech",      "gps",        "nmea",     "sd",
    "camera", "copydata", "hangup-home", "navi", "foreground", "registry", "expect-file",
};

const long long largest_coordinate = 65535;  /* lParam carries 16 bits each */
const long long largest_key = 255;
const long long largest_ms = 24LL * 3600 * 1000;
/* How often the console looks for the main window, in real milliseconds. */
const int window_poll_ms = 5;
/* How long a run whose expectation failed waits for the program to close. */
const int failed_close_ms = 10000;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trim(const std::string& s) {
  size_t first = 0, last = s.size();
  while (first < last && is_space(s[first])) first++;
  while (last > first && is_space(s[last - 1])) last--;
  return s.substr(first, last - first);
}

/* A whole decimal number, or hexadecimal after 0x when `hex` is allowed. */
bool parse_number(const std::string& text, long long lowest, long long highest, bool hex,
                  long long* out) {
  int base = 10;
  size_t at = 0;
  if (hex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    at = 2;
  }
  if (at >= text.size()) return false;
  long long value = 0;
  for (; at < text.size(); at++) {
    char c = text[at];
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
    if (digit < 0) return false;
    value = value * base + digit;
    if (value > highest) return false;
  }
  if (value < lowest) return false;
  *out = value;
  return true;
}

std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> words;
  std::istringstream in(s);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

/* Takes a trailing "within MS" off `rest`; false when it is malformed. */
bool take_within(std::string* rest, uint64_t* within_ms, std::string* error) {
  std::vector<std::string> words = split(*rest);
  if (words.size() < 2 || words[words.size() - 2] != "within") return true;
  long long ms = 0;
  if (!parse_number(words.back(), 0, largest_ms, false, &ms)) {
    *error = "bad time after within: " + words.back();
    return false;
  }
  size_t at = rest->rfind("within");
  *rest = trim(rest->substr(0, at));
  *within_ms = (uint64_t)ms;
  return true;
}

}  // namespace

ParseResult parse_command(const std::string& raw, Command* command, std::string* error) {
  std::string line = trim(raw);
  if (line.empty() || line[0] == '#') return ParseResult::empty;
  size_t name_end = 0;
  while (name_end < line.size() && !is_space(line[name_end])) name_end++;
  std::string name = line.substr(0, name_end);
  std::string rest = trim(line.substr(name_end));
  std::vector<std::string> args = split(rest);
  Command c;

  auto fail = [&](const std::string& why) {
    *error = why;
    return ParseResult::error;
  };
  auto want_args = [&](size_t n, const char* usage) {
    if (args.size() == n) return true;
    *error = std::string("usage: ") + usage;
    return false;
  };

  if (name == "tap" || name == "down" || name == "move" || name == "up") {
    std::string usage = name + " X Y";
    if (!want_args(2, usage.c_str())) return ParseResult::error;
    long long x = 0, y = 0;
    if (!parse_number(args[0], 0, largest_coordinate, false, &x) ||
        !parse_number(args[1], 0, largest_coordinate, false, &y))
      return fail("bad coordinates (0 to 65535 expected): " + rest);
    c.kind = name == "tap" ? CommandKind::tap
             : name == "down" ? CommandKind::down
             : name == "move" ? CommandKind::move
                              : CommandKind::up;
    c.x = (int)x;
    c.y = (int)y;
  } else if (name == "key") {
    if (!want_args(1, "key VK")) return ParseResult::error;
    if (!parse_number(args[0], 1, largest_key, true, &c.value))
      return fail("bad virtual key (1 to 255, decimal or 0x hex): " + args[0]);
    c.kind = CommandKind::key;
  } else if (name == "wait") {
    if (!want_args(1, "wait MS")) return ParseResult::error;
    if (!parse_number(args[0], 0, largest_ms, false, &c.value))
      return fail("bad time in ms: " + args[0]);
    c.kind = CommandKind::wait;
  } else if (name == "screenshot") {
    if (rest.empty()) return fail("usage: screenshot FILE");
    c.kind = CommandKind::screenshot;
    c.text = rest;
  } else if (name == "expect") {
    c.within_ms = default_expect_ms;
    if (!take_within(&rest, &c.within_ms, error)) return ParseResult::error;
    if (rest.empty()) return fail("usage: expect PATTERN [within MS]");
    c.kind = CommandKind::expect;
    c.text = rest;
  } else if (name == "expect-page") {
    c.within_ms = default_expect_ms;
    if (!take_within(&rest, &c.within_ms, error)) return ParseResult::error;
    args = split(rest);
    if (args.size() != 1) return fail("usage: expect-page N [within MS]");
    if (!parse_number(args[0], 0, 1000000, false, &c.value)) return fail("bad page id: " + args[0]);
    c.kind = CommandKind::expect_page;
  } else if (name == "quit") {
    if (!want_args(0, "quit")) return ParseResult::error;
    c.kind = CommandKind::quit;
  } else if (name == "help") {
    if (!want_args(0, "help")) return ParseResult::error;
    c.kind = CommandKind::help;
  } else if (name == "echo") {
    c.kind = CommandKind::echo;
    c.text = rest;
  } else if (find_device_command(name)) {
    c.kind = CommandKind::device;
    c.text = name;
    c.args = rest;
  } else {
    bool later = false;
    for (const char* known : later_commands) later = later || name == known;
    if (!later) return fail("unknown command: " + name);
    c.kind = CommandKind::unavailable;
    c.text = name;
  }
  *command = c;
  return ParseResult::command;
}

std::string help_text() {
  static const char* const own[][2] = {
      {"tap X Y", "pen down and up at (X, Y)"},
      {"down X Y | move X Y | up X Y", "one pen event"},
      {"key VK", "a key press (virtual-key code, decimal or 0x hex)"},
      {"wait MS", "let MS milliseconds of device time pass"},
      {"screenshot FILE", "the screen as a PNG file"},
      {"expect PATTERN [within MS]", "wait for an event line containing PATTERN"},
      {"expect-page N [within MS]", "wait until page N is current"},
      {"echo TEXT", "TEXT on standard error"},
      {"help", "this list"},
      {"quit", "end the program"},
  };
  std::string text = "commands (one a line, # begins a comment):\n";
  for (const auto& line : own) {
    std::string usage = line[0];
    text += "  " + usage + std::string(usage.size() < 30 ? 30 - usage.size() : 1, ' ') + line[1] + "\n";
  }
  text += "commands of the device's programs and drivers:\n";
  for (const std::string& usage : device_command_usages()) text += "  " + usage + "\n";
  return text;
}

namespace {

struct Console {
  ConsoleSetup setup;
  std::thread thread;
  std::atomic<bool> ended{false};
  std::atomic<bool> failed{false};
  std::atomic<bool> finished{false};  /* the console thread has stopped */
  std::string pending;  /* input read but not yet split into lines */
  int unsettled = 0;    /* pen and key messages posted since the last settle */
  int input = 0;        /* which of the inputs is being read: 0 is setup.fd's first */
  bool input_done = false;
};

/* The running console, or null. */
Console* current_console;

void say(int line_number, const std::string& text) {
  fprintf(stderr, "console: line %d: %s\n", line_number, text.c_str());
  fflush(stderr);
}

/* The next line of input; false at its end. Once the program has ended, only
 * what is already there is read. */
bool next_line(Console& c, std::string* line) {
  for (;;) {
    size_t newline = c.pending.find('\n');
    if (newline != std::string::npos) {
      *line = c.pending.substr(0, newline);
      c.pending.erase(0, newline + 1);
      return true;
    }
    if (c.input_done) {
      if (c.pending.empty()) return false;
      *line = c.pending;
      c.pending.clear();
      return true;
    }
    struct pollfd p = {c.setup.fd, POLLIN, 0};
    int ready = poll(&p, 1, c.ended ? 0 : 50);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      if (c.ended) c.input_done = true;
      continue;
    }
    char buffer[4096];
    ssize_t n = ready > 0 ? read(c.setup.fd, buffer, sizeof buffer) : -1;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      /* The next input, when there is one, goes on from here. */
      if (!c.setup.then_fds.empty()) {
        /* A last line without its line end ends with its input. */
        if (!c.pending.empty()) {
          *line = c.pending;
          c.pending.clear();
          return true;
        }
        close(c.setup.fd);
        c.setup.fd = c.setup.then_fds.front();
        c.setup.then_fds.erase(c.setup.then_fds.begin());
        c.input++;
        continue;
      }
      c.input_done = true;
      continue;
    }
    c.pending.append(buffer, (size_t)n);
  }
}

/* The main window once it exists (and is visible, when asked); null when the
 * program ends first. */
HWND main_window_of(Console& c, bool visible) {
  for (;;) {
    HWND window = plat::find_local_window(c.setup.window_class, c.setup.window_title);
    if (window && (!visible || IsWindowVisible(window))) return window;
    if (c.ended) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(window_poll_ms));
  }
}

/* Lets the program take the input posted so far, and paint what it changed,
 * before the console goes on. Posted messages are retrieved before input, so
 * a WM_CLOSE or a screenshot right after a tap would otherwise overtake it.
 * Each message sent to the main window is handled at the UI thread's next
 * retrieval, after the queued message that the previous retrieval returned;
 * so one send per posted message, and two more for the paint that follows,
 * bring the thread past them (as long as their handlers do not wait on other
 * threads, where sends are handled too). */
void settle(Console& c) {
  int sends = c.unsettled + 2;
  c.unsettled = 0;
  if (c.ended) return;
  HWND window = plat::find_local_window(c.setup.window_class, c.setup.window_title);
  for (int i = 0; window && i < sends; i++) SendMessageW(window, WM_NULL, 0, 0);
}

void request_quit(Console& c) {
  if (c.ended) return;
  settle(c);
  if (HWND window = main_window_of(c, false)) PostMessageW(window, WM_CLOSE, 0, 0);
}

const char ended_text[] = "the program has ended; pen or key input ignored";

/* One pen event; false when the program has ended. */
bool pen(Console& c, int line_number, plat::PointerKind kind, int x, int y) {
  if (!main_window_of(c, true)) {
    say(line_number, ended_text);
    return false;
  }
  if (plat::pointer_event(kind, x, y))
    c.unsettled++;
  else
    say(line_number, "no window at (" + std::to_string(x) + ", " + std::to_string(y) + ")");
  return true;
}

/* Runs one command; false when the console stops reading (quit, a failed
 * expectation). */
bool execute(Console& c, const Command& command, int line_number) {
  std::string seen;
  switch (command.kind) {
    case CommandKind::tap:
      if (pen(c, line_number, plat::PointerKind::down, command.x, command.y))
        pen(c, line_number, plat::PointerKind::up, command.x, command.y);
      return true;
    case CommandKind::down:
      pen(c, line_number, plat::PointerKind::down, command.x, command.y);
      return true;
    case CommandKind::move:
      pen(c, line_number, plat::PointerKind::move, command.x, command.y);
      return true;
    case CommandKind::up:
      pen(c, line_number, plat::PointerKind::up, command.x, command.y);
      return true;
    case CommandKind::key:
      if (!main_window_of(c, true)) {
        say(line_number, ended_text);
        return true;
      }
      if (plat::key_event((UINT)command.value, true))
        c.unsettled++;
      else
        say(line_number, "no window takes keys");
      return true;
    case CommandKind::wait:
      event_lines_wait((uint64_t)command.value);
      return true;
    case CommandKind::screenshot:
      settle(c);
      if (!plat::screen_screenshot(command.text)) say(line_number, "cannot write " + command.text);
      return true;
    case CommandKind::expect:
      if (event_lines_expect(command.text, command.within_ms, &seen)) return true;
      say(line_number, "expect failed: expected an event line containing " + command.text +
                           " within " + std::to_string(command.within_ms) + " ms; saw " + seen);
      c.failed = true;
      return false;
    case CommandKind::expect_page:
      if (event_lines_expect_page((int)command.value, command.within_ms, &seen)) return true;
      say(line_number, "expect-page failed: expected page " + std::to_string(command.value) +
                           " within " + std::to_string(command.within_ms) + " ms; saw " + seen);
      c.failed = true;
      return false;
    case CommandKind::quit:
      return false;
    case CommandKind::help:
      fputs(help_text().c_str(), stderr);
      fflush(stderr);
      return true;
    case CommandKind::echo:
      fprintf(stderr, "%s\n", command.text.c_str());
      fflush(stderr);
      return true;
    case CommandKind::device: {
      const DeviceCommand* device = find_device_command(command.text);
      settle(c);
      std::string error;
      if (!device || device->run(command.args, &error)) return true;
      say(line_number, error.empty() ? std::string("usage: ") + device->usage : error);
      if (!device->failure_ends_run) return true;
      c.failed = true;
      return false;
    }
    case CommandKind::unavailable:
      say(line_number, command.text + " is not available yet; ignored");
      return true;
  }
  return true;
}

void run_commands(Console& c);

void run(Console& c) {
  run_commands(c);
  c.finished = true;
}

void run_commands(Console& c) {
  std::string line, error;
  int line_number = 0, input = 0;
  bool reading = true;
  while (reading && next_line(c, &line)) {
    /* Lines are counted in each input on its own. */
    if (c.input != input) {
      input = c.input;
      line_number = 0;
    }
    line_number++;
    Command command;
    switch (parse_command(line, &command, &error)) {
      case ParseResult::empty:
        break;
      case ParseResult::error:
        say(line_number, error);
        break;
      case ParseResult::command:
        reading = execute(c, command, line_number);
        break;
    }
  }
  close(c.setup.fd);
  for (int fd : c.setup.then_fds) close(fd);
  request_quit(c);
  if (!c.failed) return;
  /* A program that does not close after a failed expectation is ended here. */
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(failed_close_ms);
  while (!c.ended && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(window_poll_ms));
  if (!c.ended) {
    fprintf(stderr, "console: the program did not close; ending it\n");
    fflush(nullptr);
    _Exit(expect_failed_status);
  }
}

}  // namespace

void console_start(const ConsoleSetup& setup) {
  if (current_console) return;
  Console* c = new Console;
  c->setup = setup;
  current_console = c;
  c->thread = std::thread(run, std::ref(*c));
}

int console_finish() {
  Console* c = current_console;
  if (!c) return -1;
  c->ended = true;
  event_lines_end();
  /* The program's thread has left its message loop, but the console may be
   * waiting on a message it sent to the main window: keep answering sent
   * messages until the console has stopped. */
  while (!c->finished) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (c->thread.joinable()) c->thread.join();
  int status = c->failed ? expect_failed_status : -1;
  current_console = nullptr;
  delete c;
  return status;
}

}  // namespace sim
