#include "dtmf_detector.h"

#include <math.h>
#include <string.h>

#include <atomic>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define DTMF_X86 1
#include <immintrin.h>
#endif

#include "dtmf_commands.h"
#include "shell_globals.h"

/* The powers are the plain double arithmetic on every build, never fused
 * multiply-adds: the build passes -ffp-contract=off, and clang honours this. */
#ifdef __clang__
#pragma STDC FP_CONTRACT OFF
#endif

DtmfDetector dtmf_detector;

const double dtmf_frequencies[DTMF_FREQUENCIES] = {697, 770, 852, 941, 1209, 1336, 1477, 1633};
const char dtmf_keys[17] = "123A456B789C*0#D";

#define DTMF_LOG_FILE TEXT("sdmmc\\dtmf.txt")
/* 2 * 3.14159265 / 8000 */
#define DTMF_RADIANS_PER_HZ 7.853981625e-4
#define DTMF_ROW_RATIO 0.398    /* 4 dB */
#define DTMF_COLUMN_RATIO 0.158 /* 8 dB */

static DtmfMessageStarter message_starter = dtmf_start_command;

void dtmf_set_message_starter(DtmfMessageStarter starter) {
  message_starter = starter ? starter : dtmf_start_command;
}

void dtmf_detector_reset(DtmfDetector* d) {
  if (!d) return;
  if (!d->coefficients_ready) {
    for (int k = 0; k < DTMF_FREQUENCIES; k++)
      d->coefficient[k] = 2.0 * cos(dtmf_frequencies[k] * DTMF_RADIANS_PER_HZ);
    d->coefficients_ready = 1;
  }
  for (int k = 0; k < DTMF_FREQUENCIES; k++) d->q1[k] = d->q2[k] = 0.0;
  d->run = 0;
  d->message_length = 0;
  d->block_samples = 0;
  d->candidate_count = 0;
  d->last = 0;
}

/* The strongest row (0-3) and column (4-7); the first maximum wins a tie. */
static void strongest(const double power[DTMF_FREQUENCIES], int* row, int* column) {
  int r = 0, c = 4;
  for (int k = 1; k < 4; k++)
    if (power[k] > power[r]) r = k;
  for (int k = 5; k < 8; k++)
    if (power[k] > power[c]) c = k;
  *row = r;
  *column = c;
}

char dtmf_decide_key(const double power[DTMF_FREQUENCIES], int run, char last) {
  int row, column;
  strongest(power, &row, &column);
  double row_power = power[row], column_power = power[column];
  if (!(row_power > DTMF_MIN_POWER) || !(column_power > DTMF_MIN_POWER)) return 0;
  char key = dtmf_keys[row * 4 + column - 4];
  if (run < 4 && key == last) return key;
  int rows = 0, columns = 0;
  for (int k = 0; k < 4; k++)
    if (power[k] > DTMF_ROW_RATIO * row_power) rows++;
  for (int k = 4; k < 8; k++)
    if (power[k] > DTMF_COLUMN_RATIO * column_power) columns++;
  return (rows > 1 || columns > 1) ? 0 : key;
}

void dtmf_check_digits(const WCHAR* text, int length, WCHAR out[2]) {
  unsigned c = 255;
  for (int i = 0; i < length; i++) c = (c ^ (unsigned)text[i]) & 255;
  out[0] = (WCHAR)(48 + ((c >> 4) & 7));
  out[1] = (WCHAR)(48 + (c & 7));
}

static void log_frame(const double power[DTMF_FREQUENCIES], char key) {
  int row, column;
  strongest(power, &row, &column);
  FILE* f = _wfopen(DTMF_LOG_FILE, TEXT("a+b"));
  if (!f) return;
  if (key)
    fprintf(f, "%e\t%e%5c\r\n", power[row], power[column], key);
  else
    fprintf(f, "%e\t%e\r\n", power[row], power[column]);
  fclose(f);
}

static void log_verdict(const WCHAR* message, bool valid) {
  FILE* f = _wfopen(DTMF_LOG_FILE, TEXT("a+b"));
  if (!f) return;
  fprintf(f, valid ? "DTMF:%S\tTRUE\r\n" : "DTMF:%S\tFALSE\r\n", message);
  fclose(f);
}

/* Notifies the observer, if any. */
static void observe(DtmfDetector* d, const DtmfEvent& event) {
  if (d->observer) d->observer(d->observer_context, &event);
}

