/* Makes the generated files of the device template:
 *   device_gen utf16 IN OUT   UTF-8 text to UTF-16LE with the mark FF FE and "\r\n" line ends
 *   device_gen ring OUT       the ring tone: 8 kHz mono 16-bit PCM WAV, 2 s
 * Exit status 0, or 1 with a message. */
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static bool read_file(const char* path, std::string* out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

static bool write_file(const char* path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path, "wb");
  if (!f) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

static void put16(std::vector<uint8_t>& out, unsigned v) {
  out.push_back((uint8_t)(v & 0xFF));
  out.push_back((uint8_t)((v >> 8) & 0xFF));
}

static void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

/* Decodes UTF-8 strictly; false on any invalid sequence. */
static bool decode_utf8(const std::string& s, std::vector<uint32_t>* out) {
  for (size_t i = 0; i < s.size();) {
    unsigned char b = (unsigned char)s[i];
    size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    uint32_t cp = len == 1 ? b : b & (0x7F >> len);
    for (size_t k = 1; k < len; k++) {
      unsigned char c = (unsigned char)s[i + k];
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    static const uint32_t min_cp[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < min_cp[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
    out->push_back(cp);
    i += len;
  }
  return true;
}

static int make_utf16(const char* in, const char* out) {
  std::string text;
  std::vector<uint32_t> cps;
  if (!read_file(in, &text)) {
    fprintf(stderr, "device_gen: cannot read %s\n", in);
    return 1;
  }
  if (!decode_utf8(text, &cps)) {
    fprintf(stderr, "device_gen: %s is not UTF-8\n", in);
    return 1;
  }
  std::vector<uint8_t> bytes = {0xFF, 0xFE};
  for (size_t i = 0; i < cps.size(); i++) {
    uint32_t cp = cps[i];
    if (cp == '\r') continue; /* line ends are written as "\r\n" below */
    if (cp == '\n') put16(bytes, '\r');
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put16(bytes, 0xD800 + (cp >> 10));
      put16(bytes, 0xDC00 + (cp & 0x3FF));
    } else {
      put16(bytes, cp);
    }
  }
  if (!write_file(out, bytes)) {
    fprintf(stderr, "device_gen: cannot write %s\n", out);
    return 1;
  }
  return 0;
}

/* Two bursts of 440 Hz + 480 Hz (0.4 s each, 0.2 s apart), then 1 s of
 * silence, with 5 ms ramps so that the bursts do not click. */
static int make_ring(const char* out) {
  const unsigned rate = 8000;
  const unsigned samples = rate * 2;
  const double pi = 3.14159265358979323846;
  struct Burst { double start, end; } bursts[] = {{0.0, 0.4}, {0.6, 1.0}};
  std::vector<uint8_t> data;
  for (unsigned n = 0; n < samples; n++) {
    double t = (double)n / rate, value = 0;
    for (const Burst& b : bursts) {
      if (t < b.start || t >= b.end) continue;
      double ramp = std::fmin(1.0, std::fmin(t - b.start, b.end - t) / 0.005);
      value = ramp * 0.35 * (std::sin(2 * pi * 440 * t) + std::sin(2 * pi * 480 * t));
    }
    put16(data, (unsigned)(uint16_t)(int16_t)std::lround(value * 32767));
  }
  std::vector<uint8_t> wav;
  wav.insert(wav.end(), {'R', 'I', 'F', 'F'});
  put32(wav, 36 + (uint32_t)data.size());
  wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(wav, 16);
  put16(wav, 1);             /* PCM */
  put16(wav, 1);             /* mono */
  put32(wav, rate);
  put32(wav, rate * 2);      /* bytes a second */
  put16(wav, 2);             /* bytes a frame */
  put16(wav, 16);            /* bits a sample */
  wav.insert(wav.end(), {'d', 'a', 't', 'a'});
  put32(wav, (uint32_t)data.size());
  wav.insert(wav.end(), data.begin(), data.end());
  if (!write_file(out, wav)) {
    fprintf(stderr, "device_gen: cannot write %s\n", out);
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "utf16") == 0) return make_utf16(argv[2], argv[3]);
  if (argc == 3 && strcmp(argv[1], "ring") == 0) return make_ring(argv[2]);
  fprintf(stderr, "usage: device_gen utf16 IN OUT | device_gen ring OUT\n");
  return 1;
}
