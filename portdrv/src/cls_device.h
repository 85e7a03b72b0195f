// The device base class of both transports: the open and close sequence,
// sharing one reader between processes (the shared device area with its
// handle registry, the session mutex, the named cancel event and taking
// over another process's open handle), the device-level exchange and the
// cancel. The transports (clsCom for serial ports, ComHID for USB) supply
// the eight operations below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "crypto_engine.h"
#include "q7m/common/cls_mutex.h"
#include "q7m/common/cls_share_memory.h"
#include "q7m/common/object_name.h"
#include "q7m/pdlnk.h"
#include "session_key_record.h"
#include "shared_device_area.h"

namespace q7m {

// Longest device path a transport may produce (longer ones answer
// kPdSystemError).
constexpr size_t kMaxDevicePath = 255;

class clsDevice : public clsNamedObject {
 public:
  explicit clsDevice(const void* module) : module_(module) {}
  // The base teardown; the transport's own teardown has run before it.
  ~clsDevice() override;

  // The device's part of the open sequence: device path, shared objects or
  // local key record, creating or taking over the OS handle, the cancel
  // event and the transport's resources. On failure everything opened so
  // far is closed again by destroying the object.
  uint32_t Open(const char* deviceName, bool share);

  // One message exchange step under the session mutex and the device lock,
  // with the session key record when the crypto mode is on.
  uint32_t DeviceSend(const uint8_t* message, uint32_t length, uint32_t timeLimit);
  uint32_t DeviceReceive(uint8_t* buffer, uint32_t size, uint32_t* received, uint32_t timeLimit);
  uint32_t GetCryptoMode(int* mode);
  uint32_t ImportSessionKey(const void* key, const void* exchangeKey, int keyType);

  // Sets / resets / polls the cancel event: kPdOk, kPdInvalidHandle (no
  // event), kPdSystemError; IsCancel answers kPdCancelled while the event is
  // set. In shared mode a cancel belongs to the registration of the process
  // that set it: IsCancel resets an event whose issuer has closed the device
  // or ended, instead of answering kPdCancelled for it.
  uint32_t Cancel();
  uint32_t Reset();
  uint32_t IsCancel();

  // ---- the transport's operations ----
  // The contract every transport keeps (clsCom for a serial port, ComHID
  // for a USB HID reader):
  //  - Results are PDLNK result codes. kPdSystemError always comes with the
  //    last error set (SystemError); every other result leaves the last
  //    error as the operation found it, unless it says otherwise.
  //  - Thread: each operation runs on the thread of the application that
  //    called the export (or of the open), never on a transport's own
  //    thread; a transport's threads only feed the waits of Send/Receive.
  //  - GetDevicePath, OpenDevice, MakeResource: only during Open, in this
  //    order, with no lock of this object held and before any other thread
  //    can reach the device (it is not in the device table yet). They do not
  //    wait for the reader: they read the configuration, open the OS handle
  //    without blocking, make buffers, events and threads. kPdOk,
  //    kPdNotFound / kPdNotSupported (no such reader or back end),
  //    kPdSystemError (e.g. Q7M_ERROR_SHARING_VIOLATION: the port is another
  //    process's; Q7M_ERROR_FILENAME_EXCED_RANGE: the path is too long).
  //    MakeResource also runs after the OS handle was taken over from
  //    another process instead of opened.
  //  - Send, Receive: the device's one running exchange (the device table's
  //    busy flag), under the session mutex shared by every process using the
  //    reader (waited for without limit) and this object's device lock. They
  //    block for at most timeLimit milliseconds, waiting on events (no
  //    polling), and end early when the cancel event is set. `key` is the
  //    session key record when the crypto mode is on, else null. kPdOk,
  //    kPdTimeout, kPdCancelled, kPdTooLong, kPdMalformed,
  //    kPdDecryptedTooLong, kPdRemoved, kPdLineFault (serial),
  //    kPdSystemError.
  //  - Exists, GetDeviceInfo: under the device table's lock, without the
  //    busy flag or the session mutex, so they reach a device whose exchange
  //    is running; they never wait for the reader (Exists also checks a
  //    handle taken over from another process during Open). kPdOk, kPdRemoved
  //    (Exists), kPdSystemError.
  virtual uint32_t Send(const uint8_t* message, uint32_t length, SessionKeyRecord* key,
                        uint32_t timeLimit) = 0;
  virtual uint32_t Receive(uint8_t* buffer, uint32_t size, uint32_t* received,
                           SessionKeyRecord* key, uint32_t timeLimit) = 0;
  // Is the reader still there (checked on a handle taken over from another
  // process, too).
  virtual uint32_t Exists() = 0;
  virtual uint32_t GetDeviceInfo(PDLNK_DEVICE_INFO* info) = 0;
  // Opens the OS handle (into deviceHandle_).
  virtual uint32_t OpenDevice(const char* devicePath, bool share) = 0;
  // Turns the caller's name into the OS device path (at most kMaxDevicePath
  // characters into `path`, which holds kMaxDevicePath + 1).
  virtual uint32_t GetDevicePath(const char* deviceName, bool share, char* path) = 0;
  // Buffers, events and threads of the transport.
  virtual uint32_t MakeResource(const char* devicePath) = 0;

