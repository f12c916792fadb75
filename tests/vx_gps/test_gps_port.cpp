/* The GPS port over a pseudo-terminal (host only): names and settings at
 * opening, the reader thread's framing, raw chunks, writing, stopping. */
#include <gtest/gtest.h>
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "pty_port.h"
#include "vx_gps_port.h"

namespace {

std::mutex seen_lock;
std::vector<std::string> seen_sentences;
std::string seen_raw;
int seen_code = -1;

int record_sentence(VxGpsPort*, int code, const char* bytes, int length) {
  std::lock_guard<std::mutex> hold(seen_lock);
  seen_code = code;
  seen_sentences.emplace_back(bytes, (size_t)length);
  return 0;
}

int record_raw(VxGpsPort*, int, const char* bytes, int length) {
  std::lock_guard<std::mutex> hold(seen_lock);
  seen_raw.append(bytes, (size_t)length);
  return 0;
}

std::vector<std::string> sentences() {
  std::lock_guard<std::mutex> hold(seen_lock);
  return seen_sentences;
}

void forget() {
  std::lock_guard<std::mutex> hold(seen_lock);
  seen_sentences.clear();
  seen_raw.clear();
  seen_code = -1;
}

class GpsPort : public ::testing::Test {
 protected:
  PtyPort pty{u"COM13:"};
  VxGpsPort port;

  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    forget();
    vx_gps_port_init(&port);
  }
  void TearDown() override { vx_gps_port_close(&port); DeleteCriticalSection(&port.lock); }

  /* Opens COM13 and starts the reader; the reader is known to run (and to
   * have purged the port) once a first sentence came through. */
  void start(int polling) {
    ASSERT_EQ(1, vx_gps_port_open(&port, 0, TEXT("COM13"), 4800, TEXT("NONE"), 8, 1));
    port.polling = polling;
    port.data_delay_ms = 5;
    port.idle_delay_ms = 5;
    vx_gps_port_set_callback(&port, record_sentence);
    ASSERT_EQ(1, vx_gps_port_start(&port));
    ASSERT_TRUE(eventually([&] {
      pty.send("$SYNC\n");
      return eventually([] { return !sentences().empty(); }, 50);
    }));
    pty.drained();
    /* every SYNC sent has come through once the count stays */
    ASSERT_TRUE(eventually([] {
      size_t n = sentences().size();
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      return sentences().size() == n;
    }));
    forget();
  }
};

TEST_F(GpsPort, NamesOfFourAndFiveCharactersOpenOthersFail) {
  PtyPort com1(u"COM1:");
  PtyPort com123(u"COM123:");
  ASSERT_TRUE(com1.ok() && com123.ok());
  EXPECT_EQ(1, vx_gps_port_open(&port, 0, TEXT("COM1"), 4800, TEXT("NONE"), 8, 1));
  EXPECT_NE((HANDLE)0, port.port);
  EXPECT_EQ(1, vx_gps_port_open(&port, 0, TEXT("COM13"), 4800, TEXT("NONE"), 8, 1));
  EXPECT_NE((HANDLE)0, port.port);
  /* reopening closed the first one: COM1 is free again */
  HANDLE again = CreateFileW(TEXT("COM1:"), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, again);
  CloseHandle(again);
  vx_gps_port_close(&port);
  EXPECT_EQ(0, vx_gps_port_open(&port, 0, TEXT("COM123"), 4800, TEXT("NONE"), 8, 1));
  EXPECT_EQ((HANDLE)0, port.port);
  EXPECT_EQ(0, vx_gps_port_open(&port, 0, nullptr, 4800, TEXT("NONE"), 8, 1));
  /* the device was not touched: nobody holds it open */
  HANDLE direct = CreateFileW(TEXT("COM123:"), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, direct);
  CloseHandle(direct);
  EXPECT_EQ(0, vx_gps_port_open(&port, 0, TEXT("COM9"), 4800, TEXT("NONE"), 8, 1))
      << "no such device";
}

