#include "session_register.h"

#include <atomic>
#include <cstdio>

#include "device_key.h"
#include "sequor_errors.h"

namespace q7m {

namespace {

constexpr uint32_t kStampMask = 0x3FFFFFFFu;  // the stamp shares a word with two state bits

enum ExchangeState : uint64_t { kIdle = 0, kRunning = 1, kUnanswered = 2 };

using ShareName = char[kDeviceKeyCapacity + 8];

void ShareObjectName(const char* key, uint32_t index, ShareName& name) {
  std::snprintf(name, sizeof name, "%sSES%02X", key, index);
}

// False only when the share object has gone; a failure to look counts as
// alive.
bool ShareObjectExists(const char* key, uint32_t index) {
  LastErrorKeeper keepLastError;
  ShareName name;
  ShareObjectName(key, index, name);
  // Opening a leftover of a killed process also removes it.
  Q7M_HANDLE object = Q7M_OpenMutex(name);
  if (object != nullptr) {
    Q7M_CloseHandle(object);
    return true;
  }
  return Q7M_GetLastError() != Q7M_ERROR_FILE_NOT_FOUND;
}

uint64_t Marker(const ShareHold& hold, ExchangeState state) {
  return (static_cast<uint64_t>(hold.processId) << 32) |
         (static_cast<uint64_t>(hold.stamp & kStampMask) << 2) | state;
}

std::atomic_ref<uint64_t> MarkerOf(SessionRegister* reg) {
  return std::atomic_ref<uint64_t>(reg->exchange);
}

// Whether the process that marked `marker` still holds the share it marked
// from. Read without the data mutex: a share changing meanwhile can only
// make a live owner look ended (one needless end-of-transmission exchange)
// or the other way round (the answer check still guards the caller).
bool MarkerOwnerAlive(SessionRegister* reg, const char* key, uint64_t marker) {
  const uint32_t processId = static_cast<uint32_t>(marker >> 32);
  const uint32_t stamp = static_cast<uint32_t>(marker >> 2) & kStampMask;
  for (uint32_t i = 0; i < kSessionShareCount; ++i) {
    const SessionShare& share = reg->shares[i];
    if (share.processId == processId && (share.stamp & kStampMask) == stamp)
      return ShareObjectExists(key, i);
  }
  return false;
}

}  // namespace

void SweepFreeShareObjects(const SessionRegister* reg, const char* key) {
  for (uint32_t i = 0; i < kSessionShareCount; ++i)
    if (reg->shares[i].processId == 0) (void)ShareObjectExists(key, i);
}

uint32_t ReclaimEndedShares(SessionRegister* reg, SharedData* data, const char* key) {
  uint32_t reclaimed = 0;
  for (uint32_t i = 0; i < kSessionShareCount; ++i) {
    SessionShare& share = reg->shares[i];
    if (share.processId == 0) continue;
    if (share.sessions != 0 && ShareObjectExists(key, i)) continue;
    // The count is never taken below zero, whatever the register says.
    const uint32_t n = share.sessions < data->openCount ? share.sessions : data->openCount;
    data->openCount -= n;
    reclaimed += n;
    share = {};
  }
  return reclaimed;
}

// A process may be killed between any two steps here. The steps are
// ordered so that every state in between still adds up: a share object is
// made for a share that counts nothing yet, the count and the share change
// side by side with no system call between them, and the count goes first
// up and last down, so the one state that does not add up errs towards a
// count too high (the block is not reset) rather than too low (reset under
// a live session).
bool AddShare(SessionRegister* reg, SharedData* data, const char* key, ShareHold* hold) {
  const uint32_t self = Q7M_GetCurrentProcessId();
  // After ReclaimEndedShares every share left belongs to a live process, so
  // one with our id is ours.
  int index = -1;
  for (uint32_t i = 0; i < kSessionShareCount && index < 0; ++i)
    if (reg->shares[i].processId == self) index = static_cast<int>(i);
  const bool fresh = index < 0;
  for (uint32_t i = 0; i < kSessionShareCount && index < 0; ++i)
    if (reg->shares[i].processId == 0) index = static_cast<int>(i);
  if (index < 0) {
    *hold = {-1, self, 0, nullptr};  // counted in openCount alone
    ++data->openCount;
    return true;
  }
  SessionShare& share = reg->shares[index];
  // The share is written before its object exists: a process killed in
  // between leaves a share that reads as ended, never an object no share
  // names.
  if (fresh) share = {self, Q7M_GetTickCount() & kStampMask, 0, 0};
  ShareName name;
  ShareObjectName(key, static_cast<uint32_t>(index), name);
  Q7M_HANDLE object = Q7M_CreateMutex(0, name);
  if (object == nullptr) {
    LastErrorKeeper keepLastError;
    if (share.sessions == 0) share = {};
    return false;
  }
  ++data->openCount;
  ++share.sessions;
  *hold = {index, self, share.stamp, object};
  return true;
}

void RemoveShare(SessionRegister* reg, SharedData* data, ShareHold* hold) {
  SessionShare* share = hold->index >= 0 ? &reg->shares[hold->index] : nullptr;
  if (share != nullptr && !(share->processId == hold->processId && share->stamp == hold->stamp))
    share = nullptr;  // taken out already (it read as ended)
  if (share != nullptr && share->sessions > 0) --share->sessions;
  if (share != nullptr || hold->index < 0) {
    if (data->openCount > 0) --data->openCount;
  }
  if (hold->object != nullptr) Q7M_CloseHandle(hold->object);
  // A share left without sessions is cleared; its object, should this
  // process be killed before, is removed by the next open's sweep.
  if (share != nullptr && share->sessions == 0) *share = {};
  *hold = {};
}

bool BeginExchange(SessionRegister* reg, const char* key, const ShareHold& self) {
  const uint64_t before = MarkerOf(reg).exchange(Marker(self, kRunning));
  switch (static_cast<ExchangeState>(before & 3u)) {
    case kUnanswered:
      return true;
    case kRunning:
      // Another exchange of a live process (or of this one) runs alongside:
      // its callers did not keep them apart, and it is not ours to end.
      return (before >> 2) != (Marker(self, kRunning) >> 2) && !MarkerOwnerAlive(reg, key, before);
    default:
      return false;
  }
}

void EndExchange(SessionRegister* reg, const ShareHold& self, bool answerMayFollow) {
  if (answerMayFollow) {
    MarkerOf(reg).store(Marker(self, kUnanswered));
    return;
  }
  // Only our own mark is cleared: an exchange that began meanwhile keeps its.
  uint64_t expected = Marker(self, kRunning);
  MarkerOf(reg).compare_exchange_strong(expected, Marker(self, kIdle));
}

}  // namespace q7m
