/* Host-only test helper: every event-log line written since the last take(). */
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "plat/host.h"

struct EventRecorder {
  std::mutex lock;
  std::vector<std::string> lines;
  EventRecorder() {
    plat::event_log_observe([this](const std::string& line) {
      std::lock_guard<std::mutex> guard(lock);
      lines.push_back(line);
    });
  }
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> guard(lock);
    return std::move(lines);
  }
};

/* The one recorder of the test program, registered on first use. */
inline EventRecorder& recorder() {
  static EventRecorder* r = new EventRecorder;
  return *r;
}
