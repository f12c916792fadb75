/* The registry: a tree of keys in memory, kept in "registry.reg" in the device
 * root (the format is described in plat/registry_store.h).
 *
 * Every call takes the process's registry lock and a lock on the store
 * (flock of ".registry.lock" beside it: shared for reading, exclusive for a
 * change), then re-reads the store when the file is not the one last read.
 * A change is applied to the tree and the whole store is rewritten through a
 * sibling temporary file that is flushed and renamed over the original, so the
 * file on disk is always either the old or the new registry, complete. When
 * the rewrite fails, the tree is read back from the store and the call fails.
 *
 * Open keys are named by their path, so a handle stays valid across re-reads;
 * a handle whose key was deleted answers ERROR_KEY_DELETED. */
#include "plat/registry.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "plat/host.h"
#include "plat/registry_store.h"

namespace plat {
namespace {

using U16 = std::u16string;

constexpr size_t kMaxKeyName = 255;     /* characters of one key name */
constexpr size_t kMaxValueName = 16383; /* characters of a value name */
constexpr size_t kMaxDepth = 512;       /* key names below a root */
constexpr int kRoots = 4;
const char* const kRootNames[kRoots] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                        "HKEY_LOCAL_MACHINE", "HKEY_USERS"};
const char kHeader[] = "VELMAR REGISTRY 1";
const char kStoreName[] = "registry.reg";
const char kLockName[] = ".registry.lock";

/* ---- Names ---- */

/* Upper case of the letters of Latin-1, Greek, Cyrillic and the full-width
 * Latin forms; other units compare as they are. */
char16_t fold_unit(char16_t c) {
  if (c >= u'a' && c <= u'z') return (char16_t)(c - 32);
  if (c < 0xE0) return c;
  if (c <= 0xFE) return c == 0xF7 ? c : (char16_t)(c - 32);
  if (c == 0xFF) return 0x178;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return (char16_t)(c - 32);
  if (c >= 0x430 && c <= 0x44F) return (char16_t)(c - 32);
  if (c >= 0x450 && c <= 0x45F) return (char16_t)(c - 80);
  if (c >= 0xFF41 && c <= 0xFF5A) return (char16_t)(c - 32);
  return c;
}

U16 fold(const U16& name) {
  U16 folded(name);
  for (auto& c : folded) c = fold_unit(c);
  return folded;
}

/* ---- The tree ---- */

struct Value {
  U16 name; /* empty: the default value */
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct Key {
  U16 name;
  std::map<U16, std::unique_ptr<Key>> subkeys; /* by folded name */
  std::vector<Value> values;                   /* in the order first set */

  Key* child(const U16& folded) const {
    auto it = subkeys.find(folded);
    return it == subkeys.end() ? nullptr : it->second.get();
  }
  Key* make_child(const U16& name, bool* created) {
    U16 folded = fold(name);
    auto& slot = subkeys[folded];
    if (!slot) {
      slot.reset(new Key);
      slot->name = name;
      if (created) *created = true;
    }
    return slot.get();
  }
  Value* value(const U16& name) {
    U16 folded = fold(name);
    for (auto& v : values) {
      if (fold(v.name) == folded) return &v;
    }
    return nullptr;
  }
  /* Sets a value; false when it already held exactly this. */
  bool set(const U16& name, DWORD type, const BYTE* data, size_t size) {
    Value* v = value(name);
    if (!v) {
      values.push_back(Value());
      v = &values.back();
      v->name = name;
    } else if (v->type == type && v->data.size() == size &&
               (size == 0 || memcmp(v->data.data(), data, size) == 0)) {
      return false;
    }
    v->type = type;
    v->data.assign(data, data + size);
    return true;
  }
};

struct Tree {
  Key roots[kRoots];
};

/* ---- Store text: writing ---- */

const char kHexDigits[] = "0123456789abcdef";

void put_hex(std::string& out, uint32_t value, int digits) {
  for (int i = digits - 1; i >= 0; i--) out += kHexDigits[(value >> (4 * i)) & 15];
}

bool is_high(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

/* UTF-16 text as UTF-8; `escape` writes the units that must not appear
 * as they are, and returns false for the others. */
template <class Escape>
void put_text(std::string& out, const char16_t* s, size_t n, Escape escape) {
  for (size_t i = 0; i < n; i++) {
    char16_t c = s[i];
    if (escape(out, c)) continue;
    if (is_high(c) && i + 1 < n && is_low(s[i + 1])) {
      plat::append_utf8(out, 0x10000 + (((uint32_t)c - 0xD800) << 10) + (s[i + 1] - 0xDC00));
      i++;
    } else if (is_high(c) || is_low(c) || c < 0x20 || c == 0x7F) {
      out += "\\u";
      put_hex(out, c, 4);
    } else {
      plat::append_utf8(out, c);
    }
  }
}

void put_quoted(std::string& out, const char16_t* s, size_t n) {
  out += '"';
  put_text(out, s, n, [](std::string& o, char16_t c) {
    switch (c) {
      case u'\\': o += "\\\\"; return true;
      case u'"': o += "\\\""; return true;
      case 0: o += "\\0"; return true;
      case u'\t': o += "\\t"; return true;
      case u'\n': o += "\\n"; return true;
      case u'\r': o += "\\r"; return true;
      default: return false;
    }
  });
  out += '"';
}

void put_key_name(std::string& out, const U16& name) {
  /* Key names never hold a backslash or a zero; lone surrogates and control
   * characters are written %XXXX like '%' itself. */
  size_t n = name.size();
  for (size_t i = 0; i < n; i++) {
    char16_t c = name[i];
    if (is_high(c) && i + 1 < n && is_low(name[i + 1])) {
      plat::append_utf8(out, 0x10000 + (((uint32_t)c - 0xD800) << 10) + (name[i + 1] - 0xDC00));
      i++;
    } else if (c == u'%' || is_high(c) || is_low(c) || c < 0x20 || c == 0x7F) {
      out += '%';
      put_hex(out, c, 4);
    } else {
      plat::append_utf8(out, c);
    }
  }
}

void put_bytes(std::string& out, const std::vector<BYTE>& data) {
  for (size_t i = 0; i < data.size(); i++) {
    if (i) out += ',';
    put_hex(out, data[i], 2);
  }
}

void write_value(std::string& out, const Value& v) {
  if (v.name.empty()) {
    out += '@';
  } else {
    put_quoted(out, v.name.data(), v.name.size());
  }
  out += '=';
  size_t size = v.data.size();
  const char* text_kind = v.type == REG_SZ          ? "sz:"
                          : v.type == REG_EXPAND_SZ ? "expand:"
                          : v.type == REG_MULTI_SZ  ? "multi:"
                                                    : nullptr;
  if (v.type == REG_DWORD && size == 4) {
    uint32_t number = (uint32_t)v.data[0] | (uint32_t)v.data[1] << 8 |
                      (uint32_t)v.data[2] << 16 | (uint32_t)v.data[3] << 24;
    out += "dword:";
    put_hex(out, number, 8);
  } else if (text_kind && size % 2 == 0) {
    U16 units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); i++) {
      units[i] = (char16_t)(v.data[2 * i] | v.data[2 * i + 1] << 8);
    }
    out += text_kind;
    put_quoted(out, units.data(), units.size());
  } else if (v.type == REG_BINARY) {
    out += "hex:";
    put_bytes(out, v.data);
  } else {
    out += "hex(";
    char digits[16];
    snprintf(digits, sizeof digits, "%x", (unsigned)v.type);
    out += digits;
    out += "):";
    put_bytes(out, v.data);
  }
  out += '\n';
}

void write_key(std::string& out, const std::string& path, const Key& key, bool root) {
  if (!root || !key.values.empty()) {
    out += '[';
    out += path;
    out += "]\n";
    for (const auto& v : key.values) write_value(out, v);
  }
  for (const auto& entry : key.subkeys) {
    std::string child_path = path + '\\';
    put_key_name(child_path, entry.second->name);
    write_key(out, child_path, *entry.second, false);
  }
}

std::string write_store(const Tree& tree) {
  std::string out = kHeader;
  out += '\n';
  for (int r = 0; r < kRoots; r++) write_key(out, kRootNames[r], tree.roots[r], true);
  return out;
}

/* ---- Store text: reading ---- */

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/* A bounded cursor over one line. */
struct Cursor {
  const char* p;
  const char* end;

