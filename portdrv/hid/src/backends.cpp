#include "backends.h"

#include <sys/stat.h>
#include <unistd.h>

#include "bus_backend.h"
#include "hidraw_backend.h"
#include "open_devices.h"
#include "q7m/platform_sys.h"

namespace q7m::hid {

namespace {

int OpenHidraw(const char* path, bool reports, bool exclusive, DeviceIdentity* identity) {
  const int fd = hidraw::Open(path, reports, exclusive);
  if (fd < 0) return -1;
  if (!hidraw::IdentityOf(fd, identity)) {
    const uint32_t error = Q7M_GetLastError();
    ::close(fd);
    // A node whose device vanished between open and identity.
    Q7M_SetLastError(error == Q7M_ERROR_DEVICE_NOT_CONNECTED ? Q7M_ERROR_FILE_NOT_FOUND : error);
    return -1;
  }
  return fd;
}

// A hidraw node delivers the report number in front of the report only
// for devices with numbered reports, which the identity tells.
bool ReadHidraw(int fd, uint8_t* buffer, uint32_t size, uint32_t* count) {
  Backend backend;
  bool numbered;
  if (!OpenDevices::Instance().TransferInfo(fd, &backend, &numbered)) return false;
  return hidraw::Read(fd, numbered, buffer, size, count);
}

constexpr BackendOps kHidraw = {Backend::kHidraw,   hidraw::ListDevices, OpenHidraw,
                                hidraw::IdentityOf, hidraw::Present,     ReadHidraw,
                                hidraw::Write};
constexpr BackendOps kBus = {Backend::kBus, bus::ListDevices, bus::Open, bus::IdentityOf,
                             bus::Present,  bus::Read,        bus::Write};

}  // namespace

const BackendOps* const kBackends[2] = {&kHidraw, &kBus};

const BackendOps* BackendOfMode(mode_t mode) {
  if (S_ISSOCK(mode)) return &kBus;
  if (S_ISCHR(mode)) return &kHidraw;
  return nullptr;
}

const BackendOps* BackendOfDescriptor(int fd) {
  struct stat st;
  const BackendOps* ops = fd >= 0 && ::fstat(fd, &st) == 0 ? BackendOfMode(st.st_mode) : nullptr;
  if (ops == nullptr) Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
  return ops;
}

}  // namespace q7m::hid
