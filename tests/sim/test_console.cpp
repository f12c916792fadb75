/* The console: parsing of every command, expectations over the event lines in
 * device time, and whole scripts run against a real window of the window
 * manager (pen and key input, quit, a failed expectation, commands not
 * available yet). */
#include <windows.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "console.h"
#include "device_commands.h"
#include "event_lines.h"
#include "plat/host.h"

namespace {

using sim::CommandKind;
using sim::ParseResult;

TEST(ParseCommand, Lines) {
  const struct {
    const char* line;
    ParseResult result;
    CommandKind kind;
    int x, y;
    long long value;
    uint64_t within;
    const char* text;
  } cases[] = {
      {"tap 10 20", ParseResult::command, CommandKind::tap, 10, 20, 0, 2000, ""},
      {"  down 0 65535\r", ParseResult::command, CommandKind::down, 0, 65535, 0, 2000, ""},
      {"move 1 2", ParseResult::command, CommandKind::move, 1, 2, 0, 2000, ""},
      {"up\t3   4", ParseResult::command, CommandKind::up, 3, 4, 0, 2000, ""},
      {"key 18", ParseResult::command, CommandKind::key, 0, 0, 18, 2000, ""},
      {"key 0x1B", ParseResult::command, CommandKind::key, 0, 0, 27, 2000, ""},
      {"wait 250", ParseResult::command, CommandKind::wait, 0, 0, 250, 2000, ""},
      {"wait 0", ParseResult::command, CommandKind::wait, 0, 0, 0, 2000, ""},
      {"screenshot shots/a b.png", ParseResult::command, CommandKind::screenshot, 0, 0, 0, 2000, "shots/a b.png"},
      {"expect \"ev\":\"page\"", ParseResult::command, CommandKind::expect, 0, 0, 0, 2000, "\"ev\":\"page\""},
      {"expect a  b within 500", ParseResult::command, CommandKind::expect, 0, 0, 0, 500, "a  b"},
      {"expect within", ParseResult::command, CommandKind::expect, 0, 0, 0, 2000, "within"},
      {"expect-page 3", ParseResult::command, CommandKind::expect_page, 0, 0, 3, 2000, ""},
      {"expect-page 11 within 100", ParseResult::command, CommandKind::expect_page, 0, 0, 11, 100, ""},
      {"quit", ParseResult::command, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"help", ParseResult::command, CommandKind::help, 0, 0, 0, 2000, ""},
      {"help me", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"echo  tour: done ", ParseResult::command, CommandKind::echo, 0, 0, 0, 2000, "tour: done"},
      {"phone start", ParseResult::command, CommandKind::unavailable, 0, 0, 0, 2000, "phone"},
      {"expect-file \\temp\\x.txt", ParseResult::command, CommandKind::unavailable, 0, 0, 0, 2000, "expect-file"},
      {"registry HKLM\\x v DWORD 1", ParseResult::command, CommandKind::unavailable, 0, 0, 0, 2000, "registry"},
      {"", ParseResult::empty, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"   \r", ParseResult::empty, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"# tap 1 2", ParseResult::empty, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"  # indented comment", ParseResult::empty, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"tap 10", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"tap 1 2 3", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"tap -1 5", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"tap 65536 5", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"tap a b", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"key 0", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"key 256", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"key 0x", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"wait", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"wait 1.5", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"wait 99999999999999999999", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"screenshot", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"expect", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"expect x within soon", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"expect within 5", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"expect-page", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"expect-page one", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"quit now", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
      {"tapp 1 2", ParseResult::error, CommandKind::quit, 0, 0, 0, 2000, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    sim::Command command;
    std::string error;
    ASSERT_EQ(sim::parse_command(c.line, &command, &error), c.result);
    if (c.result == ParseResult::error) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    if (c.result != ParseResult::command) continue;
    EXPECT_EQ(command.kind, c.kind);
    EXPECT_EQ(command.x, c.x);
    EXPECT_EQ(command.y, c.y);
    EXPECT_EQ(command.value, c.value);
    EXPECT_EQ(command.within_ms, c.within);
    EXPECT_EQ(command.text, c.text);
  }
}

bool probe_command(const std::string& args, std::string* error) {
  if (args == "bad") *error = "bad probe";
  return args != "bad";
}

TEST(ParseCommand, RegisteredDeviceCommand) {
  sim::Command command;
  std::string error;
  EXPECT_EQ(sim::parse_command("probe a", &command, &error), ParseResult::error);
  sim::register_device_command({"probe", "probe ARGS", probe_command});
  ASSERT_EQ(sim::parse_command("  probe  incoming 123 \r", &command, &error), ParseResult::command);
  EXPECT_EQ(command.kind, CommandKind::device);
  EXPECT_EQ(command.text, "probe");
  EXPECT_EQ(command.args, "incoming 123");
  /* A command of the device list stays unavailable until a stand-in registers it. */
  ASSERT_EQ(sim::parse_command("camera show", &command, &error), ParseResult::command);
  EXPECT_EQ(command.kind, CommandKind::unavailable);
}

TEST(PageEventId, Lines) {
  const struct {
    const char* line;
    int id;
  } cases[] = {
      {"{\"t\":5,\"ev\":\"page\",\"id\":3}", 3},
      {"{\"t\":5,\"ev\":\"page\",\"id\":11,\"more\":1}", 11},
      {"{\"t\":5,\"ev\":\"window\",\"id\":3}", -1},
      {"{\"t\":5,\"ev\":\"page\",\"id\":-1}", -1},
      {"{\"t\":5,\"ev\":\"page\",\"id\":3x}", -1},
      {"{\"t\":5,\"ev\":\"tts\",\"text\":\"\\\"ev\\\":\\\"page\\\",\\\"id\\\":4\"}", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(sim::page_event_id(c.line), c.id) << c.line;
}

class EventLinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::event_lines_reset();
    plat::set_speed(10.0);
  }
  void TearDown() override {
    plat::set_speed(1.0);
    sim::event_lines_reset();
  }
};

TEST_F(EventLinesTest, ExpectSeesEarlierAndLaterLinesAndTellsWhatItSawOnFailure) {
  std::string seen;
  EXPECT_FALSE(sim::event_lines_expect("x", 50, &seen));
  EXPECT_EQ(seen, "no event lines");

  sim::event_lines_add("{\"t\":1,\"ev\":\"start\"}");
  EXPECT_TRUE(sim::event_lines_expect("\"start\"", 0, &seen));

  std::thread later([] {
    plat::sleep_device_ms(100);
    sim::event_lines_add("{\"t\":2,\"ev\":\"launch\"}");
  });
  EXPECT_TRUE(sim::event_lines_expect("launch", 60000, &seen));
  later.join();

  EXPECT_FALSE(sim::event_lines_expect("messagebox", 50, &seen));
  EXPECT_NE(seen.find("2 event lines"), std::string::npos) << seen;
  EXPECT_NE(seen.find("{\"t\":2,\"ev\":\"launch\"}"), std::string::npos) << seen;
}

TEST_F(EventLinesTest, ExpectPageFollowsTheLastPageEvent) {
  std::string seen;
  EXPECT_FALSE(sim::event_lines_expect_page(0, 20, &seen));
  EXPECT_EQ(seen, "no page event");
  sim::event_lines_add("{\"t\":1,\"ev\":\"page\",\"id\":0}");
  sim::event_lines_add("{\"t\":2,\"ev\":\"page\",\"id\":3}");
  EXPECT_TRUE(sim::event_lines_expect_page(3, 0, &seen));
  EXPECT_FALSE(sim::event_lines_expect_page(0, 20, &seen));
  EXPECT_EQ(seen, "the current page is 3");
}

TEST_F(EventLinesTest, WaitsEndWhenTheProgramEnds) {
  std::thread ender([] {
    plat::sleep_device_ms(50);
    sim::event_lines_end();
  });
  /* Ten hours of device time: only the program's end lets these return. */
  sim::event_lines_wait(36000000);
  EXPECT_FALSE(sim::event_lines_expect("never", 36000000, nullptr));
  ender.join();
}

/* ---- Whole scripts against a window of this thread ---- */

std::vector<std::string> received;

LRESULT CALLBACK target_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      received.push_back(std::string(message == WM_LBUTTONDOWN ? "down " : "up ") +
                         std::to_string(LOWORD(lparam)) + "," + std::to_string(HIWORD(lparam)));
      return 0;
    case WM_MOUSEMOVE:
      received.push_back("move " + std::to_string(LOWORD(lparam)) + "," +
                         std::to_string(HIWORD(lparam)));
      return 0;
    case WM_KEYDOWN:
      received.push_back("key " + std::to_string(wparam));
      return 0;
    case WM_CLOSE:
      received.push_back("close");
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    received.clear();
    sim::event_lines_reset();
    sim::event_lines_attach();
    WNDCLASSW c = {};
    c.lpfnWndProc = target_proc;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = TEXT("ConsoleTarget");
    ASSERT_NE(RegisterClassW(&c), 0);
  }
  void TearDown() override { UnregisterClassW(TEXT("ConsoleTarget"), GetModuleHandleW(nullptr)); }

  /* A pipe holding `script`, read as standard input would be. */
  static int input_of(const std::string& script) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], script.data(), script.size()), (ssize_t)script.size());
    close(fds[1]);
    return fds[0];
  }
  /* The console reading `script`, then each of `then` in turn. */
  void start(const std::string& script, const std::vector<std::string>& then = {}) {
    sim::ConsoleSetup setup;
    setup.fd = input_of(script);
    for (const std::string& more : then) setup.then_fds.push_back(input_of(more));
    setup.window_class = TEXT("ConsoleTarget");
    setup.window_title = TEXT("target");
    testing::internal::CaptureStderr();
    sim::console_start(setup);
  }
  /* Runs the window until it is closed; the console's status and its messages. */
  int run_window(std::string* errors) {
    HWND window = CreateWindowExW(0, TEXT("ConsoleTarget"), TEXT("target"), WS_POPUP | WS_VISIBLE,
                                  0, 0, 800, 480, nullptr, nullptr, GetModuleHandleW(nullptr),
                                  nullptr);
    EXPECT_NE(window, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    int status = sim::console_finish();
    *errors = testing::internal::GetCapturedStderr();
    return status;
  }
};

