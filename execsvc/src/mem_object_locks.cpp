// MemObject: the XFS and API locks.
//
// Lock order: the lock object first, then the data mutex (only to record or
// read the handle). The data mutex is never held while a lock is waited for.
#include <cstdio>
#include <cstring>

#include "mem_object.h"
#include "q7m/sequor_result.h"
#include "sequor_errors.h"
#include "sequor_trace.h"

namespace q7m {

namespace {

constexpr char kXfsSuffix[] = "XFS";
constexpr char kApiSuffix[] = "API";
constexpr size_t kMaxLockNameLength = 260;

}  // namespace

bool MemObject::CloseLock(Q7M_HANDLE lock) {
  // Closing the last handle of a lock frees it; but a mutex that a live
  // thread still owns stays in the name space, so the owner gives it up
  // first. Another thread cannot (the release fails and changes nothing):
  // then the lock is free once its owner thread ends or when the object
  // goes with its last handle.
  Q7M_ReleaseMutex(lock);
  return Q7M_CloseHandle(lock) != 0;
}

void MemObject::GiveBack(Q7M_HANDLE lock) {
  LastErrorKeeper keepLastError;
  CloseLock(lock);
}

Q7M_HANDLE MemObject::ExclusiveLock(const char* suffix, uint32_t limitMs) {
  const size_t keyLength = std::strlen(key_);
  const size_t suffixLength = std::strlen(suffix);
  if (keyLength + suffixLength > kMaxLockNameLength) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  char name[kMaxLockNameLength + 1];
  std::memcpy(name, key_, keyLength);
  std::memcpy(name + keyLength, suffix, suffixLength + 1);

  Q7M_HANDLE lock = Q7M_CreateMutex(/*initialOwner=*/1, name);
  if (lock == nullptr) {
    LastErrorKeeper keepLastError;
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_ExclusiveLock CreateMutex Error");
    return nullptr;
  }
  if (Q7M_GetLastError() != Q7M_ERROR_ALREADY_EXISTS) return lock;  // new: ours already

  // It exists: free only if its owner ended (abandoned) or is this thread.
  const uint32_t wait = Q7M_WaitForSingleObject(lock, limitMs);
  if (wait == Q7M_WAIT_OBJECT_0 || wait == Q7M_WAIT_ABANDONED_0) return lock;
  if (wait == Q7M_WAIT_TIMEOUT) {
    Q7M_CloseHandle(lock);
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_ExclusiveLock Wait Timeout");
    Q7M_SetLastError(Q7M_ERROR_TIMEOUT);
    return nullptr;
  }
  // A failed wait did not make us the owner: claiming the lock would let two
  // sessions believe they hold it.
  GiveBack(lock);
  return nullptr;
}

// ---- XFS lock ----

uint32_t MemObject::XfsLock() {
  Q7M_HANDLE lock = ExclusiveLock(kXfsSuffix, kLockLimitMs);
  if (lock == nullptr) {
    const uint32_t error = Q7M_GetLastError();
    if (error == Q7M_ERROR_INVALID_PARAMETER || error == Q7M_ERROR_BAD_DEVICE)
      return SEQUOR_INVALID_PARAMETER;
    if (error == Q7M_ERROR_TIMEOUT) {
      Q7M_TRACE(kTraceDeviceBusy, "XfsLock: DEVICE BUSY");
      return SEQUOR_LOCKED_BY_OTHER;
    }
    return SEQUOR_SYSTEM_ERROR;
  }
  Q7M_HANDLE held;
  uint32_t r = GetMutex(&held);
  if (r != SEQUOR_SUCCESS) {
    // Not recorded, so nobody would ever close it: give the lock back now.
    GiveBack(lock);
    return r;
  }
  Q7M_HANDLE none = nullptr;
  const bool recorded = xfsLock_.compare_exchange_strong(none, lock);
  r = FreeMutex(held);
  if (!recorded) {
    // Another thread of this session got there first; one hold is enough.
    GiveBack(lock);
    return r != SEQUOR_SUCCESS ? r : SEQUOR_LOCKED_BY_SELF;
  }
  if (r != SEQUOR_SUCCESS) {
    xfsLock_.store(nullptr);
    GiveBack(lock);
  }
  return r;
}

uint32_t MemObject::IsXfsLocked() {
  if (xfsLock_.load() != nullptr) return SEQUOR_LOCKED_BY_SELF;
  // Nobody here holds it: try it, and give it back at once when that works.
  if (XfsLock() != SEQUOR_SUCCESS) return SEQUOR_LOCKED_BY_OTHER;
  XfsUnlock();
  return SEQUOR_SUCCESS;
}

uint32_t MemObject::XfsUnlock() {
  const uint32_t state = IsXfsLocked();
  if (state == SEQUOR_LOCKED_BY_OTHER) return SEQUOR_LOCKED_BY_OTHER;
  if (state == SEQUOR_SUCCESS) return SEQUOR_NOT_LOCKED_BY_SELF;

  Q7M_HANDLE held;
  uint32_t r = GetMutex(&held);
  if (r != SEQUOR_SUCCESS) return r;
  Q7M_HANDLE lock = xfsLock_.load();
  r = FreeMutex(held);
  if (r != SEQUOR_SUCCESS) return r;
  if (lock == nullptr) return SEQUOR_NOT_LOCKED_BY_SELF;
  if (!CloseLock(lock)) return SEQUOR_SYSTEM_ERROR;

  // The handle is closed: forget it even when the data mutex cannot be had,
  // or the session would claim a lock it no longer holds.
  r = GetMutex(&held);
  xfsLock_.store(nullptr);
  if (r != SEQUOR_SUCCESS) return r;
  return FreeMutex(held);
}

// ---- API lock ----

uint32_t MemObject::ApiLock() {
  Q7M_HANDLE lock = ExclusiveLock(kApiSuffix, kLockLimitMs);
  if (lock == nullptr) {
    const uint32_t error = Q7M_GetLastError();
    if (error == Q7M_ERROR_INVALID_PARAMETER || error == Q7M_ERROR_BAD_DEVICE) {
      Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_ApiLock Error 0x%08X", error);
      return SEQUOR_INVALID_PARAMETER;
    }
    if (error == Q7M_ERROR_TIMEOUT) {
      Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_ApiLock Wait Timeout");
      return SEQUOR_TIMEOUT;
    }
    return SEQUOR_SYSTEM_ERROR;
  }
  Q7M_HANDLE held;
  uint32_t r = GetMutex(&held);
  if (r != SEQUOR_SUCCESS) {
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_ApiLock GetMutex Error");
    GiveBack(lock);
    return r;
  }
  Q7M_HANDLE none = nullptr;
  const bool recorded = apiLock_.compare_exchange_strong(none, lock);
  r = FreeMutex(held);
  if (!recorded) {
    GiveBack(lock);
    return r != SEQUOR_SUCCESS ? r : SEQUOR_LOCKED_BY_SELF;
  }
  if (r != SEQUOR_SUCCESS) {
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_ApiLock FreeMutex Error");
    apiLock_.store(nullptr);
    GiveBack(lock);
  }
  return r;
}

uint32_t MemObject::CheckApiLock() {
  Q7M_HANDLE held;
  uint32_t r = GetMutex(&held);
  if (r != SEQUOR_SUCCESS) {
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_CheckApiLock GetMutex Error");
    return r;
  }
  if (apiLock_.load() != nullptr) {
    (void)FreeMutex(held);
    return SEQUOR_LOCKED_BY_SELF;
  }
  r = FreeMutex(held);
  if (r != SEQUOR_SUCCESS) {
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_CheckApiLock FreeMutex Error");
    return r;
  }
  if (ApiLock() != SEQUOR_SUCCESS) return SEQUOR_LOCKED_BY_OTHER;
  ApiUnlock();
  return SEQUOR_SUCCESS;
}

uint32_t MemObject::ApiUnlock() {
  const uint32_t state = CheckApiLock();
  if (state == SEQUOR_LOCKED_BY_OTHER) {
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_ApiUnlock CheckApiLock Locked");
    return SEQUOR_LOCKED_BY_OTHER;
  }
  if (state == SEQUOR_SUCCESS) return SEQUOR_NOT_LOCKED_BY_SELF;

  Q7M_HANDLE held;
  uint32_t r = GetMutex(&held);
  if (r != SEQUOR_SUCCESS) {
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_ApiUnlock GetMutex 1 Error");
    return r;
  }
  Q7M_HANDLE lock = apiLock_.load();
  if (lock == nullptr) {
    FreeMutex(held);
    return SEQUOR_NOT_LOCKED_BY_SELF;
  }
  if (!CloseLock(lock)) {
    LastErrorKeeper keepLastError;
    FreeMutex(held);
    return SEQUOR_SYSTEM_ERROR;
  }
  apiLock_.store(nullptr);
  r = FreeMutex(held);
  if (r != SEQUOR_SUCCESS) {
    Q7M_TRACE(kTraceLockFault, "SEQUOR:MemObject_ApiUnlock FreeMutex 2 Error");
    return r;
  }
  return SEQUOR_SUCCESS;
}

}  // namespace q7m
