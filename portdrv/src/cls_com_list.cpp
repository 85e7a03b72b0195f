#include "cls_com_list.h"

#include <new>

#include "pdlnk_result.h"
#include "time_budget.h"
#include "pdlnk_trace.h"

namespace q7m {

clsComList::Entry::~Entry() {
  if (idleEvent != nullptr) {
    LastErrorKeeper keep;
    Q7M_CloseHandle(idleEvent);
  }
}

clsComList::~clsComList() {
  std::lock_guard<std::mutex> guard(lock_);
  for (size_t i = 0; i < capacity_; ++i)
    if (entries_[i] && entries_[i]->device) CloseEntry(i);
}

std::shared_ptr<clsComList::Entry> clsComList::Find(int handle) const {
  if (handle < 0 || static_cast<size_t>(handle) >= capacity_) return nullptr;
  const std::shared_ptr<Entry>& entry = entries_[static_cast<size_t>(handle)];
  if (!entry || !entry->device) return nullptr;
  return entry;
}

int clsComList::FreeIndex() {
  for (size_t i = 0; i < capacity_; ++i)
    if (!entries_[i] || !entries_[i]->device) return static_cast<int>(i);
  const size_t grown = capacity_ + kGrowth;
  std::unique_ptr<std::shared_ptr<Entry>[]> table(new (std::nothrow) std::shared_ptr<Entry>[grown]);
  if (!table) return -1;
  for (size_t i = 0; i < capacity_; ++i) table[i] = std::move(entries_[i]);
  entries_ = std::move(table);
  const size_t index = capacity_;
  capacity_ = grown;
  return static_cast<int>(index);
}

uint32_t clsComList::Open(const char* deviceName, bool share, int* handle) {
  *handle = -1;
  // The entry and its reference count come in one allocation, whose
  // failure is a result code here like every other shortage.
  std::shared_ptr<Entry> entry;
  try {
    entry = std::make_shared<Entry>();
  } catch (const std::bad_alloc&) {
    return SystemError(Q7M_ERROR_OUTOFMEMORY);
  }
  entry->idleEvent = Q7M_CreateEvent(1, 0, nullptr);
  if (entry->idleEvent == nullptr) {
    Q7M_TRACE(kTraceDeviceError, "E:clsComList::Open: CreateEvent Failure(APIerror%08X)",
              Q7M_GetLastError());
    return kPdSystemError;
  }
  std::unique_ptr<clsDevice> device(factory_(deviceName, module_));
  if (!device) {
    Q7M_TRACE(kTraceDeviceError, "E:clsComList::Open: clsCom:Construct Failure(APIerror%08X)",
              Q7M_ERROR_OUTOFMEMORY);
    return SystemError(Q7M_ERROR_OUTOFMEMORY);
  }
  // A serial port is always opened unshared: only one process can own it.
  if (NameChoosesSerial(deviceName)) share = false;

  uint32_t r = device->Open(deviceName, share);
  if (r != kPdOk) {
    if (r == kPdInvalidHandle || r == kPdRemoved || r == kPdNotFound || r == kPdNoMoreDevices) {
      Q7M_TRACE(kTraceDeviceInfo,
                "I:clsComList::Open: Com->Open Failure(translate to DEVICE_NOT_FOUND) (%08X)", r);
      r = kPdNotFound;
    }
    LastErrorKeeper keep;
    device.reset();
    return r;
  }

  std::lock_guard<std::mutex> guard(lock_);
  const int index = FreeIndex();
  if (index < 0) {
    LastErrorKeeper keep;
    device.reset();
    Q7M_SetLastError(Q7M_ERROR_OUTOFMEMORY);
    return kPdSystemError;
  }
  entry->device = std::move(device);
  entries_[static_cast<size_t>(index)] = std::move(entry);
  ++inUse_;
  *handle = index;
  return kPdOk;
}

uint32_t clsComList::Close(int handle) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!Find(handle)) return kPdInvalidHandle;
  CloseEntry(static_cast<size_t>(handle));
  return kPdOk;
}

void clsComList::CloseEntry(size_t index) {
  std::shared_ptr<Entry> entry = std::move(entries_[index]);
  if (entry->busy.load(std::memory_order_acquire) != 0) {
    // The exchange ends by itself once cancelled, and its end takes no lock.
    entry->device->Cancel();
    while (entry->busy.load(std::memory_order_acquire) != 0) Q7M_SwitchToThread();
  }
  {
    LastErrorKeeper keep;
    entry->device.reset();
  }
  --inUse_;
}

uint32_t clsComList::EnterBusy(int handle, uint32_t* timeLimit, std::shared_ptr<Entry>* out) {
  TimeBudget budget(*timeLimit);
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    std::shared_ptr<Entry> entry = Find(handle);
    if (!entry) return kPdInvalidHandle;
    if (entry->busy.load(std::memory_order_acquire) == 0) {
      entry->busy.store(1, std::memory_order_release);
      Q7M_ResetEvent(entry->idleEvent);
      *out = std::move(entry);
      *timeLimit = budget.left();
      return kPdOk;
    }
    // Another thread's exchange on this handle may last its own whole
    // limit; this call waits no longer than the caller allowed.
    if (budget.left() == 0) return kPdTimeout;
    Q7M_HANDLE idle = entry->idleEvent;
    guard.unlock();
    Q7M_WaitForSingleObject(idle, budget.left());
    guard.lock();
    budget.Update();
  }
}

void clsComList::LeaveBusy(Entry* entry) {
  LastErrorKeeper keep;
  Q7M_SetEvent(entry->idleEvent);
  entry->busy.store(0, std::memory_order_release);
}

size_t clsComList::inUse() const {
  std::lock_guard<std::mutex> guard(lock_);
  return inUse_;
}

size_t clsComList::capacity() const {
  std::lock_guard<std::mutex> guard(lock_);
  return capacity_;
}

}  // namespace q7m
