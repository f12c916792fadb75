/* The Windows CE and desktop sides of vx_wince: the host build takes the
 * device's side, the Windows build the desktop's. */
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "vx_wince.h"

namespace {

typedef std::basic_string<WCHAR> WString;

#if defined(_WIN32) && !defined(_WIN32_WCE)
const bool desktop = true;
#else
const bool desktop = false;
#endif

TEST(VxWince, SideOfTheBuild) { EXPECT_EQ(desktop ? 1 : 0, vx_wince_is_desktop()); }

TEST(VxWince, SerialPathInTheSystemsNamespace) {
  WCHAR out[32];
  ASSERT_EQ(0, vx_wince_serial_path(TEXT("COM13"), out, 32));
  EXPECT_TRUE(WString(out) == (desktop ? TEXT("\\\\.\\COM13") : TEXT("\\$device\\COM13")));
  const int needed = desktop ? 10 : 15; /* prefix, name, terminator */
  EXPECT_EQ(0, vx_wince_serial_path(TEXT("COM13"), out, needed));
  out[0] = 'x';
  EXPECT_EQ(-1, vx_wince_serial_path(TEXT("COM13"), out, needed - 1));
  EXPECT_EQ(0, out[0]) << "left empty when it does not fit";
  EXPECT_EQ(-1, vx_wince_serial_path(nullptr, out, 32));
  EXPECT_EQ(-1, vx_wince_serial_path(TEXT("COM13"), nullptr, 32));
}

TEST(VxWince, FontCharacterSet) {
  struct Case {
    const WCHAR* face;
    BYTE device, desktop_side;
  } cases[] = {
      {TEXT("宋体"), DEFAULT_CHARSET, DEFAULT_CHARSET},
      {TEXT("默认"), ANSI_CHARSET, DEFAULT_CHARSET},
      {TEXT(""), ANSI_CHARSET, DEFAULT_CHARSET},
      {nullptr, ANSI_CHARSET, DEFAULT_CHARSET},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(desktop ? c.desktop_side : c.device, vx_wince_font_charset(c.face));
  }
}

}  // namespace