TEST_F(GpsPort, OpeningConfiguresSettingsTimeoutsAndEventMask) {
  struct Case {
    const WCHAR* parity;
    int stop_bits;
    int data_bits;
    BYTE want_parity;
    BYTE want_stop;
  } cases[] = {
      {TEXT("O"), 2, 7, ODDPARITY, TWOSTOPBITS},
      {TEXT("ODD"), 1, 8, ODDPARITY, ONESTOPBIT},
      {TEXT("odd"), 2, 8, NOPARITY, TWOSTOPBITS}, /* case-sensitive */
      {TEXT("EVEN"), 3, 8, EVENPARITY, TWOSTOPBITS}, /* 3 keeps the stop bits as read */
      {TEXT("E"), 1, 8, EVENPARITY, ONESTOPBIT},
      {TEXT("NONE"), 1, 8, NOPARITY, ONESTOPBIT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "parity " << (char)c.parity[0] << " stop " << c.stop_bits);
    ASSERT_EQ(1, vx_gps_port_open(&port, 0, TEXT("COM13"), 4800, c.parity, c.data_bits,
                                  c.stop_bits));
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port.port, &dcb));
    EXPECT_EQ(4800u, dcb.BaudRate);
    EXPECT_EQ(c.data_bits, dcb.ByteSize);
    EXPECT_EQ(c.want_parity, dcb.Parity);
    EXPECT_EQ(c.want_stop, dcb.StopBits);
    COMMTIMEOUTS t = {};
    ASSERT_TRUE(GetCommTimeouts(port.port, &t));
    EXPECT_EQ(MAXDWORD, t.ReadIntervalTimeout);
    EXPECT_EQ(0u, t.ReadTotalTimeoutMultiplier + t.ReadTotalTimeoutConstant +
                      t.WriteTotalTimeoutMultiplier + t.WriteTotalTimeoutConstant);
    DWORD mask = 0;
    ASSERT_TRUE(GetCommMask(port.port, &mask));
    EXPECT_EQ(0x119u, mask);
    EXPECT_EQ(0, port.polling);
  }
}

