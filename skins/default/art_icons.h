/* The default skin's pictograms, each designed in unit space (about -1..1,
 * y down) and placed with art::place. One line weight throughout. */
#pragma once

#include "art_core.h"

namespace art {
namespace icon {

constexpr float kLine = 0.14f;  /* the stroke weight of outlined pictograms */

using P = std::vector<std::pair<float, float>>;

inline Shape ring(float cx, float cy, float r, float width = kLine) { return outline(circle(cx, cy, r), width); }

/* Moves a shape so that the middle of what it covers is at the origin
 * (found by sampling -2..2 in steps of 0.01). */
inline Shape centred(const Shape& a) {
  float x0 = 9, y0 = 9, x1 = -9, y1 = -9;
  for (float y = -2; y <= 2; y += 0.01f)
    for (float x = -2; x <= 2; x += 0.01f)
      if (a(x, y) < 0) {
        x0 = std::min(x0, x);
        x1 = std::max(x1, x);
        y0 = std::min(y0, y);
        y1 = std::max(y1, y);
      }
  const float dx = (x0 + x1) / 2, dy = (y0 + y1) / 2;
  return Shape{[a, dx, dy](float x, float y) { return a(x + dx, y + dy); }, Box{x0 - dx, y0 - dy, x1 - dx, y1 - dy}};
}

/* A telephone handset, earpiece at the top left, mouthpiece at the bottom
 * right: a band along a circle about the upper right corner, thicker at
 * both ends, its outer corners rounded. */
inline Shape handset() {
  /* The outline shrunk by the corner radius, then grown by it again. */
  const float cx = 0.8f, cy = -0.8f, round = 0.1f, outer = 1.7f - round, band = 1.45f + round, pad = 1.18f + round;
  P points;
  auto at = [&](float degrees, float radius) {
    points.emplace_back(cx + radius * cosf(degrees * kPi / 180), cy + radius * sinf(degrees * kPi / 180));
  };
  for (float a = 180; a >= 90; a -= 2) at(a, outer);
  for (float a = 90; a <= 106; a += 2) at(a, pad);
  for (float a = 108; a <= 162; a += 2) at(a, band);
  for (float a = 164; a <= 180; a += 2) at(a, pad);
  return inflate(polygon(points), round);
}

/* The handset lying flat with its ends down: hang up. */
inline Shape handset_down() { return centred(rotate(handset(), 135, 0, 0)); }

/* A headset: band, two ear cups, a microphone boom. */
inline Shape headset() {
  Shape band = arc(0, 0.1f, 0.72f, 180, 360, kLine);
  Shape left = rounded_rect(-0.94f, 0.02f, -0.5f, 0.66f, 0.16f);
  Shape right = rounded_rect(0.5f, 0.02f, 0.94f, 0.66f, 0.16f);
  Shape boom = arc(0.2f, 0.45f, 0.5f, 20, 105, 0.1f);
  Shape mic = rounded_rect(-0.12f, 0.8f, 0.2f, 1.0f, 0.1f);
  return unite({band, left, right, boom, mic});
}

/* A navigation arrow pointing up and to the right. */
inline Shape navigation() {
  Shape arrow = inflate(polygon(P{{0, -0.86f}, {0.62f, 0.72f}, {0, 0.36f}, {-0.62f, 0.72f}}), 0.05f);
  return rotate(arrow, 40);
}

inline Shape alarm_clock() {
  Shape face = ring(0, 0.12f, 0.6f);
  Shape hands = unite(segment(0, 0.12f, 0, -0.22f, 0.12f), segment(0, 0.12f, 0.24f, 0.3f, 0.12f));
  Shape bells = unite(arc(-0.62f, -0.56f, 0.28f, 180, 290, 0.16f), arc(0.62f, -0.56f, 0.28f, 250, 360, 0.16f));
  Shape legs = unite(segment(-0.38f, 0.64f, -0.56f, 0.88f, 0.12f), segment(0.38f, 0.64f, 0.56f, 0.88f, 0.12f));
  return unite({face, hands, bells, legs});
}

/* A video camera (the dashboard recorder). */
inline Shape video_camera() {
  Shape body = subtract(rounded_rect(-0.9f, -0.46f, 0.36f, 0.46f, 0.16f), circle(-0.56f, -0.16f, 0.1f));
  Shape lens = inflate(polygon(P{{0.46f, -0.06f}, {0.88f, -0.36f}, {0.88f, 0.36f}, {0.46f, 0.06f}}), 0.05f);
  return unite(body, lens);
}

inline Shape music_note() {
  Shape head1 = rotate(ellipse(-0.44f, 0.56f, 0.28f, 0.2f), -20, -0.44f, 0.56f);
  Shape head2 = rotate(ellipse(0.46f, 0.4f, 0.28f, 0.2f), -20, 0.46f, 0.4f);
  Shape stem1 = rect(-0.24f, -0.5f, -0.12f, 0.55f);
  Shape stem2 = rect(0.66f, -0.74f, 0.78f, 0.4f);
  Shape beam = polygon(P{{-0.24f, -0.5f}, {0.78f, -0.76f}, {0.78f, -0.5f}, {-0.24f, -0.24f}});
  return unite({head1, head2, stem1, stem2, beam});
}

/* A screen with a play sign: video. */
inline Shape video() {
  Shape screen = outline(rounded_rect(-0.86f, -0.66f, 0.86f, 0.66f, 0.16f), kLine);
  Shape play = inflate(polygon(P{{-0.2f, -0.32f}, {0.36f, 0}, {-0.2f, 0.32f}}), 0.04f);
  Shape perforations = unite({rect(-0.86f, -0.32f, -0.6f, -0.2f), rect(-0.86f, 0.2f, -0.6f, 0.32f),
                              rect(0.6f, -0.32f, 0.86f, -0.2f), rect(0.6f, 0.2f, 0.86f, 0.32f)});
  return unite({screen, play, perforations});
}

inline Shape gamepad() {
  Shape body = unite({rounded_rect(-0.88f, -0.42f, 0.88f, 0.3f, 0.3f), circle(-0.56f, 0.28f, 0.34f),
                      circle(0.56f, 0.28f, 0.34f)});
  Shape pad = unite(rounded_rect(-0.66f, -0.13f, -0.26f, -0.01f, 0.03f), rounded_rect(-0.52f, -0.27f, -0.4f, 0.13f, 0.03f));
  Shape buttons = unite(circle(0.36f, -0.14f, 0.1f), circle(0.58f, 0.04f, 0.1f));
  return subtract(subtract(body, pad), buttons);
}

/* An open book. */
inline Shape book() {
  Shape left = inflate(polygon(P{{-0.88f, -0.56f}, {-0.08f, -0.44f}, {-0.08f, 0.7f}, {-0.88f, 0.58f}}), 0.03f);
  Shape pages = unite(left, mirror_x(left));
  Shape lines = unite({segment(-0.72f, -0.26f, -0.26f, -0.2f, 0.07f), segment(-0.72f, 0.0f, -0.26f, 0.06f, 0.07f),
                       segment(-0.72f, 0.26f, -0.26f, 0.32f, 0.07f)});
  return subtract(pages, unite(lines, mirror_x(lines)));
}

/* Four tiles: the media and office programs. */
inline Shape app_grid() {
  Shape a = rounded_rect(-0.84f, -0.84f, -0.1f, -0.1f, 0.16f);
  Shape b = circle(0.47f, -0.47f, 0.37f);
  Shape c = rounded_rect(-0.84f, 0.1f, -0.1f, 0.84f, 0.16f);
  Shape d = rounded_rect(0.1f, 0.1f, 0.84f, 0.84f, 0.16f);
  return unite({a, b, c, d});
}

inline Shape gear() {
  Shape teeth = circle(0, 0, 0.58f);
  for (int i = 0; i < 8; ++i) teeth = unite(teeth, rotate(rounded_rect(-0.15f, -0.9f, 0.15f, -0.4f, 0.06f), i * 45.f));
  return subtract(teeth, circle(0, 0, 0.25f));
}

inline Shape clock() {
  Shape face = ring(0, 0, 0.82f);
  Shape hands = unite(segment(0, 0, 0, -0.5f, 0.13f), segment(0, 0, 0.36f, 0.2f, 0.13f));
  Shape ticks = unite({segment(0, -0.72f, 0, -0.6f, 0.1f), segment(0, 0.6f, 0, 0.72f, 0.1f),
                       segment(-0.72f, 0, -0.6f, 0, 0.1f), segment(0.6f, 0, 0.72f, 0, 0.1f)});
  return unite({face, hands, ticks, circle(0, 0, 0.1f)});
}

inline Shape speaker() {
  Shape cone = inflate(polygon(P{{-0.84f, -0.26f}, {-0.42f, -0.26f}, {0.02f, -0.66f}, {0.02f, 0.66f}, {-0.42f, 0.26f}, {-0.84f, 0.26f}}), 0.04f);
  return unite({cone, arc(0.04f, 0, 0.42f, -48, 48, 0.13f), arc(0.04f, 0, 0.74f, -48, 48, 0.13f)});
}

inline Shape sun() {
  Shape out = circle(0, 0, 0.34f);
  for (int i = 0; i < 8; ++i) out = unite(out, rotate(segment(0, -0.56f, 0, -0.84f, 0.14f), i * 45.f));
  return out;
}

inline Shape radio() {
  Shape body = rounded_rect(-0.88f, -0.36f, 0.88f, 0.76f, 0.18f);
  Shape holes = unite({ring(-0.36f, 0.2f, 0.24f, 0.1f), circle(-0.36f, 0.2f, 0.06f), rect(0.16f, -0.06f, 0.66f, 0.04f),
                       rect(0.16f, 0.16f, 0.66f, 0.26f), rect(0.16f, 0.38f, 0.66f, 0.48f)});
  Shape antenna = segment(-0.5f, -0.36f, 0.56f, -0.9f, 0.09f);
  return unite(subtract(body, holes), antenna);
}

inline Shape satellite() {
  Shape body = rotate(rounded_rect(-0.2f, -0.28f, 0.2f, 0.28f, 0.05f), 45);
  Shape arm = rotate(rect(-0.72f, -0.04f, 0.72f, 0.04f), -45);
  Shape panel1 = rotate(rounded_rect(-0.22f, -0.68f, 0.22f, -0.36f, 0.04f), -45);
  Shape panel2 = rotate(rounded_rect(-0.22f, 0.36f, 0.22f, 0.68f, 0.04f), -45);
  Shape waves = unite(arc(-0.1f, 0.1f, 0.62f, 100, 170, 0.1f), arc(-0.1f, 0.1f, 0.86f, 100, 170, 0.1f));
  return unite({body, arm, panel1, panel2, waves});
}

/* A card with a person: the service numbers. */
inline Shape contact_card() {
  Shape card = outline(rounded_rect(-0.66f, -0.86f, 0.78f, 0.86f, 0.14f), kLine);
  Shape head = circle(0.06f, -0.24f, 0.2f);
  Shape body = intersect(circle(0.06f, 0.5f, 0.4f), rect(-0.5f, 0.1f, 0.6f, 0.5f));
  Shape tabs = unite({segment(-0.86f, -0.46f, -0.56f, -0.46f, 0.12f), segment(-0.86f, 0, -0.56f, 0, 0.12f),
                      segment(-0.86f, 0.46f, -0.56f, 0.46f, 0.12f)});
  return unite({card, head, body, tabs});
}

inline Shape sliders() {
  Shape out = unite({segment(-0.8f, -0.5f, 0.8f, -0.5f, 0.1f), segment(-0.8f, 0, 0.8f, 0, 0.1f), segment(-0.8f, 0.5f, 0.8f, 0.5f, 0.1f)});
  return unite({out, circle(0.36f, -0.5f, 0.18f), circle(-0.34f, 0, 0.18f), circle(0.14f, 0.5f, 0.18f)});
}

inline Shape play_circle() {
  return unite(ring(0, 0, 0.84f), inflate(polygon(P{{-0.22f, -0.38f}, {0.44f, 0}, {-0.22f, 0.38f}}), 0.05f));
}

inline Shape photo() {
  Shape frame = outline(rounded_rect(-0.86f, -0.66f, 0.86f, 0.66f, 0.14f), kLine);
  Shape hills = inflate(polygon(P{{-0.64f, 0.46f}, {-0.22f, -0.1f}, {0.08f, 0.26f}, {0.32f, 0.02f}, {0.66f, 0.46f}}), 0.03f);
  return unite({frame, hills, circle(0.38f, -0.3f, 0.13f)});
}

inline Shape lightning() {
  return inflate(polygon(P{{0.16f, -0.92f}, {-0.5f, 0.1f}, {-0.06f, 0.1f}, {-0.2f, 0.92f}, {0.5f, -0.16f}, {0.06f, -0.16f}}), 0.03f);
}

inline Shape calculator() {
  Shape body = rounded_rect(-0.64f, -0.9f, 0.64f, 0.9f, 0.16f);
  Shape cut = rounded_rect(-0.44f, -0.7f, 0.44f, -0.34f, 0.06f);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      float x = -0.3f + c * 0.3f, y = -0.06f + r * 0.3f;
      cut = unite(cut, rounded_rect(x - 0.1f, y - 0.1f, x + 0.1f, y + 0.1f, 0.03f));
    }
  return subtract(body, cut);
}

inline Shape calendar() {
  Shape body = subtract(rounded_rect(-0.82f, -0.66f, 0.82f, 0.86f, 0.14f), rect(-0.68f, -0.26f, 0.68f, 0.72f));
  Shape days = empty();
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) {
      float x = -0.42f + c * 0.42f, y = 0.04f + r * 0.36f;
      days = unite(days, rounded_rect(x - 0.11f, y - 0.1f, x + 0.11f, y + 0.1f, 0.03f));
    }
  Shape rings = unite(segment(-0.4f, -0.92f, -0.4f, -0.5f, 0.14f), segment(0.4f, -0.92f, 0.4f, -0.5f, 0.14f));
  return unite({subtract(body, inflate(rings, 0.08f)), days, rings});
}

