#include "reader.h"

#include "download_commands.h"
#include "host_watchdog.h"
#include "reader_fields.h"
#include "security_commands.h"

namespace q7msim {

Reader::Reader(std::string name, const CommandDispatcher* dispatcher, WireLog* log, uint64_t seed)
    : name_(std::move(name)), dispatcher_(dispatcher), log_(log), faults_(seed) {
  AddReaderStateFields(&state_, &fields_);
  AddSecurityFields(&state_, &fields_);
  AddDownloadFields(&state_, &fields_);
  state_.onCardMoved = [this] {
    if (monitoring_) EndMonitoring(true, true);
  };
}

Reader::~Reader() = default;

bool Reader::StartHostWatchdog(EventLoop* loop, std::string* error) {
  watchdog_ = std::make_unique<HostWatchdog>(loop, &state_.security.watchdog,
                                             [this] { ResetForSilentHost(); });
  if (!watchdog_->Init(error)) return false;
  // A watch set by the scenario or --set runs from the start.
  watchdog_->HostSpoke();
  return true;
}

void Reader::ResetForSilentHost() {
  static const uint8_t kReset[] = {'C', '0', '0'};
  log_->Note(name_.c_str(), "WATCHDOG", "host silent: reset");
  ResponseBuffer response;
  dispatcher_->Execute(state_, kReset, sizeof kReset, &response);
  state_.download.phase = DownloadPhase::kIdle;
  ++state_.security.watchdogResets;
}

bool Reader::EnableHeldAnswers(EventLoop* loop, std::string* error) {
  monitorTimer_ = std::make_unique<Timer>(loop, [this] {
    if (monitoring_) EndMonitoring(true, false);
  });
  return monitorTimer_->Init(error);
}

void Reader::EndMonitoring(bool deliver, bool moved) {
  monitoring_ = false;
  if (monitorTimer_) monitorTimer_->Cancel();
  if (!deliver) {
    log_->Note(name_.c_str(), "HOLD", "card status monitoring ended without an answer");
    return;
  }
  const std::array<char, 2> status = state_.StatusCharacters();
  held_.Clear();
  held_.Positive("92", status.data());
  const std::array<char, 5> digits = CardStatusDigits(state_, moved);
  held_.AppendBytes(digits.data(), digits.size());
  log_->Message(name_.c_str(), "RSP", held_.data(), held_.size());
  if (link_) link_->DeliverHeld(held_.data(), held_.size());
}

void Reader::AttachLink(std::unique_ptr<Link> link) {
  link_ = std::move(link);
  link_->AddFields(&fields_);
}

void Reader::Execute(const uint8_t* message, size_t size, ResponseBuffer* response) {
  ++commands_;
  log_->Message(name_.c_str(), "CMD", message, size);
  // A new message, the cancel included, ends a monitoring still waiting:
  // its answer is no longer wanted.
  if (monitoring_) EndMonitoring(false, false);
  std::string_view code = CommandCodeOf(message, size);
  if (code.empty() || !AnswerFromFault(code, response))
    dispatcher_->Execute(state_, message, size, response);
  if (response->size() > 0 && response->data()[0] == 'N')
    state_.Count(ReaderCounter::kNegativeAnswers);
  const int seconds = state_.transport.monitorRequest;
  state_.transport.monitorRequest = -1;
  if (seconds > 0 && monitorTimer_) {
    monitoring_ = true;
    monitorTimer_->Start(static_cast<uint32_t>(seconds) * 1000u);
    log_->Note(name_.c_str(), "HOLD", "card status monitoring for %d s", seconds);
    return;
  }
  log_->Message(name_.c_str(), "RSP", response->data(), response->size());
  if (watchdog_) watchdog_->HostSpoke();
}

bool Reader::AnswerFromFault(std::string_view code, ResponseBuffer* response) {
  const char echo[2] = {code[0], code[1]};
  if (faults_.TakeFor(FaultKind::kError, code)) {
    const std::array<char, 2>& error = faults_.ErrorCode();
    log_->Note(name_.c_str(), "FAULT", "error code=%c%c", error[0], error[1]);
    response->Negative(echo, error.data());
    return true;
  }
  if (faults_.TakeFor(FaultKind::kCancelReply, code)) {
    log_->Note(name_.c_str(), "FAULT", "cancel-reply");
    response->Cancel();
    return true;
  }
  if (faults_.TakeFor(FaultKind::kReply, code)) {
    const std::vector<uint8_t>& data = faults_.ReplyData();
    log_->Note(name_.c_str(), "FAULT", "reply (%zu bytes)", data.size());
    response->Clear();
    response->AppendBytes(data.data(), data.size());
    return true;
  }
  return false;
}

std::string Reader::ApplyFault(const FaultRequest& request) {
  using Action = FaultRequest::Action;
  switch (request.action) {
    case Action::kClearAll:
      faults_.ClearAll();
      return {};
    case Action::kClear:
      faults_.Clear(request.kind);
      return {};
    case Action::kArm:
      if (link_ && !FaultAppliesTo(request.kind, link_->kind()))
        return std::string(DescribeFault(request.kind).name) + " does not apply to a " +
               (link_->kind() == LinkKind::kSerial ? "serial" : "USB") + " reader";
      faults_.Arm(request);
      return {};
    default:
      if (!link_) return "reader has no link";
      return link_->Act(request);
  }
}

std::string Reader::ApplyFault(std::string_view text) {
  FaultRequest request;
  std::string error;
  if (!ParseFaultRequest(text, &request, &error)) return error;
  return ApplyFault(request);
}

std::string Reader::Describe() const {
  std::string text = "Name=" + name_ + "\n";
  if (link_) {
    text += std::string("Link=") + (link_->kind() == LinkKind::kSerial ? "serial" : "usb") + "\n";
    text += "Address=" + link_->Address() + "\n";
  }
  text += "Commands=" + std::to_string(commands_) + "\n";
  for (const FieldTable::Field& field : fields_.fields())
    text += field.name + "=" + field.get() + "\n";
  if (link_) text += link_->Describe();
  std::string faults = faults_.Describe();
  if (faults.empty()) {
    text += "Faults=none\n";
  } else {
    size_t start = 0;
    while (start < faults.size()) {
      size_t end = faults.find('\n', start);
      text += "Fault=" + faults.substr(start, end - start) + "\n";
      start = end + 1;
    }
  }
  return text;
}

}  // namespace q7msim
