/* The simulator's console: commands, one a line, from a script file or from
 * standard input, run in order on a thread of their own while the program
 * runs. Pen and key input goes through the window manager's input calls,
 * waits and expectations run in device time, `quit` (and the end of the
 * input) closes the program's main window. A failed expectation ends the run
 * with status 3 and a line on standard error saying what was expected and
 * what was seen. Every message of the console on standard error begins with
 * "console: ". */
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plat/wintypes.h"

namespace sim {

enum class CommandKind {
  tap,          /* pen down and up at (x, y) */
  down,         /* one pen event each */
  move,
  up,
  key,          /* WM_KEYDOWN with the virtual key `value` */
  wait,         /* `value` ms of device time */
  screenshot,   /* PNG of the screen to `text` */
  expect,       /* an event line containing `text`, within `within_ms` */
  expect_page,  /* the current page id `value`, within `within_ms` */
  quit,
  help,         /* the list of commands, on standard error */
  echo,         /* `text` on standard error */
  device,       /* a registered device command `text` with its arguments `args` */
  unavailable,  /* a command of the device that the simulator does not offer yet: `text` */
};

struct Command {
  CommandKind kind = CommandKind::quit;
  int x = 0, y = 0;
  long long value = 0;
  uint64_t within_ms = 2000;
  std::string text;
  std::string args;
};

enum class ParseResult { command, empty, error };

/* Parses one line: a command, an empty or comment line, or an error (then
 * *error says why). */
ParseResult parse_command(const std::string& line, Command* command, std::string* error);
/* What `help` prints: one line for each command with its arguments. */
std::string help_text();

/* Default time of `expect` and `expect-page`, in device milliseconds. */
const uint64_t default_expect_ms = 2000;
/* The status of a run whose expectation failed. */
const int expect_failed_status = 3;

struct ConsoleSetup {
  int fd = -1;                      /* commands are read from here; closed by the console */
  std::vector<int> then_fds;        /* read in turn after fd ends; closed by the console */
  const WCHAR* window_class = nullptr;  /* the program's main window */
  const WCHAR* window_title = nullptr;
};

/* Starts the console thread. */
void console_start(const ConsoleSetup& setup);
/* The program has ended: the console runs what is still waiting in its
 * input against what has happened, then stops. Returns
 * expect_failed_status when an expectation failed, else -1. Without a
 * console, -1. */
int console_finish();

}  // namespace sim
