// The in-process handle table and the base of every kernel object.
//
// A Q7M_HANDLE is never a pointer: it encodes a slot index and that slot's
// generation, so a stale, double-closed or made-up handle is answered with
// Q7M_ERROR_INVALID_HANDLE instead of touching freed memory. Objects are
// reference counted: each handle holds one reference, and every call that
// works on an object (a wait, a mapped view, a mutex's current ownership)
// holds its own while it runs, so closing a handle in one thread never pulls
// an object out from under another.
//
// Other parts of the platform add their own kinds (files, ...) by deriving
// from KernelObject; the destructor is the object's close.
#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>

#include "q7m/platform.h"

namespace q7m::platform {

enum class ObjectKind : uint16_t {
  kEvent = 1,
  kMutex = 2,
  kFileMapping = 3,
  kIoReadiness = 4,
  kFile = 5,
};

// What a waiter got when it tried to take a signalled object.
enum class AcquireResult {
  kAcquired,  // the wait is satisfied (an automatic-reset event was consumed)
  kLost,      // another waiter was faster; keep waiting
  kFailed,    // the object is broken (last error set)
};

class KernelObject {
 public:
  explicit KernelObject(ObjectKind kind) : kind_(kind) {}
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

  ObjectKind kind() const { return kind_; }

  void AddRef() { refs_.fetch_add(1, std::memory_order_relaxed); }
  // Adds a reference unless the object is already being destroyed (used by
  // lookups that can meet a dying object, e.g. the named-object registry).
  bool TryAddRef();
  // Drops a reference; the last one destroys the object.
  void Release();

  // ---- waiting (events and I/O readiness) ----
  // The descriptor and poll events that show the object signalled; false
  // for objects that cannot be waited on by polling.
  virtual bool GetWaitFd(int* fd, short* events) const {
    (void)fd;
    (void)events;
    return false;
  }
  // Called after poll reported `revents` on the wait descriptor.
  virtual AcquireResult Acquire(short revents) {
    (void)revents;
    return AcquireResult::kFailed;
  }
  // Whether waiting on it does not change its state (a wait-all over such
  // objects can check them all without consuming anything).
  virtual bool IsLevelTriggered() const { return false; }

 private:
  const ObjectKind kind_;
  std::atomic<uint32_t> refs_{1};
};

// A counted reference that is released when it goes out of scope.
class ObjectRef {
 public:
  ObjectRef() = default;
  explicit ObjectRef(KernelObject* adopted) : object_(adopted) {}
  ~ObjectRef() { reset(); }
  ObjectRef(ObjectRef&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  ObjectRef& operator=(ObjectRef&& other) noexcept;
  ObjectRef(const ObjectRef&) = delete;
  ObjectRef& operator=(const ObjectRef&) = delete;

  KernelObject* get() const { return object_; }
  KernelObject* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void reset();
  KernelObject* release_ownership() {
    KernelObject* o = object_;
    object_ = nullptr;
    return o;
  }

 private:
  KernelObject* object_ = nullptr;
};

// Enters `object` (taking over the caller's reference) and returns its new
// handle; null with the last error set when the table is full.
Q7M_HANDLE InsertHandle(KernelObject* object);

// A new reference to the object behind `handle`, or an empty ref with
// Q7M_ERROR_INVALID_HANDLE set. With `kind` given, an object of another kind
// counts as an invalid handle too (Win32 behaves so for a wrong object type).
ObjectRef LookupHandle(Q7M_HANDLE handle);
ObjectRef LookupHandle(Q7M_HANDLE handle, ObjectKind kind);

// Removes the handle; its reference is dropped. False (and
// Q7M_ERROR_INVALID_HANDLE) when it is not open.
bool RemoveHandle(Q7M_HANDLE handle);

}  // namespace q7m::platform
