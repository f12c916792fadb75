/* What the call pages share: the configuration reads of the current call and
 * the device-ID line of the service-centre pages. */
#pragma once

#include <windows.h>

#include "page_common.h"

#define CALL_BACKGROUND_CENTRE 300
#define CALL_BACKGROUND_PLAIN 530
#define CALL_BUTTON_HANGUP 301
#define CALL_BUTTON_HANGUP_PLAIN 536
#define CALL_ITEM_NAME 305
#define CALL_ITEM_DETAIL 306
#define CALL_ITEM_DEVICE_ID 321
#define CALL_ITEM_RECALL_TITLE 326
#define CALL_ITEM_STATE 533
#define CALL_ITEM_NUMBER 534

/* Reads `key` of section CONFIG of config.ini beside the program into
 * buffer (size characters); empty when missing. */
void call_read_config(const WCHAR* key, WCHAR* buffer, int size);
/* The device-ID line drawn inside item 321 (buffer of at least 32). */
void call_device_id_line(WCHAR* buffer);
/* Draws the name inside 305 with the selected font, then the detail in black
 * from the top left of 306. */
void call_draw_name_and_detail(HDC dc);
/* The texts of the dialing and in-call pages by the call's mode: centre, the
 * device-ID line, name and detail; recall, its title, name and detail; any
 * other, `state` and the number (centred in its item). */
void call_draw_mode_texts(PagePaint* paint, const PageControls* controls, const WCHAR* state);
