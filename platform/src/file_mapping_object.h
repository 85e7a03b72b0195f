// A block of shared memory: an object file (named) or a memfd (unnamed),
// first page header, then the zero-filled payload that views map.
#pragma once

#include <cstdint>

#include "shared_object.h"

namespace q7m::platform {

class FileMappingObject : public SharedObject {
 public:
  FileMappingObject(std::string fileName, int fd, uint64_t size)
      : SharedObject(ObjectKind::kFileMapping, std::move(fileName), fd), size_(size) {}

  uint64_t size() const { return size_; }
  // Maps `length` bytes of the payload read/write; null with the last error.
  void* MapPayload(size_t length) const;

 private:
  const uint64_t size_;
};

}  // namespace q7m::platform
