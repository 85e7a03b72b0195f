// The HID side while no HID provider is part of the library: the search
// cannot bind the system's device-setup library, so every search and every
// HID open answers 12, with the trace lines of that case.
#include <cstring>

#include "com_hid.h"
#include "hid_search.h"
#include "pdlnk_result.h"
#include "pdlnk_trace.h"

namespace q7m {

namespace {

uint32_t ProviderMissing() {
  Q7M_SetLastError(Q7M_ERROR_MOD_NOT_FOUND);
  Q7M_TRACE(kTraceHidError, "E:clsFindHID::FindFirst: SetupAPI Not Loaded(dwResult%08X)",
            kPdNotSupported);
  return kPdNotSupported;
}

}  // namespace

uint32_t HidFindFirst(PDLNK_FIND_INFO* info, const void* /*module*/) {
  std::memset(info, 0, sizeof *info);
  return ProviderMissing();
}

uint32_t HidFindNext(PDLNK_FIND_INFO* info) {
  if (info->searchHandle == nullptr) return kPdInvalidHandle;
  info->searchHandle = nullptr;
  return kPdNoMoreDevices;
}

void HidFindClose(PDLNK_FIND_INFO* info) {
  info->searchHandle = nullptr;
}

uint32_t ComHID::GetDevicePath(const char* deviceName, bool /*share*/, char* /*path*/) {
  Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDevicePath: DeviceNumber=%08X",
            static_cast<uint32_t>(reinterpret_cast<uintptr_t>(deviceName)));
  if (deviceName != nullptr)
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDevicePath: DeviceName=%s", deviceName);
  const uint32_t r = ProviderMissing();
  Q7M_TRACE(kTraceHidInfo, "E:ComHID::GetDevicePath: No Available Device (APIerror:%08X)",
            Q7M_GetLastError());
  return r;
}

uint32_t ComHID::OpenDevice(const char*, bool) {
  return ProviderMissing();
}
uint32_t ComHID::MakeResource(const char*) {
  return ProviderMissing();
}
uint32_t ComHID::Exists() {
  return deviceHandle_ < 0 ? kPdInvalidHandle : kPdNotSupported;
}
uint32_t ComHID::GetDeviceInfo(PDLNK_DEVICE_INFO*) {
  return kPdNotSupported;
}
uint32_t ComHID::Send(const uint8_t*, uint32_t, SessionKeyRecord*, uint32_t) {
  return kPdNotSupported;
}
uint32_t ComHID::Receive(uint8_t*, uint32_t, uint32_t*, SessionKeyRecord*, uint32_t) {
  return kPdNotSupported;
}

}  // namespace q7m
