/* The shell's entry: one shell per device, the full-screen main window and
 * the message loop of the user-interface thread. */
#pragma once

#include <windows.h>

/* Name of the mutex that allows one shell per device. */
#define SINGLE_INSTANCE_MUTEX TEXT("GUID_VELMAR_20140313")

/* Exit codes of the entry. */
#define SHELL_EXIT_NORMAL 0
#define SHELL_EXIT_NO_WINDOW 16
#define SHELL_EXIT_ALREADY_RUNNING (-1)

/* Reads the screen size from the system metrics into screen_width and
 * screen_height (a size the metrics cannot give keeps the default). */
void read_screen_size(void);
/* Registers the class "APS" and creates, shows and paints the main window
 * covering the whole screen from (0, 0). The window, or null when the class
 * cannot be registered or the creation handler refuses the window. */
HWND create_main_window(HINSTANCE instance);
/* The program's entry: 0 after the message loop, 16 when the main window
 * cannot be created, -1 when another shell runs (which is raised instead). */
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR command_line, int show);
