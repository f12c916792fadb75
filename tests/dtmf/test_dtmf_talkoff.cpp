/* Talk-off: speech (synthesised by espeak-ng, a program outside the system)
 * as call audio gives no message, and does not spoil a message after it.
 * Host only. */
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dtmf_fixture.h"
#include "sound_file.h"

using namespace dtmf_test;

namespace {

const char* const kSpeech[] = {
    "Good morning, this is the navigation service centre. Please tell me where you would like to go.",
    "Turn left after two hundred metres, then keep right at the roundabout and take the third exit.",
    "One two three four five six seven eight nine zero, star, hash.",
    "您好，这里是导航服务中心，请告诉话务员您要去的地方，目的地将直接发送到导航。",
};

TEST(DtmfTalkOff, SpeechGivesNoMessage) {
  for (const char* text : kSpeech) {
    Audio speech;
    std::string error;
    ASSERT_TRUE(dtmf_audio::speak(text, &speech, &error)) << error;
    ASSERT_GT(speech.size(), 8000u) << text;
    /* Loud and soft: scaled to a peak of 0 dBFS and to -20 dBFS. */
    int peak = 1;
    for (int16_t s : speech) peak = std::max(peak, abs((int)s));
    for (double gain : {32767.0 / peak, 3277.0 / peak}) {
      Audio a;
      for (int16_t s : speech) a.push_back(dtmf_audio::clip(s * gain));
      EXPECT_TRUE(messages(a).empty()) << text << " at gain " << gain;
      /* Stray digits stay rare: fewer than one a second of speech. */
      EXPECT_LT(heard_digits(a).size() * 8000, a.size()) << text << " at gain " << gain;
    }
  }
}

TEST(DtmfTalkOff, AMessageAfterSpeechStillArrives) {
  Audio a;
  std::string error;
  ASSERT_TRUE(dtmf_audio::speak(kSpeech[0], &a, &error)) << error;
  dtmf_audio::append_silence(a, 8000);
  Audio m;
  ASSERT_TRUE(dtmf_audio::message_audio("03#4006601234", dtmf_audio::Options(), &m));
  a.insert(a.end(), m.begin(), m.end());
  EXPECT_EQ(messages(a), std::vector<std::string>{"03#4006601234"});
}

}  // namespace
