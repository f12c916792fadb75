/* The headless display: the framebuffer alone, no window and no input (the
 * simulator's console brings the pen events). Always available. */
#include "gdi_internal.h"

namespace plat {

namespace {

bool headless_open(int, int) { return true; }
void headless_present(const uint32_t*, int, int, size_t) {}
bool headless_poll() { return true; }
void headless_close() {}

}  // namespace

const ScreenBackend screen_headless = {"headless", false, headless_open, headless_present,
                                       headless_poll, headless_close};

}  // namespace plat
