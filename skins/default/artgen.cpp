/* artgen: draws the default skin's images.
 *
 *   artgen SKIN.txt OUT_DIR
 *
 * Reads the skin source for the position, size and mask code of the item
 * that first names each image, draws every image this program knows over the
 * pictures beneath it on its page, and writes them as BMP files in the
 * format chosen for each. An image the skin names and this program does not
 * know (or the reverse) is an error. The output depends on nothing but the
 * skin source. */
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <set>

#include "art_core.h"
#include "art_icons.h"
#include "skin_source.h"

using namespace art;

namespace {

/* ---- The style: dark navy, large rounded tiles, white pictograms, cyan accent ---- */

const Color kNavyTop = rgb(0x12243F);
const Color kNavyBottom = rgb(0x070E1B);
const Color kBar = rgb(0x050B16);
const Color kBarLine = rgb(0x1A2F4D);
const Color kAccent = rgb(0x22D3EE);
const Color kAccentDeep = rgb(0x0B8FB0);
const Color kTileTop = rgb(0x223F69);
const Color kTileBottom = rgb(0x172D4E);
const Color kPressedTop = rgb(0x67E8F9);
const Color kPressedBottom = rgb(0x22D3EE);
/* Pictograms on a pressed (light) face: dark, so that the press reads in daylight. */
const Color kOnPressed = rgb(0x06202E);
/* The face of a pressed round or pill button of one colour. */
const Color kPressedFace = rgb(0xF1F5F9);
/* The navigation tile: a deeper, teal-tinted navy than the other tiles. */
const Color kNaviTop = rgb(0x114B6E);
const Color kNaviBottom = rgb(0x0A2C48);
const Color kPanel = rgb(0x0B1629);
const Color kPanelLine = rgb(0x1C3354);
const Color kCard = rgb(0xE8EEF5);
const Color kWhite = rgb(0xFFFFFF);
const Color kDim = rgb(0x4B5E7B);
const Color kGreen = rgb(0x22C55E);
const Color kGreenDeep = rgb(0x15803D);
const Color kRed = rgb(0xEF4444);
const Color kRedDeep = rgb(0xB91C1C);

struct Rect {
  float x, y, w, h;
  float cx() const { return x + w / 2; }
  float cy() const { return y + h / 2; }
};

enum State { kNormal = 0, kPressed = 1 };

/* The body of every page: a vertical navy gradient. */
void page_body(Canvas& c) { c.fill(rect(0, 0, 800, 480), vertical(0, kNavyTop, 480, kNavyBottom)); }

/* The launcher pages' title bar with its accent line. */
void title_bar(Canvas& c) {
  c.fill(rect(0, 0, 800, 72), kBar);
  c.fill(rect(0, 72, 800, 74), kAccent);
}

/* A raised tile: gradient fill, a light top edge; pressed tiles light up in
 * the accent, with a white rim. */
void tile(Canvas& c, const Rect& r, State state, float radius = 16) {
  Shape body = rounded_rect(r.x + 1, r.y + 1, r.x + r.w - 1, r.y + r.h - 1, radius);
  const bool pressed = state == kPressed;
  c.fill(body, vertical(r.y, pressed ? kPressedTop : kTileTop, r.y + r.h, pressed ? kPressedBottom : kTileBottom));
  Shape edge = intersect(outline(inflate(body, -1), 2), rect(r.x, r.y, r.x + r.w, r.y + r.h * 0.5f));
  c.fill(edge, vertical(r.y, with_alpha(kWhite, pressed ? 0.35f : 0.16f), r.y + r.h * 0.5f, with_alpha(kWhite, 0)));
  if (pressed) c.fill(outline(inflate(body, -1.5f), 3), kWhite);
}

/* A tile with a pictogram in its middle: white, dark when pressed. */
void icon_tile(Canvas& c, const Rect& r, State state, const Shape& pictogram, float size) {
  tile(c, r, state);
  c.fill(place(pictogram, r.cx(), r.cy(), size), state == kPressed ? kOnPressed : kWhite);
}

/* A launcher card; its label lies below it, on the page, so that a press
 * (which redraws only the card) leaves the label alone. */
void card(Canvas& c, const Rect& r, State state, const Shape& pictogram) {
  icon_tile(c, r, state, pictogram, std::min(72.f, std::min(r.w, r.h) * 0.6f));
}

/* A keypad key: flat rounded key with a stroked sign. */
void key(Canvas& c, const Rect& r, State state, char sign, float glyph_height) {
  const bool pressed = state == kPressed;
  Shape body = rounded_rect(r.x + 2, r.y + 2, r.x + r.w - 2, r.y + r.h - 2, 14);
  c.fill(body, pressed ? kAccent : rgb(0x1B3355));
  c.fill(place(icon::glyph(sign, 0.13f), r.cx(), r.cy(), glyph_height * 2), pressed ? kOnPressed : kWhite);
}

/* A round or pill button of one colour with a white pictogram; pressed, it
 * turns light with the pictogram and a rim in its colour. */
void colour_button(Canvas& c, const Rect& r, State state, const Color& top, const Color& bottom, const Shape& pictogram,
                   float size) {
  const float radius = std::min(r.w, r.h) / 2 - 2;
  Shape body = rounded_rect(r.x + 2, r.y + 2, r.x + r.w - 2, r.y + r.h - 2, radius);
  if (state == kPressed) {
    c.fill(body, kPressedFace);
    c.fill(outline(inflate(body, -2), 4), bottom);
    c.fill(place(pictogram, r.cx(), r.cy(), size), bottom);
    return;
  }
  c.fill(body, vertical(r.y, top, r.y + r.h, bottom));
  c.fill(outline(inflate(body, -1.5f), 3), with_alpha(kWhite, 0.22f));
  c.fill(place(pictogram, r.cx(), r.cy(), size), kWhite);
}

/* ---- The images ---- */

using Draw = std::function<void(Canvas&, const Rect&, State)>;

struct Spec {
  Format format;
  int frames;                      /* 1 or 2; shaped buttons (mask -1, -2) have 3 */
  std::vector<std::string> under;  /* images beneath it on its page, bottom first */
  Draw draw;
};

std::map<std::string, Spec> specs() {
  std::map<std::string, Spec> s;
  const std::vector<std::string> on_launcher = {"launcher.bmp"};

  /* Backgrounds and pictures. */
  s["launcher.bmp"] = {Format::Rle8, 1, {}, [](Canvas& c, const Rect&, State) {
                         page_body(c);
                         title_bar(c);
                       }};
  s["desktop.bmp"] = {Format::BitFields16, 1, {}, [](Canvas& c, const Rect&, State) {
                        page_body(c);
                        c.fill(rect(0, 0, 800, 480), radial(200, 120, 420, with_alpha(kAccent, 0.07f), with_alpha(kAccent, 0)));
                        c.fill(rect(0, 0, 800, 60), kBar);
                        c.fill(rect(0, 60, 800, 61), kBarLine);
                        c.fill(rect(0, 436, 800, 480), kBar);
                        c.fill(rect(0, 435, 800, 436), kBarLine);
                        c.fill(place(icon::contact_card(), 40, 30, 26), kDim);
                        c.fill(place(icon::clock(), 242, 30, 26), kDim);
                        c.fill(place(icon::handset(), 40, 458, 24), kDim);
                        /* A thin accent rule under the indicators. */
                        c.fill(segment(636, 54, 780, 54, 2), with_alpha(kAccent, 0.5f));
                      }};
  s["call.bmp"] = {Format::Rgb24, 1, {}, [](Canvas& c, const Rect&, State) {
                     page_body(c);
                     c.fill(rect(0, 0, 800, 64), kBar);
                     c.fill(rect(0, 64, 800, 66), kAccent);
                     /* The light card behind the detail text, and the flat panel of keys and animation. */
                     c.fill(rounded_rect(24, 128, 440, 376, 14), kCard);
                     c.fill(rounded_rect(456, 76, 784, 470, 18), kPanel);
                     c.fill(outline(rounded_rect(456, 76, 784, 470, 18), 2), kPanelLine);
                   }};
  s["call_plain.bmp"] = {Format::BitFields16, 1, {}, [](Canvas& c, const Rect&, State) {
                           page_body(c);
                           c.fill(rect(0, 0, 800, 480), radial(400, 150, 300, with_alpha(kAccent, 0.12f), with_alpha(kAccent, 0)));
                           c.fill(circle(400, 136, 74), vertical(62, kTileTop, 210, kTileBottom));
                           c.fill(outline(circle(400, 136, 78), 3), kAccent);
                           Shape person = unite(circle(400, 116, 26), intersect(circle(400, 186, 48), rect(340, 146, 460, 186)));
                           c.fill(intersect(person, circle(400, 136, 72)), kWhite);
                         }};
  s["nophone.bmp"] = {Format::Rle8, 1, {}, [](Canvas& c, const Rect&, State) {
                        page_body(c);
                        title_bar(c);
                        c.fill(circle(400, 200, 104), vertical(96, kTileTop, 304, kTileBottom));
                        c.fill(outline(circle(400, 200, 108), 3), kDim);
                        c.fill(place(icon::no_phone(), 400, 200, 120), kWhite);
                      }};
  s["spare.bmp"] = {Format::Rle4, 1, {}, [](Canvas& c, const Rect&, State) {
                      c.fill(rect(0, 0, 800, 480), rgb(0x0C1A30));
                      title_bar(c);
                      c.fill(place(icon::hourglass(), 400, 270, 150), kDim);
                    }};
  s["recall.bmp"] = {Format::Palette8, 1, {}, [](Canvas& c, const Rect&, State) {
                       page_body(c);
                       c.fill(rounded_rect(100, 60, 700, 420, 24), vertical(60, rgb(0x182F51), 420, rgb(0x0F1F38)));
                       c.fill(outline(rounded_rect(100, 60, 700, 420, 24), 2), kPanelLine);
                       c.fill(circle(400, 136, 52), kAccentDeep);
                       c.fill(outline(circle(400, 136, 56), 3), kAccent);
                       c.fill(place(icon::call_back(), 400, 136, 64), kWhite);
                     }};
  s["numbers_panel.bmp"] = {Format::Rle8, 1, on_launcher, [](Canvas& c, const Rect& r, State) {
                              for (int row = 0; row < 2; ++row) {
                                const float y = r.y + row * 176;
                                c.fill(rounded_rect(r.x, y, r.x + r.w, y + 150, 18), kPanel);
                                c.fill(outline(rounded_rect(r.x, y, r.x + r.w, y + 150, 18), 2), kPanelLine);
                                c.fill(circle(r.x + 70, y + 75, 42), kAccentDeep);
                                c.fill(place(row ? icon::call_back() : icon::headset(), r.x + 70, y + 75, 50), kWhite);
                                c.fill(segment(r.x + 140, y + 112, r.x + 560, y + 112, 2), kPanelLine);
                              }
                            }};
  s["entry_field.bmp"] = {Format::Palette8, 1, on_launcher, [](Canvas& c, const Rect& r, State) {
                            Shape field = rounded_rect(r.x + 1, r.y + 1, r.x + r.w - 1, r.y + r.h - 1, 16);
                            c.fill(field, kBar);
                            c.fill(outline(inflate(field, -1), 2.5f), kAccent);
                            c.fill(place(icon::handset(), r.x + r.w - 40, r.cy(), 30), kDim);
                          }};

  /* Desktop buttons. */
  struct Desk {
    const char* name;
    Shape pictogram;
    float size;
  };
  const Desk desk[] = {
      {"desk_callcentre.bmp", icon::headset(), 66}, {"desk_phone.bmp", unite(place(icon::handset(), -0.26f, 0.22f, 1.44f), place(icon::bluetooth(), 0.6f, -0.5f, 1.0f)), 68},
      {"desk_music.bmp", icon::music_note(), 62},   {"desk_video.bmp", icon::video(), 66},
      {"desk_dvr.bmp", icon::video_camera(), 66},   {"desk_ebook.bmp", icon::book(), 66},
      {"desk_media.bmp", icon::app_grid(), 58},     {"desk_games.bmp", icon::gamepad(), 70},
      {"desk_alarm.bmp", icon::alarm_clock(), 64},  {"desk_tools.bmp", icon::gear(), 62},
  };
  for (const Desk& d : desk) {
    Shape pictogram = d.pictogram;
    float size = d.size;
    s[d.name] = {Format::Palette8, 2, {"desktop.bmp"}, [pictogram, size](Canvas& c, const Rect& r, State state) {
                   icon_tile(c, r, state, pictogram, size);
                 }};
  }
  s["desk_navigation.bmp"] = {Format::Palette8, 2, {"desktop.bmp"}, [](Canvas& c, const Rect& r, State state) {
                                /* Normal: teal-tinted navy with an accent rim; pressed: lit up like every tile. */
                                Shape body = rounded_rect(r.x + 1, r.y + 1, r.x + r.w - 1, r.y + r.h - 1, 16);
                                const bool pressed = state == kPressed;
                                if (pressed) {
                                  tile(c, r, state);
                                } else {
                                  c.fill(body, vertical(r.y, kNaviTop, r.y + r.h, kNaviBottom));
                                  c.fill(outline(inflate(body, -1.5f), 3), kAccent);
                                }
                                const Color ink = pressed ? kOnPressed : kWhite;
                                /* A map: a route line to a pin, behind the navigation arrow. */
                                Shape route = unite({segment(r.x + 40, r.y + 90, r.x + 120, r.y + 62, 5), segment(r.x + 120, r.y + 62, r.x + 210, r.y + 84, 5),
                                                     segment(r.x + 210, r.y + 84, r.x + 300, r.y + 40, 5)});
                                c.fill(route, pressed ? with_alpha(kOnPressed, 0.45f) : with_alpha(kAccent, 0.6f));
                                Shape pin = subtract(unite(circle(r.x + 300, r.y + 34, 13), polygon(icon::P{{r.x + 289, r.y + 40}, {r.x + 311, r.y + 40}, {r.x + 300, r.y + 58}})),
                                                     circle(r.x + 300, r.y + 34, 5));
                                c.fill(pin, pressed ? with_alpha(kOnPressed, 0.7f) : kAccent);
                                c.fill(place(icon::navigation(), r.cx(), r.cy(), 72), ink);
                              }};

  /* Indicators: on in the accent, off dimmed. */
  const std::pair<const char*, Shape> indicators[] = {
      {"ind_fm.bmp", icon::letters_fm()}, {"ind_gps.bmp", icon::gps_fix()}, {"ind_bt.bmp", icon::bluetooth()}};
  for (const auto& ind : indicators) {
    Shape pictogram = ind.second;
    s[ind.first] = {Format::Rle4, 2, {"desktop.bmp"}, [pictogram](Canvas& c, const Rect& r, State state) {
                      c.fill(place(pictogram, r.cx(), r.cy(), r.w * 0.8f), state == kNormal ? kAccent : kDim);
                    }};
  }

  /* Launcher cards. */
  const std::pair<const char*, Shape> tools[] = {
      {"tools_clock.bmp", icon::clock()},         {"tools_volume.bmp", icon::speaker()},       {"tools_backlight.bmp", icon::sun()},
      {"tools_fm.bmp", icon::radio()},            {"tools_satellites.bmp", icon::satellite()}, {"tools_numbers.bmp", icon::contact_card()},
      {"tools_system.bmp", icon::sliders()}};
  for (const auto& t : tools) {
    Shape pictogram = t.second;
    s[t.first] = {Format::Rle8, 2, on_launcher, [pictogram](Canvas& c, const Rect& r, State state) { card(c, r, state, pictogram); }};
  }
  const std::pair<const char*, Shape> media[] = {{"media_player.bmp", icon::play_circle()},
                                                 {"media_photos.bmp", icon::photo()},
                                                 {"media_flash.bmp", icon::lightning()},
                                                 {"media_calculator.bmp", icon::calculator()},
                                                 {"media_calendar.bmp", icon::calendar()}};
  for (const auto& m : media) {
    Shape pictogram = m.second;
    s[m.first] = {Format::BitFields16, 2, on_launcher, [pictogram](Canvas& c, const Rect& r, State state) { card(c, r, state, pictogram); }};
  }
  const std::pair<const char*, Shape> games[] = {
      {"game_blocks.bmp", icon::blocks()},   {"game_xiangqi.bmp", icon::xiangqi()},   {"game_gomoku.bmp", icon::gomoku()},
      {"game_puzzle.bmp", icon::puzzle()},   {"game_snake.bmp", icon::snake()},       {"game_landlords.bmp", icon::cards()},
      {"game_mahjong.bmp", icon::mahjong()}, {"game_breakout.bmp", icon::breakout()}, {"game_beads.bmp", icon::beads()},
      {"game_bubbles.bmp", icon::bubbles()}};
  for (const auto& g : games) {
    Shape pictogram = g.second;
    s[g.first] = {Format::Palette8, 2, on_launcher, [pictogram](Canvas& c, const Rect& r, State state) { card(c, r, state, pictogram); }};
  }

  /* The back button: a pill with an arrow. */
  s["back.bmp"] = {Format::Rgb24, 1, on_launcher, [](Canvas& c, const Rect& r, State state) {
                     Shape pill = rounded_rect(r.x + 2, r.y + 2, r.x + r.w - 2, r.y + r.h - 2, r.h / 2 - 2);
                     c.fill(pill, state == kPressed ? kAccent : rgb(0x1B3356));
                     c.fill(outline(inflate(pill, -1), 2), state == kPressed ? kWhite : kPanelLine);
                     c.fill(place(icon::arrow_back(), r.cx(), r.cy(), 34), state == kPressed ? kOnPressed : kWhite);
                   }};

  /* Service numbers: the edit button of each row. */
  s["edit.bmp"] = {Format::BitFields16, 2, {"launcher.bmp", "numbers_panel.bmp"}, [](Canvas& c, const Rect& r, State state) {
                     tile(c, r, state, 18);
                     c.fill(place(icon::pencil(), r.cx(), r.cy(), 52), state == kPressed ? kOnPressed : kWhite);
                   }};

  /* Number entry keys. */
  for (char d = '0'; d <= '9'; ++d)
    s[std::string("num_") + d + ".bmp"] = {Format::Rle8, 2, on_launcher, [d](Canvas& c, const Rect& r, State state) {
                                             key(c, r, state, d, 34);
                                           }};
  s["num_delete.bmp"] = {Format::Rle8, 2, on_launcher, [](Canvas& c, const Rect& r, State state) {
                           Shape body = rounded_rect(r.x + 2, r.y + 2, r.x + r.w - 2, r.y + r.h - 2, 14);
                           c.fill(body, state == kPressed ? kAccent : rgb(0x15294A));
                           c.fill(outline(inflate(body, -1), 2), kPanelLine);
                           c.fill(place(icon::backspace(), r.cx(), r.cy(), 46), state == kPressed ? kOnPressed : kWhite);
                         }};
  s["num_save.bmp"] = {Format::Rle8, 2, on_launcher, [](Canvas& c, const Rect& r, State state) {
                         Shape body = rounded_rect(r.x + 2, r.y + 2, r.x + r.w - 2, r.y + r.h - 2, 14);
                         if (state == kPressed) {
                           c.fill(body, kPressedFace);
                           c.fill(outline(inflate(body, -2), 4), kAccentDeep);
                           c.fill(place(icon::check(), r.cx(), r.cy(), 44), kAccentDeep);
                         } else {
                           c.fill(body, vertical(r.y, kAccent, r.y + r.h, kAccentDeep));
                           c.fill(place(icon::check(), r.cx(), r.cy(), 44), kWhite);
                         }
                       }};

  /* In-call keypad: 1..9, *, 0, #. */
  const std::pair<const char*, char> keys[] = {{"key_1.bmp", '1'}, {"key_2.bmp", '2'}, {"key_3.bmp", '3'},  {"key_4.bmp", '4'},
                                               {"key_5.bmp", '5'}, {"key_6.bmp", '6'}, {"key_7.bmp", '7'},  {"key_8.bmp", '8'},
                                               {"key_9.bmp", '9'}, {"key_0.bmp", '0'}, {"key_star.bmp", '*'}, {"key_hash.bmp", '#'}};
  for (const auto& k : keys) {
    char sign = k.second;
    s[k.first] = {Format::Rle4, 2, {"call.bmp"}, [sign](Canvas& c, const Rect& r, State state) { key(c, r, state, sign, 38); }};
  }

  /* Call buttons. */
  s["hangup.bmp"] = {Format::Rgb24, 1, {"call.bmp"}, [](Canvas& c, const Rect& r, State state) {
                       colour_button(c, r, state, kRed, kRedDeep, icon::handset_down(), 52);
                     }};
  s["answer.bmp"] = {Format::Rgb24, 1, {"call_plain.bmp"}, [](Canvas& c, const Rect& r, State state) {
                       colour_button(c, r, state, kGreen, kGreenDeep, icon::handset(), 52);
                     }};
  s["hangup_round.bmp"] = {Format::Rgb24, 1, {"call_plain.bmp"}, [](Canvas& c, const Rect& r, State state) {
                             colour_button(c, r, state, kRed, kRedDeep, icon::handset_down(), 56);
                           }};
  s["recall_yes.bmp"] = {Format::Rgb24, 1, {"recall.bmp"}, [](Canvas& c, const Rect& r, State state) {
                           colour_button(c, r, state, kAccent, kAccentDeep, icon::call_back(), 48);
                         }};
  s["recall_no.bmp"] = {Format::Rgb24, 1, {"recall.bmp"}, [](Canvas& c, const Rect& r, State state) {
                          colour_button(c, r, state, rgb(0x33496B), rgb(0x22354F), icon::cross(), 36);
                        }};
  /* The dialing animation: the handset sending one wave, then three. */
  for (int n : {1, 2}) {
    s["dial_anim" + std::to_string(n) + ".bmp"] = {Format::Rle4, 1, {"call.bmp"}, [n](Canvas& c, const Rect& r, State) {
                                                    const float x = r.cx() - 14, y = r.cy() + 14;
                                                    c.fill(circle(x, y, 58), kTileBottom);
                                                    c.fill(outline(circle(x, y, 58), 2), kPanelLine);
                                                    c.fill(place(icon::handset(), x, y, 58), kWhite);
                                                    for (int i = 0; i < (n == 1 ? 1 : 3); ++i)
                                                      c.fill(arc(x, y, 74 + 16 * i, 284, 346, 7), i == 0 ? kWhite : kAccent);
                                                  }};
  }
  return s;
}

struct Placed {
  Rect rect;
  int mask;
  int line;
};

/* Everything drawn for one image, frames side by side. */
struct Rendered {
  Canvas base;  /* the first frame as drawn on its page, used beneath other images */
  Picture file;
};

class Generator {
 public:
  Generator(std::map<std::string, Spec> s, std::map<std::string, Placed> p) : specs_(std::move(s)), placed_(std::move(p)) {}

