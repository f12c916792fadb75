/* The screen: the 32-bit framebuffer that screen and window DCs draw on,
 * the display backend that shows it (headless or SDL2, chosen at start),
 * and PNG screenshots (libpng).
 *
 * A threaded backend runs on its own thread: it delivers input, and shows
 * the framebuffer after drawing changed it, at most every 16 ms. */
#include <png.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "gdi_internal.h"
#include "gdi_state.h"
#include "plat/host.h"
#include "plat/user.h"
#include "window_internal.h"

namespace plat {

/* The host entry's options, when the host entry is linked in. */
__attribute__((weak)) HostOptions& host_options();

namespace {

using Clock = std::chrono::steady_clock;
const auto frame_interval = std::chrono::milliseconds(16);

struct Screen {
  /* Guarded by the GDI lock. */
  std::shared_ptr<gdi::Bitmap> framebuffer;
  /* Guarded by `control`: opening and closing. */
  std::mutex control;
  const ScreenBackend* backend = &screen_headless;
  std::thread thread;
  /* Shared with the backend's thread. */
  std::atomic<bool> running{false};
  std::atomic<bool> dirty{false};
  std::mutex wake_lock;
  std::condition_variable wake;
  bool flush = false;
  std::mutex quit_lock;
  std::function<void()> on_quit;
};

Screen& screen() {
  static Screen* s = new Screen;
  return *s;
}

std::shared_ptr<gdi::Bitmap> new_framebuffer(int width, int height) {
  auto b = std::make_shared<gdi::Bitmap>();
  size_t stride = (size_t)width * 4;
  b->memory = (uint8_t*)calloc((size_t)height, stride);
  if (!b->memory) return nullptr;
  gdi::Surface& s = b->surface;
  s.ops = &gdi::format_rgb32;
  s.width = width;
  s.height = height;
  s.top = b->memory;
  s.pitch = (ptrdiff_t)stride;
  return b;
}

void default_size(int* width, int* height) {
  *width = 800;
  *height = 480;
  if (&host_options != nullptr) {
    const HostOptions& o = host_options();
    if (o.screen_width > 0 && o.screen_height > 0) {
      *width = o.screen_width;
      *height = o.screen_height;
    }
  }
}

void quit_requested() {
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> guard(screen().quit_lock);
    handler = screen().on_quit;
  }
  if (handler) {
    handler();
    return;
  }
  if (HWND front = GetForegroundWindow()) PostMessageW(front, WM_CLOSE, 0, 0);
}

/* The backend's thread: opens the display, then polls and presents. */
void run_backend(const ScreenBackend* backend, int width, int height,
                 std::promise<bool>* opened) {
  Screen& sc = screen();
  bool ok = backend->open(width, height);
  opened->set_value(ok);
  if (!ok) return;
  std::vector<uint32_t> frame((size_t)width * height);
  Clock::time_point last = Clock::now() - frame_interval;
  sc.dirty = true;
  while (sc.running) {
    if (!backend->poll()) quit_requested();
    bool flush;
    {
      std::lock_guard<std::mutex> guard(sc.wake_lock);
      flush = sc.flush;
      sc.flush = false;
    }
    if ((sc.dirty || flush) && (flush || Clock::now() - last >= frame_interval)) {
      sc.dirty = false;
      int w = 0, h = 0;
      {
        std::lock_guard<std::mutex> guard(gdi::gdi_mutex());
        const gdi::Surface& s = sc.framebuffer->surface;
        w = std::min(s.width, width);
        h = std::min(s.height, height);
        for (int y = 0; y < h; y++) memcpy(&frame[(size_t)y * width], s.row(y), (size_t)w * 4);
      }
      backend->present(frame.data(), width, height, (size_t)width * 4);
      last = Clock::now();
    }
    std::unique_lock<std::mutex> lock(sc.wake_lock);
    sc.wake.wait_for(lock, std::chrono::milliseconds(8), [&] { return sc.flush || !sc.running; });
  }
  backend->close();
}

/* Writes 8-bit RGB rows as a PNG; false on a libpng error. */
bool write_png(FILE* file, int width, int height, const uint8_t* rgb) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, (png_uint_32)width, (png_uint_32)height, 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; y++)
    png_write_row(png, (png_const_bytep)(rgb + (size_t)y * width * 3));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

