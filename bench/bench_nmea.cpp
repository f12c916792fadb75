/* The NMEA parser on real receivers' captures: sentences per second through
 * vx_gps_parse_sentence (each sentence parsed in place, as the reader hands
 * it over), and the whole capture through vx_gps_parse. Two captures: one
 * whose RMC, GGA and GSV sentences are all of the accepted field counts
 * (haicom-305N), one of NMEA 4.10 where most are refused by their count
 * (ublox-neo-m9n). And a mixed stream of every RMC, GGA and GSV sentence of
 * all the captures, parsed, beside a plain memchr scan for its line feeds:
 * the floor any parser of that stream pays. */
#include <benchmark/benchmark.h>
#include <windows.h>

#include <dirent.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include <fstream>
#include <string>
#include <vector>

#include "vx_gps_parse.h"

namespace {

/* The shared test data: $VELMAR_TESTDATA, else the folder the build was
 * configured with. */
std::string testdata() {
  if (const char* dir = getenv("VELMAR_TESTDATA")) return dir;
  return VELMAR_TESTDATA;
}

const char* const kCaptures[] = {"haicom-305N.log", "ublox-neo-m9n-nmea.log"};

/* The data lines of a capture (its '#' header dropped), each with its line end. */
std::string capture(int which) {
  std::string bytes;
  std::ifstream in(testdata() + "/nmea/" + kCaptures[which], std::ios::binary);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') bytes += line + "\n";
  return bytes;
}

struct Sentence {
  const char* start;
  int length;
};

/* Each '$' line of `bytes` parsed in place, as the reader hands it over. */
void parse_each_sentence(benchmark::State& state, const std::string& bytes) {
  std::vector<Sentence> sentences;
  size_t begin = 0;
  for (size_t i = 0; i < bytes.size(); i++) {
    if (bytes[i] != '\n') continue;
    if (bytes[begin] == '$') sentences.push_back({bytes.data() + begin, (int)(i - begin + 1)});
    begin = i + 1;
  }
  VxGpsData* data = vx_gps_data_create();
  vx_gps_data_enable(data, 1);
  for (auto _ : state) {
    for (const Sentence& s : sentences) {
      int type;
      benchmark::DoNotOptimize(vx_gps_parse_sentence(data, s.start, s.length, &type));
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * (int64_t)sentences.size());
  state.SetBytesProcessed(state.iterations() * (int64_t)bytes.size());
  vx_gps_data_free(data);
}

void BM_ParseSentence(benchmark::State& state) {
  const std::string bytes = capture((int)state.range(0));
  state.SetLabel(kCaptures[state.range(0)]);
  if (bytes.empty()) {
    state.SkipWithError("capture not found (set VELMAR_TESTDATA)");
    return;
  }
  parse_each_sentence(state, bytes);
}
BENCHMARK(BM_ParseSentence)->Arg(0)->Arg(1);

void BM_ParseBuffer(benchmark::State& state) {
  const std::string bytes = capture((int)state.range(0));
  state.SetLabel(kCaptures[state.range(0)]);
  if (bytes.empty()) {
    state.SkipWithError("capture not found (set VELMAR_TESTDATA)");
    return;
  }
  VxGpsData* data = vx_gps_data_create();
  vx_gps_data_enable(data, 1);
  int sentences = 0;
  for (auto _ : state) {
    sentences = vx_gps_parse(data, bytes.data(), (int)bytes.size());
    benchmark::DoNotOptimize(sentences);
  }
  state.SetItemsProcessed(state.iterations() * (int64_t)sentences);
  vx_gps_data_free(data);
}
BENCHMARK(BM_ParseBuffer)->Arg(0)->Arg(1);

/* Every RMC, GGA and GSV sentence of the captures (file names in order), one
 * a line with its own ending, as a receiver would send them. */
const std::string& mixed_stream() {
  static std::string bytes;
  if (!bytes.empty()) return bytes;
  std::vector<std::string> names;
  if (DIR* dir = opendir((testdata() + "/nmea").c_str())) {
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0) names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::ifstream in(testdata() + "/nmea/" + name, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      if (line.size() < 6 || line[0] != '$') continue;
      const std::string type = line.substr(3, 3);
      if (type == "RMC" || type == "GGA" || type == "GSV") bytes += line + "\n";
    }
  }
  return bytes;
}

void BM_MixedParseSentence(benchmark::State& state) {
  const std::string& bytes = mixed_stream();
  if (bytes.empty()) {
    state.SkipWithError("captures not found (set VELMAR_TESTDATA)");
    return;
  }
  parse_each_sentence(state, bytes);
}
BENCHMARK(BM_MixedParseSentence);

/* The same bytes, only their line feeds found with memchr. */
void BM_MixedMemchrLines(benchmark::State& state) {
  const std::string& bytes = mixed_stream();
  if (bytes.empty()) {
    state.SkipWithError("captures not found (set VELMAR_TESTDATA)");
    return;
  }
  int64_t lines = 0;
  for (auto _ : state) {
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    lines = 0;
    while (const char* lf = (const char*)memchr(p, '\n', (size_t)(end - p))) {
      lines++;
      p = lf + 1;
    }
    benchmark::DoNotOptimize(lines);
  }
  state.SetItemsProcessed(state.iterations() * lines);
  state.SetBytesProcessed(state.iterations() * (int64_t)bytes.size());
}
BENCHMARK(BM_MixedMemchrLines);

}  // namespace

BENCHMARK_MAIN();
