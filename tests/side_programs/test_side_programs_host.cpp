/* Side programs against stand-ins of the host (host only: the Windows build
 * has no stand-in programs and no camera drivers): programs registered with
 * plat::register_program, and a test driver behind "SCA0:" and "VIP1:". */
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "devio_internal.h"
#include "device_folder.h"
#include "plat/host.h"
#include "shell_globals.h"
#include "side_programs.h"

namespace {

struct Started {
  std::u16string path;
  std::u16string command_line;
};

std::mutex runs_lock;
std::vector<Started> runs;
/* Set by a stand-in just before it ends: a launch that waits sees it. */
std::atomic<int> ended{0};

std::vector<Started> take_runs() {
  std::lock_guard<std::mutex> guard(runs_lock);
  return std::move(runs);
}

/* A stand-in that runs for 50 ms of device time and ends. */
void add_program(const std::u16string& path) {
  plat::register_program(path, [path](const std::u16string& command_line) -> DWORD {
    {
      std::lock_guard<std::mutex> guard(runs_lock);
      runs.push_back({path, command_line});
    }
    Sleep(50);
    ended++;
    return 0;
  });
}

class SideProgramsHost : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { make_test_device("side_programs_host"); }
  void SetUp() override {
    take_runs();
    ended = 0;
  }
  void TearDown() override { plat::unregister_programs(); }
};

TEST_F(SideProgramsHost, LaunchesThatWaitReturnAfterTheProgramEnded) {
  add_program(u"\\windows\\prog.exe");
  add_program(u"\\residentflash2\\Photos.exe");
  add_program(u"\\residentflash2\\Run.LNK");
  ASSERT_TRUE(write_file(u"\\temp\\prog.lnk", "22#\\windows\\prog.exe -x"));
  ASSERT_TRUE(write_file(u"\\temp\\plain.lnk", "#\\windows\\prog.exe"));
  const struct {
    const char16_t* entry;
    const char16_t* program;
    const char16_t* command_line;
  } cases[] = {
      {u"\\temp\\prog.lnk", u"\\windows\\prog.exe", u"-x"},
      {u"\\temp\\plain.lnk", u"\\windows\\prog.exe", u""},
      {u"\\residentflash2\\Photos.exe", u"\\residentflash2\\Photos.exe", u""},
      /* ".lnk" is looked for in exact case: this one is a program. */
      {u"\\residentflash2\\Run.LNK", u"\\residentflash2\\Run.LNK", u""},
  };
  for (const auto& c : cases) {
    ended = 0;
    EXPECT_EQ(launch_entry(c.entry), 0);
    EXPECT_EQ(ended.load(), 1) << plat::utf16_to_utf8(c.entry) << " returned before the end";
    std::vector<Started> seen = take_runs();
    ASSERT_EQ(seen.size(), 1u) << plat::utf16_to_utf8(c.entry);
    EXPECT_EQ(seen[0].path, c.program);
    EXPECT_EQ(seen[0].command_line, c.command_line);
  }
}

TEST_F(SideProgramsHost, DetachedLaunchDoesNotWait) {
  std::atomic<bool> release{false};
  plat::register_program(u"\\residentflash2\\Clock.exe", [&release](const std::u16string&) -> DWORD {
    while (!release) Sleep(1);
    ended++;
    return 0;
  });
  EXPECT_EQ(launch_detached(u"\\residentflash2\\Clock.exe"), 0);
  EXPECT_EQ(ended.load(), 0);
  release = true;
  for (int i = 0; i < 2000 && !ended; i++) Sleep(1);
  EXPECT_EQ(ended.load(), 1);
}

void set_use_fm(const DWORD* value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Kelvory\\GpsNavi", 0, nullptr, 0,
                            KEY_READ | KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  if (value)
    RegSetValueExW(key, u"UseFM", 0, REG_DWORD, (const BYTE*)value, sizeof *value);
  else
    RegDeleteValueW(key, u"UseFM");
  RegCloseKey(key);
}