  bool at_end() const { return p == end; }
  bool take(const char* word) {
    size_t n = strlen(word);
    if ((size_t)(end - p) < n || memcmp(p, word, n) != 0) return false;
    p += n;
    return true;
  }
  bool hex(int digits, uint32_t* value) {
    if (end - p < digits) return false;
    uint32_t v = 0;
    for (int i = 0; i < digits; i++) {
      int d = hex_value(p[i]);
      if (d < 0) return false;
      v = v << 4 | (uint32_t)d;
    }
    p += digits;
    *value = v;
    return true;
  }
  /* One strictly valid UTF-8 sequence, as UTF-16 units. */
  bool utf8(U16* out) {
    const unsigned char* s = (const unsigned char*)p;
    size_t left = (size_t)(end - p);
    if (left == 0) return false;
    uint32_t cp;
    size_t n;
    if (s[0] < 0x80) {
      cp = s[0];
      n = 1;
    } else if (s[0] >= 0xC2 && s[0] <= 0xDF) {
      cp = s[0] & 0x1F;
      n = 2;
    } else if (s[0] >= 0xE0 && s[0] <= 0xEF) {
      cp = s[0] & 0x0F;
      n = 3;
    } else if (s[0] >= 0xF0 && s[0] <= 0xF4) {
      cp = s[0] & 0x07;
      n = 4;
    } else {
      return false;
    }
    if (left < n) return false;
    for (size_t i = 1; i < n; i++) {
      if ((s[i] & 0xC0) != 0x80) return false;
      cp = cp << 6 | (s[i] & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *out += (char16_t)(0xD800 + (cp >> 10));
      *out += (char16_t)(0xDC00 + (cp & 0x3FF));
    } else {
      *out += (char16_t)cp;
    }
    p += n;
    return true;
  }
  /* A quoted text with its escapes. */
  bool quoted(U16* out) {
    if (!take("\"")) return false;
    for (;;) {
      if (at_end()) return false;
      char c = *p;
      if (c == '"') {
        p++;
        return true;
      }
      if ((unsigned char)c < 0x20 || c == 0x7F) return false;
      if (c != '\\') {
        if (!utf8(out)) return false;
        continue;
      }
      p++;
      if (at_end()) return false;
      char e = *p++;
      switch (e) {
        case '\\': *out += u'\\'; break;
        case '"': *out += u'"'; break;
        case '0': *out += u'\0'; break;
        case 't': *out += u'\t'; break;
        case 'n': *out += u'\n'; break;
        case 'r': *out += u'\r'; break;
        case 'u': {
          uint32_t unit;
          if (!hex(4, &unit)) return false;
          *out += (char16_t)unit;
          break;
        }
        default: return false;
      }
    }
  }
  /* Two-digit bytes separated by commas, up to the end of the line. */
  bool bytes(std::vector<BYTE>* out) {
    if (at_end()) return true;
    for (;;) {
      uint32_t b;
      if (!hex(2, &b)) return false;
      out->push_back((BYTE)b);
      if (at_end()) return true;
      if (!take(",")) return false;
    }
  }
};

/* Key path "ROOT\name\name" of a key line into its root and names. */
bool parse_key_path(Cursor c, int* root, std::vector<U16>* names) {
  const char* slash = (const char*)memchr(c.p, '\\', (size_t)(c.end - c.p));
  const char* root_end = slash ? slash : c.end;
  *root = -1;
  for (int r = 0; r < kRoots; r++) {
    size_t n = strlen(kRootNames[r]);
    if ((size_t)(root_end - c.p) == n && memcmp(c.p, kRootNames[r], n) == 0) *root = r;
  }
  if (*root < 0) return false;
  c.p = root_end;
  while (!c.at_end()) {
    c.p++; /* the backslash */
    U16 name;
    while (!c.at_end() && *c.p != '\\') {
      unsigned char b = (unsigned char)*c.p;
      if (b < 0x20 || b == 0x7F) return false;
      if (b == '%') {
        c.p++;
        uint32_t unit;
        if (!c.hex(4, &unit)) return false;
        name += (char16_t)unit;
      } else if (!c.utf8(&name)) {
        return false;
      }
    }
    if (name.empty() || name.size() > kMaxKeyName) return false;
    for (char16_t u : name) {
      if (u == 0 || u == u'\\') return false;
    }
    names->push_back(name);
    if (names->size() > kMaxDepth) return false;
  }
  return true;
}

bool parse_value(Cursor c, U16* name, DWORD* type, std::vector<BYTE>* data) {
  if (c.take("@")) {
    name->clear();
  } else if (!c.quoted(name)) {
    return false;
  }
  if (name->size() > kMaxValueName || name->find(u'\0') != U16::npos) return false;
  if (!c.take("=")) return false;
  if (c.take("dword:")) {
    uint32_t number;
    if (!c.hex(8, &number)) return false;
    *type = REG_DWORD;
    for (int i = 0; i < 4; i++) data->push_back((BYTE)(number >> (8 * i)));
    return c.at_end();
  }
  const struct {
    const char* prefix;
    DWORD type;
  } texts[] = {{"sz:", REG_SZ}, {"expand:", REG_EXPAND_SZ}, {"multi:", REG_MULTI_SZ}};
  for (const auto& t : texts) {
    if (!c.take(t.prefix)) continue;
    U16 units;
    if (!c.quoted(&units)) return false;
    *type = t.type;
    for (char16_t u : units) {
      data->push_back((BYTE)(u & 0xFF));
      data->push_back((BYTE)(u >> 8));
    }
    return c.at_end();
  }
  if (c.take("hex:")) {
    *type = REG_BINARY;
    return c.bytes(data);
  }
  if (c.take("hex(")) {
    uint32_t t = 0;
    int digits = 0;
    while (!c.at_end() && hex_value(*c.p) >= 0 && digits < 8) {
      t = t << 4 | (uint32_t)hex_value(*c.p++);
      digits++;
    }
    if (digits == 0 || !c.take("):")) return false;
    *type = t;
    return c.bytes(data);
  }
  return false;
}

/* Reads `text` into `tree` line by line; stops at the first line that is not
 * valid or not ended. Returns the number of bytes taken. */
size_t parse_store(const char* text, size_t size, Tree* tree) {
  size_t pos = 0;
  bool header = false;
  Key* current = nullptr;
  while (pos < size) {
    const char* line = text + pos;
    const char* newline = (const char*)memchr(line, '\n', size - pos);
    if (!newline) break;
    Cursor c{line, newline};
    if (c.end > c.p && c.end[-1] == '\r') c.end--;
    size_t length = (size_t)(c.end - c.p);
    if (!header) {
      if (length != strlen(kHeader) || memcmp(line, kHeader, length) != 0) break;
      header = true;
    } else if (length == 0 || *c.p == ';') {
      /* blank line or comment */
    } else if (*c.p == '[') {
      if (c.end[-1] != ']' || length < 2) break;
      int root;
      std::vector<U16> names;
      if (!parse_key_path(Cursor{c.p + 1, c.end - 1}, &root, &names)) break;
      Key* key = &tree->roots[root];
      for (const auto& name : names) key = key->make_child(name, nullptr);
      current = key;
    } else if (*c.p == '@' || *c.p == '"') {
      U16 name;
      DWORD type = REG_NONE;
      std::vector<BYTE> data;
      if (!current || !parse_value(c, &name, &type, &data)) break;
      current->set(name, type, data.data(), data.size());
    } else {
      break;
    }
    pos = (size_t)(newline - text) + 1;
  }
  return pos;
}

/* ---- The store file ---- */

struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec modified = {0, 0};
  struct timespec changed = {0, 0};
};

FileStamp stamp_of(const struct stat& st) {
  FileStamp s;
  s.exists = true;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.size = st.st_size;
  s.modified = st.st_mtim;
  s.changed = st.st_ctim;
  return s;
}

bool same_stamp(const FileStamp& a, const FileStamp& b) {
  if (a.exists != b.exists) return false;
  if (!a.exists) return true;
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec &&
         a.changed.tv_sec == b.changed.tv_sec && a.changed.tv_nsec == b.changed.tv_nsec;
}

FileStamp stamp_path(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return FileStamp();
  return stamp_of(st);
}

/* The whole file and the stamp of what was read. */
bool read_store_file(const std::string& path, std::string* text, FileStamp* stamp) {
  *stamp = FileStamp();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) == 0) *stamp = stamp_of(st);
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text->append(buffer, (size_t)n);
  }
  close(fd);
  return true;
}

