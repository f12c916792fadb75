/* The simulator's GPS receiver stand-in (host only): the nmea command's
 * completion of a sentence, and both console commands delivering through
 * COM13 to a running port reader. */
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "device_commands.h"
#include "gps_feed.h"
#include "plat/host.h"
#include "pty_port.h"
#include "vx_gps_port.h"

namespace {

std::mutex lock;
std::vector<std::string> got;

int keep(VxGpsPort*, int, const char* bytes, int length) {
  std::lock_guard<std::mutex> hold(lock);
  got.emplace_back(bytes, (size_t)length);
  return 0;
}

std::vector<std::string> sentences() {
  std::lock_guard<std::mutex> hold(lock);
  return got;
}

TEST(GpsFeed, NmeaCompletesTheSentence) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"$GPRMC,123519,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,003.1,W",
       "$GPRMC,123519,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,003.1,W*6A\r\n"},
      {"GPRMC,123519,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,003.1,W",
       "$GPRMC,123519,A,4807.0380,N,01131.0000,E,022.4,084.4,230394,003.1,W*6A\r\n"},
      {"$GPRMC,,V,,,,,,,,,,N", "$GPRMC,,V,,,,,,,,,,N*53\r\n"},
      {"$GPXXX,1*00", "$GPXXX,1*00\r\n"},   /* a checksum is kept, right or wrong */
      {"$GPXXX,1*00\r\n", "$GPXXX,1*00\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.out, sim::nmea_complete(c.in)) << c.in;
}

TEST(GpsFeed, CommandsDeliverThroughCom13) {
  plat::HostOptions options;
  sim::gps_attach(options);
  const sim::DeviceCommand* gps = sim::find_device_command("gps");
  const sim::DeviceCommand* nmea = sim::find_device_command("nmea");
  ASSERT_TRUE(gps && nmea);
  std::string error;
  EXPECT_FALSE(nmea->run("", &error));
  EXPECT_FALSE(gps->run("/nonexistent/log.nmea", &error));
  EXPECT_NE(std::string::npos, error.find("/nonexistent/log.nmea"));

  VxGpsPort port;
  vx_gps_port_init(&port);
  ASSERT_EQ(1, vx_gps_port_open(&port, 0, TEXT("COM13"), 4800, TEXT("NONE"), 8, 1));
  port.polling = 1;
  port.data_delay_ms = port.idle_delay_ms = 5;
  vx_gps_port_set_callback(&port, keep);
  ASSERT_EQ(1, vx_gps_port_start(&port));
  /* the reader purges the port as it starts: send until one comes through */
  ASSERT_TRUE(eventually([&] {
    nmea->run("$GPSYNC", &error);
    return eventually([] { return !sentences().empty(); }, 50);
  }));
  ASSERT_TRUE(eventually([] {
    size_t n = sentences().size();
    Sleep(30);
    return sentences().size() == n;
  }));
  {
    std::lock_guard<std::mutex> hold(lock);
    got.clear();
  }

  ASSERT_TRUE(nmea->run("GPGGA,1", &error)) << error;
  char log[] = "/tmp/velmar-gps-feed-XXXXXX";
  int fd = mkstemp(log);
  ASSERT_GE(fd, 0);
  const std::string text =
      "# header: $GPRMC,000000,A,... is not sent\r\n$GPA,1*00\r\n\r\n$GPB,2*00\n# $GPC\n$GPD,4*00";
  ASSERT_EQ((ssize_t)text.size(), write(fd, text.data(), text.size()));
  close(fd);
  DWORD start = GetTickCount();
  ASSERT_TRUE(gps->run(log, &error)) << error;
  DWORD took = GetTickCount() - start;
  unlink(log);
  ASSERT_TRUE(eventually([] { return sentences().size() >= 3; }));
  Sleep(30);
  /* the last line has no line end: never a whole sentence */
  std::vector<std::string> want = {sim::nmea_complete("GPGGA,1"), "$GPA,1*00\r\n",
                                   "$GPB,2*00\n"};
  EXPECT_EQ(want, sentences());
  /* 4800 baud: the 32 bytes sent take 66 ms of device time */
  EXPECT_GE(took, 66u);
  vx_gps_port_close(&port);
  DeleteCriticalSection(&port.lock);
}

}  // namespace
