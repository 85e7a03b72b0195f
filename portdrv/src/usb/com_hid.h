// ComHID: the transport for a reader attached as a USB HID device. It finds
// the reader's interface with clsFindHID, opens it through the HID provider,
// learns the report lengths, and carries each command message in one output
// report and each response in one input report (no fragmentation). Every
// wait watches the device's readiness, the cancel event and a time limit at
// once, without polling.
#pragma once

#include <cstdint>
#include <memory>

#include "cls_device.h"
#include "hid_binding.h"
#include "hid_text.h"

namespace q7m {

class ComHID : public clsDevice {
 public:
  explicit ComHID(const void* module, const char* provider = kHidProviderName)
      : clsDevice(module), provider_(provider) {}
  ~ComHID() override;

  uint32_t Send(const uint8_t* message, uint32_t length, SessionKeyRecord* key,
                uint32_t timeLimit) override;
  uint32_t Receive(uint8_t* buffer, uint32_t size, uint32_t* received, SessionKeyRecord* key,
                   uint32_t timeLimit) override;
  uint32_t Exists() override;
  uint32_t GetDeviceInfo(PDLNK_DEVICE_INFO* info) override;
  uint32_t OpenDevice(const char* devicePath, bool share) override;
  uint32_t GetDevicePath(const char* deviceName, bool share, char* path) override;
  uint32_t MakeResource(const char* devicePath) override;

  // The report buffers, sized by the device's report lengths.
  uint32_t sendBufferSize() const { return sendBufferSize_; }
  uint32_t receiveBufferSize() const { return receiveBufferSize_; }

 private:
  // A transfer attempt without waiting: true when done.
  using Transfer = bool (ComHID::*)(uint32_t* count);
  // WaitFor's answer when the device was ready but the transfer then failed
  // (the last error tells why); never returned to callers.
  static constexpr uint32_t kTransferFailed = 0xFFFFFFFF;

  uint32_t SendReport(uint32_t timeLimit);
  // The next input report into the receive buffer: kPdOk and its length,
  // or the failure's code.
  uint32_t ReceiveReport(uint32_t timeLimit, uint32_t* count);
  bool WriteOnce(uint32_t* count);
  bool ReadOnce(uint32_t* count);
  // After a transfer found the device not ready: waits for readiness, the
  // cancel event or the time limit, and transfers. kPdOk done (also when
  // the transfer completes just as the wait ends), kPdTimeout, kPdCancelled,
  // kTransferFailed, or a failure's code.
  uint32_t WaitFor(Q7M_HANDLE ready, uint32_t timeLimit, Transfer transfer, uint32_t* count);
  uint32_t CheckDevice();
  // Turns a failure into a result: removal is kPdRemoved, otherwise
  // `defaultCode`.
  uint32_t OnErrorExists(uint32_t defaultCode);
  // The identity and report lengths of the open device.
  uint32_t ReadDeviceInfo(PDLNK_DEVICE_INFO* info, uint32_t* inputLength, uint32_t* outputLength);
  bool BindLibraries(const char* setupFailure, const char* hidFailure);
  void ReleaseResources();

  const char* provider_;
  HidFunctions hid_;
  SetupFunctions setup_;
  std::unique_ptr<uint8_t[]> sendBuffer_;
  std::unique_ptr<uint8_t[]> receiveBuffer_;
  uint32_t sendBufferSize_ = 0;
  uint32_t receiveBufferSize_ = 0;
  // Readiness of the device descriptor for reading and for writing: the
  // waits' stand-in for an overlapped-I/O event. They follow the
  // descriptor's state by themselves, so nothing resets them before a
  // transfer or sets them again after one.
  Q7M_HANDLE readReady_ = nullptr;
  Q7M_HANDLE writeReady_ = nullptr;
  std::unique_ptr<char[]> devicePath_;
  uint32_t productId_ = 0;
  uint32_t vendorId_ = 0;
  char manufacturer_[kDeviceStringSize] = {};
  char product_[kDeviceStringSize] = {};
  char serialNumber_[kDeviceStringSize] = {};
  // The dump lines' device label (the serial number at open): fixed, so a
  // concurrent PDLNK_GetDeviceInfo never rewrites what an exchange reads.
  char label_[kDeviceStringSize] = {};
};

}  // namespace q7m
