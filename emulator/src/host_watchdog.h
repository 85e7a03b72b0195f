// The reader's watch of its host: when no command has come for the time the
// host asked for ("W9"), the reader resets itself, and again after the retry
// time while the host stays silent, as many times as asked. Any command
// starts the watch over. A timer on the emulator's event loop, so nothing
// polls.
#pragma once

#include <functional>
#include <string>

#include "event_loop.h"
#include "security_state.h"

namespace q7msim {

class HostWatchdog {
 public:
  // `setting` is read anew whenever the watch starts; `reset` resets the
  // reader.
  HostWatchdog(EventLoop* loop, const HostWatchdogSetting* setting, std::function<void()> reset);
  bool Init(std::string* error) { return timer_.Init(error); }

  // The host sent a command (after it ran, so "W9" itself takes effect).
  void HostSpoke();

 private:
  void Expired();

  const HostWatchdogSetting* setting_;
  std::function<void()> reset_;
  Timer timer_;
  uint32_t resetsMade_ = 0;
};

}  // namespace q7msim