bool write_all(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= (size_t)w;
  }
  return true;
}

/* Replaces the store with `text`: temporary file, flush, rename, flush of the folder. */
bool write_store_file(const std::string& folder, const std::string& text,
                      void (*hook)(RegistryWriteStage)) {
  std::string path = folder + "/" + kStoreName;
  std::string temp = path + ".tmp";
  auto reached = [hook](RegistryWriteStage stage) {
    if (hook) hook(stage);
  };
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  reached(REGISTRY_TEMP_OPENED);
  size_t half = text.size() / 2;
  bool ok = write_all(fd, text.data(), half);
  if (ok) reached(REGISTRY_TEMP_HALF_WRITTEN);
  ok = ok && write_all(fd, text.data() + half, text.size() - half);
  if (ok) reached(REGISTRY_TEMP_WRITTEN);
  ok = ok && fsync(fd) == 0;
  if (close(fd) != 0) ok = false;
  if (ok) reached(REGISTRY_TEMP_SYNCED);
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  reached(REGISTRY_RENAMED);
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  reached(REGISTRY_FOLDER_SYNCED);
  return true;
}

/* The lock between the processes of one device root, held for one call. */
class StoreLock {
 public:
  StoreLock(const std::string& folder, bool exclusive) {
    if (folder.empty()) return;
    fd_ = open((folder + "/" + kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    while (flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) close(fd_); /* releases the flock */
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

 private:
  int fd_ = -1;
};

/* ---- The registry of this process ---- */

/* An open key: its root and the folded names of its path. */
struct KeyHandle {
  int root = 0;
  std::vector<U16> path;
  REGSAM access = 0;
  bool deleted = false;
};

struct Registry {
  std::mutex lock;
  Tree tree;
  bool loaded = false;
  std::string folder; /* the device root the tree was read from; empty: memory only */
  FileStamp stamp;    /* of the store file last read or written */
  std::unordered_set<KeyHandle*> handles;
  void (*hook)(RegistryWriteStage) = nullptr;
};

Registry& registry() {
  static Registry* r = new Registry; /* outlives every static destructor */
  return *r;
}

std::string store_path(const std::string& folder) { return folder + "/" + kStoreName; }

/* Brings the tree up to date with the store. */
void refresh(Registry& r) {
  const std::string& folder = device_root();
  if (r.loaded && folder == r.folder &&
      (folder.empty() || same_stamp(stamp_path(store_path(folder)), r.stamp))) {
    return;
  }
  r.tree = Tree();
  r.folder = folder;
  r.loaded = true;
  r.stamp = FileStamp();
  if (folder.empty()) return;
  std::string text;
  if (read_store_file(store_path(folder), &text, &r.stamp)) {
    parse_store(text.data(), text.size(), &r.tree);
  }
}

/* Writes the changed tree out; on failure the tree goes back to the store's. */
LONG commit(Registry& r) {
  if (r.folder.empty()) return ERROR_SUCCESS;
  if (!write_store_file(r.folder, write_store(r.tree), r.hook)) {
    r.loaded = false;
    refresh(r);
    return ERROR_CANTWRITE;
  }
  r.stamp = stamp_path(store_path(r.folder));
  return ERROR_SUCCESS;
}

/* Runs `body(registry)` under both locks with the tree up to date. */
template <class Body>
LONG with_registry(bool change, Body body) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  StoreLock store(device_root(), change);
  refresh(r);
  return body(r);
}

int predefined_root(HKEY key) {
  for (int i = 0; i < kRoots; i++) {
    if (key == (HKEY)(ULONG_PTR)(LONG)(0x80000000u + (unsigned)i)) return i;
  }
  return -1;
}

/* Where an open key points: its root and folded path. */
struct Location {
  int root = 0;
  std::vector<U16> path;
};

LONG locate(Registry& r, HKEY key, Location* at) {
  int root = predefined_root(key);
  if (root >= 0) {
    at->root = root;
    at->path.clear();
    return ERROR_SUCCESS;
  }
  auto* handle = reinterpret_cast<KeyHandle*>(key);
  if (!key || !r.handles.count(handle)) return ERROR_INVALID_HANDLE;
  if (handle->deleted) return ERROR_KEY_DELETED;
  at->root = handle->root;
  at->path = handle->path;
  return ERROR_SUCCESS;
}

Key* walk(Registry& r, const Location& at) {
  Key* key = &r.tree.roots[at.root];
  for (const auto& name : at.path) {
    key = key->child(name);
    if (!key) return nullptr;
  }
  return key;
}

/* The key of an open handle, or null with the error. */
Key* open_key(Registry& r, HKEY handle, Location* at, LONG* error) {
  *error = locate(r, handle, at);
  if (*error != ERROR_SUCCESS) return nullptr;
  Key* key = walk(r, *at);
  if (!key) *error = ERROR_KEY_DELETED; /* deleted by another process */
  return key;
}

/* The names of a backslash-separated path; empty names are skipped. */
LONG split_path(LPCWSTR path, std::vector<U16>* names) {
  names->clear();
  if (!path) return ERROR_SUCCESS;
  U16 name;
  for (const WCHAR* p = path;; p++) {
    if (*p == u'\\' || *p == 0) {
      if (!name.empty()) {
        if (name.size() > kMaxKeyName) return ERROR_INVALID_PARAMETER;
        names->push_back(name);
        name.clear();
      }
      if (*p == 0) break;
    } else {
      name += *p;
    }
  }
  return ERROR_SUCCESS;
}

U16 value_name(LPCWSTR name) { return name ? U16(name) : U16(); }

HKEY new_handle(Registry& r, const Location& at, REGSAM access) {
  auto* handle = new KeyHandle;
  handle->root = at.root;
  handle->path = at.path;
  handle->access = access;
  r.handles.insert(handle);
  return reinterpret_cast<HKEY>(handle);
}

/* Copies `text` with a terminator into a buffer of `*size` characters. */
LONG copy_name(const U16& text, LPWSTR buffer, LPDWORD size) {
  if (text.size() + 1 > *size) return ERROR_MORE_DATA;
  memcpy(buffer, text.data(), text.size() * sizeof(WCHAR));
  buffer[text.size()] = 0;
  *size = (DWORD)text.size();
  return ERROR_SUCCESS;
}

/* Hands out a value's type and data the way RegQueryValueExW does. */
LONG copy_value(const Value& v, LPDWORD type, LPBYTE data, LPDWORD data_size) {
  if (type) *type = v.type;
  DWORD needed = (DWORD)v.data.size();
  if (data) {
    if (*data_size < needed) {
      *data_size = needed;
      return ERROR_MORE_DATA;
    }
    if (needed) memcpy(data, v.data.data(), needed);
  }
  if (data_size) *data_size = needed;
  return ERROR_SUCCESS;
}

}  // namespace

size_t registry_store_parse(const char* text, size_t size, std::string* rewritten) {
  Tree tree;
  size_t taken = parse_store(text, size, &tree);
  if (rewritten) *rewritten = write_store(tree);
  return taken;
}

void registry_set_write_hook(void (*hook)(RegistryWriteStage stage)) {
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  r.hook = hook;
}

}  // namespace plat

