#include "shell_globals.h"

HWND main_window;
int screen_width = 800;
int screen_height = 480;
HINSTANCE app_instance;
