/* The detector beside a peer: spandsp's DTMF receiver (a library outside the
 * system) hears the same audio, and spandsp's generator makes audio for
 * ours. Host only. */
#include <windows.h>

#include <gtest/gtest.h>

#include <spandsp.h>

#include <string>
#include <vector>

#include "dtmf_fixture.h"

using namespace dtmf_test;

namespace {

std::string peer_digits(const Audio& a) {
  dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, nullptr, nullptr);
  std::string digits;
  char buffer[128];
  for (size_t at = 0; at < a.size(); at += 160) {
    int n = (int)std::min<size_t>(160, a.size() - at);
    dtmf_rx(rx, a.data() + at, n);
    size_t got = dtmf_rx_get(rx, buffer, sizeof buffer - 1);
    digits.append(buffer, got);
  }
  dtmf_rx_free(rx);
  return digits;
}

TEST(DtmfPeer, BothHearTheSameKeysOverLevelsTimingTwistAndNoise) {
  const std::string sent = "0123456789*#ABCD";
  struct Case {
    double level, twist, tone, gap, snr;
  } cases[] = {
      {-10, 0, 100, 100, INFINITY}, {-25, 0, 100, 100, INFINITY}, {-10, 3, 100, 100, INFINITY},
      {-10, -3, 100, 100, INFINITY}, {-10, 0, 70, 70, INFINITY},  {-10, 0, 100, 100, 20},
      {-20, 0, 100, 100, 15},
  };
  for (const Case& c : cases) {
    dtmf_audio::Options o;
    o.level_dbfs = c.level;
    o.twist_db = c.twist;
    o.tone_ms = c.tone;
    o.gap_ms = c.gap;
    o.snr_db = c.snr;
    Audio a = keys(sent, o);
    std::string where = "level " + std::to_string(c.level) + " twist " + std::to_string(c.twist) +
                        " tone " + std::to_string(c.tone) + " snr " + std::to_string(c.snr);
    EXPECT_EQ(peer_digits(a), sent) << where;
    EXPECT_EQ(heard_digits(a), sent) << where;
  }
}

TEST(DtmfPeer, NeitherHearsTonesFarBelowTheirThreshold) {
  dtmf_audio::Options o;
  o.level_dbfs = -55;
  Audio a = keys("123", o);
  EXPECT_EQ(peer_digits(a), "");
  EXPECT_EQ(heard_digits(a), "");
}

TEST(DtmfPeer, OurDetectorDecodesThePeersMessages) {
  /* spandsp's generator at 100 ms on and 100 ms off. */
  for (std::string m : {"03#4006601234", "02#0113456700225432", "05#111*222"}) {
    std::string sent = dtmf_audio::with_check_digits(m);
    dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
    dtmf_tx_set_timing(tx, 100, 100);
    dtmf_tx_put(tx, sent.c_str(), (int)sent.size());
    Audio a(800, 0);
    int16_t chunk[160];
    int n;
    while ((n = dtmf_tx(tx, chunk, 160)) > 0) a.insert(a.end(), chunk, chunk + n);
    dtmf_tx_free(tx);
    a.resize(a.size() + 4000, 0);
    EXPECT_EQ(messages(a), std::vector<std::string>{m}) << m;
    EXPECT_EQ(peer_digits(a), sent) << m;
  }
}

TEST(DtmfPeer, AtFiftyMillisecondTonesOnlyThePeerSeparatesRepeatedKeys) {
  /* Our blocks of 25.6 ms need a tone and gap of about 130 ms together to
   * tell two equal keys apart; spandsp's receiver resolves shorter ones. */
  dtmf_audio::Options o;
  o.tone_ms = 50;
  o.gap_ms = 55;
  Audio a = keys("1122", o);
  EXPECT_EQ(peer_digits(a), "1122");
  EXPECT_EQ(heard_digits(a), "12");
}

}  // namespace