void dtmf_detector_observe(DtmfDetector* d, DtmfObserver observer, void* context) {
  if (!d) return;
  d->observer = observer;
  d->observer_context = context;
}

/* Aligns and checks the collected message. True when it is valid; the check
 * digits are then cut off. A message that is not valid is dropped. `end` is
 * the block's end in the samples being fed (for the observer). */
static bool end_message(DtmfDetector* d, int end) {
  WCHAR* m = d->message;
  int length = d->message_length;
  m[length] = 0;
  int hash = -1;
  for (int i = 2; i < length; i++) {
    if (m[i] == '#') {
      hash = i;
      break;
    }
  }
  DtmfEvent event = {DTMF_EVENT_MESSAGE, end, 0, 0, DTMF_VERDICT_NO_HASH, m};
  if (hash < 0) {
    observe(d, event);
    d->message_length = 0;
    return false;
  }
  int start = hash - 2;
  int n = length - start;
  memmove(m, m + start, (size_t)(n + 1) * sizeof(WCHAR));
  WCHAR check[2];
  dtmf_check_digits(m, n - 2, check);
  bool valid = m[n - 2] == check[0] && m[n - 1] == check[1];
  if (debug_level >= 3) log_verdict(m, valid);
  event.verdict = valid ? DTMF_VERDICT_VALID : DTMF_VERDICT_CHECK_DIGITS;
  observe(d, event);
  m[n - 2] = 0;
  /* Delivered or dropped, the collected digits are used up. */
  d->message_length = 0;
  return valid;
}

/* The decisions of one complete block whose powers are in d->power: its key
 * and the tone and message logic. True when a valid message has ended. */
static bool block_logic(DtmfDetector* d, int end) {
  char key = dtmf_decide_key(d->power, d->run, d->last);
  d->last = key;
  if (debug_level >= 4) log_frame(d->power, key);

  if (key) {
    d->run = d->candidate_count > 0 ? d->run + 1 : 1;
    for (int i = 0; i < d->candidate_count; i++) {
      if (d->candidates[i].key == key) {
        if (d->candidates[i].count < 127) d->candidates[i].count++;
        return false;
      }
    }
    if (d->candidate_count < DTMF_CANDIDATES) {
      d->candidates[d->candidate_count].key = key;
      d->candidates[d->candidate_count].count = 1;
      d->candidate_count++;
    }
    return false;
  }
  if (d->candidate_count > 0) {
    if (d->run < 4) {
      d->run++;
      return false;
    }
    int best = 0;
    for (int i = 1; i < d->candidate_count; i++)
      if (d->candidates[i].count > d->candidates[best].count) best = i;
    d->candidate_count = 0;
    if (d->candidates[best].count > 1) {
      d->message[d->message_length] = (WCHAR)(unsigned char)d->candidates[best].key;
      d->message_length++;
      if (d->message_length >= DTMF_DETECTOR_MESSAGE_SIZE) d->message_length = 0;
      DtmfEvent event = {DTMF_EVENT_DIGIT, end, d->candidates[best].key, d->candidates[best].count, 0, nullptr};
      observe(d, event);
    }
    d->run = 1;
    return false;
  }
  d->run++;
  if (d->run > DTMF_PAUSE_BLOCKS && d->message_length > 0) return end_message(d, end);
  return false;
}

/* The same, then the observer hears of the block. */
static bool end_block(DtmfDetector* d, int end) {
  bool ended = block_logic(d, end);
  if (d->observer) {
    DtmfEvent event = {DTMF_EVENT_BLOCK, end, d->last, 0, 0, nullptr};
    observe(d, event);
  }
  return ended;
}

/* ---- The filters ----
 * A lane is one block's filters over n samples (at most 205), from the state
 * q1, q2, which it leaves updated. Each path's kernel runs a set of lanes,
 * several in flight, with the arithmetic of the scalar code in the same
 * order: per sample x and filter k, q0 = c[k] * q1[k] - q2[k] + x. */

typedef struct FilterLane {
  const short* x;
  int n;
  double q1[DTMF_FREQUENCIES];
  double q2[DTMF_FREQUENCIES];
} FilterLane;

/* Runs count lanes, the longest first (sorted by n, descending). */
typedef void (*FilterLanes)(const double* c, FilterLane* lanes, int count);

static void power_of(const double* c, const double* q1, const double* q2, double* power) {
  for (int k = 0; k < DTMF_FREQUENCIES; k++) power[k] = q1[k] * q1[k] + q2[k] * q2[k] - c[k] * q1[k] * q2[k];
}

