#include "nav_stack.h"

NavStack nav_stack;
PageManager* page_manager;

int nav_push(int id, int arg1) {
  if (nav_stack.top + 1 >= NAV_STACK_SIZE) return -1;
  nav_stack.top++;
  nav_stack.entries[nav_stack.top] = id;
  return vx_page_switch(page_manager, id, 1, 0, arg1, 0);
}

int nav_back(void) {
  if (nav_stack.top <= 0) return -1;
  nav_stack.top--;
  return vx_page_switch(page_manager, nav_stack.entries[nav_stack.top], 1, 0, 0, 0);
}

int nav_home(void) {
  nav_stack.top = 0;
  nav_stack.entries[0] = 0;
  return vx_page_switch(page_manager, 0, 1, 0, 0, 0);
}

int nav_click_result(int result) { return result < 0 ? 0 : -1; }
