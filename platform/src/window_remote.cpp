/* The windows of every host process on one device root.
 *
 * Registry: <root>/.kernel/windows/ holds one small file per top-level window
 * of a process that publishes its windows ("w-" + the handle in hex): the
 * owning host process, class, title, visibility and a Z stamp (raised later =
 * larger), rewritten whole (temporary file and rename) on every change. The
 * file "foreground" there names the device's foreground window; "next" holds
 * the next window handle of the device (handles are unique across it). Every
 * publishing process keeps an exclusive flock of "p-<pid>.lock" for its life:
 * whoever can take that lock knows the process is gone and removes its
 * windows, so a process that died leaves no window behind.
 *
 * Channel: each publishing process listens on the abstract Unix socket
 * "velmar-windows-<pid>"; a request is one connection: the operation, the
 * window, the message and its arguments (WM_COPYDATA with its block), and the
 * answer comes back on it. A thread per request carries the call out with
 * the Win32 call of this process, so a send reaches the window's thread like
 * a send from another thread. The sender waits for the answer handling what
 * is sent to its own thread meanwhile, so two processes sending to each
 * other do not deadlock. */
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plat/host.h"
#include "sync.h"
#include "window_state.h"

namespace plat {

namespace {

enum Op : uint32_t { op_show = 1, op_set_pos, op_foreground, op_lose_foreground, op_post, op_send };

struct Request {
  uint32_t op = 0;
  uint64_t window = 0;
  uint32_t message = 0;
  uint64_t wparam = 0;
  int64_t lparam = 0;
  int32_t x = 0, y = 0, width = 0, height = 0;
  uint32_t flags = 0;
  int64_t insert_after = 0;
  uint64_t copy_data = 0; /* WM_COPYDATA: dwData; the block follows the request */
  uint32_t copy_bytes = 0;
  uint32_t has_copy = 0;
};

Request request(Op op, HWND window, UINT message = 0, WPARAM wparam = 0, LPARAM lparam = 0) {
  Request q;
  q.op = op;
  q.window = (uint64_t)(uintptr_t)window;
  q.message = message;
  q.wparam = (uint64_t)wparam;
  q.lparam = (int64_t)lparam;
  return q;
}

struct Answer {
  int64_t result = 0;
  uint32_t ok = 0;
  uint32_t error = 0;
};

struct Record {
  int pid = 0;
  std::u16string cls, title;
  bool visible = false;
  uint64_t z = 0;
};

std::string hex_of(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string bytes_of_hex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
  return out;
}

std::string handle_name(HWND window) {
  char name[32];
  snprintf(name, sizeof name, "w-%llx", (unsigned long long)(uintptr_t)window);
  return name;
}

bool read_file(const std::string& path, std::string* text) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[4096];
  text->clear();
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text->append(buffer, (size_t)n);
  close(fd);
  return true;
}

/* Replaces a file in one rename, so readers see the old text or the new. */
void write_file(const std::string& path, const std::string& text) {
  std::string temp = path + "." + std::to_string(getpid()) + ".tmp";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  bool ok = write(fd, text.data(), text.size()) == (ssize_t)text.size();
  close(fd);
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) unlink(temp.c_str());
}

bool parse_record(const std::string& text, Record* r) {
  char cls[1024] = {0}, title[1024] = {0};
  int visible = 0;
  unsigned long long z = 0;
  if (sscanf(text.c_str(), "pid %d\nclass %1023s\ntitle %1023s\nvisible %d\nz %llu", &r->pid, cls,
             title, &visible, &z) != 5)
    return false;
  r->cls = utf8_to_utf16(bytes_of_hex(cls[0] == '-' ? "" : cls));
  r->title = utf8_to_utf16(bytes_of_hex(title[0] == '-' ? "" : title));
  r->visible = visible != 0;
  r->z = z;
  return true;
}

uint64_t z_stamp() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (uint64_t)now.tv_sec * 1000000000ull + (uint64_t)now.tv_nsec;
}

sockaddr_un channel_address(int pid, socklen_t* length) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string name = "velmar-windows-" + std::to_string(pid);
  memcpy(address.sun_path + 1, name.data(), name.size());
  *length = (socklen_t)(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return address;
}

bool write_all(int fd, const void* data, size_t size) {
  const char* p = (const char*)data;
  while (size > 0) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= (size_t)n;
  }
  return true;
}

