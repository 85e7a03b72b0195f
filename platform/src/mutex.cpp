// Mutex objects and their exported functions.
#include <sys/mman.h>

#include <new>

#include "mutex_object.h"
#include "q7m/platform_sys.h"
#include "robust_mutex.h"
#include "thread_id.h"

namespace q7m::platform {

MutexObject::MutexObject(std::string fileName, int fd, ObjectPage* page, bool anonymous)
    : SharedObject(ObjectKind::kMutex, std::move(fileName), fd),
      page_(page),
      anonymous_(anonymous) {
  link_.object = this;
  link_.lockWord = &page_->lock.mutex.__data.__lock;
}

MutexObject::~MutexObject() {
  if (anonymous_) {
    pthread_mutex_destroy(&page_->lock.mutex);
    munmap(page_, ObjectPageSize());
  } else {
    CloseKeepingPage(page_);
  }
}

uint32_t MutexObject::Wait(uint32_t milliseconds) {
  ObjectLock& lock = page_->lock;
  LockResult result = LockRobustMutex(&lock.mutex, Deadline::After(milliseconds));
  switch (result) {
    case LockResult::kTimedOut:
      return Q7M_WAIT_TIMEOUT;
    case LockResult::kFailed:
      return Q7M_WAIT_FAILED;
    case LockResult::kAbandoned:
      // The dead owner's count means nothing: pthread restarted at one.
      lock.depth = 0;
      break;
    case LockResult::kAcquired:
      break;
  }
  if (lock.depth++ == 0) {
    lock.ownerTid.store(CurrentThreadId(), std::memory_order_relaxed);
    AddRef();
    NoteOwnershipTaken(&link_);
  }
  return result == LockResult::kAbandoned ? Q7M_WAIT_ABANDONED_0 : Q7M_WAIT_OBJECT_0;
}

bool MutexObject::ReleaseOnce() {
  ObjectLock& lock = page_->lock;
  // Only the owner reads depth; everyone else stops at the id.
  if (lock.ownerTid.load(std::memory_order_relaxed) != CurrentThreadId() || lock.depth == 0) {
    Q7M_SetLastError(Q7M_ERROR_NOT_OWNER);
    return false;
  }
  bool last = --lock.depth == 0;
  if (last) {
    // The books are closed before the unlock: the moment it is unlocked
    // another thread of this process may take it and note the same link.
    lock.ownerTid.store(0, std::memory_order_relaxed);
    NoteOwnershipGiven(&link_);
  }
  if (pthread_mutex_unlock(&lock.mutex) != 0) {
    // The pthread mutex disagrees (it was re-initialised under us): keep
    // our books as they were.
    if (last) {
      NoteOwnershipTaken(&link_);
      lock.ownerTid.store(CurrentThreadId(), std::memory_order_relaxed);
    }
    ++lock.depth;
    Q7M_SetLastError(Q7M_ERROR_NOT_OWNER);
    return false;
  }
  if (last) Release();  // the reference the ownership held
  return true;
}

namespace {

// context: points to the creator's initialOwner flag (null for open-only).
SharedObject* MakeNamedMutex(const NamespaceLock&, std::string fileName, const ObjectFile& file,
                             const void* context) {
  ObjectPage* page =
      file.fresh ? InitObjectFile(file.fd, file.size, file.page, ObjectKind::kMutex, 0, 0, true)
                 : AttachObjectFile(file.fd, file.size, file.page, ObjectKind::kMutex);
  if (!page) return nullptr;
  auto* mutex = new MutexObject(std::move(fileName), file.fd, page, false);
  // Taken while the exclusive flock of the fresh file still keeps every
  // other process out, so nobody can get in first; being new, it is free.
  if (file.fresh && context && *static_cast<const bool*>(context)) mutex->Wait(0);
  return mutex;
}

MutexObject* MakeUnnamedMutex() {
  size_t size = ObjectPageSize();
  void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) {
    Q7M_SetLastError(Q7M_ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* page = new (map) ObjectPage{};
  int rc = InitRobustMutex(&page->lock.mutex, false);
  if (rc != 0) {
    munmap(map, size);
    Q7M_SetLastError(Q7M_Win32ErrorFromErrno(rc));
    return nullptr;
  }
  page->header.magic = kObjectMagic;
  page->header.version = kObjectLayoutVersion;
  page->header.kind = static_cast<uint16_t>(ObjectKind::kMutex);
  return new MutexObject(std::string(), -1, page, true);
}

}  // namespace

}  // namespace q7m::platform

using namespace q7m::platform;

extern "C" {

Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_CreateMutex(int initialOwner, const char* name) {
  MutexObject* mutex;
  bool existed = false;
  const bool wantsOwnership = initialOwner != 0;
  if (IsObjectName(name)) {
    mutex = static_cast<MutexObject*>(OpenSharedObject(name, ObjectKind::kMutex, true,
                                                       MakeNamedMutex, &wantsOwnership, &existed));
  } else {
    mutex = MakeUnnamedMutex();
    if (mutex && wantsOwnership) mutex->Wait(0);
  }
  if (!mutex) return nullptr;
  const bool owned = wantsOwnership && !existed;
  Q7M_HANDLE handle = InsertHandle(mutex);
  if (!handle) {
    // The ownership's own reference still keeps the object alive here.
    if (owned) mutex->ReleaseOnce();
    return nullptr;
  }
  Q7M_SetLastError(existed ? Q7M_ERROR_ALREADY_EXISTS : Q7M_ERROR_SUCCESS);
  return handle;
}

Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_OpenMutex(const char* name) {
  if (!IsObjectName(name)) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool existed = false;
  KernelObject* mutex =
      OpenSharedObject(name, ObjectKind::kMutex, false, MakeNamedMutex, nullptr, &existed);
  return mutex ? InsertHandle(mutex) : nullptr;
}

Q7M_EXPORT int Q7M_API Q7M_ReleaseMutex(Q7M_HANDLE handle) {
  ObjectRef ref = LookupHandle(handle, ObjectKind::kMutex);
  if (!ref) return 0;
  return static_cast<MutexObject*>(ref.get())->ReleaseOnce() ? 1 : 0;
}

}  // extern "C"
