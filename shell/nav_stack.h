/* The shell's navigation stack of page ids and its page manager. Entry 0 is
 * the desktop; entry `top` is the page on screen. Forward navigation pushes,
 * a back button pops, the end of a call goes home. No lock: the UI thread and
 * the call-centre worker both use it. */
#pragma once

#include "vx_page.h"

#define NAV_STACK_SIZE 260

typedef struct NavStack {
  int entries[NAV_STACK_SIZE];
  int top;
} NavStack;

extern NavStack nav_stack;
/* Created by the main window's creation handler; null before and after. */
extern PageManager* page_manager;

/* Pushes `id` and switches to it with `arg1` (the number-entry page's edit
 * target; 0 elsewhere). A full stack refuses the push: -1, nothing changes.
 * Otherwise the switch's result. */
int nav_push(int id, int arg1);
/* Pops one entry and switches to the page below. At entry 0 nothing happens: -1. */
int nav_back(void);
/* Resets the stack to the desktop and switches to it. */
int nav_home(void);
/* A click callback's answer after navigating with `result` (of nav_push,
 * nav_back or nav_home): -1 when the page changed, 0 when the move was
 * refused and the clicking page is still current. */
int nav_click_result(int result);
