#include "hid_binding.h"

namespace q7m {

namespace {

// An address inside the port driver: the provider is looked for beside it.
void BindingAnchor() {}

template <typename Function>
bool Look(Q7M_HMODULE module, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(Q7M_GetProcAddress(module, name));
  return *function != nullptr;
}

// Loads the provider; null with the last error.
Q7M_HMODULE Load(const char* provider) {
  return Q7M_LoadLibrary(provider, reinterpret_cast<const void*>(&BindingAnchor));
}

// Releases a module whose binding failed, keeping the look-up's error.
void Abandon(Q7M_HMODULE module) {
  const uint32_t error = Q7M_GetLastError();
  Q7M_FreeLibrary(module);
  Q7M_SetLastError(error);
}

}  // namespace

bool HidFunctions::Bind(const char* provider) {
  if (module_ != nullptr) return true;
  Q7M_HMODULE module = Load(provider);
  if (module == nullptr) return false;
  const bool complete = Look(module, "HidD_GetHidGuid", &GetHidGuid) &&
                        Look(module, "HidD_FreePreparsedData", &FreePreparsedData) &&
                        Look(module, "HidD_GetPreparsedData", &GetPreparsedData) &&
                        Look(module, "HidD_GetSerialNumberString", &GetSerialNumberString) &&
                        Look(module, "HidD_GetProductString", &GetProductString) &&
                        Look(module, "HidD_GetManufacturerString", &GetManufacturerString) &&
                        Look(module, "HidD_GetAttributes", &GetAttributes) &&
                        Look(module, "HidD_GetIndexedString", &GetIndexedString) &&
                        Look(module, "HidP_GetCaps", &GetCaps) &&
                        Look(module, "Q7MHID_OpenDevice", &OpenDevice) &&
                        Look(module, "Q7MHID_ReadReport", &ReadReport) &&
                        Look(module, "Q7MHID_WriteReport", &WriteReport) &&
                        Look(module, "Q7MHID_ReleaseDevice", &ReleaseDevice) &&
                        Look(module, "Q7MHID_CloseDevice", &CloseDevice);
  if (!complete) {
    Abandon(module);
    Forget();
    return false;
  }
  module_ = module;
  return true;
}

void HidFunctions::Release() {
  if (module_ == nullptr) return;
  Q7M_FreeLibrary(module_);
  module_ = nullptr;
  Forget();
}

void HidFunctions::Forget() {
  GetHidGuid = nullptr;
  FreePreparsedData = nullptr;
  GetPreparsedData = nullptr;
  GetSerialNumberString = nullptr;
  GetProductString = nullptr;
  GetManufacturerString = nullptr;
  GetAttributes = nullptr;
  GetIndexedString = nullptr;
  GetCaps = nullptr;
  OpenDevice = nullptr;
  ReadReport = nullptr;
  WriteReport = nullptr;
  ReleaseDevice = nullptr;
  CloseDevice = nullptr;
}

bool SetupFunctions::Bind(const char* provider) {
  if (module_ != nullptr) return true;
  Q7M_HMODULE module = Load(provider);
  if (module == nullptr) return false;
  const bool complete = Look(module, "SetupDiDestroyDeviceInfoList", &DestroyDeviceInfoList) &&
                        Look(module, "SetupDiGetClassDevsA", &GetClassDevs) &&
                        Look(module, "SetupDiEnumDeviceInterfaces", &EnumDeviceInterfaces) &&
                        Look(module, "SetupDiGetDeviceInterfaceDetailA", &GetDeviceInterfaceDetail);
  if (!complete) {
    Abandon(module);
    Forget();
    return false;
  }
  module_ = module;
  return true;
}

void SetupFunctions::Release() {
  if (module_ == nullptr) return;
  Q7M_FreeLibrary(module_);
  module_ = nullptr;
  Forget();
}

void SetupFunctions::Forget() {
  DestroyDeviceInfoList = nullptr;
  GetClassDevs = nullptr;
  EnumDeviceInterfaces = nullptr;
  GetDeviceInterfaceDetail = nullptr;
}

}  // namespace q7m
