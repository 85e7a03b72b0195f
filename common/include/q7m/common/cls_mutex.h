// A named mutex shared by every process of the machine.
#pragma once

#include <cstdint>

#include "q7m/common/object_name.h"
#include "q7m/common/results.h"
#include "q7m/platform_sys.h"

namespace q7m {

class clsMutex : public clsNamedObject {
 public:
  clsMutex() = default;
  ~clsMutex() override;

  // Creates or opens the mutex named from `base` + "Mutex". flags:
  // kMayCreate, kMayOpen or both. kOk (also when a handle is already held),
  // kSystemFailure, kMutexExisted (kMayOpen not given), kMutexCreated
  // (kMayCreate not given; the new mutex is closed again). Initial ownership is granted only
  // to the creator of a new mutex.
  uint32_t Create(const char* base, bool initialOwner, uint32_t flags);
  // kOk obtained (also when abandoned, and when there is no handle),
  // kTimeout, kSystemFailure. Q7M_INFINITE: no limit.
  uint32_t Wait(uint32_t milliseconds);
  // Releases one level of ownership; a failure is not reported.
  void Release();
  // Closes the handle (keeps the last error).
  void Close();

  Q7M_HANDLE handle() const { return handle_; }

 protected:
  // Creates with an explicit suffix (clsShareMemory's guard uses "MemLock" + "Mutex").
  // `created` (optional) tells whether this call made a new mutex.
  uint32_t CreateNamed(const char* base, const char* suffix, bool initialOwner, uint32_t flags,
                       bool* created = nullptr);

 private:
  Q7M_HANDLE handle_ = nullptr;
};

}  // namespace q7m