void stop_backend_locked(Screen& sc) {
  if (sc.thread.joinable()) {
    {
      std::lock_guard<std::mutex> guard(sc.wake_lock);
      sc.running = false;
    }
    sc.wake.notify_all();
    /* A quit handler may close the screen from the backend's own thread. */
    if (sc.thread.get_id() == std::this_thread::get_id())
      sc.thread.detach();
    else
      sc.thread.join();
  }
  sc.backend = &screen_headless;
}

}  // namespace

namespace gdi {

std::shared_ptr<Bitmap> screen_bitmap_locked() {
  Screen& sc = screen();
  if (!sc.framebuffer) {
    int width, height;
    default_size(&width, &height);
    sc.framebuffer = new_framebuffer(width, height);
    if (!sc.framebuffer) sc.framebuffer = new_framebuffer(1, 1);
  }
  return sc.framebuffer;
}

void screen_damage_locked(const RECT&) { screen().dirty = true; }

}  // namespace gdi

ScreenBackendKind screen_open(int width, int height, ScreenBackendKind kind) {
  Screen& sc = screen();
  std::lock_guard<std::mutex> control(sc.control);
  stop_backend_locked(sc);
  if (width <= 0 || height <= 0) default_size(&width, &height);
  {
    std::lock_guard<std::mutex> guard(gdi::gdi_mutex());
    auto fb = new_framebuffer(width, height);
    if (fb) sc.framebuffer = fb;
  }
  set_screen_size(width, height);
  if (kind != ScreenBackendKind::sdl) return ScreenBackendKind::headless;
  const ScreenBackend* backend = &screen_sdl;
  std::promise<bool> opened;
  std::future<bool> result = opened.get_future();
  sc.running = true;
  sc.thread = std::thread(run_backend, backend, width, height, &opened);
  if (!result.get()) {
    sc.running = false;
    sc.thread.join();
    return ScreenBackendKind::headless;
  }
  sc.backend = backend;
  return ScreenBackendKind::sdl;
}

void screen_close() {
  Screen& sc = screen();
  std::lock_guard<std::mutex> control(sc.control);
  stop_backend_locked(sc);
}

int screen_width() {
  std::lock_guard<std::mutex> guard(gdi::gdi_mutex());
  return gdi::screen_bitmap_locked()->surface.width;
}

int screen_height() {
  std::lock_guard<std::mutex> guard(gdi::gdi_mutex());
  return gdi::screen_bitmap_locked()->surface.height;
}

void screen_flush() {
  Screen& sc = screen();
  {
    std::lock_guard<std::mutex> guard(sc.wake_lock);
    sc.flush = true;
  }
  sc.wake.notify_all();
}

void screen_on_quit(std::function<void()> handler) {
  std::lock_guard<std::mutex> guard(screen().quit_lock);
  screen().on_quit = std::move(handler);
}

bool screen_screenshot(const std::string& path) {
  int width, height;
  std::vector<uint8_t> rgb;
  {
    std::lock_guard<std::mutex> guard(gdi::gdi_mutex());
    const gdi::Surface& s = gdi::screen_bitmap_locked()->surface;
    width = s.width;
    height = s.height;
    rgb.resize((size_t)width * height * 3);
    for (int y = 0; y < height; y++) {
      const uint8_t* src = s.row(y);
      uint8_t* dst = &rgb[(size_t)y * width * 3];
      for (int x = 0; x < width; x++, src += 4, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
      }
    }
  }
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = write_png(file, width, height, rgb.data());
  ok = fclose(file) == 0 && ok;
  if (!ok) remove(path.c_str());
  return ok;
}

}  // namespace plat
