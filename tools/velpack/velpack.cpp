/* velpack: makes an installation package for velinstall from a host folder,
 * and lists a package's entries.
 *
 * build: every folder and file under FOLDER becomes one entry, folders before
 * their contents, names in byte order; each entry's folder field is its
 * parent relative to FOLDER with backslashes. Files keep their times
 * (creation = birth time where the file system has one, else the last write
 * time) and get the archive attribute, plus read-only when not writable.
 * It warns about what velinstall will treat differently from a plain file:
 * registry files (imported and deleted), registry files without the REGEDIT4
 * header (their import fails), and paths beyond the device's limit.
 * list: one line per entry; an entry velinstall would refuse or misread, or a
 * cut package, is an error. */
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "package.h"
#include "plat/host.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: velpack build FOLDER -o PACKAGE [--target DEVICE_FOLDER]\n"
    "       velpack list PACKAGE\n"
    "\n"
    "  build  packs every folder and file under FOLDER (not FOLDER itself) into\n"
    "         PACKAGE, keeping the files' times; entry names are UTF-8 on the host\n"
    "         and UTF-16 in the package, at most 259 characters, as are the\n"
    "         folders relative to FOLDER. Warns (standard error) about files that\n"
    "         velinstall imports into the registry and deletes (\".reg\" or \".REG\"\n"
    "         in their folder or name), such files without the REGEDIT4 header,\n"
    "         and paths longer than the device's 259 characters once put under\n"
    "         DEVICE_FOLDER (the install script's directory; default: none).\n"
    "         Shows its progress on standard error when that is a terminal.\n"
    "  list   prints each entry: kind, size, last write time (UTC), path; an entry\n"
    "         velinstall would refuse (a \"..\" component, an unterminated name, a\n"
    "         folder with a size) or a cut package is reported as damaged\n"
    "\n"
    "Exit status: 0 done, 1 the folder or package cannot be read or written,\n"
    "breaks the package format's limits or is damaged, 2 bad usage.\n";

/* The longest device path, in characters (MAX_PATH less the terminator). */
const size_t kDevicePathChars = 259;

const unsigned long long kUnixEpochAsFileTime = 116444736000000000ULL;

int usage_error(const std::string& why) {
  std::cerr << "velpack: " << why << "\n" << kUsage;
  return 2;
}

int failure(const std::string& why) {
  std::cerr << "velpack: " << why << "\n";
  return 1;
}

FILETIME file_time(const struct timespec& t) {
  long long units = (long long)t.tv_sec * 10000000LL + t.tv_nsec / 100;
  unsigned long long value = units < -(long long)kUnixEpochAsFileTime
                                 ? 0
                                 : (unsigned long long)(units + (long long)kUnixEpochAsFileTime);
  FILETIME ft;
  ft.dwLowDateTime = (DWORD)value;
  ft.dwHighDateTime = (DWORD)(value >> 32);
  return ft;
}

unsigned long long time_value(const FILETIME& ft) {
  return (unsigned long long)ft.dwHighDateTime << 32 | ft.dwLowDateTime;
}

/* The birth time where the file system keeps one, else the last write time. */
struct timespec creation_of(const std::string& path, const struct stat& st) {
#ifdef STATX_BTIME
  struct statx sx;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)) {
    struct timespec t;
    t.tv_sec = sx.stx_btime.tv_sec;
    t.tv_nsec = sx.stx_btime.tv_nsec;
    return t;
  }
#else
  (void)path;
#endif
  return st.st_mtim;
}

/* Copies text into a terminated UTF-16 field of PACKAGE_NAME_CHARS. */
bool put_field(WCHAR* field, const std::u16string& text) {
  if (text.size() >= PACKAGE_NAME_CHARS) return false;
  std::copy(text.begin(), text.end(), field);
  field[text.size()] = 0;
  return true;
}

void warn(const std::string& what) { std::cerr << "velpack: warning: " << what << "\n"; }

/* True when the file at path begins with the REGEDIT4 header line, or is
 * empty (an empty registry file imports nothing). */
bool has_registry_header(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  char start[10] = {0};
  in.read(start, sizeof start);
  std::streamsize n = in.gcount();
  return n == 0 || (n == (std::streamsize)sizeof start && memcmp(start, "REGEDIT4\r\n", 10) == 0);
}

/* Entries and bytes packed so far, on standard error when it is a terminal,
 * at most a few times a second. */
class Progress {
 public:
  Progress() : shown_(isatty(STDERR_FILENO) != 0) {}
  void add(unsigned long long bytes) {
    entries_++;
    bytes_ += bytes;
    if (!shown_) return;
    auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    print();
  }
  void finish() {
    if (!shown_) return;
    print();
    std::cerr << "\n";
  }

