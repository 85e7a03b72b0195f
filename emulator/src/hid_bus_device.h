// A reader on the virtual HID bus: a listening sequenced-packet socket in the
// bus directory. Every connection that opened for reports gets a copy of
// every input report, as every open hidraw descriptor does; output reports
// from any of them are commands to the one reader.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "event_loop.h"
#include "hid_report.h"
#include "link.h"
#include "reader.h"

namespace q7msim {

// The bus directory: $Q7M_HIDBUS_DIR, else /tmp/q7m-hidbus-<uid>.
std::string HidBusDirectory();

class HidBusDevice : public Link, public EventLoop::Watcher {
 public:
  HidBusDevice(Reader* reader, EventLoop* loop);
  ~HidBusDevice() override;

  LinkKind kind() const override { return LinkKind::kUsb; }
  bool Start(std::string* error) override;
  void Stop() override;
  std::string Address() const override { return path_; }
  void AddFields(FieldTable* table) override;
  std::string Describe() const override;
  std::string Act(const FaultRequest& request) override;
  void DeliverHeld(const uint8_t* message, size_t size) override;

  void OnIoReady(uint32_t events) override;

  static constexpr size_t kMaxConnections = 32;
  static constexpr size_t kMaxDelayed = 8;

 private:
  struct Connection : EventLoop::Watcher {
    enum class State { kFree, kOpening, kProbe, kReports };
    HidBusDevice* device = nullptr;
    unsigned number = 0;  // for the log
    int fd = -1;
    State state = State::kFree;
    uint16_t flags = 0;
    uint32_t pid = 0;
    uint64_t acceptedMs = 0;
    void OnIoReady(uint32_t events) override { device->OnConnection(this, events); }
  };
  struct Delayed {
    uint64_t dueMs = 0;
    size_t size = 0;
    uint8_t message[kMaxResponseBytes];
  };

  bool Plug(std::string* error);
  void Unplug(uint32_t replugAfterMs, const char* why);
  void Accept();
  void OnConnection(Connection* connection, uint32_t events);
  void HandleOpen(Connection* connection, const uint8_t* packet, size_t size);
  void Refuse(Connection* connection, uint16_t reason, const char* why);
  void HandleReport(Connection* connection, const uint8_t* packet, size_t size);
  void SendInput(const uint8_t* message, size_t size);
  void Delay(const uint8_t* message, size_t size, uint64_t dueMs);
  void OnDelayedDue();
  void OnOpenTimeout();
  void CloseConnection(Connection* connection, const char* why);
  bool HasReportsOpen(const Connection* except, bool exclusiveOnly) const;
  size_t BuildIdentity(uint8_t* out, size_t capacity) const;
  std::string SetWhileUnplugged() const;
  const char* name() const { return reader_->name().c_str(); }

  Reader* reader_;
  EventLoop* loop_;
  Timer delayTimer_;
  Timer replugTimer_;
  Timer openTimer_;  // closes connections that never send their open packet
  int listen_ = -1;
  bool started_ = false;
  bool plugged_ = false;
  std::string path_;
  unsigned nextConnection_ = 1;
  std::array<Connection, kMaxConnections> connections_{};

  // Delayed answers in order of arrival (a ring).
  std::array<Delayed, kMaxDelayed> delayed_{};
  size_t delayedHead_ = 0;
  size_t delayedCount_ = 0;

  // Identity.
  uint16_t vendorId_ = 0x0590;
  uint16_t productId_ = 52;
  uint16_t versionNumber_ = 0x0100;
  std::string manufacturer_ = "Q7M";
  std::string product_ = "Q7M card reader (emulated)";
  std::string usbSerial_;
  size_t inputLength_ = kLargestReport;
  size_t outputLength_ = kLargestReport;
  std::string busName_;
  bool sendDescriptor_ = true;
  uint32_t openTimeoutMs_ = 5000;

  ResponseBuffer response_;
  uint8_t packet_[kLargestReport + 1];
  uint8_t report_[kLargestReport];

  struct Counters {
    uint64_t opens = 0, refused = 0, reportsIn = 0, reportsOut = 0, badReports = 0;
    uint64_t dropped = 0, unplugs = 0;
  } counters_;
};

}  // namespace q7msim
