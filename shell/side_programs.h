/* The device's other programs as the shell starts or raises them, the camera
 * picture laid over the navigation program through the drivers "VIP1:" and
 * "SCA0:", and the two files on the SD card that the shell reads. */
#pragma once

#include <windows.h>

#define FM_PROGRAM_PATH TEXT("\\residentflash2\\fm.exe")
#define ALARM_WINDOW_CLASS TEXT("VmAlarm")
#define DEBUG_LEVEL_FILE TEXT("sdmmc\\debug.lev")
#define SD_AUTORUN_FILE TEXT("sdmmc\\GpsAutoRun.ini")
#define GPSNAVI_KEY TEXT("SOFTWARE\\Kelvory\\GpsNavi")

/* Camera driver requests, all sent to "SCA0:". */
#define CAMERA_IOCTL_OPEN 0x1B0053
#define CAMERA_IOCTL_WINDOW 0x1B001B
#define CAMERA_IOCTL_ENABLE 0x80012078
#define CAMERA_IOCTL_LEVEL 0x80012070
#define CAMERA_IOCTL_START 0x80012068
#define CAMERA_IOCTL_CLOSE 0x1B0057

/* Picture parameters of camera_show. */
typedef struct CameraPicture {
  WORD standard;       /* 0: source 720 x 240; otherwise 720 x 288 */
  WORD dest_x, dest_y;
  WORD dest_width, dest_height;
  WORD crop_left, crop_top, crop_right, crop_bottom;
} CameraPicture;

/* Starts the program at `path` without command line and closes both handles
 * at once. 0 when it started, -1 otherwise. */
int launch_detached(const WCHAR* path);
/* The same with `command_line` (may be null). */
int launch_detached_command(const WCHAR* path, const WCHAR* command_line);
/* Starts the program with `command_line` (may be null), waits until its main
 * thread has ended and closes both handles. 0 when it started, -1 otherwise. */
int launch_and_wait(const WCHAR* path, const WCHAR* command_line);
/* A path containing ".lnk" (exact case) is a shortcut (launch_shortcut);
 * otherwise the program is started without command line and waited for.
 * -1 for a null path, else 0. */
int launch_entry(const WCHAR* path);
/* Reads at most 260 bytes of the ANSI shortcut file; the text after the first
 * "#" up to the next space is the program, the rest after that space its
 * command line. Starts and waits for it. -1 for a null path, else 0 (also
 * when the file is missing, has no "#" or the program does not start). */
int launch_shortcut(const WCHAR* path);
/* The parsing half of launch_shortcut over the text already read (`length`
 * bytes, ANSI): fills `program` and `command_line` (each `capacity` units,
 * terminated; the command line empty when there is none). 1 when the text
 * names a program, 0 when it has no "#". */
int shortcut_parse(const char* text, int length, WCHAR* program, WCHAR* command_line,
                   int capacity);

/* Starts "\residentflash2\fm.exe", waits for it, then reads UseFM again into
 * fm_enabled (missing: 0). */
void fm_program(void);
/* Raises the window of class "VmAlarm" or, when there is none, starts the
 * program named by CONFIG key ALARM of config.ini (closing its handles at once). */
void alarm_program(void);
/* Reads registry value UseFM (SOFTWARE\Kelvory\GpsNavi): 0 when missing. */
int read_use_fm(void);

/* Shows the camera picture; 0. */
int camera_show(const CameraPicture* picture);
/* Hides it; -1 when show was never called (no sharing objects), else 0. */
int camera_hide(void);

/* Sets debug_level to the first byte of "sdmmc\debug.lev" minus '0'; keeps
 * its value when the file cannot be opened or is empty. Returns debug_level. */
int debug_level_read(void);
/* Starts the program named in "sdmmc\GpsAutoRun.ini" (at most 259 bytes,
 * used unchanged) without waiting. 0 when a program was started, -1 otherwise. */
int sd_autostart(void);

/* The same operations on a new short-lived thread each, as the pages run
 * them: the caller never waits. */
void launch_detached_async(const WCHAR* path);
void launch_entry_async(const WCHAR* path);
void fm_program_async(void);
void alarm_program_async(void);