inline Shape blocks() {
  Shape out = empty();
  const float s = 0.52f, g = 0.06f;
  const float cells[][2] = {{-1, 0.5f}, {0, 0.5f}, {1, 0.5f}, {0, -0.5f}};
  for (auto& c : cells) {
    float x = c[0] * (s + g), y = c[1] * (s + g);
    out = unite(out, rounded_rect(x - s / 2, y - s / 2, x + s / 2, y + s / 2, 0.06f));
  }
  return out;
}

/* The palace of a Chinese chess board with a piece in it. */
inline Shape xiangqi() {
  Shape lines = unite({outline(rect(-0.8f, -0.8f, 0.8f, 0.8f), 0.08f), segment(-0.8f, -0.8f, 0.8f, 0.8f, 0.08f),
                       segment(-0.8f, 0.8f, 0.8f, -0.8f, 0.08f), segment(0, -0.8f, 0, 0.8f, 0.08f), segment(-0.8f, 0, 0.8f, 0, 0.08f)});
  Shape piece = subtract(circle(0, 0, 0.44f), ring(0, 0, 0.32f, 0.07f));
  return unite(subtract(lines, circle(0, 0, 0.56f)), piece);
}

inline Shape gomoku() {
  Shape grid = empty();
  for (int i = -1; i <= 1; ++i) {
    grid = unite(grid, segment(-0.86f, i * 0.5f, 0.86f, i * 0.5f, 0.06f));
    grid = unite(grid, segment(i * 0.5f, -0.86f, i * 0.5f, 0.86f, 0.06f));
  }
  Shape stones = unite({circle(-0.5f, -0.5f, 0.22f), circle(0, 0, 0.22f), circle(0.5f, 0.5f, 0.22f)});
  Shape open = unite(subtract(circle(0.5f, -0.5f, 0.22f), circle(0.5f, -0.5f, 0.12f)),
                     subtract(circle(-0.5f, 0.5f, 0.22f), circle(-0.5f, 0.5f, 0.12f)));
  Shape clear = unite({circle(0.5f, -0.5f, 0.26f), circle(-0.5f, 0.5f, 0.26f), circle(-0.5f, -0.5f, 0.26f),
                       circle(0, 0, 0.26f), circle(0.5f, 0.5f, 0.26f)});
  return unite({subtract(grid, clear), stones, open});
}

