/* Sound file playback with PlaySoundW. On Windows the calls reach the real
 * sound system; the host's sound is an event line with the file and whether
 * it loops, and a stop line when a sound still playing is stopped. */
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <stdlib.h>
#include <unistd.h>

#include "event_recorder.h"
#include "plat/host.h"
#endif

namespace {

typedef std::basic_string<WCHAR> WString;

#ifndef _WIN32
/* A RIFF WAVE file of 16-bit mono PCM at 8000 samples per second holding
 * `milliseconds` of silence, with an extra chunk before the format. */
std::vector<unsigned char> wave_file(int milliseconds) {
  const unsigned data_bytes = (unsigned)milliseconds * 16;
  std::vector<unsigned char> out;
  /* Byte by byte: GCC 12 at -O3 takes a range insert of the four bytes for an
   * overflow (-Wstringop-overflow) once it is inlined. */
  auto text = [&](const char* s) {
    for (int i = 0; i < 4; i++) out.push_back((unsigned char)s[i]);
  };
  auto u16 = [&](unsigned v) {
    out.push_back((unsigned char)v);
    out.push_back((unsigned char)(v >> 8));
  };
  auto u32 = [&](unsigned v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  text("RIFF");
  u32(4 + 8 + 3 + 1 + 8 + 16 + 8 + data_bytes);
  text("WAVE");
  text("LIST");  /* an odd-sized chunk, padded, that the reader has to skip */
  u32(3);
  out.insert(out.end(), {'a', 'b', 'c', 0});
  text("fmt ");
  u32(16);
  u16(1);      /* PCM */
  u16(1);      /* mono */
  u32(8000);
  u32(16000);  /* bytes per second */
  u16(2);
  u16(16);
  text("data");
  u32(data_bytes);
  out.insert(out.end(), data_bytes, 0);
  return out;
}
#endif

class Sound : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    char dir[] = "/tmp/velmar-sound-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    folder_ = dir;
    plat::set_device_root(folder_);
    device_folder_.assign(1, (WCHAR)0x5C); /* the device root */
    recorder().take();
#else
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    device_folder_ = temp;
#endif
  }
  void TearDown() override {
    PlaySoundW(NULL, NULL, 0);
    for (const WString& path : written_) DeleteFileW(path.c_str());
#ifndef _WIN32
    rmdir(folder_.c_str());
    plat::set_device_root("");
    plat::set_speed(1);
#endif
  }

  /* Writes the bytes to a file of the test folder; its path for PlaySoundW. */
  WString write(const WCHAR* name, const std::vector<unsigned char>& bytes) {
    WString path = device_folder_ + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(file);
    written_.push_back(path);
    return path;
  }

  WString device_folder_;
  std::vector<WString> written_;
#ifndef _WIN32
  std::string folder_;
#endif
};

TEST_F(Sound, StoppingWhenNothingPlaysSucceeds) {
  EXPECT_TRUE(PlaySoundW(NULL, NULL, 0));
  EXPECT_TRUE(PlaySoundW(NULL, NULL, SND_ASYNC));
}

TEST_F(Sound, AMissingFileWithoutTheDefaultSoundFails) {
  const WString missing = device_folder_ + TEXT("no-such-sound.wav");
  EXPECT_FALSE(PlaySoundW(missing.c_str(), NULL, SND_FILENAME | SND_NODEFAULT | SND_SYNC));
}

#ifndef _WIN32

