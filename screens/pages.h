/* The shell's twelve pages. Each page module keeps its state in module-level
 * variables, builds its controls from the skin on enter and releases them on
 * leave; the registration functions add the pages to the shell's page manager. */
#pragma once

#include <windows.h>

#define PAGE_DESKTOP 0
#define PAGE_TOOLS 1
#define PAGE_INCOMING_CALL 2
#define PAGE_DIALING 3
#define PAGE_IN_CALL 4
#define PAGE_RECALL_PROMPT 5
#define PAGE_MEDIA 6
#define PAGE_NO_PHONE 7
#define PAGE_GAMES 8
#define PAGE_SPARE 9
#define PAGE_SERVICE_NUMBERS 10
#define PAGE_NUMBER_ENTRY 11
#define PAGE_COUNT 12

/* Main-window timers of the call pages (period 1000 ms, each with its own
 * timer procedure, so the window procedure does not route them). */
#define TIMER_DIALING_ANIMATION 200
#define TIMER_CALL 300

/* Registration into `page_manager` (shell/nav_stack.h); each returns the
 * result of vx_page_add (1, or 0 without a manager). */
int desktop_page_register(void);
int tools_page_register(void);
int incoming_call_page_register(void);
int dialing_page_register(void);
int in_call_page_register(void);
int recall_prompt_page_register(void);
int media_page_register(void);
int no_phone_page_register(void);
int games_page_register(void);
int spare_page_register(void);
int service_numbers_page_register(void);
int number_entry_page_register(void);

/* Registers the twelve pages in id order. 0, or -1 when any was refused. */
int pages_register_all(void);

/* The shared spare handler of every page: returns 0. */
int pages_spare_handler(void);

/* Timer procedures of the call pages (also callable directly: one tick). */
void CALLBACK dialing_page_animation_tick(HWND window, UINT message, UINT_PTR id, DWORD time);
void CALLBACK in_call_page_timer_tick(HWND window, UINT message, UINT_PTR id, DWORD time);
/* The call timer's text ("00:00:00" on entry to the in-call page). */
const WCHAR* in_call_page_timer_text(void);
/* Non-zero while the in-call page holds an open capture device. */
int in_call_page_capture_open(void);

/* Replaces, in place and left to right, each backslash-n pair by a line feed
 * and each backslash-r pair by a carriage return. */
void expand_escapes(WCHAR* text);
