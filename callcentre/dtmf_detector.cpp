#include "dtmf_detector.h"

#include <math.h>

#include "dtmf_commands.h"
#include "shell_globals.h"

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

/* Aligns and checks the collected message. True when it is valid; the check
 * digits are then cut off. A message that is not valid is dropped. */
static bool end_message(DtmfDetector* d) {
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
  if (hash < 0) {
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
  m[n - 2] = 0;
  /* Delivered or dropped, the collected digits are used up. */
  d->message_length = 0;
  return valid;
}

/* One complete block: its powers, its key and the tone and message logic.
 * True when a valid message has ended. */
static bool end_block(DtmfDetector* d) {
  for (int k = 0; k < DTMF_FREQUENCIES; k++) {
    d->power[k] = d->q1[k] * d->q1[k] + d->q2[k] * d->q2[k] - d->coefficient[k] * d->q1[k] * d->q2[k];
    d->q1[k] = d->q2[k] = 0.0;
  }
  d->block_samples = 0;
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
    }
    d->run = 1;
    return false;
  }
  d->run++;
  if (d->run > DTMF_PAUSE_BLOCKS && d->message_length > 0) return end_message(d);
  return false;
}

const WCHAR* dtmf_detector_feed(DtmfDetector* d, const short* samples, int count) {
  if (!d || !samples || count <= 0) return nullptr;
  if (!d->coefficients_ready) dtmf_detector_reset(d);
  for (int i = 0; i < count; i++) {
    double x = (double)samples[i];
    for (int k = 0; k < DTMF_FREQUENCIES; k++) {
      double q0 = d->coefficient[k] * d->q1[k] - d->q2[k] + x;
      d->q2[k] = d->q1[k];
      d->q1[k] = q0;
    }
    if (++d->block_samples == DTMF_BLOCK_SAMPLES && end_block(d)) return d->message;
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