using namespace plat;

LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR sub_key, DWORD, LPWSTR, DWORD, REGSAM access,
                            LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::vector<U16> names;
  LONG error = split_path(sub_key, &names);
  if (error != ERROR_SUCCESS) return error;
  return with_registry(true, [&](Registry& r) {
    Location at;
    LONG e;
    Key* k = open_key(r, key, &at, &e);
    if (!k) return e;
    if (at.path.size() + names.size() > kMaxDepth) return (LONG)ERROR_INVALID_PARAMETER;
    bool created = false;
    for (const auto& name : names) {
      k = k->make_child(name, &created);
      at.path.push_back(fold(name));
    }
    if (created) {
      e = commit(r);
      if (e != ERROR_SUCCESS) return e;
    }
    *result = new_handle(r, at, access);
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return (LONG)ERROR_SUCCESS;
  });
}

LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR sub_key, DWORD, REGSAM access, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::vector<U16> names;
  LONG error = split_path(sub_key, &names);
  if (error != ERROR_SUCCESS) return error;
  return with_registry(false, [&](Registry& r) {
    Location at;
    LONG e;
    Key* k = open_key(r, key, &at, &e);
    if (!k) return e;
    for (const auto& name : names) {
      U16 folded = fold(name);
      k = k->child(folded);
      if (!k) return (LONG)ERROR_FILE_NOT_FOUND;
      at.path.push_back(folded);
    }
    *result = new_handle(r, at, access);
    return (LONG)ERROR_SUCCESS;
  });
}

