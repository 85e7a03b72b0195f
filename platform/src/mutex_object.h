// A mutex object: a robust recursive pthread mutex in the object's first
// page (a file in the namespace for a named mutex, an anonymous page for an
// unnamed one), mapped once per process.
#pragma once

#include "owned_mutexes.h"
#include "shared_object.h"

namespace q7m::platform {

class MutexObject : public SharedObject {
 public:
  MutexObject(std::string fileName, int fd, ObjectPage* page, bool anonymous);
  ~MutexObject() override;

  // Q7M_WAIT_OBJECT_0, Q7M_WAIT_ABANDONED_0 (the calling thread owns it in
  // both cases), Q7M_WAIT_TIMEOUT or Q7M_WAIT_FAILED (last error set).
  uint32_t Wait(uint32_t milliseconds);
  // Gives up one level of ownership; false with Q7M_ERROR_NOT_OWNER when the
  // calling thread does not own the mutex.
  bool ReleaseOnce();

 private:
  ObjectPage* const page_;
  const bool anonymous_;
  OwnershipLink link_;
};

}  // namespace q7m::platform
