#include "event_lines.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "plat/host.h"

namespace sim {

namespace {

/* How many of the last lines a failed expectation shows. */
const size_t lines_shown = 5;
/* Device time may change speed: waits are cut into slices of real time. */
const double longest_slice_ms = 20.0;

struct Lines {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> lines;
  int page = -1;
  bool ended = false;
};

Lines& lines() {
  static Lines* kept = new Lines;
  return *kept;
}

/* Waits under `guard` until `done` holds, the program has ended or
 * `within_ms` of device time have passed. */
template <class Done>
bool wait_device(std::unique_lock<std::mutex>& guard, uint64_t within_ms, Done done) {
  Lines& l = lines();
  uint64_t deadline = plat::device_ms() + within_ms;
  for (;;) {
    if (done()) return true;
    if (l.ended) return false;
    uint64_t now = plat::device_ms();
    if (now >= deadline) return false;
    double real_ms = (double)(deadline - now) / plat::speed();
    real_ms = std::min(std::max(real_ms, 1.0), longest_slice_ms);
    l.changed.wait_for(guard, std::chrono::duration<double, std::milli>(real_ms));
  }
}

}  // namespace

void event_lines_attach() {
  static std::once_flag once;
  std::call_once(once, [] { plat::event_log_observe(event_lines_add); });
}

void event_lines_add(const std::string& line) {
  Lines& l = lines();
  {
    std::lock_guard<std::mutex> guard(l.lock);
    l.lines.push_back(line);
    int id = page_event_id(line);
    if (id >= 0) l.page = id;
  }
  l.changed.notify_all();
}

void event_lines_end() {
  Lines& l = lines();
  {
    std::lock_guard<std::mutex> guard(l.lock);
    l.ended = true;
  }
  l.changed.notify_all();
}

void event_lines_reset() {
  Lines& l = lines();
  std::lock_guard<std::mutex> guard(l.lock);
  l.lines.clear();
  l.page = -1;
  l.ended = false;
}

bool event_lines_expect(const std::string& pattern, uint64_t within_ms, std::string* seen) {
  Lines& l = lines();
  std::unique_lock<std::mutex> guard(l.lock);
  size_t checked = 0;
  bool found = wait_device(guard, within_ms, [&] {
    for (; checked < l.lines.size(); checked++)
      if (l.lines[checked].find(pattern) != std::string::npos) return true;
    return false;
  });
  if (!found && seen) {
    if (l.lines.empty()) {
      *seen = "no event lines";
    } else {
      size_t first = l.lines.size() > lines_shown ? l.lines.size() - lines_shown : 0;
      *seen = std::to_string(l.lines.size()) + " event lines, the last:";
      for (size_t i = first; i < l.lines.size(); i++) *seen += "\n  " + l.lines[i];
    }
  }
  return found;
}

bool event_lines_expect_page(int id, uint64_t within_ms, std::string* seen) {
  Lines& l = lines();
  std::unique_lock<std::mutex> guard(l.lock);
  bool found = wait_device(guard, within_ms, [&] { return l.page == id; });
  if (!found && seen)
    *seen = l.page < 0 ? "no page event" : "the current page is " + std::to_string(l.page);
  return found;
}

void event_lines_wait(uint64_t ms) {
  Lines& l = lines();
  std::unique_lock<std::mutex> guard(l.lock);
  wait_device(guard, ms, [] { return false; });
}

int page_event_id(const std::string& line) {
  /* The log writes `t` and `ev` first, then the page event's `id`. */
  static const std::string mark = ",\"ev\":\"page\",\"id\":";
  size_t at = line.find(mark);
  if (at == std::string::npos) return -1;
  const char* digits = line.c_str() + at + mark.size();
  if (*digits < '0' || *digits > '9') return -1;
  char* end = nullptr;
  long id = strtol(digits, &end, 10);
  if (id > 1000000 || (*end != '}' && *end != ',')) return -1;
  return (int)id;
}

}  // namespace sim