 private:
  void print() {
    char text[96];
    snprintf(text, sizeof text, "\rvelpack: %llu entries, %.1f MB", entries_, (double)bytes_ / 1e6);
    std::cerr << text << std::flush;
  }
  bool shown_;
  unsigned long long entries_ = 0, bytes_ = 0;
  std::chrono::steady_clock::time_point last_{};
};

class PackBuilder {
 public:
  PackBuilder(std::ofstream* out, const std::u16string& target) : out_(out), target_(target) {}

  /* Packs the contents of host folder `folder`, whose path relative to the
   * root is `relative` (UTF-16, backslashes). */
  bool pack_folder(const fs::path& folder, const std::u16string& relative) {
    std::error_code ec;
    std::vector<fs::path> children;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      children.push_back(it->path());
    if (ec) return fail("cannot read the folder " + folder.string() + ": " + ec.message());
    std::sort(children.begin(), children.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    for (const fs::path& child : children) {
      std::string leaf = child.filename().string();
      if (leaf.find('\\') != std::string::npos)
        return fail("a name with a backslash cannot be a device name: " + child.string());
      std::u16string name = plat::utf8_to_utf16(leaf);
      struct stat st;
      if (lstat(child.c_str(), &st) != 0) return fail("cannot read " + child.string());
      if (S_ISDIR(st.st_mode)) {
        if (!write_entry(child, st, name, relative, true)) return false;
        std::u16string inner = relative.empty() ? name : relative + u"\\" + name;
        if (!pack_folder(child, inner)) return false;
      } else if (S_ISREG(st.st_mode)) {
        if (!write_entry(child, st, name, relative, false)) return false;
      } else {
        return fail("only folders and regular files can be packed: " + child.string());
      }
    }
    return true;
  }

  const std::string& error() const { return error_; }
  void finish() { progress_.finish(); }

 private:
  bool fail(const std::string& why) {
    error_ = why;
    return false;
  }

  /* The warnings about an entry that velinstall treats otherwise than a
   * plain file or folder. */
  void check(const fs::path& path, const PackageEntryHeader& header, const std::u16string& name,
             const std::u16string& relative, bool folder) {
    std::u16string device_path = target_ + u"\\" + relative + u"\\" + name;
    std::string shown = plat::utf16_to_utf8(relative.empty() ? name : relative + u"\\" + name);
    if (device_path.size() > kDevicePathChars)
      warn(shown + ": its device path has " + std::to_string(device_path.size()) +
           " characters, beyond the device's " + std::to_string(kDevicePathChars) +
           "; velinstall cannot write it");
    if (folder || !package_entry_is_registry_file(&header)) return;
    warn(shown + ": a registry file (\".reg\" or \".REG\" in its folder or name); velinstall " +
         "imports it into the registry and deletes it");
    if (!has_registry_header(path))
      warn(shown + ": a registry file without the REGEDIT4 header line; its import fails");
  }

  bool write_entry(const fs::path& path, const struct stat& st, const std::u16string& name,
                   const std::u16string& relative, bool folder) {
    PackageEntryHeader header;
    memset(&header, 0, sizeof header);
    if (!put_field(header.name, name))
      return fail("the name is longer than 259 UTF-16 characters: " + path.string());
    if (!put_field(header.folder, relative))
      return fail("the folder is longer than 259 UTF-16 characters: " + path.string());
    header.attributes = folder ? PACKAGE_FOLDER_ATTRIBUTE : FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR)) header.attributes |= FILE_ATTRIBUTE_READONLY;
    header.creation_time = file_time(creation_of(path.string(), st));
    header.last_access_time = file_time(st.st_atim);
    header.last_write_time = file_time(st.st_mtim);
    unsigned long long size = folder ? 0 : (unsigned long long)st.st_size;
    header.size_low = (DWORD)size;
    header.size_high = (DWORD)(size >> 32);
    if (package_entry_check(&header) != PACKAGE_ENTRY_OK)
      return fail("velinstall refuses this name (dots and blanks only): " + path.string());
    check(path, header, name, relative, folder);
    out_->write((const char*)&header, sizeof header);
    if (!folder) {
      std::ifstream in(path, std::ios::binary);
      if (!in) return fail("cannot read " + path.string());
      std::vector<char> buffer(1 << 16);
      unsigned long long copied = 0;
      while (in && copied < size) {
        unsigned long long want = std::min<unsigned long long>(buffer.size(), size - copied);
        in.read(buffer.data(), (std::streamsize)want);
        std::streamsize n = in.gcount();
        if (n <= 0) break;
        out_->write(buffer.data(), n);
        copied += (unsigned long long)n;
      }
      if (copied != size) return fail("the file changed while it was packed: " + path.string());
    }
    if (!*out_) return fail("cannot write the package");
    progress_.add(size);
    return true;
  }

  std::ofstream* out_;
  std::u16string target_;
  std::string error_;
  Progress progress_;
};