inline Shape puzzle() {
  Shape piece = unite({rounded_rect(-0.6f, -0.5f, 0.5f, 0.6f, 0.08f), circle(-0.05f, -0.62f, 0.22f), circle(0.62f, 0.05f, 0.22f)});
  return subtract(piece, unite(circle(-0.6f, 0.05f, 0.2f), circle(-0.05f, 0.6f, 0.2f)));
}

inline Shape snake() {
  Shape body = empty();
  float px = -0.86f, py = 0.5f;
  for (int i = 1; i <= 24; ++i) {
    float t = i / 24.f;
    float x = -0.86f + 1.3f * t, y = 0.5f - 0.55f * t + 0.34f * sinf(t * 2 * kPi);
    body = unite(body, segment(px, py, x, y, 0.3f - 0.12f * (1 - t)));
    px = x;
    py = y;
  }
  Shape head = subtract(ellipse(px + 0.14f, py - 0.02f, 0.32f, 0.25f), circle(px + 0.22f, py - 0.08f, 0.07f));
  return unite(body, head);
}

inline Shape heart(float cx, float cy, float s) {
  Shape lobes = unite(circle(cx - 0.5f * s, cy - 0.2f * s, 0.52f * s), circle(cx + 0.5f * s, cy - 0.2f * s, 0.52f * s));
  Shape point = polygon(P{{cx - 0.98f * s, cy - 0.05f * s}, {cx + 0.98f * s, cy - 0.05f * s}, {cx, cy + 0.95f * s}});
  return unite(lobes, point);
}

