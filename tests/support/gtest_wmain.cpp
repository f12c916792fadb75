/* The entry of the test programs in the Windows build: every program there is
 * linked -municode, so the C library calls wmain. */
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