  const Rendered& render(const std::string& name) {
    auto done = rendered_.find(name);
    if (done != rendered_.end()) return done->second;
    const Spec& spec = specs_.at(name);
    const Placed& at = placed_.at(name);
    const Rect& r = at.rect;
    const bool shaped = at.mask == -1 || at.mask == -2;
    const int frames = shaped ? 2 : spec.frames;
    std::vector<Picture> pictures;
    Canvas first;
    Canvas element_alpha;
    for (int f = 0; f < frames; ++f) {
      Canvas page(int(r.x), int(r.y), int(r.w), int(r.h));
      for (const std::string& below : spec.under) page.draw(render(below).base);
      Canvas element(int(r.x), int(r.y), int(r.w), int(r.h));
      spec.draw(element, r, f == 0 ? kNormal : kPressed);
      page.draw(element);
      if (f == 0) {
        first = page;
        element_alpha = element;
      }
      if (shaped) {
        /* Outside the shape the frame is black: the device blackens it anyway. */
        for (size_t i = 0; i < page.px.size(); ++i)
          if (element.px[i].a < 0.5f) page.px[i] = Color{0, 0, 0, 1};
      }
      pictures.push_back(picture_of(page));
    }
    if (shaped) {
      Picture shape = pictures[0];
      for (size_t i = 0; i < shape.px.size(); ++i) shape.px[i] = element_alpha.px[i].a >= 0.5f ? 0xFFFFFF : 0x000000;
      pictures.push_back(shape);
    }
    Rendered out{first, side_by_side(pictures)};
    return rendered_.emplace(name, std::move(out)).first->second;
  }

