// The dispatcher: runs a request on the caller's thread or on a detached
// worker thread, one operation per device at a time.
//
// Across processes the execution service's API lock keeps operations on one
// device apart. That lock is a mutex owned by the thread that takes it, so
// the thread that runs an operation must be the one that takes and gives it
// back: the caller cannot take it for a worker. Between the busy check and
// the worker taking the lock, two calls of this process could both pass the
// check; the claim table below closes that gap. A handle is claimed, in one
// step with the check, before the worker starts, and released only after the
// operation's result is stored. A worker that still finds the API lock taken
// (another process started in the gap) does not run its operation: it ends
// with "busy" instead of talking to the reader beside the other operation.
#include <array>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "q7m/platform_sys.h"
#include "q7m/sequor.h"
#include "request.h"
#include "result_map.h"

namespace q7m::rdax {

namespace {

SEQUOR_HANDLE Session(const RDAX* handle) {
  return reinterpret_cast<SEQUOR_HANDLE>(const_cast<RDAX*>(handle));
}

// Handles with an operation of this process in progress, and the cancels
// running beside them. A process has at most a few devices open; the table
// bounds how many operations run at once.
class ClaimTable {
 public:
  // False when the handle is claimed already, or no slot is free.
  bool Claim(const RDAX* handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot* freeSlot = nullptr;
    for (Slot& slot : slots_) {
      if (slot.handle == handle) return false;
      if (slot.handle == nullptr && freeSlot == nullptr) freeSlot = &slot;
    }
    if (freeSlot == nullptr) return false;
    *freeSlot = Slot{handle, 0};
    return true;
  }
  void Release(const RDAX* handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Slot* slot = Find(handle)) *slot = Slot{};
  }
  bool Claimed(const RDAX* handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return Find(handle) != nullptr;
  }
  // A cancel begins on the handle: the operation must not store its result
  // until the cancel has stored its own.
  void BeginCancel(const RDAX* handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Slot* slot = Find(handle)) ++slot->cancels;
  }
  void EndCancel(const RDAX* handle) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Slot* slot = Find(handle);
      if (slot == nullptr || slot->cancels == 0) return;
      --slot->cancels;
    }
    cancelled_.notify_all();
  }
  void AwaitCancels(const RDAX* handle) {
    std::unique_lock<std::mutex> lock(mutex_);
    cancelled_.wait(lock, [&] {
      const Slot* slot = Find(handle);
      return slot == nullptr || slot->cancels == 0;
    });
  }

 private:
  struct Slot {
    const RDAX* handle = nullptr;
    uint32_t cancels = 0;
  };
  Slot* Find(const RDAX* handle) {
    for (Slot& slot : slots_) {
      if (slot.handle == handle) return &slot;
    }
    return nullptr;
  }

  std::mutex mutex_;
  std::condition_variable cancelled_;
  std::array<Slot, 256> slots_{};
};

// Never destroyed: workers may still be running while the process exits.
ClaimTable& Claims() {
  static ClaimTable* table = new ClaimTable();
  return *table;
}

void FreeParam1Copy(const RdaxRequest& request) {
  if (OwnsParam1Copy(request.operation)) std::free(reinterpret_cast<void*>(request.param[0]));
}

uint32_t StoreBusy(const RDAX* handle) {
  SEQUOR_SetResult(Session(handle), RDAX_E_BUSY);
  return RDAX_E_BUSY;
}

// Runs a request whose handle this process has claimed, and releases the
// claim once the result is stored.
uint32_t RdaxRunRequest(const RdaxRequest& request) {
  const RDAX* handle = request.device();
  SEQUOR_HANDLE session = Session(handle);
  uint32_t result;
  const uint32_t lock = SEQUOR_ApiLock(session);
  if (lock == SEQUOR_SUCCESS) {
    const Handler handler = HandlerFor(request.operation);
    result = handler != nullptr ? handler(request) : RDAX_F_LINE;
  } else if (IsApiLockHeld(lock)) {
    result = RDAX_E_BUSY;
  } else {
    result = RdaxMapSequorCode(lock);
  }
  // What follows must not touch the last error the operation left for its
  // caller, unless the give-back of the lock fails and takes its place.
  uint32_t lastError = Q7M_GetLastError();
  FreeParam1Copy(request);
  // A cancel running beside the operation stores its own outcome first, so
  // the caller collects how the operation ended. It is awaited before the
  // lock is given back: the cancel's end-of-transmission exchange is the
  // end of this operation's, and another operation let in beside it would
  // talk to the reader at the same time, each side able to take the other's
  // answer (the "E" drained away, a late answer dropped) and to hold the
  // reader for the whole of its own wait.
  Claims().AwaitCancels(handle);
  if (lock == SEQUOR_SUCCESS) {
    // A failed give-back is reported as the operation's result, in the
    // API's own codes like every other answer of the execution service.
    const uint32_t unlock = SEQUOR_ApiUnlock(session);
    if (unlock != SEQUOR_SUCCESS) {
      result = RdaxMapSequorCode(unlock);
      lastError = Q7M_GetLastError();
    }
  }
  SEQUOR_SetResult(session, result);
  Claims().Release(handle);
  Q7M_SetLastError(lastError);
  return result;
}

void Q7M_API RunOnWorker(void* argument) {
  auto* request = static_cast<RdaxRequest*>(argument);
  const Q7M_HANDLE event = request->event();
  RdaxRunRequest(*request);
  // Signalled only now: a caller that wakes finds the device free and the
  // result stored.
  Q7M_SetEvent(event);
  delete request;
}

}  // namespace

bool OperationInProgress(const RDAX* handle) {
  return Claims().Claimed(handle);
}

void BeginCancel(const RDAX* handle) {
  Claims().BeginCancel(handle);
}

void EndCancel(const RDAX* handle) {
  Claims().EndCancel(handle);
}

uint32_t RdaxDispatch(const RdaxRequest& request) {
  const RDAX* handle = request.device();
  if (!Claims().Claim(handle)) {
    FreeParam1Copy(request);
    return StoreBusy(handle);
  }
  // On the caller's thread the API lock itself is the check: taking it
  // answers "held" exactly when the query would, and a held lock ends the
  // request with "busy" stored, as the query's answer would.
  if (request.event() == nullptr) return RdaxRunRequest(request);
  const uint32_t locked = SEQUOR_IsApiLocked(Session(handle));
  if (locked != SEQUOR_SUCCESS) {
    FreeParam1Copy(request);
    Claims().Release(handle);
    // A handle the execution service does not know is no busy device: the
    // caller would wait for it in vain.
    if (!IsApiLockHeld(locked)) return RdaxMapSequorCode(locked);
    return StoreBusy(handle);
  }

  auto* copy = new (std::nothrow) RdaxRequest(request);
  if (copy == nullptr) {
    FreeParam1Copy(request);
    Claims().Release(handle);
    Q7M_SetLastError(Q7M_ERROR_OUTOFMEMORY);
    return RDAX_F_SYSTEM;
  }
  if (Q7M_StartThread(&RunOnWorker, copy) == 0) {
    FreeParam1Copy(request);
    delete copy;
    Claims().Release(handle);
    Q7M_SetLastError(Q7M_ERROR_TOO_MANY_TCBS);
    return RDAX_F_SYSTEM;
  }
  // The worker runs detached: there is no thread handle to close.
  return RDAX_I_ASYNC_STARTED;
}

}  // namespace q7m::rdax
