#include "owned_mutexes.h"

#include <linux/futex.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include "thread_id.h"

namespace q7m::platform {

namespace {

struct ParkedOwnership {
  const OwnershipLink* link;
  pid_t thread;
};

struct Parking {
  std::mutex mutex;
  std::vector<ParkedOwnership> entries;
  std::atomic<size_t> count{0};
};

Parking& TheParking() {
  static Parking* parking = new Parking;
  return *parking;
}

// The mutexes the calling thread owns. Its destructor runs when the thread
// ends, before the kernel processes the thread's robust list.
struct ThreadOwnerships {
  OwnershipLink* head = nullptr;
  ~ThreadOwnerships() {
    if (!head) return;
    pid_t self = static_cast<pid_t>(CurrentThreadId());
    Parking& p = TheParking();
    std::lock_guard lock(p.mutex);
    for (OwnershipLink* link = head; link; link = link->next) {
      p.entries.push_back({link, self});
    }
    head = nullptr;
    p.count.store(p.entries.size(), std::memory_order_release);
  }
};

thread_local ThreadOwnerships tOwned;

// The kernel clears the owner id (and sets "owner died") in the lock word
// when it walks a dead thread's robust list, after which it no longer reads
// that mutex's memory; a thread that is gone altogether is past the walk.
bool KernelIsDoneWith(const ParkedOwnership& parked) {
  int word = __atomic_load_n(parked.link->lockWord, __ATOMIC_ACQUIRE);
  if ((word & FUTEX_TID_MASK) != parked.thread) return true;
  return tgkill(getpid(), parked.thread, 0) != 0 && errno == ESRCH;
}

}  // namespace

void NoteOwnershipTaken(OwnershipLink* link) {
  link->next = tOwned.head;
  tOwned.head = link;
}

void NoteOwnershipGiven(OwnershipLink* link) {
  for (OwnershipLink** p = &tOwned.head; *p; p = &(*p)->next) {
    if (*p == link) {
      *p = link->next;
      break;
    }
  }
  link->next = nullptr;
}

void ReleaseOwnershipOfEndedThreads() {
  Parking& p = TheParking();
  if (p.count.load(std::memory_order_acquire) == 0) return;
  std::vector<KernelObject*> done;
  {
    std::lock_guard lock(p.mutex);
    for (size_t i = 0; i < p.entries.size();) {
      if (KernelIsDoneWith(p.entries[i])) {
        done.push_back(p.entries[i].link->object);
        p.entries[i] = p.entries.back();
        p.entries.pop_back();
      } else {
        ++i;
      }
    }
    p.count.store(p.entries.size(), std::memory_order_release);
  }
  for (KernelObject* object : done) object->Release();
}

}  // namespace q7m::platform