TEST_F(SideProgramsHost, FmProgramRefreshesTheFlagAfterItEnded) {
  /* The stand-in FM program switches UseFM to what the case asks, then ends. */
  static const DWORD* next_value = nullptr;
  plat::register_program(u"\\residentflash2\\fm.exe", [](const std::u16string&) -> DWORD {
    Sleep(30);
    set_use_fm(next_value);
    ended++;
    return 0;
  });
  static const DWORD on = 1, off = 0, other = 7;
  const struct {
    const DWORD* value;
    int before, after;
  } cases[] = {{&on, 0, 1}, {&off, 1, 0}, {&other, 0, 1}, {nullptr, 1, 0}};
  for (const auto& c : cases) {
    next_value = c.value;
    fm_enabled = c.before;
    ended = 0;
    fm_program();
    EXPECT_EQ(ended.load(), 1);
    EXPECT_EQ(fm_enabled, c.after);
  }
  fm_enabled = 0;
}

TEST_F(SideProgramsHost, AlarmStartsTheProgramNamedByConfigOnlyWithoutItsWindow) {
  add_program(u"\\residentflash2\\Alarm.exe");
  ASSERT_TRUE(write_file(u"\\residentflash2\\Velmar\\config.ini",
                         "[CONFIG]\nID=VM1\nALARM=\\residentflash2\\Alarm.exe\n"));
  alarm_program();
  for (int i = 0; i < 2000 && !ended; i++) Sleep(1);
  std::vector<Started> seen = take_runs();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].path, u"\\residentflash2\\Alarm.exe");
  EXPECT_EQ(seen[0].command_line, u"");
}

