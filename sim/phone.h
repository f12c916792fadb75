/* Stand-ins of the device programs and drivers around the phone, the camera
 * and the SD card, and the console commands that drive them:
 *   phone start|stop|info TEXT|info -|incoming NUMBER|active|ended
 *   sd insert|remove|write NAME TEXT, camera show|hide, copydata N, hangup-home,
 *   foreground TITLE, registry KEY VALUE TYPE [DATA], expect-file PATH [TEXT]
 * Stand-in programs (registered with plat::register_program):
 *   \residentflash2\Bluetooth.exe  window "kvybluetooth"; records the shell's
 *                                  WM_BT_DIAL/HANGUP/SEND_KEY/ANSWER as `bt` events
 *   \residentflash2\Alarm.exe      window of class "VmAlarm", titled "Alarm"
 *   \residentflash2\fm.exe         window "FM"; switches registry value UseFM
 *                                  (0 <-> 1) and ends after 300 ms of device time
 * Drivers "SCA0:" and "VIP1:" write an `ioctl` event for every request. */
#pragma once

#include <functional>
#include <string>

#include "plat/host.h"
#include "plat/wintypes.h"

namespace sim {

/* Registers the stand-ins, the drivers and the commands above. */
void phone_attach(const plat::HostOptions& options);

/* Parts of phone_attach, one per file. */
void phone_standin_attach();
void camera_attach();
void programs_attach();
void device_console_attach();

/* ---- Shared by the stand-ins ---- */

/* A stand-in program's top-level window on the calling thread: class
 * `window_class`, title `title`, screen-sized, shown when `visible`. Each
 * message goes to `handler` first; it returns true when it handled the
 * message (its result in *result). Runs the message loop until the window
 * is destroyed; `created` is called with the window before the loop. */
using StandinHandler = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT* result)>;
void run_standin_window(const WCHAR* window_class, const WCHAR* title, bool visible,
                        StandinHandler handler, std::function<void(HWND)> created = nullptr);

/* The shell's main window (class and title "APS"), or null. */
HWND shell_window();

/* Writes `bytes` to a device file (created or replaced); false on failure. */
bool write_device_file(const WCHAR* path, const std::string& bytes);
/* UTF-8 text as bytes of the ANSI code page (GBK). */
std::string ansi_of(const std::string& utf8);

}  // namespace sim
