// Events. Every event is a descriptor that polls readable exactly while the
// event is signalled, so it can be waited on together with device
// descriptors and handed to an application's own event loop:
//  - unnamed: an eventfd (counter > 0 = signalled; one read takes it all);
//  - named: a FIFO beside the object file, holding one byte while
//    signalled. A robust lock in the object's first page makes "write a
//    byte unless one is there" and "take the byte" atomic across processes,
//    so two sets in a row still make one signal and one set releases
//    exactly one automatic-reset waiter.
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "object_file_name.h"
#include "q7m/platform_sys.h"
#include "robust_mutex.h"
#include "shared_object.h"

namespace q7m::platform {

namespace {

constexpr mode_t kFifoMode = 0660;

class EventObject : public SharedObject {
 public:
  // page: the named event's first page (guard lock, kind); null for an
  // eventfd. signalFd: the FIFO or the eventfd.
  EventObject(std::string fileName, int objectFd, ObjectPage* page, int signalFd, bool manual)
      : SharedObject(ObjectKind::kEvent, std::move(fileName), objectFd),
        page_(page),
        signalFd_(signalFd),
        manual_(manual) {}
  ~EventObject() override {
    close(signalFd_);
    UnmapObjectPage(page_);
  }

  int signalFd() const { return signalFd_; }

  bool Set() {
    if (!page_) return WriteCounter();
    Guard guard(page_);
    int queued = 0;
    if (ioctl(signalFd_, FIONREAD, &queued) != 0) return Fail();
    if (queued > 0) return true;
    char byte = 1;
    ssize_t n;
    do {
      n = write(signalFd_, &byte, 1);
    } while (n < 0 && errno == EINTR);
    return n == 1 || errno == EAGAIN || Fail();
  }

  bool Reset() {
    if (!page_) {
      Drain();
      return true;
    }
    Guard guard(page_);
    Drain();
    return true;
  }

  bool GetWaitFd(int* fd, short* events) const override {
    *fd = signalFd_;
    *events = POLLIN;
    return true;
  }

  AcquireResult Acquire(short revents) override {
    if (revents & POLLNVAL) {
      Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
      return AcquireResult::kFailed;
    }
    if (!(revents & POLLIN)) return AcquireResult::kLost;
    if (manual_) return AcquireResult::kAcquired;
    return TakeSignal() ? AcquireResult::kAcquired : AcquireResult::kLost;
  }

  bool IsLevelTriggered() const override { return manual_; }

 private:
  // Holds the named event's guard lock. A holder that died mid-way leaves
  // nothing to repair: the FIFO holds zero or one byte either way.
  class Guard {
   public:
    explicit Guard(ObjectPage* page) : mutex_(&page->lock.mutex) {
      locked_ = LockRobustMutex(mutex_, Deadline::After(Q7M_INFINITE)) != LockResult::kFailed;
    }
    ~Guard() {
      if (locked_) pthread_mutex_unlock(mutex_);
    }

   private:
    pthread_mutex_t* mutex_;
    bool locked_;
  };

  static bool Fail() {
    Q7M_SetLastErrorFromErrno();
    return false;
  }

