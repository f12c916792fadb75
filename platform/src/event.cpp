/* The event log: one JSON object a line, UTF-8, with `t` (device ms) and
 * `ev` first. Non-ASCII characters are written as themselves; invalid UTF-8
 * in a value becomes U+FFFD so that every line stays valid. Lines are written
 * and handed to the observers under one lock, in the order they were made. */
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "plat/host.h"

namespace plat {

namespace {

struct EventLog {
  std::recursive_mutex lock; /* an observer may write an event itself */
  FILE* file = nullptr;
  bool owns_file = false;
  std::vector<std::function<void(const std::string&)>> observers;
};

EventLog& event_log() {
  static EventLog* log = new EventLog;
  return *log;
}

bool valid_utf8(const std::string& s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    unsigned char b = (unsigned char)s[i];
    if (b < 0x80) {
      i++;
      continue;
    }
    size_t len = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    uint32_t cp = b & (0x7F >> len);
    for (size_t k = 1; k < len; k++) {
      unsigned char c = (unsigned char)s[i + k];
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    static const uint32_t min_cp[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min_cp[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
    i += len;
  }
  return true;
}

void append_json_string(std::string& out, const std::string& text) {
  const std::string& s = valid_utf8(text) ? text : utf16_to_utf8(utf8_to_utf16(text));
  out += '"';
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20) {
          char escape[8];
          snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out += (char)c;
        }
    }
  }
  out += '"';
}

void append_key(std::string& out, const char* key) {
  out += ',';
  append_json_string(out, key ? key : "");
  out += ':';
}

}  // namespace

void event_log_open(const std::string& path) {
  EventLog& log = event_log();
  std::lock_guard<std::recursive_mutex> guard(log.lock);
  if (log.owns_file && log.file) fclose(log.file);
  log.file = nullptr;
  log.owns_file = false;
  if (path.empty()) return;
  if (path == "-") {
    log.file = stdout;
    return;
  }
  log.file = fopen(path.c_str(), "w");
  if (!log.file) {
    fprintf(stderr, "event log: cannot write %s\n", path.c_str());
    return;
  }
  log.owns_file = true;
}

void event_log_close() { event_log_open(std::string()); }

void event_log_observe(std::function<void(const std::string& line)> observer) {
  EventLog& log = event_log();
  std::lock_guard<std::recursive_mutex> guard(log.lock);
  if (observer) log.observers.push_back(std::move(observer));
}

Event::Event(const char* ev) {
  line_ = "{\"t\":" + std::to_string(device_ms()) + ",\"ev\":";
  append_json_string(line_, ev ? ev : "");
}

Event::~Event() {
  line_ += '}';
  EventLog& log = event_log();
  std::lock_guard<std::recursive_mutex> guard(log.lock);
  if (log.file) {
    fwrite(line_.data(), 1, line_.size(), log.file);
    fputc('\n', log.file);
    fflush(log.file);
  }
  /* A copy: an observer may add observers. */
  auto observers = log.observers;
  for (auto& observer : observers) observer(line_);
}

Event& Event::str(const char* key, const std::string& utf8) {
  append_key(line_, key);
  append_json_string(line_, utf8);
  return *this;
}

Event& Event::str(const char* key, const WCHAR* text) {
  return str(key, utf16_to_utf8(text ? text : u""));
}

Event& Event::num(const char* key, long long value) {
  append_key(line_, key);
  line_ += std::to_string(value);
  return *this;
}

Event& Event::real(const char* key, double value) {
  append_key(line_, key);
  if (!std::isfinite(value)) {
    line_ += "null"; /* JSON has no NaN or infinity */
    return *this;
  }
  char text[40];
  snprintf(text, sizeof text, "%.15g", value);
  if (strtod(text, nullptr) != value) snprintf(text, sizeof text, "%.17g", value);
  for (char* p = text; *p; p++) {
    if (*p == ',') *p = '.'; /* a locale's decimal comma */
  }
  line_ += text;
  return *this;
}

Event& Event::boolean(const char* key, bool value) {
  append_key(line_, key);
  line_ += value ? "true" : "false";
  return *this;
}

}  // namespace plat
