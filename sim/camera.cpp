/* Stand-ins of the camera drivers "SCA0:" and "VIP1:": every request is an
 * `ioctl` event and succeeds. */
#include <windows.h>

#include <cstdio>

#include "devio_internal.h"
#include "phone.h"

namespace sim {

namespace {

std::string hex_of(const void* data, DWORD size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  const unsigned char* bytes = (const unsigned char*)data;
  for (DWORD i = 0; i < size; i++) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

struct CameraDriver : plat::IoctlDevice {
  explicit CameraDriver(const char* name) : name(name) {}
  DWORD ioctl(DWORD code, const void* input, DWORD input_size, void*, DWORD,
              DWORD* returned) override {
    char code_text[16];
    snprintf(code_text, sizeof code_text, "0x%X", (unsigned)code);
    plat::Event("ioctl").str("device", std::string(name)).str("code", std::string(code_text))
        .str("input", hex_of(input, input ? input_size : 0));
    *returned = 0;
    return 0;
  }
  const char* name;
};

void register_camera_device(const char16_t* name, const char* event_name) {
  plat::register_device(name, [event_name](DWORD, DWORD, DWORD*) {
    return std::shared_ptr<plat::DeviceHandle>(std::make_shared<CameraDriver>(event_name));
  });
}

}  // namespace

void camera_attach() {
  register_camera_device(u"SCA0:", "SCA0:");
  register_camera_device(u"VIP1:", "VIP1:");
}

}  // namespace sim
