// clsDevice: sharing one reader between processes. Every process that has
// the reader open shared advertises its OS handle in a slot of the shared
// device area, and keeps a uniquely named "handle mutex" open for as long as
// the handle lives. A newcomer takes over a working handle (so all
// processes use one file object), and a slot whose handle mutex has gone
// belongs to a process that ended without closing: it is freed. Every open
// walks the whole registry for such slots (and a registration that finds the
// registry full walks it again), so slots of killed processes never pile up;
// opening a dead owner's handle mutex by name also removes what is left of
// it in the object namespace.
#include <unistd.h>

#include <cstdio>
#include <new>

#include "cls_device.h"
#include "pdlnk_result.h"
#include "pdlnk_trace.h"

namespace q7m {

namespace {

void FreeSlot(HandleSlot* slot) {
  slot->inUse = 0;
  slot->processId = 0;
  slot->handleValue = kNoHandleValue;
}

}  // namespace

uint32_t clsDevice::SlotIndex(const HandleSlot* slot) const {
  return static_cast<uint32_t>(slot - Area()->slots);
}

void clsDevice::FreeStaleSlot(HandleSlot* slot) {
  // An owner that ended without closing is an expected event (a crashed or
  // killed application), not a failure of this open.
  Q7M_TRACE(kTraceDeviceInfo, "I:clsDevice::FreeStaleSlot: Owner Ended(Slot=%02lX PID=%08lX)",
            TraceValue(SlotIndex(slot)), TraceValue(slot->processId));
  FreeSlot(slot);
}

bool clsDevice::SlotOwnerEnded(HandleSlot* slot) {
  clsMutex mutex;
  // Only a missing mutex proves the owner gone; any other failure to open
  // it keeps the slot.
  return CreateMutexDeviceHandle(slot, false, &mutex) == kMutexCreated;
}

uint32_t clsDevice::FreeStaleSlots() {
  SharedDeviceArea* area = Area();
  uint32_t freed = 0;
  for (HandleSlot& slot : area->slots) {
    if (slot.inUse == 0 || !SlotOwnerEnded(&slot)) continue;
    FreeStaleSlot(&slot);
    ++freed;
  }
  return freed;
}

HandleSlot* clsDevice::FirstFreeSlot() const {
  for (HandleSlot& slot : Area()->slots)
    if (slot.inUse == 0) return &slot;
  return nullptr;
}

uint32_t clsDevice::RegisterDeviceHandle() {
  HandleSlot* slot = FirstFreeSlot();
  // A full registry may hold slots of processes that ended: free them first.
  if (slot == nullptr && FreeStaleSlots() != 0) slot = FirstFreeSlot();
  if (slot == nullptr) {
    Q7M_TRACE(kTraceDeviceInfo, "I:clsDevice::RegisterDeviceHandle: Buffer Over(%08X)",
              kPdSlotsFull);
    return kPdSlotsFull;
  }
  std::unique_ptr<clsMutex> mutex(new (std::nothrow) clsMutex());
  if (!mutex) {
    Q7M_TRACE(kTraceDeviceError,
              "E:clsDevice::CreateMutexDeviceHandle: Mutex:Construct Failure(APIerror:%08X)",
              Q7M_ERROR_OUTOFMEMORY);
    return SystemError(Q7M_ERROR_OUTOFMEMORY);
  }
  // The slot is claimed before its handle mutex exists: a process killed in
  // between leaves a slot whose mutex is missing, which the next walker
  // frees. The other way round it would leave a mutex nobody can find.
  slot->inUse = 1;
  slot->processId = Q7M_GetCurrentProcessId();
  slot->handleValue = static_cast<uint32_t>(deviceHandle_);
  if (uint32_t r = CreateMutexDeviceHandle(slot, true, mutex.get()); r != kPdOk) {
    FreeSlot(slot);
    return r;
  }
  ownSlot_ = static_cast<int>(SlotIndex(slot));
  ownHandleValue_ = slot->handleValue;
  handleMutex_ = std::move(mutex);
  return kPdOk;
}

uint32_t clsDevice::CreateMutexDeviceHandle(HandleSlot* slot, bool registerMode, clsMutex* mutex) {
  uint32_t processId = slot->processId;
  uint32_t handleValue = slot->handleValue;
  if (registerMode) {
    Q7M_GetSystemTime(&slot->createdUtc);
    slot->createdTick = Q7M_GetTickCount();
    processId = Q7M_GetCurrentProcessId();
    handleValue = static_cast<uint32_t>(deviceHandle_);
  }
  const Q7M_SYSTEMTIME& t = slot->createdUtc;
  // Every process derives the same name from the slot: the digits are
  // zero-padded to fixed widths (precision alone pads, so no '0' flag).
  char stem[96];
  std::snprintf(stem, sizeof stem, "OpenHandle%.4d%.2d%.2d%.2d%.2d%.2d%.8lX%.8lX%.8lX", t.wYear,
                t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, TraceValue(slot->createdTick),
                TraceValue(processId), TraceValue(handleValue));
  // A new registration must own a fresh name; taking over requires that the
  // advertised mutex still exists (it vanishes with its process).
  uint32_t r = mutex->Create(stem, false, registerMode ? kMayCreate : kMayOpen);
  // A missing mutex when taking over is the owner's end, for the caller to
  // report; it is no failure of this call.
  if (r != kPdOk && (registerMode || r != kMutexCreated)) {
    Q7M_TRACE(kTraceDeviceError,
              "E:clsDevice::CreateMutexDeviceHandle: Mutex:Open Failure(APIerror:%08X)",
              Q7M_GetLastError());
  }
  return r;
}

uint32_t clsDevice::DuplecateDeviceHandle(HandleSlot* slot) {
  clsMutex mutex;
  if (uint32_t r = CreateMutexDeviceHandle(slot, false, &mutex); r != kPdOk) {
    if (r == kMutexCreated) {
      FreeStaleSlot(slot);  // its owner has gone
    } else {
      Q7M_TRACE(kTraceDeviceError,
                "E:clsDevice::DuplecateDeviceHandle: CreateMutexDeviceHandle Failure(%08X)", r);
    }
    return r;
  }
  // The owner holds its handle mutex while it closes: waiting for it means
  // the handle is not being closed under us.
  mutex.Wait(Q7M_INFINITE);

  uint32_t answer;
  const int copy = Q7M_DuplicateProcessFd(slot->processId, static_cast<int>(slot->handleValue));
  if (copy < 0) {
    // The kernel may refuse to hand over another process's descriptor
    // (no ptrace-level permission). The owner is alive and its handle mutex
    // exists, so its slot stays; this process opens the reader itself.
    const uint32_t error = Q7M_GetLastError();
    if (error != Q7M_ERROR_ACCESS_DENIED && error != Q7M_ERROR_NOT_SUPPORTED) FreeSlot(slot);
    answer = kPdInvalidHandle;
  } else {
    deviceHandle_ = copy;
    answer = Exists();
    if (answer != kPdOk) {
      LastErrorKeeper keep;
      ::close(copy);
      deviceHandle_ = -1;
    }
  }
  LastErrorKeeper keep;
  mutex.Release();
  mutex.Close();
  return answer;
}

uint32_t clsDevice::DuplecateDevice() {
  SharedDeviceArea* area = Area();
  // The count comes from shared memory: never trust it beyond the array.
  const uint32_t count = area->slotCount < kMaxHandleSlots ? area->slotCount : kMaxHandleSlots;
  bool taken = false;
  bool liveOwnerTried = false;
  for (uint32_t i = 0; i < count; ++i) {
    HandleSlot* slot = &area->slots[i];
    if (slot->inUse == 0) continue;
    if (taken) {
      // The walk goes on past the slot taken over: every stale slot is
      // freed by the open that meets it.
      if (SlotOwnerEnded(slot)) FreeStaleSlot(slot);
      continue;
    }
    const uint32_t answer = DuplecateDeviceHandle(slot);
    taken = answer == kPdOk;
    if (answer != kPdOk && answer != kMutexCreated) liveOwnerTried = true;
  }
  if (taken) {
    if (uint32_t r = RegisterDeviceHandle(); r != kPdOk) {
      Q7M_TRACE(kTraceDeviceInfo,
                "I:clsDevice::DuplecateDevice: RegisterDeviceHandle Failure(APIerror:%08X)",
                Q7M_GetLastError());
      LastErrorKeeper keep;
      ::close(deviceHandle_);
      deviceHandle_ = -1;
      return r;
    }
    return kPdOk;
  }
  // Only a live owner whose handle could not be taken over is worth an
  // error line; stale slots alone just mean opening the reader anew.
  if (liveOwnerTried) {
    Q7M_TRACE(kTraceDeviceError,
              "E:clsDevice::DuplecateDevice: DuplecateDeviceHandle Failure(APIerror:%08X)",
              Q7M_GetLastError());
  }
  return kPdSystemError;
}

}  // namespace q7m
