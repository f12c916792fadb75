/* The default skin's drawing kit: shapes given by signed distance functions
 * (negative inside, in pixels), filled with antialiased coverage into float
 * canvases; BMP files written in the formats the device's decoder reads
 * (24 bits, 16-bit bit fields, 8-bit palette, RLE8, RLE4) with a
 * deterministic median-cut palette. Everything is deterministic: the same
 * source gives the same bytes. */
#pragma once

#include <math.h>
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace art {

constexpr float kPi = 3.14159265358979f;

/* ---- Colours: sRGB components 0..1 ---- */

struct Color {
  float r = 0, g = 0, b = 0, a = 1;
};

inline Color rgb(uint32_t hex, float alpha = 1) {
  return Color{((hex >> 16) & 255) / 255.f, ((hex >> 8) & 255) / 255.f, (hex & 255) / 255.f, alpha};
}
inline Color mix(const Color& p, const Color& q, float t) {
  return Color{p.r + (q.r - p.r) * t, p.g + (q.g - p.g) * t, p.b + (q.b - p.b) * t, p.a + (q.a - p.a) * t};
}
inline Color with_alpha(Color c, float alpha) {
  c.a = alpha;
  return c;
}

/* ---- Shapes ---- */

struct Box {
  float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
inline Box join(const Box& a, const Box& b) {
  return Box{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}
inline Box grow(const Box& a, float d) { return Box{a.x0 - d, a.y0 - d, a.x1 + d, a.y1 + d}; }

/* A region: its signed distance (in the shape's own units) and its bounds. */
struct Shape {
  std::function<float(float, float)> sdf;
  Box box;
  float operator()(float x, float y) const { return sdf(x, y); }
};

inline float length(float x, float y) { return sqrtf(x * x + y * y); }
inline float clampf(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }

/* Nothing: the start of a union built in a loop. */
inline Shape empty() {
  return Shape{[](float, float) { return 1e9f; }, Box{0, 0, 0, 0}};
}

inline Shape circle(float cx, float cy, float r) {
  return Shape{[=](float x, float y) { return length(x - cx, y - cy) - r; }, Box{cx - r, cy - r, cx + r, cy + r}};
}

/* Ellipse (approximate distance, good for antialiasing). */
inline Shape ellipse(float cx, float cy, float rx, float ry) {
  return Shape{[=](float x, float y) {
                 float k = length((x - cx) / rx, (y - cy) / ry);
                 return (k - 1) * std::min(rx, ry);
               },
               Box{cx - rx, cy - ry, cx + rx, cy + ry}};
}

/* Rectangle x0..x1, y0..y1 with corner radius r. */
inline Shape rounded_rect(float x0, float y0, float x1, float y1, float r) {
  const float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  const float hx = (x1 - x0) / 2 - r, hy = (y1 - y0) / 2 - r;
  return Shape{[=](float x, float y) {
                 float qx = fabsf(x - cx) - hx, qy = fabsf(y - cy) - hy;
                 return length(std::max(qx, 0.f), std::max(qy, 0.f)) + std::min(std::max(qx, qy), 0.f) - r;
               },
               Box{x0, y0, x1, y1}};
}
inline Shape rect(float x0, float y0, float x1, float y1) { return rounded_rect(x0, y0, x1, y1, 0); }

/* A stroke from (ax, ay) to (bx, by) with round ends, `width` wide. */
inline Shape segment(float ax, float ay, float bx, float by, float width) {
  const float r = width / 2;
  return Shape{[=](float x, float y) {
                 float px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
                 float dd = dx * dx + dy * dy;
                 float t = dd > 0 ? clampf((px * dx + py * dy) / dd, 0, 1) : 0;
                 return length(px - dx * t, py - dy * t) - r;
               },
               grow(Box{std::min(ax, bx), std::min(ay, by), std::max(ax, bx), std::max(ay, by)}, r)};
}

/* A closed polygon (any winding; even-odd inside test). */
inline Shape polygon(std::vector<std::pair<float, float>> p) {
  Box box{1e9f, 1e9f, -1e9f, -1e9f};
  for (auto& v : p) box = join(box, Box{v.first, v.second, v.first, v.second});
  return Shape{[p](float x, float y) {
                 float d = 1e9f;
                 bool inside = false;
                 const size_t n = p.size();
                 for (size_t i = 0, j = n - 1; i < n; j = i++) {
                   float ax = p[j].first, ay = p[j].second, bx = p[i].first, by = p[i].second;
                   float ex = bx - ax, ey = by - ay, wx = x - ax, wy = y - ay;
                   float ee = ex * ex + ey * ey;
                   float t = ee > 0 ? clampf((wx * ex + wy * ey) / ee, 0, 1) : 0;
                   d = std::min(d, length(wx - ex * t, wy - ey * t));
                   if ((ay > y) != (by > y) && x < ax + (y - ay) * ex / ey) inside = !inside;
                 }
                 return inside ? -d : d;
               },
               box};
}

/* A stroke along the circle (cx, cy, r) from angle a0 to a1 (degrees, y down:
 * 0 = right, 90 = down), with round ends. */
inline Shape arc(float cx, float cy, float r, float a0, float a1, float width) {
  const float mid = (a0 + a1) / 2 * kPi / 180, half = fabsf(a1 - a0) / 2 * kPi / 180;
  const float ex0 = cx + r * cosf(a0 * kPi / 180), ey0 = cy + r * sinf(a0 * kPi / 180);
  const float ex1 = cx + r * cosf(a1 * kPi / 180), ey1 = cy + r * sinf(a1 * kPi / 180);
  const float w = width / 2;
  return Shape{[=](float x, float y) {
                 float dx = x - cx, dy = y - cy;
                 float angle = atan2f(dy, dx) - mid;
                 while (angle > kPi) angle -= 2 * kPi;
                 while (angle < -kPi) angle += 2 * kPi;
                 if (fabsf(angle) <= half) return fabsf(length(dx, dy) - r) - w;
                 return std::min(length(x - ex0, y - ey0), length(x - ex1, y - ey1)) - w;
               },
               grow(Box{cx - r, cy - r, cx + r, cy + r}, w)};
}

inline Shape unite(const Shape& a, const Shape& b) {
  return Shape{[a, b](float x, float y) { return std::min(a(x, y), b(x, y)); }, join(a.box, b.box)};
}
inline Shape unite(std::initializer_list<Shape> shapes) {
  std::vector<Shape> all(shapes);
  Shape out = all[0];
  for (size_t i = 1; i < all.size(); ++i) out = unite(out, all[i]);
  return out;
}
inline Shape subtract(const Shape& a, const Shape& b) {
  return Shape{[a, b](float x, float y) { return std::max(a(x, y), -b(x, y)); }, a.box};
}
inline Shape intersect(const Shape& a, const Shape& b) {
  return Shape{[a, b](float x, float y) { return std::max(a(x, y), b(x, y)); }, a.box};
}
/* The outline of a shape, `width` wide, centred on its edge. */
inline Shape outline(const Shape& a, float width) {
  return Shape{[a, width](float x, float y) { return fabsf(a(x, y)) - width / 2; }, grow(a.box, width / 2)};
}
/* Grows (positive) or shrinks a shape by d. */
inline Shape inflate(const Shape& a, float d) {
  return Shape{[a, d](float x, float y) { return a(x, y) - d; }, grow(a.box, d > 0 ? d : 0)};
}
/* Rotates a shape by `degrees` (clockwise on screen) about (cx, cy). */
inline Shape rotate(const Shape& a, float degrees, float cx = 0, float cy = 0) {
  const float c = cosf(degrees * kPi / 180), s = sinf(degrees * kPi / 180);
  Box b = a.box;
  float xs[4] = {b.x0, b.x1, b.x0, b.x1}, ys[4] = {b.y0, b.y0, b.y1, b.y1};
  Box out{1e9f, 1e9f, -1e9f, -1e9f};
  for (int i = 0; i < 4; ++i) {
    float dx = xs[i] - cx, dy = ys[i] - cy;
    float rx = cx + dx * c - dy * s, ry = cy + dx * s + dy * c;
    out = join(out, Box{rx, ry, rx, ry});
  }
  return Shape{[a, c, s, cx, cy](float x, float y) {
                 float dx = x - cx, dy = y - cy;
                 return a(cx + dx * c + dy * s, cy - dx * s + dy * c);
               },
               out};
}
/* Places a shape designed in unit space (about -1..1) at (cx, cy), `size`
 * pixels across: distances are scaled to pixels. */
inline Shape place(const Shape& a, float cx, float cy, float size) {
  const float k = size / 2;
  return Shape{[a, cx, cy, k](float x, float y) { return a((x - cx) / k, (y - cy) / k) * k; },
               Box{cx + a.box.x0 * k, cy + a.box.y0 * k, cx + a.box.x1 * k, cy + a.box.y1 * k}};
}
inline Shape mirror_x(const Shape& a) {
  return Shape{[a](float x, float y) { return a(-x, y); }, Box{-a.box.x1, a.box.y0, -a.box.x0, a.box.y1}};
}

/* ---- Canvases ---- */

/* Pixels of a rectangle of the screen, premultiplied RGBA; drawing takes
 * screen coordinates. */
struct Canvas {
  int x0 = 0, y0 = 0, w = 0, h = 0;
  std::vector<Color> px;  /* premultiplied */

  Canvas() = default;
  Canvas(int x, int y, int width, int height) : x0(x), y0(y), w(width), h(height), px(size_t(width) * height, Color{0, 0, 0, 0}) {}
  Color& at(int x, int y) { return px[size_t(y - y0) * w + (x - x0)]; }
  const Color& at(int x, int y) const { return px[size_t(y - y0) * w + (x - x0)]; }
  bool contains(int x, int y) const { return x >= x0 && y >= y0 && x < x0 + w && y < y0 + h; }

  void blend(int x, int y, const Color& c, float coverage) {
    const float a = c.a * coverage;
    if (a <= 0) return;
    Color& d = at(x, y);
    d.r = c.r * a + d.r * (1 - a);
    d.g = c.g * a + d.g * (1 - a);
    d.b = c.b * a + d.b * (1 - a);
    d.a = a + d.a * (1 - a);
  }

  /* Fills the shape with paint(x, y) (straight alpha). Coverage is 4 x 4
   * supersampled near the edge, exact distance further in. */
  void fill(const Shape& shape, const std::function<Color(float, float)>& paint) {
    int bx0 = std::max(x0, int(floorf(shape.box.x0)) - 1), by0 = std::max(y0, int(floorf(shape.box.y0)) - 1);
    int bx1 = std::min(x0 + w, int(ceilf(shape.box.x1)) + 2), by1 = std::min(y0 + h, int(ceilf(shape.box.y1)) + 2);
    for (int y = by0; y < by1; ++y)
      for (int x = bx0; x < bx1; ++x) {
        float d = shape(x + 0.5f, y + 0.5f);
        float coverage;
        if (d >= 1.0f) continue;
        if (d <= -1.0f) {
          coverage = 1;
        } else {
          int inside = 0;
          for (int sy = 0; sy < 4; ++sy)
            for (int sx = 0; sx < 4; ++sx)
              if (shape(x + (sx + 0.5f) / 4, y + (sy + 0.5f) / 4) < 0) inside++;
          coverage = inside / 16.f;
        }
        if (coverage > 0) blend(x, y, paint(x + 0.5f, y + 0.5f), coverage);
      }
  }
  void fill(const Shape& shape, const Color& c) {
    fill(shape, [c](float, float) { return c; });
  }
  /* Another canvas drawn over this one where they overlap. */
  void draw(const Canvas& top) {
    for (int y = std::max(y0, top.y0); y < std::min(y0 + h, top.y0 + top.h); ++y)
      for (int x = std::max(x0, top.x0); x < std::min(x0 + w, top.x0 + top.w); ++x) {
        const Color& s = top.at(x, y);
        Color& d = at(x, y);
        d.r = s.r + d.r * (1 - s.a);
        d.g = s.g + d.g * (1 - s.a);
        d.b = s.b + d.b * (1 - s.a);
        d.a = s.a + d.a * (1 - s.a);
      }
  }
};

/* Paints. */
inline std::function<Color(float, float)> vertical(float y0, const Color& top, float y1, const Color& bottom) {
  return [=](float, float y) { return mix(top, bottom, clampf((y - y0) / (y1 - y0), 0, 1)); };
}
inline std::function<Color(float, float)> radial(float cx, float cy, float r, const Color& inner, const Color& outer) {
  return [=](float x, float y) { return mix(inner, outer, clampf(length(x - cx, y - cy) / r, 0, 1)); };
}

/* ---- Pictures and their BMP files ---- */

/* An opaque picture, 8-bit channels, rows top-down. */
struct Picture {
  int w = 0, h = 0;
  std::vector<uint32_t> px;  /* 0xRRGGBB */
};

inline uint8_t to8(float v) { return uint8_t(clampf(v, 0, 1) * 255 + 0.5f); }

/* The canvas over black (premultiplied colours are the picture). */
inline Picture picture_of(const Canvas& c) {
  Picture p;
  p.w = c.w;
  p.h = c.h;
  p.px.resize(c.px.size());
  for (size_t i = 0; i < c.px.size(); ++i)
    p.px[i] = uint32_t(to8(c.px[i].r)) << 16 | uint32_t(to8(c.px[i].g)) << 8 | to8(c.px[i].b);
  return p;
}

/* Frames side by side. */
inline Picture side_by_side(const std::vector<Picture>& frames) {
  Picture out;
  out.h = frames[0].h;
  for (auto& f : frames) out.w += f.w;
  out.px.resize(size_t(out.w) * out.h);
  int at = 0;
  for (auto& f : frames) {
    for (int y = 0; y < f.h; ++y)
      for (int x = 0; x < f.w; ++x) out.px[size_t(y) * out.w + at + x] = f.px[size_t(y) * f.w + x];
    at += f.w;
  }
  return out;
}

enum class Format { Rgb24, BitFields16, Palette8, Rle8, Rle4 };

inline const char* format_name(Format f) {
  switch (f) {
    case Format::Rgb24: return "24-bit";
    case Format::BitFields16: return "16-bit bit fields";
    case Format::Palette8: return "8-bit palette";
    case Format::Rle8: return "RLE8";
    case Format::Rle4: return "RLE4";
  }
  return "?";
}

/* Median-cut palette of at most `count` colours, and each pixel's index.
 * Exact when the picture has no more colours than that. */
inline void quantize(const Picture& p, int count, std::vector<uint32_t>* palette, std::vector<uint8_t>* indices) {
  std::map<uint32_t, uint32_t> histogram;
  for (uint32_t c : p.px) histogram[c]++;
  palette->clear();
  if (int(histogram.size()) <= count) {
    for (auto& e : histogram) palette->push_back(e.first);
  } else {
    struct Entry {
      uint32_t color, weight;
    };
    std::vector<std::vector<Entry>> boxes(1);
    for (auto& e : histogram) boxes[0].push_back({e.first, e.second});
    auto channel = [](uint32_t c, int k) { return int((c >> (16 - 8 * k)) & 255); };
    while (int(boxes.size()) < count) {
      /* Split the box with the widest channel range (ties: the heavier, then the first). */
      int best = -1, best_range = 0, best_channel = 0;
      uint64_t best_weight = 0;
      for (size_t i = 0; i < boxes.size(); ++i) {
        if (boxes[i].size() < 2) continue;
        uint64_t weight = 0;
        for (auto& e : boxes[i]) weight += e.weight;
        for (int k = 0; k < 3; ++k) {
          int lo = 255, hi = 0;
          for (auto& e : boxes[i]) {
            lo = std::min(lo, channel(e.color, k));
            hi = std::max(hi, channel(e.color, k));
          }
          int range = hi - lo;
          if (range > best_range || (range == best_range && weight > best_weight)) {
            best = int(i);
            best_range = range;
            best_channel = k;
            best_weight = weight;
          }
        }
      }
      if (best < 0) break;
      auto& box = boxes[best];
      std::stable_sort(box.begin(), box.end(), [&](const Entry& a, const Entry& b) {
        return channel(a.color, best_channel) < channel(b.color, best_channel);
      });
      uint64_t total = 0, run = 0;
      for (auto& e : box) total += e.weight;
      size_t cut = 1;
      for (size_t i = 0; i + 1 < box.size(); ++i) {
        run += box[i].weight;
        cut = i + 1;
        if (run * 2 >= total) break;
      }
      std::vector<Entry> upper(box.begin() + cut, box.end());
      box.resize(cut);
      boxes.push_back(std::move(upper));
    }
    for (auto& box : boxes) {
      double sum[3] = {0, 0, 0}, weight = 0;
      for (auto& e : box) {
        for (int k = 0; k < 3; ++k) sum[k] += channel(e.color, k) * double(e.weight);
        weight += e.weight;
      }
      uint32_t c = 0;
      for (int k = 0; k < 3; ++k) c = c << 8 | uint32_t(sum[k] / weight + 0.5);
      palette->push_back(c);
    }
  }
  std::map<uint32_t, uint8_t> nearest;
  indices->resize(p.px.size());
  for (size_t i = 0; i < p.px.size(); ++i) {
    const uint32_t c = p.px[i];
    auto it = nearest.find(c);
    if (it == nearest.end()) {
      int best = 0;
      long best_d = -1;
      for (size_t k = 0; k < palette->size(); ++k) {
        uint32_t q = (*palette)[k];
        long dr = long((c >> 16) & 255) - long((q >> 16) & 255), dg = long((c >> 8) & 255) - long((q >> 8) & 255),
             db = long(c & 255) - long(q & 255);
        long d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (best_d < 0 || d < best_d) {
          best_d = d;
          best = int(k);
        }
      }
      it = nearest.emplace(c, uint8_t(best)).first;
    }
    (*indices)[i] = it->second;
  }
}

struct ByteWriter {
  std::vector<uint8_t> b;
  void u8(uint32_t v) { b.push_back(uint8_t(v)); }
  void u16(uint32_t v) {
    u8(v);
    u8(v >> 8);
  }
  void u32(uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  }
};

/* RLE8 rows, bottom-up: encoded runs of 3 or more, absolute runs of 3 or more
 * literals, short leftovers as encoded runs of 1 or 2. */
inline void rle8_rows(ByteWriter& out, const std::vector<uint8_t>& idx, int w, int h) {
  for (int y = h - 1; y >= 0; --y) {
    const uint8_t* row = &idx[size_t(y) * w];
    int x = 0;
    while (x < w) {
      int run = 1;
      while (x + run < w && run < 255 && row[x + run] == row[x]) run++;
      if (run >= 3) {
        out.u8(run);
        out.u8(row[x]);
        x += run;
        continue;
      }
      /* Literals up to the next run of 3. */
      int end = x;
      while (end < w && end - x < 255) {
        if (end + 2 < w && row[end] == row[end + 1] && row[end] == row[end + 2]) break;
        end++;
      }
      int n = end - x;
      if (n >= 3) {
        out.u8(0);
        out.u8(n);
        for (int i = 0; i < n; ++i) out.u8(row[x + i]);
        if (n & 1) out.u8(0);
      } else {
        for (int i = 0; i < n; ++i) {
          out.u8(1);
          out.u8(row[x + i]);
        }
      }
      x = end;
    }
    out.u8(0);
    out.u8(y == 0 ? 1 : 0);
  }
}

/* RLE4 rows, bottom-up, pixels in stream order (high nibble first). */
inline void rle4_rows(ByteWriter& out, const std::vector<uint8_t>& idx, int w, int h) {
  for (int y = h - 1; y >= 0; --y) {
    const uint8_t* row = &idx[size_t(y) * w];
    int x = 0;
    while (x < w) {
      int run = 1;
      while (x + run < w && run < 255 && row[x + run] == row[x]) run++;
      if (run >= 4) {
        out.u8(run);
        out.u8(row[x] << 4 | row[x]);
        x += run;
        continue;
      }
      int end = x;
      while (end < w && end - x < 252) {
        if (end + 3 < w && row[end] == row[end + 1] && row[end] == row[end + 2] && row[end] == row[end + 3]) break;
        end++;
      }
      int n = end - x;
      if (n >= 3) {
        out.u8(0);
        out.u8(n);
        int bytes = (n + 1) / 2;
        for (int i = 0; i < bytes; ++i) {
          int hi = row[x + 2 * i], lo = 2 * i + 1 < n ? row[x + 2 * i + 1] : 0;
          out.u8(hi << 4 | lo);
        }
        if (bytes & 1) out.u8(0);
      } else {
        for (int i = 0; i < n; ++i) {
          out.u8(1);
          out.u8(row[x + i] << 4);
        }
      }
      x = end;
    }
    out.u8(0);
    out.u8(y == 0 ? 1 : 0);
  }
}

/* The picture as a BMP file in the given format. 16 bits are 5-6-5 with a
 * 4 x 4 ordered dither. */
inline std::vector<uint8_t> bmp_file(const Picture& p, Format format) {
  std::vector<uint32_t> palette;
  std::vector<uint8_t> idx;
  int bits = 24;
  uint32_t compression = 0;
  if (format == Format::Palette8 || format == Format::Rle8) {
    quantize(p, 256, &palette, &idx);
    bits = 8;
    compression = format == Format::Rle8 ? 1 : 0;
  } else if (format == Format::Rle4) {
    quantize(p, 16, &palette, &idx);
    bits = 4;
    compression = 2;
  } else if (format == Format::BitFields16) {
    bits = 16;
    compression = 3;
  }
  ByteWriter pixels;
  const int stride = (p.w * bits + 31) / 32 * 4;
  if (format == Format::Rle8) {
    rle8_rows(pixels, idx, p.w, p.h);
  } else if (format == Format::Rle4) {
    rle4_rows(pixels, idx, p.w, p.h);
  } else {
    static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    for (int y = p.h - 1; y >= 0; --y) {
      size_t start = pixels.b.size();
      for (int x = 0; x < p.w; ++x) {
        uint32_t c = p.px[size_t(y) * p.w + x];
        if (bits == 24) {
          pixels.u8(c);
          pixels.u8(c >> 8);
          pixels.u8(c >> 16);
        } else if (bits == 16) {
          float t = (bayer[y & 3][x & 3] + 0.5f) / 16;
          auto q = [t](uint32_t v, int levels) {
            int r = int(v * levels / 255.f + t);
            return uint32_t(std::min(r, levels));
          };
          uint32_t r = q((c >> 16) & 255, 31), g = q((c >> 8) & 255, 63), b = q(c & 255, 31);
          pixels.u16(r << 11 | g << 5 | b);
        } else {
          pixels.u8(idx[size_t(y) * p.w + x]);
        }
      }
      while (pixels.b.size() - start < size_t(stride)) pixels.u8(0);
    }
  }
  const uint32_t extra = bits == 16 ? 12 : uint32_t(palette.size()) * 4;
  const uint32_t offset = 14 + 40 + extra;
  ByteWriter f;
  f.u16(0x4D42);
  f.u32(offset + uint32_t(pixels.b.size()));
  f.u32(0);
  f.u32(offset);
  f.u32(40);
  f.u32(uint32_t(p.w));
  f.u32(uint32_t(p.h));
  f.u16(1);
  f.u16(bits);
  f.u32(compression);
  f.u32(compression == 1 || compression == 2 ? uint32_t(pixels.b.size()) : uint32_t(stride * p.h));
  f.u32(2835);
  f.u32(2835);
  f.u32(uint32_t(palette.size()));
  f.u32(0);
  if (bits == 16) {
    f.u32(0xF800);
    f.u32(0x07E0);
    f.u32(0x001F);
  }
  for (uint32_t c : palette) f.u32(c & 0xFFFFFF);
  f.b.insert(f.b.end(), pixels.b.begin(), pixels.b.end());
  return f.b;
}

}  // namespace art
