// What the reader keeps for its security family: the two detection modes,
// the detections it has latched, and the host watchdog's setting.
#pragma once

#include <cstdint>

namespace q7msim {

// How the reader watches its host: after `monitoringSeconds` without a
// command it resets itself, then again every `retrySeconds` while the host
// stays silent, `resets` times in all. A monitoring time or a number of
// resets of 0 switches the watch off.
struct HostWatchdogSetting {
  uint32_t monitoringSeconds = 0;
  uint32_t resets = 0;
  uint32_t retrySeconds = 0;
};

struct SecurityState {
  bool tamperDetection = false;       // "SX" mode
  bool rearDestroyDetection = false;  // "Sa" mode
  // A detection the reader has latched; it stays until the recovery "XZ".
  bool tampered = false;
  bool rearDestroyed = false;
  HostWatchdogSetting watchdog;
  uint32_t watchdogResets = 0;  // resets the watchdog has made

  // Whether a latched detection, with its mode on, stops card operations.
  bool Abnormal() const {
    return (tampered && tamperDetection) || (rearDestroyed && rearDestroyDetection);
  }
};

}  // namespace q7msim
