// ComHID: finding and opening the reader, its identity and resources, and
// whether it is still there. The exchange is in com_hid_exchange.cpp.
#include <poll.h>

#include <cstring>
#include <new>

#include "cls_find_hid.h"
#include "com_hid.h"
#include "device_selector.h"
#include "hid_report.h"
#include "pdlnk_result.h"
#include "pdlnk_trace.h"

namespace q7m {

namespace {

constexpr uint32_t kOpenAttempts = 10;
constexpr uint32_t kOpenIntervalMs = 50;

// A pointer shown in a trace line: its low 32 bits.
uint32_t AddressValue(const void* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// A string whose first byte is a control character, or not ASCII at all,
// is no usable identity text.
void DropUnprintable(char* text) {
  if (static_cast<signed char>(text[0]) < 0x20) text[0] = '\0';
}

}  // namespace

ComHID::~ComHID() {
  ReleaseResources();
  // The base closes the descriptor after this; the provider forgets it now.
  if (hid_.bound() && deviceHandle_ >= 0) hid_.ReleaseDevice(deviceHandle_);
}

void ComHID::ReleaseResources() {
  LastErrorKeeper keep;
  if (readReady_ != nullptr) Q7M_CloseHandle(readReady_);
  if (writeReady_ != nullptr) Q7M_CloseHandle(writeReady_);
  readReady_ = writeReady_ = nullptr;
  sendBuffer_.reset();
  receiveBuffer_.reset();
  sendBufferSize_ = receiveBufferSize_ = 0;
  devicePath_.reset();
}

bool ComHID::BindLibraries(const char* setupFailure, const char* hidFailure) {
  if (!setup_.Bind(provider_)) {
    Q7M_TRACE(kTraceHidError, "%s", setupFailure);
    return false;
  }
  if (!hid_.Bind(provider_)) {
    Q7M_TRACE(kTraceHidError, "%s", hidFailure);
    return false;
  }
  return true;
}

uint32_t ComHID::GetDevicePath(const char* deviceName, bool share, char* path) {
  Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDevicePath: DeviceNumber=%08X", AddressValue(deviceName));
  if (deviceName != nullptr)
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDevicePath: DeviceName=%s", deviceName);
  const DeviceSelector selector = ParseDeviceSelector(deviceName);
  const bool serialWanted = !selector.serialNumber.empty();

  // A reader picked by serial number may be in use by others already.
  std::unique_ptr<clsFindHID> search(new (std::nothrow)
                                         clsFindHID(share || serialWanted, provider_));
  if (!search) {
    Q7M_TRACE(kTraceDeviceError, "E:ComHID::GetDevicePath: Find->Construct error");
    return SystemError(Q7M_ERROR_OUTOFMEMORY);
  }
  if (serialWanted) Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDevicePath: Search by ShareMode");
  if (uint32_t r = search->Create(); r != kPdOk) {
    Q7M_TRACE(kTraceDeviceError, "E:ComHID::GetDevicePath: Find->Create Error (APIerror:%08X)",
              Q7M_GetLastError());
    return r;
  }
  search->SetFilter(selector.filterList.empty() ? nullptr : selector.filterList.c_str(), module());

  PDLNK_FIND_INFO record{};
  uint32_t r = search->FindFirst(&record);
  if (r != kPdOk) {
    Q7M_TRACE(kTraceHidInfo, "E:ComHID::GetDevicePath: No Available Device (APIerror:%08X)",
              Q7M_GetLastError());
  }
  while (r == kPdOk) {
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDevicePath: Find(VID=%d PID=%d)", record.vendorId,
              record.productId);
    if (serialWanted && std::strcmp(selector.serialNumber.c_str(), record.serialNumber) != 0) {
      r = search->FindNext(&record);
      if (r == kPdNoMoreDevices) {
        Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDevicePath: ALl Devices are used(%08X)", r);
        r = kPdNotFound;
      } else if (r != kPdOk) {
        Q7M_TRACE(kTraceHidError, "E:ComHID::GetDevicePath:  FindNext Failure(APIerror:%08X)",
                  Q7M_GetLastError());
      }
      continue;
    }
    const char* found = search->DevicePath();
    const size_t length = std::strlen(found);
    if (length > kMaxDevicePath) {
      r = SystemError(Q7M_ERROR_FILENAME_EXCED_RANGE);
      break;
    }
    std::memcpy(path, found, length + 1);
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDevicePath: Find Succeded");
    break;
  }
  // The search's last error survives its teardown.
  LastErrorKeeper keepSearchError;
  search.reset();
  return r;
}

uint32_t ComHID::OpenDevice(const char* devicePath, bool share) {
  if (!BindLibraries("E:ComHID::OpenDevice: SetupAPI DLL not loaded",
                     "E:ComHID::OpenDevice: HID DLL not loaded"))
    return kPdNotSupported;
  Q7M_TRACE(kTraceHidInfo, "I:ComHID::OpenDevice: ShareMode (%d)", share ? 1 : 0);
  const uint32_t shareMode =
      share ? (Q7MHID_FILE_SHARE_READ | Q7MHID_FILE_SHARE_WRITE) : Q7MHID_FILE_SHARE_READ;
  uint32_t error = 0;
  for (uint32_t attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    const int fd =
        hid_.OpenDevice(devicePath, Q7MHID_GENERIC_READ | Q7MHID_GENERIC_WRITE, shareMode);
    if (fd >= 0) {
      deviceHandle_ = fd;
      return kPdOk;
    }
    error = Q7M_GetLastError();
    if (error != Q7M_ERROR_FILE_NOT_FOUND && error != Q7M_ERROR_ACCESS_DENIED &&
        error != Q7M_ERROR_SHARING_VIOLATION)
      break;
    Q7M_TRACE(kTraceHidError, "E:ComHID::OpenDevice: CreateFile Failed try=%02d (APIerror:%08X)",
              static_cast<int>(attempt), error);
    if (attempt < kOpenAttempts) Q7M_Sleep(kOpenIntervalMs);
  }
  Q7M_TRACE(kTraceHidError, "E:ComHID::OpenDevice: CreateFile Failed (APIerror:%08X)", error);
  return SystemError(error);
}

uint32_t ComHID::GetDeviceInfo(PDLNK_DEVICE_INFO* info) {
  uint32_t inputLength, outputLength;
  return ReadDeviceInfo(info, &inputLength, &outputLength);
}

uint32_t ComHID::ReadDeviceInfo(PDLNK_DEVICE_INFO* info, uint32_t* inputLength,
                                uint32_t* outputLength) {
  std::memset(info, 0, sizeof *info);
  manufacturer_[0] = product_[0] = serialNumber_[0] = '\0';
  if (!hid_.Bind(provider_)) return kPdNotSupported;

  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  if (!hid_.GetAttributes(deviceHandle_, &attributes)) {
    Q7M_TRACE(kTraceHidError, "E:ComHID::GetDeviceInfo: HidD_GetAttributes Failure(APIerror:%08X)",
              Q7M_GetLastError());
    return OnErrorExists(kPdSystemError);
  }
  struct StringQuery {
    decltype(HidFunctions::GetManufacturerString) get;
    char* field;
    const char* failure;
  };
  const StringQuery strings[] = {
      {hid_.GetManufacturerString, manufacturer_,
       "E:ComHID::GetDeviceInfo: HidD_GetManufacturerString Failure(APIerror:%08X)"},
      {hid_.GetProductString, product_,
       "E:ComHID::GetDeviceInfo: HidD_GetProductString Failure(APIerror:%08X)"},
      {hid_.GetSerialNumberString, serialNumber_,
       "E:ComHID::GetDeviceInfo: HidD_GetSerialNumberString Failure(APIerror:%08X)"},
  };
  for (const StringQuery& s : strings) {
    char16_t wide[kWideStringUnits];
    if (!s.get(deviceHandle_, wide, sizeof wide)) {
      Q7M_TRACE(kTraceHidError, s.failure, Q7M_GetLastError());
      return OnErrorExists(kPdSystemError);
    }
    WideToNarrow(wide, kWideStringUnits, s.field, kDeviceStringSize);
    DropUnprintable(s.field);
  }

  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!hid_.GetPreparsedData(deviceHandle_, &preparsed)) {
    Q7M_TRACE(kTraceHidError,
              "E:ComHID::GetDeviceInfo: HidD_GetPreparsedData Failure(APIerror:%08X)",
              Q7M_GetLastError());
    return OnErrorExists(kPdSystemError);
  }
  HIDP_CAPS caps{};
  const uint32_t status = hid_.GetCaps(preparsed, &caps);
  if (status != HIDP_STATUS_SUCCESS) {
    Q7M_TRACE(kTraceHidError, "E:ComHID::GetDeviceInfo: HidP_GetCaps Failure(APIerror:%08X)",
              status);
    hid_.FreePreparsedData(preparsed);
    Q7M_SetLastError(Q7M_ERROR_INVALID_DATA);
    return OnErrorExists(kPdSystemError);
  }
  if (!hid_.FreePreparsedData(preparsed)) {
    Q7M_TRACE(kTraceHidError,
              "E:ComHID::GetDeviceInfo: HidD_FreePreparsedData Failure(APIerror:%08X)",
              Q7M_GetLastError());
    return OnErrorExists(kPdSystemError);
  }