  bool shared() const { return shared_; }
  int deviceHandle() const { return deviceHandle_; }
  // The slot this process advertises its handle in (-1: none).
  int ownSlotIndex() const { return ownSlot_; }

 protected:
  // Replaces `*buffer` by a new one of `size` bytes: kPdOk, or
  // kPdSystemError with Q7M_ERROR_OUTOFMEMORY.
  static uint32_t MEMALLOC(std::unique_ptr<uint8_t[]>* buffer, size_t size);
  // The crypto engine, made on first need; null when out of memory.
  CryptoEngine* Crypto();

  const void* module() const { return module_; }
  Q7M_HANDLE cancelEvent() const { return cancelEvent_; }

  // The open OS handle of the reader (-1 while closed).
  int deviceHandle_ = -1;

 private:
  uint32_t OpenShared(const char* devicePath);
  uint32_t CreateCancelEvent(const char* devicePath);
  uint32_t CreateDevice(const char* devicePath);
  uint32_t RegisterDeviceHandle();
  // Creates (register: a new name from the slot's fresh time stamp) or opens
  // (duplicate: the name the slot advertises) the slot's handle mutex.
  uint32_t CreateMutexDeviceHandle(HandleSlot* slot, bool registerMode, clsMutex* mutex);
  uint32_t DuplecateDevice();
  uint32_t DuplecateDeviceHandle(HandleSlot* slot);
  HandleSlot* FirstFreeSlot() const;
  uint32_t SlotIndex(const HandleSlot* slot) const;
  // Whether the slot's handle mutex has gone (its owner closed or ended).
  bool SlotOwnerEnded(HandleSlot* slot);
  // Frees a slot whose owner ended, with an information line.
  void FreeStaleSlot(HandleSlot* slot);
  // Frees every slot whose owner ended; how many.
  uint32_t FreeStaleSlots();
  // With the area locked: whether the recorded issuer of the set cancel
  // event no longer holds the registration it cancelled from.
  bool CancelIssuerEnded();
  void CloseBase();
  SharedDeviceArea* Area() const;
  SessionKeyRecord* SessionKey();
  // Acquires the session mutex in shared mode within `timeLimit` ms: kPdOk,
  // kPdTimeout or kPdSystemError.
  uint32_t EnterSession(uint32_t timeLimit = Q7M_INFINITE);
  void LeaveSession();

  const void* module_;
  Q7M_HANDLE cancelEvent_ = nullptr;
  std::unique_ptr<clsMutex> handleMutex_;    // advertises the own slot
  std::unique_ptr<clsMutex> m_MutexSession;  // serialises exchanges of all processes
  static constexpr uint32_t kMaxHandleSlots = kHandleSlotCount;
  std::unique_ptr<clsShareMemory> m_ShareMemory;
  std::unique_ptr<CryptoEngine> crypto_;
  SessionKeyRecord localKey_{};
  std::mutex deviceLock_;
  int ownSlot_ = -1;
  uint32_t ownHandleValue_ = kNoHandleValue;  // the handle our slot advertises
  bool shared_ = false;
};

}  // namespace q7m
