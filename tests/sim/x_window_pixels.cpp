/* x_window_pixels: compares what an X server shows in a window with a PNG.
 *
 *   x_window_pixels TITLE REFERENCE.png OUT.png [WITHIN_MS]
 *
 * Finds the top-level window named TITLE on $DISPLAY, reads its pixels from
 * the server (XGetImage) until they equal REFERENCE.png or WITHIN_MS
 * (default 5000) have passed, and writes the last pixels read to OUT.png.
 * Exit status 0: the same pixels; 1: they differ (how many, where, and the
 * first differing pixel are printed); 2: bad use, no server or no window. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> rgb;  /* 0xRRGGBB, rows top to bottom */
};

bool read_png(const char* path, Picture* picture) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path)) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return false;
  picture->width = (int)image.width;
  picture->height = (int)image.height;
  picture->rgb.resize((size_t)picture->width * picture->height);
  for (size_t i = 0; i < picture->rgb.size(); ++i)
    picture->rgb[i] = ((uint32_t)bytes[3 * i] << 16) | ((uint32_t)bytes[3 * i + 1] << 8) | bytes[3 * i + 2];
  return true;
}

bool write_png(const char* path, const Picture& picture) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = (png_uint_32)picture.width;
  image.height = (png_uint_32)picture.height;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> bytes(picture.rgb.size() * 3);
  for (size_t i = 0; i < picture.rgb.size(); ++i) {
    bytes[3 * i] = (uint8_t)(picture.rgb[i] >> 16);
    bytes[3 * i + 1] = (uint8_t)(picture.rgb[i] >> 8);
    bytes[3 * i + 2] = (uint8_t)picture.rgb[i];
  }
  return png_image_write_to_file(&image, path, 0, bytes.data(), 0, nullptr) != 0;
}

/* The first window named `title` below `window`, depth first. */
Window find_window(Display* display, Window window, const char* title) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name) {
    const bool match = strcmp(name, title) == 0;
    XFree(name);
    if (match) return window;
  }
  Window root, parent, *children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < count && !found; ++i) found = find_window(display, children[i], title);
  if (children) XFree(children);
  return found;
}

/* The window's pixels as the server holds them. */
bool read_window(Display* display, Window window, Picture* picture) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) return false;
  XImage* image = XGetImage(display, window, 0, 0, (unsigned)attributes.width, (unsigned)attributes.height,
                            AllPlanes, ZPixmap);
  if (!image) return false;
  picture->width = attributes.width;
  picture->height = attributes.height;
  picture->rgb.resize((size_t)picture->width * picture->height);
  for (int y = 0; y < picture->height; ++y)
    for (int x = 0; x < picture->width; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      /* Scale each channel of the visual's masks to 8 bits. */
      uint32_t rgb = 0;
      for (unsigned long mask : {image->red_mask, image->green_mask, image->blue_mask}) {
        int shift = 0;
        while (mask && !(mask & 1)) {
          mask >>= 1;
          shift++;
        }
        const unsigned long value = (p >> shift) & mask;
        rgb = (rgb << 8) | (uint32_t)(mask ? value * 255 / mask : 0);
      }
      picture->rgb[(size_t)y * picture->width + x] = rgb;
    }
  XDestroyImage(image);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))) {
    printf("usage: x_window_pixels TITLE REFERENCE.png OUT.png [WITHIN_MS]\n"
           "Compares the pixels of the X window TITLE on $DISPLAY with REFERENCE.png.\n");
    return 0;
  }
  if (argc != 4 && argc != 5) {
    fprintf(stderr, "usage: x_window_pixels TITLE REFERENCE.png OUT.png [WITHIN_MS]\n");
    return 2;
  }
  const char* title = argv[1];
  const int within_ms = argc == 5 ? atoi(argv[4]) : 5000;
  Picture reference;
  if (!read_png(argv[2], &reference)) {
    fprintf(stderr, "x_window_pixels: %s is not a readable PNG\n", argv[2]);
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    fprintf(stderr, "x_window_pixels: no X server at DISPLAY=%s\n", getenv("DISPLAY") ? getenv("DISPLAY") : "");
    return 2;
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(within_ms);
  Window window = 0;
  Picture shown;
  bool read = false;
  for (;;) {
    if (!window) window = find_window(display, DefaultRootWindow(display), title);
    if (window) read = read_window(display, window, &shown);
    if (read && shown.width == reference.width && shown.height == reference.height && shown.rgb == reference.rgb)
      break;
    if (std::chrono::steady_clock::now() >= until) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  XCloseDisplay(display);
  if (!window) {
    fprintf(stderr, "x_window_pixels: no window named %s\n", title);
    return 2;
  }
  if (!read) {
    fprintf(stderr, "x_window_pixels: the window %s cannot be read (not mapped?)\n", title);
    return 2;
  }
  if (!write_png(argv[3], shown)) fprintf(stderr, "x_window_pixels: cannot write %s\n", argv[3]);
  if (shown.width != reference.width || shown.height != reference.height) {
    printf("the window is %dx%d, the reference %dx%d\n", shown.width, shown.height, reference.width,
           reference.height);
    return 1;
  }
  int differ = 0, left = shown.width, top = shown.height, right = -1, bottom = -1;
  for (int y = 0; y < shown.height; ++y)
    for (int x = 0; x < shown.width; ++x) {
      const size_t i = (size_t)y * shown.width + x;
      if (shown.rgb[i] == reference.rgb[i]) continue;
      if (!differ)
        printf("first difference at (%d, %d): window %06X, reference %06X\n", x, y, shown.rgb[i], reference.rgb[i]);
      differ++;
      left = std::min(left, x);
      top = std::min(top, y);
      right = std::max(right, x);
      bottom = std::max(bottom, y);
    }
  if (!differ) {
    printf("same: %dx%d pixels\n", shown.width, shown.height);
    return 0;
  }
  printf("%d of %d pixels differ, within (%d, %d) - (%d, %d)\n", differ, shown.width * shown.height, left, top,
         right, bottom);
  return 1;
}
