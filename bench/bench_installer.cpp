/* velinstall on two packages, beside `cp -r` of the same tree on the same disk
 * in the same run: a 1 GiB package of four files of 256 MiB, and one of
 * 10,000 small files (512 bytes to 8 KiB) in 100 folders.
 *
 * Each iteration runs the real program (build/bin/velinstall) on its script,
 * and `cp -r` of the tree it installs, in alternating order, each after a
 * sync so that neither pays for the other's write-back. Reported: the contents' MB/s of both, their
 * ratio (goal: at least 0.9), and velinstall's peak resident memory (goal:
 * under 32 MiB), from wait4 (an upper bound, see run). Everything lives in one temporary folder on the
 * disk of /tmp (about 4 GiB at the largest), removed at the end. */
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "package.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const std::string& root() {
  static std::string dir;
  if (dir.empty()) {
    char pattern[] = "/tmp/velmar-bench-installer-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    dir = pattern;
    fs::create_directories(dir + "/sdmmc");
  }
  return dir;
}

/* Deterministic noise, so that no file system or cache gains from zeros. */
struct Noise {
  uint64_t state;
  void fill(char* out, size_t n) {
    for (size_t i = 0; i < n; i += 8) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      memcpy(out + i, &state, std::min<size_t>(8, n - i));
    }
  }
};

struct Item {
  std::string folder, name; /* folder empty: at the top */
  unsigned long long size;  /* folder entries: 0 */
  bool is_folder;
};

void put(WCHAR* field, const std::string& ascii) {
  for (size_t i = 0; i < ascii.size(); i++) field[i] = (WCHAR)ascii[i];
}

/* Writes the package of items, contents from the noise, without holding a
 * file in memory. */
void write_package(const std::string& path, const std::vector<Item>& items) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  Noise noise{0x9E3779B97F4A7C15ULL};
  std::vector<char> chunk(1 << 20);
  for (const Item& item : items) {
    PackageEntryHeader h;
    memset(&h, 0, sizeof h);
    h.attributes = item.is_folder ? PACKAGE_FOLDER_ATTRIBUTE : FILE_ATTRIBUTE_ARCHIVE;
    h.creation_time.dwHighDateTime = h.last_access_time.dwHighDateTime =
        h.last_write_time.dwHighDateTime = 0x01D70000;
    h.size_low = (DWORD)item.size;
    h.size_high = (DWORD)(item.size >> 32);
    put(h.name, item.name);
    put(h.folder, item.folder);
    out.write((const char*)&h, sizeof h);
    for (unsigned long long left = item.size; left > 0;) {
      size_t n = (size_t)std::min<unsigned long long>(left, chunk.size());
      noise.fill(chunk.data(), n);
      out.write(chunk.data(), (std::streamsize)n);
      left -= n;
    }
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

struct Tree {
  std::string package; /* device path */
  unsigned long long bytes = 0;
};

/* kind 0: four files of 256 MiB; kind 1: 10,000 small files in 100 folders. */
const Tree& tree(int kind) {
  static Tree trees[2];
  Tree& t = trees[kind];
  if (!t.package.empty()) return t;
  std::vector<Item> items;
  if (kind == 0) {
    for (int i = 0; i < 4; i++) items.push_back({"", "map" + std::to_string(i) + ".dat", 256ULL << 20, false});
  } else {
    Noise sizes{12345};
    for (int d = 0; d < 100; d++) {
      std::string folder = "d" + std::to_string(d);
      items.push_back({"", folder, 0, true});
      for (int f = 0; f < 100; f++) {
        uint64_t r;
        sizes.fill((char*)&r, sizeof r);
        items.push_back({folder, "f" + std::to_string(f) + ".dat", 512 + r % (8192 - 512), false});
      }
    }
  }
  for (const Item& item : items) t.bytes += item.size;
  std::string name = kind == 0 ? "large.pkg" : "small.pkg";
  write_package(root() + "/sdmmc/" + name, items);
  t.package = "\\sdmmc\\" + name;
  return t;
}

struct Run {
  double seconds;
  long peak_kib;
};

/* Runs args to its end; its wall time and peak resident memory. The peak is
 * an upper bound: Linux counts the spawning process's own peak (this
 * benchmark's, some 5 MiB) for a child until its exec. */
Run run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start " + args[0]);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(args[0] + " failed");
  clock_gettime(CLOCK_MONOTONIC, &end);
  return {(double)(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) * 1e-9, usage.ru_maxrss};
}

/* velinstall on its script in the device root; throws unless it reported
 * success. */
Run install_once() {
  const std::string events = root() + "/events.log";
  std::error_code ignored;
  fs::remove(events, ignored);
  Run r = run({VELINSTALL_PATH, "--device", root(), "--events", events});
  std::ifstream in(events);
  std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (log.find("Installation successful!") == std::string::npos)
    throw std::runtime_error("velinstall did not succeed");
  return r;
}

void BM_InstallBesideCp(benchmark::State& state) {
  const Tree& t = tree((int)state.range(0));
  std::ofstream(root() + "/sdmmc/velinstall.ini", std::ios::binary | std::ios::trunc)
      << "[config]\r\ndirectory=\\out\r\nname=" << t.package << "\r\n";
  const std::string out = root() + "/out", copy = root() + "/copy";
  double install_seconds = 0, cp_seconds = 0;
  long install_peak = 0;
  std::error_code ignored;
  /* The tree for cp, installed once; each round installs it again and copies it. */
  const std::string source = root() + "/source";
  install_once();
  fs::rename(out, source);
  int round = 0;
  for (auto _ : state) {
    /* The order alternates, so that neither always runs on a calmer disk. */
    Run install{}, cp{};
    for (int step = 0; step < 2; step++) {
      sync();
      if ((step + round) % 2 == 0)
        install = install_once();
      else
        cp = run({"/bin/cp", "-r", source, copy});
    }
    round++;
    state.SetIterationTime(install.seconds);
    install_seconds += install.seconds;
    cp_seconds += cp.seconds;
    install_peak = std::max(install_peak, install.peak_kib);
    fs::remove_all(out, ignored);
    fs::remove_all(copy, ignored);
  }
  fs::remove_all(source, ignored);
  double mb = (double)t.bytes * (double)state.iterations() / 1e6;
  state.counters["velinstall_MB/s"] = mb / install_seconds;
  state.counters["cp_r_MB/s"] = mb / cp_seconds;
  state.counters["rate_vs_cp"] = cp_seconds / install_seconds;
  state.counters["velinstall_peak_MiB_at_most"] = (double)install_peak / 1024.0;
}
BENCHMARK(BM_InstallBesideCp)
    ->ArgName("small_files")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  int status = 0;
  try {
    benchmark::RunSpecifiedBenchmarks();
  } catch (const std::exception& e) {
    fprintf(stderr, "bench_installer: %s\n", e.what());
    status = 1;
  }
  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove_all(root(), ignored);
  return status;
}