TEST_F(ScriptTest, InputReachesTheWindowAndQuitClosesIt) {
  plat::Event("marker");
  start(
      "# a script\n"
      "tap 100 200\n"
      "down 5 6\r\n"
      "move 7 8\n"
      "up 9 10\n"
      "key 0x12\n"
      "phone incoming 123\n"
      "frobnicate\n"
      "expect \"ev\":\"marker\"\n"
      "quit\n"
      "tap 1 1\n");
  std::string errors;
  EXPECT_EQ(run_window(&errors), -1);
  EXPECT_EQ(received, (std::vector<std::string>{"down 100,200", "up 100,200", "down 5,6",
                                                "move 7,8", "up 9,10", "key 18", "close"}));
  EXPECT_NE(errors.find("console: line 7: phone is not available yet"), std::string::npos) << errors;
  EXPECT_NE(errors.find("console: line 8: unknown command: frobnicate"), std::string::npos) << errors;
  EXPECT_EQ(errors.find("line 9"), std::string::npos) << errors;
}

TEST_F(ScriptTest, InputsAreReadInTurnEachWithItsOwnLineNumbers) {
  /* The first input's last line has no line end; the second says so, asks
   * for help and has a bad line; the third quits, and nothing after it runs. */
  start("tap 1 2", {"echo first done\nhelp\ntap x\n", "quit\n", "tap 3 3\n"});
  std::string errors;
  EXPECT_EQ(run_window(&errors), -1);
  EXPECT_EQ(received, (std::vector<std::string>{"down 1,2", "up 1,2", "close"}));
  EXPECT_NE(errors.find("first done\n"), std::string::npos) << errors;
  EXPECT_NE(errors.find(sim::help_text()), std::string::npos) << errors;
  EXPECT_NE(errors.find("console: line 3: usage: tap X Y"), std::string::npos) << errors;
  for (const char* command : {"tap X Y", "screenshot FILE", "expect-page N", "help", "quit"})
    EXPECT_NE(sim::help_text().find(command), std::string::npos) << command;
}

