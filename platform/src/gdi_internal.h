/* What the GDI module offers the rest of the platform below the Win32 line:
 * window DCs for the window manager, the screen (framebuffer, display
 * backend, screenshots) for the host entry and the simulator, and a look
 * at fonts for host-side checks.
 *
 * The screen is 32 bits per pixel, blue-green-red-unused bytes, rows top-down.
 * It has a backend chosen once at start: headless (a framebuffer only) or an
 * SDL2 window, which shows the framebuffer (at most about 60 times a second,
 * after drawing) and turns the mouse into pen events (plat::pointer_event of
 * window_internal.h: button down, motion while down, button up). */
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "plat/gdi.h"

namespace plat {

/* ---- Window DCs, called by BeginPaint / GetDC / EndPaint / ReleaseDC ---- */
/* A new DC drawing on the window's client area, with the client origin as
 * its logical origin, clipped to the client area, to `clip` (client
 * coordinates; null: no further clip) and to the visible windows above it.
 * A null window gives a DC of the whole screen (`clip` then in screen
 * coordinates). Null for a window the window manager does not know; a
 * hidden window's DC draws nothing. Call without the window manager's lock. */
HDC gdi_window_dc(HWND window, const RECT* clip);
/* Ends a DC made by gdi_window_dc; other DCs are left alone. */
void gdi_release_window_dc(HDC dc);

/* ---- The screen ---- */
enum class ScreenBackendKind { headless, sdl };

/* Opens the screen with its size and backend (the host entry or the
 * simulator calls it once at start; GetSystemMetrics reports the same size).
 * SDL falls back to headless when no display can be opened. Reopening
 * replaces the framebuffer (black) and the backend. Returns the backend in
 * use. Without a call, the first drawing makes a headless 800 x 480 screen
 * (or the size of the host options when the host entry is linked). */
ScreenBackendKind screen_open(int width, int height, ScreenBackendKind backend);
/* Stops the backend (closes the SDL window); the framebuffer stays. */
void screen_close();
int screen_width();
int screen_height();
/* Writes the screen as an 8-bit RGB PNG; false when the file cannot be written. */
bool screen_screenshot(const std::string& path);
/* Asks the backend to show pending drawing at once instead of at its next
 * frame (SDL; nothing headless). */
void screen_flush();
/* Called (on the display's thread) when the user closes the SDL window;
 * without a handler the foreground window gets WM_CLOSE. */
void screen_on_quit(std::function<void()> handler);

/* ---- A display backend: a record of callbacks, chosen at start ---- */
struct ScreenBackend {
  const char* name;
  /* Runs its own thread that calls poll and present (false: presentation
   * and input are nothing, as headless). */
  bool threaded;
  /* On the backend's thread: false when the display is not available. */
  bool (*open)(int width, int height);
  /* Shows a frame of 32-bit pixels (stride in bytes). */
  void (*present)(const uint32_t* pixels, int width, int height, size_t stride);
  /* Delivers pending input; returns false when the user asked to quit. */
  bool (*poll)();
  void (*close)();
};
extern const ScreenBackend screen_headless;
extern const ScreenBackend screen_sdl;

/* ---- Fonts, for host-side checks ---- */
/* The font file and face index that a font resolves to; false for a handle
 * that is not a font. */
bool font_source(HFONT font, std::string* file, int* face_index);
/* FreeType's glyph index of a character in the font's face (0: missing). */
unsigned font_glyph_index(HFONT font, uint32_t character);

}  // namespace plat
