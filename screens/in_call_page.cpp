/* In-call page (PAGE_IN_CALL): the call in progress with its timer (timer
 * 300) and, with the service centre or the recall number, a keypad whose keys
 * go to the phone. With the service centre the call audio is captured for the
 * DTMF detector while the page is current. */
#include "page_common.h"
#include "pages.h"

#include <string.h>

#include "bt_bridge.h"
#include "call_common.h"
#include "dtmf_detector.h"
#include "shell_globals.h"
#include "vx_alloc.h"
#include "vx_font.h"

#define CALL_TIMER_PERIOD_MS 1000
#define CALL_ITEM_TIMER 600
#define CALL_ITEM_TIMER_PLAIN 537
#define CALL_KEY_FIRST 601
#define CALL_KEY_LAST 612
#define CALL_TIMER_COLOUR 0xFFFF00 /* blue 255, green 255, red 0 */

/* A capture block: the wave header, then 4096 bytes of samples (2048 samples,
 * 256 ms at 8 kHz). The header takes 32 bytes on the device; a host whose
 * header is larger gives it the room it needs. */
#define CAPTURE_SAMPLE_BYTES 4096
#define CAPTURE_HEADER_BYTES ((sizeof(WAVEHDR) + 31) / 32 * 32)
#define CAPTURE_BLOCK_BYTES (CAPTURE_HEADER_BYTES + CAPTURE_SAMPLE_BYTES)
#define CAPTURE_BLOCKS 2

static Page in_call_page;
static PagePicture background;
static PageControls controls;

static int hours, minutes, seconds;
static WCHAR timer_text[24];

static HWAVEIN capture_device;
static BYTE* capture_blocks[CAPTURE_BLOCKS];

static int centre_mode(void) {
  return call_info.mode == CALL_MODE_CENTRE || call_info.mode == CALL_MODE_RECALL;
}

static WAVEHDR* block_header(BYTE* block) { return (WAVEHDR*)block; }

/* Opens the default capture device for 8 kHz 16-bit mono with the detector's
 * callback, queues both blocks and starts. Any failure leaves the call
 * without DTMF analysis (capture_active stays 0). */