TEST_F(ScriptTest, EndOfInputQuits) {
  start("tap 1 2");  /* no line end */
  std::string errors;
  EXPECT_EQ(run_window(&errors), -1);
  EXPECT_EQ(received, (std::vector<std::string>{"down 1,2", "up 1,2", "close"}));
  EXPECT_EQ(errors, "");
}

TEST_F(ScriptTest, FailedExpectationStopsTheScriptAndClosesTheProgram) {
  start("expect never-seen within 50\ntap 1 1\n");
  std::string errors;
  EXPECT_EQ(run_window(&errors), sim::expect_failed_status);
  EXPECT_EQ(received, std::vector<std::string>{"close"});
  EXPECT_NE(errors.find("console: line 1: expect failed: expected an event line containing "
                        "never-seen within 50 ms; saw "),
            std::string::npos)
      << errors;
}

TEST_F(ScriptTest, AfterTheProgramEndedExpectationsAnswerAtOnce) {
  /* The window never comes: the program ends while the console waits. */
  start("expect \"ev\":\"marker2\" within 36000000\ntap 4 4\nkey 13\n");
  std::thread ender([] {
    plat::sleep_device_ms(50);
    plat::Event("marker2");
  });
  ender.join();
  EXPECT_EQ(sim::console_finish(), -1);
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(errors,
            "console: line 2: the program has ended; pen or key input ignored\n"
            "console: line 3: the program has ended; pen or key input ignored\n");

  start("expect never within 36000000\ntap 3 3\n");
  EXPECT_EQ(sim::console_finish(), sim::expect_failed_status);
  errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("expect failed"), std::string::npos) << errors;
}

}  // namespace