TEST_F(SideProgramsHost, AutoStartUsesThePathUnchanged) {
  add_program(u"\\residentflash2\\Run.exe");
  const struct {
    std::string text;
    int result;
    bool runs;
  } cases[] = {
      {"\\residentflash2\\Run.exe", 0, true},
      /* Not trimmed: the line end is part of the path, which names nothing. */
      {"\\residentflash2\\Run.exe\r\n", -1, false},
      {" \\residentflash2\\Run.exe", -1, false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(write_file(u"sdmmc\\GpsAutoRun.ini", c.text));
    ended = 0;
    EXPECT_EQ(sd_autostart(), c.result) << c.text;
    if (c.runs)
      for (int i = 0; i < 2000 && !ended; i++) Sleep(1);
    EXPECT_EQ(take_runs().size(), c.runs ? 1u : 0u) << c.text;
  }
}

/* ---- Camera ---- */

struct Request {
  std::string device;
  DWORD code;
  std::vector<BYTE> input;
};

std::mutex requests_lock;
std::vector<Request> requests;
std::vector<std::string> opened;

std::vector<Request> take_requests() {
  std::lock_guard<std::mutex> guard(requests_lock);
  return std::move(requests);
}

struct TestDriver : plat::IoctlDevice {
  explicit TestDriver(std::string name) : name(std::move(name)) {}
  DWORD ioctl(DWORD code, const void* input, DWORD size, void*, DWORD, DWORD* returned) override {
    std::lock_guard<std::mutex> guard(requests_lock);
    const BYTE* bytes = (const BYTE*)input;
    requests.push_back({name, code, std::vector<BYTE>(bytes, bytes + size)});
    *returned = 0;
    return 0;
  }
  std::string name;
};

void add_driver(const char16_t* name, const std::string& event_name) {
  plat::register_device(name, [event_name](DWORD access, DWORD, DWORD*) {
    std::lock_guard<std::mutex> guard(requests_lock);
    opened.push_back(event_name + (access == (GENERIC_READ | GENERIC_WRITE) ? " rw" : " ?"));
    return std::shared_ptr<plat::DeviceHandle>(std::make_shared<TestDriver>(event_name));
  });
}

std::vector<BYTE> le16s(std::initializer_list<unsigned> values) {
  std::vector<BYTE> out;
  for (unsigned v : values) {
    out.push_back((BYTE)(v & 0xFF));
    out.push_back((BYTE)(v >> 8));
  }
  return out;
}

/* The window set-up request for the picture, as its layout gives it. */
std::vector<BYTE> window_request(unsigned crop_left, unsigned crop_top, unsigned width,
                                 unsigned height, unsigned source_height, unsigned x, unsigned y,
                                 unsigned dest_width, unsigned dest_height) {
  std::vector<BYTE> out = le16s({0, 0, crop_left, crop_top, width, height, 720, source_height, x,
                                 y, dest_width, dest_height});
  out.insert(out.end(), {0, 1, 0, 0});
  return out;
}

TEST_F(SideProgramsHost, CameraRequestsInOrder) {
  add_driver(u"SCA0:", "SCA0:");
  add_driver(u"VIP1:", "VIP1:");
  EXPECT_EQ(camera_hide(), -1);
  EXPECT_TRUE(take_requests().empty());

  std::vector<BYTE> open(24, 0);
  open[16] = 400 & 0xFF, open[17] = 400 >> 8, open[18] = 350 & 0xFF, open[19] = 350 >> 8;
  const std::vector<BYTE> enable = {0, 0, 0, 0, 1, 0, 0, 0};
  const std::vector<BYTE> level = {63, 0, 0, 0};
  const std::vector<BYTE> start = {1, 0, 0, 0};

  CameraPicture picture = {0, 401, 65, 400, 350, 100, 45, 100, 35};
  ASSERT_EQ(camera_show(&picture), 0);
  {
    std::lock_guard<std::mutex> guard(requests_lock);
    EXPECT_EQ(opened, (std::vector<std::string>{"VIP1: rw", "SCA0: rw"}));
  }
  std::vector<Request> seen = take_requests();
  ASSERT_EQ(seen.size(), 5u);
  const DWORD codes[] = {0x1B0053, 0x1B001B, 0x80012078, 0x80012070, 0x80012068};
  for (size_t i = 0; i < 5; i++) {
    EXPECT_EQ(seen[i].device, "SCA0:");
    EXPECT_EQ(seen[i].code, codes[i]) << i;
  }
  EXPECT_EQ(seen[0].input, open);
  EXPECT_EQ(seen[1].input, window_request(100, 45, 520, 160, 240, 401, 65, 400, 350));
  EXPECT_EQ(seen[2].input, enable);
  EXPECT_EQ(seen[3].input, level);
  EXPECT_EQ(seen[4].input, start);

  ASSERT_EQ(camera_hide(), 0);
  seen = take_requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].code, 0x1B0057u);
  EXPECT_EQ(seen[0].input, std::vector<BYTE>(24, 0));

  /* Standard 1: a source of 720 x 288. Another program holds the picture, so
   * neither the open nor the close request is sent. */
  HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 40, u"kvycamera_semaphore");
  ReleaseSemaphore(semaphore, 1, nullptr);
  CameraPicture pal = {1, 0, 0, 800, 480, 0, 0, 0, 0};
  ASSERT_EQ(camera_show(&pal), 0);
  seen = take_requests();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].code, 0x1B001Bu);
  EXPECT_EQ(seen[0].input, window_request(0, 0, 720, 288, 288, 0, 0, 800, 480));
  ASSERT_EQ(camera_hide(), 0);
  EXPECT_TRUE(take_requests().empty());
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), (DWORD)WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(semaphore, 0), (DWORD)WAIT_TIMEOUT);
  CloseHandle(semaphore);
  /* The devices stay open for the life of the process. */
  std::lock_guard<std::mutex> guard(requests_lock);
  EXPECT_EQ(opened.size(), 2u);
}

}  // namespace
