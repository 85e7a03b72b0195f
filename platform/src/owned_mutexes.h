// Which mutexes the threads of this process own.
//
// The kernel marks a robust mutex abandoned by walking a list that lives in
// the dead thread's own memory, through the address at which the mutex was
// locked. So while a thread owns a mutex, the mapping that holds it must
// stay, even when the owner has closed every handle. Each ownership
// therefore holds a reference to the mutex object. When a thread ends still
// owning mutexes, those references are parked until the kernel has marked
// the mutex abandoned (or the thread is gone) and are dropped at a later
// platform call.
#pragma once

#include "handle_table.h"

namespace q7m::platform {

struct OwnershipLink {
  OwnershipLink* next = nullptr;
  KernelObject* object = nullptr;  // the mutex object the link belongs to
  // The pthread mutex's lock word (owner thread id in its low bits): once it
  // no longer names a dead owner, the kernel has dealt with that mutex.
  const int* lockWord = nullptr;
};

// The calling thread now owns link->object and holds a reference to it
// for as long as it does.
void NoteOwnershipTaken(OwnershipLink* link);
// The calling thread gave up ownership; the caller drops the reference.
void NoteOwnershipGiven(OwnershipLink* link);
// Drops the references of owners that have ended (cheap when there are
// none).
void ReleaseOwnershipOfEndedThreads();

}  // namespace q7m::platform
