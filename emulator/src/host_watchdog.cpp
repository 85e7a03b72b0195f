#include "host_watchdog.h"

namespace q7msim {

HostWatchdog::HostWatchdog(EventLoop* loop, const HostWatchdogSetting* setting,
                           std::function<void()> reset)
    : setting_(setting), reset_(std::move(reset)), timer_(loop, [this] { Expired(); }) {}

void HostWatchdog::HostSpoke() {
  resetsMade_ = 0;
  if (setting_->monitoringSeconds == 0 || setting_->resets == 0) {
    if (timer_.running()) timer_.Cancel();
    return;
  }
  timer_.Start(setting_->monitoringSeconds * 1000);
}

void HostWatchdog::Expired() {
  reset_();
  ++resetsMade_;
  if (resetsMade_ < setting_->resets) timer_.Start(setting_->retrySeconds * 1000);
}

}  // namespace q7msim
