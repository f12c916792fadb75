/* The host side of audio capture: the call audio that the capture device
 * records, queued by the simulator or a test. Not part of the Win32 surface;
 * the system's code never includes it. */
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace plat {

/* Appends 8 kHz mono 16-bit samples to the call audio. The line runs at
 * real-time pace in device time whether or not a device records it; with
 * nothing queued it carries silence. Returns the line position (in samples)
 * just after the last sample queued. */
uint64_t call_audio_queue(const int16_t* samples, size_t count);
/* Waits until the line has passed `position` and the capture buffer that
 * received the sample before it (if a device was recording) has been handed
 * to the callback and the callback has returned. */
void call_audio_wait(uint64_t position);
/* Samples queued and not yet played. */
size_t call_audio_pending();

}  // namespace plat