 private:
  std::map<std::string, Spec> specs_;
  std::map<std::string, Placed> placed_;
  std::map<std::string, Rendered> rendered_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))) {
    printf("usage: artgen SKIN.txt OUT_DIR\nDraws the default skin's images named in SKIN.txt into OUT_DIR.\n");
    return 0;
  }
  if (argc != 3) {
    fprintf(stderr, "usage: artgen SKIN.txt OUT_DIR\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    fprintf(stderr, "artgen: %s cannot be read\n", argv[1]);
    return 1;
  }
  std::vector<velres::SourceItem> items;
  std::vector<velres::SourceError> errors;
  velres::parse_skin_source(in, &items, &errors);
  for (const auto& e : errors) fprintf(stderr, "%s:%d: %s\n", argv[1], e.line, e.message.c_str());
  if (!errors.empty()) return 1;

  std::map<std::string, Spec> all = specs();
  std::map<std::string, Placed> placed;
  int failures = 0;
  for (const auto& item : items) {
    if (item.image.empty() || placed.count(item.image)) continue;
    if (!all.count(item.image)) {
      fprintf(stderr, "%s:%d: artgen has no drawing of %s\n", argv[1], item.line, item.image.c_str());
      failures++;
      continue;
    }
    if (item.width <= 0 || item.height <= 0) {
      fprintf(stderr, "%s:%d: %s needs a size\n", argv[1], item.line, item.image.c_str());
      failures++;
      continue;
    }
    placed[item.image] = Placed{Rect{float(item.x), float(item.y), float(item.width), float(item.height)}, item.mask, item.line};
  }
  for (const auto& spec : all) {
    if (!placed.count(spec.first)) {
      fprintf(stderr, "artgen: %s is drawn but no item of %s names it\n", spec.first.c_str(), argv[1]);
      failures++;
    }
    for (const auto& below : spec.second.under)
      if (!placed.count(below)) {
        fprintf(stderr, "artgen: %s lies on %s, which no item names\n", spec.first.c_str(), below.c_str());
        failures++;
      }
  }
  if (failures) return 1;

  const std::string out_dir = argv[2];
  mkdir(out_dir.c_str(), 0755);
  Generator generator(all, placed);
  for (const auto& entry : placed) {
    const Picture& picture = generator.render(entry.first).file;
    const std::vector<uint8_t> bytes = bmp_file(picture, all.at(entry.first).format);
    const std::string path = out_dir + "/" + entry.first;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f) != 0) {
      fprintf(stderr, "artgen: %s cannot be written\n", path.c_str());
      return 1;
    }
  }
  printf("artgen: %zu images in %s\n", placed.size(), out_dir.c_str());
  return 0;
}
