/* ini_read_string and ini_write_string on a config.ini of 100 keys, in
 * UTF-16LE and in GBK: the time of one call (each opens, scans and closes the
 * file; a write also rewrites it through its temporary file). */
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <stdlib.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "ini_reader.h"
#include "ini_writer.h"
#include "plat/host.h"

namespace {

std::string convert(const std::string& utf8, const char* to) {
  iconv_t cd = iconv_open(to, "UTF-8");
  if (cd == (iconv_t)-1) throw std::runtime_error("iconv_open");
  std::string out(utf8.size() * 4, '\0');
  char* src = const_cast<char*>(utf8.data());
  size_t src_left = utf8.size(), dst_left = out.size();
  char* dst = &out[0];
  if (iconv(cd, &src, &src_left, &dst, &dst_left) == (size_t)-1) throw std::runtime_error("iconv");
  iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

const std::string& root() {
  static std::string dir;
  if (dir.empty()) {
    char pattern[] = "/tmp/velmar-bench-ini-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    dir = pattern;
    plat::set_device_root(dir);
  }
  return dir;
}

/* A config.ini of 100 keys with Chinese values, in the given encoding. */
std::u16string make_config(bool utf16) {
  std::string text = ";service settings\r\n[CONFIG]\r\n";
  for (int i = 0; i < 100; i++)
    text += "KEY" + std::to_string(i) + "=号码 " + std::to_string(1000000 + i) + " 话务中心\r\n";
  text += "[OTHER]\r\nX=1\r\n";
  std::string bytes = utf16 ? "\xFF\xFE" + convert(text, "UTF-16LE") : convert(text, "GBK");
  std::string name = utf16 ? "config16.ini" : "config936.ini";
  std::ofstream(root() + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
  return u"\\" + plat::utf8_to_utf16(name);
}

/* Reads the last key of the section: the whole section is scanned. */
void BM_ReadString(benchmark::State& state) {
  const std::u16string path = make_config(state.range(0) != 0);
  WCHAR buffer[260];
  for (auto _ : state) {
    int n = ini_read_string(u"CONFIG", u"KEY99", NULL, buffer, 260, path.c_str());
    benchmark::DoNotOptimize(n);
    if (n == 0) state.SkipWithError("KEY99 not found");
  }
  state.SetLabel(state.range(0) ? "UTF-16" : "GBK");
}

/* Replaces a key in the middle, alternating a shorter and a longer value. */
void BM_WriteString(benchmark::State& state) {
  const std::u16string path = make_config(state.range(0) != 0);
  const WCHAR* values[] = {u"5", u"\\sdmmc\\Navi\\Navi.exe 导航程序"};
  int i = 0;
  for (auto _ : state) {
    if (ini_write_string(u"CONFIG", u"KEY50", values[i++ & 1], path.c_str()) != 1)
      state.SkipWithError("write failed");
  }
  state.SetLabel(state.range(0) ? "UTF-16" : "GBK");
}

BENCHMARK(BM_ReadString)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteString)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(root(), ignored);
  return 0;
}
