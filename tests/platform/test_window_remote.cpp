/* Windows of another host process on the same device root: found by class
 * and title, shown, moved, raised, made the foreground window, posted and sent
 * to (WM_COPYDATA with its block), a send that the receiver answers by
 * sending back to the waiting thread, and a process that dies leaving no
 * window. The other process is this test program run again. */
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "plat/host.h"
#include "spawn_self.h"

namespace {

const WCHAR kChildClass[] = TEXT("RemoteProgram");
const WCHAR kParentClass[] = TEXT("RemoteParent");
const UINT kPosted = WM_USER + 1, kAsk = WM_USER + 2, kAnswerBack = WM_USER + 3;

/* ---- The other process ---- */

bool child_ready = false;

LRESULT CALLBACK child_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  switch (m) {
    case WM_COPYDATA: {
      const auto* data = (const COPYDATASTRUCT*)lp;
      std::string text(data && data->lpData ? (const char*)data->lpData : "");
      spawn_self::reply("copydata " + std::to_string(wp) + " " + std::to_string(data->dwData) + " " +
                        text);
      return (LRESULT)data->cbData + 1;
    }
    case kPosted:
      spawn_self::reply("posted " + std::to_string(wp));
      return 0;
    case kAsk: {
      /* Sends back to the process that waits for this answer. */
      HWND parent = FindWindowW(kParentClass, nullptr);
      return SendMessageW(parent, kAnswerBack, wp, 0) + 1;
    }
    case WM_ACTIVATE:
      if (child_ready) spawn_self::reply("activate " + std::to_string(LOWORD(wp)));
      return 0;
    case WM_MOVE:
      if (child_ready) spawn_self::reply("move " + std::to_string((short)LOWORD(lp)) + "," +
                        std::to_string((short)HIWORD(lp)));
      return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

int child_main(const std::string& mode, const std::string& root) {
  if (mode != "program") return 2;
  plat::set_device_root(root);
  WNDCLASSW wc = {};
  wc.lpfnWndProc = child_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kChildClass;
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(0, kChildClass, TEXT("Remote Program"), WS_POPUP | WS_VISIBLE, 0, 0, 200,
                           100, nullptr, nullptr, wc.hInstance, nullptr);
  /* Ends with the parent, whatever the loop is doing. */
  std::thread([] {
    spawn_self::wait_for_parent();
    _exit(0);
  }).detach();
  child_ready = true;
  spawn_self::reply(w ? "ready" : "no window");
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

::testing::Environment* const child_environment =
    ::testing::AddGlobalTestEnvironment(new spawn_self::ChildEnvironment(child_main));

/* ---- This process ---- */

int parent_activations = 0, parent_deactivations = 0;

LRESULT CALLBACK parent_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == kAnswerBack) return (LRESULT)wp * 2;
  if (m == WM_ACTIVATE) (LOWORD(wp) == WA_INACTIVE ? parent_deactivations : parent_activations)++;
  return DefWindowProcW(w, m, wp, lp);
}

class RemoteWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/velmar-windows-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    plat::set_device_root(root_);
  }
  void TearDown() override {
    std::string command = "rm -rf '" + root_ + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }
  std::string root_;
};

TEST_F(RemoteWindows, CallsReachTheWindowsOfAnotherProcess) {
  spawn_self::Child child = spawn_self::start("program", root_);
  ASSERT_EQ("ready", spawn_self::read_reply(child));

  /* Found by class and title, without regard to case. */
  HWND remote = FindWindowW(TEXT("remoteprogram"), TEXT("REMOTE PROGRAM"));
  ASSERT_NE(nullptr, remote);
  EXPECT_EQ(remote, FindWindowW(nullptr, TEXT("Remote Program")));
  EXPECT_EQ(nullptr, FindWindowW(TEXT("OtherClass"), TEXT("Remote Program")));
  EXPECT_TRUE(IsWindow(remote));
  WCHAR title[32];
  EXPECT_EQ(14, GetWindowTextW(remote, title, 32));
  EXPECT_EQ(std::u16string(u"Remote Program"), std::u16string(title));

  /* ShowWindow answers the previous visibility. */
  EXPECT_TRUE(IsWindowVisible(remote));
  EXPECT_TRUE(ShowWindow(remote, SW_HIDE));
  EXPECT_EQ("activate 0", spawn_self::read_reply(child)) << "hidden, it lost the activation";
  EXPECT_FALSE(IsWindowVisible(remote));
  EXPECT_FALSE(ShowWindow(remote, SW_SHOWNA));
  EXPECT_TRUE(IsWindowVisible(remote));

  EXPECT_TRUE(SetWindowPos(remote, HWND_TOP, 10, 20, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE));
  EXPECT_EQ("move 10,20", spawn_self::read_reply(child));

  /* The foreground is the device's: one window of all processes has it. */
  WNDCLASSW wc = {};
  wc.lpfnWndProc = parent_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kParentClass;
  RegisterClassW(&wc);
  HWND mine = CreateWindowExW(0, kParentClass, TEXT("Parent"), WS_POPUP | WS_VISIBLE, 0, 0, 10, 10,
                              nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(nullptr, mine);
  EXPECT_EQ(mine, GetForegroundWindow());
  EXPECT_TRUE(SetForegroundWindow(remote));
  EXPECT_EQ("activate 1", spawn_self::read_reply(child));
  EXPECT_EQ(remote, GetForegroundWindow());
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  EXPECT_EQ(1, parent_deactivations) << "this process's window lost the activation";
  EXPECT_TRUE(SetForegroundWindow(mine));
  EXPECT_EQ("activate 0", spawn_self::read_reply(child));
  EXPECT_EQ(mine, GetForegroundWindow());

  /* Posted, and sent: WM_COPYDATA carries its block to the other process. */
  EXPECT_TRUE(PostMessageW(remote, kPosted, 7, 0));
  EXPECT_EQ("posted 7", spawn_self::read_reply(child));
  char text[] = "hello";
  COPYDATASTRUCT data = {5, sizeof text, text};
  EXPECT_EQ(7, SendMessageW(remote, WM_COPYDATA, 256, (LPARAM)&data));
  EXPECT_EQ("copydata 256 5 hello", spawn_self::read_reply(child));
  /* The receiver sends back to this thread while it waits: handled meanwhile. */
  EXPECT_EQ(41, SendMessageW(remote, kAsk, 20, 0));

  /* A process that dies leaves no window behind. */
  EXPECT_EQ(128 + SIGKILL, spawn_self::finish(child, SIGKILL));
  EXPECT_EQ(nullptr, FindWindowW(kChildClass, nullptr));
  EXPECT_FALSE(IsWindow(remote));
  SetLastError(0);
  EXPECT_FALSE(PostMessageW(remote, kPosted, 8, 0));
  EXPECT_EQ((DWORD)ERROR_INVALID_WINDOW_HANDLE, GetLastError());
  EXPECT_EQ(0, SendMessageW(remote, WM_COPYDATA, 256, (LPARAM)&data));
  DestroyWindow(mine);
}

}  // namespace
