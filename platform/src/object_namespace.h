// The machine-wide namespace of named objects: one directory, one file per
// object. Processes agree on an object's life through the flocks on its
// file alone; there is no namespace-wide lock, so opening and closing an
// object costs a few system calls on its own file and nothing else.
//
// The protocol (every process that has an object open holds its file open
// with a shared flock, from its first handle until its last one closes):
//  - open: open the file by name, then try an exclusive, non-blocking flock.
//    When that fails, somebody holds the object: take a shared flock
//    (waiting, if need be, for the few system calls of a creator that is
//    still filling the file in or of a closer that is removing it). When it
//    succeeds, nobody holds the file: it is new, or the leftover of holders
//    that were killed; a creator initialises it afresh under the exclusive
//    flock and then turns that into a shared one (Linux converts a flock
//    under one lock of the inode, so no other locker gets in between);
//    open-only removes it and reports the object missing.
//  - close: try to turn the shared flock into an exclusive, non-blocking
//    one. When that succeeds, this was the last holder in the whole
//    machine: the files are removed, then closed.
//  - only a holder of the exclusive flock ever removes a name, so a file
//    that is still linked after we got our flock is the object's current
//    file; one that is not (its link count is 0) was removed while we were
//    getting there, and the open starts over.
// The kernel drops a killed process's flocks, so an object also goes away
// with its last holder when that holder dies: its file is at most a stale
// leftover, which the next creator reuses and the next opener removes. A
// leftover whose name nobody opens again is removed by a sweep: each process
// looks at a bounded stretch of the directory when it first opens it and
// after every few dozen files it creates, and removes each file nobody holds
// by the steps of a last close.
//
// Within a process every handle to one object shares one descriptor, one
// flock and one mapping: a registry of the named objects this process has
// open turns a second open into a lookup.
//
// A mutex's file and mapping outlive its last handle in this process: the
// close gives the flock back (so the object vanishes exactly as before when
// no other process holds it: its file is then a leftover, which the protocol
// treats as absent) but keeps the descriptor and the first page, so the
// next create or open of that name by this process takes the flocks on the
// kept descriptor instead of opening, checking and mapping the file again.
// A kept file holds no flock and is checked afresh on every use (still
// linked, still a mutex); a few are kept per process, the oldest given up
// (and removed when nobody holds it) to make room.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "handle_table.h"
#include "object_layout.h"

namespace q7m::platform {

// This process's lock over its registry and its own steps on object files
// (an in-process mutex: other processes are excluded by the flocks). While
// it is held no fork() can happen, so a child never inherits a descriptor
// in the middle of a step that holds an exclusive flock.
class NamespaceLock {
 public:
  // Takes the lock and opens the namespace directory once per process;
  // check ok() (false: last error set, nothing held).
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
  // The file's size when the flock was obtained (only holders of the
  // exclusive flock change it).
  off_t size = 0;
  // The first page, when this process kept it mapped since its last close
  // (mutexes); whoever takes the ObjectFile owns the mapping.
  ObjectPage* page = nullptr;
};

// A file of the namespace this process must not adopt as (part of) an
// object: one of a user outside our groups (not us, not root, and its group
// is none of ours), planted under an object's name before the object was
// made, to read or steer the processes that would use it - or to hold its
// flock for ever. Such a name answers Q7M_ERROR_ACCESS_DENIED and is left as
// it is.
bool ForeignObjectFile(const struct stat& st);

// Opens (and with mayCreate creates) the file of an object and returns it
// held (see above). False with the last error: Q7M_ERROR_FILE_NOT_FOUND
// (open-only and missing or stale), Q7M_ERROR_ACCESS_DENIED,
// Q7M_ERROR_INVALID_HANDLE (not a regular file), ...
bool OpenObjectFile(const NamespaceLock& lock, const std::string& fileName, ObjectKind kind,
                    bool mayCreate, ObjectFile* file);
// Turns the exclusive flock of an initialised fresh file into a shared one.
void PublishObjectFile(int fd);
// Closes this process's descriptor of an object file; removes the file (and
// with hasSignalFile its signal FIFO) when no other process holds it.
void CloseObjectFile(const NamespaceLock& lock, int fd, const std::string& fileName,
                     bool hasSignalFile);
// The close of a mutex's file: gives its flock back and keeps the
// descriptor and the mapped first page for this process's next open.
void CloseAndKeepObjectFile(const NamespaceLock& lock, int fd, const std::string& fileName,
                            ObjectPage* page);

// The registry of the named objects this process has open. All calls need
// the namespace lock.
// A new reference to the registered object, or null (with *wrongKind set
// when the name is taken by an object of another kind).
KernelObject* FindRegisteredObject(const NamespaceLock& lock, const std::string& fileName,
                                   ObjectKind kind, bool* wrongKind);
// Registers `object`, whose file is open as `fd` (the descriptor a forked
// child closes: it inherits no objects).
void RegisterObject(const NamespaceLock& lock, const std::string& fileName, KernelObject* object,
                    int fd);
// Removes the entry if it still names `object`.
void UnregisterObject(const NamespaceLock& lock, const std::string& fileName,
                      const KernelObject* object);

}  // namespace q7m::platform
