/* Serial ports on host terminals: the settings block maps onto termios, the
 * time-outs onto poll(2) waits, the event wait onto poll with a wake pipe
 * that SetCommMask uses to release a pending wait. */
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "file_internal.h"
#include "plat/host.h"
#include "plat/files.h"
#include "plat/kernel.h"
#include "plat/serial.h"
#include "plat/serial_host.h"

namespace plat {
namespace {

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

struct Speed {
  DWORD baud;
  speed_t code;
};
const Speed speeds[] = {
    {110, B110},     {300, B300},     {600, B600},       {1200, B1200},   {2400, B2400},
    {4800, B4800},   {9600, B9600},   {19200, B19200},   {38400, B38400}, {57600, B57600},
    {115200, B115200}, {230400, B230400},
};

bool speed_code(DWORD baud, speed_t* code) {
  for (const Speed& s : speeds)
    if (s.baud == baud) return *code = s.code, true;
  return false;
}

DWORD speed_baud(speed_t code) {
  for (const Speed& s : speeds)
    if (s.code == code) return s.baud;
  return 9600;
}

struct Attachment {
  std::string tty_path;
  std::shared_ptr<std::atomic<int>> open_count = std::make_shared<std::atomic<int>>(0);
};

std::mutex attach_mutex;
std::map<std::u16string, Attachment>& attachments() {
  static std::map<std::u16string, Attachment> table;
  return table;
}

uint64_t now_ms() { return device_ms(); }

struct SerialPort : DeviceHandle {
  int fd = -1;
  int wake[2] = {-1, -1};
  std::shared_ptr<std::atomic<int>> open_count;
  std::mutex mutex;
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  DWORD mask = 0;
  std::atomic<unsigned> mask_generation{0};

  ~SerialPort() override {
    if (fd >= 0) close(fd);
    if (wake[0] >= 0) close(wake[0]);
    if (wake[1] >= 0) close(wake[1]);
    if (open_count) (*open_count)--;
  }

  int queued() {
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) < 0) return 0;
    return n;
  }

  /* Waits up to `ms` of device time (negative: for ever) for the terminal to
   * become readable; false on time-out. */
  bool wait_readable(int64_t ms) {
    uint64_t until = ms < 0 ? 0 : now_ms() + (uint64_t)ms;
    for (;;) {
      int slice = 50;
      if (ms >= 0) {
        uint64_t now = now_ms();
        if (now >= until) return false;
        uint64_t left = until - now;
        /* device time may run faster than real time; poll in short slices */
        slice = left < 50 ? (int)left : 50;
      }
      struct pollfd p = {fd, POLLIN, 0};
      int r = poll(&p, 1, slice > 0 ? slice : 1);
      if (r > 0 && (p.revents & POLLIN)) return true;
      if (r < 0 && errno != EINTR) return false;
    }
  }

  DWORD read(void* data, DWORD size, DWORD* done) override {
    *done = 0;
    if (size == 0) return 0;
    if (!data) return ERROR_INVALID_PARAMETER;
    COMMTIMEOUTS t;
    {
      std::lock_guard<std::mutex> guard(mutex);
      t = timeouts;
    }
    char* out = (char*)data;
    auto take = [&]() -> bool {
      ssize_t n = ::read(fd, out + *done, size - *done);
      if (n > 0) *done += (DWORD)n;
      return n > 0;
    };
    const bool immediate = t.ReadIntervalTimeout == MAXDWORD &&
                           t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    if (immediate) {
      take();
      return 0;
    }
    const bool first_wait = t.ReadIntervalTimeout == MAXDWORD &&
                            t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                            t.ReadTotalTimeoutConstant != 0 &&
                            t.ReadTotalTimeoutConstant != MAXDWORD;
    if (first_wait) {
      if (queued() == 0 && !wait_readable(t.ReadTotalTimeoutConstant)) return 0;
      take();
      return 0;
    }
    const bool total = t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0;
    const uint64_t total_ms = (uint64_t)t.ReadTotalTimeoutMultiplier * size +
                              t.ReadTotalTimeoutConstant;
    const uint64_t until = now_ms() + total_ms;
    const bool interval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;
    while (*done < size) {
      if (take()) continue;
      int64_t wait = -1;
      if (total) {
        uint64_t now = now_ms();
        if (now >= until) break;
        wait = (int64_t)(until - now);
      }
      if (interval && *done > 0 && (wait < 0 || wait > (int64_t)t.ReadIntervalTimeout))
        wait = t.ReadIntervalTimeout;
      if (!wait_readable(wait)) break;
    }
    return 0;
  }

  DWORD write(const void* data, DWORD size, DWORD* done) override {
    *done = 0;
    if (size && !data) return ERROR_INVALID_PARAMETER;
    const char* in = (const char*)data;
    while (*done < size) {
      ssize_t n = ::write(fd, in + *done, size - *done);
      if (n > 0) {
        *done += (DWORD)n;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        struct pollfd p = {fd, POLLOUT, 0};
        poll(&p, 1, 50);
        continue;
      }
      return ERROR_WRITE_FAULT;
    }
    return 0;
  }

