// DeviceSession: the object behind a SEQUOR handle, and the process-wide
// table of open sessions that every export looks handles up in.
//
// The table turns a stale or made-up handle into a result code instead of a
// fault, and counts the calls that are using each session, so a close waits
// until the session's own work (an asynchronous exchange's worker thread
// above all) has left it before its memory goes.
#pragma once

#include <atomic>
#include <cstdint>

#include "mem_object.h"
#include "q7m/sequor.h"

namespace q7m {

struct DeviceSession {
  char* name = nullptr;         // heap copy (serial number or device path)
  std::atomic<int> port{-1};    // port-driver handle; -1 once closed
  MemObject* memory = nullptr;  // the session's shared-state object
  // Bookkeeping of the session table, guarded by its lock.
  uint32_t users = 0;
  bool closing = false;
};

inline SEQUOR_HANDLE ToHandle(DeviceSession* session) {
  return reinterpret_cast<SEQUOR_HANDLE>(session);
}

namespace sessions {

// Enters a new session into the table; false when memory runs out.
bool Add(DeviceSession* session);
// The open session behind `handle`, counted as in use; null when the
// handle is unknown or the session is being closed.
DeviceSession* Acquire(SEQUOR_HANDLE handle);
// Counts one more user of a session the caller already uses (a worker
// thread that outlives the call which started it).
void AddUser(DeviceSession* session);
void Release(DeviceSession* session);

// Marks the session as closing (new users are refused); null when the
// handle is unknown or another close is running. Returns whether calls are
// still using it in `*inUse`.
DeviceSession* BeginClose(SEQUOR_HANDLE handle, bool* inUse);
// Waits until no call uses the session any more.
void WaitUnused(DeviceSession* session);
// The close failed: the session is open again.
void AbortClose(DeviceSession* session);
// Removes a closing session from the table.
void Remove(DeviceSession* session);
// Removes and returns one idle session (for the library's detach), or null.
DeviceSession* TakeIdle();

}  // namespace sessions

// A use of a session for the length of one export.
class SessionUse {
 public:
  explicit SessionUse(SEQUOR_HANDLE handle) : session_(sessions::Acquire(handle)) {}
  ~SessionUse() {
    if (session_ != nullptr) sessions::Release(session_);
  }
  SessionUse(const SessionUse&) = delete;
  SessionUse& operator=(const SessionUse&) = delete;

  DeviceSession* get() const { return session_; }
  explicit operator bool() const { return session_ != nullptr; }
  DeviceSession* operator->() const { return session_; }

 private:
  DeviceSession* session_;
};

}  // namespace q7m
