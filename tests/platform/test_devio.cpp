/* DeviceIoControl as Win32 defines it: the handle is checked first, a
 * driver's answer passes through with its output byte count. The drivers
 * are platform devices of the host (register_device), so those cases are
 * host only; the handle probe runs in both builds. */
#include <gtest/gtest.h>
#include <windows.h>

#include <string.h>

#ifndef _WIN32
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "../../platform/src/devio_internal.h"
#include "plat/host.h"
#endif

namespace {

const DWORD sentinel = 0x5EAC0DE;

TEST(DeviceIoControl, ClosedHandleIsRefused) {
  HANDLE event = CreateEventW(NULL, TRUE, FALSE, NULL);
  ASSERT_TRUE(event != NULL);
  ASSERT_TRUE(CloseHandle(event));
  BYTE input[4] = {1, 2, 3, 4};
  DWORD returned = 0;
  SetLastError(sentinel);
  EXPECT_FALSE(DeviceIoControl(event, 0x1B0053, input, sizeof input, NULL, 0, &returned, NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

#ifndef _WIN32

/* A test driver: echoes its input reversed into the output; code 0xBAD
 * fails with ERROR_GEN_FAILURE. */
struct EchoDriver : plat::IoctlDevice {
  DWORD ioctl(DWORD code, const void* input, DWORD input_size, void* output, DWORD output_size,
              DWORD* returned) override {
    last_code = code;
    if (code == 0xBAD) return 31; /* ERROR_GEN_FAILURE */
    DWORD n = input_size < output_size ? input_size : output_size;
    for (DWORD i = 0; i < n; i++) ((BYTE*)output)[i] = ((const BYTE*)input)[input_size - 1 - i];
    *returned = n;
    return 0;
  }
  DWORD last_code = 0;
};

std::shared_ptr<EchoDriver> driver;

class Driver : public ::testing::Test {
 protected:
  void SetUp() override {
    driver = std::make_shared<EchoDriver>();
    plat::register_device(u"TST1:", [](DWORD, DWORD, DWORD*) {
      return std::shared_ptr<plat::DeviceHandle>(driver);
    });
    handle = CreateFileW(u"TST1:", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    CloseHandle(handle);
    plat::unregister_device(u"TST1:");
    driver.reset();
  }
  HANDLE handle = INVALID_HANDLE_VALUE;
};

TEST_F(Driver, AnswerAndOutputCount) {
  BYTE input[3] = {1, 2, 3};
  BYTE output[8];
  memset(output, 0, sizeof output);
  DWORD returned = 99;
  SetLastError(sentinel);
  ASSERT_TRUE(DeviceIoControl(handle, 0x80012068, input, 3, output, sizeof output, &returned, NULL));
  EXPECT_EQ(GetLastError(), sentinel);
  EXPECT_EQ(driver->last_code, 0x80012068u);
  EXPECT_EQ(returned, 3u);
  EXPECT_EQ(output[0], 3);
  EXPECT_EQ(output[2], 1);
  /* No output buffer, no count asked for. */
  EXPECT_TRUE(DeviceIoControl(handle, 0x1B0057, input, 3, NULL, 0, NULL, NULL));
}

TEST_F(Driver, FailuresCarryTheirCode) {
  BYTE input[2] = {0, 0};
  BYTE output[2];
  DWORD returned = 99;
  const struct {
    const char* what;
    DWORD code;
    LPVOID input;
    DWORD input_size;
    LPVOID output;
    DWORD output_size;
    DWORD error;
  } cases[] = {
      {"the driver fails", 0xBAD, input, 2, output, 2, 31},
      {"input size without input", 1, NULL, 2, output, 2, ERROR_INVALID_PARAMETER},
      {"output size without output", 1, input, 2, NULL, 2, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases) {
    returned = 99;
    SetLastError(sentinel);
    EXPECT_FALSE(DeviceIoControl(handle, c.code, c.input, c.input_size, c.output, c.output_size,
                                 &returned, NULL))
        << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
    EXPECT_EQ(returned, 0u) << c.what;
  }
}

TEST(DeviceIoControlHost, FileHandleTakesNoRequests) {
  char root[] = "/tmp/devio-XXXXXX";
  ASSERT_TRUE(mkdtemp(root) != nullptr);
  plat::set_device_root(root);
  HANDLE file = CreateFileW(u"\\devio_test.bin", GENERIC_READ | GENERIC_WRITE, 0, NULL,
                            CREATE_ALWAYS, 0, NULL);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  SetLastError(sentinel);
  EXPECT_FALSE(DeviceIoControl(file, 0x1B0053, NULL, 0, NULL, 0, NULL, NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_FUNCTION);
  CloseHandle(file);
  DeleteFileW(u"\\devio_test.bin");
}

#endif

}  // namespace