  DWORD flush() override { return tcdrain(fd) == 0 ? 0 : ERROR_WRITE_FAULT; }

  void wake_waiters() {
    char c = 1;
    ssize_t r = ::write(wake[1], &c, 1);
    (void)r;
  }
};

/* The block a fresh terminal reports: its speed, size, parity and stop bits,
 * binary, no flow control, DTR and RTS on. */
void dcb_from_termios(const struct termios& tio, DCB* dcb) {
  *dcb = DCB{};
  dcb->DCBlength = sizeof(DCB);
  dcb->BaudRate = speed_baud(cfgetospeed(&tio));
  dcb->fBinary = 1;
  dcb->fDtrControl = DTR_CONTROL_ENABLE;
  dcb->fRtsControl = RTS_CONTROL_ENABLE;
  dcb->fTXContinueOnXoff = 1;
  switch (tio.c_cflag & CSIZE) {
    case CS5: dcb->ByteSize = 5; break;
    case CS6: dcb->ByteSize = 6; break;
    case CS7: dcb->ByteSize = 7; break;
    default: dcb->ByteSize = 8; break;
  }
  dcb->Parity = !(tio.c_cflag & PARENB) ? NOPARITY : (tio.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  dcb->fParity = (tio.c_cflag & PARENB) ? 1 : 0;
  dcb->StopBits = (tio.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
  dcb->XonChar = 0x11;
  dcb->XoffChar = 0x13;
  dcb->XonLim = 2048;
  dcb->XoffLim = 512;
}

std::shared_ptr<DeviceHandle> open_port(const std::string& tty_path,
                                        std::shared_ptr<std::atomic<int>> count, DWORD access,
                                        DWORD* error) {
  (void)access;
  if (count->fetch_add(1) > 0) {
    (*count)--;
    *error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  auto port = std::make_shared<SerialPort>();
  port->open_count = count;
  port->fd = ::open(tty_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (port->fd < 0) {
    *error = errno == ENOENT ? ERROR_FILE_NOT_FOUND : error_from_errno(errno);
    return nullptr;
  }
  if (pipe2(port->wake, O_CLOEXEC | O_NONBLOCK) < 0) {
    *error = ERROR_TOO_MANY_OPEN_FILES;
    return nullptr;
  }
  struct termios tio;
  if (tcgetattr(port->fd, &tio) == 0) {
    speed_t speed = cfgetospeed(&tio);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tcsetattr(port->fd, TCSANOW, &tio);
    dcb_from_termios(tio, &port->dcb);
  } else {
    dcb_from_termios(tio = termios{}, &port->dcb);
    port->dcb.BaudRate = 9600;
  }
  *error = 0;
  return port;
}

std::shared_ptr<SerialPort> port_of(HANDLE handle) { return handle_get_as<SerialPort>(handle); }

}  // namespace

void serial_attach(const std::u16string& device, const std::string& tty_path) {
  std::string path = tty_path;
  auto count = std::make_shared<std::atomic<int>>(0);
  {
    std::lock_guard<std::mutex> guard(attach_mutex);
    attachments()[device] = Attachment{path, count};
  }
  register_device(device, [path, count](DWORD access, DWORD share, DWORD* error) {
    (void)share;
    return open_port(path, count, access, error);
  });
}

void serial_detach(const std::u16string& device) {
  unregister_device(device);
  std::lock_guard<std::mutex> guard(attach_mutex);
  attachments().erase(device);
}

}  // namespace plat

using namespace plat;

BOOL WINAPI GetCommState(HANDLE handle, LPDCB dcb) {
  auto port = port_of(handle);
  if (!port) return fail(ERROR_INVALID_HANDLE);
  if (!dcb) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> guard(port->mutex);
  *dcb = port->dcb;
  return TRUE;
}

BOOL WINAPI SetCommState(HANDLE handle, LPDCB dcb) {
  auto port = port_of(handle);
  if (!port) return fail(ERROR_INVALID_HANDLE);
  if (!dcb) return fail(ERROR_INVALID_PARAMETER);
  speed_t speed;
  if (!speed_code(dcb->BaudRate, &speed) || dcb->ByteSize < 5 || dcb->ByteSize > 8 ||
      dcb->Parity > SPACEPARITY || dcb->StopBits > TWOSTOPBITS)
    return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> guard(port->mutex);
  struct termios tio;
  if (tcgetattr(port->fd, &tio) != 0) return fail(error_from_errno(errno));
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CMSPAR);
  static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag |= sizes[dcb->ByteSize - 5];
  switch (dcb->Parity) {
    case ODDPARITY: tio.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: tio.c_cflag |= PARENB; break;
    case MARKPARITY: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case SPACEPARITY: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (dcb->StopBits != ONESTOPBIT) tio.c_cflag |= CSTOPB;
  if (dcb->fOutxCtsFlow || dcb->fRtsControl == RTS_CONTROL_HANDSHAKE) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | INPCK);
  if (dcb->fOutX) tio.c_iflag |= IXON;
  if (dcb->fInX) tio.c_iflag |= IXOFF;
  if (dcb->fParity && dcb->Parity != NOPARITY) tio.c_iflag |= INPCK;
  if (tcsetattr(port->fd, TCSANOW, &tio) != 0) {
    /* A pseudo-terminal takes no parity or character size (and may refuse a
     * block asking for them): apply the rest with the terminal's own. */
    int error = errno;
    struct termios now;
    const tcflag_t kept = CSIZE | PARENB | PARODD | CMSPAR;
    if (tcgetattr(port->fd, &now) != 0) return fail(error_from_errno(error));
    tio.c_cflag = (tio.c_cflag & ~kept) | (now.c_cflag & kept);
    if (tcsetattr(port->fd, TCSANOW, &tio) != 0) return fail(error_from_errno(error));
  }
  port->dcb = *dcb;
  port->dcb.DCBlength = sizeof(DCB);
  return TRUE;
}

BOOL WINAPI GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  auto port = port_of(handle);
  if (!port) return fail(ERROR_INVALID_HANDLE);
  if (!timeouts) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> guard(port->mutex);
  *timeouts = port->timeouts;
  return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  auto port = port_of(handle);
  if (!port) return fail(ERROR_INVALID_HANDLE);
  if (!timeouts) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> guard(port->mutex);
  port->timeouts = *timeouts;
  return TRUE;
}

