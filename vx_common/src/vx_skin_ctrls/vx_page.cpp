#include "vx_page.h"

#include "vx_alloc.h"

static VxPageObserver page_observer;

static int compare_id(void* item, void* key) {
  return ((Page*)item)->id == *(int*)key ? 0 : 1;
}

static void release_owned(void* item) {
  Page* page = (Page*)item;
  if (page && page->owned) VX_FREE(page);
}

PageManager* vx_page_create(HWND window, int step) {
  PageManager* manager = (PageManager*)VX_ALLOC(sizeof(PageManager));
  if (!manager) return NULL;
  memset(manager, 0, sizeof(*manager));
  manager->window = window;
  manager->active = 1;
  manager->previous_id = -1;
  InitializeCriticalSection(&manager->lock);
  manager->pages = ptr_array_create(step < 1 ? 8 : step);
  if (!manager->pages) {
    DeleteCriticalSection(&manager->lock);
    VX_FREE(manager);
    return NULL;
  }
  return manager;
}

int vx_page_add(PageManager* manager, Page* page) {
  if (!manager || !page) return 0;
  EnterCriticalSection(&manager->lock);
  int index = -1;
  Page* old = (Page*)ptr_array_find(manager->pages, compare_id, &page->id, &index);
  if (old) {
    ptr_array_remove_at(manager->pages, index);
    release_owned(old);
  }
  ptr_array_append(manager->pages, page);
  LeaveCriticalSection(&manager->lock);
  return 1;
}

int vx_page_switch(PageManager* manager, int id, int repaint, int async, int arg1, int arg2) {
  (void)async;
  if (!manager || manager->pending) return -1;
  manager->previous_id = -1;
  EnterCriticalSection(&manager->lock);
  int index = -1;
  Page* page = (Page*)ptr_array_find(manager->pages, compare_id, &id, &index);
  if (!page) {
    LeaveCriticalSection(&manager->lock);
    return -1;
  }
  manager->pending = page;
  if (manager->current) manager->previous_id = manager->current->id;
  manager->enter_arg1 = arg1;
  manager->enter_arg2 = arg2;
  manager->code = PAGE_TRANSITION_CODE;
  manager->repaint = repaint;

  if (manager->current && manager->current->leave) manager->current->leave(manager->code);
  if (page->enter) {
    int r = page->enter(arg1, arg2, manager->code);
    if (r < 0) {
      manager->pending = NULL;
      LeaveCriticalSection(&manager->lock);
      return r;
    }
  }
  manager->current = page;
  manager->pending = NULL;
  if (manager->previous_id >= 0) page->previous_id = manager->previous_id;
  LeaveCriticalSection(&manager->lock);

  if (manager->repaint) InvalidateRect(manager->window, NULL, TRUE);
  if (page_observer) page_observer(id);
  return 0;
}

void vx_page_destroy(PageManager* manager) {
  if (!manager) return;
  EnterCriticalSection(&manager->lock);
  if (manager->current && manager->current->leave) manager->current->leave(manager->code);
  manager->current = NULL;
  ptr_array_destroy(manager->pages, release_owned);
  manager->pages = NULL;
  LeaveCriticalSection(&manager->lock);
  DeleteCriticalSection(&manager->lock);
  VX_FREE(manager);
}

int vx_page_current_id(const PageManager* manager) {
  if (!manager || !manager->current) return -1;
  return manager->current->id;
}

/* Looks the current page up by its id, so that a page registered in its place
 * receives the dispatch; calls `call` on it under the lock. */
template <class Call>
static int dispatch(PageManager* manager, Call call) {
  if (!manager || !manager->active || !manager->current) return 0;
  EnterCriticalSection(&manager->lock);
  int result = -1;
  int index = -1;
  int id = manager->current->id;
  Page* page = (Page*)ptr_array_find(manager->pages, compare_id, &id, &index);
  if (page) result = call(page);
  LeaveCriticalSection(&manager->lock);
  return result;
}

int vx_page_paint(PageManager* manager, HDC dc) {
  return dispatch(manager, [dc](Page* p) { return p->paint ? p->paint(dc) : -1; });
}

int vx_page_mouse_move(PageManager* manager, int x, int y) {
  return dispatch(manager, [x, y](Page* p) { return p->mouse_move ? p->mouse_move(x, y) : -1; });
}

int vx_page_lbutton_down(PageManager* manager, int x, int y) {
  return dispatch(manager, [x, y](Page* p) { return p->button_down ? p->button_down(x, y) : -1; });
}

int vx_page_lbutton_up(PageManager* manager, int x, int y) {
  return dispatch(manager, [x, y](Page* p) { return p->button_up ? p->button_up(x, y) : -1; });
}

void vx_page_set_observer(VxPageObserver observer) { page_observer = observer; }
