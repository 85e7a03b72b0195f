// MemObject: one session's view of the state that every process using the
// same reader shares. It owns the session's attachment to the device's
// SharedData block, the session's hold on the device's XFS and API locks, and
// the session's cancel event.
//
// All of it lives in named kernel objects derived from the device key K:
//   K       the data mutex guarding SharedData, opened for each use only
//   K"SHM"  the SharedData block
//   K"XFS"  the XFS lock: held while the holder keeps its handle open
//   K"API"  the API lock: likewise
//   K"SES"  the session register (session_register.h): each process's share
//           of the open count and the exchange marker, so that what a killed
//           process held is given back by the next one that meets it
// A lock is held while its handle is open and given back by closing it
// (after releasing it when the closing thread is its owner). Its semantics
// are those of the platform's named mutexes: the mutex belongs to the thread
// that obtained it (a second session on that thread obtains it too), it is
// abandoned, and so free again, when that thread or its process ends, and
// it disappears with its last handle.
//
// Every operation returns a SEQUOR result code.
#pragma once

#include <atomic>
#include <cstdint>

#include "device_key.h"
#include "q7m/platform_sys.h"
#include "session_register.h"
#include "shared_data.h"

namespace q7m {

// How long the data mutex and the locks are waited for.
constexpr uint32_t kDataMutexLimitMs = 5000;
constexpr uint32_t kLockLimitMs = 100;

class MemObject {
 public:
  MemObject();
  // Detaches from SharedData and closes every handle, which gives back the
  // locks this session still holds.
  ~MemObject();
  MemObject(const MemObject&) = delete;
  MemObject& operator=(const MemObject&) = delete;

  // False when the cancel event could not be created (last error set).
  bool usable() const { return cancelEvent_ != nullptr; }
  const char* key() const { return key_; }
  bool attached() const { return view_ != nullptr; }

  // Derives the key from `devicePath`, creates or attaches the device's
  // SharedData and counts this session in. Shares of the count that
  // belonged to processes which have ended are taken out first.
  uint32_t OpenSharedData(const char* devicePath);
  // Counts this session out (the last one resets the block; shares of ended
  // processes do not keep it from being the last) and detaches.
  uint32_t CloseSharedData();

  // The device's exchange marker (no lock): BeginExchange marks an exchange
  // of this process as running and tells whether the one before was left
  // unfinished (see session_register.h); EndExchange marks its end.
  bool BeginExchange();
  void EndExchange(bool answerMayFollow);

  // Takes the data mutex; `*held` receives the handle that FreeMutex gives
  // back. The handle is the caller's, so threads sharing a session never
  // hand each other's holds back.
  uint32_t GetMutex(Q7M_HANDLE* held);
  uint32_t FreeMutex(Q7M_HANDLE held);

  // One copy each, under the data mutex.
  uint32_t GetResult(uint32_t* value);
  uint32_t SetResult(uint32_t value);
  // Stores the first kStoredCommandCapacity bytes and their count.
  uint32_t SetCommandBuffer(const void* bytes, uint32_t count);
  // Copies at most `capacity` bytes of the stored response; `*count` is the
  // number copied.
  uint32_t GetResponseBuffer(void* destination, uint32_t capacity, uint32_t* count);
  // Stores the first kStoredResponseCapacity bytes and their count.
  uint32_t SetResponseBuffer(const void* bytes, uint32_t count);
  uint32_t GetCancelEvent(Q7M_HANDLE* event);

  // Obtains the lock named K + suffix within `limitMs`: its handle, or null
  // with the last error (ERROR_INVALID_PARAMETER, ERROR_TIMEOUT or the
  // system's error).
  Q7M_HANDLE ExclusiveLock(const char* suffix, uint32_t limitMs);

  uint32_t XfsLock();
  uint32_t XfsUnlock();
  uint32_t IsXfsLocked();
  uint32_t ApiLock();
  uint32_t ApiUnlock();
  uint32_t CheckApiLock();

 private:
  // The copy shared by the accessors: take the data mutex, run `copy`, give
  // it back; `failureLine` is traced when the mutex is not obtained.
  template <typename Copy>
  uint32_t UnderDataMutex(const char* failureLine, Copy copy);
  // Gives a lock back: releases it when this thread owns it, then closes
  // the handle. False when the close fails (last error set).
  static bool CloseLock(Q7M_HANDLE lock);
  // CloseLock for a lock obtained but not recorded, keeping the last error.
  static void GiveBack(Q7M_HANDLE lock);

  // Maps the block K + suffix of `size` bytes: the view and its handle, or
  // null with the last error.
  void* MapNamedBlock(const char* suffix, uint32_t size, Q7M_HANDLE* mapping, bool* created);
  // Unmaps and closes both blocks: false when one of the steps failed.
  bool Detach();

  Q7M_HANDLE mapping_ = nullptr;
  Q7M_HANDLE registerMapping_ = nullptr;
  SessionRegister* register_ = nullptr;
  ShareHold share_;
  char key_[kDeviceKeyCapacity + 1] = {};
  // Read without the data mutex by the XFS query, so atomic.
  std::atomic<Q7M_HANDLE> xfsLock_{nullptr};
  std::atomic<Q7M_HANDLE> apiLock_{nullptr};
  Q7M_HANDLE cancelEvent_ = nullptr;
  SharedData* view_ = nullptr;
};

}  // namespace q7m
