/* Console commands of the simulated device's programs and drivers (the
 * phone, the GPS feed, call audio, the SD card, ...). Each stand-in module
 * registers its commands once, before the console starts; the console runs a
 * registered command on its own thread after the program has taken the input
 * posted before it. */
#pragma once

#include <string>
#include <vector>

namespace sim {

struct DeviceCommand {
  const char* name;   /* the first word of the line, e.g. "phone" */
  const char* usage;  /* e.g. "phone start|stop|info TEXT|..." */
  /* Runs the command with the rest of the line (trimmed). False when the
   * arguments are wrong or the command failed; *error then says why (the
   * console prints it with the line number and goes on). */
  bool (*run)(const std::string& args, std::string* error);
  /* An expectation (expect-file): a failure ends the run as a failed
   * `expect` does, with expect_failed_status. */
  bool failure_ends_run = false;
};

/* Adds a command; a later registration of the same name replaces it. */
void register_device_command(const DeviceCommand& command);
/* The registered command of that name, or null. */
const DeviceCommand* find_device_command(const std::string& name);
/* The usages of the registered commands, in registration order. */
std::vector<std::string> device_command_usages();

}  // namespace sim