static void capture_open(void) {
  WAVEFORMATEX format;
  memset(&format, 0, sizeof format);
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 1;
  format.nSamplesPerSec = 8000;
  format.nAvgBytesPerSec = 16000;
  format.nBlockAlign = 2;
  format.wBitsPerSample = 16;
  format.cbSize = 0;
  HWAVEIN device = NULL;
  if (waveInOpen(&device, WAVE_MAPPER, &format, (DWORD_PTR)dtmf_capture_callback, 0,
                 CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
    return;
  capture_device = device;
  for (BYTE*& block : capture_blocks) {
    block = (BYTE*)VX_ALLOC(CAPTURE_BLOCK_BYTES);
    if (!block) return;
  }
  for (BYTE* block : capture_blocks) {
    WAVEHDR* header = block_header(block);
    memset(header, 0, sizeof *header);
    header->lpData = (LPSTR)(block + CAPTURE_HEADER_BYTES);
    header->dwBufferLength = CAPTURE_SAMPLE_BYTES;
  }
  for (BYTE* block : capture_blocks) waveInPrepareHeader(device, block_header(block), sizeof(WAVEHDR));
  for (BYTE* block : capture_blocks) waveInAddBuffer(device, block_header(block), sizeof(WAVEHDR));
  waveInStart(device);
  capture_active = 1;
}

/* Stops the callback's re-queueing first, so the buffers the reset returns
 * stay returned; then closes the device and frees the blocks. */
static void capture_close(void) {
  if (!capture_device) return;
  capture_active = 0;
  waveInReset(capture_device);
  for (BYTE* block : capture_blocks)
    if (block && (block_header(block)->dwFlags & WHDR_PREPARED))
      waveInUnprepareHeader(capture_device, block_header(block), sizeof(WAVEHDR));
  waveInClose(capture_device);
  for (BYTE*& block : capture_blocks) {
    VX_FREE(block);
    block = NULL;
  }
  capture_device = NULL;
}

static int in_call_click(ButtonGroup*, int id, int, int, int) {
  if (id == CALL_BUTTON_HANGUP || id == CALL_BUTTON_HANGUP_PLAIN)
    bt_hangup();
  else if (id >= CALL_KEY_FIRST && id <= CALL_KEY_LAST)
    bt_send_key(id - CALL_KEY_FIRST);
  return 0;
}

static int in_call_enter(int, int, int) {
  if (call_info.mode == CALL_MODE_CENTRE) {
    capture_open();
    /* A call that came in from a service-centre number never ran the dialing page. */
    if (!call_info.name[0]) {
      call_read_config(TEXT("CENTER_NAME"), call_info.name, CALL_NAME_SIZE);
      call_read_config(TEXT("CENTER_DETAIL"), call_info.detail, CALL_DETAIL_SIZE);
      expand_escapes(call_info.detail);
    }
  }
  if (!call_info.number[0]) lstrcpynW(call_info.number, TEXT("手机呼出"), CALL_NUMBER_SIZE);
  hours = minutes = seconds = 0;
  lstrcpyW(timer_text, TEXT("00:00:00"));
  SetTimer(main_window, TIMER_CALL, CALL_TIMER_PERIOD_MS, in_call_page_timer_tick);
  if (centre_mode()) {
    static const int buttons[] = {CALL_BUTTON_HANGUP, 601, 602, 603, 604, 605, 606,
                                  607, 608, 609, 610, 611, 612};
    page_picture_find(&background, CALL_BACKGROUND_CENTRE);
    page_controls_build(&controls, in_call_click, buttons, PAGE_COUNT_OF(buttons), PAGE_LABEL_HEIGHT,
                        PAGE_FACE_DEFAULT);
  } else {
    static const int buttons[] = {CALL_BUTTON_HANGUP_PLAIN};
    page_picture_find(&background, CALL_BACKGROUND_PLAIN);
    page_controls_build(&controls, in_call_click, buttons, PAGE_COUNT_OF(buttons), PAGE_LABEL_HEIGHT,
                        PAGE_FACE_DEFAULT);
  }
  return 0;
}

void CALLBACK in_call_page_timer_tick(HWND, UINT, UINT_PTR, DWORD) {
  if (++seconds == 60) {
    seconds = 0;
    if (++minutes == 60) {
      minutes = 0;
      ++hours;
    }
  }
  wsprintfW(timer_text, TEXT("%.2d:%.2d:%.2d"), hours, minutes, seconds);
  page_invalidate();
}

const WCHAR* in_call_page_timer_text(void) { return timer_text; }

int in_call_page_capture_open(void) { return capture_device != NULL; }

static int in_call_paint(HDC given) {
  PagePaint paint;
  HDC dc = page_paint_begin(&paint, given);
  if (!dc) return 0;
  page_picture_draw(&background, dc, 0);
  vx_button_draw_all(controls.group, dc);
  call_draw_mode_texts(&paint, &controls, TEXT("正在通话"));
  int timer_item = call_info.mode == CALL_MODE_CENTRE || call_info.mode == CALL_MODE_RECALL
                       ? CALL_ITEM_TIMER
                       : CALL_ITEM_TIMER_PLAIN;
  page_paint_text(&paint, controls.label_font, CALL_TIMER_COLOUR);
  vx_draw_text_in_item(dc, timer_item, timer_text);
  page_paint_end(&paint);
  return 0;
}

static int in_call_down(int x, int y) { return page_controls_down(&controls, x, y); }
static int in_call_move(int x, int y) { return page_controls_move(&controls, x, y); }
static int in_call_up(int x, int y) { return page_controls_up(&controls, x, y); }

static void in_call_leave(int) {
  capture_close();
  KillTimer(main_window, TIMER_CALL);
  page_picture_release(&background);
  page_controls_release(&controls);
}

int in_call_page_register(void) {
  return page_register(&in_call_page, PAGE_IN_CALL, in_call_paint, in_call_move, in_call_down,
                       in_call_up, in_call_enter, in_call_leave);
}
