/* The protocol with the Bluetooth hands-free program ("\residentflash2\Bluetooth.exe",
 * window titled "kvybluetooth"): private window messages both ways, the
 * registry value ClientNo with the number to dial, and the information file
 * the phone program writes. Messages to the phone are sent synchronously and
 * silently dropped when its window does not exist. */
#pragma once

#include <windows.h>

/* Shell -> Bluetooth program. */
#define WM_BT_DIAL 8027
#define WM_BT_HANGUP 8031
#define WM_BT_SEND_KEY 8032
#define WM_BT_ANSWER 8034
/* Bluetooth program -> shell's main window (wParam and lParam unused). */
#define WM_BT_INCOMING_CALL 8028
#define WM_BT_INFO_CHANGED 8029
#define WM_BT_CALL_ENDED 8030
#define WM_BT_CALL_ACTIVE 8033

#define BT_WINDOW_TITLE TEXT("kvybluetooth")
#define BT_PROGRAM_PATH TEXT("\\residentflash2\\Bluetooth.exe")
#define BT_INFO_FILE TEXT("\\temp\\BluetoothInfo.txt")
#define BT_CLIENT_KEY TEXT("Software\\Kelvory\\Bluetooth")
#define BT_CLIENT_VALUE TEXT("ClientNo")
/* At most this many bytes of the information file are read. */
#define BT_INFO_MAX 260

/* Stores `number` as ClientNo (REG_SZ with its terminator, under
 * HKEY_LOCAL_MACHINE) and sends WM_BT_DIAL, also when the registry write
 * failed. -1 for a null number (nothing done), else 0. */
int bt_dial(const WCHAR* number);
/* Send WM_BT_ANSWER / WM_BT_HANGUP. */
void bt_answer(void);
void bt_hangup(void);
/* Sends WM_BT_SEND_KEY with the key index (0-11) as wParam. */
void bt_send_key(int key_index);
/* 1 when the information file holds more than one byte of text, else 0
 * (also for a missing file). */
int bt_read_info_present(void);
/* Copies the information file's text, at most `capacity` bytes and at most
 * the text's length (no terminator added). Returns the bytes copied; 0 for a
 * missing file. The shell passes a zeroed buffer of 260 bytes. */
int bt_read_number(char* buffer, int capacity);
/* Raises the Bluetooth program's window (show, top of the Z order, foreground)
 * or, when there is none, starts the program without command line and sets
 * bt_started_by_shell. Blocks only for the start; the desktop runs it on a
 * thread of its own (bt_show_program_async). */
void bt_show_program(void);
/* Runs bt_show_program on a new short-lived thread. */
void bt_show_program_async(void);
