/* C streams opened by device path. A binary stream is the C library's own
 * stream on the descriptor. A text stream is a cookie stream whose functions
 * translate line ends on the raw file: "\r\n" reads as "\n", a Ctrl-Z byte
 * ends the input, "\n" is written as "\r\n", and the position it reports is
 * the raw file offset. */
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <set>
#include <string>

#include "file_internal.h"
#include "plat/files.h"
#include "plat/kernel.h"
#include "plat/strings.h"

/* The code page conversions of the strings module, as Win32 declares them. */
#ifndef CP_ACP
#define CP_ACP 0
#endif
#ifndef MB_ERR_INVALID_CHARS
#define MB_ERR_INVALID_CHARS 0x00000008
#endif
int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int bytes, LPWSTR wide,
                               int wide_count);
int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR wide, int wide_count,
                               LPSTR text, int bytes, LPCSTR default_char, LPBOOL used_default);

namespace plat {
namespace {

const int kCtrlZ = 0x1A;

struct TextStream {
  int fd = -1;
  bool append = false;
  FILE* file = nullptr;
  bool at_ctrl_z = false;
  /* Raw bytes read ahead: buffer[index..length) starts at file offset
   * buffer_offset + index, the position of the stream. */
  char buffer[4096];
  size_t index = 0, length = 0;
  off64_t buffer_offset = 0;

  off64_t position() const { return buffer_offset + (off64_t)index; }
  void drop(off64_t at) {
    buffer_offset = at;
    index = length = 0;
  }
};

std::mutex text_mutex;
std::set<FILE*>& text_streams() {
  static std::set<FILE*> streams;
  return streams;
}

/* The standard streams are text streams too, as the CRT's are. */
bool is_text(FILE* f) {
  if (f == stdin || f == stdout || f == stderr) return true;
  std::lock_guard<std::mutex> guard(text_mutex);
  return text_streams().count(f) != 0;
}

/* Reads more raw bytes after the unread ones; false at the end or on error. */
bool refill(TextStream* s) {
  size_t keep = s->length - s->index;
  if (keep) memmove(s->buffer, s->buffer + s->index, keep);
  s->buffer_offset += (off64_t)s->index;
  s->index = 0;
  s->length = keep;
  ssize_t n;
  do {
    n = pread(s->fd, s->buffer + keep, sizeof s->buffer - keep, s->buffer_offset + (off64_t)keep);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  s->length += (size_t)n;
  return true;
}

ssize_t text_read(void* cookie, char* out, size_t size) {
  auto* s = static_cast<TextStream*>(cookie);
  size_t made = 0;
  while (made < size && !s->at_ctrl_z) {
    if (s->index == s->length && !refill(s)) break;
    char c = s->buffer[s->index];
    if (c == kCtrlZ) {
      s->at_ctrl_z = true;
      break;
    }
    if (c == '\r') {
      if (s->index + 1 == s->length) refill(s);
      if (s->index + 1 < s->length && s->buffer[s->index + 1] == '\n') {
        out[made++] = '\n';
        s->index += 2;
        continue;
      }
    }
    out[made++] = c;
    s->index++;
  }
  return (ssize_t)made;
}

bool write_all(TextStream* s, const char* data, size_t size) {
  while (size) {
    ssize_t n = s->append ? write(s->fd, data, size) : pwrite(s->fd, data, size, s->position());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= (size_t)n;
    if (s->append) s->drop(lseek(s->fd, 0, SEEK_CUR));
    else s->drop(s->position() + n);
  }
  return true;
}

ssize_t text_write(void* cookie, const char* data, size_t size) {
  auto* s = static_cast<TextStream*>(cookie);
  s->drop(s->position());
  s->at_ctrl_z = false;
  char out[2048];
  size_t used = 0, taken = 0, done = 0;
  for (size_t i = 0; i < size; i++) {
    if (data[i] == '\n') out[used++] = '\r';
    out[used++] = data[i];
    taken++;
    if (used >= sizeof out - 2 || i + 1 == size) {
      if (!write_all(s, out, used)) return done ? (ssize_t)done : -1;
      done += taken;
      used = taken = 0;
    }
  }
  return (ssize_t)done;
}

int text_seek(void* cookie, off64_t* offset, int whence) {
  auto* s = static_cast<TextStream*>(cookie);
  off64_t base;
  if (whence == SEEK_SET) {
    base = 0;
  } else if (whence == SEEK_CUR) {
    base = s->position();
  } else if (whence == SEEK_END) {
    struct stat st;
    if (fstat(s->fd, &st) != 0) return -1;
    base = st.st_size;
  } else {
    errno = EINVAL;
    return -1;
  }
  off64_t target = base + *offset;
  if (target < 0) {
    errno = EINVAL;
    return -1;
  }
  if (target != s->position()) {
    s->drop(target);
    s->at_ctrl_z = false;
  } else if (whence != SEEK_CUR || *offset != 0) {
    s->at_ctrl_z = false;
  }
  *offset = target;
  return 0;
}

int text_close(void* cookie) {
  auto* s = static_cast<TextStream*>(cookie);
  {
    std::lock_guard<std::mutex> guard(text_mutex);
    text_streams().erase(s->file);
  }
  int rc = close(s->fd);
  delete s;
  return rc;
}

struct Mode {
  int flags = 0;
  bool text = true;
  const char* host = "r";
};

bool parse_mode(const WCHAR* mode, Mode* m) {
  if (!mode) return false;
  WCHAR kind = mode[0];
  bool plus = false;
  for (const WCHAR* p = mode + 1; *p; p++) {
    if (*p == '+') plus = true;
    else if (*p == 'b') m->text = false;
    else if (*p == 't') m->text = true;
    else if (*p == ',') return false; /* encodings (",ccs=") are not provided */
  }
  switch (kind) {
    case 'r':
      m->flags = plus ? O_RDWR : O_RDONLY;
      m->host = plus ? "r+" : "r";
      break;
    case 'w':
      m->flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
      m->host = plus ? "w+" : "w";
      break;
    case 'a':
      m->flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
      m->host = plus ? "a+" : "a";
      break;
    default:
      return false;
  }
  return true;
}

int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_LOCK_VIOLATION:
    case ERROR_SHARING_VIOLATION: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER: return EINVAL;
    default: return EIO;
  }
}

/* ---- Wide characters ---- */

/* One multibyte character of the ANSI code page from a text stream. */
wint_t get_ansi(FILE* f) {
  char bytes[4];
  int n = 0;
  for (;;) {
    int c = getc(f);
    if (c == EOF) {
      if (n == 0) return WEOF;
      break;
    }
    bytes[n++] = (char)c;
    WCHAR wide[2];
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, n, wide, 2) == 1) return wide[0];
    if (n == (int)sizeof bytes) break;
  }
  /* No character: the first byte alone stands for one, the rest is read again. */
  for (int i = n - 1; i >= 1; i--) ungetc((unsigned char)bytes[i], f);
  WCHAR wide[2] = {0, 0};
  if (MultiByteToWideChar(CP_ACP, 0, bytes, 1, wide, 2) < 1) wide[0] = (unsigned char)bytes[0];
  return wide[0];
}

