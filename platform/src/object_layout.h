// The first page of every object (the object file of a named one, an
// anonymous page of an unnamed mutex): what it is, and its robust lock. All
// processes that open the object map this page; its layout is the
// inter-process format, so it only ever grows at the end with a new version.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "handle_table.h"

namespace q7m::platform {

constexpr uint32_t kObjectMagic = 0x4F4D3751;  // "Q7MO"
constexpr uint16_t kObjectLayoutVersion = 1;

// ObjectHeader::flags
constexpr uint32_t kEventManualReset = 1u;

struct ObjectHeader {
  uint32_t magic;
  uint16_t version;
  uint16_t kind;  // ObjectKind
  uint32_t flags;
  uint32_t reserved;
  uint64_t dataSize;  // the payload after the first page (file mappings)
};

// A mutex object's lock, or a named event's guard.
struct ObjectLock {
  pthread_mutex_t mutex;
  // The thread (kernel id) that owns the mutex object, 0 when free, and how
  // many times it has taken it. Only the owner writes them; others only
  // compare ownerTid with their own id.
  std::atomic<uint32_t> ownerTid;
  uint32_t depth;
};
static_assert(std::atomic<uint32_t>::is_always_lock_free);

struct ObjectPage {
  ObjectHeader header;
  ObjectLock lock;
};

// Size of the first page (the system's page size); payload starts there.
size_t ObjectPageSize();

}  // namespace q7m::platform