  info->devicePath = devicePath_.get();
  info->manufacturer = manufacturer_;
  info->product = product_;
  info->serialNumber = serialNumber_;
  info->vendorId = attributes.VendorID;
  info->productId = attributes.ProductID;
  info->versionNumber = attributes.VersionNumber;
  info->maxSendLength = MessageRoom(caps.OutputReportByteLength);
  info->maxReceiveLength = MessageRoom(caps.InputReportByteLength);
  *inputLength = caps.InputReportByteLength;
  *outputLength = caps.OutputReportByteLength;
  Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDeviceInfo: Manufacturer=%s(%04X)", manufacturer_,
            info->vendorId);
  Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDeviceInfo: Product=%s(%04X)", product_, info->productId);
  Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDeviceInfo: VersionNumber=%d", info->versionNumber);
  Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDeviceInfo: MaxSendBufferLen=%d",
            static_cast<int>(info->maxSendLength));
  Q7M_TRACE(kTraceHidInfo, "I:ComHID::GetDeviceInfo: MaxRecvBufferLen=%d",
            static_cast<int>(info->maxReceiveLength));
  return kPdOk;
}

uint32_t ComHID::MakeResource(const char* devicePath) {
  if (!BindLibraries("E:ComHID::MakeResource: SetupAPI DLL not loaded",
                     "E:ComHID::MakeResource: HID DLL not loaded"))
    return kPdNotSupported;
  const size_t pathSize = std::strlen(devicePath) + 1;
  devicePath_.reset(new (std::nothrow) char[pathSize]);
  if (!devicePath_) {
    Q7M_TRACE(kTraceHidError,
              "E:ComHID::MakeResource: DevicePath Memory Allocation Failure (size=%d)",
              static_cast<int>(pathSize));
    return SystemError(Q7M_ERROR_OUTOFMEMORY);
  }
  std::memcpy(devicePath_.get(), devicePath, pathSize);

  uint32_t r;
  do {
    PDLNK_DEVICE_INFO info;
    uint32_t inputLength = 0, outputLength = 0;
    if (r = ReadDeviceInfo(&info, &inputLength, &outputLength); r != kPdOk) {
      Q7M_TRACE(kTraceHidError, "E:ComHID::MakeResource: GetDeviceInfo Failure");
      break;
    }
    productId_ = info.productId;
    vendorId_ = info.vendorId;
    // The buffers hold whole reports of the device's lengths (at least one
    // byte, so even a device without reports has a buffer to point at).
    sendBufferSize_ = outputLength;
    receiveBufferSize_ = inputLength;
    sendBuffer_.reset(new (std::nothrow) uint8_t[outputLength > 0 ? outputLength : 1]);
    if (!sendBuffer_) {
      Q7M_TRACE(kTraceHidError,
                "E:ComHID::MakeResource: SendBuffer Memory Allocation Failure (size=%d)",
                static_cast<int>(outputLength));
      r = SystemError(Q7M_ERROR_OUTOFMEMORY);
      break;
    }
    receiveBuffer_.reset(new (std::nothrow) uint8_t[inputLength > 0 ? inputLength : 1]);
    if (!receiveBuffer_) {
      Q7M_TRACE(kTraceHidError,
                "E:ComHID::MakeResource: RecvBuffer Memory Allocation Failure (size=%d)",
                static_cast<int>(inputLength));
      r = SystemError(Q7M_ERROR_OUTOFMEMORY);
      break;
    }
    readReady_ = Q7M_CreateIoHandle(deviceHandle_, POLLIN);
    writeReady_ = readReady_ != nullptr ? Q7M_CreateIoHandle(deviceHandle_, POLLOUT) : nullptr;
    if (writeReady_ == nullptr) {
      Q7M_TRACE(kTraceHidError, "E:ComHID::MakeResource: CreateEvent Error (APIerror:%08X)",
                Q7M_GetLastError());
      r = kPdSystemError;
      break;
    }
    std::memcpy(label_, serialNumber_, sizeof label_);
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::MakeResource: Manufacturer=%s(%04X)", manufacturer_,
              vendorId_);
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::MakeResource: Product=%s(%04X)", product_, productId_);
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::MakeResource: SendBuffer=%08X(%d)",
              AddressValue(sendBuffer_.get()), static_cast<int>(sendBufferSize_));
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::MakeResource: RecvBuffer=%08X(%d)",
              AddressValue(receiveBuffer_.get()), static_cast<int>(receiveBufferSize_));
    return kPdOk;
  } while (false);
  ReleaseResources();
  return r;
}

