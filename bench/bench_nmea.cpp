/* The NMEA parser on a real receiver's capture: sentences per second through
 * vx_gps_parse_sentence (each sentence parsed in place, as the reader hands
 * it over), and the whole capture through vx_gps_parse. */
#include <benchmark/benchmark.h>
#include <windows.h>

#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

#include "vx_gps_parse.h"

namespace {

/* The shared test data: $VELMAR_TESTDATA, else beside the repository. */
std::string testdata() {
  if (const char* dir = getenv("VELMAR_TESTDATA")) return dir;
  std::string here = __FILE__;
  return here.substr(0, here.rfind('/')) + "/../../shared/testdata";
}

/* The data lines of a capture (its '#' header dropped), each with its line end. */
const std::string& capture() {
  static std::string bytes;
  if (bytes.empty()) {
    std::ifstream in(testdata() + "/nmea/ublox-neo-m9n-nmea.log", std::ios::binary);
    std::string line;
    while (std::getline(in, line))
      if (!line.empty() && line[0] != '#') bytes += line + "\n";
  }
  return bytes;
}

struct Sentence {
  const char* start;
  int length;
};

void BM_ParseSentence(benchmark::State& state) {
  const std::string& bytes = capture();
  if (bytes.empty()) {
    state.SkipWithError("capture not found (set VELMAR_TESTDATA)");
    return;
  }
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
BENCHMARK(BM_ParseSentence);

void BM_ParseBuffer(benchmark::State& state) {
  const std::string& bytes = capture();
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
BENCHMARK(BM_ParseBuffer);

}  // namespace

BENCHMARK_MAIN();
