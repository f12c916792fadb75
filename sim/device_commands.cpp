#include "device_commands.h"

#include <mutex>
#include <vector>

namespace sim {

namespace {

std::mutex commands_lock;
std::vector<DeviceCommand>& commands() {
  static std::vector<DeviceCommand> list;
  return list;
}

}  // namespace

void register_device_command(const DeviceCommand& command) {
  std::lock_guard<std::mutex> hold(commands_lock);
  for (DeviceCommand& known : commands()) {
    if (std::string(known.name) == command.name) {
      known = command;
      return;
    }
  }
  commands().push_back(command);
}

std::vector<std::string> device_command_usages() {
  std::lock_guard<std::mutex> hold(commands_lock);
  std::vector<std::string> usages;
  for (const DeviceCommand& known : commands()) usages.push_back(known.usage);
  return usages;
}

const DeviceCommand* find_device_command(const std::string& name) {
  std::lock_guard<std::mutex> hold(commands_lock);
  for (const DeviceCommand& known : commands())
    if (name == known.name) return &known;
  return nullptr;
}

}  // namespace sim
