// The device-setup part of the provider: a snapshot of the HID interfaces
// present, walked by index.
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "backends.h"
#include "q7m/hid_provider.h"
#include "q7m/platform_sys.h"

namespace {

struct InterfaceList {
  std::vector<std::string> paths;
};

constexpr uint32_t kInterfaceActive = 0x1;

// Lists handed out and not yet destroyed: a stale or foreign list pointer
// is refused instead of followed.
std::mutex gListsLock;
std::set<const InterfaceList*>& LiveLists() {
  static auto* lists = new std::set<const InterfaceList*>();
  return *lists;
}

bool IsLive(HDEVINFO list) {
  std::lock_guard<std::mutex> guard(gListsLock);
  return LiveLists().count(static_cast<const InterfaceList*>(list)) != 0;
}

bool IsHidClass(const Q7MHID_GUID* guid) {
  Q7MHID_GUID hid;
  HidD_GetHidGuid(&hid);
  return guid != nullptr && std::memcmp(guid, &hid, sizeof hid) == 0;
}

int Fail(uint32_t error) {
  Q7M_SetLastError(error);
  return 0;
}

}  // namespace

extern "C" {

Q7M_EXPORT HDEVINFO Q7M_API SetupDiGetClassDevsA(const Q7MHID_GUID* classGuid, const char*, void*,
                                                 uint32_t flags) {
  if (classGuid == nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return Q7MHID_INVALID_DEVINFO;
  }
  auto* list = new (std::nothrow) InterfaceList();
  if (list == nullptr) {
    Q7M_SetLastError(Q7M_ERROR_NOT_ENOUGH_MEMORY);
    return Q7MHID_INVALID_DEVINFO;
  }
  // Only HID interfaces exist here; any other class lists nothing.
  if (IsHidClass(classGuid)) {
    for (const q7m::hid::BackendOps* ops : q7m::hid::kBackends) {
      std::vector<std::string> paths = ops->list();
      list->paths.insert(list->paths.end(), paths.begin(), paths.end());
    }
  }
  std::lock_guard<std::mutex> guard(gListsLock);
  LiveLists().insert(list);
  return list;
}

Q7M_EXPORT int Q7M_API SetupDiEnumDeviceInterfaces(HDEVINFO list, void*,
                                                   const Q7MHID_GUID* classGuid, uint32_t index,
                                                   SP_DEVICE_INTERFACE_DATA* data) {
  if (!IsLive(list)) return Fail(Q7M_ERROR_INVALID_HANDLE);
  if (data == nullptr || data->cbSize != sizeof *data || classGuid == nullptr)
    return Fail(Q7M_ERROR_INVALID_PARAMETER);
  const auto* interfaces = static_cast<const InterfaceList*>(list);
  if (!IsHidClass(classGuid) || index >= interfaces->paths.size())
    return Fail(Q7M_ERROR_NO_MORE_ITEMS);
  data->InterfaceClassGuid = *classGuid;
  data->Flags = kInterfaceActive;
  // Where the detail query finds this interface again.
  data->Reserved = static_cast<uintptr_t>(index) + 1;
  return 1;
}

Q7M_EXPORT int Q7M_API SetupDiGetDeviceInterfaceDetailA(HDEVINFO list,
                                                        SP_DEVICE_INTERFACE_DATA* data,
                                                        SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                                        uint32_t detailSize, uint32_t* requiredSize,
                                                        void*) {
  if (!IsLive(list)) return Fail(Q7M_ERROR_INVALID_HANDLE);
  const auto* interfaces = static_cast<const InterfaceList*>(list);
  if (data == nullptr || data->cbSize != sizeof *data || data->Reserved == 0 ||
      data->Reserved > interfaces->paths.size())
    return Fail(Q7M_ERROR_INVALID_PARAMETER);
  const std::string& path = interfaces->paths[data->Reserved - 1];
  const size_t needed = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1;
  if (requiredSize != nullptr) *requiredSize = static_cast<uint32_t>(needed);
  if (detail == nullptr || detailSize < needed) return Fail(Q7M_ERROR_INSUFFICIENT_BUFFER);
  if (detail->cbSize != Q7MHID_DETAIL_SIZE_FIELD) return Fail(Q7M_ERROR_INVALID_PARAMETER);
  char* out =
      reinterpret_cast<char*>(detail) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  std::memcpy(out, path.c_str(), path.size() + 1);
  return 1;
}

Q7M_EXPORT int Q7M_API SetupDiDestroyDeviceInfoList(HDEVINFO list) {
  {
    std::lock_guard<std::mutex> guard(gListsLock);
    if (LiveLists().erase(static_cast<const InterfaceList*>(list)) == 0)
      return Fail(Q7M_ERROR_INVALID_HANDLE);
  }
  delete static_cast<InterfaceList*>(list);
  return 1;
}

}  // extern "C"
