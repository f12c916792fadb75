/* Page manager: the registered pages of the main window, the current one, the
 * transitions between them, and the routing of painting and touch to the
 * current page. A page is a record of handlers; it builds its controls in
 * enter and destroys them in leave, so only the current page holds any. */
#pragma once

#include <stdint.h>
#include <windows.h>

#include "ptr_array.h"

#define PAGE_TRANSITION_CODE 16

typedef int (*VxPagePaintFn)(HDC dc);
typedef int (*VxPageMouseFn)(int x, int y);
typedef int (*VxPageEnterFn)(int arg1, int arg2, int code);
typedef void (*VxPageLeaveFn)(int code);
typedef int (*VxPageSpareFn)(void);

typedef struct Page {
  int previous_id;          /* page current when this one was last entered; -1 at first */
  int id;                   /* key in the manager */
  int owned;                /* non-zero: released by the manager when replaced or destroyed */
  VxPagePaintFn paint;
  VxPageMouseFn mouse_move;
  VxPageMouseFn button_down;
  VxPageMouseFn button_up;
  int32_t reserved1;        /* zero; never read */
  VxPageEnterFn enter;      /* a negative result refuses the transition */
  VxPageLeaveFn leave;
  int32_t reserved2;        /* zero; never read */
  VxPageSpareFn spare;      /* never called */
} Page;

typedef struct PageManager {
  HWND window;              /* target of repaint requests */
  int active;               /* dispatch does nothing while 0 */
  Page* current;
  Page* pending;            /* set only while a transition runs */
  int repaint;
  int code;                 /* PAGE_TRANSITION_CODE */
  int enter_arg1;
  int enter_arg2;
  int previous_id;          /* page current when the switch began, -1 if none */
  CRITICAL_SECTION lock;    /* recursive; guards current..previous_id and the pages */
  PtrArray* pages;
} PageManager;

/* Called after every completed transition with the new current page's id. */
typedef void (*VxPageObserver)(int id);

/* A manager for the window, or null. A step below 1 means 8. */
PageManager* vx_page_create(HWND window, int step);
/* Registers a page, replacing one with the same id. 1, or 0 for a null argument. */
int vx_page_add(PageManager* manager, Page* page);
/* Leaves the current page and enters page `id`. 0; -1 for a null manager, a
 * pending transition or an unknown id; or the entered page's negative enter
 * result (the old page then stays current, although it has been left).
 * `async` is accepted and ignored: transitions always run on the caller's thread. */
int vx_page_switch(PageManager* manager, int id, int repaint, int async, int arg1, int arg2);
/* Leaves the current page, releases owned pages and frees the manager. Null is ignored. */
void vx_page_destroy(PageManager* manager);
/* The current page's id, -1 without a manager or a current page. Takes no lock. */
int vx_page_current_id(const PageManager* manager);

/* Dispatch to the current page: the handler's result; 0 when the manager is
 * null, inactive or has no current page; -1 when the current page is no longer
 * registered or has no such handler. */
int vx_page_paint(PageManager* manager, HDC dc);
int vx_page_mouse_move(PageManager* manager, int x, int y);
int vx_page_lbutton_down(PageManager* manager, int x, int y);
int vx_page_lbutton_up(PageManager* manager, int x, int y);

/* One process-wide observer of page changes (null to remove). */
void vx_page_set_observer(VxPageObserver observer);