TEST_F(GpsPort, ReaderFramesTheStreamIntoSentences) {
  const std::string long_body(7300, 'x');
  struct Case {
    const char* name;
    int polling;
    std::vector<std::string> chunks; /* each one read before the next is sent */
    std::vector<std::string> want;
  } cases[] = {
      {"bytes before the first $ dropped", 0, {"noise\r\n$GPAAA,1*00\r\n"}, {"$GPAAA,1*00\r\n"}},
      {"two sentences of one chunk in order", 0, {"$GPA,1\r\n$GPB,2\r\n"}, {"$GPA,1\r\n", "$GPB,2\r\n"}},
      {"a sentence split over two reads", 0, {"$GPRMC,1", "23*00\r\n"}, {"$GPRMC,123*00\r\n"}},
      {"a second $ restarts the sentence", 0, {"$GPRMC,12$GPGGA,1*00\r\n"}, {"$GPGGA,1*00\r\n"}},
      {"a chunk without $ dropped", 0, {"abc,def\r\n", "ghi\n$GPOK\n"}, {"$GPOK\n"}},
      {"polling", 1, {"junk$GPA,1\n$GPB", ",2\n"}, {"$GPA,1\n", "$GPB,2\n"}},
      {"a sentence left past 7168 moves to the front", 0,
       {"$" + long_body + "\n$GPLATE,1", "23\n"}, {"$" + long_body + "\n", "$GPLATE,123\n"}},
      {"a sentence longer than the buffer is dropped", 1,
       {"$" + std::string(13000, 'y'), "\n$GPOK\n"}, {"$GPOK\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    start(c.polling);
    for (const std::string& chunk : c.chunks) {
      pty.send(chunk);
      ASSERT_TRUE(pty.drained());
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    EXPECT_TRUE(eventually([&] { return sentences().size() >= c.want.size(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(c.want, sentences());
    EXPECT_EQ(WM_GPS_SENTENCE, seen_code);
    vx_gps_port_close(&port);
    DeleteCriticalSection(&port.lock);
    vx_gps_port_init(&port);
  }
}

TEST_F(GpsPort, RawCallbackSeesEveryByteRead) {
  port.raw_callback = record_raw;
  start(0);
  const std::string bytes = "a$GPA,1\r\nb$GP";
  pty.send(bytes);
  ASSERT_TRUE(eventually([&] {
    std::lock_guard<std::mutex> hold(seen_lock);
    return seen_raw.size() >= bytes.size();
  }));
  std::lock_guard<std::mutex> hold(seen_lock);
  EXPECT_EQ(bytes, seen_raw);
  EXPECT_EQ(1u, seen_sentences.size());
}

LRESULT CALLBACK notify_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_GPS_SENTENCE) {
    std::lock_guard<std::mutex> hold(seen_lock);
    seen_sentences.emplace_back("window:" + std::string((const char*)wparam, (size_t)lparam));
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST_F(GpsPort, NotifyWindowReceivesEachSentenceBeforeTheCallback) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = notify_proc;
  wc.lpszClassName = TEXT("GpsNotify");
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, TEXT("GpsNotify"), TEXT("GpsNotify"), WS_POPUP, 0, 0, 10, 10,
                                nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(window);
  ASSERT_EQ(1, vx_gps_port_open(&port, window, TEXT("COM13"), 4800, TEXT("NONE"), 8, 1));
  port.polling = 1;
  port.data_delay_ms = port.idle_delay_ms = 5;
  vx_gps_port_set_callback(&port, record_sentence);
  ASSERT_EQ(1, vx_gps_port_start(&port));
  /* the reader purges at its start; send until a sentence comes through,
   * handling the sent messages meanwhile */
  bool through = false;
  for (int i = 0; i < 100 && !through; i++) {
    pty.send("$GPX,1\n");
    for (int k = 0; k < 20 && !through; k++) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      through = sentences().size() >= 2;
      Sleep(2);
    }
  }
  ASSERT_TRUE(through);
  std::vector<std::string> got = sentences();
  EXPECT_EQ("window:$GPX,1\n", got[0]);
  EXPECT_EQ("$GPX,1\n", got[1]);
  vx_gps_port_close(&port);
  DestroyWindow(window);
}

TEST_F(GpsPort, WriteSendsBytesToTheDevice) {
  EXPECT_EQ(0, vx_gps_port_write(&port, "x", 1)) << "not open";
  ASSERT_EQ(1, vx_gps_port_open(&port, 0, TEXT("COM13"), 4800, TEXT("NONE"), 8, 1));
  EXPECT_EQ(0, vx_gps_port_write(&port, "x", 0));
  EXPECT_EQ(1, vx_gps_port_write(&port, "$PMTK101*32\r\n", 13));
  EXPECT_EQ("$PMTK101*32\r\n", pty.received(13));
}

TEST_F(GpsPort, LifecycleOfTheContext) {
  EXPECT_EQ(0, vx_gps_port_set_callback(nullptr, record_sentence));
  EXPECT_EQ(0, vx_gps_port_close(nullptr));
  EXPECT_EQ(0, vx_gps_port_stop(nullptr));
  EXPECT_EQ(0, vx_gps_port_start(&port)) << "not open";
  EXPECT_EQ(50, port.data_delay_ms);
  EXPECT_EQ(100, port.idle_delay_ms);
  EXPECT_EQ(1, port.framing);
  EXPECT_EQ(INVALID_HANDLE_VALUE, port.capture_file);

  EXPECT_EQ(0, vx_gps_port_set_markers(&port, "<<<<<", 5, "", 0));
  EXPECT_EQ(0, port.start_marker_length);
  EXPECT_EQ(1, vx_gps_port_set_markers(&port, "<[", 2, ">", 1));
  EXPECT_EQ(2, port.start_marker_length);
  EXPECT_EQ(0, memcmp(port.start_marker, "<[", 2));
  EXPECT_EQ(1, vx_gps_port_set_markers(&port, nullptr, 0, nullptr, 0));
  EXPECT_EQ(0, port.start_marker_length);
  EXPECT_EQ(0, port.end_marker_length);

  /* waiting for a port event (nothing arrives): stop still ends the thread */
  ASSERT_EQ(1, vx_gps_port_open(&port, 0, TEXT("COM13"), 4800, TEXT("NONE"), 8, 1));
  ASSERT_EQ(1, vx_gps_port_start(&port));
  HANDLE thread = port.thread;
  EXPECT_EQ(1, vx_gps_port_start(&port));
  EXPECT_EQ(thread, port.thread) << "a second start keeps the running thread";
  port.data_delay_ms = 7;
  EXPECT_EQ(1, vx_gps_port_close(&port));
  EXPECT_EQ((HANDLE)0, port.port);
  EXPECT_EQ((HANDLE)0, port.thread);
  EXPECT_EQ(50, port.data_delay_ms) << "defaults again";
  HANDLE free_again = CreateFileW(TEXT("COM13:"), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, free_again);
  CloseHandle(free_again);
}

}  // namespace