wint_t get_wide(FILE* f) {
  if (is_text(f)) return get_ansi(f);
  int lo = getc(f);
  if (lo == EOF) return WEOF;
  int hi = getc(f);
  if (hi == EOF) return WEOF;
  return (wint_t)(WCHAR)(lo | hi << 8);
}

bool put_wide(WCHAR c, FILE* f) {
  if (is_text(f)) {
    char bytes[8];
    int n = WideCharToMultiByte(CP_ACP, 0, &c, 1, bytes, sizeof bytes, nullptr, nullptr);
    return n > 0 && fwrite(bytes, 1, (size_t)n, f) == (size_t)n;
  }
  char bytes[2] = {(char)(c & 0xFF), (char)(c >> 8)};
  return fwrite(bytes, 1, 2, f) == 2;
}

}  // namespace
}  // namespace plat

using namespace plat;

FILE* _wfopen(const WCHAR* path, const WCHAR* mode) {
  Mode m;
  if (!path || !parse_mode(mode, &m)) {
    errno = EINVAL;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD error = 0;
  int fd = open_device_file(path, m.flags, &error);
  if (fd < 0) {
    int e = errno;
    SetLastError(error);
    errno = e;
    return nullptr;
  }
  if (!m.text) {
    FILE* f = fdopen(fd, m.host);
    if (!f) close(fd);
    return f;
  }
  auto* s = new TextStream;
  s->fd = fd;
  s->append = (m.flags & O_APPEND) != 0;
  cookie_io_functions_t io;
  io.read = text_read;
  io.write = text_write;
  io.seek = text_seek;
  io.close = text_close;
  FILE* f = fopencookie(s, m.host, io);
  if (!f) {
    close(fd);
    delete s;
    return nullptr;
  }
  s->file = f;
  setvbuf(f, nullptr, _IONBF, 0);
  std::lock_guard<std::mutex> guard(text_mutex);
  text_streams().insert(f);
  return f;
}

int _wremove(const WCHAR* path) {
  if (DeleteFileW(path)) return 0;
  errno = errno_of(GetLastError());
  return -1;
}

int _wrename(const WCHAR* old_path, const WCHAR* new_path) {
  if (MoveFileW(old_path, new_path)) return 0;
  DWORD error = GetLastError();
  errno = error == ERROR_ALREADY_EXISTS ? EACCES : errno_of(error);
  return -1;
}

int _wmkdir(const WCHAR* path) {
  if (CreateDirectoryW(path, nullptr)) return 0;
  errno = errno_of(GetLastError());
  return -1;
}

WCHAR* fgetws(WCHAR* buffer, int count, FILE* stream) {
  if (!buffer || count <= 0 || !stream) {
    errno = EINVAL;
    return nullptr;
  }
  int n = 0;
  while (n < count - 1) {
    wint_t c = get_wide(stream);
    if (c == WEOF) break;
    buffer[n++] = (WCHAR)c;
    if (c == '\n') break;
  }
  buffer[n] = 0;
  if (n == 0 && count > 1) return nullptr;
  return buffer;
}

int fputws(const WCHAR* text, FILE* stream) {
  if (!text || !stream) {
    errno = EINVAL;
    return (int)WEOF;
  }
  for (; *text; text++)
    if (!put_wide(*text, stream)) return (int)WEOF;
  return 0;
}

wint_t fputwc(WCHAR c, FILE* stream) {
  if (!stream) {
    errno = EINVAL;
    return WEOF;
  }
  return put_wide(c, stream) ? (wint_t)c : WEOF;
}

extern "C" wint_t plat_fgetwc(FILE* stream) {
  if (!stream) {
    errno = EINVAL;
    return WEOF;
  }
  return get_wide(stream);
}
