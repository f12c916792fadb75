/* The DTMF detector's throughput on call audio (a message in noise, then
 * speech-like silence with noise), fed as the device feeds it: capture
 * buffers of 2048 samples, on the filter path the detector chooses for this
 * machine; beside spandsp's receiver (a peer outside the system) on the same
 * audio in the same run, and their ratio at the end. Also each filter path
 * the machine can run. "realtime" is seconds of audio per second;
 * "allocations" counts heap allocations per pass while the detector is fed
 * (it should make none). */
#include <benchmark/benchmark.h>
#include <spandsp.h>
#include <stdio.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "dtmf_audio.h"
#include "dtmf_detector.h"

/* Every heap allocation goes through malloc, calloc or realloc (operator new
 * too); those made while `counting` is set are counted. glibc's own entry
 * points do the work. */
extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* p, size_t size);

static bool counting = false;
static long long allocations = 0;

extern "C" void* malloc(size_t size) {
  if (counting) allocations++;
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  if (counting) allocations++;
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* p, size_t size) {
  if (counting) allocations++;
  return __libc_realloc(p, size);
}

namespace {

const std::vector<int16_t>& audio() {
  static std::vector<int16_t> a;
  if (a.empty()) {
    dtmf_audio::Options o;
    o.level_dbfs = -20;
    o.snr_db = 20;
    for (const char* m : {"02#0113456700225432", "03#4006601234", "05#111*222"}) {
      std::vector<int16_t> part;
      dtmf_audio::message_audio(m, o, &part);
      a.insert(a.end(), part.begin(), part.end());
      o.seed++;
    }
    std::vector<int16_t> noise(5 * 8000, 0);
    dtmf_audio::add_noise(noise, o);
    a.insert(a.end(), noise.begin(), noise.end());
  }
  return a;
}

const size_t kBuffer = 2048;

void report(benchmark::State& state, size_t samples) {
  state.SetItemsProcessed((int64_t)(state.iterations() * samples));
  state.counters["realtime"] =
      benchmark::Counter((double)samples / dtmf_audio::kRate, benchmark::Counter::kIsIterationInvariantRate);
}

/* The detector over the audio as the capture callback feeds it, on `path`. */
void run_detector(benchmark::State& state, int path) {
  if (!dtmf_set_path(path)) {
    state.SkipWithError("the path is not available here");
    return;
  }
  const std::vector<int16_t>& a = audio();
  int found = 0;
  allocations = 0;
  for (auto _ : state) {
    dtmf_detector_reset(&dtmf_detector);
    for (size_t at = 0; at < a.size(); at += kBuffer) {
      size_t n = std::min(kBuffer, a.size() - at);
      counting = true;
      const WCHAR* text = dtmf_detector_feed(&dtmf_detector, a.data() + at, (int)n);
      counting = false;
      if (text) {
        found++;
        dtmf_detector_reset(&dtmf_detector);
      }
    }
  }
  dtmf_set_path(-1);
  if (found != 3 * (int)state.iterations()) state.SkipWithError("the detector missed a message");
  state.SetLabel(dtmf_path_name(path));
  state.counters["allocations"] = benchmark::Counter((double)allocations, benchmark::Counter::kAvgIterations);
  report(state, a.size());
}

void BM_DtmfDetector(benchmark::State& state) {
  run_detector(state, dtmf_path());
}
BENCHMARK(BM_DtmfDetector);

void BM_SpandspDtmfRx(benchmark::State& state) {
  const std::vector<int16_t>& a = audio();
  char digits[256];
  size_t heard = 0;
  for (auto _ : state) {
    dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, nullptr, nullptr);
    for (size_t at = 0; at < a.size(); at += kBuffer) {
      dtmf_rx(rx, a.data() + at, (int)std::min(kBuffer, a.size() - at));
      heard += dtmf_rx_get(rx, digits, sizeof digits);
    }
    dtmf_rx_free(rx);
  }
  benchmark::DoNotOptimize(heard);
  report(state, a.size());
}
BENCHMARK(BM_SpandspDtmfRx);

/* Each path this machine can run, by number (0 scalar, 1 SSE2, 2 AVX2). */
void BM_DtmfDetectorPath(benchmark::State& state) {
  run_detector(state, (int)state.range(0));
}
BENCHMARK(BM_DtmfDetectorPath)->DenseRange(0, DTMF_PATHS - 1);

/* The console's table, then the detector's speed over spandsp's. */
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred || (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median")) continue;
      auto rate = r.counters.find("items_per_second");
      if (rate != r.counters.end()) rates_[r.run_name.function_name] = rate->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    auto detector = rates_.find("BM_DtmfDetector"), peer = rates_.find("BM_SpandspDtmfRx");
    if (detector == rates_.end() || peer == rates_.end() || peer->second <= 0) return;
    printf("detector %.1f Msamples/s on the %s path, spandsp %.1f Msamples/s: %.2f times (goal 4.0)\n",
           detector->second / 1e6, dtmf_path_name(dtmf_path()), peer->second / 1e6, detector->second / peer->second);
  }

 private:
  std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                               : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
