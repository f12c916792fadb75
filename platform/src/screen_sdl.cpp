/* The SDL2 display: a window the size of the screen showing the framebuffer.
 * The left mouse button is the pen: button down, motion while it is held and
 * button up become pen events; a few keys become key events. All calls run
 * on the screen's backend thread. */
#include <SDL2/SDL.h>

#include "gdi_internal.h"
#include "plat/user.h"
#include "window_internal.h"

namespace plat {

namespace {

struct SdlDisplay {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  bool pen_down = false;
};

SdlDisplay& display() {
  static SdlDisplay d;
  return d;
}

void sdl_close() {
  SdlDisplay& d = display();
  if (d.texture) SDL_DestroyTexture(d.texture);
  if (d.renderer) SDL_DestroyRenderer(d.renderer);
  if (d.window) SDL_DestroyWindow(d.window);
  d = SdlDisplay();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit(); /* nobody else uses SDL */
}

bool sdl_open(int width, int height) {
  SdlDisplay& d = display();
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  d.window = SDL_CreateWindow("Velmar", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width,
                              height, 0);
  if (d.window) d.renderer = SDL_CreateRenderer(d.window, -1, 0);
  if (!d.renderer && d.window) d.renderer = SDL_CreateRenderer(d.window, -1, SDL_RENDERER_SOFTWARE);
  /* SDL's RGB888 is a 32-bit 0x00RRGGBB word: the framebuffer's own layout. */
  if (d.renderer)
    d.texture = SDL_CreateTexture(d.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                  width, height);
  if (!d.texture) {
    sdl_close();
    return false;
  }
  return true;
}

void show() {
  SdlDisplay& d = display();
  SDL_RenderClear(d.renderer);
  SDL_RenderCopy(d.renderer, d.texture, nullptr, nullptr);
  SDL_RenderPresent(d.renderer);
}

void sdl_present(const uint32_t* pixels, int, int, size_t stride) {
  SDL_UpdateTexture(display().texture, nullptr, pixels, (int)stride);
  show();
}

UINT virtual_key(SDL_Keycode key) {
  switch (key) {
    case SDLK_RETURN: return VK_RETURN;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_UP: return VK_UP;
    case SDLK_DOWN: return VK_DOWN;
    default:
      if (key >= SDLK_0 && key <= SDLK_9) return (UINT)('0' + (key - SDLK_0));
      if (key >= SDLK_a && key <= SDLK_z) return (UINT)('A' + (key - SDLK_a));
      return 0;
  }
}

bool sdl_poll() {
  SdlDisplay& d = display();
  bool keep = true;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    switch (e.type) {
      case SDL_QUIT: keep = false; break;
      case SDL_MOUSEBUTTONDOWN:
        if (e.button.button == SDL_BUTTON_LEFT) {
          d.pen_down = true;
          pointer_event(PointerKind::down, e.button.x, e.button.y);
        }
        break;
      case SDL_MOUSEMOTION:
        if (d.pen_down) pointer_event(PointerKind::move, e.motion.x, e.motion.y);
        break;
      case SDL_MOUSEBUTTONUP:
        if (e.button.button == SDL_BUTTON_LEFT && d.pen_down) {
          d.pen_down = false;
          pointer_event(PointerKind::up, e.button.x, e.button.y);
        }
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        if (UINT vk = virtual_key(e.key.keysym.sym)) key_event(vk, e.type == SDL_KEYDOWN);
        break;
      case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED) show();
        break;
      default: break;
    }
  }
  return keep;
}

}  // namespace

const ScreenBackend screen_sdl = {"sdl", true, sdl_open, sdl_present, sdl_poll, sdl_close};

}  // namespace plat
