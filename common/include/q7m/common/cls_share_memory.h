// A named shared-memory block with a recursive lock that works across
// processes. Layout of the block: a 12-byte lock header, the caller's data
// area of n bytes, 4 reserved bytes (n + 16 bytes in all).
#pragma once

#include <atomic>
#include <cstdint>

#include "q7m/common/cls_mutex.h"

namespace q7m {

// The lock header at the start of every block (inter-process format).
struct ShareMemoryHeader {
  uint32_t lockCount;    // nesting depth of the current hold; 0 when free
  uint32_t ownerThread;  // thread id of the holder
  uint32_t ownerStamp;   // tick stamp of the holding object
};
static_assert(sizeof(ShareMemoryHeader) == 12);

class clsShareMemory : public clsMutex {
 public:
  clsShareMemory() = default;
  ~clsShareMemory() override;

  // Creates or opens the block named from `base` + "Mem" with a data area
  // of `dataSize` bytes, and its guard mutex `base` + "MemLock" + "Mutex".
  // The creator of the guard initialises the header and the data
  // (InitializeData). kOk (also when a mapping is already held), the codes
  // of clsMutex::Create, or kSystemFailure.
  uint32_t Create(const char* base, uint32_t dataSize);
  // kOk, kTimeout, kSystemFailure (also without a block). Nested for the same
  // (thread, object). A second object of the same thread does not nest: while
  // the first holds the block it gets 2 at once (only this thread could end
  // that hold, so waiting could not help).
  uint32_t Lock(uint32_t milliseconds);
  void Unlock();
  // Gives up a hold this object still has, unmaps and closes everything
  // (keeps the last error).
  void Destroy();

  void* Data() const;
  uint32_t DataSize() const { return dataSize_; }
  ShareMemoryHeader* Header() const { return static_cast<ShareMemoryHeader*>(view_); }

 protected:
  // Fills the data area of a block this object created; zeroes it by default.
  virtual void InitializeData();

 private:
  void TakeHold(ShareMemoryHeader* header, uint32_t thread);

  Q7M_HANDLE mapping_ = nullptr;
  void* view_ = nullptr;
  // Written by whichever thread of this process takes a hold through this
  // object, read by the others in their nesting check.
  std::atomic<uint32_t> stamp_{0};
  uint32_t dataSize_ = 0;
};

}  // namespace q7m
