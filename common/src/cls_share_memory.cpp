#include "q7m/common/cls_share_memory.h"

#include <atomic>
#include <cstring>
#include <limits>

#include "share_memory_stamp.h"

namespace q7m {

namespace {

constexpr uint32_t kReservedTail = 4;
constexpr uint32_t kOverhead = sizeof(ShareMemoryHeader) + kReservedTail;

// The header is read by threads that do not hold the lock (the nesting
// check) while the holder writes it; access it atomically. Only the holder
// writes. The owner fields of the previous hold stay behind when it ends, so
// a thread that held the lock last finds its own thread id and stamp there;
// it must never see a new holder's lockCount together with those stale
// owner fields, or it would take the new hold for its own and nest into it.
// A new holder therefore writes the owner fields first and publishes them
// with lockCount (release), and the nesting check reads lockCount first
// (acquire).
uint32_t Load(uint32_t& field) {
  return std::atomic_ref<uint32_t>(field).load(std::memory_order_relaxed);
}
void Store(uint32_t& field, uint32_t value) {
  std::atomic_ref<uint32_t>(field).store(value, std::memory_order_relaxed);
}
uint32_t LoadCount(uint32_t& lockCount) {
  return std::atomic_ref<uint32_t>(lockCount).load(std::memory_order_acquire);
}
void StoreCount(uint32_t& lockCount, uint32_t value) {
  std::atomic_ref<uint32_t>(lockCount).store(value, std::memory_order_release);
}

}  // namespace

clsShareMemory::~clsShareMemory() {
  Destroy();
}

uint32_t clsShareMemory::Create(const char* base, uint32_t dataSize) {
  if (mapping_ != nullptr) return kOk;
  if (dataSize > std::numeric_limits<uint32_t>::max() - kOverhead) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return kSystemFailure;
  }
  const uint32_t blockSize = dataSize + kOverhead;

  const char* name = MakeName(base, "Mem");
  if (name == nullptr) return kSystemFailure;
  Q7M_HANDLE mapping = Q7M_CreateFileMapping(name, blockSize);
  FreeName();
  if (mapping == nullptr) return kSystemFailure;
  // Map exactly the size this caller will touch: an existing block made
  // smaller by someone else fails here instead of being overrun later.
  void* view = Q7M_MapViewOfFile(mapping, blockSize);
  if (view == nullptr) {
    uint32_t lastError = Q7M_GetLastError();
    Q7M_CloseHandle(mapping);
    Q7M_SetLastError(lastError);
    return kSystemFailure;
  }

  bool created = false;
  uint32_t rc = CreateNamed(base, "MemLockMutex", true, kMayCreate | kMayOpen, &created);
  if (rc != kOk) {
    uint32_t lastError = Q7M_GetLastError();
    Q7M_UnmapViewOfFile(view);
    Q7M_CloseHandle(mapping);
    Q7M_SetLastError(lastError);
    return rc;
  }
  mapping_ = mapping;
  view_ = view;
  dataSize_ = dataSize;
  if (created) {
    // We made the guard and own it: nobody else can be inside the block
    // until it is initialised and released.
    stamp_.store(NewLockStamp(), std::memory_order_relaxed);
    ShareMemoryHeader* header = Header();
    Store(header->ownerThread, Q7M_GetCurrentThreadId());
    Store(header->ownerStamp, stamp_.load(std::memory_order_relaxed));
    StoreCount(header->lockCount, 0);
    InitializeData();
    Release();
  }
  return kOk;
}

void clsShareMemory::InitializeData() {
  if (view_ != nullptr) std::memset(Data(), 0, dataSize_);
}

void* clsShareMemory::Data() const {
  return view_ ? static_cast<char*>(view_) + sizeof(ShareMemoryHeader) : nullptr;
}

uint32_t clsShareMemory::Lock(uint32_t milliseconds) {
  if (view_ == nullptr) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return kSystemFailure;
  }
  ShareMemoryHeader* header = Header();
  const uint32_t me = Q7M_GetCurrentThreadId();
  const uint32_t count = LoadCount(header->lockCount);
  if (count != 0) {
    if (Load(header->ownerThread) == me) {
      if (Load(header->ownerStamp) == stamp_.load(std::memory_order_relaxed)) {
        StoreCount(header->lockCount, count + 1);  // nested hold of this object
        return kOk;
      }
      // Another object of this same thread holds the block. The guard is
      // recursive per thread, so waiting would "succeed" at once and take
      // the hold away from that object (which could then never release
      // it); only this thread could end the hold, so a wait cannot either.
      // An abandoned guard (a dead thread whose id we inherited) is ours.
      uint32_t probe = Q7M_WaitForSingleObject(handle(), 0);
      if (probe == Q7M_WAIT_OBJECT_0) {
        Release();
        Q7M_SetLastError(Q7M_ERROR_TIMEOUT);
        return kTimeout;
      }
      if (probe == Q7M_WAIT_ABANDONED_0) {
        TakeHold(header, me);
        return kOk;
      }
    }
    Q7M_SwitchToThread();
  }
  uint32_t rc = Wait(milliseconds);
  if (rc != kOk) return rc;
  TakeHold(header, me);
  return kOk;
}

void clsShareMemory::TakeHold(ShareMemoryHeader* header, uint32_t thread) {
  const uint32_t stamp = NewLockStamp();
  stamp_.store(stamp, std::memory_order_relaxed);
  Store(header->ownerThread, thread);
  Store(header->ownerStamp, stamp);
  StoreCount(header->lockCount, 1);  // publishes the owner fields above
}

void clsShareMemory::Unlock() {
  if (view_ == nullptr) return;
  ShareMemoryHeader* header = Header();
  uint32_t count = LoadCount(header->lockCount);
  if (count == 0) return;
  if (Load(header->ownerThread) != Q7M_GetCurrentThreadId() ||
      Load(header->ownerStamp) != stamp_.load(std::memory_order_relaxed)) {
    return;
  }
  StoreCount(header->lockCount, count - 1);
  if (count == 1) Release();
}

void clsShareMemory::Destroy() {
  uint32_t lastError = Q7M_GetLastError();
  if (view_ != nullptr) {
    // A hold still open through this object is given up, or the block
    // would stay locked for every process until this thread ends.
    ShareMemoryHeader* header = Header();
    if (LoadCount(header->lockCount) != 0 &&
        Load(header->ownerThread) == Q7M_GetCurrentThreadId() &&
        Load(header->ownerStamp) == stamp_.load(std::memory_order_relaxed)) {
      StoreCount(header->lockCount, 0);
      Release();
    }
    Q7M_UnmapViewOfFile(view_);
    view_ = nullptr;
  }
  if (mapping_ != nullptr) {
    Q7M_CloseHandle(mapping_);
    mapping_ = nullptr;
  }
  Close();
  dataSize_ = 0;
  Q7M_SetLastError(lastError);
}

}  // namespace q7m