static void scalar_lanes(const double* c, FilterLane* lanes, int count) {
  for (int j = 0; j < count; j++) {
    FilterLane& l = lanes[j];
    for (int i = 0; i < l.n; i++) {
      double x = (double)l.x[i];
      for (int k = 0; k < DTMF_FREQUENCIES; k++) {
        double q0 = c[k] * l.q1[k] - l.q2[k] + x;
        l.q2[k] = l.q1[k];
        l.q1[k] = q0;
      }
    }
  }
}

#ifdef DTMF_X86

/* The vector kernels: one body for SSE2 and AVX2, inlined into each path's
 * entry point, compiled for that target (flatten); their vector signatures
 * never cross a call. */

#define SSE2_FN __attribute__((target("sse2")))
#define AVX2_FN __attribute__((target("avx2")))
#define ENTRY_FN(isa) __attribute__((target(isa), flatten))

/* SSE2: the eight filters in four registers of two lanes. */
struct Sse2 {
  typedef __m128d V;
  static const int W = 2;
  static const int IN_FLIGHT = 2;
  SSE2_FN static V load(const double* p) { return _mm_loadu_pd(p); }
  SSE2_FN static void store(double* p, V v) { _mm_storeu_pd(p, v); }
  SSE2_FN static V broadcast(const double* p) { return _mm_load1_pd(p); }
  SSE2_FN static V mul(V a, V b) { return _mm_mul_pd(a, b); }
  SSE2_FN static V sub(V a, V b) { return _mm_sub_pd(a, b); }
  SSE2_FN static V add(V a, V b) { return _mm_add_pd(a, b); }
};

/* AVX2: the eight filters in two registers of four lanes. */
struct Avx2 {
  typedef __m256d V;
  static const int W = 4;
  static const int IN_FLIGHT = 5;
  AVX2_FN static V load(const double* p) { return _mm256_loadu_pd(p); }
  AVX2_FN static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
  AVX2_FN static V broadcast(const double* p) { return _mm256_broadcast_sd(p); }
  AVX2_FN static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
  AVX2_FN static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
  AVX2_FN static V add(V a, V b) { return _mm256_add_pd(a, b); }
};

/* The q1 registers of one block. */
template <class Ops>
struct LaneRegisters {
  typename Ops::V r[DTMF_FREQUENCIES / Ops::W];
};

/* Several blocks in flight hide the latency of each filter's chain of
 * multiply, subtract, add. Only q1 stays in registers (in the named lane
 * variables l0-l4, never indexed at run time); q2, read and written once a
 * sample, lives in memory, and the barrier after each sample keeps it there,
 * so that the sixteen registers hold enough blocks. No access assumes
 * alignment beyond a double's: MinGW's stack does not provide it. */
