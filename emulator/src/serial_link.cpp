#include "serial_link.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "text_util.h"

namespace q7msim {

SerialLink::SerialLink(Reader* reader, EventLoop* loop)
    : reader_(reader),
      loop_(loop),
      answerTimer_(loop, [this] { OnAnswerDue(); }),
      frameTimer_(loop, [this] { OnFrameTimeout(); }) {}

SerialLink::~SerialLink() {
  Stop();
}

bool SerialLink::Start(std::string* error) {
  if (started_) return true;
  if (!answerTimer_.Init(error) || !frameTimer_.Init(error) || !pty_.Open(error)) return false;
  if (!loop_->Watch(pty_.master(), EPOLLIN, this)) {
    *error = std::string("epoll: ") + std::strerror(errno);
    pty_.Close();
    return false;
  }
  started_ = true;
  reader_->log().Note(name(), "LINK", "SERIAL %s baud=%u", pty_.slavePath().c_str(), baud_);
  return true;
}

void SerialLink::Stop() {
  if (!started_) return;
  loop_->Unwatch(pty_.master());
  pty_.Close();
  answerTimer_.Cancel();
  frameTimer_.Cancel();
  started_ = false;
}

void SerialLink::AddFields(FieldTable* t) {
  t->Add(
      "BaudRate", "line speed the reader runs at (the host must set the same)",
      [this] { return std::to_string(baud_); },
      [this](std::string_view v) {
        uint64_t baud = 0;
        if (!ParseUnsigned(v, 4000000, &baud) || !IsTermiosBaud(static_cast<uint32_t>(baud)))
          return std::string("a standard rate from 1200 to 921600");
        baud_ = static_cast<uint32_t>(baud);
        return std::string();
      });
  t->AddSwitch("LineCheck", "on: ignore the host while its line settings differ from the reader's",
               &lineCheck_);
  t->AddNumber("FrameTimeout", "ms of silence after which a half-received frame is dropped", 1,
               60000, "1 to 60000 ms", &frameTimeoutMs_);
  t->Add("Dsr", "DSR as the reader drives it (read-only; see dsr-off)",
         [this] { return std::string(dsrOff_ ? "off" : "on"); });
}

std::string SerialLink::Describe() const {
  const char* answer = "none";
  switch (answer_) {
    case Answer::kNone:
      break;
    case Answer::kPending:
      answer = "pending";
      break;
    case Answer::kReady:
      answer = "ready";
      break;
    case Answer::kWithheld:
      answer = "withheld";
      break;
  }
  std::string text;
  text += "Answer=" + std::string(answer) + "\n";
  text += "LineProblem=" +
          (lineProblems_ == 0 ? std::string("none")
                              : DescribeLineProblems(lineProblems_, lineHostBaud_, baud_)) +
          "\n";
  text += "CommandFrames=" + std::to_string(counters_.frames) + "\n";
  text += "AcksSent=" + std::to_string(counters_.acks) + "\n";
  text += "NaksSent=" + std::to_string(counters_.naks) + "\n";
  text += "EnqsReceived=" + std::to_string(counters_.enqs) + "\n";
  text += "EotsReceived=" + std::to_string(counters_.eots) + "\n";
  text += "ResponseFrames=" + std::to_string(counters_.responses) + "\n";
  text += "DamagedFrames=" + std::to_string(counters_.damaged) + "\n";
  text += "Ignored=" + std::to_string(counters_.ignored) + "\n";
  text += "OutputDropped=" + std::to_string(counters_.dropped) + "\n";
  return text;
}

std::string SerialLink::Act(const FaultRequest& request) {
  using Action = FaultRequest::Action;
  switch (request.action) {
    case Action::kDsrOff:
      // A pseudo-terminal has no DSR line to drop. The reader behaves as a
      // real one with DSR off does: it ignores the line until DSR is back.
      dsrOff_ = true;
      reader_->log().Note(name(), "FAULT", "dsr-off (reader silent; a pty cannot drop DSR)");
      return {};
    case Action::kDsrOn:
      dsrOff_ = false;
      receiver_.Reset();
      reader_->log().Note(name(), "FAULT", "dsr-on");
      return {};
    default:
      return "unplug and replug apply to USB readers only";
  }
}

void SerialLink::OnIoReady(uint32_t events) {
  if (events & EPOLLOUT) Flush();
  if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
    uint8_t chunk[512];
    for (;;) {
      ssize_t n = read(pty_.master(), chunk, sizeof chunk);
      if (n > 0) {
        Consume(chunk, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      break;  // EAGAIN: drained; EIO cannot last while the slave is held open
    }
  }
}

void SerialLink::Consume(const uint8_t* bytes, size_t count) {
  reader_->log().Bytes(name(), "RX", bytes, count);
  for (size_t i = 0; i < count; ++i) {
    FrameReceiver::Event event = receiver_.Feed(bytes[i]);
    if (event != FrameReceiver::Event::kNone) Handle(event);
  }
  if (receiver_.inFrame())
    frameTimer_.Start(frameTimeoutMs_);
  else if (frameTimer_.running())
    frameTimer_.Cancel();
}

bool SerialLink::LineUsable() {
  if (dsrOff_) {
    ++counters_.ignored;
    reader_->log().Note(name(), "LINK", "ignored (DSR off)");
    return false;
  }
  if (!lineCheck_) return true;
  uint32_t hostBaud = 0;
  uint32_t problems = pty_.CheckLine(baud_, &hostBaud);
  if (problems != lineProblems_ || hostBaud != lineHostBaud_) {
    // Described only when they change: the text costs allocations.
    lineProblems_ = problems;
    lineHostBaud_ = hostBaud;
    if (problems != 0) {
      std::string text = DescribeLineProblems(problems, hostBaud, baud_);
      reader_->log().Note(name(), "WARN", "line settings: %s", text.c_str());
    }
  }
  if (problems == 0) return true;
  // What a reader makes of bytes at the wrong speed or framing is noise.
  ++counters_.ignored;
  reader_->log().Note(name(), "LINK", "ignored (line settings)");
  return false;
}

void SerialLink::Handle(FrameReceiver::Event event) {
  using Event = FrameReceiver::Event;
  switch (event) {
    case Event::kFrame:
      if (LineUsable()) OnCommandFrame();
      break;
    case Event::kBadCheck:
    case Event::kOverflow:
    case Event::kGarbled:
      if (!LineUsable()) break;
      ++counters_.damaged;
      reader_->state().Count(ReaderCounter::kLinkErrors);
      reader_->log().Note(name(), "WARN", "%s command frame",
                          event == Event::kBadCheck   ? "wrong BCC in"
                          : event == Event::kOverflow ? "oversized"
                                                      : "garbled");
      SendControl(ctl::kNak, "NAK");
      break;
    case Event::kRestart:
      reader_->log().Note(name(), "WARN", "frame restarted (DLE STX inside a frame)");
      break;
    case Event::kEnq:
      if (LineUsable()) OnEnq();
      break;
    case Event::kEot:
      if (LineUsable()) OnEot();
      break;
    case Event::kAck:
    case Event::kNak:
      reader_->log().Note(name(), "WARN", "host sent DLE %s", event == Event::kAck ? "ACK" : "NAK");
      break;
    case Event::kNone:
      break;
  }
}

void SerialLink::OnCommandFrame() {
  ++counters_.frames;
  FaultPlan& faults = reader_->faults();
  if (faults.Take(FaultKind::kNoAck)) {
    reader_->log().Note(name(), "FAULT", "no-ack");
    return;
  }
  if (faults.Take(FaultKind::kNak)) {
    reader_->log().Note(name(), "FAULT", "nak");
    SendControl(ctl::kNak, "NAK");
    return;
  }
  SendControl(ctl::kAck, "ACK");
  // A new command ends the previous exchange, answered or not.
  answerTimer_.Cancel();
  enqWaiting_ = false;
  reader_->Execute(receiver_.data(), receiver_.size(), &response_);
  std::string_view code = CommandCodeOf(receiver_.data(), receiver_.size());
  uint32_t ms = 0;
  if (reader_->AnswerHeld()) {
    answer_ = Answer::kPending;  // until DeliverHeld
  } else if (faults.TakeFor(FaultKind::kNoAnswer, code)) {
    answer_ = Answer::kWithheld;
    reader_->log().Note(name(), "FAULT", "no-answer");
  } else if (faults.TakeFor(FaultKind::kLate, code, &ms)) {
    answer_ = Answer::kPending;
    answerTimer_.Start(ms);
    reader_->log().Note(name(), "FAULT", "late ms=%u", ms);
  } else {
    answer_ = Answer::kReady;
  }
}

void SerialLink::OnEnq() {
  ++counters_.enqs;
  switch (answer_) {
    case Answer::kNone:
      reader_->log().Note(name(), "LINK", "ENQ without a command: no answer");
      break;
    case Answer::kWithheld:
      reader_->log().Note(name(), "LINK", "ENQ: answer withheld");
      break;
    case Answer::kPending:
      enqWaiting_ = true;
      reader_->log().Note(name(), "LINK", "ENQ: answer not ready yet");
      break;
    case Answer::kReady:
      SendResponseFrame();
      break;
  }
}

void SerialLink::OnEot() {
  ++counters_.eots;
  answerTimer_.Cancel();
  enqWaiting_ = false;
  answer_ = Answer::kNone;
  static const uint8_t kCancel = 'E';
  reader_->Execute(&kCancel, 1, &response_);
  SendControl(ctl::kEot, "EOT");
}

void SerialLink::DeliverHeld(const uint8_t* message, size_t size) {
  if (answer_ != Answer::kPending) return;
  response_.Clear();
  response_.AppendBytes(message, size);
  answer_ = Answer::kReady;
  if (enqWaiting_) {
    enqWaiting_ = false;
    SendResponseFrame();
  }
}

void SerialLink::OnAnswerDue() {
  if (answer_ != Answer::kPending) return;
  answer_ = Answer::kReady;
  if (enqWaiting_) {
    enqWaiting_ = false;
    SendResponseFrame();
  }
}

void SerialLink::OnFrameTimeout() {
  if (!receiver_.inFrame()) return;
  reader_->log().Note(name(), "WARN", "frame incomplete after %u ms: dropped", frameTimeoutMs_);
  receiver_.Reset();
}

void SerialLink::SendControl(uint8_t code, const char* text) {
  if (code == ctl::kAck) ++counters_.acks;
  if (code == ctl::kNak) ++counters_.naks;
  reader_->log().Note(name(), "LINK", "%s", text);
  const uint8_t bytes[2] = {ctl::kDle, code};
  Write(bytes, 2);
}

void SerialLink::SendResponseFrame() {
  FaultPlan& faults = reader_->faults();
  bool badCheck = faults.Take(FaultKind::kBadBcc);
  bool oversize = faults.Take(FaultKind::kOversize);
  const uint8_t* data = response_.data();
  size_t size = response_.size();
  if (oversize) {
    // The answer followed by filler, past what a host accepts in one frame.
    std::memcpy(padded_, data, size);
    size_t total = size < kOversizeBytes ? kOversizeBytes : size;
    std::memset(padded_ + size, '0', total - size);
    data = padded_;
    size = total;
    reader_->log().Note(name(), "FAULT", "oversize (%zu data bytes)", size);
  }
  if (badCheck) reader_->log().Note(name(), "FAULT", "bad-bcc");
  size_t length = EncodeFrame(data, size, frame_, sizeof frame_, badCheck);
  ++counters_.responses;
  Write(frame_, length);
}

void SerialLink::Write(const uint8_t* bytes, size_t count) {
  reader_->log().Bytes(name(), "TX", bytes, count);
  if (outputSize_ + count > kOutputCapacity) {
    // The host has stopped reading; a real line would lose the bytes too.
    ++counters_.dropped;
    reader_->log().Note(name(), "WARN", "output queue full: %zu bytes dropped", count);
    return;
  }
  std::memcpy(output_ + outputSize_, bytes, count);
  outputSize_ += count;
  Flush();
}

void SerialLink::Flush() {
  size_t done = 0;
  while (done < outputSize_) {
    ssize_t n = write(pty_.master(), output_ + done, outputSize_ - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  if (done > 0) {
    std::memmove(output_, output_ + done, outputSize_ - done);
    outputSize_ -= done;
  }
  bool want = outputSize_ > 0;
  if (want != wantWrite_) {
    wantWrite_ = want;
    loop_->Rewatch(pty_.master(), want ? (EPOLLIN | EPOLLOUT) : EPOLLIN, this);
  }
}

}  // namespace q7msim
