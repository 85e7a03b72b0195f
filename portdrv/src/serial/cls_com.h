// clsCom: the transport for a reader on a serial port. It owns the port
// exclusively and runs one I/O thread that receives bytes and drives the
// link state machine; Send delivers one command frame and makes sure the
// reader acknowledged it, Receive asks for the response frame (DLE ENQ) and
// waits for it, asking again when it is faulty or late. A message starting
// with "E" travels as DLE EOT, and the reader's DLE EOT comes back as the
// one-byte response "E".
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "byte_receiver.h"
#include "cls_device.h"
#include "link_state.h"
#include "serial_port.h"

namespace q7m {

class clsCom : public clsDevice, private serial::ByteReceiver::Hooks {
 public:
  static constexpr uint32_t kMaxSendMessage = 2100;
  static constexpr uint32_t kMaxReceiveMessage = 1050;
  static constexpr size_t kSendFrameSize = 4200;
  static constexpr size_t kRawCopySize = 2100;

  explicit clsCom(const void* module) : clsDevice(module) {}
  ~clsCom() override;

  uint32_t Send(const uint8_t* message, uint32_t length, SessionKeyRecord* key,
                uint32_t timeLimit) override;
  uint32_t Receive(uint8_t* buffer, uint32_t size, uint32_t* received, SessionKeyRecord* key,
                   uint32_t timeLimit) override;
  uint32_t Exists() override { return 0; }
  uint32_t GetDeviceInfo(PDLNK_DEVICE_INFO* info) override;
  uint32_t OpenDevice(const char* devicePath, bool share) override;
  uint32_t GetDevicePath(const char* deviceName, bool share, char* path) override;
  uint32_t MakeResource(const char* devicePath) override;

  // The settings in force (for tests and diagnostics).
  int32_t baudRate() const { return baudRate_; }
  bool baudGiven() const { return baudGiven_; }
  const serial::LinkTimings& timings() const { return timings_; }
  bool checkDsr() const { return checkDsr_; }

 private:
  enum class ReadResult { kByte, kSilence, kStopped };

  // ---- set-up and teardown ----
  uint32_t ConfigurePort();
  uint32_t CreateEvents();
  void Teardown();

  // ---- the caller's side ----
  uint32_t FrameSend(const uint8_t* message, uint32_t length, uint32_t timeLimit);
  uint32_t EndOfTransmissionSend(uint32_t timeLimit);
  uint32_t Poll(uint32_t* waitLength);
  uint32_t ResponseWait(uint32_t timeLimit);
  uint32_t WaitForDsr(uint32_t timeLimit);
  uint32_t DsrCheck();
  // Writes all bytes: kPdOk, kPdCancelled (while the port would not take
  // them), or kPdSystemError.
  uint32_t Write(const uint8_t* bytes, size_t count);
  void SetState(uint32_t state, bool resetStateEvent);

  // ---- the I/O thread ----
  void IoThreadMain();
  uint32_t RunReceiver(bool discard, uint32_t code);
  ReadResult ReadByte(uint8_t* byte);
  void Notify(uint32_t event);
  // DSR looked at by the I/O thread: a change runs the DSR check.
  void WatchDsrLine();
  void OnDsrRaised();
  // Line error check: kEventNone, or the line error event (kEventParity to
  // kEventIoError), traced. The
  // caller holds the port lock (or the I/O thread is not running).
  uint32_t LineErrorCheck(const char* label, bool withQueue);

  // ByteReceiver::Hooks
  uint32_t CheckLine(const char* label) override { return LineErrorCheck(label, false); }
  void OnFrameStart() override { Notify(serial::kEventFrameStart); }

  // I/O thread and the port lock, which guards the link state, the
  // response and the receive working buffer.
  std::thread ioThread_;
  std::mutex portLock_;

  std::unique_ptr<uint8_t[]> sendPayload_;  // 2100
  std::unique_ptr<uint8_t[]> sendFrame_;    // 4200
  std::unique_ptr<uint8_t[]> receiveWork_;  // 1050
  std::unique_ptr<uint8_t[]> response_;     // 1050
  std::unique_ptr<uint8_t[]> rawCopy_;      // 2100
  std::optional<serial::ByteReceiver> receiver_;

  // Waitable objects: port readable, port writable, the state event (set
  // by the I/O thread when the link state has news), the DSR event (set
  // while DSR is present) and the stop event of the I/O thread.
  Q7M_HANDLE readReady_ = nullptr;
  Q7M_HANDLE writeReady_ = nullptr;
  Q7M_HANDLE stateEvent_ = nullptr;
  Q7M_HANDLE dsrEvent_ = nullptr;
  Q7M_HANDLE stopEvent_ = nullptr;

  std::string portName_;
  std::string nodePath_;
  serial::PortSettings portSettings_;  // what the port had before us
  bool baudGiven_ = false;
  int32_t baudRate_ = 38400;
  std::atomic<bool> running_{false};
  std::atomic<uint32_t> lastSendTick_{0};
  uint32_t linkState_ = serial::kStateIdle;
  uint32_t lastEvent_ = serial::kEventNone;
  uint32_t responseLength_ = 0;
  bool dsrSeen_ = false;
  bool checkDsr_ = true;
  bool modemLines_ = false;
  serial::LinkTimings timings_;

  // I/O thread only: bytes read from the port but not yet received, the
  // kernel's error counters, a read failure still to be reported, and the
  // DSR level it last saw.
  uint8_t chunk_[256];
  size_t chunkPos_ = 0;
  size_t chunkLength_ = 0;
  serial::LineErrorCounters counters_;
  bool ioErrorPending_ = false;
  bool portGone_ = false;
  bool dsrLevel_ = true;  // the DSR level last seen, to notice its changes
};

}  // namespace q7m
