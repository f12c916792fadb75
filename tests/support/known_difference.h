/* Known differences, marked where a conformance test checks them.
 *
 * The conformance tests state Win32 behaviour and run in both builds: on the
 * host against platform/, and in the Windows build against the real API
 * under Wine. Where one of them differs on purpose, or cannot help it, the
 * test says so with one of these marks, giving the reason and what the
 * differing side does instead. A mark checks both sides: the differing side
 * must still differ (so a difference that goes away fails, and its mark is
 * removed: the list only shrinks), and the other side must behave as Win32.
 *
 *   KNOWN_HOST_DIFFERENCE(reason, condition)     condition holds on the host only
 *   KNOWN_HOST_DIFFERENCE_EQ(reason, actual, host_value, win32_value)
 *   KNOWN_WINE_DIFFERENCE(reason, condition)     condition holds under Wine only
 *   KNOWN_WINE_DIFFERENCE_EQ(reason, actual, wine_value, win32_value)
 *   KNOWN_WINE_AS_ROOT_DIFFERENCE(reason, condition)  under Wine run as root only
 *
 * The _EQ forms expect `actual` to be the differing side's value there and the
 * Win32 value elsewhere; the two values must differ. */
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

namespace known_difference {

/* The host build: platform/ in place of Win32. */
constexpr bool on_host() {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}

/* The Windows build run under Wine (rather than on Windows). */
inline bool on_wine() {
#ifdef _WIN32
  static const bool wine =
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != NULL;
  return wine;
#else
  return false;
#endif
}

/* Under Wine run by the Unix superuser, which ignores read-only file modes
 * (the test environment says so: VELMAR_WINE_AS_ROOT=1). */
inline bool on_wine_as_root() {
#ifdef _WIN32
  static const bool root = [] {
    WCHAR value[4] = {0};
    return on_wine() && GetEnvironmentVariableW(L"VELMAR_WINE_AS_ROOT", value, 4) == 1 &&
           value[0] == L'1';
  }();
  return root;
#else
  return false;
#endif
}

}  // namespace known_difference

#define KNOWN_DIFFERENCE_CHECK_(differing, who, reason, condition)                                 \
  EXPECT_EQ((differing), static_cast<bool>(condition))                                            \
      << ((differing) ? "known difference of " who " no longer differs (remove its mark): "      \
                      : "known difference of " who " seen outside it: ")                          \
      << (reason) << " [" #condition "]"

#define KNOWN_DIFFERENCE_EQ_(differing, who, reason, actual, their_value, win32_value)           \
  do {                                                                                            \
    EXPECT_NE((their_value), (win32_value)) << "a known difference must differ: " << (reason);   \
    if (differing) {                                                                              \
      EXPECT_EQ((actual), (their_value)) << "known difference of " who ": " << (reason);         \
    } else {                                                                                      \
      EXPECT_EQ((actual), (win32_value)) << "Win32 (" who " differs here: " << (reason) << ")"; \
    }                                                                                             \
  } while (0)

#define KNOWN_HOST_DIFFERENCE(reason, condition) \
  KNOWN_DIFFERENCE_CHECK_(::known_difference::on_host(), "the host", reason, condition)
#define KNOWN_HOST_DIFFERENCE_EQ(reason, actual, host_value, win32_value)                       \
  KNOWN_DIFFERENCE_EQ_(::known_difference::on_host(), "the host", reason, actual, host_value, \
                       win32_value)
#define KNOWN_WINE_DIFFERENCE(reason, condition) \
  KNOWN_DIFFERENCE_CHECK_(::known_difference::on_wine(), "Wine", reason, condition)
#define KNOWN_WINE_DIFFERENCE_EQ(reason, actual, wine_value, win32_value) \
  KNOWN_DIFFERENCE_EQ_(::known_difference::on_wine(), "Wine", reason, actual, wine_value, win32_value)
#define KNOWN_WINE_AS_ROOT_DIFFERENCE(reason, condition) \
  KNOWN_DIFFERENCE_CHECK_(::known_difference::on_wine_as_root(), "Wine run as root", reason, condition)