#define LANE_STEP(J)                                                                    \
  do {                                                                                  \
    V x_ = Ops::broadcast(&s.x[J][i]);                                                  \
    _Pragma("GCC unroll 4") for (int r = 0; r < R; r++) {                              \
      V t_ = Ops::sub(Ops::mul(cv.r[r], l##J.r[r]), Ops::load(q2[J] + r * Ops::W));      \
      Ops::store(q2[J] + r * Ops::W, l##J.r[r]);                                         \
      l##J.r[r] = Ops::add(t_, x_);                                                      \
    }                                                                                   \
  } while (0)

/* Samples up to `end` of the first A lanes. */
#define LANE_PHASE(A, END)                                  \
  for (; i < (END); i++) {                                  \
    LANE_STEP(0);                                           \
    if (A > 1) LANE_STEP(1);                                \
    if (A > 2) LANE_STEP(2);                                \
    if (A > 3) LANE_STEP(3);                                \
    if (A > 4) LANE_STEP(4);                                \
    __asm__ __volatile__("" : : "r"(&q2[0][0]) : "memory"); \
  }

#define LANE_LOAD(J)                                                                      \
  LaneRegisters<Ops> l##J = {};                                                           \
  if (B > J)                                                                              \
    _Pragma("GCC unroll 4") for (int r = 0; r < R; r++) l##J.r[r] = Ops::load(lanes[J].q1 + r * Ops::W);
#define LANE_SAVE(J) \
  if (B > J)         \
    _Pragma("GCC unroll 4") for (int r = 0; r < R; r++) Ops::store(lanes[J].q1 + r * Ops::W, l##J.r[r]);

/* The body of a group of B lanes (1-5), the longest first: all B while
 * every lane has samples, then fewer. A macro, so that each target's
 * function has its own copy (clang lets no vector cross into a function
 * compiled for less). */
#define LANE_GROUP_BODY                                                       \
  static_assert(B >= 1 && B <= 5, "one to five blocks in flight");           \
  typedef typename Ops::V V;                                                  \
  const int R = DTMF_FREQUENCIES / Ops::W;                                    \
  struct {                                                                    \
    double x[5][DTMF_BLOCK_SAMPLES];                                          \
  } s;                                                                        \
  double q2[5][DTMF_FREQUENCIES];                                             \
  int n[5] = {};                                                              \
  for (int j = 0; j < B; j++) {                                               \
    n[j] = lanes[j].n;                                                        \
    for (int i = 0; i < n[j]; i++) s.x[j][i] = (double)lanes[j].x[i];         \
    for (int k = 0; k < DTMF_FREQUENCIES; k++) q2[j][k] = lanes[j].q2[k];     \
  }                                                                           \
  LaneRegisters<Ops> cv;                                                      \
  for (int r = 0; r < R; r++) cv.r[r] = Ops::load(c + r * Ops::W);            \
  LANE_LOAD(0) LANE_LOAD(1) LANE_LOAD(2) LANE_LOAD(3) LANE_LOAD(4)            \
  int i = 0;                                                                  \
  LANE_PHASE(B, n[B - 1])                                                     \
  if (B > 1) LANE_PHASE(B - 1, n[B > 1 ? B - 2 : 0])                          \
  if (B > 2) LANE_PHASE(B - 2, n[B > 2 ? B - 3 : 0])                          \
  if (B > 3) LANE_PHASE(B - 3, n[B > 3 ? B - 4 : 0])                          \
  if (B > 4) LANE_PHASE(B - 4, n[0])                                          \
  LANE_SAVE(0) LANE_SAVE(1) LANE_SAVE(2) LANE_SAVE(3) LANE_SAVE(4)            \
  for (int j = 0; j < B; j++)                                                 \
    for (int k = 0; k < DTMF_FREQUENCIES; k++) lanes[j].q2[k] = q2[j][k];

/* Groups of Ops::IN_FLIGHT lanes, then one of the rest, by GROUP. */
#define LANE_GROUPS(GROUP)                                                 \
  const int B = Ops::IN_FLIGHT;                                            \
  int j = 0;                                                               \
  for (; j + B <= count; j += B) GROUP<B>(c, lanes + j);                   \
  switch (count - j) {                                                     \
    case 4: GROUP<B >= 5 ? 4 : 1>(c, lanes + j); break;                    \
    case 3: GROUP<B >= 4 ? 3 : 1>(c, lanes + j); break;                    \
    case 2: GROUP<B >= 3 ? 2 : 1>(c, lanes + j); break;                    \
    case 1: GROUP<1>(c, lanes + j); break;                                 \
  }

template <int B>
SSE2_FN static inline void sse2_group(const double* c, FilterLane* lanes) {
  typedef Sse2 Ops;
  LANE_GROUP_BODY
}

ENTRY_FN("sse2") static void sse2_lanes(const double* c, FilterLane* lanes, int count) {
  typedef Sse2 Ops;
  LANE_GROUPS(sse2_group)
}

template <int B>
AVX2_FN static inline void avx2_group(const double* c, FilterLane* lanes) {
  typedef Avx2 Ops;
  LANE_GROUP_BODY
}

ENTRY_FN("avx2") static void avx2_lanes(const double* c, FilterLane* lanes, int count) {
  typedef Avx2 Ops;
  LANE_GROUPS(avx2_group)
}

#endif /* DTMF_X86 */

struct FilterPath {
  const char* name;
  FilterLanes lanes;
};

static const FilterPath filter_paths[DTMF_PATHS] = {
    {"scalar", scalar_lanes},
#ifdef DTMF_X86
    {"sse2", sse2_lanes},
    {"avx2", avx2_lanes},
#else
    {"sse2", nullptr},
    {"avx2", nullptr},
#endif
};

int dtmf_path_available(int path) {
  if (path == DTMF_PATH_SCALAR) return 1;
#ifdef DTMF_X86
  __builtin_cpu_init();
  if (path == DTMF_PATH_SSE2) return __builtin_cpu_supports("sse2") ? 1 : 0;
  if (path == DTMF_PATH_AVX2) return __builtin_cpu_supports("avx2") ? 1 : 0;
#endif
  return 0;
}

/* The path in use; -1 until the first feed chooses the fastest. */
static std::atomic<int> path_in_use(-1);

static int fastest_path() {
  for (int p = DTMF_PATHS - 1; p > DTMF_PATH_SCALAR; p--)
    if (dtmf_path_available(p)) return p;
  return DTMF_PATH_SCALAR;
}

int dtmf_path(void) {
  int p = path_in_use.load(std::memory_order_relaxed);
  if (p < 0) {
    p = fastest_path();
    path_in_use.store(p, std::memory_order_relaxed);
  }
  return p;
}

int dtmf_set_path(int path) {
  if (path == -1) path = fastest_path();
  if (path < 0 || path >= DTMF_PATHS || !dtmf_path_available(path)) return 0;
  path_in_use.store(path, std::memory_order_relaxed);
  return 1;
}

const char* dtmf_path_name(int path) {
  return path >= 0 && path < DTMF_PATHS ? filter_paths[path].name : "none";
}

/* Blocks whose filters run ahead of their decisions, at most. */
#define DTMF_BLOCKS_AHEAD 12

const WCHAR* dtmf_detector_feed(DtmfDetector* d, const short* samples, int count) {
  if (!d || !samples || count <= 0) return nullptr;
  if (!d->coefficients_ready) dtmf_detector_reset(d);
  const FilterPath& path = filter_paths[dtmf_path()];
  int at = 0;
  while (at < count) {
    /* The blocks ahead, in order: perhaps one begun in an earlier buffer,
     * whole ones, perhaps one that ends in a later buffer. The kernel gets
     * them the longest first; where[j] is block j's place there. */
    FilterLane lanes[DTMF_BLOCKS_AHEAD];
    int where[DTMF_BLOCKS_AHEAD];
    int blocks = 0;
    for (int pos = at; pos < count && blocks < DTMF_BLOCKS_AHEAD; blocks++) {
      int begun = blocks == 0 ? d->block_samples : 0;
      FilterLane l;
      l.x = samples + pos;
      l.n = DTMF_BLOCK_SAMPLES - begun;
      if (l.n > count - pos) l.n = count - pos;
      pos += l.n;
      for (int k = 0; k < DTMF_FREQUENCIES; k++) {
        l.q1[k] = begun ? d->q1[k] : 0.0;
        l.q2[k] = begun ? d->q2[k] : 0.0;
      }
      int p = blocks;
      for (; p > 0 && lanes[p - 1].n < l.n; p--) lanes[p] = lanes[p - 1];
      lanes[p] = l;
      for (int j = 0; j < blocks; j++)
        if (where[j] >= p) where[j]++;
      where[blocks] = p;
    }
    path.lanes(d->coefficient, lanes, blocks);
    /* The decisions, block by block. */
    for (int j = 0; j < blocks; j++) {
      const FilterLane& l = lanes[where[j]];
      at += l.n;
      d->block_samples += l.n;
      if (d->block_samples < DTMF_BLOCK_SAMPLES) {
        for (int k = 0; k < DTMF_FREQUENCIES; k++) {
          d->q1[k] = l.q1[k];
          d->q2[k] = l.q2[k];
        }
        break;
      }
      power_of(d->coefficient, l.q1, l.q2, d->power);
      for (int k = 0; k < DTMF_FREQUENCIES; k++) d->q1[k] = d->q2[k] = 0.0;
      d->block_samples = 0;
      if (end_block(d, at)) return d->message;
    }
  }
  return nullptr;
}

void CALLBACK dtmf_capture_callback(HWAVEIN device, UINT message, DWORD_PTR instance,
                                    DWORD_PTR param1, DWORD_PTR param2) {
  (void)instance;
  (void)param2;
  if (message == WIM_OPEN) {
    dtmf_detector_reset(&dtmf_detector);
    return;
  }
  if (message != WIM_DATA || !capture_active) return;
  WAVEHDR* header = (WAVEHDR*)param1;
  if (!header) return;
  DWORD bytes = header->dwBytesRecorded;
  if (bytes > header->dwBufferLength) bytes = header->dwBufferLength;
  if (header->lpData) {
    const WCHAR* text = dtmf_detector_feed(&dtmf_detector, (const short*)header->lpData, (int)(bytes / 2));
    if (text) {
      message_starter(text);
      dtmf_detector_reset(&dtmf_detector);
    }
  }
  waveInAddBuffer(device, header, sizeof(WAVEHDR));
}
