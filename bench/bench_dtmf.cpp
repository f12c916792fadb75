/* The DTMF detector's throughput on call audio (a message in noise, then
 * speech-like silence with noise), fed in capture buffers of 2048 samples,
 * beside spandsp's receiver (a peer outside the system) on the same audio.
 * "realtime" is seconds of audio per second: how many times real time. */
#include <benchmark/benchmark.h>
#include <spandsp.h>

#include <vector>

#include "dtmf_audio.h"
#include "dtmf_detector.h"

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

void BM_DtmfDetector(benchmark::State& state) {
  const std::vector<int16_t>& a = audio();
  int found = 0;
  for (auto _ : state) {
    dtmf_detector_reset(&dtmf_detector);
    for (size_t at = 0; at < a.size(); at += kBuffer) {
      size_t n = std::min(kBuffer, a.size() - at);
      if (dtmf_detector_feed(&dtmf_detector, a.data() + at, (int)n)) {
        found++;
        dtmf_detector_reset(&dtmf_detector);
      }
    }
  }
  if (found != 3 * (int)state.iterations()) state.SkipWithError("the detector missed a message");
  report(state, a.size());
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

}  // namespace

BENCHMARK_MAIN();
