// The session register: a second named block per device (key K + "SES"),
// beside SharedData, whose layout stays as it is. It keeps what a survivor
// needs to repair after a process was killed:
//  - each process's share of SharedData's openCount. Share i is proven alive
//    by the share object K + "SES" + two hex digits of i, which the owning
//    process keeps open while it has sessions on the device and which the
//    namespace loses with that process, killed or not. A share whose object
//    has gone is taken out of the count, so the last session's reset of the
//    block still happens;
//  - the exchange marker: who runs the device's exchange now, or that the
//    last exchange ended without its answer, so the next exchange can end
//    what the reader may still be answering before it sends its own command.
// The shares are read and written under the device's data mutex; the
// marker is one atomic word, so the exchange path takes no lock for it.
// An inter-process format: zero-filled when new, offsets pinned below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "q7m/platform_sys.h"
#include "shared_data.h"

namespace q7m {

constexpr uint32_t kSessionShareCount = 64;

struct SessionShare {
  uint32_t processId;  // 0: free
  uint32_t stamp;      // tells this share from an earlier one of a reused id
  uint32_t sessions;   // this process's part of openCount
  uint32_t reserved;
};

struct SessionRegister {
  uint64_t exchange;  // the exchange marker: owner's id and stamp, state
  uint32_t reserved[2];
  SessionShare shares[kSessionShareCount];
};
static_assert(sizeof(SessionShare) == 16);
static_assert(offsetof(SessionRegister, exchange) == 0);
static_assert(offsetof(SessionRegister, shares) == 16);
static_assert(sizeof(SessionRegister) == 1040);

// What one session holds of its process's share.
struct ShareHold {
  int index = -1;  // -1: not in the register (it was full)
  uint32_t processId = 0;
  uint32_t stamp = 0;
  Q7M_HANDLE object = nullptr;  // this session's handle to the share object
};

// ---- shares (the data mutex held) ----

// Removes leftovers of share objects that no share names (opening one
// removes it): of processes killed with the last holders of an earlier
// register, or killed while they looked at another process's share.
void SweepFreeShareObjects(const SessionRegister* reg, const char* key);
// Takes the shares whose object has gone out of the register and out of
// data->openCount. How many sessions were given back.
uint32_t ReclaimEndedShares(SessionRegister* reg, SharedData* data, const char* key);
// Counts one session of this process in: into data->openCount and into the
// process's share (made when it has none; a full register leaves the
// session out of the register). False with the last error, counting
// nothing, when the share object cannot be made.
bool AddShare(SessionRegister* reg, SharedData* data, const char* key, ShareHold* hold);
// Counts the session out of its share and of data->openCount (never below
// zero) and closes its handle to the share object.
void RemoveShare(SessionRegister* reg, SharedData* data, ShareHold* hold);

// ---- the exchange marker (no lock) ----

// Marks an exchange of `self` as running. True when the exchange before it
// was left unfinished: its answer did not come in time, or its process
// ended while it ran.
bool BeginExchange(SessionRegister* reg, const char* key, const ShareHold& self);
// Marks the exchange of `self` as ended; `answerMayFollow`: it ended without
// the reader's answer (time-out, cancel), which may still come.
void EndExchange(SessionRegister* reg, const ShareHold& self, bool answerMayFollow);

}  // namespace q7m
