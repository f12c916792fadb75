/* The main window's procedure: creation and destruction of the page manager,
 * flicker-free painting of the current page from WM_ERASEBKGND, and touch
 * input routed to the current page. */
#pragma once

#include <windows.h>

/* Class and title of the main window. */
#define MAIN_WINDOW_CLASS TEXT("APS")
#define MAIN_WINDOW_TITLE TEXT("APS")

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
