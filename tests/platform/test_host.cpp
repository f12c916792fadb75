/* The host entry: options, the device root made from the template, the start
 * and exit events and the exit status; and the template the build makes. */
#include <gtest/gtest.h>
#include <windows.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "plat/host.h"

namespace fs = std::filesystem;

namespace {

/* What the program saw of its start. */
struct ProgramRun {
  int calls = 0;
  int code = 0; /* what wWinMain returns */
  HINSTANCE instance = nullptr;
  std::string root;
  double speed = 0;
  plat::HostOptions attached;
  int attach_calls = 0;
  int detached_code = 12345;
} run;

void attach(const plat::HostOptions& options) {
  run.attach_calls++;
  run.attached = options;
}

void detach(int code) { run.detached_code = code; }

const plat::HostProgram program = {"TestProgram", u"\\residentflash2\\Velmar\\Velmar.exe", attach, detach};

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_file(const fs::path& path, const std::string& text) {
  if (!path.parent_path().empty()) fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class HostMain : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/velmar-host-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    previous_dir_ = fs::current_path();
    fs::current_path(dir_);
    template_ = dir_ / "template";
    write_file(template_ / "residentflash2" / "Velmar" / "Velmar.exe", "marker");
    write_file(template_ / "sdmmc" / "Navi" / "Navi.exe", "marker");
    fs::create_directories(template_ / "temp");
    setenv("VELMAR_DEVICE_TEMPLATE", template_.c_str(), 1);
    const char* display = getenv("DISPLAY");
    display_ = display ? display : "";
    had_display_ = display != nullptr;
    unsetenv("DISPLAY");
    run = ProgramRun();
  }
  void TearDown() override {
    fs::current_path(previous_dir_);
    unsetenv("VELMAR_DEVICE_TEMPLATE");
    if (had_display_) setenv("DISPLAY", display_.c_str(), 1);
    plat::set_device_root("");
    plat::set_speed(1);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  /* Runs host_main with these arguments after the program name. */
  int host(std::vector<std::string> args) {
    args.insert(args.begin(), "TestProgram");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return plat::host_main((int)args.size(), argv.data(), program);
  }
  fs::path dir_, previous_dir_, template_;
  std::string display_;
  bool had_display_ = false;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR command_line, int show) {
  run.calls++;
  run.instance = instance;
  run.root = plat::device_root();
  run.speed = plat::speed();
  EXPECT_EQ(previous, nullptr);
  EXPECT_NE(command_line, nullptr);
  if (command_line) {
    EXPECT_EQ(command_line[0], 0) << "the programs get no arguments";
  }
  EXPECT_EQ(show, 1) << "SW_SHOWNORMAL";
  return run.code;
}

namespace {

TEST_F(HostMain, OptionsAreParsed) {
  struct Case {
    std::vector<std::string> args;
    plat::HostOptions expected;
  };
  plat::HostOptions defaults;
  defaults.headless = true; /* DISPLAY is unset */
  plat::HostOptions all = defaults;
  all.device_dir = "dev1";
  all.script = "scenario.txt";
  all.events = "events.log";
  all.screen_width = 1024;
  all.screen_height = 600;
  all.speed = 30;
  all.gps_tty = "/dev/ttyUSB0";
  all.audio_out = "audio";
  all.as_path = "\\sdmmc\\velinstall.exe";
  plat::HostOptions inline_values = defaults;
  inline_values.device_dir = "dev2";
  inline_values.speed = 2.5;
  inline_values.screen_width = 480;
  inline_values.screen_height = 272;
  inline_values.script = "-";
  const Case cases[] = {
      {{}, defaults},
      {{"--device", "dev1", "--script", "scenario.txt", "--events", "events.log", "--headless", "--screen",
        "1024x600", "--speed", "30", "--gps", "/dev/ttyUSB0", "--audio-out", "audio", "--as",
        "\\sdmmc\\velinstall.exe"},
       all},
      {{"--device=dev2", "--speed=2.5", "--screen=480x272", "--script", "-"}, inline_values},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    run = ProgramRun();
    testing::internal::CaptureStdout();
    EXPECT_EQ(host(c.args), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(run.calls, 1);
    const plat::HostOptions& o = plat::host_options();
    const plat::HostOptions& e = c.expected;
    EXPECT_EQ(o.device_dir, e.device_dir);
    EXPECT_EQ(o.script, e.script);
    EXPECT_EQ(o.events, e.events);
    EXPECT_EQ(o.headless, e.headless);
    EXPECT_EQ(o.screen_width, e.screen_width);
    EXPECT_EQ(o.screen_height, e.screen_height);
    EXPECT_EQ(o.speed, e.speed);
    EXPECT_EQ(o.gps_tty, e.gps_tty);
    EXPECT_EQ(o.audio_out, e.audio_out);
    EXPECT_EQ(o.as_path, e.as_path);
    EXPECT_EQ(run.attach_calls, 1);
    EXPECT_EQ(run.attached.device_dir, e.device_dir) << "attach gets the same options";
    EXPECT_EQ(run.speed, e.speed) << "device time runs at the speed asked for";
    EXPECT_EQ(run.root, (dir_ / e.device_dir).lexically_normal().string()) << "an absolute device root";
    EXPECT_EQ(run.instance, GetModuleHandleW(nullptr));
  }
}

TEST_F(HostMain, BadOptionsEndWithStatusTwo) {
  const std::vector<std::string> cases[] = {
      {"--bogus"},           {"positional"},       {"--speed"},          {"--speed", "0"},
      {"--speed", "-1"},     {"--speed", "fast"},  {"--speed", "nan"},   {"--screen", "800"},
      {"--screen", "0x480"}, {"--screen", "800x480x"}, {"--screen", "800X480"}, {"--device="},
      {"--events"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    testing::internal::CaptureStderr();
    EXPECT_EQ(host(args), 2);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("--device DIR"), std::string::npos) << "the usage follows the message: " << err;
  }
  EXPECT_EQ(run.calls, 0);
  EXPECT_FALSE(fs::exists("device-run")) << "nothing was prepared";
}

TEST_F(HostMain, HelpPrintsUsageOnly) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(host({"--help"}), 0);
  std::string out = testing::internal::GetCapturedStdout();
  for (const char* option : {"--device", "--script", "--events", "--headless", "--screen", "--speed", "--gps",
                             "--audio-out", "--as"})
    EXPECT_NE(out.find(option), std::string::npos) << option;
  EXPECT_EQ(run.calls, 0);
}

TEST_F(HostMain, HeadlessByDefaultOnlyWithoutDisplay) {
  setenv("DISPLAY", ":0", 1);
  EXPECT_EQ(host({}), 0);
  EXPECT_FALSE(plat::host_options().headless);
  EXPECT_EQ(host({"--headless"}), 0);
  EXPECT_TRUE(plat::host_options().headless);
  unsetenv("DISPLAY");
  EXPECT_EQ(host({}), 0);
  EXPECT_TRUE(plat::host_options().headless);
}

TEST_F(HostMain, MissingOrEmptyDeviceRootIsMadeFromTheTemplate) {
  fs::create_directories("empty");
  for (const char* dir : {"missing/root", "empty"}) {
    SCOPED_TRACE(dir);
    EXPECT_EQ(host({"--device", dir}), 0);
    EXPECT_EQ(read_file(fs::path(dir) / "residentflash2" / "Velmar" / "Velmar.exe"), "marker");
    EXPECT_TRUE(fs::exists(fs::path(dir) / "sdmmc" / "Navi" / "Navi.exe"));
    EXPECT_TRUE(fs::is_directory(fs::path(dir) / "temp"));
  }
}

TEST_F(HostMain, UsedDeviceRootIsLeftAsItIs) {
  write_file("used/residentflash2/Velmar/Velmar.exe", "changed by an earlier run");
  EXPECT_EQ(host({"--device", "used"}), 0);
  EXPECT_EQ(read_file("used/residentflash2/Velmar/Velmar.exe"), "changed by an earlier run");
  EXPECT_FALSE(fs::exists("used/sdmmc")) << "nothing of the template is added";
}

TEST_F(HostMain, DeviceRootThatIsAFileIsRefused) {
  write_file("plain-file", "x");
  testing::internal::CaptureStderr();
  EXPECT_NE(host({"--device", "plain-file"}), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("plain-file"), std::string::npos);
  EXPECT_EQ(run.calls, 0);
}

TEST_F(HostMain, StartAndExitEventsAndExitStatus) {
  struct Case {
    int code;
    int status;
  } cases[] = {{0, 0}, {16, 16}, {-1, 255}, {3, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    run.code = c.code;
    EXPECT_EQ(host({"--events", "events.log", "--screen", "640x480"}), c.status);
    EXPECT_EQ(run.detached_code, c.code);
    std::string log = read_file("events.log");
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u) << log;
    EXPECT_NE(lines[0].find(",\"ev\":\"start\",\"program\":\"TestProgram\",\"screen\":\"640x480\"}"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find(",\"ev\":\"exit\",\"code\":" + std::to_string(c.code) + "}"), std::string::npos)
        << lines[1];
  }
}

TEST_F(HostMain, EventsGoToStandardOutputWithAScriptOnly) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(host({"--script", "scenario.txt"}), 0);
  std::string with_script = testing::internal::GetCapturedStdout();
  EXPECT_NE(with_script.find("\"ev\":\"start\""), std::string::npos) << with_script;
  EXPECT_NE(with_script.find("\"ev\":\"exit\""), std::string::npos) << with_script;

  testing::internal::CaptureStdout();
  EXPECT_EQ(host({}), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "no log without a script or --events";
}

/* ---- The template the build makes ---- */

const fs::path built_template = fs::path(VELMAR_BINARY_DIR) / "device-template";

uint32_t le32(const std::string& s, size_t at) {
  return (uint32_t)(unsigned char)s[at] | (uint32_t)(unsigned char)s[at + 1] << 8 |
         (uint32_t)(unsigned char)s[at + 2] << 16 | (uint32_t)(unsigned char)s[at + 3] << 24;
}
uint16_t le16(const std::string& s, size_t at) {
  return (uint16_t)((unsigned char)s[at] | (unsigned char)s[at + 1] << 8);
}

TEST(DeviceTemplate, HoldsTheProgramsOfTheDevice) {
  ASSERT_TRUE(fs::is_directory(built_template)) << built_template << " (the device_template target)";
  const char* const files[] = {
      "residentflash2/Velmar/Velmar.exe", "residentflash2/Velmar/config.ini",
      "residentflash2/Velmar/tts/Resource.dat", "residentflash2/Bluetooth.exe",
      "residentflash2/fm.exe", "residentflash2/Alarm.exe", "residentflash2/localring.wav",
      "residentflash2/vmgprs/app/camera_dvr.exe", "residentflash2/Player/Player.exe",
      "residentflash2/Bubbles/bubbles.exe", "sdmmc/Navi/Navi.exe", "windows/explorer.exe",
  };
  for (const char* f : files) EXPECT_TRUE(fs::is_regular_file(built_template / f)) << f;
  EXPECT_TRUE(fs::is_directory(built_template / "temp"));
  EXPECT_FALSE(fs::exists(built_template / "sdmmc" / "debug.lev"));
}

TEST(DeviceTemplate, ConfigIniIsUtf16WithItsMarkAndCrLf) {
  std::string bytes = read_file(built_template / "residentflash2" / "Velmar" / "config.ini");
  ASSERT_GE(bytes.size(), 4u);
  ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  ASSERT_EQ(bytes.size() % 2, 0u);
  std::u16string units;
  for (size_t i = 2; i < bytes.size(); i += 2) units += (char16_t)le16(bytes, i);
  std::string text = plat::utf16_to_utf8(units);
  EXPECT_EQ(text.compare(0, 10, "[CONFIG]\r\n"), 0) << text;

  std::vector<std::string> keys;
  std::istringstream in(text);
  std::string id;
  for (std::string line; std::getline(in, line);) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r') << "line ends are \\r\\n: " << line;
    line.pop_back();
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    keys.push_back(line.substr(0, eq));
    std::string value = line.substr(eq + 1);
    if (keys.back() == "ID") id = value;
    if (keys.back() == "NAVI1") {
      EXPECT_EQ(value, "\\sdmmc\\Navi\\Navi.exe");
    }
    if (keys.back() == "CENTER_NAME") {
      EXPECT_EQ(value, "导航服务中心");
    }
  }
  for (const char* key : {"NAVI1", "CENTER_NUMBER", "CENTER_NAME", "CENTER_DETAIL", "RECALL_NUMBER",
                          "RECALL_NAME", "RECALL_DETAIL", "GZDTMF_NUMBER", "ID", "ALARM"})
    EXPECT_NE(std::find(keys.begin(), keys.end(), key), keys.end()) << key;
  EXPECT_FALSE(id.empty());
  EXPECT_LE(id.size(), 7u) << "the device id has at most 7 characters";
}

TEST(DeviceTemplate, RingToneIsAValidWav) {
  std::string wav = read_file(built_template / "residentflash2" / "localring.wav");
  ASSERT_GE(wav.size(), 44u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(le32(wav, 4), wav.size() - 8);
  EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(le32(wav, 16), 16u);
  EXPECT_EQ(le16(wav, 20), 1) << "PCM";
  uint16_t channels = le16(wav, 22), bits = le16(wav, 34);
  uint32_t rate = le32(wav, 24);
  EXPECT_EQ(le32(wav, 28), rate * channels * bits / 8);
  EXPECT_EQ(le16(wav, 32), channels * bits / 8);
  EXPECT_EQ(wav.substr(36, 4), "data");
  EXPECT_EQ(le32(wav, 40), wav.size() - 44);
  double seconds = (double)(wav.size() - 44) / (rate * channels * bits / 8);
  EXPECT_GT(seconds, 0.5);
  EXPECT_LT(seconds, 5.0) << "a short tone";
  int peak = 0;
  for (size_t i = 44; i + 1 < wav.size(); i += 2) peak = std::max(peak, std::abs((int)(int16_t)le16(wav, i)));
  EXPECT_GT(peak, 3000) << "audible";
}

TEST_F(HostMain, FindsTheBuiltTemplateBesideTheProgram) {
  unsetenv("VELMAR_DEVICE_TEMPLATE");
  EXPECT_EQ(host({"--device", "fresh"}), 0);
  EXPECT_TRUE(fs::is_regular_file("fresh/residentflash2/Velmar/config.ini"))
      << "<exe dir>/../device-template is the build's template";
}

}  // namespace