LONG WINAPI RegCloseKey(HKEY key) {
  if (predefined_root(key) >= 0) return ERROR_SUCCESS;
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto* handle = reinterpret_cast<KeyHandle*>(key);
  if (!key || !r.handles.erase(handle)) return ERROR_INVALID_HANDLE;
  delete handle;
  return ERROR_SUCCESS;
}

LONG WINAPI RegFlushKey(HKEY key) {
  return with_registry(false, [&](Registry& r) {
    Location at;
    LONG e;
    open_key(r, key, &at, &e);
    return e;
  });
}

LONG WINAPI RegDeleteKeyW(HKEY key, LPCWSTR sub_key) {
  if (!sub_key) return ERROR_INVALID_PARAMETER;
  std::vector<U16> names;
  LONG error = split_path(sub_key, &names);
  if (error != ERROR_SUCCESS) return error;
  return with_registry(true, [&](Registry& r) {
    Location at;
    LONG e;
    Key* parent = open_key(r, key, &at, &e);
    if (!parent) return e;
    for (auto& name : names) name = fold(name);
    if (names.empty()) {
      /* The key itself: its parent is one step up. */
      if (at.path.empty()) return (LONG)ERROR_ACCESS_DENIED;
      names.push_back(at.path.back());
      at.path.pop_back();
      parent = walk(r, at);
    }
    for (size_t i = 0; i + 1 < names.size(); i++) {
      parent = parent->child(names[i]);
      if (!parent) return (LONG)ERROR_FILE_NOT_FOUND;
      at.path.push_back(names[i]);
    }
    auto it = parent->subkeys.find(names.back());
    if (it == parent->subkeys.end()) return (LONG)ERROR_FILE_NOT_FOUND;
    parent->subkeys.erase(it);
    e = commit(r);
    if (e != ERROR_SUCCESS) return e;
    at.path.push_back(names.back());
    for (KeyHandle* h : r.handles) {
      if (h->root == at.root && h->path.size() >= at.path.size() &&
          std::equal(at.path.begin(), at.path.end(), h->path.begin())) {
        h->deleted = true;
      }
    }
    return (LONG)ERROR_SUCCESS;
  });
}

LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data,
                           DWORD data_size) {
  U16 value = value_name(name);
  if (value.size() > kMaxValueName) return ERROR_INVALID_PARAMETER;
  if (!data && data_size) return ERROR_NOACCESS;
  return with_registry(true, [&](Registry& r) {
    Location at;
    LONG e;
    Key* k = open_key(r, key, &at, &e);
    if (!k) return e;
    if (!k->set(value, type, data, data_size)) return (LONG)ERROR_SUCCESS;
    return commit(r);
  });
}

LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                             LPDWORD data_size) {
  if (data && !data_size) return ERROR_INVALID_PARAMETER;
  U16 value = value_name(name);
  return with_registry(false, [&](Registry& r) {
    Location at;
    LONG e;
    Key* k = open_key(r, key, &at, &e);
    if (!k) return e;
    const Value* v = k->value(value);
    if (!v) return (LONG)ERROR_FILE_NOT_FOUND;
    return copy_value(*v, type, data, data_size);
  });
}

LONG WINAPI RegDeleteValueW(HKEY key, LPCWSTR name) {
  U16 value = value_name(name);
  return with_registry(true, [&](Registry& r) {
    Location at;
    LONG e;
    Key* k = open_key(r, key, &at, &e);
    if (!k) return e;
    Value* v = k->value(value);
    if (!v) return (LONG)ERROR_FILE_NOT_FOUND;
    k->values.erase(k->values.begin() + (v - k->values.data()));
    return commit(r);
  });
}

