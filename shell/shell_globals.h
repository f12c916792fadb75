/* The shell's process-wide state that the entry sets up: the main window,
 * the screen size it covers and the program's instance. */
#pragma once

#include <windows.h>

/* The main window; stored by its creation handler, null before. */
extern HWND main_window;
/* The screen size in pixels: 800 x 480 until the entry reads the system
 * metrics at start-up; unchanged afterwards. */
extern int screen_width;
extern int screen_height;
/* The program's instance, kept for the window class. */
extern HINSTANCE app_instance;
