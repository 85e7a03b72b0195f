// clsDevice: the open and close sequence, the device-level exchange and the
// cancel event. Sharing between processes is in device_sharing.cpp.
#include <unistd.h>

#include <cstring>
#include <new>

#include "cls_device.h"
#include "pdlnk_result.h"
#include "pdlnk_trace.h"
#include "time_budget.h"

namespace q7m {

clsDevice::~clsDevice() {
  CloseBase();
}

uint32_t clsDevice::Open(const char* deviceName, bool share) {
  shared_ = share;
  char devicePath[kMaxDevicePath + 1] = {};
  if (uint32_t r = GetDevicePath(deviceName, share, devicePath); r != kPdOk) {
    Q7M_TRACE(kTraceDeviceInfo, "I:clsDevice::Open: GetDevicePath Failure(%08X)", r);
    return r;
  }
  devicePath[kMaxDevicePath] = '\0';

  uint32_t r;
  if (share) {
    r = OpenShared(devicePath);
  } else {
    std::memset(&localKey_, 0, sizeof localKey_);
    r = CreateDevice(devicePath);
  }
  if (r != kPdOk) return r;
  if (r = CreateCancelEvent(devicePath); r != kPdOk) return r;
  return MakeResource(devicePath);
}

uint32_t clsDevice::OpenShared(const char* devicePath) {
  m_ShareMemory.reset(new (std::nothrow) clsShareMemory());
  if (!m_ShareMemory) {
    Q7M_TRACE(kTraceDeviceError,
              "E:clsDevice::Open: clsShareMemory:Construction Failure(APIerror:%08X)",
              Q7M_ERROR_OUTOFMEMORY);
    return SystemError(Q7M_ERROR_OUTOFMEMORY);
  }
  m_MutexSession.reset(new (std::nothrow) clsMutex());
  if (!m_MutexSession) {
    Q7M_TRACE(kTraceDeviceError, "E:clsDevice::Open: clsMutex:Construction Failure(APIerror:%08X)",
              Q7M_ERROR_OUTOFMEMORY);
    return SystemError(Q7M_ERROR_OUTOFMEMORY);
  }
  if (uint32_t r = m_ShareMemory->Create(devicePath, kSharedDeviceAreaSize); r != kPdOk) {
    Q7M_TRACE(kTraceDeviceError, "E:clsDevice::Open: m_ShareMemory Open Failure(%08X)", r);
    return r;
  }
  if (uint32_t r = m_MutexSession->Create(devicePath, false, kMayCreate | kMayOpen); r != kPdOk) {
    Q7M_TRACE(kTraceDeviceError, "E:clsDevice::Open: m_MutexSession Open Failure(%08X)", r);
    return r;
  }

  if (uint32_t r = m_ShareMemory->Lock(Q7M_INFINITE); r != kPdOk) return r;
  uint32_t r;
  if (Area()->slotCount == 0) {
    r = CreateDevice(devicePath);
  } else {
    // Taking over a working handle keeps one file object per reader; a full
    // registry is final, any other failure means opening the reader anew.
    r = DuplecateDevice();
    if (r != kPdOk && r != kPdSlotsFull) r = CreateDevice(devicePath);
  }
  {
    LastErrorKeeper keep;
    m_ShareMemory->Unlock();
  }
  return r;
}

uint32_t clsDevice::CreateCancelEvent(const char* devicePath) {
  // Composing the name can run out of memory; it then fails as the event
  // would (MakeName leaves the error), never as an exception out of here.
  const char* name = shared_ ? MakeName(devicePath, "EvtCancel") : nullptr;
  if (!shared_ || name != nullptr) {
    cancelEvent_ = Q7M_CreateEvent(1, 0, name);
    FreeName();
  }
  if (cancelEvent_ == nullptr) {
    Q7M_TRACE(kTraceDeviceError,
              "E:clsDevice::CreateCancelEvent: CreateEvent Failure(APIerror:%08X)",
              Q7M_GetLastError());
    return kPdSystemError;
  }
  return kPdOk;
}

uint32_t clsDevice::CreateDevice(const char* devicePath) {
  if (uint32_t r = OpenDevice(devicePath, shared_); r != kPdOk) {
    Q7M_TRACE(kTraceDeviceError, "E:clsDevice::CreateDevice: OpenDevice Failure(%08X)", r);
    return r;
  }
  if (!shared_) return kPdOk;
  SharedDeviceArea* area = Area();
  if (area->slotCount == 0) {
    area->slotCount = kMaxHandleSlots;
    area->slots[0].inUse = 0;
  }
  return RegisterDeviceHandle();
}

void clsDevice::CloseBase() {
  LastErrorKeeper keep;
  m_MutexSession.reset();
  if (handleMutex_) {
    // Waiting for the own handle mutex lets a process that is taking over
    // our handle finish first. It is released before closing: a closed but
    // still owned mutex would block every later taker until this thread
    // ends, while it holds the area lock we need below.
    handleMutex_->Wait(Q7M_INFINITE);
    handleMutex_->Release();
    handleMutex_->Close();
    handleMutex_.reset();
  }
  if (cancelEvent_ != nullptr) {
    Q7M_CloseHandle(cancelEvent_);
    cancelEvent_ = nullptr;
  }
  if (deviceHandle_ >= 0) {
    ::close(deviceHandle_);
    deviceHandle_ = -1;
  }
  crypto_.reset();
  if (m_ShareMemory) {
    if (ownSlot_ >= 0 && m_ShareMemory->Lock(Q7M_INFINITE) == kPdOk) {
      HandleSlot& slot = Area()->slots[ownSlot_];
      // Only our own registration is cleared: should the slot have been
      // taken over meanwhile, it belongs to another process now.
      if (slot.inUse != 0 && slot.processId == Q7M_GetCurrentProcessId() &&
          slot.handleValue == ownHandleValue_) {
        slot.inUse = 0;
        slot.processId = 0;
        slot.handleValue = kNoHandleValue;
      }
      m_ShareMemory->Unlock();
    }
    m_ShareMemory->Destroy();
    m_ShareMemory.reset();
  }
  ownSlot_ = -1;
}

SharedDeviceArea* clsDevice::Area() const {
  return static_cast<SharedDeviceArea*>(m_ShareMemory->Data());
}

SessionKeyRecord* clsDevice::SessionKey() {
  return m_ShareMemory ? &Area()->sessionKey : &localKey_;
}

CryptoEngine* clsDevice::Crypto() {
  if (!crypto_) crypto_.reset(new (std::nothrow) CryptoEngine());
  return crypto_.get();
}

uint32_t clsDevice::MEMALLOC(std::unique_ptr<uint8_t[]>* buffer, size_t size) {
  buffer->reset();
  buffer->reset(new (std::nothrow) uint8_t[size]);
  if (*buffer == nullptr) {
    Q7M_TRACE(kTraceDeviceError, "E:clsDevice::MEMALLOC: Memory Over(size=%d)",
              static_cast<int>(size));
    return SystemError(Q7M_ERROR_OUTOFMEMORY);
  }
  return kPdOk;
}

// ---- the device-level exchange ----

static_assert(kTimeout == kPdTimeout && kSystemFailure == kPdSystemError);

uint32_t clsDevice::EnterSession(uint32_t timeLimit) {
  if (!m_MutexSession) return kPdOk;
  return m_MutexSession->Wait(timeLimit);
}

void clsDevice::LeaveSession() {
  if (!m_MutexSession) return;
  LastErrorKeeper keep;
  m_MutexSession->Release();
}

// Another user of a shared reader holds the session for the whole of its
// own send or receive, a receive for as long as its answer takes. The wait
// for it is part of this call's time limit, and the transfer has what is
// left: no call waits longer than its caller allowed because another one
// waits for the reader.
uint32_t clsDevice::DeviceSend(const uint8_t* message, uint32_t length, uint32_t timeLimit) {
  TimeBudget budget(timeLimit);
  if (uint32_t r = EnterSession(timeLimit); r != kPdOk) return r;
  budget.Update();
  uint32_t r;
  {
    std::lock_guard<std::mutex> device(deviceLock_);
    SessionKeyRecord* record = SessionKey();
    SessionKeyRecord* key = nullptr;
    if (LoadCryptoMode(*record) != 0) key = record;
    if (key != nullptr && Crypto() == nullptr)
      r = SystemError(Q7M_ERROR_OUTOFMEMORY);
    else
      r = Send(message, length, key, budget.left());
  }
  LeaveSession();
  return r;
}

uint32_t clsDevice::DeviceReceive(uint8_t* buffer, uint32_t size, uint32_t* received,
                                  uint32_t timeLimit) {
  TimeBudget budget(timeLimit);
  if (uint32_t r = EnterSession(timeLimit); r != kPdOk) return r;
  budget.Update();
  uint32_t r;
  {
    std::lock_guard<std::mutex> device(deviceLock_);
    SessionKeyRecord* record = SessionKey();
    SessionKeyRecord* key = nullptr;
    if (LoadCryptoMode(*record) != 0) key = record;
    if (key != nullptr && Crypto() == nullptr)
      r = SystemError(Q7M_ERROR_OUTOFMEMORY);
    else
      r = Receive(buffer, size, received, key, budget.left());
  }
  LeaveSession();
  return r;
}

uint32_t clsDevice::GetCryptoMode(int* mode) {
  if (uint32_t r = EnterSession(); r != kPdOk) return r;
  *mode = static_cast<int>(LoadCryptoMode(*SessionKey()));
  LeaveSession();
  return kPdOk;
}

uint32_t clsDevice::ImportSessionKey(const void* key, const void* exchangeKey, int keyType) {
  if (key == nullptr) {
    if (m_ShareMemory) {
      if (uint32_t r = m_ShareMemory->Lock(Q7M_INFINITE); r != kPdOk) return r;
      StoreCryptoMode(&Area()->sessionKey, 0);
      m_ShareMemory->Unlock();
    } else {
      StoreCryptoMode(&localKey_, 0);
    }
    return kPdOk;
  }
  if (uint32_t r = EnterSession(); r != kPdOk) return r;
  uint32_t r;
  {
    // The engine is made under the device lock: a running exchange of
    // another thread makes it there too when its message is encrypted.
    std::lock_guard<std::mutex> device(deviceLock_);
    CryptoEngine* crypto = Crypto();
    if (crypto == nullptr)
      r = SystemError(Q7M_ERROR_OUTOFMEMORY);
    else
      r = crypto->ImportSessionKey(SessionKey(), key, exchangeKey, static_cast<uint32_t>(keyType));
  }
  LeaveSession();
  return r;
}

// ---- cancel ----

uint32_t clsDevice::Cancel() {
  if (cancelEvent_ == nullptr) {
    Q7M_TRACE(kTraceDeviceError, "E:clsDevice::Cancel: Handle is INVALID(%08X)", kPdInvalidHandle);
    return kPdInvalidHandle;
  }
  // The issuer is recorded and the event set under one hold of the area
  // lock, so a process clearing a dead issuer's cancel can never wipe out
  // this one.
  const bool locked = m_ShareMemory && m_ShareMemory->Lock(Q7M_INFINITE) == kPdOk;
  if (locked) {
    CancelIssuer& issuer = Area()->cancelIssuer;
    if (ownSlot_ >= 0) {
      const HandleSlot& slot = Area()->slots[ownSlot_];
      issuer = {static_cast<uint32_t>(ownSlot_) + 1, slot.processId, slot.createdTick,
                slot.handleValue};
    } else {
      issuer = {};
    }
  }
  const bool set = Q7M_SetEvent(cancelEvent_) != 0;
  if (locked) {
    LastErrorKeeper keep;
    m_ShareMemory->Unlock();
  }
  if (!set) {
    Q7M_TRACE(kTraceDeviceError, "E:clsDevice::Cancel: SetEvent Failure(APIerror:%08X)",
              Q7M_GetLastError());
    return kPdSystemError;
  }
  Q7M_SwitchToThread();
  return kPdOk;
}

bool clsDevice::CancelIssuerEnded() {
  CancelIssuer& issuer = Area()->cancelIssuer;
  // An event set by a build that records no issuer is left as it is.
  if (issuer.slot == 0 || issuer.slot > kMaxHandleSlots) return false;
  HandleSlot* slot = &Area()->slots[issuer.slot - 1];
  if (slot->inUse == 0 || slot->processId != issuer.processId ||
      slot->createdTick != issuer.createdTick || slot->handleValue != issuer.handleValue)
    return true;  // the issuer's registration is gone: it closed the device
  if (!SlotOwnerEnded(slot)) return false;
  FreeStaleSlot(slot);
  return true;
}

uint32_t clsDevice::Reset() {
  if (cancelEvent_ == nullptr) {
    Q7M_TRACE(kTraceDeviceInfo, "I:clsDevice::Reset: Handle is INVALID(%08X)", kPdInvalidHandle);
    return kPdInvalidHandle;
  }
  if (!Q7M_ResetEvent(cancelEvent_)) {
    Q7M_TRACE(kTraceDeviceError, "E:clsDevice::Reset: SetEvent Failure(APIerror:%08X)",
              Q7M_GetLastError());
    return kPdSystemError;
  }
  return kPdOk;
}

uint32_t clsDevice::IsCancel() {
  if (cancelEvent_ == nullptr) {
    Q7M_TRACE(kTraceDeviceInfo, "I:clsDevice::IsCancel: Handle is INVALID(%08X)", kPdInvalidHandle);
    return kPdInvalidHandle;
  }
  uint32_t wait = Q7M_WaitForSingleObject(cancelEvent_, 0);
  if (wait == Q7M_WAIT_OBJECT_0 && m_ShareMemory && m_ShareMemory->Lock(Q7M_INFINITE) == kPdOk) {
    // A cancel must not outlive the process that issued it: one killed
    // between its cancel and its reset would otherwise leave every process
    // of the device cancelled until all of them had closed it. Checked only
    // when the event is set, so an idle device costs nothing here.
    wait = Q7M_WaitForSingleObject(cancelEvent_, 0);
    if (wait == Q7M_WAIT_OBJECT_0 && CancelIssuerEnded()) {
      const CancelIssuer issuer = Area()->cancelIssuer;
      Q7M_ResetEvent(cancelEvent_);
      Area()->cancelIssuer = {};
      Q7M_TRACE(kTraceDeviceInfo, "I:clsDevice::IsCancel: Cancel Of Ended Owner Reset(PID=%08lX)",
                TraceValue(issuer.processId));
      wait = Q7M_WAIT_TIMEOUT;
    }
    m_ShareMemory->Unlock();
  }
  switch (wait) {
    case Q7M_WAIT_OBJECT_0:
      Q7M_TRACE(kTraceDeviceInfo, "I:clsDevice::IsCancel: Now Cancel ");
      return kPdCancelled;
    case Q7M_WAIT_TIMEOUT:
    case Q7M_WAIT_ABANDONED_0:
      Q7M_TRACE(kTraceDeviceInfo, "I:clsDevice::IsCancel: Not Cancel(Timeout or Abandoned(%08X))",
                wait);
      return kPdOk;
    default:
      Q7M_TRACE(kTraceDeviceError,
                "E:clsDevice::IsCancel: WaitForSingleObject Failure(%08X/APIerror:%08X)", wait,
                Q7M_GetLastError());
      return kPdSystemError;
  }
}

}  // namespace q7m
