/* velpack: makes an installation package for velinstall from a host folder,
 * and lists a package's entries.
 *
 * build: every folder and file under FOLDER becomes one entry, folders before
 * their contents, names in byte order; each entry's folder field is its
 * parent relative to FOLDER with backslashes. Files keep their times
 * (creation = birth time where the file system has one, else the last write
 * time) and get the archive attribute, plus read-only when not writable.
 * list: one line per entry; a malformed or cut package is an error. */
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
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
    "usage: velpack build FOLDER -o PACKAGE\n"
    "       velpack list PACKAGE\n"
    "\n"
    "  build  packs every folder and file under FOLDER (not FOLDER itself) into\n"
    "         PACKAGE, keeping the files' times; entry names are UTF-8 on the host\n"
    "         and UTF-16 in the package, at most 259 characters, as are the\n"
    "         folders relative to FOLDER; files must be smaller than 4 GiB\n"
    "  list   prints each entry: kind, size, last write time (UTC), path\n"
    "\n"
    "Exit status: 0 done, 1 the folder or package cannot be read or written\n"
    "or breaks the package format's limits, 2 bad usage.\n";

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

class PackBuilder {
 public:
  explicit PackBuilder(std::ofstream* out) : out_(out) {}

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

 private:
  bool fail(const std::string& why) {
    error_ = why;
    return false;
  }

  bool write_entry(const fs::path& path, const struct stat& st, const std::u16string& name,
                   const std::u16string& relative, bool folder) {
    PackageEntryHeader header;
    memset(&header, 0, sizeof header);
    if (!put_field(header.name, name))
      return fail("the name is longer than 259 UTF-16 characters: " + path.string());
    if (!put_field(header.folder, relative))
      return fail("the folder is longer than 259 UTF-16 characters: " + path.string());
    if (!folder && (unsigned long long)st.st_size > 0xFFFFFFFFULL)
      return fail("a file of 4 GiB or more cannot be installed: " + path.string());
    header.attributes = folder ? PACKAGE_FOLDER_ATTRIBUTE : FILE_ATTRIBUTE_ARCHIVE;
    if (!(st.st_mode & S_IWUSR)) header.attributes |= FILE_ATTRIBUTE_READONLY;
    header.creation_time = file_time(creation_of(path.string(), st));
    header.last_access_time = file_time(st.st_atim);
    header.last_write_time = file_time(st.st_mtim);
    header.size_low = folder ? 0 : (DWORD)st.st_size;
    out_->write((const char*)&header, sizeof header);
    if (!folder) {
      std::ifstream in(path, std::ios::binary);
      if (!in) return fail("cannot read " + path.string());
      std::vector<char> buffer(1 << 16);
      unsigned long long copied = 0;
      while (in) {
        in.read(buffer.data(), (std::streamsize)buffer.size());
        std::streamsize n = in.gcount();
        if (n <= 0) break;
        if (copied + (unsigned long long)n > header.size_low) n = (std::streamsize)(header.size_low - copied);
        out_->write(buffer.data(), n);
        copied += (unsigned long long)n;
        if (copied == header.size_low) break;
      }
      if (copied != header.size_low) return fail("the file changed while it was packed: " + path.string());
    }
    if (!*out_) return fail("cannot write the package");
    return true;
  }

  std::ofstream* out_;
  std::string error_;
};

bool inside(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

int build(const std::string& folder_arg, const std::string& package_arg) {
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
    PackBuilder builder(&out);
    ok = builder.pack_folder(folder, std::u16string());
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

bool terminated(const WCHAR* field) {
  for (int i = 0; i < PACKAGE_NAME_CHARS; i++)
    if (!field[i]) return true;
  return false;
}

int list(const std::string& package_arg) {
  std::ifstream in(package_arg, std::ios::binary);
  if (!in) return failure("cannot read " + package_arg);
  in.seekg(0, std::ios::end);
  unsigned long long size = (unsigned long long)in.tellg();
  in.seekg(0);
  unsigned long long offset = 0;
  while (offset < size) {
    PackageEntryHeader header;
    if (size - offset < sizeof header)
      return failure("entry header cut short at byte " + std::to_string(offset));
    in.read((char*)&header, sizeof header);
    if (!in) return failure("cannot read " + package_arg);
    if (!terminated(header.name) || !terminated(header.folder))
      return failure("entry at byte " + std::to_string(offset) + " has an unterminated name or folder");
    bool folder = header.attributes & PACKAGE_FOLDER_ATTRIBUTE;
    std::u16string path(header.folder);
    if (!path.empty()) path += u"\\";
    path += header.name;
    unsigned long long contents = folder ? 0 : header.size_low;
    if (folder)
      std::cout << "folder " << std::string(10, ' ') << "-";
    else
      std::cout << "file   " << std::string(11 - std::min<size_t>(11, std::to_string(contents).size()), ' ')
                << contents;
    std::cout << "  " << time_text(header.last_write_time) << "  " << plat::utf16_to_utf8(path) << "\n";
    offset += sizeof header;
    if (!folder && header.size_high != 0)
      std::cerr << "velpack: " << plat::utf16_to_utf8(path)
                << ": size of 4 GiB or more, velinstall leaves it empty\n";
    if (contents > size - offset)
      return failure("contents of " + plat::utf16_to_utf8(path) + " cut short at byte " +
                     std::to_string(size));
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
    std::string folder, package;
    for (size_t i = 1; i < args.size(); i++) {
      if (args[i] == "-o") {
        if (i + 1 >= args.size()) return usage_error("missing PACKAGE after -o");
        if (!package.empty()) return usage_error("-o given twice");
        package = args[++i];
      } else if (folder.empty() && !args[i].empty() && args[i][0] != '-') {
        folder = args[i];
      } else {
        return usage_error("unexpected argument '" + args[i] + "'");
      }
    }
    if (folder.empty()) return usage_error("no FOLDER given");
    if (package.empty()) return usage_error("no PACKAGE given (-o PACKAGE)");
    return build(folder, package);
  }
  if (args[0] == "list") {
    if (args.size() != 2) return usage_error("wrong number of arguments for 'list'");
    return list(args[1]);
  }
  return usage_error("unknown command '" + args[0] + "'");
}
