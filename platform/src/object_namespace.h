// The machine-wide namespace of named objects: one directory, one file per
// object, one lock over the whole namespace.
//
// Lifetime rule: every process that has an object open holds its file open
// with a shared flock. Creating, opening and closing the last local
// reference are decided under the namespace lock (an in-process mutex plus
// an exclusive flock on the namespace's lock file):
//  - create/open: if an exclusive, non-blocking flock on the object file
//    succeeds, nobody holds the object: it is new, or the leftover of
//    processes that were killed, and is initialised afresh (open-only
//    treats it as missing and removes it);
//  - close: if the exclusive flock succeeds, this was the last holder in the
//    whole machine and the files are removed.
// The kernel drops a killed process's flocks, so an object also goes away
// with its last holder when that holder dies: its file is at most a stale
// leftover that nobody can open and the next creator reuses.
#pragma once

#include <string>

#include "handle_table.h"

namespace q7m::platform {

class NamespaceLock {
 public:
  // Takes the lock; check ok() (false: last error set, nothing held).
  NamespaceLock();
  ~NamespaceLock();
  NamespaceLock(const NamespaceLock&) = delete;
  NamespaceLock& operator=(const NamespaceLock&) = delete;

  bool ok() const { return ok_; }
  // The namespace directory (valid while the lock is held).
  int dirFd() const;

 private:
  bool ok_ = false;
};

struct ObjectFile {
  int fd = -1;
  // Nobody held the file: the caller holds it exclusively and must
  // initialise it, then call PublishObjectFile.
  bool fresh = false;
};

// Opens (and with mayCreate creates) the file of an object, holding the
// namespace lock. Existing and held by someone: shared flock taken. False
// with the last error: Q7M_ERROR_FILE_NOT_FOUND (open-only and missing or
// stale), Q7M_ERROR_ACCESS_DENIED, ...
bool OpenObjectFile(const NamespaceLock& lock, const std::string& fileName, bool mayCreate,
                    ObjectFile* file);
// Turns the exclusive flock of an initialised fresh file into a shared one.
void PublishObjectFile(int fd);
// Closes this process's descriptor of an object file; removes the file (and
// its signal FIFO) when no other process holds it.
void CloseObjectFile(const NamespaceLock& lock, int fd, const std::string& fileName);

// The registry of the named objects this process has open, so that every
// handle to one object shares one descriptor and one mapping. All calls
// need the namespace lock.
// A new reference to the registered object, or null (with *wrongKind set
// when the name is taken by an object of another kind).
KernelObject* FindRegisteredObject(const NamespaceLock& lock, const std::string& fileName,
                                   ObjectKind kind, bool* wrongKind);
void RegisterObject(const NamespaceLock& lock, const std::string& fileName, KernelObject* object);
// Removes the entry if it still names `object`.
void UnregisterObject(const NamespaceLock& lock, const std::string& fileName,
                      const KernelObject* object);

}  // namespace q7m::platform
