// The reader's side of the serial link on a pseudo-terminal:
// - a command frame with a good BCC is acknowledged with DLE ACK and
//   executed; a damaged one (wrong BCC, DLE followed by garbage, more data
//   than the reader takes) is answered with DLE NAK;
// - DLE ENQ asks for the response: the response frame is sent, and sent again
//   on each further DLE ENQ until the next command; an ENQ that comes before
//   a delayed answer is ready is answered as soon as it is;
// - DLE EOT cancels whatever is going on and is answered with DLE EOT.
#pragma once

#include <cstdint>
#include <string>

#include "event_loop.h"
#include "link.h"
#include "pty_port.h"
#include "reader.h"
#include "serial_frame.h"

namespace q7msim {

class SerialLink : public Link, public EventLoop::Watcher {
 public:
  SerialLink(Reader* reader, EventLoop* loop);
  ~SerialLink() override;

  LinkKind kind() const override { return LinkKind::kSerial; }
  bool Start(std::string* error) override;
  void Stop() override;
  std::string Address() const override { return pty_.slavePath(); }
  void AddFields(FieldTable* table) override;
  std::string Describe() const override;
  std::string Act(const FaultRequest& request) override;
  void DeliverHeld(const uint8_t* message, size_t size) override;

  void OnIoReady(uint32_t events) override;

 private:
  // Where the answer to the last command stands.
  enum class Answer {
    kNone,      // no command since the last cancel
    kPending,   // delayed by a fault, not ready yet
    kReady,     // sent on the next DLE ENQ (again and again)
    kWithheld,  // a fault keeps it back for good
  };
  // A frame this far beyond the host's limit makes the oversize fault.
  static constexpr size_t kOversizeBytes = kHostReceiveLimit + 50;
  static constexpr size_t kOutputCapacity = 16384;

  void Consume(const uint8_t* bytes, size_t count);
  void Handle(FrameReceiver::Event event);
  bool LineUsable();
  void OnCommandFrame();
  void OnEnq();
  void OnEot();
  void OnAnswerDue();
  void OnFrameTimeout();
  void SendControl(uint8_t code, const char* name);
  void SendResponseFrame();
  void Write(const uint8_t* bytes, size_t count);
  void Flush();
  const char* name() const { return reader_->name().c_str(); }

  Reader* reader_;
  EventLoop* loop_;
  PtyPort pty_;
  FrameReceiver receiver_;
  Timer answerTimer_;
  Timer frameTimer_;
  ResponseBuffer response_;
  Answer answer_ = Answer::kNone;
  bool enqWaiting_ = false;
  bool dsrOff_ = false;
  bool started_ = false;
  bool wantWrite_ = false;

  // Settings.
  uint32_t baud_ = 38400;
  bool lineCheck_ = true;
  uint32_t frameTimeoutMs_ = 1000;

  // The line-settings problems last reported (LineProblem bits) and the
  // host speed they were seen with.
  uint32_t lineProblems_ = 0;
  uint32_t lineHostBaud_ = 0;
  uint8_t
      frame_[MaxFrameSize(kMaxResponseBytes > kOversizeBytes ? kMaxResponseBytes : kOversizeBytes)];
  uint8_t padded_[kMaxResponseBytes > kOversizeBytes ? kMaxResponseBytes : kOversizeBytes];
  uint8_t output_[kOutputCapacity];
  size_t outputSize_ = 0;

  struct Counters {
    uint64_t frames = 0, acks = 0, naks = 0, enqs = 0, eots = 0, responses = 0;
    uint64_t damaged = 0, ignored = 0, dropped = 0;
  } counters_;
};

}  // namespace q7msim
