// The HID class part of the provider and the report I/O: every entry point
// works on a device descriptor of either back end.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "backends.h"
#include "open_devices.h"
#include "q7m/hid_provider.h"
#include "q7m/platform_sys.h"
#include "utf16_text.h"

using namespace q7m::hid;

struct Q7MHID_PREPARSED_DATA {
  uint32_t magic;
  HIDP_CAPS caps;
};

namespace {

constexpr uint32_t kPreparsedMagic = 0x51374850;  // "PH7Q"
constexpr Q7MHID_GUID kHidClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

int Fail(uint32_t error) {
  Q7M_SetLastError(error);
  return 0;
}

// The device behind `fd` is still there: 1, or 0 with the last error.
int CheckPresent(int fd) {
  const BackendOps* ops = BackendOfDescriptor(fd);
  if (ops == nullptr) return 0;
  return ops->present(fd) ? 1 : Fail(Q7M_ERROR_DEVICE_NOT_CONNECTED);
}

enum class StringKind { kManufacturer, kProduct, kSerialNumber };

int GetString(int device, void* buffer, uint32_t length, StringKind kind) {
  if (buffer == nullptr) return Fail(Q7M_ERROR_INVALID_PARAMETER);
  if (length < sizeof(char16_t)) return Fail(Q7M_ERROR_INSUFFICIENT_BUFFER);
  if (!CheckPresent(device)) return 0;
  return OpenDevices::Instance().With(
             device,
             [&](Backend, const DeviceIdentity& identity) {
               const std::string& text = kind == StringKind::kManufacturer ? identity.manufacturer
                                         : kind == StringKind::kProduct    ? identity.product
                                                                           : identity.serialNumber;
               Utf8ToUtf16(text, static_cast<char16_t*>(buffer), length / sizeof(char16_t));
             })
             ? 1
             : 0;
}

// Which back end serves a path (the link itself, never followed); null
// with the last error.
const BackendOps* BackendOfPath(const char* path) {
  struct stat st;
  if (::lstat(path, &st) != 0) {
    Q7M_SetLastError(errno == ENOENT || errno == ENOTDIR ? Q7M_ERROR_FILE_NOT_FOUND
                                                         : Q7M_Win32ErrorFromErrno(errno));
    return nullptr;
  }
  const BackendOps* ops = BackendOfMode(st.st_mode);
  if (ops == nullptr) Q7M_SetLastError(Q7M_ERROR_FILE_NOT_FOUND);
  return ops;
}

}  // namespace

extern "C" {

Q7M_EXPORT void Q7M_API HidD_GetHidGuid(Q7MHID_GUID* guid) {
  if (guid != nullptr) *guid = kHidClass;
}

Q7M_EXPORT int Q7M_API HidD_GetAttributes(int device, HIDD_ATTRIBUTES* attributes) {
  if (attributes == nullptr) return Fail(Q7M_ERROR_INVALID_PARAMETER);
  if (!CheckPresent(device)) return 0;
  return OpenDevices::Instance().With(device,
                                      [&](Backend, const DeviceIdentity& identity) {
                                        attributes->Size = sizeof *attributes;
                                        attributes->VendorID = identity.vendorId;
                                        attributes->ProductID = identity.productId;
                                        attributes->VersionNumber = identity.versionNumber;
                                      })
             ? 1
             : 0;
}

Q7M_EXPORT int Q7M_API HidD_GetManufacturerString(int device, void* buffer, uint32_t length) {
  return GetString(device, buffer, length, StringKind::kManufacturer);
}

Q7M_EXPORT int Q7M_API HidD_GetProductString(int device, void* buffer, uint32_t length) {
  return GetString(device, buffer, length, StringKind::kProduct);
}

Q7M_EXPORT int Q7M_API HidD_GetSerialNumberString(int device, void* buffer, uint32_t length) {
  return GetString(device, buffer, length, StringKind::kSerialNumber);
}

Q7M_EXPORT int Q7M_API HidD_GetIndexedString(int device, uint32_t, void* buffer, uint32_t) {
  if (buffer == nullptr) return Fail(Q7M_ERROR_INVALID_PARAMETER);
  if (!CheckPresent(device)) return 0;
  return Fail(Q7M_ERROR_NOT_SUPPORTED);
}

Q7M_EXPORT int Q7M_API HidD_GetPreparsedData(int device, PHIDP_PREPARSED_DATA* data) {
  if (data == nullptr) return Fail(Q7M_ERROR_INVALID_PARAMETER);
  *data = nullptr;
  if (!CheckPresent(device)) return 0;
  HIDP_CAPS caps{};
  bool known = false;
  if (!OpenDevices::Instance().With(device, [&](Backend, const DeviceIdentity& identity) {
        known = identity.layoutKnown;
        caps.Usage = identity.layout.usage;
        caps.UsagePage = identity.layout.usagePage;
        caps.InputReportByteLength = identity.layout.inputLength;
        caps.OutputReportByteLength = identity.layout.outputLength;
        caps.FeatureReportByteLength = identity.layout.featureLength;
      }))
    return 0;
  // A device whose report descriptor could not be read or parsed has no
  // report lengths to give.
  if (!known) return Fail(Q7M_ERROR_INVALID_DATA);
  auto* parsed = new (std::nothrow) Q7MHID_PREPARSED_DATA{kPreparsedMagic, caps};
  if (parsed == nullptr) return Fail(Q7M_ERROR_NOT_ENOUGH_MEMORY);
  *data = parsed;
  return 1;
}

Q7M_EXPORT int Q7M_API HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) {
  if (data == nullptr || data->magic != kPreparsedMagic) return Fail(Q7M_ERROR_INVALID_PARAMETER);
  data->magic = 0;
  delete data;
  return 1;
}