bool read_all(int fd, void* data, size_t size) {
  char* p = (char*)data;
  while (size > 0) {
    ssize_t n = recv(fd, p, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= (size_t)n;
  }
  return true;
}

class DeviceWindows : public RemoteWindows {
 public:
  /* ---- RemoteWindows ---- */
  bool owns(HWND window) override {
    Record r;
    return window && lookup(window, &r);
  }

  HWND find(const WCHAR* class_name, const WCHAR* title) override {
    if (class_name && IS_INTRESOURCE(class_name)) return nullptr; /* atoms are per process */
    std::string dir = folder();
    if (dir.empty()) return nullptr;
    HWND best = nullptr;
    uint64_t best_z = 0;
    std::map<int, bool> alive;
    for (const std::string& name : entries(dir)) {
      if (name.compare(0, 2, "w-") != 0 || name.find('.') != std::string::npos) continue;
      Record r;
      std::string text;
      if (!read_file(dir + "/" + name, &text) || !parse_record(text, &r) || r.pid == getpid()) continue;
      if (class_name && !equal_nocase(r.cls, class_name)) continue;
      if (title && !equal_nocase(r.title, title)) continue;
      if (!alive.count(r.pid)) alive[r.pid] = process_alive(dir, r.pid);
      if (!alive[r.pid]) continue;
      if (!best || r.z > best_z) {
        best = (HWND)(uintptr_t)strtoull(name.c_str() + 2, nullptr, 16);
        best_z = r.z;
      }
    }
    return best;
  }

  BOOL show(HWND window, int command) override {
    Request q = request(op_show, window);
    q.x = command;
    Answer a;
    return call(window, q, nullptr, &a) ? (BOOL)a.result : FALSE;
  }

  BOOL set_pos(HWND window, HWND insert_after, int x, int y, int width, int height,
               UINT flags) override {
    Request q = request(op_set_pos, window);
    q.insert_after = (int64_t)(intptr_t)insert_after;
    q.x = x, q.y = y, q.width = width, q.height = height, q.flags = flags;
    Answer a;
    return call(window, q, nullptr, &a) ? (BOOL)a.result : FALSE;
  }

  BOOL set_foreground(HWND window) override {
    Request q = request(op_foreground, window);
    Answer a;
    return call(window, q, nullptr, &a) ? (BOOL)a.result : FALSE;
  }

  HWND foreground() override {
    std::string dir = folder(), text;
    if (dir.empty() || !read_file(dir + "/foreground", &text)) return nullptr;
    HWND window = (HWND)(uintptr_t)strtoull(text.c_str(), nullptr, 16);
    Record r;
    if (!window || !lookup(window, &r)) return nullptr;
    return window;
  }

  BOOL visible(HWND window) override {
    Record r;
    return lookup(window, &r) && r.visible;
  }

  int text(HWND window, WCHAR* buffer, int max_count) override {
    Record r;
    if (!buffer || max_count <= 0) return 0;
    if (!lookup(window, &r)) {
      buffer[0] = 0;
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    size_t n = std::min(r.title.size(), (size_t)max_count - 1);
    memcpy(buffer, r.title.data(), n * sizeof(WCHAR));
    buffer[n] = 0;
    return (int)n;
  }

  BOOL post(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override {
    Request q = request(op_post, window, message, wparam, lparam);
    Answer a;
    return call(window, q, nullptr, &a) ? (BOOL)a.result : FALSE;
  }

  LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message == WM_SETTEXT || message == WM_GETTEXT || message == WM_CREATE ||
        message == WM_NCCREATE) {
      /* KNOWN_HOST_DIFFERENCE: only WM_COPYDATA's block is carried to another
       * process; Windows carries these messages' texts too. */
      SetLastError(ERROR_NOT_SUPPORTED);
      return 0;
    }
    Request q = request(op_send, window, message, wparam, lparam);
    std::string block;
    if (message == WM_COPYDATA) {
      /* The block goes by value; the receiver points lParam at its copy. */
      q.lparam = 0;
      if (const auto* data = (const COPYDATASTRUCT*)lparam) {
        q.has_copy = 1;
        q.copy_data = (uint64_t)data->dwData;
        if (data->lpData && data->cbData) block.assign((const char*)data->lpData, data->cbData);
        q.copy_bytes = (uint32_t)block.size();
      }
    }
    Answer a;
    return call(window, q, &block, &a) ? (LRESULT)a.result : 0;
  }

  uintptr_t new_handle(uintptr_t local_next) override {
    std::string dir = folder();
    if (dir.empty()) return local_next;
    int fd = open((dir + "/next").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return local_next;
    uintptr_t handle = local_next;
    if (flock(fd, LOCK_EX) == 0) {
      char text[32] = {0};
      ssize_t n = pread(fd, text, sizeof text - 1, 0);
      uintptr_t next = n > 0 ? (uintptr_t)strtoull(text, nullptr, 16) : 0;
      if (next > handle) handle = next;
      char line[32];
      int length = snprintf(line, sizeof line, "%llx", (unsigned long long)(handle + 4));
      if (ftruncate(fd, 0) != 0 || pwrite(fd, line, (size_t)length, 0) != length) {
        /* Without the shared counter the handle is still unique here. */
      }
    }
    close(fd);
    return handle;
  }

  void changed(HWND window, WindowChange change) override {
    std::string dir = folder();
    if (dir.empty()) return;
    std::string path = dir + "/" + handle_name(window);
    if (change == WindowChange::destroyed) {
      unlink(path.c_str());
      return;
    }
    Record r;
    bool raise = change == WindowChange::created || change == WindowChange::raised ||
                 change == WindowChange::foreground;
    {
      std::lock_guard<std::mutex> guard(wm().lock);
      WindowRecord* w = window_locked(window);
      if (!w || w->state != WindowState::alive) return;
      r.cls = w->cls ? w->cls->name : std::u16string();
      r.title = w->title;
      r.visible = w->visible();
    }
    if (!publishing(dir)) return;
    Record old;
    std::string text;
    if (!raise && read_file(path, &text) && parse_record(text, &old)) r.z = old.z;
    else r.z = z_stamp();
    std::string cls = hex_of(utf16_to_utf8(r.cls)), title = hex_of(utf16_to_utf8(r.title));
    write_file(path, "pid " + std::to_string(getpid()) + "\nclass " + (cls.empty() ? "-" : cls) +
                         "\ntitle " + (title.empty() ? "-" : title) + "\nvisible " +
                         (r.visible ? "1" : "0") + "\nz " + std::to_string(r.z) + "\n");
    if (change == WindowChange::foreground) claim_foreground(window);
  }

  bool claim_foreground(HWND window) override {
    std::string dir = folder();
    if (dir.empty()) return false;
    HWND previous = foreground();
    char line[32];
    snprintf(line, sizeof line, "%llx", (unsigned long long)(uintptr_t)window);
    if (previous == window) return false;
    write_file(dir + "/foreground", line);
    if (!previous) return false;
    Record r;
    if (!lookup(previous, &r) || r.pid == getpid()) return false;
    /* The other process's window is no longer the active one. */
    Request q = request(op_lose_foreground, previous);
    Answer a;
    call(previous, q, nullptr, &a);
    return true;
  }

 private:
  std::mutex lock_;
  std::map<std::string, int> alive_locks_; /* folder -> this process's p-<pid>.lock */
  int listener_pid_ = 0;

  static std::string folder() {
    std::string kernel = kernel_folder();
    if (kernel.empty()) return std::string();
    std::string dir = kernel + "/windows";
    mkdir(dir.c_str(), 0755);
    return dir;
  }

  static std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d)) names.push_back(e->d_name);
      closedir(d);
    }
    return names;
  }

  /* A process of the device holds its lock; a gone one's windows are removed. */
  bool process_alive(const std::string& dir, int pid) {
    if (pid == getpid()) return true;
    std::string path = dir + "/p-" + std::to_string(pid) + ".lock";
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
      bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
      close(fd);
      if (held) return true;
    }
    remove_windows_of(dir, pid);
    return false;
  }

  static void remove_windows_of(const std::string& dir, int pid) {
    for (const std::string& name : entries(dir)) {
      if (name.compare(0, 2, "w-") != 0 || name.find('.') != std::string::npos) continue;
      Record r;
      std::string text;
      if (read_file(dir + "/" + name, &text) && parse_record(text, &r) && r.pid == pid)
        unlink((dir + "/" + name).c_str());
    }
    unlink((dir + "/p-" + std::to_string(pid) + ".lock").c_str());
  }

  /* The record of a window of a live process other than this one. */
  bool lookup(HWND window, Record* r) {
    std::string dir = folder(), text;
    if (dir.empty() || !window) return false;
    if (!read_file(dir + "/" + handle_name(window), &text) || !parse_record(text, r)) return false;
    return r->pid != getpid() && process_alive(dir, r->pid);
  }

  /* Before this process's first window of a folder: its life lock there, and
   * the channel that other processes reach it by. */
  bool publishing(const std::string& dir) {
    std::lock_guard<std::mutex> guard(lock_);
    if (listener_pid_ != getpid()) {
      /* A forked child has neither the parent's thread nor its locks. */
      alive_locks_.clear();
      if (!start_listener()) return false;
      listener_pid_ = getpid();
    }
    if (alive_locks_.count(dir)) return true;
    std::string path = dir + "/p-" + std::to_string(getpid()) + ".lock";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (fd >= 0) close(fd);
      return false;
    }
    alive_locks_[dir] = fd;
    return true;
  }

  static bool start_listener() {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    socklen_t length;
    sockaddr_un address = channel_address(getpid(), &length);
    if (bind(fd, (sockaddr*)&address, length) != 0 || listen(fd, 64) != 0) {
      close(fd);
      return false;
    }
    std::thread([fd] {
      for (;;) {
        int connection = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
          if (errno == EINTR || errno == ECONNABORTED) continue;
          return;
        }
        std::thread(serve, connection).detach();
      }
    }).detach();
    return true;
  }

  /* One request from another process, carried out here. */
  static void serve(int connection) {
    Request q;
    std::string block;
    if (read_all(connection, &q, sizeof q)) {
      block.resize(q.copy_bytes);
      if (q.copy_bytes == 0 || read_all(connection, &block[0], q.copy_bytes)) {
        Answer a = carry_out(q, &block);
        write_all(connection, &a, sizeof a);
      }
    }
    close(connection);
  }

  static Answer carry_out(const Request& q, std::string* block) {
    Answer a;
    HWND window = (HWND)(uintptr_t)q.window;
    bool local;
    {
      std::lock_guard<std::mutex> guard(wm().lock);
      local = window_locked(window) != nullptr;
    }
    if (!local) {
      a.error = ERROR_INVALID_WINDOW_HANDLE;
      return a;
    }
    a.ok = 1;
    switch (q.op) {
      case op_show:
        a.result = ShowWindow(window, q.x);
        break;
      case op_set_pos:
        a.result = SetWindowPos(window, (HWND)(intptr_t)q.insert_after, q.x, q.y, q.width, q.height,
                                q.flags);
        break;
      case op_foreground:
        a.result = SetForegroundWindow(window);
        break;
      case op_lose_foreground:
        lose_foreground(window);
        break;
      case op_post:
        a.result = PostMessageW(window, q.message, (WPARAM)q.wparam, (LPARAM)q.lparam);
        break;
      case op_send: {
        COPYDATASTRUCT copy{};
        LPARAM lparam = (LPARAM)q.lparam;
        if (q.message == WM_COPYDATA && q.has_copy) {
          copy.dwData = (ULONG_PTR)q.copy_data;
          copy.cbData = q.copy_bytes;
          copy.lpData = q.copy_bytes ? &(*block)[0] : nullptr;
          lparam = (LPARAM)&copy;
        }
        a.result = SendMessageW(window, q.message, (WPARAM)q.wparam, lparam);
        break;
      }
      default:
        a.ok = 0;
        a.error = ERROR_INVALID_PARAMETER;
    }
    if (!a.ok) return a;
    if (!a.error && q.op != op_send && q.op != op_lose_foreground && !a.result) a.error = GetLastError();
    return a;
  }

  /* Sends a request to the process that owns the window and waits for its
   * answer, handling messages sent to this thread meanwhile. */
  bool call(HWND window, const Request& q, const std::string* block, Answer* a) {
    Record r;
    if (!lookup(window, &r)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t length;
    sockaddr_un address = channel_address(r.pid, &length);
    bool ok = fd >= 0 && connect(fd, (sockaddr*)&address, length) == 0 &&
              write_all(fd, &q, sizeof q) && (!block || block->empty() || write_all(fd, block->data(), block->size()));
    if (ok && q.op == op_send) {
      for (;;) {
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, 1);
        if (ready > 0) break;
        if (ready < 0 && errno != EINTR) break;
        handle_sent_messages();
      }
    }
    ok = ok && read_all(fd, a, sizeof *a);
    if (fd >= 0) close(fd);
    if (!ok) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    if (!a->ok || a->error) SetLastError(a->error);
    return a->ok != 0;
  }
};

}  // namespace

RemoteWindows* device_windows() {
  static DeviceWindows* windows = new DeviceWindows;
  return windows;
}

}  // namespace plat