/* Two playing cards: the card game. */
inline Shape cards() {
  Shape back = rotate(outline(rounded_rect(-0.7f, -0.72f, 0.1f, 0.62f, 0.1f), 0.12f), -14);
  Shape front_card = rotate(rounded_rect(-0.16f, -0.64f, 0.72f, 0.8f, 0.1f), 10);
  Shape front = subtract(front_card, heart(0.3f, 0.08f, 0.24f));
  return unite(subtract(back, inflate(front_card, 0.1f)), front);
}

/* A mahjong tile of three dots. */
inline Shape mahjong() {
  Shape tile = rounded_rect(-0.6f, -0.86f, 0.6f, 0.86f, 0.16f);
  Shape dots = unite({ring(-0.26f, -0.44f, 0.16f, 0.09f), ring(0, 0, 0.16f, 0.09f), ring(0.26f, 0.44f, 0.16f, 0.09f)});
  Shape cut = unite({circle(-0.26f, -0.44f, 0.25f), circle(0, 0, 0.25f), circle(0.26f, 0.44f, 0.25f)});
  return unite(subtract(tile, cut), intersect(dots, tile));
}

inline Shape breakout() {
  Shape bricks = empty();
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 3; ++c) {
      float x = -0.58f + c * 0.58f + (r ? 0.29f : 0), y = -0.66f + r * 0.3f;
      if (x > 0.7f) continue;
      bricks = unite(bricks, rounded_rect(x - 0.25f, y - 0.11f, x + 0.25f, y + 0.11f, 0.04f));
    }
  return unite({bricks, circle(0.16f, 0.22f, 0.15f), segment(-0.44f, 0.7f, 0.4f, 0.7f, 0.2f)});
}

