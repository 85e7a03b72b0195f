// One emulated reader: its state, its command dispatcher, its armed faults
// and its link. Links hand every command message to Execute() and send what
// it answers.
#pragma once

#include <memory>
#include <string>

#include "command_dispatcher.h"
#include "event_loop.h"
#include "fault_plan.h"
#include "field_table.h"
#include "link.h"
#include "reader_state.h"
#include "wire_log.h"

namespace q7msim {

class EventLoop;
class HostWatchdog;

class Reader {
 public:
  Reader(std::string name, const CommandDispatcher* dispatcher, WireLog* log, uint64_t seed);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  const std::string& name() const { return name_; }
  ReaderState& state() { return state_; }
  FaultPlan& faults() { return faults_; }
  const FieldTable& fields() const { return fields_; }
  WireLog& log() { return *log_; }
  Link* link() { return link_.get(); }

  // Gives the reader its link and adds the link's fields to the reader's.
  void AttachLink(std::unique_ptr<Link> link);
  // Lets the reader watch its host on `loop` (the "W9" setting).
  bool StartHostWatchdog(EventLoop* loop, std::string* error);
  // Lets the reader hold an answer back until something happens (card
  // status monitoring waits for the card to move, with a timer on `loop`).
  // Without it such a command is answered at once.
  bool EnableHeldAnswers(EventLoop* loop, std::string* error);
  // The last command's answer is held back; the link sends nothing now and
  // gets it through Link::DeliverHeld later (or never, when the next
  // message or a cancel comes first).
  bool AnswerHeld() const { return monitoring_; }

  // Answers one command message (logged as CMD and RSP). An armed answer
  // fault that matches the command answers in its place; the command then
  // does not run.
  void Execute(const uint8_t* message, size_t size, ResponseBuffer* response);

  // Arms or clears a fault, or passes an action to the link. Empty text on
  // success.
  std::string ApplyFault(const FaultRequest& request);
  // Parses and applies a fault text ("nak count=2").
  std::string ApplyFault(std::string_view text);

  // Everything about the reader as "name=value" lines.
  std::string Describe() const;

 private:
  bool AnswerFromFault(std::string_view code, ResponseBuffer* response);
  // The host stayed silent too long: the reader resets as "00" does and
  // forgets a download in progress.
  void ResetForSilentHost();
  void EndMonitoring(bool deliver, bool moved);

  std::string name_;
  const CommandDispatcher* dispatcher_;
  WireLog* log_;
  ReaderState state_;
  FaultPlan faults_;
  FieldTable fields_;
  std::unique_ptr<Link> link_;
  std::unique_ptr<HostWatchdog> watchdog_;
  uint64_t commands_ = 0;
  std::unique_ptr<Timer> monitorTimer_;
  bool monitoring_ = false;
  ResponseBuffer held_;
};

}  // namespace q7msim
