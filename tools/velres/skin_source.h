/* The skin source: a UTF-8 text file, one item a line, fields as key=value
 * separated by blanks; '#' outside quotes starts a comment.
 *
 *   id=200 x=0 y=0 width=800 height=480 image=desktop.bmp
 *   id=201 x=24 y=436 width=500 height=40 text="蓝牙电话已连接" variant=1
 *
 * Fields: id (required, 1 to 2147483647), kind (0 or 1), reserved (any 32-bit
 * value), x, y, width, height (width and height not negative), image (a file
 * in the images folder), mask (-1: shaped button with pixel hit test, -2:
 * shaped button with rectangle hit test), text (quoted; escapes \" \\ \n \r
 * \t \uXXXX), variant (-1 for any language, or the language index 0 to 21).
 * Numbers are decimal or 0x hexadecimal. One id may appear once per variant.
 *
 * Shared by the velres tool and the default skin's artwork generator. */
#pragma once

#include <stdint.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace velres {

struct SourceItem {
  int line = 0;
  int32_t id = 0;
  int32_t kind = 0;
  int32_t reserved = 0;
  int32_t x = 0, y = 0, width = 0, height = 0;
  int32_t mask = 0;
  int32_t variant = -1;
  std::string image;  /* empty: none */
  std::string text;   /* UTF-8; empty: none */
};

struct SourceError {
  int line;
  std::string message;
};

inline const char* source_fields() { return "id kind reserved x y width height image mask text variant"; }

/* Appends the UTF-8 encoding of a code point. */
inline void put_utf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

/* UTF-8 to UTF-16 code units; false for invalid UTF-8 (overlong forms,
 * surrogates, values above U+10FFFF, cut sequences). */
inline bool utf8_to_utf16(const std::string& in, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < in.size();) {
    const unsigned char b = static_cast<unsigned char>(in[i]);
    uint32_t c;
    int extra;
    if (b < 0x80) {
      c = b;
      extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (extra && i + extra >= in.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char n = static_cast<unsigned char>(in[i + k]);
      if ((n & 0xC0) != 0x80) return false;
      c = (c << 6) | (n & 0x3F);
    }
    static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      *out += static_cast<char16_t>(0xD800 + (c >> 10));
      *out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      *out += static_cast<char16_t>(c);
    }
    i += 1 + extra;
  }
  return true;
}

/* Parses a whole number in 32 bits (decimal or 0x hexadecimal, optional sign). */
inline bool parse_int32(const std::string& text, int32_t* value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    int d;
    const char c = text[i];
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return false;
    v = v * base + d;
    if (v > 0x100000000LL) return false;
  }
  if (negative) v = -v;
  /* Hexadecimal may spell a negative value in its 32 bits (0xFFFFFFFF is -1). */
  if (base == 16 && !negative && v > INT32_MAX && v <= 0xFFFFFFFFLL) v -= 0x100000000LL;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

/* Splits one line into key=value fields. False with a message on a malformed line. */
inline bool split_fields(const std::string& line, std::vector<std::pair<std::string, std::string>>* fields,
                         std::string* message) {
  size_t i = 0;
  const size_t n = line.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  for (;;) {
    while (i < n && blank(line[i])) i++;
    if (i >= n || line[i] == '#') return true;
    const size_t key_start = i;
    while (i < n && !blank(line[i]) && line[i] != '=' && line[i] != '#') i++;
    const std::string key = line.substr(key_start, i - key_start);
    if (i >= n || line[i] != '=') {
      *message = "'" + key + "' has no value (fields are written key=value)";
      return false;
    }
    if (key.empty()) {
      *message = "a value without a field name";
      return false;
    }
    i++;
    std::string value;
    if (i < n && line[i] == '"') {
      i++;
      bool closed = false;
      while (i < n) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c != '\\') {
          value += c;
          continue;
        }
        if (i >= n) break;
        const char e = line[i++];
        switch (e) {
          case 'n': value += '\n'; break;
          case 'r': value += '\r'; break;
          case 't': value += '\t'; break;
          case '\\': value += '\\'; break;
          case '"': value += '"'; break;
          case 'u': {
            int32_t code = 0;
            if (i + 4 > n || !parse_int32("0x" + line.substr(i, 4), &code) || (code >= 0xD800 && code <= 0xDFFF)) {
              *message = "\\u needs four hexadecimal digits of a character that is not a surrogate";
              return false;
            }
            put_utf8(value, static_cast<uint32_t>(code));
            i += 4;
            break;
          }
          default:
            *message = std::string("unknown escape \\") + e + " in a quoted value";
            return false;
        }
      }
      if (!closed) {
        *message = "quoted value of '" + key + "' is not closed";
        return false;
      }
      if (i < n && !blank(line[i]) && line[i] != '#') {
        *message = "text after the closing quote of '" + key + "'";
        return false;
      }
    } else {
      const size_t value_start = i;
      while (i < n && !blank(line[i]) && line[i] != '#') i++;
      value = line.substr(value_start, i - value_start);
    }
    fields->emplace_back(key, value);
  }
}

