#include "cls_find_hid.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "hid_report.h"
#include "pdlnk_result.h"
#include "pdlnk_trace.h"
#include "q7m/common/profile.h"

namespace q7m {

namespace {

constexpr uint32_t kProbeAttempts = 20;
constexpr uint32_t kProbeIntervalMs = 50;
constexpr uint32_t kIniValueSize = 8195;

}  // namespace

clsFindHID::clsFindHID(bool share, const char* provider) : provider_(provider), share_(share) {
  // The interface record holds a pointer-sized field: its size field is the
  // record's natural size on this platform, which the provider checks.
  interface_.cbSize = sizeof interface_;
}

clsFindHID::~clsFindHID() {
  Close();
}

uint32_t clsFindHID::Create() {
  filter_.reset(new (std::nothrow) HidFilter());
  if (!filter_) return SystemError(Q7M_ERROR_OUTOFMEMORY);
  return kPdOk;
}

void clsFindHID::SetFilter(const char* text, const void* module) {
  filter_->Clear();
  filter_->Parse(text, " \t");
  if (filter_->count() > 0) return;
  std::unique_ptr<Profile> profile(new (std::nothrow) Profile(module));
  std::unique_ptr<char[]> value(new (std::nothrow) char[kIniValueSize]);
  if (!profile || !value) {
    Q7M_TRACE(kTraceDeviceError, "E:ComHID::GetDevicePath: Profile->Construct error");
    return;
  }
  value[0] = '\0';
  if (profile->OpenForModule())
    profile->GetString("USB", "ProductID", "", value.get(), kIniValueSize);
  filter_->Parse(value.get(), ", \t");
}

void clsFindHID::Close() {
  m_lpDetail.reset();
  if (list_ != Q7MHID_INVALID_DEVINFO) {
    LastErrorKeeper keep;
    setup_.DestroyDeviceInfoList(list_);
    list_ = Q7MHID_INVALID_DEVINFO;
  }
}

const char* clsFindHID::DevicePath() const {
  if (!m_lpDetail) return "";
  return reinterpret_cast<const char*>(m_lpDetail.get()) +
         offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
}

uint32_t clsFindHID::FindFirst(PDLNK_FIND_INFO* record) {
  if (!setup_.Bind(provider_)) {
    Q7M_TRACE(kTraceHidError, "E:clsFindHID::FindFirst: SetupAPI Not Loaded(dwResult%08X)",
              kPdNotSupported);
    return kPdNotSupported;
  }
  if (!hid_.Bind(provider_)) {
    Q7M_TRACE(kTraceHidError, "E:clsFindHID::FindFirst: HID Not Loaded(dwResult%08X)",
              kPdNotSupported);
    return kPdNotSupported;
  }
  Close();
  hid_.GetHidGuid(&hidClass_);
  list_ = setup_.GetClassDevs(&hidClass_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list_ == Q7MHID_INVALID_DEVINFO) {
    Q7M_TRACE(kTraceHidError, "E:clsFindHID::FindFirst: SetupDiGetClassDevs Failure");
    return kPdSystemError;
  }
  index_ = 0;
  const uint32_t r = FindNext(record);
  Q7M_TRACE(kTraceHidInfo, "I:clsFindHID::FindFirst: FindNext(%08X)", r);
  if (r == kPdOk) return kPdOk;
  Close();
  return r == kPdNoMoreDevices ? kPdNotFound : r;
}

uint32_t clsFindHID::FindNext(PDLNK_FIND_INFO* record) {
  // A listing that was closed (or never taken) has nothing more.
  if (list_ == Q7MHID_INVALID_DEVINFO) {
    Q7M_SetLastError(Q7M_ERROR_NO_MORE_ITEMS);
    return kPdNoMoreDevices;
  }
  for (;;) {
    interface_.cbSize = sizeof interface_;
    if (!setup_.EnumDeviceInterfaces(list_, nullptr, &hidClass_, index_, &interface_)) {
      const uint32_t error = Q7M_GetLastError();
      Q7M_TRACE(kTraceHidError,
                "E:clsFindHID::FindNext: SetupDiEnumDeviceInterfaces APIerror(%08X)", error);
      return error == Q7M_ERROR_NO_MORE_ITEMS ? kPdNoMoreDevices : kPdSystemError;
    }
    ++index_;

    uint32_t required = 0;
    setup_.GetDeviceInterfaceDetail(list_, &interface_, nullptr, 0, &required, nullptr);
    m_lpDetail.reset();
    if (required > offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath))
      m_lpDetail.reset(new (std::nothrow) uint8_t[required]);
    if (!m_lpDetail) {
      Q7M_TRACE(kTraceHidError,
                "E:clsFindHID::FindNext: m_lpDetail cannot be allocated (RequiredSize=%08X)",
                required);
      return SystemError(Q7M_ERROR_OUTOFMEMORY);
    }
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(m_lpDetail.get());
    detail->cbSize = Q7MHID_DETAIL_SIZE_FIELD;
    if (!setup_.GetDeviceInterfaceDetail(list_, &interface_, detail, required, nullptr, nullptr)) {
      Q7M_TRACE(
          kTraceHidError,
          "E:clsFindHID::FindNext: SetupDiGetDeviceInterfaceDetail Failure(RequiredSize=%08X)",
          required);
      m_lpDetail.reset();
      return kPdSystemError;
    }
    const uint32_t r = ProbeCurrent(record);
    if (r != kPdNoMoreDevices) return r;
  }
}

