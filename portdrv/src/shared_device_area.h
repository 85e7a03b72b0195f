// The shared device area: one named mapping per device path, mapped by every
// process that opens the device shared. It registers the processes' open
// handles (so a newcomer can take over a working handle) and holds the
// session key record. An inter-process format; offsets below are from the
// start of the mapping, after the 12-byte lock header of clsShareMemory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "q7m/platform_sys.h"
#include "session_key_record.h"

namespace q7m {

constexpr uint32_t kHandleSlotCount = 64;

struct HandleSlot {
  uint32_t inUse;             // 1: advertises an open handle
  Q7M_SYSTEMTIME createdUtc;  // creation time of the slot's handle mutex
  uint32_t createdTick;
  uint32_t processId;    // owner of the handle
  uint32_t handleValue;  // valid in the owning process
};
static_assert(sizeof(Q7M_SYSTEMTIME) == 16);
static_assert(sizeof(HandleSlot) == 32);
static_assert(offsetof(HandleSlot, createdUtc) == 4);
static_assert(offsetof(HandleSlot, createdTick) == 20);
static_assert(offsetof(HandleSlot, processId) == 24);
static_assert(offsetof(HandleSlot, handleValue) == 28);

// Who set the device's cancel event: the slot the issuing process
// advertised its handle in, as it stood then. A cancel lives only as long
// as that registration: once the slot is freed, taken by another owner or
// its handle mutex has gone (the issuer closed the device or ended), the
// next process that finds the event set resets it. Written and read under
// the area lock, together with the event's set and reset.
struct CancelIssuer {
  uint32_t slot;  // slot index + 1; 0: nobody recorded (the event is taken as live)
  uint32_t processId;
  uint32_t createdTick;
  uint32_t handleValue;
};
static_assert(sizeof(CancelIssuer) == 16);

// The data area of the mapping (clsShareMemory puts its lock header before
// it and 4 reserved bytes after it: 12 + 2120 + 4 = 2136 bytes in all).
struct SharedDeviceArea {
  uint32_t slotCount;  // 0 until the first process opened the reader, then 64
  SessionKeyRecord sessionKey;
  HandleSlot slots[kHandleSlotCount];
  CancelIssuer cancelIssuer;  // in the first of the reserved bytes, zero-filled when new
  uint8_t reserved[16];
};
constexpr uint32_t kSharedDeviceAreaSize = kHandleSlotCount * 32 + 72;
static_assert(sizeof(SharedDeviceArea) == kSharedDeviceAreaSize);
static_assert(kSharedDeviceAreaSize == 2120);
// Offsets within the mapping: the data area starts after the lock header.
constexpr size_t kLockHeaderSize = 12;
static_assert(kLockHeaderSize + offsetof(SharedDeviceArea, slotCount) == 12);
static_assert(kLockHeaderSize + offsetof(SharedDeviceArea, sessionKey) == 16);
static_assert(kLockHeaderSize + offsetof(SharedDeviceArea, slots) == 52);
static_assert(kLockHeaderSize + offsetof(SharedDeviceArea, cancelIssuer) == 2100);
static_assert(kLockHeaderSize + sizeof(SharedDeviceArea) + 4 == 2136);

// The handle value a cleared slot carries.
constexpr uint32_t kNoHandleValue = 0xFFFFFFFFu;

}  // namespace q7m
