#include "session_register.h"

#include <atomic>

namespace q7m {

namespace {

enum ExchangeState : uint64_t { kIdle = 0, kRunning = 1, kUnanswered = 2 };

uint64_t Marker(const ProcessBadge& badge, ExchangeState state) {
  return (static_cast<uint64_t>(badge.processId) << 32) |
         (static_cast<uint64_t>(badge.stamp & kBadgeStampMask) << 2) | state;
}

ExchangeState StateOf(uint64_t marker) {
  return static_cast<ExchangeState>(marker & 3u);
}

ProcessBadge BadgeOf(uint64_t marker) {
  return {static_cast<uint32_t>(marker >> 32),
          static_cast<uint32_t>(marker >> 2) & kBadgeStampMask};
}

std::atomic_ref<uint64_t> MarkerOf(SessionRegister* reg) {
  return std::atomic_ref<uint64_t>(reg->exchange);
}

bool Owns(const SessionShare& share, const ProcessBadge& badge) {
  return share.processId == badge.processId && share.stamp == badge.stamp;
}

}  // namespace

uint32_t ReclaimEndedShares(SessionRegister* reg, SharedData* data) {
  uint32_t reclaimed = 0;
  for (SessionShare& share : reg->shares) {
    if (share.processId == 0) continue;
    if (share.sessions != 0 && ProcessBadgeAlive({share.processId, share.stamp})) continue;
    // The count is never taken below zero, whatever the register says.
    const uint32_t n = share.sessions < data->openCount ? share.sessions : data->openCount;
    data->openCount -= n;
    reclaimed += n;
    share = {};
  }
  return reclaimed;
}

void AddShare(SessionRegister* reg, const ProcessBadge& badge) {
  SessionShare* free = nullptr;
  for (SessionShare& share : reg->shares) {
    if (Owns(share, badge)) {
      ++share.sessions;
      return;
    }
    if (free == nullptr && share.processId == 0) free = &share;
  }
  if (free != nullptr) *free = {badge.processId, badge.stamp, 1, 0};
}

void RemoveShare(SessionRegister* reg, const ProcessBadge& badge) {
  for (SessionShare& share : reg->shares) {
    if (!Owns(share, badge)) continue;
    if (share.sessions > 1) {
      --share.sessions;
    } else {
      share = {};
    }
    return;
  }
}

bool BeginExchange(SessionRegister* reg, const ProcessBadge& self) {
  const uint64_t before = MarkerOf(reg).exchange(Marker(self, kRunning));
  switch (StateOf(before)) {
    case kUnanswered:
      return true;
    case kRunning: {
      // Another exchange of a live process (or of this one) runs alongside:
      // the callers did not keep them apart, and it is not ours to end.
      const ProcessBadge owner = BadgeOf(before);
      return !(owner == self) && !ProcessBadgeAlive(owner);
    }
    default:
      return false;
  }
}

void EndExchange(SessionRegister* reg, const ProcessBadge& self, bool answerMayFollow) {
  if (answerMayFollow) {
    MarkerOf(reg).store(Marker(self, kUnanswered));
    return;
  }
  // Only our own mark is cleared: an exchange that began meanwhile keeps its.
  uint64_t expected = Marker(self, kRunning);
  MarkerOf(reg).compare_exchange_strong(expected, Marker(self, kIdle));
}

}  // namespace q7m