BOOL WINAPI SetCommMask(HANDLE handle, DWORD mask) {
  auto port = port_of(handle);
  if (!port) return fail(ERROR_INVALID_HANDLE);
  {
    std::lock_guard<std::mutex> guard(port->mutex);
    port->mask = mask;
  }
  port->mask_generation++;
  port->wake_waiters();
  return TRUE;
}

BOOL WINAPI GetCommMask(HANDLE handle, LPDWORD mask) {
  auto port = port_of(handle);
  if (!port) return fail(ERROR_INVALID_HANDLE);
  if (!mask) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> guard(port->mutex);
  *mask = port->mask;
  return TRUE;
}

BOOL WINAPI WaitCommEvent(HANDLE handle, LPDWORD events, LPOVERLAPPED overlapped) {
  (void)overlapped;
  auto port = port_of(handle);
  if (!port) return fail(ERROR_INVALID_HANDLE);
  if (!events) return fail(ERROR_INVALID_PARAMETER);
  *events = 0;
  DWORD mask;
  {
    std::lock_guard<std::mutex> guard(port->mutex);
    mask = port->mask;
  }
  if (mask == 0) return fail(ERROR_INVALID_PARAMETER);
  const unsigned generation = port->mask_generation.load();
  for (;;) {
    if (port->mask_generation.load() != generation) return TRUE; /* released: no event */
    if ((mask & EV_RXCHAR) && port->queued() > 0) {
      *events = EV_RXCHAR;
      return TRUE;
    }
    struct pollfd p[2] = {{port->fd, POLLIN, 0}, {port->wake[0], POLLIN, 0}};
    int r = poll(p, 2, 50);
    if (r < 0 && errno != EINTR) return fail(ERROR_GEN_FAILURE);
    if (p[1].revents & POLLIN) {
      char drain[16];
      while (::read(port->wake[0], drain, sizeof drain) > 0) {
      }
    }
    /* a terminal whose other side is closed hangs up without data: wait on */
    if ((p[0].revents & POLLHUP) && !(p[0].revents & POLLIN)) usleep(20000);
  }
}

BOOL WINAPI ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  auto port = port_of(handle);
  if (!port) return fail(ERROR_INVALID_HANDLE);
  if (errors) *errors = 0;
  if (status) {
    *status = COMSTAT{};
    status->cbInQue = (DWORD)port->queued();
    int out = 0;
    if (ioctl(port->fd, TIOCOUTQ, &out) == 0 && out > 0) status->cbOutQue = (DWORD)out;
  }
  return TRUE;
}

BOOL WINAPI PurgeComm(HANDLE handle, DWORD flags) {
  auto port = port_of(handle);
  if (!port) return fail(ERROR_INVALID_HANDLE);
  if (flags & ~(DWORD)(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
    return fail(ERROR_INVALID_PARAMETER);
  if ((flags & PURGE_RXCLEAR) && (flags & PURGE_TXCLEAR))
    tcflush(port->fd, TCIOFLUSH);
  else if (flags & PURGE_RXCLEAR)
    tcflush(port->fd, TCIFLUSH);
  else if (flags & PURGE_TXCLEAR)
    tcflush(port->fd, TCOFLUSH);
  return TRUE;
}

BOOL WINAPI SetupComm(HANDLE handle, DWORD in_queue, DWORD out_queue) {
  (void)in_queue, (void)out_queue;
  if (!port_of(handle)) return fail(ERROR_INVALID_HANDLE);
  return TRUE;
}
