/* Velmar.exe as a program of its own under Wine: started in a program folder
 * laid out like the device's (Velmar.res, config.ini, tts\Resource.dat), it
 * shows the desktop, read back from another program through its window's
 * device context; closing the window ends it with 0; without Velmar.res it
 * says "LoadSkin failed" and ends with 16. */
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui_language.h"
#include "vx_skin.h"

namespace {

const WCHAR kClass[] = L"APS";
const DWORD kStartMs = 20000;

std::wstring wide(const char* s) {
  std::wstring out;
  for (; *s; s++) out += (wchar_t)(*s == '/' ? '\\' : *s);
  return out;
}

const std::wstring exe_path = wide(VELMAR_EXE);
const std::wstring template_dir = wide(VELMAR_DEVICE_TEMPLATE) + L"\\residentflash2\\Velmar";

/* The desktop's items other than its background: buttons, indicators, texts. */
const int kDesktopItems[] = {201, 202, 203, 205, 206, 207, 208, 211, 212, 213,
                             214, 215, 216, 217, 218, 219, 220, 221};

struct Child {
  PROCESS_INFORMATION info = {};
  bool started = false;
  ~Child() {
    if (!started) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  DWORD wait_exit(DWORD ms) {
    if (WaitForSingleObject(info.hProcess, ms) != WAIT_OBJECT_0) return (DWORD)-2;
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    return code;
  }
};

/* A program folder in the temporary folder with Velmar.exe and the template's
 * files; `with_res` false leaves Velmar.res out. */
class ProgramFolder {
 public:
  explicit ProgramFolder(bool with_res) {
    WCHAR temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"velmar-exe-" + std::to_wstring(GetCurrentProcessId()) +
           (with_res ? L"-res" : L"-nores");
    CreateDirectoryW(dir_.c_str(), nullptr);
    CreateDirectoryW((dir_ + L"\\tts").c_str(), nullptr);
    copied_ = CopyFileW(exe_path.c_str(), exe().c_str(), FALSE) &&
              CopyFileW((template_dir + L"\\config.ini").c_str(), (dir_ + L"\\config.ini").c_str(), FALSE) &&
              CopyFileW((template_dir + L"\\tts\\Resource.dat").c_str(),
                        (dir_ + L"\\tts\\Resource.dat").c_str(), FALSE);
    if (with_res)
      copied_ = copied_ && CopyFileW(res().c_str(), (dir_ + L"\\Velmar.res").c_str(), FALSE);
  }
  ~ProgramFolder() {
    const WCHAR* files[] = {L"\\Velmar.exe", L"\\Velmar.res", L"\\config.ini", L"\\tts\\Resource.dat"};
    for (const WCHAR* f : files) DeleteFileW((dir_ + f).c_str());
    RemoveDirectoryW((dir_ + L"\\tts").c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  bool copied() const { return copied_; }
  std::wstring exe() const { return dir_ + L"\\Velmar.exe"; }
  static std::wstring res() { return template_dir + L"\\Velmar.res"; }

  bool start(Child* child) const {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring command = L"\"" + exe() + L"\"";
    std::vector<WCHAR> line(command.begin(), command.end());
    line.push_back(0);
    child->started = CreateProcessW(exe().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                    dir_.c_str(), &startup, &child->info) != 0;
    return child->started;
  }

 private:
  std::wstring dir_;
  bool copied_ = false;
};

/* The top-level window of the process with this class (null for any), or null. */
HWND window_of(DWORD process, const WCHAR* window_class) {
  struct Search {
    DWORD process;
    const WCHAR* window_class;
    HWND found;
  } search = {process, window_class, nullptr};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        Search* s = (Search*)param;
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        WCHAR name[64] = {0};
        GetClassNameW(window, name, 64);
        if (owner == s->process && (!s->window_class || lstrcmpW(name, s->window_class) == 0)) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      (LPARAM)&search);
  return search.found;
}

HWND wait_window(const Child& child, const WCHAR* window_class, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 50) {
    if (HWND window = window_of(child.info.dwProcessId, window_class)) return window;
    if (WaitForSingleObject(child.info.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

bool inside(const VxSkinItem* item, int x, int y) {
  return x >= item->x && x < item->x + item->width && y >= item->y && y < item->y + item->height;
}

struct Sample {
  int x, y;
  COLORREF colour;
};

/* Points of the desktop's background that no other desktop item covers, with
 * the background picture's colour there, read from the same Velmar.res. */
std::vector<Sample> background_samples() {
  std::vector<Sample> samples;
  VxSkin* skin = vx_skin_load(ProgramFolder::res().c_str(), get_mui_language(), 1);
  if (!skin) return samples;
  VxSkinItem* background = vx_skin_find(skin, 200);
  HBITMAP picture = background ? vx_skin_get_bitmap(skin, background, 0) : nullptr;
  BITMAP info = {};
  if (picture && GetObjectW(picture, sizeof info, &info) && info.bmWidth == background->width &&
      info.bmHeight == background->height) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, picture);
    for (int y = background->y + 3; y < background->y + background->height; y += 17) {
      for (int x = background->x + 5; x < background->x + background->width; x += 23) {
        bool covered = false;
        for (int id : kDesktopItems) {
          VxSkinItem* item = vx_skin_find(skin, id);
          covered = covered || (item && inside(item, x, y));
        }
        if (!covered) samples.push_back({x, y, GetPixel(dc, x - background->x, y - background->y)});
      }
    }
    SelectObject(dc, old);
    DeleteDC(dc);
  }
  if (picture) vx_skin_put_bitmap(skin, background);
  vx_skin_free(skin);
  return samples;
}

/* How many samples the window shows differently. */
size_t mismatches(HWND window, const std::vector<Sample>& samples, std::string* first) {
  HDC dc = GetDC(window);
  size_t wrong = 0;
  for (const Sample& s : samples) {
    COLORREF seen = GetPixel(dc, s.x, s.y);
    if (seen == s.colour) continue;
    if (wrong++ == 0 && first) {
      char text[96];
      wsprintfA(text, "(%d, %d): %06lx instead of %06lx", s.x, s.y, (unsigned long)seen,
                (unsigned long)s.colour);
      *first = text;
    }
  }
  ReleaseDC(window, dc);
  return wrong;
}

TEST(VelmarExe, ShowsTheDesktopAndEndsWithZeroWhenClosed) {
  std::vector<Sample> samples = background_samples();
  /* A picture with a flat or missing background would prove nothing. */
  ASSERT_GT(samples.size(), 100u) << "the desktop background of the template's Velmar.res";
  size_t distinct = 0;
  for (size_t i = 1; i < samples.size(); i++) distinct += samples[i].colour != samples[0].colour;
  ASSERT_GT(distinct, 0u);

  ProgramFolder folder(true);
  ASSERT_TRUE(folder.copied());
  Child child;
  ASSERT_TRUE(folder.start(&child));
  HWND window = wait_window(child, kClass, kStartMs);
  ASSERT_NE(window, nullptr) << "no window of class APS";
  RECT rect;
  ASSERT_TRUE(GetWindowRect(window, &rect));
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(rect.bottom, GetSystemMetrics(SM_CYSCREEN));

  /* The first page is painted before the message loop starts; give the
   * display a moment to show it. */
  std::string first;
  size_t wrong = samples.size();
  for (int tries = 0; tries < 100 && wrong; tries++) {
    Sleep(50);
    wrong = mismatches(window, samples, &first);
  }
  EXPECT_EQ(wrong, 0u) << "of " << samples.size() << " background points; first " << first;

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(child.wait_exit(kStartMs), 0u);
}

TEST(VelmarExe, WithoutTheResourceFileSaysLoadSkinFailedAndEndsWith16) {
  ProgramFolder folder(false);
  ASSERT_TRUE(folder.copied());
  Child child;
  ASSERT_TRUE(folder.start(&child));
  HWND box = wait_window(child, L"#32770", kStartMs);
  ASSERT_NE(box, nullptr) << "no message box";
  /* The box's text is one of its children, there once the box is set up. */
  bool said = false;
  for (int tries = 0; tries < 100 && !said; tries++) {
    for (HWND part = GetWindow(box, GW_CHILD); part; part = GetWindow(part, GW_HWNDNEXT)) {
      WCHAR text[64] = {0};
      GetWindowTextW(part, text, 64);
      said = said || lstrcmpW(text, L"LoadSkin failed") == 0;
    }
    if (!said) Sleep(50);
  }
  EXPECT_TRUE(said);
  /* The main window is still inside its creation handler, never shown. */
  HWND window = window_of(child.info.dwProcessId, kClass);
  EXPECT_FALSE(window && IsWindowVisible(window));
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(child.wait_exit(kStartMs), 16u);
}

}  // namespace