/* Parses the source text. Every line with an error adds a SourceError; the
 * items of the good lines are kept. */
inline void parse_skin_source(std::istream& in, std::vector<SourceItem>* items, std::vector<SourceError>* errors) {
  std::string line;
  int number = 0;
  std::map<std::pair<int32_t, int32_t>, int> seen;  /* (id, variant) -> line */
  while (std::getline(in, line)) {
    number++;
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    std::vector<std::pair<std::string, std::string>> fields;
    std::string message;
    if (!split_fields(line, &fields, &message)) {
      errors->push_back({number, message});
      continue;
    }
    if (fields.empty()) continue;
    SourceItem item;
    item.line = number;
    bool has_id = false, ok = true;
    std::map<std::string, bool> given;
    for (const auto& field : fields) {
      const std::string& key = field.first;
      const std::string& value = field.second;
      auto fail = [&](const std::string& why) {
        errors->push_back({number, why});
        ok = false;
      };
      if (given[key]) {
        fail("field '" + key + "' given twice");
        break;
      }
      given[key] = true;
      if (key == "image") {
        if (value.empty()) fail("image needs a file name");
        item.image = value;
        continue;
      }
      if (key == "text") {
        std::u16string check;
        if (!utf8_to_utf16(value, &check)) fail("text is not valid UTF-8");
        item.text = value;
        continue;
      }
      int32_t* target = nullptr;
      if (key == "id") target = &item.id;
      else if (key == "kind") target = &item.kind;
      else if (key == "reserved") target = &item.reserved;
      else if (key == "x") target = &item.x;
      else if (key == "y") target = &item.y;
      else if (key == "width") target = &item.width;
      else if (key == "height") target = &item.height;
      else if (key == "mask") target = &item.mask;
      else if (key == "variant") target = &item.variant;
      if (!target) {
        fail("unknown field '" + key + "' (fields: " + source_fields() + ")");
        break;
      }
      if (!parse_int32(value, target)) {
        fail("'" + key + "=" + value + "' is not a 32-bit whole number");
        break;
      }
      if (key == "id") {
        has_id = true;
        if (item.id < 1) fail("id " + value + " out of range (1 to 2147483647)");
      } else if (key == "kind" && item.kind != 0 && item.kind != 1) {
        fail("kind " + value + " out of range (0 or 1)");
      } else if (key == "variant" && (item.variant < -1 || item.variant > 21)) {
        fail("variant " + value + " out of range (-1 for any, or a language index 0 to 21)");
      } else if ((key == "width" || key == "height") && *target < 0) {
        fail(key + " " + value + " is negative");
      }
    }
    if (!ok) continue;
    if (!has_id) {
      errors->push_back({number, "item without an id"});
      continue;
    }
    auto key = std::make_pair(item.id, item.variant);
    auto before = seen.find(key);
    if (before != seen.end()) {
      errors->push_back({number, "id " + std::to_string(item.id) + " with variant " + std::to_string(item.variant) +
                                     " is given already at line " + std::to_string(before->second)});
      continue;
    }
    seen[key] = number;
    items->push_back(item);
  }
}

}  // namespace velres
