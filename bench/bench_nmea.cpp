/* The NMEA parser on real receivers' captures: sentences per second through
 * vx_gps_parse_sentence (each sentence parsed in place, as the reader hands
 * it over), and the whole capture through vx_gps_parse. Two captures: one
 * whose RMC, GGA and GSV sentences are all of the accepted field counts
 * (haicom-305N), one of NMEA 4.10 where most are refused by their count
 * (ublox-neo-m9n). */
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

void BM_ParseSentence(benchmark::State& state) {
  const std::string bytes = capture((int)state.range(0));
  state.SetLabel(kCaptures[state.range(0)]);
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

}  // namespace

BENCHMARK_MAIN();
