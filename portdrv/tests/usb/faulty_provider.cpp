// A HID provider that fails on request: it links the real provider, so every
// entry point it does not define is found there, and it answers the device
// queries below with the failure that Q7M_TEST_HID_FAULT names:
//   caps               HidP_GetCaps refuses the parsed data
//   attributes-silent  HidD_GetAttributes fails without telling why
//   attributes-gone    HidD_GetAttributes finds the device not connected
// Without the variable it behaves as the real provider.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "q7m/hid_provider.h"
#include "q7m/platform.h"

namespace {

bool Fault(const char* name) {
  const char* fault = std::getenv("Q7M_TEST_HID_FAULT");
  return fault != nullptr && std::strcmp(fault, name) == 0;
}

template <typename Function>
Function Real(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

Q7M_EXPORT int Q7M_API HidD_GetAttributes(int device, HIDD_ATTRIBUTES* attributes) {
  if (Fault("attributes-silent")) {
    Q7M_SetLastError(Q7M_ERROR_SUCCESS);
    return 0;
  }
  if (Fault("attributes-gone")) {
    Q7M_SetLastError(Q7M_ERROR_DEVICE_NOT_CONNECTED);
    return 0;
  }
  return Real<decltype(&HidD_GetAttributes)>("HidD_GetAttributes")(device, attributes);
}

Q7M_EXPORT uint32_t Q7M_API HidP_GetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS* caps) {
  if (Fault("caps")) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  return Real<decltype(&HidP_GetCaps)>("HidP_GetCaps")(data, caps);
}

}  // extern "C"
