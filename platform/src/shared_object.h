// The base of the kernel objects that can live in the namespace (mutexes,
// events, file mappings), and the steps every one of them shares: turning a
// name into its object file, finding or creating it, initialising or
// checking its first page, and giving it back when the last reference goes.
#pragma once

#include <string>

#include "handle_table.h"
#include "object_layout.h"
#include "object_namespace.h"

namespace q7m::platform {

class SharedObject : public KernelObject {
 public:
  // fileName empty: an unnamed object (fd, if any, is simply closed).
  SharedObject(ObjectKind kind, std::string fileName, int fd)
      : KernelObject(kind), fileName_(std::move(fileName)), fd_(fd) {}
  // Unregisters the object and gives its file back to the namespace (which
  // removes it if this was the last holder).
  ~SharedObject() override;

  bool named() const { return !fileName_.empty(); }

 protected:
  // The close of a named object that keeps its first page mapped (a mutex):
  // done by the derived destructor, which hands the page over to be kept
  // for this process's next open of the name.
  void CloseKeepingPage(ObjectPage* page);

  int fd() const { return fd_; }
  const std::string& fileName() const { return fileName_; }

 private:
  const std::string fileName_;
  int fd_;
};

// Builds the object for an opened object file. `file.fresh`: the file is new
// (or a stale leftover) and the factory must initialise it. Returns null with
// the last error on failure, leaving the descriptor to the caller.
using SharedObjectFactory = SharedObject* (*)(const NamespaceLock& lock, std::string fileName,
                                              const ObjectFile& file, const void* context);

// Creates (mayCreate) or opens the named object. Null with the last error:
// Q7M_ERROR_FILE_NOT_FOUND, Q7M_ERROR_INVALID_HANDLE (the name belongs to an
// object of another kind), Q7M_ERROR_ACCESS_DENIED, ... *existed tells
// whether the object was there before.
KernelObject* OpenSharedObject(const char* name, ObjectKind kind, bool mayCreate,
                               SharedObjectFactory factory, const void* context, bool* existed);

// True for a name that selects the namespace (non-null, non-empty).
inline bool IsObjectName(const char* name) {
  return name != nullptr && name[0] != '\0';
}

// Sizes the fresh object file of `currentSize` bytes (first page + dataSize
// bytes, all zero), maps its first page (or reuses `mapped`, the first page
// this process kept mapped) and writes the header and the lock. Null with
// the last error (`mapped` is then unmapped).
ObjectPage* InitObjectFile(int fd, off_t currentSize, ObjectPage* mapped, ObjectKind kind,
                           uint32_t flags, uint64_t dataSize, bool processShared);
// Maps the first page of an existing object file of `size` bytes (or takes
// `mapped`, as above) and checks that it holds an object of `kind` whose
// size matches the file. Null with the last error (Q7M_ERROR_INVALID_HANDLE
// for another kind or a foreign file; `mapped` is then unmapped).
ObjectPage* AttachObjectFile(int fd, off_t size, ObjectPage* mapped, ObjectKind kind);
// Reads and checks the header alone (for objects that do not keep their
// first page mapped). False with the last error, as AttachObjectFile.
bool ReadObjectHeader(int fd, off_t size, ObjectKind kind, ObjectHeader* header);
void UnmapObjectPage(ObjectPage* page);

}  // namespace q7m::platform