Q7M_EXPORT uint32_t Q7M_API HidP_GetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS* caps) {
  if (data == nullptr || caps == nullptr || data->magic != kPreparsedMagic)
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  *caps = data->caps;
  return HIDP_STATUS_SUCCESS;
}

Q7M_EXPORT int Q7M_API Q7MHID_OpenDevice(const char* path, uint32_t access, uint32_t shareMode) {
  if (path == nullptr) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return -1;
  }
  const BackendOps* ops = BackendOfPath(path);
  if (ops == nullptr) return -1;
  const bool reports = (access & (Q7MHID_GENERIC_READ | Q7MHID_GENERIC_WRITE)) != 0;
  const bool exclusive = (shareMode & Q7MHID_FILE_SHARE_WRITE) == 0;
  DeviceIdentity identity;
  const int fd = ops->open(path, reports, exclusive, &identity);
  if (fd < 0) return -1;
  OpenDevices::Instance().Remember(fd, ops->backend, identity);
  return fd;
}

Q7M_EXPORT int Q7M_API Q7MHID_ReadReport(int device, void* buffer, uint32_t size,
                                         uint32_t* bytesRead) {
  if (bytesRead == nullptr || (buffer == nullptr && size > 0))
    return Fail(Q7M_ERROR_INVALID_PARAMETER);
  *bytesRead = 0;
  const BackendOps* ops = BackendOfDescriptor(device);
  if (ops == nullptr) return 0;
  return ops->read(device, static_cast<uint8_t*>(buffer), size, bytesRead) ? 1 : 0;
}

Q7M_EXPORT int Q7M_API Q7MHID_WriteReport(int device, const void* buffer, uint32_t size,
                                          uint32_t* bytesWritten) {
  if (bytesWritten == nullptr || buffer == nullptr || size == 0)
    return Fail(Q7M_ERROR_INVALID_PARAMETER);
  *bytesWritten = 0;
  const BackendOps* ops = BackendOfDescriptor(device);
  if (ops == nullptr) return 0;
  return ops->write(device, static_cast<const uint8_t*>(buffer), size, bytesWritten) ? 1 : 0;
}

Q7M_EXPORT void Q7M_API Q7MHID_ReleaseDevice(int device) {
  OpenDevices::Instance().Forget(device);
}

Q7M_EXPORT int Q7M_API Q7MHID_CloseDevice(int device) {
  if (device < 0) return Fail(Q7M_ERROR_INVALID_HANDLE);
  OpenDevices::Instance().Forget(device);
  if (::close(device) != 0) return Fail(Q7M_ERROR_INVALID_HANDLE);
  return 1;
}

}  // extern "C"
