/* Serial ports as Win32 serves them, on a pseudo-terminal that the host
 * attaches as the port (host only: the port is a host terminal; Windows has
 * no pseudo-terminal to stand in for a COM port). */
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "../vx_gps/pty_port.h"
#include "plat/host.h"

namespace {

const DWORD kSentinel = 0xBEEF;

class Serial : public ::testing::Test {
 protected:
  PtyPort pty{u"COM13:"};
  HANDLE port = INVALID_HANDLE_VALUE;

  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    port = CreateFileW(TEXT("COM13:"), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  }
  void set_timeouts(DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS t = {interval, multiplier, constant, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port, &t));
  }
  std::string read(DWORD size) {
    std::string out(size, 0);
    DWORD got = 12345;
    EXPECT_TRUE(ReadFile(port, &out[0], size, &got, nullptr));
    out.resize(got > size ? 0 : got);
    return out;
  }
};

TEST_F(Serial, PortNamesAndExclusiveOpen) {
  struct Case {
    const WCHAR* path;
    DWORD error;
  } cases[] = {
      {TEXT("COM13:"), ERROR_ACCESS_DENIED},        /* held by the fixture */
      {TEXT("\\$device\\COM13"), ERROR_ACCESS_DENIED},
      {TEXT("COM77:"), ERROR_FILE_NOT_FOUND},
      {TEXT("\\$device\\COM77"), ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SetLastError(kSentinel);
    HANDLE h = CreateFileW(c.path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(c.error, GetLastError());
  }
  CloseHandle(port);
  port = CreateFileW(TEXT("\\$device\\COM13"), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                     OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, port) << "the device namespace's name of the same port";
}

TEST_F(Serial, CommCallsOnOtherHandlesFail) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DCB dcb = {};
  COMMTIMEOUTS t = {};
  DWORD mask = 0;
  COMSTAT status;
  for (HANDLE h : {event, (HANDLE)0, INVALID_HANDLE_VALUE}) {
    SetLastError(kSentinel);
    EXPECT_FALSE(GetCommState(h, &dcb));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(kSentinel);
    EXPECT_FALSE(SetCommTimeouts(h, &t));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(kSentinel);
    EXPECT_FALSE(SetCommMask(h, EV_RXCHAR));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(kSentinel);
    EXPECT_FALSE(WaitCommEvent(h, &mask, nullptr));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(kSentinel);
    EXPECT_FALSE(ClearCommError(h, nullptr, &status));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(kSentinel);
    EXPECT_FALSE(PurgeComm(h, PURGE_RXCLEAR));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
  }
  CloseHandle(event);
}

TEST_F(Serial, SettingsBlockRoundTripAndRefusals) {
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  SetLastError(kSentinel);
  ASSERT_TRUE(GetCommState(port, &dcb));
  EXPECT_EQ(kSentinel, GetLastError()) << "success leaves the last error";
  EXPECT_EQ(1u, dcb.fBinary);
  struct Case {
    DWORD baud;
    BYTE size, parity, stop;
  } good[] = {{4800, 8, NOPARITY, ONESTOPBIT}, {115200, 7, EVENPARITY, TWOSTOPBITS},
              {9600, 8, ODDPARITY, ONESTOPBIT}};
  for (const Case& c : good) {
    dcb.BaudRate = c.baud, dcb.ByteSize = c.size, dcb.Parity = c.parity, dcb.StopBits = c.stop;
    ASSERT_TRUE(SetCommState(port, &dcb)) << c.baud;
    DCB back = {};
    ASSERT_TRUE(GetCommState(port, &back));
    EXPECT_EQ(c.baud, back.BaudRate);
    EXPECT_EQ(c.size, back.ByteSize);
    EXPECT_EQ(c.parity, back.Parity);
    EXPECT_EQ(c.stop, back.StopBits);
  }
  Case bad[] = {{0, 8, NOPARITY, ONESTOPBIT},
                {4800, 9, NOPARITY, ONESTOPBIT},
                {4800, 4, NOPARITY, ONESTOPBIT},
                {4800, 8, 5, ONESTOPBIT},
                {4800, 8, NOPARITY, 3}};
  for (const Case& c : bad) {
    DCB d = dcb;
    d.BaudRate = c.baud, d.ByteSize = c.size, d.Parity = c.parity, d.StopBits = c.stop;
    SetLastError(kSentinel);
    EXPECT_FALSE(SetCommState(port, &d));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    DCB back = {};
    ASSERT_TRUE(GetCommState(port, &back));
    EXPECT_EQ(9600u, back.BaudRate) << "unchanged";
  }
}

TEST_F(Serial, ReadTimeouts) {
  /* interval MAXDWORD, totals 0: at once with what is queued */
  set_timeouts(MAXDWORD, 0, 0);
  EXPECT_EQ("", read(16));
  pty.send("abc");
  ASSERT_TRUE(eventually([&] { return pty.queued() == 3; }));
  EXPECT_EQ("abc", read(16));

  /* MAXDWORD, MAXDWORD, constant: at once when bytes are there, else waits
   * for the first one at most the constant */
  set_timeouts(MAXDWORD, MAXDWORD, 5000);
  pty.send("d");
  EXPECT_EQ("d", read(16));
  std::thread later([&] {
    Sleep(50);
    pty.send("ef");
  });
  std::string first = read(2); /* returns with the first byte(s) */
  later.join();
  EXPECT_TRUE(first == "e" || first == "ef") << first;
  set_timeouts(MAXDWORD, 0, 0);
  if (first == "e") {
    ASSERT_TRUE(eventually([&] { return pty.queued() == 1; }));
    EXPECT_EQ("f", read(16));
  }
  set_timeouts(MAXDWORD, MAXDWORD, 60);
  EXPECT_EQ("", read(4)) << "nothing came within the constant";

  /* total time-out: returns what came when it runs out */
  set_timeouts(0, 0, 80);
  pty.send("gh");
  DWORD start = GetTickCount();
  EXPECT_EQ("gh", read(10));
  EXPECT_GE(GetTickCount() - start, 70u);

  /* no time-outs: waits until the whole request arrived */
  set_timeouts(0, 0, 0);
  std::thread parts([&] {
    pty.send("12");
    Sleep(30);
    pty.send("345");
  });
  EXPECT_EQ("12345", read(5));
  parts.join();

  /* interval only: ends at a pause after the first byte */
  set_timeouts(20, 0, 0);
  std::thread gap([&] {
    pty.send("xy");
    Sleep(300);
    pty.send("z");
  });
  EXPECT_EQ("xy", read(10));
  gap.join();
  EXPECT_EQ("z", read(1));
}

TEST_F(Serial, EventMaskWaitQueueAndPurge) {
  DWORD mask = 0;
  SetLastError(kSentinel);
  DWORD events = 0;
  EXPECT_FALSE(WaitCommEvent(port, &events, nullptr)) << "no events asked for";
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());

  ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_CTS | EV_DSR | EV_RING));
  ASSERT_TRUE(GetCommMask(port, &mask));
  EXPECT_EQ(0x119u, mask);

  std::thread sender([&] {
    Sleep(30);
    pty.send("$GP");
  });
  events = 0;
  ASSERT_TRUE(WaitCommEvent(port, &events, nullptr));
  EXPECT_EQ((DWORD)EV_RXCHAR, events);
  sender.join();

  COMSTAT status = {};
  DWORD errors = 99;
  ASSERT_TRUE(eventually([&] {
    ClearCommError(port, &errors, &status);
    return status.cbInQue == 3;
  }));
  EXPECT_EQ(0u, errors);
  ASSERT_TRUE(PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR));
  ASSERT_TRUE(ClearCommError(port, nullptr, &status));
  EXPECT_EQ(0u, status.cbInQue);
  SetLastError(kSentinel);
  EXPECT_FALSE(PurgeComm(port, 0x10));
  EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());

  /* clearing the mask from another thread ends a pending wait: no event */
  std::thread releaser([&] {
    Sleep(50);
    SetCommMask(port, 0);
  });
  events = 99;
  EXPECT_TRUE(WaitCommEvent(port, &events, nullptr));
  EXPECT_EQ(0u, events);
  releaser.join();
  EXPECT_TRUE(SetupComm(port, 4096, 4096));
}

TEST_F(Serial, WriteReachesTheDevice) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(port, "$PMTK*00\r\n", 10, &written, nullptr));
  EXPECT_EQ(10u, written);
  EXPECT_EQ("$PMTK*00\r\n", pty.received(10));
}

}  // namespace