/* Beads in a grid, a line of them filled. */
inline Shape beads() {
  Shape out = empty();
  for (int r = -1; r <= 1; ++r)
    for (int c = -1; c <= 1; ++c) {
      float x = c * 0.6f, y = r * 0.6f;
      out = unite(out, r == -c ? circle(x, y, 0.26f) : ring(x, y, 0.2f, 0.1f));
    }
  return out;
}

inline Shape bubbles() {
  return unite({ring(-0.3f, 0.24f, 0.54f, 0.12f), arc(-0.3f, 0.24f, 0.34f, 200, 260, 0.1f), ring(0.5f, -0.46f, 0.3f, 0.11f),
                ring(0.58f, 0.54f, 0.16f, 0.1f)});
}

inline Shape arrow_back() {
  return unite({segment(-0.6f, 0, 0.66f, 0, 0.18f), segment(-0.64f, 0, -0.14f, -0.5f, 0.18f), segment(-0.64f, 0, -0.14f, 0.5f, 0.18f)});
}

inline Shape pencil() {
  Shape body = rect(-0.36f, -0.17f, 0.56f, 0.17f);
  Shape tip = polygon(P{{-0.42f, -0.17f}, {-0.82f, 0}, {-0.42f, 0.17f}});
  Shape end = rounded_rect(0.64f, -0.17f, 0.86f, 0.17f, 0.05f);
  return rotate(unite({body, tip, end}), -45);
}

