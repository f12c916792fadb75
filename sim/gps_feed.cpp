/* The GPS receiver's stand-in: the console writes NMEA data into the master
 * side of a pseudo-terminal whose slave side the platform serves as COM13:,
 * at the pace of 4800 baud (480 bytes a second of device time). */
#include "gps_feed.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "device_commands.h"
#include "plat/serial_host.h"

namespace sim {
namespace {

const int kBytesPerSecond = 480; /* 4800 baud, 8N1 */
/* How long the feed waits for the device to take what it wrote. */
const uint64_t kDeliveryMs = 3000;

std::mutex feed_lock;
int master_fd = -1;
int slave_fd = -1; /* held open so that the terminal keeps its raw settings */
bool real_receiver = false;
/* The folder of the console script: a relative FILE not found in the
 * current folder is looked up there. */
std::string script_dir;

bool write_all(const char* data, size_t size, std::string* error) {
  size_t done = 0;
  uint64_t until = plat::device_ms() + kDeliveryMs;
  while (done < size) {
    ssize_t n = write(master_fd, data + done, size - done);
    if (n > 0) {
      done += (size_t)n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      *error = "COM13: write failed";
      return false;
    }
    if (plat::device_ms() >= until) {
      *error = "COM13: the device does not read";
      return false;
    }
    struct pollfd p = {master_fd, POLLOUT, 0};
    poll(&p, 1, 10);
  }
  return true;
}

/* Waits until the device has read what was written (the slave's input
 * queue is empty). */
bool wait_delivered(std::string* error) {
  uint64_t until = plat::device_ms() + kDeliveryMs;
  for (;;) {
    int queued = 0;
    if (ioctl(slave_fd, FIONREAD, &queued) < 0 || queued == 0) return true;
    if (plat::device_ms() >= until) {
      *error = "COM13: the device did not read " + std::to_string(queued) + " bytes";
      return false;
    }
    usleep(2000);
  }
}

/* The pace of one command: the bytes sent since it began. */
struct Pace {
  uint64_t start = plat::device_ms();
  uint64_t bytes = 0;
};

/* Writes one piece and lets the transmission time of everything sent so far
 * pass. */
bool send_paced(Pace* pace, const std::string& bytes, std::string* error) {
  if (!write_all(bytes.data(), bytes.size(), error)) return false;
  pace->bytes += bytes.size();
  uint64_t due = pace->start + (pace->bytes * 1000 + kBytesPerSecond - 1) / kBytesPerSecond;
  uint64_t now = plat::device_ms();
  if (due > now) plat::sleep_device_ms(due - now);
  return true;
}

bool ready(std::string* error) {
  if (real_receiver) {
    *error = "COM13 is a real receiver (--gps); nothing to feed";
    return false;
  }
  if (master_fd < 0) {
    *error = "COM13: no pseudo-terminal";
    return false;
  }
  return true;
}

bool run_gps(const std::string& args, std::string* error) {
  if (args.empty()) {
    *error = "usage: gps FILE";
    return false;
  }
  std::ifstream in(args, std::ios::binary);
  if (!in && args[0] != '/' && !script_dir.empty()) in.open(script_dir + "/" + args, std::ios::binary);
  if (!in) {
    *error = "gps: cannot read " + args;
    return false;
  }
  std::lock_guard<std::mutex> hold(feed_lock);
  if (!ready(error)) return false;
  std::string line;
  Pace pace;
  /* lines with their own endings, exactly as captured */
  while (std::getline(in, line)) {
    if (!in.eof()) line += '\n';
    if (!line.empty() && line[0] == '#') continue;
    if (line.empty()) continue;
    if (!send_paced(&pace, line, error)) return false;
  }
  return wait_delivered(error);
}

bool run_nmea(const std::string& args, std::string* error) {
  if (args.empty()) {
    *error = "usage: nmea SENTENCE";
    return false;
  }
  std::lock_guard<std::mutex> hold(feed_lock);
  if (!ready(error)) return false;
  Pace pace;
  if (!send_paced(&pace, nmea_complete(args), error)) return false;
  return wait_delivered(error);
}

}  // namespace

std::string nmea_complete(const std::string& sentence) {
  std::string s = sentence;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  if (s.empty() || s[0] != '$') s.insert(s.begin(), '$');
  if (s.find('*') == std::string::npos) {
    unsigned char sum = 0;
    for (size_t i = 1; i < s.size(); i++) sum ^= (unsigned char)s[i];
    char hex[4];
    snprintf(hex, sizeof hex, "*%02X", sum);
    s += hex;
  }
  return s + "\r\n";
}

void gps_attach(const plat::HostOptions& options) {
  register_device_command({"gps", "gps FILE", run_gps});
  register_device_command({"nmea", "nmea SENTENCE", run_nmea});
  if (!options.script.empty() && options.script != "-") {
    size_t slash = options.script.rfind('/');
    script_dir = slash == std::string::npos ? "." : options.script.substr(0, slash);
  }
  if (!options.gps_tty.empty()) {
    real_receiver = true;
    plat::serial_attach(u"COM13:", options.gps_tty);
    return;
  }
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    if (master >= 0) close(master);
    fprintf(stderr, "Velmar: no pseudo-terminal for COM13\n");
    return;
  }
  const char* name = ptsname(master);
  int slave = name ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  if (slave < 0) {
    close(master);
    fprintf(stderr, "Velmar: no pseudo-terminal for COM13\n");
    return;
  }
  struct termios tio;
  if (tcgetattr(slave, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetispeed(&tio, B4800);
    cfsetospeed(&tio, B4800);
    tcsetattr(slave, TCSANOW, &tio);
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  master_fd = master;
  slave_fd = slave;
  plat::serial_attach(u"COM13:", name);
}

}  // namespace sim
