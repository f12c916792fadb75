/* A stand-in serial device for the host tests: a pseudo-terminal whose slave
 * side the platform serves under a port name, and whose master side the test
 * writes NMEA bytes into. Host only. */
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "plat/serial_host.h"

struct PtyPort {
  int master = -1;
  int slave = -1; /* held so that the terminal keeps its settings and never hangs up */
  std::string slave_name;
  std::u16string device;

  explicit PtyPort(const std::u16string& device_name) : device(device_name) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    slave_name = ptsname(master);
    slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios tio;
    if (slave >= 0 && tcgetattr(slave, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(slave, TCSANOW, &tio);
    }
    plat::serial_attach(device, slave_name);
  }
  ~PtyPort() {
    plat::serial_detach(device);
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
  bool ok() const { return master >= 0 && slave >= 0; }

  void send(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
      if (n > 0) done += (size_t)n;
    }
  }
  int queued() const {
    int n = 0;
    ioctl(slave, FIONREAD, &n);
    return n;
  }
  /* Waits until the port's reader has taken every byte written. */
  bool drained(int ms = 3000) const {
    for (int i = 0; i < ms / 2; i++) {
      if (queued() == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
  /* What the device wrote to the port. */
  std::string received(size_t want, int ms = 2000) const {
    std::string out;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < want && std::chrono::steady_clock::now() < until) {
      struct pollfd p = {master, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) {
        char buffer[256];
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0) out.append(buffer, (size_t)n);
      }
    }
    return out;
  }
};

/* Polls `done` every 2 ms for up to `ms` real milliseconds. */
inline bool eventually(const std::function<bool()>& done, int ms = 3000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}