inline Shape backspace() {
  Shape tag = outline(inflate(polygon(P{{-0.84f, 0}, {-0.4f, -0.56f}, {0.84f, -0.56f}, {0.84f, 0.56f}, {-0.4f, 0.56f}}), 0.02f), 0.13f);
  Shape cross = unite(segment(0.0f, -0.24f, 0.44f, 0.24f, 0.13f), segment(0.0f, 0.24f, 0.44f, -0.24f, 0.13f));
  return unite(tag, cross);
}

inline Shape check() { return unite(segment(-0.62f, 0.04f, -0.16f, 0.5f, 0.22f), segment(-0.16f, 0.5f, 0.68f, -0.44f, 0.22f)); }

inline Shape cross() { return unite(segment(-0.52f, -0.52f, 0.52f, 0.52f, 0.2f), segment(-0.52f, 0.52f, 0.52f, -0.52f, 0.2f)); }

/* A handset with a circular arrow: call back. */
inline Shape call_back() {
  Shape phone = place(handset(), -0.28f, 0.28f, 1.36f);
  Shape turn = arc(0.42f, -0.42f, 0.4f, 150, 420, 0.13f);
  float ex = 0.42f + 0.4f * cosf(150 * kPi / 180), ey = -0.42f + 0.4f * sinf(150 * kPi / 180);
  Shape head = polygon(P{{ex - 0.2f, ey - 0.14f}, {ex + 0.18f, ey - 0.16f}, {ex - 0.02f, ey + 0.2f}});
  return unite({phone, turn, head});
}

inline Shape bluetooth() {
  P path = {{-0.36f, -0.42f}, {0.34f, 0.3f}, {0.0f, 0.66f}, {0.0f, -0.66f}, {0.34f, -0.3f}, {-0.36f, 0.42f}};
  Shape out = segment(path[0].first, path[0].second, path[1].first, path[1].second, 0.13f);
  for (size_t i = 1; i + 1 < path.size(); ++i)
    out = unite(out, segment(path[i].first, path[i].second, path[i + 1].first, path[i + 1].second, 0.13f));
  return out;
}

/* A position fix: a ring with cross hairs and a dot. */
inline Shape gps_fix() {
  Shape hairs = unite({segment(0, -0.9f, 0, -0.56f, 0.13f), segment(0, 0.56f, 0, 0.9f, 0.13f), segment(-0.9f, 0, -0.56f, 0, 0.13f),
                       segment(0.56f, 0, 0.9f, 0, 0.13f)});
  return unite({ring(0, 0, 0.56f, 0.13f), hairs, circle(0, 0, 0.22f)});
}

inline Shape letters_fm() {
  Shape f = unite({segment(-0.8f, -0.5f, -0.8f, 0.5f, 0.16f), segment(-0.8f, -0.5f, -0.38f, -0.5f, 0.16f),
                   segment(-0.8f, -0.02f, -0.44f, -0.02f, 0.16f)});
  Shape m = unite({segment(-0.14f, 0.5f, -0.14f, -0.5f, 0.16f), segment(-0.14f, -0.5f, 0.3f, 0.12f, 0.16f),
                   segment(0.3f, 0.12f, 0.74f, -0.5f, 0.16f), segment(0.74f, -0.5f, 0.74f, 0.5f, 0.16f)});
  return unite(f, m);
}

