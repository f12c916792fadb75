/* Handle-based files, folders, attributes, times, searches and locks over the
 * device root: device paths are resolved component by component, each
 * matched case-insensitively against the host folder's entries. */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "file_internal.h"
#include "handles.h"
#include "plat/files.h"
#include "plat/host.h"
#include "plat/kernel.h"
#include "sync.h"

namespace plat {
namespace {

/* Extended attributes that keep what the host file system has no place for. */
const char kAttributesName[] = "user.velmar.attributes";
const char kCreationName[] = "user.velmar.creation";
const DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

/* 100 ns intervals from 1601-01-01 to 1970-01-01. */
const int64_t kUnixEpoch = 116444736000000000LL;

std::mutex state_mutex;
std::string root_dir;
std::u16string module_path;

/* ---- Case folding: ASCII and the cased letters of Latin-1, Latin
 * Extended-A, Greek, Cyrillic and the fullwidth forms, folded to upper. ---- */
char16_t fold(char16_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? (char16_t)(c - 32) : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return (char16_t)(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x137) return (char16_t)(c & ~1u);
  if (c >= 0x139 && c <= 0x148) return (c & 1) ? c : (char16_t)(c - 1);
  if (c >= 0x14A && c <= 0x177) return (char16_t)(c & ~1u);
  if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c : (char16_t)(c - 1);
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x3B1 && c <= 0x3C9) return (char16_t)(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return (char16_t)(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return (char16_t)(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A) return (char16_t)(c - 0x20);
  return c;
}

std::u16string folded(const std::u16string& s) {
  std::u16string out(s);
  for (auto& c : out) c = fold(c);
  return out;
}

bool is_separator(WCHAR c) { return c == '\\' || c == '/'; }

/* ---- Device paths ---- */

struct Resolved {
  DWORD error = 0;
  std::string host;        /* the whole host path */
  std::string parent;      /* the host folder that holds it */
  std::string leaf;        /* its name in that folder (as found, or as given) */
  std::u16string pattern;  /* the last component as given */
  bool root = false;       /* the path names the device root itself */
  bool parent_ok = false;  /* the parent is an existing folder */
  bool exists = false;
  struct stat st {};
};

/* Splits a device path into components; "." and ".." are applied here, so
 * that no path leaves the device root. */
DWORD split(const WCHAR* path, bool wildcards, std::vector<std::u16string>* parts) {
  if (!path) return ERROR_INVALID_PARAMETER;
  if (!*path) return ERROR_PATH_NOT_FOUND;
  std::u16string part;
  auto flush = [&]() -> DWORD {
    if (part.empty() || part == u".") {
    } else if (part == u"..") {
      if (!parts->empty()) parts->pop_back();
    } else {
      parts->push_back(part);
    }
    part.clear();
    return 0;
  };
  for (const WCHAR* p = path;; p++) {
    if (!*p || is_separator(*p)) {
      flush();
      if (!*p) break;
      continue;
    }
    part += *p;
  }
  for (size_t i = 0; i < parts->size(); i++) {
    bool last = i + 1 == parts->size();
    for (char16_t c : (*parts)[i]) {
      if (c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|')
        return ERROR_INVALID_NAME;
      if ((c == '*' || c == '?') && !(wildcards && last)) return ERROR_INVALID_NAME;
    }
  }
  return 0;
}

/* The entry of dir whose name equals name case-insensitively; empty if none. */
std::string match_entry(const std::string& dir, const std::u16string& name) {
  std::string exact = utf16_to_utf8(name);
  struct stat st;
  if (lstat((dir + "/" + exact).c_str(), &st) == 0) return exact;
  DIR* d = opendir(dir.c_str());
  if (!d) return std::string();
  std::u16string want = folded(name);
  std::string found;
  while (struct dirent* e = readdir(d)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    if (folded(utf8_to_utf16(e->d_name)) == want) {
      found = e->d_name;
      break;
    }
  }
  closedir(d);
  return found;
}

Resolved resolve(const WCHAR* path, bool wildcards = false) {
  Resolved r;
  std::string root = device_root();
  std::vector<std::u16string> parts;
  r.error = split(path, wildcards, &parts);
  if (r.error) return r;
  if (root.empty()) {
    r.error = ERROR_PATH_NOT_FOUND;
    return r;
  }
  if (parts.empty()) {
    r.root = true;
    r.host = root;
    r.exists = stat(root.c_str(), &r.st) == 0;
    return r;
  }
  std::string dir = root;
  bool dir_ok = true;
  for (size_t i = 0; i < parts.size(); i++) {
    bool last = i + 1 == parts.size();
    std::string name;
    if (dir_ok && !(last && wildcards)) name = match_entry(dir, parts[i]);
    bool found = !name.empty();
    if (!found) name = utf16_to_utf8(parts[i]);
    std::string next = dir + "/" + name;
    if (last) {
      r.parent = dir;
      r.parent_ok = dir_ok;
      r.leaf = name;
      r.pattern = parts[i];
      r.host = next;
      r.exists = found && stat(next.c_str(), &r.st) == 0;
    } else if (dir_ok) {
      struct stat st;
      dir_ok = found && stat(next.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    dir = next;
  }
  return r;
}

/* The error for a path that does not exist. */
DWORD missing(const Resolved& r) {
  return r.parent_ok ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool read_only(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

/* ---- Kept attributes and times ---- */

bool kept_attributes(const std::string& path, int fd, DWORD* value) {
  uint8_t b[4];
  ssize_t n = fd >= 0 ? fgetxattr(fd, kAttributesName, b, sizeof b)
                      : getxattr(path.c_str(), kAttributesName, b, sizeof b);
  if (n != 4) return false;
  *value = (DWORD)b[0] | (DWORD)b[1] << 8 | (DWORD)b[2] << 16 | (DWORD)b[3] << 24;
  return true;
}

bool keep_attributes(const std::string& path, int fd, DWORD value) {
  uint8_t b[4] = {(uint8_t)value, (uint8_t)(value >> 8), (uint8_t)(value >> 16),
                  (uint8_t)(value >> 24)};
  int rc = fd >= 0 ? fsetxattr(fd, kAttributesName, b, sizeof b, 0)
                   : setxattr(path.c_str(), kAttributesName, b, sizeof b, 0);
  return rc == 0;
}

DWORD attributes_of(const std::string& path, const struct stat& st) {
  DWORD kept = 0;
  bool has = kept_attributes(path, -1, &kept);
  if (S_ISDIR(st.st_mode))
    return FILE_ATTRIBUTE_DIRECTORY | (has ? kept & (kKeptAttributes | FILE_ATTRIBUTE_READONLY) : 0);
  DWORD a = has ? kept & kKeptAttributes : FILE_ATTRIBUTE_ARCHIVE;
  if (read_only(st)) a |= FILE_ATTRIBUTE_READONLY;
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

FILETIME to_filetime(int64_t seconds, long nanoseconds) {
  int64_t v = seconds * 10000000LL + nanoseconds / 100 + kUnixEpoch;
  FILETIME ft;
  ft.dwLowDateTime = (DWORD)(uint64_t)v;
  ft.dwHighDateTime = (DWORD)((uint64_t)v >> 32);
  return ft;
}

int64_t filetime_value(const FILETIME& ft) {
  return (int64_t)(((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime);
}

struct timespec to_timespec(const FILETIME& ft) {
  int64_t v = filetime_value(ft) - kUnixEpoch;
  int64_t seconds = v / 10000000LL;
  int64_t rest = v % 10000000LL;
  if (rest < 0) {
    rest += 10000000LL;
    seconds--;
  }
  struct timespec ts;
  ts.tv_sec = (time_t)seconds;
  ts.tv_nsec = (long)(rest * 100);
  return ts;
}

/* The creation time: the one set by SetFileTime, else the host's birth time,
 * else the last change of the data. */
FILETIME creation_time(const std::string& path, int fd, const struct stat& st) {
  uint8_t b[8];
  ssize_t n = fd >= 0 ? fgetxattr(fd, kCreationName, b, sizeof b)
                      : getxattr(path.c_str(), kCreationName, b, sizeof b);
  if (n == 8) {
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)b[0] | (DWORD)b[1] << 8 | (DWORD)b[2] << 16 | (DWORD)b[3] << 24;
    ft.dwHighDateTime = (DWORD)b[4] | (DWORD)b[5] << 8 | (DWORD)b[6] << 16 | (DWORD)b[7] << 24;
    return ft;
  }
  struct statx sx;
  int rc = fd >= 0 ? statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx)
                   : statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx);
  if (rc == 0 && (sx.stx_mask & STATX_BTIME)) return to_filetime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
  return to_filetime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

/* ---- Named devices ---- */

std::mutex device_mutex;
std::map<std::u16string, DeviceOpen>& devices() {
  static std::map<std::u16string, DeviceOpen> table;
  return table;
}

/* "COM13:" or "\COM13:": a name ending in a colon, without separators; or
 * "\$device\COM13", the device namespace's form of "COM13:". */
bool device_name(const WCHAR* path, std::u16string* name) {
  if (!path) return false;
  while (is_separator(*path)) path++;
  std::u16string s(path);
  static const std::u16string space = u"$DEVICE";
  if (s.size() > space.size() + 1 && folded(s.substr(0, space.size())) == space &&
      is_separator(s[space.size()]))
    s = s.substr(space.size() + 1) + u":";
  if (s.size() < 2 || s.back() != ':') return false;
  for (size_t i = 0; i + 1 < s.size(); i++) {
    char16_t c = s[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  *name = folded(s);
  return true;
}

/* ---- Files and their locks ---- */

struct FileObject;

struct Lock {
  const FileObject* owner;
  uint64_t offset, length;
  bool exclusive;
};

bool overlap(uint64_t a, uint64_t alen, uint64_t b, uint64_t blen) {
  if (alen == 0 || blen == 0) return false;
  uint64_t aend = a + alen < a ? UINT64_MAX : a + alen;
  uint64_t bend = b + blen < b ? UINT64_MAX : b + blen;
  return a < bend && b < aend;
}

struct LockTable {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::pair<dev_t, ino_t>, std::vector<Lock>> files;
};

LockTable& lock_table() {
  static LockTable table;
  return table;
}

struct FileObject : KernelObject {
  int fd = -1;
  bool can_read = false, can_write = false;
  dev_t dev = 0;
  ino_t ino = 0;
  int lock_fd = -1;      /* carries this handle's fcntl locks */
  int share_fd = -1;     /* carries this handle's access and share mode */
  bool archive_marked = false;
  ~FileObject() override;
};

/* ---- Share modes ----
 *
 * What the open handles of a file, in every process of the device, may do
 * and let others do is kept in <root>/.kernel/share/<dev>-<ino>: each handle
 * holds shared OFD locks (through a descriptor of its own, closed with the
 * handle, or by the end of its process) on the bytes of what it has and
 * what it denies. A byte that another descriptor locks is held by another
 * handle. Checks and changes are made under an exclusive flock of the file.
 * Streams opened by _wfopen take no part (KNOWN_HOST_DIFFERENCE: on Windows
 * they share reading and writing, but not deletion). */
enum ShareByte { has_read, has_write, denies_read, denies_write, denies_delete, share_bytes };

std::string share_path(dev_t dev, ino_t ino) {
  std::string dir = kernel_folder();
  if (dir.empty()) return std::string();
  dir += "/share";
  char name[64];
  snprintf(name, sizeof name, "/%llx-%llx", (unsigned long long)dev, (unsigned long long)ino);
  return dir + name;
}

/* The share file of a file, under its exclusive flock; -1 when there is
 * none (no device root, or `create` false and nobody has the file open). */
int share_lock(const std::string& path, bool create) {
  if (path.empty()) return -1;
  for (;;) {
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (fd < 0 && create && errno == ENOENT) {
      /* The device's first shared open: its folder is made once. */
      mkdir(path.substr(0, path.rfind('/')).c_str(), 0755);
      fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_CREAT, 0644);
    }
    if (fd < 0) return -1;
    struct stat mine, named;
    if (flock(fd, LOCK_EX) == 0 && fstat(fd, &mine) == 0 && stat(path.c_str(), &named) == 0 &&
        mine.st_ino == named.st_ino)
      return fd;
    close(fd); /* removed by its last user meanwhile: the next one is new */
  }
}

bool share_byte_held(int fd, int byte) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  return fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

/* Under the share file's flock: removes it when no handle holds a byte. */
void share_unlock(const std::string& path, int fd) {
  bool used = false;
  for (int b = 0; b < share_bytes && !used; b++) used = share_byte_held(fd, b);
  if (!used) unlink(path.c_str());
  close(fd);
}

/* Enters a new handle's access and share mode, or refuses it with
 * ERROR_SHARING_VIOLATION when it conflicts with an open handle. Returns 0 and
 * the handle's descriptor of the share file (or -1 without a device root). */
DWORD share_enter(dev_t dev, ino_t ino, bool read, bool write, DWORD share, int* share_fd) {
  *share_fd = -1;
  std::string path = share_path(dev, ino);
  int fd = share_lock(path, true);
  if (fd < 0) return 0;
  bool conflict = (read && share_byte_held(fd, denies_read)) ||
                  (write && share_byte_held(fd, denies_write)) ||
                  (!(share & FILE_SHARE_READ) && share_byte_held(fd, has_read)) ||
                  (!(share & FILE_SHARE_WRITE) && share_byte_held(fd, has_write));
  if (conflict) {
    share_unlock(path, fd);
    return ERROR_SHARING_VIOLATION;
  }
  int own = open(path.c_str(), O_RDWR | O_CLOEXEC);
  auto hold = [own](int byte) {
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    fcntl(own, F_OFD_SETLK, &fl);
  };
  if (own >= 0) {
    if (read) hold(has_read);
    if (write) hold(has_write);
    if (!(share & FILE_SHARE_READ)) hold(denies_read);
    if (!(share & FILE_SHARE_WRITE)) hold(denies_write);
    if (!(share & FILE_SHARE_DELETE)) hold(denies_delete);
  }
  close(fd);
  *share_fd = own;
  return 0;
}

/* Whether a file may be deleted or renamed: no open handle denies it. */
bool share_allows_delete(const struct stat& st) {
  std::string path = share_path(st.st_dev, st.st_ino);
  int fd = share_lock(path, false);
  if (fd < 0) return true;
  bool denied = share_byte_held(fd, denies_delete);
  share_unlock(path, fd);
  return !denied;
}

FileObject::~FileObject() {
  LockTable& t = lock_table();
  {
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.files.find({dev, ino});
    if (it != t.files.end()) {
      auto& v = it->second;
      v.erase(std::remove_if(v.begin(), v.end(), [this](const Lock& l) { return l.owner == this; }),
              v.end());
      if (v.empty()) t.files.erase(it);
    }
  }
  t.changed.notify_all();
  if (lock_fd >= 0 && lock_fd != fd) close(lock_fd);
  if (share_fd >= 0) {
    close(share_fd);
    std::string path = share_path(dev, ino);
    int locked = share_lock(path, false);
    if (locked >= 0) share_unlock(path, locked);
  }
  if (fd >= 0) close(fd);
}

/* Checks an access to [offset, offset + size) through f against the locks of
 * the other handles (shared locks keep everyone from writing). */
bool access_allowed(const FileObject* f, uint64_t offset, uint64_t size, bool write) {
  LockTable& t = lock_table();
  std::lock_guard<std::mutex> guard(t.mutex);
  auto it = t.files.find({f->dev, f->ino});
  if (it == t.files.end()) return true;
  for (const Lock& l : it->second) {
    if (!overlap(l.offset, l.length, offset, size)) continue;
    if (l.exclusive ? l.owner != f : write) return false;
  }
  return true;
}

/* Sets or clears an fcntl lock on the open file description of the handle. */
bool host_lock(FileObject* f, short type, uint64_t offset, uint64_t length, bool wait) {
  if (length == 0 || offset > (uint64_t)INT64_MAX) return true;
  if (f->lock_fd < 0) {
    /* A descriptor of its own with both accesses, so that an exclusive lock
     * can be taken through a handle that only reads. */
    std::string self = "/proc/self/fd/" + std::to_string(f->fd);
    f->lock_fd = open(self.c_str(), O_RDWR | O_CLOEXEC);
    if (f->lock_fd < 0) f->lock_fd = f->fd;
  }
  if (f->lock_fd == f->fd && type != F_UNLCK) type = f->can_write ? F_WRLCK : F_RDLCK;
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = (off_t)offset;
  fl.l_len = length > (uint64_t)INT64_MAX - offset ? 0 : (off_t)length;
  int rc;
  do {
    rc = fcntl(f->lock_fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

DWORD lock_range(FileObject* f, uint64_t offset, uint64_t length, bool exclusive, bool wait) {
  LockTable& t = lock_table();
  std::unique_lock<std::mutex> guard(t.mutex);
  auto conflicts = [&]() {
    auto it = t.files.find({f->dev, f->ino});
    if (it == t.files.end()) return false;
    for (const Lock& l : it->second)
      if ((exclusive || l.exclusive) && overlap(l.offset, l.length, offset, length)) return true;
    return false;
  };
  while (conflicts()) {
    if (!wait) return ERROR_LOCK_VIOLATION;
    t.changed.wait(guard);
  }
  /* Entered before the host lock is taken, so that this process's other
   * threads see it while a blocking host lock waits. */
  t.files[{f->dev, f->ino}].push_back(Lock{f, offset, length, exclusive});
  guard.unlock();
  bool ok = host_lock(f, exclusive ? F_WRLCK : F_RDLCK, offset, length, wait);
  if (ok) return 0;
  guard.lock();
  auto& v = t.files[{f->dev, f->ino}];
  for (auto it = v.begin(); it != v.end(); ++it) {
    if (it->owner == f && it->offset == offset && it->length == length) {
      v.erase(it);
      break;
    }
  }
  guard.unlock();
  t.changed.notify_all();
  return ERROR_LOCK_VIOLATION;
}

DWORD unlock_range(FileObject* f, uint64_t offset, uint64_t length) {
  LockTable& t = lock_table();
  std::vector<Lock> still;
  {
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.files.find({f->dev, f->ino});
    if (it == t.files.end()) return ERROR_NOT_LOCKED;
    auto& v = it->second;
    auto l = std::find_if(v.begin(), v.end(), [&](const Lock& x) {
      return x.owner == f && x.offset == offset && x.length == length;
    });
    if (l == v.end()) return ERROR_NOT_LOCKED;
    v.erase(l);
    for (const Lock& x : v)
      if (x.owner == f && overlap(x.offset, x.length, offset, length)) still.push_back(x);
    if (v.empty()) t.files.erase(it);
    host_lock(f, F_UNLCK, offset, length, false);
    /* Overlapping shared locks of this handle share one host range. */
    for (const Lock& x : still) host_lock(f, x.exclusive ? F_WRLCK : F_RDLCK, x.offset, x.length, false);
  }
  t.changed.notify_all();
  return 0;
}

/* Marks a file written through a handle as changed, as the archive bit does. */
void mark_archive(FileObject* f) {
  if (f->archive_marked) return;
  f->archive_marked = true;
  DWORD kept;
  if (kept_attributes(std::string(), f->fd, &kept) && !(kept & FILE_ATTRIBUTE_ARCHIVE))
    keep_attributes(std::string(), f->fd, kept | FILE_ATTRIBUTE_ARCHIVE);
}

std::shared_ptr<FileObject> file_of(HANDLE h) { return handle_get_as<FileObject>(h); }

/* ---- Searches ---- */

struct FindObject : KernelObject {
  std::vector<WIN32_FIND_DATAW> entries;
  size_t next = 0;
};

/* Wildcard match over folded names: "*" any run, "?" one character; a
 * trailing ".*" also matches a name without a dot. */
bool wildcard(const char16_t* p, const char16_t* n) {
  const char16_t* star = nullptr;
  const char16_t* resume = nullptr;
  while (*n) {
    if (*p == '*') {
      star = p++;
      resume = n;
    } else if (*p == '?' || *p == *n) {
      p++;
      n++;
    } else if (star) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') p++;
  if (p[0] == '.' && p[1] == '*') {
    p += 2;
    while (*p == '*') p++;
  }
  return !*p;
}

bool fill_find_data(const std::string& dir, const std::string& name, WIN32_FIND_DATAW* data) {
  std::string path = dir + "/" + name;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  std::u16string wide = utf8_to_utf16(name);
  if (wide.size() >= MAX_PATH) return false;
  memset(data, 0, sizeof *data);
  data->dwFileAttributes = attributes_of(path, st);
  data->ftCreationTime = creation_time(path, -1, st);
  data->ftLastAccessTime = to_filetime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  data->ftLastWriteTime = to_filetime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  if (!S_ISDIR(st.st_mode)) {
    data->nFileSizeHigh = (DWORD)((uint64_t)st.st_size >> 32);
    data->nFileSizeLow = (DWORD)(uint64_t)st.st_size;
  }
  memcpy(data->cFileName, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
  return true;
}

/* Makes the rename durable: the file and the folders around it. */
void sync_path(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

std::string parent_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

/* ---- Host side ---- */

void set_device_root(const std::string& host_dir) {
  std::string dir = host_dir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  std::lock_guard<std::mutex> guard(state_mutex);
  root_dir = dir;
}

const std::string& device_root() { return root_dir; }

/* Without a device root there is no file system: every path maps to "". */
std::string host_path(const WCHAR* device_path) {
  Resolved r = resolve(device_path);
  return r.error ? std::string() : r.host;
}

void set_module_path(const std::u16string& device_path) {
  std::lock_guard<std::mutex> guard(state_mutex);
  module_path = device_path;
}

void register_device(const std::u16string& name, DeviceOpen open) {
  std::lock_guard<std::mutex> guard(device_mutex);
  devices()[folded(name)] = std::move(open);
}

void unregister_device(const std::u16string& name) {
  std::lock_guard<std::mutex> guard(device_mutex);
  devices().erase(folded(name));
}

DWORD error_from_errno(int e) {
  switch (e) {
    case 0: return 0;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBUSY: return ERROR_BUSY;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    default: return ERROR_GEN_FAILURE;
  }
}

int open_device_file(const WCHAR* path, int flags, DWORD* error) {
  auto refuse = [&](DWORD code, int e) {
    *error = code;
    errno = e;
    return -1;
  };
  Resolved r = resolve(path);
  if (r.error) return refuse(r.error, r.error == ERROR_INVALID_NAME ? EINVAL : ENOENT);
  if (r.root) return refuse(ERROR_ACCESS_DENIED, EACCES);
  if (!r.parent_ok) return refuse(ERROR_PATH_NOT_FOUND, ENOENT);
  bool writes = (flags & O_ACCMODE) != O_RDONLY || (flags & O_TRUNC);
  if (r.exists) {
    if (S_ISDIR(r.st.st_mode)) return refuse(ERROR_ACCESS_DENIED, EACCES);
    if ((flags & O_CREAT) && (flags & O_EXCL)) return refuse(ERROR_FILE_EXISTS, EEXIST);
    if (writes && read_only(r.st)) return refuse(ERROR_ACCESS_DENIED, EACCES);
  } else if (!(flags & O_CREAT)) {
    return refuse(ERROR_FILE_NOT_FOUND, ENOENT);
  }
  int fd = open(r.host.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) {
    int e = errno;
    return refuse(e == EEXIST ? ERROR_FILE_EXISTS : error_from_errno(e), e);
  }
  *error = 0;
  return fd;
}

std::u16string device_path_key(const std::u16string& path) {
  std::u16string key = u"\\";
  for (char16_t c : path) {
    if (c == u'/') c = u'\\';
    if (c == u'\\' && key.back() == u'\\') continue;
    if (c >= u'A' && c <= u'Z') c = (char16_t)(c - u'A' + u'a');
    key += c;
  }
  return key;
}

}  // namespace plat

using namespace plat;

/* ---- Files ---- */

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags_and_attributes, HANDLE template_file) {
  (void)security, (void)template_file;
  std::u16string device;
  if (device_name(path, &device)) {
    DeviceOpen open;
    {
      std::lock_guard<std::mutex> guard(device_mutex);
      auto it = devices().find(device);
      if (it != devices().end()) open = it->second;
    }
    if (!open) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_FILE_NOT_FOUND;
    std::shared_ptr<DeviceHandle> handle = open(access, share, &error);
    if (!handle) {
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
    return handle_open(handle);
  }

  bool want_read = (access & (GENERIC_READ | GENERIC_ALL | GENERIC_EXECUTE | 0x0001)) != 0;
  bool want_write = (access & (GENERIC_WRITE | GENERIC_ALL | 0x0002 | 0x0004)) != 0;
  auto refuse = [](DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return refuse(ERROR_INVALID_PARAMETER);
  if (disposition == TRUNCATE_EXISTING && !want_write) return refuse(ERROR_INVALID_PARAMETER);

  Resolved r = resolve(path);
  if (r.error) return refuse(r.error);
  if (r.root) return refuse(ERROR_ACCESS_DENIED);
  if (!r.parent_ok) return refuse(ERROR_PATH_NOT_FOUND);

  int base = want_write ? (want_read ? O_RDWR : O_WRONLY) : O_RDONLY;
  base |= O_CLOEXEC;
  if (flags_and_attributes & FILE_FLAG_WRITE_THROUGH) base |= O_DSYNC;
  int fd = -1;
  bool existed = false;
  const bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  /* Open the existing file, or create a new one; retried when another
   * process creates or removes the file in between. */
  for (int attempt = 0; attempt < 8 && fd < 0; attempt++) {
    struct stat st;
    bool exists = r.exists || stat(r.host.c_str(), &st) == 0;
    if (r.exists) st = r.st;
    r.exists = false;
    if (exists) {
      if (disposition == CREATE_NEW) return refuse(ERROR_FILE_EXISTS);
      if (S_ISDIR(st.st_mode)) return refuse(ERROR_ACCESS_DENIED);
      if ((want_write || truncates) && read_only(st)) return refuse(ERROR_ACCESS_DENIED);
      /* Truncated only once the share modes allow the open. */
      fd = open(r.host.c_str(), base);
      if (fd >= 0) existed = true;
      else if (errno != ENOENT) return refuse(error_from_errno(errno));
    } else {
      if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
        return refuse(ERROR_FILE_NOT_FOUND);
      fd = open(r.host.c_str(), base | O_CREAT | O_EXCL, 0666);
      if (fd < 0 && errno != EEXIST) return refuse(error_from_errno(errno));
      if (fd < 0 && disposition == CREATE_NEW) return refuse(ERROR_FILE_EXISTS);
      if (fd >= 0) {
        DWORD kept = flags_and_attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        if (kept) keep_attributes(std::string(), fd, kept | FILE_ATTRIBUTE_ARCHIVE);
        if (flags_and_attributes & FILE_ATTRIBUTE_READONLY) {
          struct stat now;
          if (fstat(fd, &now) == 0) fchmod(fd, now.st_mode & ~(mode_t)0222);
        }
      }
    }
  }
  if (fd < 0) return refuse(ERROR_ACCESS_DENIED);

  auto file = std::make_shared<FileObject>();
  file->fd = fd;
  file->can_read = want_read;
  file->can_write = want_write;
  struct stat st;
  if (fstat(fd, &st) == 0) {
    file->dev = st.st_dev;
    file->ino = st.st_ino;
  }
  DWORD refused = share_enter(file->dev, file->ino, want_read, want_write, share, &file->share_fd);
  if (refused) return refuse(refused);
  if (existed && truncates && ftruncate(fd, 0) != 0) return refuse(error_from_errno(errno));
  HANDLE h = handle_open(file);
  if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
    SetLastError(existed ? ERROR_ALREADY_EXISTS : 0);
  return h;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read_count,
                     LPOVERLAPPED overlapped) {
  if (read_count) *read_count = 0;
  std::shared_ptr<FileObject> f = file_of(handle);
  if (!f) {
    auto device = handle_get_as<DeviceHandle>(handle);
    if (!device) return fail(ERROR_INVALID_HANDLE);
    DWORD done = 0;
    DWORD error = device->read(buffer, size, &done);
    if (read_count) *read_count = done;
    return error ? fail(error) : TRUE;
  }
  if (!f->can_read) return fail(ERROR_ACCESS_DENIED);
  if (size && !buffer) return fail(ERROR_INVALID_PARAMETER);
  off_t at = overlapped ? (off_t)(((uint64_t)overlapped->OffsetHigh << 32) | overlapped->Offset)
                        : lseek(f->fd, 0, SEEK_CUR);
  if (at < 0) return fail(error_from_errno(errno));
  if (!access_allowed(f.get(), (uint64_t)at, size, false)) return fail(ERROR_LOCK_VIOLATION);
  if (overlapped && lseek(f->fd, at, SEEK_SET) < 0) return fail(error_from_errno(errno));
  DWORD done = 0;
  while (done < size) {
    ssize_t n = read(f->fd, (char*)buffer + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (read_count) *read_count = done;
      return fail(error_from_errno(errno));
    }
    if (n == 0) break;
    done += (DWORD)n;
  }
  if (read_count) *read_count = done;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD size, LPDWORD written,
                      LPOVERLAPPED overlapped) {
  if (written) *written = 0;
  std::shared_ptr<FileObject> f = file_of(handle);
  if (!f) {
    auto device = handle_get_as<DeviceHandle>(handle);
    if (!device) return fail(ERROR_INVALID_HANDLE);
    DWORD done = 0;
    DWORD error = device->write(buffer, size, &done);
    if (written) *written = done;
    return error ? fail(error) : TRUE;
  }
  if (!f->can_write) return fail(ERROR_ACCESS_DENIED);
  if (size && !buffer) return fail(ERROR_INVALID_PARAMETER);
  off_t at = overlapped ? (off_t)(((uint64_t)overlapped->OffsetHigh << 32) | overlapped->Offset)
                        : lseek(f->fd, 0, SEEK_CUR);
  if (at < 0) return fail(error_from_errno(errno));
  if (!access_allowed(f.get(), (uint64_t)at, size, true)) return fail(ERROR_LOCK_VIOLATION);
  if (overlapped && lseek(f->fd, at, SEEK_SET) < 0) return fail(error_from_errno(errno));
  if (size == 0) return TRUE;
  mark_archive(f.get());
  DWORD done = 0;
  while (done < size) {
    ssize_t n = write(f->fd, (const char*)buffer + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (written) *written = done;
      return fail(error_from_errno(errno));
    }
    done += (DWORD)n;
  }
  if (written) *written = done;
  return TRUE;
}

static bool move_pointer(FileObject* f, int64_t distance, DWORD method, int64_t* position,
                         DWORD* error) {
  int64_t base;
  if (method == FILE_BEGIN) {
    base = 0;
  } else if (method == FILE_CURRENT) {
    base = lseek(f->fd, 0, SEEK_CUR);
  } else if (method == FILE_END) {
    struct stat st;
    base = fstat(f->fd, &st) == 0 ? (int64_t)st.st_size : -1;
  } else {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  if (base < 0) {
    *error = error_from_errno(errno);
    return false;
  }
  if ((distance > 0 && base > INT64_MAX - distance)) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  int64_t target = base + distance;
  if (target < 0) {
    *error = ERROR_NEGATIVE_SEEK;
    return false;
  }
  *position = target;
  return true;
}

DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, PLONG distance_high, DWORD method) {
  std::shared_ptr<FileObject> f = file_of(handle);
  if (!f) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t move = distance_high ? (int64_t)(((uint64_t)(uint32_t)*distance_high << 32) | (uint32_t)distance)
                               : (int64_t)distance;
  int64_t target = 0;
  DWORD error = 0;
  if (!move_pointer(f.get(), move, method, &target, &error) ||
      (!distance_high && target > (int64_t)0xFFFFFFFE && (error = ERROR_INVALID_PARAMETER))) {
    SetLastError(error);
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(f->fd, (off_t)target, SEEK_SET) < 0) {
    SetLastError(error_from_errno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distance_high) *distance_high = (LONG)(uint32_t)((uint64_t)target >> 32);
  DWORD low = (DWORD)(uint64_t)target;
  if (low == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
  return low;
}

BOOL WINAPI SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, PLARGE_INTEGER new_position,
                             DWORD method) {
  std::shared_ptr<FileObject> f = file_of(handle);
  if (!f) return fail(ERROR_INVALID_HANDLE);
  int64_t target = 0;
  DWORD error = 0;
  if (!move_pointer(f.get(), distance.QuadPart, method, &target, &error)) return fail(error);
  if (lseek(f->fd, (off_t)target, SEEK_SET) < 0) return fail(error_from_errno(errno));
  if (new_position) new_position->QuadPart = target;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD size_high) {
  std::shared_ptr<FileObject> f = file_of(handle);
  struct stat st;
  if (!f || fstat(f->fd, &st) != 0) {
    SetLastError(f ? error_from_errno(errno) : ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  uint64_t size = (uint64_t)st.st_size;
  if (size_high) *size_high = (DWORD)(size >> 32);
  if ((DWORD)size == INVALID_FILE_SIZE) SetLastError(NO_ERROR);
  return (DWORD)size;
}

BOOL WINAPI SetEndOfFile(HANDLE handle) {
  std::shared_ptr<FileObject> f = file_of(handle);
  if (!f) return fail(ERROR_INVALID_HANDLE);
  if (!f->can_write) return fail(ERROR_ACCESS_DENIED);
  off_t at = lseek(f->fd, 0, SEEK_CUR);
  if (at < 0 || ftruncate(f->fd, at) != 0) return fail(error_from_errno(errno));
  mark_archive(f.get());
  return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE handle) {
  std::shared_ptr<FileObject> f = file_of(handle);
  if (!f) {
    auto device = handle_get_as<DeviceHandle>(handle);
    if (!device) return fail(ERROR_INVALID_HANDLE);
    DWORD error = device->flush();
    return error ? fail(error) : TRUE;
  }
  if (!f->can_write) return fail(ERROR_ACCESS_DENIED);
  if (fsync(f->fd) != 0) return fail(error_from_errno(errno));
  return TRUE;
}

BOOL WINAPI GetFileTime(HANDLE handle, LPFILETIME creation, LPFILETIME last_access,
                        LPFILETIME last_write) {
  std::shared_ptr<FileObject> f = file_of(handle);
  if (!f) return fail(ERROR_INVALID_HANDLE);
  struct stat st;
  if (fstat(f->fd, &st) != 0) return fail(error_from_errno(errno));
  if (creation) *creation = creation_time(std::string(), f->fd, st);
  if (last_access) *last_access = to_filetime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  if (last_write) *last_write = to_filetime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE handle, const FILETIME* creation, const FILETIME* last_access,
                        const FILETIME* last_write) {
  std::shared_ptr<FileObject> f = file_of(handle);
  if (!f) return fail(ERROR_INVALID_HANDLE);
  if (!f->can_write) return fail(ERROR_ACCESS_DENIED);
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_nsec = UTIME_OMIT;
  if (last_access) times[0] = to_timespec(*last_access);
  if (last_write) times[1] = to_timespec(*last_write);
  if ((last_access || last_write) && futimens(f->fd, times) != 0)
    return fail(error_from_errno(errno));
  if (creation) {
    int64_t v = filetime_value(*creation);
    uint8_t b[8];
    for (int i = 0; i < 8; i++) b[i] = (uint8_t)((uint64_t)v >> (8 * i));
    if (fsetxattr(f->fd, kCreationName, b, sizeof b, 0) != 0) return fail(ERROR_NOT_SUPPORTED);
  }
  return TRUE;
}

/* ---- Locks ---- */

static uint64_t join(DWORD low, DWORD high) { return ((uint64_t)high << 32) | low; }

BOOL WINAPI LockFile(HANDLE handle, DWORD offset_low, DWORD offset_high, DWORD bytes_low,
                     DWORD bytes_high) {
  std::shared_ptr<FileObject> f = file_of(handle);
  if (!f) return fail(ERROR_INVALID_HANDLE);
  DWORD error = lock_range(f.get(), join(offset_low, offset_high), join(bytes_low, bytes_high),
                           true, false);
  return error ? fail(error) : TRUE;
}

BOOL WINAPI UnlockFile(HANDLE handle, DWORD offset_low, DWORD offset_high, DWORD bytes_low,
                       DWORD bytes_high) {
  std::shared_ptr<FileObject> f = file_of(handle);
  if (!f) return fail(ERROR_INVALID_HANDLE);
  DWORD error = unlock_range(f.get(), join(offset_low, offset_high), join(bytes_low, bytes_high));
  return error ? fail(error) : TRUE;
}

BOOL WINAPI LockFileEx(HANDLE handle, DWORD flags, DWORD reserved, DWORD bytes_low,
                       DWORD bytes_high, LPOVERLAPPED overlapped) {
  std::shared_ptr<FileObject> f = file_of(handle);
  if (!f) return fail(ERROR_INVALID_HANDLE);
  if (reserved || !overlapped) return fail(ERROR_INVALID_PARAMETER);
  DWORD error = lock_range(f.get(), join(overlapped->Offset, overlapped->OffsetHigh),
                           join(bytes_low, bytes_high), (flags & LOCKFILE_EXCLUSIVE_LOCK) != 0,
                           (flags & LOCKFILE_FAIL_IMMEDIATELY) == 0);
  return error ? fail(error) : TRUE;
}

BOOL WINAPI UnlockFileEx(HANDLE handle, DWORD reserved, DWORD bytes_low, DWORD bytes_high,
                         LPOVERLAPPED overlapped) {
  std::shared_ptr<FileObject> f = file_of(handle);
  if (!f) return fail(ERROR_INVALID_HANDLE);
  if (reserved || !overlapped) return fail(ERROR_INVALID_PARAMETER);
  DWORD error = unlock_range(f.get(), join(overlapped->Offset, overlapped->OffsetHigh),
                             join(bytes_low, bytes_high));
  return error ? fail(error) : TRUE;
}

/* ---- Names ---- */

BOOL WINAPI DeleteFileW(LPCWSTR path) {
  Resolved r = resolve(path);
  if (r.error) return fail(r.error);
  if (r.root) return fail(ERROR_ACCESS_DENIED);
  if (!r.exists) return fail(missing(r));
  if (S_ISDIR(r.st.st_mode) || read_only(r.st)) return fail(ERROR_ACCESS_DENIED);
  if (!share_allows_delete(r.st)) return fail(ERROR_SHARING_VIOLATION);
  if (unlink(r.host.c_str()) != 0) return fail(error_from_errno(errno));
  return TRUE;
}

BOOL WINAPI MoveFileW(LPCWSTR existing, LPCWSTR target) { return MoveFileExW(existing, target, 0); }

BOOL WINAPI MoveFileExW(LPCWSTR existing, LPCWSTR target, DWORD flags) {
  Resolved from = resolve(existing);
  if (from.error) return fail(from.error);
  if (from.root) return fail(ERROR_ACCESS_DENIED);
  if (!from.exists) return fail(missing(from));
  if (!S_ISDIR(from.st.st_mode) && !share_allows_delete(from.st)) return fail(ERROR_SHARING_VIOLATION);
  Resolved to = resolve(target);
  if (to.error) return fail(to.error);
  if (to.root) return fail(ERROR_ACCESS_DENIED);
  if (!to.parent_ok) return fail(ERROR_PATH_NOT_FOUND);
  std::string destination = to.host;
  if (to.exists && to.st.st_dev == from.st.st_dev && to.st.st_ino == from.st.st_ino) {
    /* The same file under another spelling: only its name's case changes. */
    destination = to.parent + "/" + utf16_to_utf8(to.pattern);
    if (destination == from.host) return TRUE;
    if (rename(from.host.c_str(), destination.c_str()) != 0) return fail(error_from_errno(errno));
  } else if (to.exists) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return fail(ERROR_ALREADY_EXISTS);
    if (S_ISDIR(to.st.st_mode) || S_ISDIR(from.st.st_mode) || read_only(to.st) ||
        !share_allows_delete(to.st))
      return fail(ERROR_ACCESS_DENIED);
    if (rename(from.host.c_str(), destination.c_str()) != 0) return fail(error_from_errno(errno));
  } else {
    int rc = renameat2(AT_FDCWD, from.host.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && errno == EINVAL) {
      struct stat st;
      if (stat(destination.c_str(), &st) == 0) return fail(ERROR_ALREADY_EXISTS);
      rc = rename(from.host.c_str(), destination.c_str());
    }
    if (rc != 0) {
      if (errno == EEXIST) return fail(ERROR_ALREADY_EXISTS);
      if (errno == EXDEV) return fail(ERROR_NOT_SUPPORTED);
      return fail(error_from_errno(errno));
    }
  }
  if (flags & MOVEFILE_WRITE_THROUGH) {
    sync_path(destination);
    sync_path(parent_of(destination));
    if (parent_of(destination) != parent_of(from.host)) sync_path(parent_of(from.host));
  }
  return TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  (void)security;
  Resolved r = resolve(path);
  if (r.error) return fail(r.error);
  if (r.root || r.exists) return fail(ERROR_ALREADY_EXISTS);
  if (!r.parent_ok) return fail(ERROR_PATH_NOT_FOUND);
  if (mkdir(r.host.c_str(), 0777) != 0)
    return fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : error_from_errno(errno));
  return TRUE;
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR path) {
  Resolved r = resolve(path);
  if (r.error) return fail(r.error);
  if (r.root) return fail(ERROR_ACCESS_DENIED);
  if (!r.exists) return fail(missing(r));
  if (!S_ISDIR(r.st.st_mode)) return fail(ERROR_DIRECTORY);
  if (rmdir(r.host.c_str()) != 0)
    return fail(errno == ENOTEMPTY || errno == EEXIST ? ERROR_DIR_NOT_EMPTY : error_from_errno(errno));
  return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR path) {
  Resolved r = resolve(path);
  DWORD error = r.error ? r.error : !r.exists ? missing(r) : 0;
  if (error) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  return attributes_of(r.host, r.st);
}

BOOL WINAPI SetFileAttributesW(LPCWSTR path, DWORD attributes) {
  Resolved r = resolve(path);
  if (r.error) return fail(r.error);
  if (!r.exists) return fail(missing(r));
  bool readonly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  DWORD kept = attributes & kKeptAttributes;
  if (S_ISDIR(r.st.st_mode)) {
    /* A folder's read-only mark is only a mark, as on Windows. */
    if (readonly) kept |= FILE_ATTRIBUTE_READONLY;
    if (!keep_attributes(r.host, -1, kept) && kept) return fail(ERROR_NOT_SUPPORTED);
    return TRUE;
  }
  mode_t mode = r.st.st_mode & 07777;
  mode = readonly ? (mode & ~(mode_t)0222) : (mode | S_IWUSR);
  if (chmod(r.host.c_str(), mode) != 0) return fail(error_from_errno(errno));
  if (!keep_attributes(r.host, -1, kept) && kept != FILE_ATTRIBUTE_ARCHIVE)
    return fail(ERROR_NOT_SUPPORTED);
  return TRUE;
}

/* ---- Searches ---- */

HANDLE WINAPI FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  Resolved r = resolve(pattern, true);
  DWORD error = r.error ? r.error : r.root ? ERROR_FILE_NOT_FOUND : !r.parent_ok ? ERROR_PATH_NOT_FOUND : 0;
  if (error || !data) {
    SetLastError(error ? error : ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string want = folded(r.pattern);
  std::vector<std::pair<std::u16string, std::string>> names;
  /* The platform's own folder in the device root is no device file. */
  bool in_root = r.parent == device_root();
  if (DIR* d = opendir(r.parent.c_str())) {
    while (struct dirent* e = readdir(d)) {
      if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
      if (in_root && !strcmp(e->d_name, ".kernel")) continue;
      std::u16string name = folded(utf8_to_utf16(e->d_name));
      if (wildcard(want.c_str(), name.c_str())) names.emplace_back(name, e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  auto search = std::make_shared<FindObject>();
  for (auto& n : names) {
    WIN32_FIND_DATAW entry;
    if (fill_find_data(r.parent, n.second, &entry)) search->entries.push_back(entry);
  }
  if (search->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *data = search->entries[0];
  search->next = 1;
  return handle_open(search);
}

BOOL WINAPI FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data) {
  auto search = handle_get_as<FindObject>(handle);
  if (!search) return fail(ERROR_INVALID_HANDLE);
  if (search->next >= search->entries.size()) return fail(ERROR_NO_MORE_FILES);
  *data = search->entries[search->next++];
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE handle) {
  if (!handle_get_as<FindObject>(handle)) return fail(ERROR_INVALID_HANDLE);
  handle_close(handle);
  return TRUE;
}

/* ---- The program's path ---- */

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  if (module && module != GetModuleHandleW(nullptr)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  std::u16string path;
  {
    std::lock_guard<std::mutex> guard(state_mutex);
    path = module_path;
  }
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (size == 0 || !buffer) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() < size) {
    memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return (DWORD)path.size();
  }
  memcpy(buffer, path.data(), (size - 1) * sizeof(WCHAR));
  buffer[size - 1] = 0;
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}
