// clsFindHID: walks the HID interfaces present, opens each just long enough
// to read its identity, keeps those whose ids pass the filter and reports
// them one at a time. ComHID::GetDevicePath uses it to find the reader to
// open; PDLNK_FindFirst / FindNext / FindClose hand it to callers.
#pragma once

#include <cstdint>
#include <memory>

#include "hid_binding.h"
#include "hid_filter.h"
#include "hid_text.h"
#include "q7m/pdlnk.h"

namespace q7m {

class clsFindHID {
 public:
  // `share`: probe devices in share mode (otherwise as an exclusive user
  // would, so devices in use are passed over).
  explicit clsFindHID(bool share, const char* provider = kHidProviderName);
  ~clsFindHID();
  clsFindHID(const clsFindHID&) = delete;
  clsFindHID& operator=(const clsFindHID&) = delete;

  // Makes the search's own storage: kPdOk, or kPdSystemError with
  // Q7M_ERROR_OUTOFMEMORY.
  uint32_t Create();
  // Takes the listing and the first accepted device: kPdOk, kPdNotFound
  // (none accepted), kPdNotSupported (the provider is missing),
  // kPdSystemError.
  uint32_t FindFirst(PDLNK_FIND_INFO* record);
  // The next accepted device: kPdOk, kPdNoMoreDevices, kPdSystemError.
  uint32_t FindNext(PDLNK_FIND_INFO* record);
  // The interface path of the current device ("" when there is none).
  const char* DevicePath() const;
  // The filter from `text` (blanks and tabs between tokens); when that
  // gives nothing, from the key ProductID of section USB of the INI file of
  // `module` (commas too).
  void SetFilter(const char* text, const void* module);
  // Forgets the listing and the current device.
  void Close();

  const HidFilter& filter() const { return *filter_; }

 private:
  // The identity of an open device into the record: kPdOk,
  // kPdNoMoreDevices (not accepted by the filter) or kPdSystemError.
  uint32_t ReadIdentity(int device, PDLNK_FIND_INFO* record);
  // Probes the current interface up to 20 times: kPdOk (identity read),
  // kPdNoMoreDevices (filtered out or unreachable: go on), other answers
  // end the step.
  uint32_t ProbeCurrent(PDLNK_FIND_INFO* record);

  const char* provider_;
  HidFunctions hid_;
  SetupFunctions setup_;
  bool share_;
  Q7MHID_GUID hidClass_{};
  HDEVINFO list_ = Q7MHID_INVALID_DEVINFO;
  SP_DEVICE_INTERFACE_DATA interface_{};
  uint32_t index_ = 0;
  std::unique_ptr<uint8_t[]> m_lpDetail;
  char manufacturer_[kDeviceStringSize] = {};
  char product_[kDeviceStringSize] = {};
  char serialNumber_[kDeviceStringSize] = {};
  std::unique_ptr<HidFilter> filter_;
};

}  // namespace q7m