/* A handset with a crossed badge: no phone. */
inline Shape no_phone() {
  Shape phone = place(handset(), -0.14f, -0.14f, 1.5f);
  Shape badge = subtract(circle(0.5f, 0.5f, 0.4f), unite(segment(0.34f, 0.34f, 0.66f, 0.66f, 0.12f), segment(0.34f, 0.66f, 0.66f, 0.34f, 0.12f)));
  return unite(subtract(phone, circle(0.5f, 0.5f, 0.54f)), badge);
}

inline Shape hourglass() {
  Shape glass = polygon(P{{-0.5f, -0.74f}, {0.5f, -0.74f}, {0.06f, 0}, {0.5f, 0.74f}, {-0.5f, 0.74f}, {-0.06f, 0}});
  Shape frame = outline(glass, 0.12f);
  Shape sand = unite(polygon(P{{-0.26f, 0.62f}, {0.26f, 0.62f}, {0, 0.3f}}), polygon(P{{-0.3f, -0.5f}, {0.3f, -0.5f}, {0, -0.2f}}));
  Shape bars = unite(segment(-0.66f, -0.84f, 0.66f, -0.84f, 0.14f), segment(-0.66f, 0.84f, 0.66f, 0.84f, 0.14f));
  return unite({frame, sand, bars});
}

/* Signal waves to the upper right of a handset: n of 1..3 arcs. */
inline Shape calling(int waves) {
  Shape out = place(handset(), -0.2f, 0.2f, 1.5f);
  for (int i = 0; i < waves; ++i) out = unite(out, arc(-0.1f, 0.1f, 0.62f + 0.26f * i, 270, 360, 0.12f));
  return out;
}

/* ---- Digits and keypad signs, drawn with strokes in a box 0.6 wide and 1 high ---- */

inline Shape glyph(char c, float w = 0.11f) {
  switch (c) {
    case '0': return outline(rounded_rect(-0.27f, -0.5f, 0.27f, 0.5f, 0.27f), w);
    case '1': return unite(segment(0.04f, -0.5f, 0.04f, 0.5f, w), segment(0.04f, -0.5f, -0.2f, -0.3f, w));
    case '2':
      return unite({arc(0, -0.24f, 0.26f, 195, 385, w), segment(0.245f, -0.15f, -0.27f, 0.5f, w), segment(-0.27f, 0.5f, 0.29f, 0.5f, w)});
    case '3': return unite(arc(0, -0.26f, 0.23f, 200, 450, w), arc(0, 0.23f, 0.27f, 270, 520, w));
    case '4': return unite({segment(0.14f, -0.5f, -0.3f, 0.2f, w), segment(-0.3f, 0.2f, 0.3f, 0.2f, w), segment(0.14f, -0.5f, 0.14f, 0.5f, w)});
    case '5':
      return unite({segment(0.26f, -0.5f, -0.19f, -0.5f, w), segment(-0.19f, -0.5f, -0.22f, -0.05f, w), arc(0, 0.2f, 0.28f, 235, 505, w)});
    case '6': return unite(outline(circle(0, 0.22f, 0.27f), w), arc(0.5f, 0.22f, 0.77f, 180, 238, w));
    case '7': return unite(segment(-0.28f, -0.5f, 0.28f, -0.5f, w), segment(0.28f, -0.5f, -0.08f, 0.5f, w));
    case '8': return unite(outline(circle(0, -0.26f, 0.22f), w), outline(circle(0, 0.23f, 0.27f), w));
    case '9': return rotate(glyph('6', w), 180);
    case '*': {
      Shape s = segment(0, -0.3f, 0, 0.3f, w);
      return place(unite({s, rotate(s, 60), rotate(s, -60)}), 0, -0.06f, 2);
    }
    case '#':
      return unite({segment(-0.08f, -0.42f, -0.16f, 0.42f, w), segment(0.18f, -0.42f, 0.1f, 0.42f, w),
                    segment(-0.3f, -0.14f, 0.32f, -0.14f, w), segment(-0.34f, 0.14f, 0.28f, 0.14f, w)});
  }
  return empty();
}

}  // namespace icon
}  // namespace art
