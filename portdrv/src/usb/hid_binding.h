// The HID provider's entry points as the port driver binds them by name at
// run time, in two tables as the system's HID class library and device-setup
// library are bound: every entry point of a table is required, and a table
// that cannot be completed releases the provider again.
#pragma once

#include "q7m/hid_provider.h"
#include "q7m/platform_sys.h"

namespace q7m {

// The attribute record carries no pointer, so it keeps the size the callers
// put into its size field on every platform.
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

// The provider's library name (Q7M_LoadLibrary searches the port driver's
// own directory first).
constexpr const char* kHidProviderName = Q7MHID_PROVIDER_NAME;

// The HID class part plus the report I/O.
class HidFunctions {
 public:
  HidFunctions() = default;
  ~HidFunctions() { Release(); }
  HidFunctions(const HidFunctions&) = delete;
  HidFunctions& operator=(const HidFunctions&) = delete;

  // true when bound (also when it was already); false with the provider
  // released and the last error of the failing load or look-up.
  bool Bind(const char* provider);
  void Release();
  bool bound() const { return module_ != nullptr; }

  decltype(&::HidD_GetHidGuid) GetHidGuid = nullptr;
  decltype(&::HidD_FreePreparsedData) FreePreparsedData = nullptr;
  decltype(&::HidD_GetPreparsedData) GetPreparsedData = nullptr;
  decltype(&::HidD_GetSerialNumberString) GetSerialNumberString = nullptr;
  decltype(&::HidD_GetProductString) GetProductString = nullptr;
  decltype(&::HidD_GetManufacturerString) GetManufacturerString = nullptr;
  decltype(&::HidD_GetAttributes) GetAttributes = nullptr;
  decltype(&::HidD_GetIndexedString) GetIndexedString = nullptr;
  decltype(&::HidP_GetCaps) GetCaps = nullptr;
  decltype(&::Q7MHID_OpenDevice) OpenDevice = nullptr;
  decltype(&::Q7MHID_ReadReport) ReadReport = nullptr;
  decltype(&::Q7MHID_WriteReport) WriteReport = nullptr;
  decltype(&::Q7MHID_ReleaseDevice) ReleaseDevice = nullptr;
  decltype(&::Q7MHID_CloseDevice) CloseDevice = nullptr;

 private:
  void Forget();
  Q7M_HMODULE module_ = nullptr;
};

// The device-setup part: the list of present HID interfaces.
class SetupFunctions {
 public:
  SetupFunctions() = default;
  ~SetupFunctions() { Release(); }
  SetupFunctions(const SetupFunctions&) = delete;
  SetupFunctions& operator=(const SetupFunctions&) = delete;

  bool Bind(const char* provider);
  void Release();
  bool bound() const { return module_ != nullptr; }

  decltype(&::SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList = nullptr;
  decltype(&::SetupDiGetClassDevsA) GetClassDevs = nullptr;
  decltype(&::SetupDiEnumDeviceInterfaces) EnumDeviceInterfaces = nullptr;
  decltype(&::SetupDiGetDeviceInterfaceDetailA) GetDeviceInterfaceDetail = nullptr;

 private:
  void Forget();
  Q7M_HMODULE module_ = nullptr;
};

}  // namespace q7m