uint32_t ComHID::CheckDevice() {
  if (deviceHandle_ < 0) {
    Q7M_TRACE(kTraceHidInfo, "I:ComHID::CheckDevice: INVALID_HANDLE_VALUE");
    return kPdInvalidHandle;
  }
  if (!hid_.Bind(provider_)) {
    Q7M_TRACE(kTraceHidError, "E:ComHID::CheckDevice: HID DLL not loaded");
    return kPdNotSupported;
  }
  char16_t wide[kWideStringUnits];
  if (!hid_.GetSerialNumberString(deviceHandle_, wide, sizeof wide)) {
    Q7M_TRACE(kTraceHidError,
              "E:ComHID::CheckDevice: HidD_GetSerialNumberString Failure (APIerror:%08X)",
              Q7M_GetLastError());
    return kPdSystemError;
  }
  return kPdOk;
}

uint32_t ComHID::Exists() {
  const uint32_t r = CheckDevice();
  if (r != kPdSystemError) return r;
  Q7M_TRACE(kTraceHidError, "E:ComHID::Exists: CheckDevice Failure(APIerror:%08X)",
            Q7M_GetLastError());
  return OnErrorExists(kPdSystemError);
}

uint32_t ComHID::OnErrorExists(uint32_t defaultCode) {
  const uint32_t error = Q7M_GetLastError();
  Q7M_TRACE(kTraceHidInfo, "I:ComHID::OnErrorExists Entry(Default:%08X, LastError=%08X)",
            defaultCode, error);
  // A failure is never turned into success, even when no error was recorded.
  if (error == Q7M_ERROR_SUCCESS) return defaultCode;
  if (error == Q7M_ERROR_DEVICE_NOT_CONNECTED) return kPdRemoved;
  if (CheckDevice() == kPdSystemError && Q7M_GetLastError() == Q7M_ERROR_DEVICE_NOT_CONNECTED) {
    Q7M_TRACE(kTraceHidError,
              "E:ComHID::CheckDevice: Device has unknown status. Translate  _DEVICE_REMOVED");
    return kPdRemoved;
  }
  Q7M_SetLastError(error);
  return defaultCode;
}

}  // namespace q7m