std::string sound_line(const std::string& file_json, const char* tail) {
  std::string line = ",\"ev\":\"sound\",\"file\":\"";
  line += file_json;
  line += "\",";
  line += tail;
  line += "}";
  return line;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void expect_lines(const std::vector<std::string>& expected) {
  std::vector<std::string> seen = recorder().take();
  ASSERT_EQ(seen.size(), expected.size()) << (seen.empty() ? std::string("no events") : seen[0]);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(ends_with(seen[i], expected[i])) << seen[i];
}

TEST_F(Sound, ALoopPlaysUntilStoppedAndIsStoppedOnce) {
  write(TEXT("ring.wav"), wave_file(50));
  /* The flags the incoming-call page uses: file name, asynchronous, loop. */
  ASSERT_TRUE(PlaySoundW(TEXT("ring.wav"), NULL, 0x20009));
  plat::sleep_device_ms(200);  /* longer than the file: a loop keeps playing */
  EXPECT_TRUE(PlaySoundW(NULL, NULL, 0));
  EXPECT_TRUE(PlaySoundW(NULL, NULL, 0));
  expect_lines({sound_line("ring.wav", "\"loop\":true"), sound_line("ring.wav", "\"stop\":true")});
}

TEST_F(Sound, ASoundWithoutLoopEndsByItselfAfterItsDuration) {
  plat::set_speed(50);
  write(TEXT("short.wav"), wave_file(100));
  ASSERT_TRUE(PlaySoundW(TEXT("short.wav"), NULL, SND_FILENAME | SND_ASYNC));
  plat::sleep_device_ms(300);
  EXPECT_TRUE(PlaySoundW(NULL, NULL, 0));
  expect_lines({sound_line("short.wav", "\"loop\":false")});

  const uint64_t before = plat::device_ms();
  ASSERT_TRUE(PlaySoundW(TEXT("short.wav"), NULL, SND_FILENAME | SND_SYNC));
  EXPECT_GE(plat::device_ms() - before, 100u) << "a synchronous sound returns after it has played";
  EXPECT_TRUE(PlaySoundW(NULL, NULL, 0));
  expect_lines({sound_line("short.wav", "\"loop\":false")});
}

TEST_F(Sound, ANewSoundStopsThePlayingOneUnlessToldNotTo) {
  write(TEXT("a.wav"), wave_file(50));
  write(TEXT("b.wav"), wave_file(50));
  ASSERT_TRUE(PlaySoundW(TEXT("a.wav"), NULL, SND_FILENAME | SND_ASYNC | SND_LOOP));
  EXPECT_FALSE(PlaySoundW(TEXT("b.wav"), NULL, SND_FILENAME | SND_ASYNC | SND_NOSTOP));
  ASSERT_TRUE(PlaySoundW(TEXT("b.wav"), NULL, SND_FILENAME | SND_ASYNC | SND_LOOP));
  EXPECT_TRUE(PlaySoundW(NULL, NULL, 0));
  expect_lines({sound_line("a.wav", "\"loop\":true"), sound_line("a.wav", "\"stop\":true"),
                sound_line("b.wav", "\"loop\":true"), sound_line("b.wav", "\"stop\":true")});
}

TEST_F(Sound, RefusedSoundsLeaveNoEvent) {
  write(TEXT("ok.wav"), wave_file(50));
  write(TEXT("text.wav"), std::vector<unsigned char>{'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e', ' ', '!'});
  std::vector<unsigned char> truncated = wave_file(50);
  truncated.resize(30);  /* ends inside the format chunk */
  write(TEXT("cut.wav"), truncated);
  struct Case {
    const WCHAR* sound;
    DWORD flags;
  } cases[] = {
      {TEXT("missing.wav"), SND_FILENAME | SND_ASYNC},
      {TEXT("text.wav"), SND_FILENAME | SND_ASYNC},
      {TEXT("cut.wav"), SND_FILENAME | SND_ASYNC},
      {TEXT("ok.wav"), SND_FILENAME | SND_LOOP},     /* a loop must be asynchronous */
      {TEXT("ok.wav"), SND_ASYNC},                   /* aliases are not supported */
      {TEXT("ok.wav"), SND_FILENAME | SND_MEMORY | SND_ASYNC},
  };
  for (const Case& c : cases) EXPECT_FALSE(PlaySoundW(c.sound, NULL, c.flags)) << plat::utf16_to_utf8(c.sound);
  expect_lines({});
}

#endif

}  // namespace