LONG WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_size, LPDWORD,
                          LPWSTR class_name, LPDWORD class_size, LPFILETIME last_write_time) {
  if (!name || !name_size) return ERROR_INVALID_PARAMETER;
  return with_registry(false, [&](Registry& r) {
    Location at;
    LONG e;
    Key* k = open_key(r, key, &at, &e);
    if (!k) return e;
    if (index >= k->subkeys.size()) return (LONG)ERROR_NO_MORE_ITEMS;
    auto it = k->subkeys.begin();
    std::advance(it, index);
    e = copy_name(it->second->name, name, name_size);
    if (e != ERROR_SUCCESS) return e;
    if (class_name && class_size && *class_size > 0) class_name[0] = 0;
    if (class_size) *class_size = 0;
    if (last_write_time) *last_write_time = FILETIME{0, 0};
    return (LONG)ERROR_SUCCESS;
  });
}

LONG WINAPI RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD name_size, LPDWORD,
                          LPDWORD type, LPBYTE data, LPDWORD data_size) {
  if (!name || !name_size || (data && !data_size)) return ERROR_INVALID_PARAMETER;
  return with_registry(false, [&](Registry& r) {
    Location at;
    LONG e;
    Key* k = open_key(r, key, &at, &e);
    if (!k) return e;
    if (index >= k->values.size()) return (LONG)ERROR_NO_MORE_ITEMS;
    const Value& v = k->values[index];
    e = copy_name(v.name, name, name_size);
    if (e != ERROR_SUCCESS) return e;
    return copy_value(v, type, data, data_size);
  });
}