uint32_t clsFindHID::ProbeCurrent(PDLNK_FIND_INFO* record) {
  const char* path = DevicePath();
  for (uint32_t attempt = 1; attempt <= kProbeAttempts; ++attempt) {
    Q7M_TRACE(kTraceHidInfo, "I:clsFindHID::FindNext: Trying (%d)", static_cast<int>(attempt));
    const uint32_t shareMode =
        share_ ? (Q7MHID_FILE_SHARE_READ | Q7MHID_FILE_SHARE_WRITE) : Q7MHID_FILE_SHARE_READ;
    const int device = hid_.OpenDevice(path, 0, shareMode);
    if (share_)
      Q7M_TRACE(kTraceHidInfo, "I:clsFindHID::FindNext: CreateFile, Share");
    else
      Q7M_TRACE(kTraceHidInfo, "I:clsFindHID::FindNext: CreateFile, Exclude");
    if (device >= 0) {
      Q7M_TRACE(kTraceHidInfo, "I:clsFindHID::FindNext: CreateFile succeede(%08X)",
                static_cast<uint32_t>(device));
      const uint32_t r = ReadIdentity(device, record);
      Q7M_TRACE(kTraceHidInfo, "I:clsFindHID::FindNext: GetDeviceInfo Result,LastError(%08X,%08X)",
                r, Q7M_GetLastError());
      {
        LastErrorKeeper keep;
        if (!hid_.CloseDevice(device))
          Q7M_TRACE(kTraceHidError, "E:clsFindHID::FindNext: CloseHandle LastError(%08X)",
                    Q7M_GetLastError());
      }
      if (r != kPdNoMoreDevices) return r;
      Q7M_TRACE(kTraceHidInfo, "I:clsFindHID::FindNext: _NO_MORE_ITEMS(%08X)", r);
      return kPdNoMoreDevices;
    }
    const uint32_t error = Q7M_GetLastError();
    switch (error) {
      case Q7M_ERROR_SHARING_VIOLATION:
        Q7M_TRACE(kTraceHidInfo, "I:clsFindHID::FindNext: CreateFile ERROR_SHARING_VIOLATION(%08X)",
                  error);
        break;
      case Q7M_ERROR_ACCESS_DENIED:
        Q7M_TRACE(kTraceHidInfo, "I:clsFindHID::FindNext: CreateFile ERROR_ACCESS_DENIED(%08X)",
                  error);
        break;
      case Q7M_ERROR_FILE_NOT_FOUND:
        Q7M_TRACE(kTraceHidInfo, "I:clsFindHID::FindNext: CreateFile ERROR_FILE_NOT_FOUND(%08X)",
                  error);
        break;
      default:
        Q7M_TRACE(kTraceHidError, "E:clsFindHID::FindNext: CreateFile Other APIerror(%X08X)",
                  error);
        return kPdSystemError;
    }
    if (attempt == kProbeAttempts) {
      Q7M_TRACE(kTraceHidError, "E:clsFindHID::FindNext: CreateFile APIerror(%08X) Dev=%s", error,
                path);
      break;
    }
    Q7M_Sleep(kProbeIntervalMs);
  }
  // Held by somebody else all along (or gone): pass it over.
  return kPdNoMoreDevices;
}

