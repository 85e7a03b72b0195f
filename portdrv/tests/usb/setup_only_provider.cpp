// A HID provider that lacks the HID class part: the device-setup entry
// points exist, every other one is missing. The port driver must refuse it
// as a whole.
#include "q7m/hid_provider.h"

extern "C" {

Q7M_EXPORT HDEVINFO Q7M_API SetupDiGetClassDevsA(const Q7MHID_GUID*, const char*, void*, uint32_t) {
  return Q7MHID_INVALID_DEVINFO;
}
Q7M_EXPORT int Q7M_API SetupDiEnumDeviceInterfaces(HDEVINFO, void*, const Q7MHID_GUID*, uint32_t,
                                                   SP_DEVICE_INTERFACE_DATA*) {
  return 0;
}
Q7M_EXPORT int Q7M_API SetupDiGetDeviceInterfaceDetailA(HDEVINFO, SP_DEVICE_INTERFACE_DATA*,
                                                        SP_DEVICE_INTERFACE_DETAIL_DATA_A*,
                                                        uint32_t, uint32_t*, void*) {
  return 0;
}
Q7M_EXPORT int Q7M_API SetupDiDestroyDeviceInfoList(HDEVINFO) {
  return 0;
}

}  // extern "C"