  bool WriteCounter() {
    uint64_t one = 1;
    ssize_t n;
    do {
      n = write(signalFd_, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
    // EAGAIN: the counter is at its limit, which is signalled too.
    return n == sizeof one || errno == EAGAIN || Fail();
  }

  // Empties the descriptor; it is non-blocking.
  void Drain() {
    char buffer[64];
    ssize_t n;
    do {
      n = read(signalFd_, buffer, page_ ? sizeof buffer : sizeof(uint64_t));
    } while (n > 0 || (n < 0 && errno == EINTR));
  }

  // An automatic-reset wait's claim: true only for the one waiter that took
  // the signal.
  bool TakeSignal() {
    if (!page_) {
      uint64_t value;
      ssize_t n;
      do {
        n = read(signalFd_, &value, sizeof value);
      } while (n < 0 && errno == EINTR);
      return n == sizeof value;
    }
    Guard guard(page_);
    char byte;
    ssize_t n;
    do {
      n = read(signalFd_, &byte, 1);
    } while (n < 0 && errno == EINTR);
    return n == 1;
  }

  ObjectPage* const page_;
  const int signalFd_;
  const bool manual_;
};

struct CreateArgs {
  bool manual;
  bool initialState;
};

// Opens the FIFO of a named event; with `fresh`, replaces any leftover first.
int OpenSignalFifo(const NamespaceLock& lock, const std::string& fileName, bool fresh) {
  std::string fifoName = fileName + kSignalFileSuffix;
  if (fresh) {
    unlinkat(lock.dirFd(), fifoName.c_str(), 0);
    if (mkfifoat(lock.dirFd(), fifoName.c_str(), kFifoMode) != 0) {
      Q7M_SetLastErrorFromErrno();
      return -1;
    }
  }
  // Read-write: never blocks on open, never reports hang-up, and keeps the
  // pipe (and a pending signal) alive while any process holds the event.
  int fd = openat(lock.dirFd(), fifoName.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT || errno == ELOOP) {
      Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    } else {
      Q7M_SetLastErrorFromErrno();
    }
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
    close(fd);
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return -1;
  }
  if (fresh) {
    fchmod(fd, kFifoMode);
  } else if (ForeignObjectFile(st)) {
    close(fd);
    Q7M_SetLastError(Q7M_ERROR_ACCESS_DENIED);
    return -1;
  }
  return fd;
}

SharedObject* MakeNamedEvent(const NamespaceLock& lock, std::string fileName,
                             const ObjectFile& file, const void* context) {
  const bool fresh = file.fresh;
  // Open-only passes no arguments and never meets a fresh file.
  static constexpr CreateArgs kOpenOnly{false, false};
  const auto* args = context ? static_cast<const CreateArgs*>(context) : &kOpenOnly;
  ObjectPage* page = nullptr;
  if (fresh) {
    uint32_t flags = args->manual ? kEventManualReset : 0;
    page = InitObjectFile(file.fd, file.size, nullptr, ObjectKind::kEvent, flags, 0, true);
  } else {
    page = AttachObjectFile(file.fd, file.size, nullptr, ObjectKind::kEvent);
  }
  if (!page) return nullptr;
  int fifo = OpenSignalFifo(lock, fileName, fresh);
  if (fifo < 0) {
    UnmapObjectPage(page);
    return nullptr;
  }
  if (fresh && args->initialState) {
    char byte = 1;
    if (write(fifo, &byte, 1) != 1) {
      Q7M_SetLastErrorFromErrno();
      close(fifo);
      UnmapObjectPage(page);
      return nullptr;
    }
  }
  bool manual = (page->header.flags & kEventManualReset) != 0;
  return new EventObject(std::move(fileName), file.fd, page, fifo, manual);
}

EventObject* MakeUnnamedEvent(const CreateArgs& args) {
  int fd = eventfd(args.initialState ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) {
    Q7M_SetLastErrorFromErrno();
    return nullptr;
  }
  return new EventObject(std::string(), -1, nullptr, fd, args.manual);
}

EventObject* LookupEvent(Q7M_HANDLE handle, ObjectRef* ref) {
  *ref = LookupHandle(handle, ObjectKind::kEvent);
  return static_cast<EventObject*>(ref->get());
}

}  // namespace

}  // namespace q7m::platform

using namespace q7m::platform;

extern "C" {

Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_CreateEvent(int manualReset, int initialState, const char* name) {
  CreateArgs args{manualReset != 0, initialState != 0};
  KernelObject* event;
  bool existed = false;
  if (IsObjectName(name)) {
    event = OpenSharedObject(name, ObjectKind::kEvent, true, MakeNamedEvent, &args, &existed);
  } else {
    event = MakeUnnamedEvent(args);
  }
  if (!event) return nullptr;
  Q7M_HANDLE handle = InsertHandle(event);
  if (handle) Q7M_SetLastError(existed ? Q7M_ERROR_ALREADY_EXISTS : Q7M_ERROR_SUCCESS);
  return handle;
}

Q7M_EXPORT Q7M_HANDLE Q7M_API Q7M_OpenEvent(const char* name) {
  if (!IsObjectName(name)) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool existed = false;
  KernelObject* event =
      OpenSharedObject(name, ObjectKind::kEvent, false, MakeNamedEvent, nullptr, &existed);
  return event ? InsertHandle(event) : nullptr;
}

Q7M_EXPORT int Q7M_API Q7M_SetEvent(Q7M_HANDLE handle) {
  ObjectRef ref;
  EventObject* event = LookupEvent(handle, &ref);
  return event && event->Set() ? 1 : 0;
}

Q7M_EXPORT int Q7M_API Q7M_ResetEvent(Q7M_HANDLE handle) {
  ObjectRef ref;
  EventObject* event = LookupEvent(handle, &ref);
  return event && event->Reset() ? 1 : 0;
}

Q7M_EXPORT int Q7M_API Q7M_GetEventFd(Q7M_HANDLE handle) {
  ObjectRef ref;
  EventObject* event = LookupEvent(handle, &ref);
  return event ? event->signalFd() : -1;
}

}  // extern "C"
