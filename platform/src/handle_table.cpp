// The handle table: slot index + generation per handle, a free list, one
// mutex held only for the few instructions of a lookup or an update.
#include "handle_table.h"

#include <pthread.h>

#include <mutex>
#include <vector>

#include "q7m/platform_sys.h"

namespace q7m::platform {

namespace {

// Handle layout: a fixed tag in the top 16 bits (so a real pointer or a
// small integer is never mistaken for a handle), the slot's generation in
// the next 24 and the slot index + 1 in the low 24 (never zero).
constexpr uint64_t kTag = 0x51A7ull << 48;
constexpr uint64_t kTagMask = 0xFFFFull << 48;
constexpr unsigned kIndexBits = 24;
constexpr uint32_t kFieldMask = (1u << kIndexBits) - 1;
constexpr uint32_t kMaxSlots = kFieldMask - 1;
constexpr uint32_t kNoSlot = UINT32_MAX;

struct Slot {
  KernelObject* object = nullptr;
  uint32_t generation = 1;
  uint32_t nextFree = kNoSlot;
};

struct Table {
  std::mutex mutex;
  std::vector<Slot> slots;
  uint32_t freeHead = kNoSlot;
};

Table& TheTable() {
  // Never destroyed: handles may still be closed by other libraries' static
  // destructors while the process exits.
  static Table* table = [] {
    auto* t = new Table;
    // A fork while another thread holds the table lock would leave the
    // child's copy locked forever.
    pthread_atfork([] { TheTable().mutex.lock(); }, [] { TheTable().mutex.unlock(); },
                   [] {
                     // Handles are not inherited (as on Win32): the child's
                     // copies share the parent's open files and locks, so
                     // closing them here could remove objects the parent
                     // still uses. They are forgotten, not closed.
                     Table& c = TheTable();
                     for (uint32_t i = 0; i < c.slots.size(); ++i) {
                       Slot& slot = c.slots[i];
                       if (!slot.object) continue;
                       slot.object = nullptr;
                       slot.generation = (slot.generation + 1) & kFieldMask;
                       if (slot.generation == 0) slot.generation = 1;
                       slot.nextFree = c.freeHead;
                       c.freeHead = i;
                     }
                     c.mutex.unlock();
                   });
    return t;
  }();
  return *table;
}

Q7M_HANDLE Encode(uint32_t index, uint32_t generation) {
  uint64_t value = kTag | (static_cast<uint64_t>(generation) << kIndexBits) | (index + 1);
  return reinterpret_cast<Q7M_HANDLE>(static_cast<uintptr_t>(value));
}

// The slot index of a well-formed handle, or kNoSlot.
uint32_t Decode(Q7M_HANDLE handle, uint32_t* generation) {
  uint64_t value = reinterpret_cast<uintptr_t>(handle);
  if ((value & kTagMask) != kTag) return kNoSlot;
  uint32_t indexPlusOne = static_cast<uint32_t>(value) & kFieldMask;
  if (indexPlusOne == 0) return kNoSlot;
  *generation = static_cast<uint32_t>(value >> kIndexBits) & kFieldMask;
  return indexPlusOne - 1;
}

// The slot of an open handle (table lock held), or null.
Slot* FindSlot(Table& t, Q7M_HANDLE handle) {
  uint32_t generation = 0;
  uint32_t index = Decode(handle, &generation);
  if (index == kNoSlot || index >= t.slots.size()) return nullptr;
  Slot& slot = t.slots[index];
  if (slot.object == nullptr || slot.generation != generation) return nullptr;
  return &slot;
}

}  // namespace

bool KernelObject::TryAddRef() {
  uint32_t current = refs_.load(std::memory_order_relaxed);
  while (current != 0) {
    if (refs_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                    std::memory_order_relaxed))
      return true;
  }
  return false;
}

void KernelObject::Release() {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

ObjectRef& ObjectRef::operator=(ObjectRef&& other) noexcept {
  if (this != &other) {
    reset();
    object_ = other.object_;
    other.object_ = nullptr;
  }
  return *this;
}

void ObjectRef::reset() {
  if (object_) {
    KernelObject* o = object_;
    object_ = nullptr;
    o->Release();
  }
}

Q7M_HANDLE InsertHandle(KernelObject* object) {
  Table& t = TheTable();
  std::unique_lock lock(t.mutex);
  uint32_t index;
  if (t.freeHead != kNoSlot) {
    index = t.freeHead;
    t.freeHead = t.slots[index].nextFree;
  } else {
    if (t.slots.size() >= kMaxSlots) {
      lock.unlock();
      object->Release();
      Q7M_SetLastError(Q7M_ERROR_TOO_MANY_OPEN_FILES);
      return nullptr;
    }
    index = static_cast<uint32_t>(t.slots.size());
    t.slots.emplace_back();
  }
  Slot& slot = t.slots[index];
  slot.object = object;
  slot.nextFree = kNoSlot;
  return Encode(index, slot.generation);
}

ObjectRef LookupHandle(Q7M_HANDLE handle) {
  Table& t = TheTable();
  {
    std::lock_guard lock(t.mutex);
    if (Slot* slot = FindSlot(t, handle)) {
      slot->object->AddRef();
      return ObjectRef(slot->object);
    }
  }
  Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
  return ObjectRef();
}

ObjectRef LookupHandle(Q7M_HANDLE handle, ObjectKind kind) {
  ObjectRef ref = LookupHandle(handle);
  if (ref && ref->kind() != kind) {
    ref.reset();
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
  }
  return ref;
}

bool RemoveHandle(Q7M_HANDLE handle) {
  Table& t = TheTable();
  KernelObject* object = nullptr;
  {
    std::lock_guard lock(t.mutex);
    Slot* slot = FindSlot(t, handle);
    if (slot) {
      object = slot->object;
      slot->object = nullptr;
      slot->generation = (slot->generation + 1) & kFieldMask;
      if (slot->generation == 0) slot->generation = 1;
      uint32_t index = static_cast<uint32_t>(slot - t.slots.data());
      slot->nextFree = t.freeHead;
      t.freeHead = index;
    }
  }
  if (!object) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_HANDLE);
    return false;
  }
  // Outside the table lock: the last reference closes the object, which for
  // a named object takes the namespace lock.
  object->Release();
  return true;
}

}  // namespace q7m::platform
