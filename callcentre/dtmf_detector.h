/* The DTMF tone detector of the call audio: eight Goertzel filters over
 * blocks of 205 samples (8 kHz, 16-bit mono), key decisions per block, the
 * digits collected into a message that ends after eight silent blocks, is
 * aligned on its first "#" at index 2 or later and carries two octal check
 * digits. A valid message (check digits removed) starts a command thread.
 *
 * Diagnostics in "sdmmc\dtmf.txt" by debug_level: 3 the message verdicts,
 * 4 also every block's row and column powers. */
#pragma once

#include <windows.h>

#define DTMF_FREQUENCIES 8
#define DTMF_BLOCK_SAMPLES 205
#define DTMF_CANDIDATES 4
#define DTMF_DETECTOR_MESSAGE_SIZE 260
/* Silent blocks after the last digit that end a message (more than this). */
#define DTMF_PAUSE_BLOCKS 8
/* Both the strongest row and column must exceed this power. */
#define DTMF_MIN_POWER 1e9

typedef struct DtmfCandidate {
  char key;          /* key character */
  signed char count; /* blocks it was seen in; stops at 127 */
} DtmfCandidate;

/* What the detector heard, for an observer (veldtmf --verbose). */
#define DTMF_EVENT_BLOCK 1   /* a block decided: the detector's power, last and run are its */
#define DTMF_EVENT_DIGIT 2   /* a key run stored as a digit */
#define DTMF_EVENT_MESSAGE 3 /* a message ended, with its verdict */
#define DTMF_VERDICT_VALID 0
#define DTMF_VERDICT_CHECK_DIGITS 1 /* its check digits are wrong */
#define DTMF_VERDICT_NO_HASH 2      /* no "#" at index 2 or later */

typedef struct DtmfEvent {
  int kind;         /* DTMF_EVENT_* */
  int end;          /* index, in the samples being fed, just past the block's last sample */
  char key;         /* digit: the key stored */
  int blocks;       /* digit: blocks the key was seen in */
  int verdict;      /* message: DTMF_VERDICT_* */
  const WCHAR* text; /* message: its digits, aligned on its "#" unless none, check digits included */
} DtmfEvent;

typedef void (*DtmfObserver)(void* context, const DtmfEvent* event);

typedef struct DtmfDetector {
  double coefficient[DTMF_FREQUENCIES];
  int coefficients_ready;
  double q1[DTMF_FREQUENCIES];
  double q2[DTMF_FREQUENCIES];
  double power[DTMF_FREQUENCIES];
  int block_samples;   /* samples in the current block, 0-204 */
  int run;             /* blocks of the tone in progress, or silent blocks since the last digit */
  char last;           /* the previous block's key, 0 none */
  DtmfCandidate candidates[DTMF_CANDIDATES];
  int candidate_count; /* 0-4 */
  WCHAR message[DTMF_DETECTOR_MESSAGE_SIZE];
  int message_length;  /* 0-259 */
  DtmfObserver observer; /* null: none; kept by reset */
  void* observer_context;
} DtmfDetector;

/* The process's one detector, used by the capture callback. */
extern DtmfDetector dtmf_detector;

/* The frequencies, rows 0-3 then columns 4-7, and the key table indexed by
 * row * 4 + column - 4. */
extern const double dtmf_frequencies[DTMF_FREQUENCIES];
extern const char dtmf_keys[17];

/* Prepares for a new message: computes the coefficients once, clears the
 * filters, the run, the candidates and the message length. Null: nothing. */
void dtmf_detector_reset(DtmfDetector* detector);
/* Runs count samples through the detector. Returns null, or the complete
 * message with valid check digits (check digits removed), which lies in the
 * detector's message buffer; the samples after the message's end are not
 * examined. Null detector or samples, or count <= 0: null. */
const WCHAR* dtmf_detector_feed(DtmfDetector* detector, const short* samples, int count);

/* The ways of computing the filters. All give bit-identical powers: the
 * vector paths run the eight filters in lanes and several blocks at a time,
 * in the same order of operations as the scalar arithmetic. */
#define DTMF_PATH_SCALAR 0 /* portable */
#define DTMF_PATH_SSE2 1   /* x86-64 baseline */
#define DTMF_PATH_AVX2 2
#define DTMF_PATHS 3

/* 1 when this machine can run path, else 0. */
int dtmf_path_available(int path);
/* The path every detector uses: the fastest available one unless set. */
int dtmf_path(void);
/* Makes every detector use path (tests and the benchmark); -1 chooses the
 * fastest again. 0 when the path is not available here, and nothing changes. */
int dtmf_set_path(int path);
const char* dtmf_path_name(int path);

/* Calls observer with each block decided, each digit stored and each
 * message ended by this detector's feed; null: none. Reset keeps it. */
void dtmf_detector_observe(DtmfDetector* detector, DtmfObserver observer, void* context);

/* The key of the block whose eight powers are given, with the detector's run
 * and last (as in the detector's own decision), or 0 for none. Writes no log. */
char dtmf_decide_key(const double power[DTMF_FREQUENCIES], int run, char last);
/* The two check digits of text (the octal digits of the XOR of its codes with
 * 255) written to out[0], out[1]. */
void dtmf_check_digits(const WCHAR* text, int length, WCHAR out[2]);

/* The capture device's callback (waveInOpen with CALLBACK_FUNCTION):
 * WIM_OPEN resets dtmf_detector; WIM_DATA, while capture_active is 1, feeds
 * the buffer's recorded samples, starts the command of a message found and
 * resets, then queues the buffer again; while capture_active is 0 the buffer
 * is neither examined nor queued. Other notifications: nothing. */
void CALLBACK dtmf_capture_callback(HWAVEIN device, UINT message, DWORD_PTR instance,
                                    DWORD_PTR param1, DWORD_PTR param2);

/* What the callback calls with each valid message: dtmf_start_command by
 * default (a thread with its own copy). Tests replace it; null restores it. */
typedef int (*DtmfMessageStarter)(const WCHAR* message);
void dtmf_set_message_starter(DtmfMessageStarter starter);