bool inside(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

int build(const std::string& folder_arg, const std::string& package_arg, const std::string& target) {
  std::error_code ec;
  fs::path folder = fs::weakly_canonical(folder_arg, ec);
  if (ec || !fs::is_directory(folder, ec)) return failure("not a folder: " + folder_arg);
  fs::path package = fs::weakly_canonical(package_arg, ec);
  if (ec) return failure("bad package path: " + package_arg);
  if (inside(package, folder)) return failure("the package cannot be inside the folder it packs");
  /* Written beside the package and renamed, so a failed build leaves no half package. */
  fs::path temporary = package;
  temporary += ".velpack-tmp";
  bool ok;
  std::string error;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return failure("cannot write " + temporary.string());
    PackBuilder builder(&out, plat::utf8_to_utf16(target));
    ok = builder.pack_folder(folder, std::u16string());
    builder.finish();
    error = builder.error();
    out.flush();
    if (ok && !out) {
      ok = false;
      error = "cannot write " + temporary.string();
    }
  }
  if (ok) fs::rename(temporary, package, ec);
  if (!ok || ec) {
    fs::remove(temporary, ec);
    return failure(ok ? "cannot write " + package.string() : error);
  }
  return 0;
}

std::string time_text(const FILETIME& ft) {
  unsigned long long value = time_value(ft);
  long long seconds = (long long)(value / 10000000ULL) - (long long)(kUnixEpochAsFileTime / 10000000ULL);
  time_t t = (time_t)seconds;
  struct tm parts;
  if (!gmtime_r(&t, &parts)) return "?";
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

int damaged(const std::string& why) { return failure("damaged package: " + why); }

int list(const std::string& package_arg) {
  std::ifstream in(package_arg, std::ios::binary);
  if (!in) return failure("cannot read " + package_arg);
  in.seekg(0, std::ios::end);
  unsigned long long size = (unsigned long long)in.tellg();
  in.seekg(0);
  unsigned long long offset = 0;
  while (offset < size) {
    PackageEntryHeader header;
    std::string at = "entry at byte " + std::to_string(offset);
    if (size - offset < sizeof header)
      return damaged("entry header cut short at byte " + std::to_string(offset));
    in.read((char*)&header, sizeof header);
    if (!in) return failure("cannot read " + package_arg);
    int check = package_entry_check(&header);
    if (check == PACKAGE_ENTRY_UNTERMINATED) return damaged(at + " has an unterminated name or folder");
    bool folder = header.attributes & PACKAGE_FOLDER_ATTRIBUTE;
    std::u16string path(header.folder);
    if (!path.empty()) path += u"\\";
    path += header.name;
    std::string shown = plat::utf16_to_utf8(path);
    if (check == PACKAGE_ENTRY_LEAVES_TARGET)
      return damaged(at + " (" + shown + ") has a \"..\" component; velinstall refuses it");
    if (check == PACKAGE_ENTRY_FOLDER_WITH_SIZE)
      return damaged(at + " (" + shown + ") is a folder with a size; velinstall refuses it");
    unsigned long long contents = folder ? 0 : package_entry_size(&header);
    std::string size_text = folder ? "-" : std::to_string(contents);
    std::cout << (folder ? "folder " : "file   ")
              << std::string(11 - std::min<size_t>(11, size_text.size()), ' ') << size_text << "  "
              << time_text(header.last_write_time) << "  " << shown << "\n";
    offset += sizeof header;
    if (contents > size - offset)
      return damaged("contents of " + shown + " cut short at byte " + std::to_string(size));
    offset += contents;
    in.seekg((std::streamoff)offset);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (args.empty()) return usage_error("no command given");
  if (args[0] == "build") {
    std::string folder, package, target;
    bool have_target = false;
    for (size_t i = 1; i < args.size(); i++) {
      if (args[i] == "-o") {
        if (i + 1 >= args.size()) return usage_error("missing PACKAGE after -o");
        if (!package.empty()) return usage_error("-o given twice");
        package = args[++i];
      } else if (args[i] == "--target") {
        if (i + 1 >= args.size()) return usage_error("missing DEVICE_FOLDER after --target");
        if (have_target) return usage_error("--target given twice");
        have_target = true;
        target = args[++i];
        while (!target.empty() && (target.back() == '\\' || target.back() == '/')) target.pop_back();
      } else if (folder.empty() && !args[i].empty() && args[i][0] != '-') {
        folder = args[i];
      } else {
        return usage_error("unexpected argument '" + args[i] + "'");
      }
    }
    if (folder.empty()) return usage_error("no FOLDER given");
    if (package.empty()) return usage_error("no PACKAGE given (-o PACKAGE)");
    return build(folder, package, target);
  }
  if (args[0] == "list") {
    if (args.size() != 2) return usage_error("wrong number of arguments for 'list'");
    return list(args[1]);
  }
  return usage_error("unknown command '" + args[0] + "'");
}
