// The session register: a second named block per device (key K + "SES"),
// beside SharedData, whose layout stays as it is. It keeps what a survivor
// needs to repair after a process was killed:
//  - each process's share of SharedData's openCount, under the process's
//    badge, so a share whose badge has gone is taken out of the count and
//    the last session's reset of the block still happens;
//  - the exchange marker: who runs the device's exchange now, or that the
//    last exchange ended without its answer, so the next exchange can end
//    what the reader may still be answering before it sends its own command.
// The shares are read and written under the device's data mutex; the
// marker is one atomic word, so the exchange path takes no lock for it.
// An inter-process format: zero-filled when new, offsets pinned below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "process_badge.h"
#include "shared_data.h"

namespace q7m {

constexpr uint32_t kSessionShareCount = 64;

struct SessionShare {
  uint32_t processId;  // 0: free
  uint32_t stamp;      // of the process's badge
  uint32_t sessions;   // this process's part of openCount
  uint32_t reserved;
};

struct SessionRegister {
  uint64_t exchange;  // the exchange marker (ExchangeState and the badge)
  uint32_t reserved[2];
  SessionShare shares[kSessionShareCount];
};
static_assert(sizeof(SessionShare) == 16);
static_assert(offsetof(SessionRegister, exchange) == 0);
static_assert(offsetof(SessionRegister, shares) == 16);
static_assert(sizeof(SessionRegister) == 1040);

// ---- shares (the data mutex held) ----

// Takes the shares of processes whose badge has gone out of the register and
// out of data->openCount. How many sessions were given back.
uint32_t ReclaimEndedShares(SessionRegister* reg, SharedData* data);
// Counts one session of `badge` into the register (a full register counts it
// in openCount alone; such a share is never reclaimed).
void AddShare(SessionRegister* reg, const ProcessBadge& badge);
// Counts one session of `badge` out again.
void RemoveShare(SessionRegister* reg, const ProcessBadge& badge);

// ---- the exchange marker (no lock) ----

// Marks an exchange of `self` as running. True when the exchange before it
// was left unfinished: its answer did not come in time, or its process
// ended while it ran.
bool BeginExchange(SessionRegister* reg, const ProcessBadge& self);
// Marks the exchange of `self` as ended; `answerMayFollow`: it ended without
// the reader's answer (time-out, cancel), which may still come.
void EndExchange(SessionRegister* reg, const ProcessBadge& self, bool answerMayFollow);

}  // namespace q7m