uint32_t clsFindHID::ReadIdentity(int device, PDLNK_FIND_INFO* record) {
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  if (!hid_.GetAttributes(device, &attributes)) {
    Q7M_TRACE(kTraceHidError, "E:clsFindHID::HidD_GetAttributes: APIError(%08X)",
              Q7M_GetLastError());
    return kPdSystemError;
  }
  if (!filter_->Accepts(attributes.VendorID, attributes.ProductID)) return kPdNoMoreDevices;

  char16_t wide[kWideStringUnits];
  if (!hid_.GetManufacturerString(device, wide, sizeof wide)) {
    Q7M_TRACE(kTraceHidError, "E:clsFindHID::HidD_GetManufacturerString: APIError(%08X)",
              Q7M_GetLastError());
    return kPdSystemError;
  }
  WideToNarrow(wide, kWideStringUnits, manufacturer_, sizeof manufacturer_);
  if (!hid_.GetProductString(device, wide, sizeof wide)) {
    Q7M_TRACE(kTraceHidError, "E:clsFindHID::HidD_GetProductString: APIError(%08X)",
              Q7M_GetLastError());
    return kPdSystemError;
  }
  WideToNarrow(wide, kWideStringUnits, product_, sizeof product_);
  if (!hid_.GetSerialNumberString(device, wide, sizeof wide)) {
    Q7M_TRACE(kTraceHidError, "E:clsFindHID::HidD_GetSerialNumberString: APIError(%08X)",
              Q7M_GetLastError());
    return kPdSystemError;
  }
  WideToNarrow(wide, kWideStringUnits, serialNumber_, sizeof serialNumber_);

  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!hid_.GetPreparsedData(device, &preparsed)) {
    Q7M_TRACE(kTraceHidError, "E:clsFindHID::HidD_GetPreparsedData: APIError(%08X)",
              Q7M_GetLastError());
    return kPdSystemError;
  }
  HIDP_CAPS caps{};
  const uint32_t status = hid_.GetCaps(preparsed, &caps);
  if (status != HIDP_STATUS_SUCCESS) {
    Q7M_TRACE(kTraceHidError, "E:clsFindHID::HidP_GetCaps: APIError(%08X)", status);
    hid_.FreePreparsedData(preparsed);
    return SystemError(Q7M_ERROR_INVALID_DATA);
  }
  if (!hid_.FreePreparsedData(preparsed)) {
    Q7M_TRACE(kTraceHidError, "E:clsFindHID::HidD_FreePreparsedData: APIError(%08X)",
              Q7M_GetLastError());
    return kPdSystemError;
  }

  record->manufacturer = manufacturer_;
  record->product = product_;
  record->serialNumber = serialNumber_;
  record->vendorId = attributes.VendorID;
  record->productId = attributes.ProductID;
  record->versionNumber = attributes.VersionNumber;
  record->reserved = 0;
  record->maxSendLength = MessageRoom(caps.OutputReportByteLength);
  record->maxReceiveLength = MessageRoom(caps.InputReportByteLength);
  return kPdOk;
}

}  // namespace q7m
