// clsCom: naming, opening, setting up and tearing down a serial port.
#include "cls_com.h"

#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <new>

#include "device_name.h"
#include "pdlnk_result.h"
#include "pdlnk_trace.h"
#include "serial_settings.h"

namespace q7m {

clsCom::~clsCom() {
  Teardown();
}

uint32_t clsCom::GetDevicePath(const char* deviceName, bool /*share*/, char* path) {
  const SerialName name = ParseSerialName(deviceName);
  portName_ = name.portName;
  baudGiven_ = name.baudGiven;
  // The settings are read here rather than at set-up: on this system the
  // device node of a port name is one of them.
  const SerialSettings settings =
      ReadSerialSettings(module(), portName_, name.baudGiven, name.baudRate);
  baudRate_ = settings.baudRate;
  checkDsr_ = settings.checkDsr;
  timings_ = settings.timings;
  nodePath_ = settings.devicePath;
  if (nodePath_.size() > kMaxDevicePath) return SystemError(Q7M_ERROR_FILENAME_EXCED_RANGE);
  std::memcpy(path, nodePath_.c_str(), nodePath_.size() + 1);
  return kPdOk;
}

uint32_t clsCom::OpenDevice(const char* devicePath, bool /*share*/) {
  deviceHandle_ = serial::OpenPortExclusive(devicePath);
  return deviceHandle_ < 0 ? kPdSystemError : kPdOk;
}

uint32_t clsCom::GetDeviceInfo(PDLNK_DEVICE_INFO* info) {
  std::memset(info, 0, sizeof *info);
  info->devicePath = portName_.c_str();
  info->maxSendLength = kMaxSendMessage;
  info->maxReceiveLength = kMaxReceiveMessage;
  return kPdOk;
}

uint32_t clsCom::ConfigurePort() {
  if (baudRate_ <= 0) return SystemError(Q7M_ERROR_INVALID_PARAMETER);
  return portSettings_.Configure(deviceHandle_, baudRate_) ? kPdOk : kPdSystemError;
}

uint32_t clsCom::CreateEvents() {
  readReady_ = Q7M_CreateIoHandle(deviceHandle_, POLLIN);
  writeReady_ = Q7M_CreateIoHandle(deviceHandle_, POLLOUT);
  stateEvent_ = Q7M_CreateEvent(1, 1, nullptr);
  dsrEvent_ = Q7M_CreateEvent(1, 1, nullptr);
  stopEvent_ = Q7M_CreateEvent(1, 0, nullptr);
  if (readReady_ == nullptr || writeReady_ == nullptr || stateEvent_ == nullptr ||
      dsrEvent_ == nullptr || stopEvent_ == nullptr)
    return kPdSystemError;
  return kPdOk;
}

uint32_t clsCom::MakeResource(const char* /*devicePath*/) {
  if (uint32_t r = ConfigurePort(); r != kPdOk) return r;
  if (MEMALLOC(&sendPayload_, kMaxSendMessage) != kPdOk ||
      MEMALLOC(&sendFrame_, kSendFrameSize) != kPdOk ||
      MEMALLOC(&receiveWork_, kMaxReceiveMessage) != kPdOk ||
      MEMALLOC(&response_, kMaxReceiveMessage) != kPdOk ||
      MEMALLOC(&rawCopy_, kRawCopySize) != kPdOk)
    return kPdSystemError;
  receiver_.emplace(receiveWork_.get(), kMaxReceiveMessage, rawCopy_.get(), kRawCopySize);
  if (uint32_t r = CreateEvents(); r != kPdOk) return r;

  modemLines_ = serial::HasModemLines(deviceHandle_);
  dsrLevel_ = serial::DsrPresent(deviceHandle_);
  dsrSeen_ = false;
  lastSendTick_.store(Q7M_GetTickCount());
  linkState_ = serial::kStateIdle;
  DsrCheck();
  counters_.Reset(deviceHandle_);
  running_.store(true);
  // Started last rather than created suspended and resumed: everything it
  // touches is ready by now.
  try {
    ioThread_ = std::thread(&clsCom::IoThreadMain, this);
  } catch (...) {
    running_.store(false);
    return SystemError(Q7M_ERROR_NOT_ENOUGH_MEMORY);
  }
  return kPdOk;
}

void clsCom::Teardown() {
  LastErrorKeeper keep;
  running_.store(false);
  if (stopEvent_ != nullptr) Q7M_SetEvent(stopEvent_);
  Q7M_SwitchToThread();
  // Every wait of the I/O thread includes the stop event, so it ends
  // promptly; joining (rather than a bounded wait) guarantees it no longer
  // touches what is freed below.
  if (ioThread_.joinable()) ioThread_.join();
  portSettings_.Restore(deviceHandle_);
  serial::ReleasePortExclusive(deviceHandle_);
  std::lock_guard<std::mutex> port(portLock_);
  for (Q7M_HANDLE* h : {&readReady_, &writeReady_, &stateEvent_, &dsrEvent_, &stopEvent_}) {
    if (*h != nullptr) Q7M_CloseHandle(*h);
    *h = nullptr;
  }
  receiver_.reset();
  sendPayload_.reset();
  sendFrame_.reset();
  receiveWork_.reset();
  response_.reset();
  rawCopy_.reset();
}

}  // namespace q7m
