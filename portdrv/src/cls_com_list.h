// The per-process device table: turns the small integer handles given to
// callers into device objects, and keeps one exchange at a time per device
// (busy flag and idle event) while letting a cancel reach a running one.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "cls_device.h"
#include "q7m/platform.h"

namespace q7m {

// Makes the transport object for a device name (null: out of memory).
using DeviceFactory = clsDevice* (*)(const char* deviceName, const void* module);

// The transport the name chooses: clsCom for C/O/M names, ComHID otherwise.
clsDevice* CreateTransportForName(const char* deviceName, const void* module);
// Whether the name chooses the serial transport (which is never shared).
bool NameChoosesSerial(const char* deviceName);

class clsComList {
 public:
  explicit clsComList(const void* module, DeviceFactory factory = &CreateTransportForName)
      : module_(module), factory_(factory) {}
  // Closes every device still open.
  ~clsComList();
  clsComList(const clsComList&) = delete;
  clsComList& operator=(const clsComList&) = delete;

  // kPdOk and the handle (the first free index), or the failure's code.
  uint32_t Open(const char* deviceName, bool share, int* handle);
  // kPdOk closed; kPdInvalidHandle: no such open handle. A running
  // exchange is cancelled and
  // waited for first.
  uint32_t Close(int handle);

  // Runs `operation(device)` as the device's one running exchange: waits
  // while another runs, then holds the busy flag (not the table lock).
  template <typename Operation>
  uint32_t RunBusy(int handle, Operation&& operation);
  // The same for a send or receive with its time limit: the wait for
  // another thread's exchange on the handle counts against `timeLimit`
  // (kPdTimeout, the operation not run, when that one outlasts it), and
  // `operation(device, left)` gets what is left of it.
  template <typename Operation>
  uint32_t RunBusyWithin(int handle, uint32_t timeLimit, Operation&& operation);
  // Runs `operation(device)` under the table lock, without the busy flag,
  // so it reaches a device whose exchange is running (cancel, info).
  template <typename Operation>
  uint32_t RunLocked(int handle, Operation&& operation);

  // Entries in use and table capacity (for tests and diagnostics).
  size_t inUse() const;
  size_t capacity() const;

 private:
  struct Entry {
    std::atomic<uint32_t> busy{0};
    Q7M_HANDLE idleEvent = nullptr;  // manual reset; set while no exchange runs
    std::unique_ptr<clsDevice> device;
    ~Entry();
  };
  static constexpr size_t kGrowth = 4;

  // Caller holds lock_. Null when `handle` is not an open device.
  std::shared_ptr<Entry> Find(int handle) const;
  // Caller holds lock_. Index of the first free entry, growing the table
  // when full; -1 when it cannot grow.
  int FreeIndex();
  // Caller holds lock_.
  void CloseEntry(size_t index);
  // The busy part of RunBusy: takes the flag for `handle`'s device within
  // *timeLimit ms (what is left of it written back), or kPdInvalidHandle,
  // kPdTimeout.
  uint32_t EnterBusy(int handle, uint32_t* timeLimit, std::shared_ptr<Entry>* entry);
  static void LeaveBusy(Entry* entry);

  const void* module_;
  DeviceFactory factory_;
  mutable std::mutex lock_;
  // Entries are reached through pointers that stay put while the table
  // grows, and a thread waiting for an entry's idle event keeps the entry
  // (and so the event) alive even if the device is closed meanwhile.
  std::unique_ptr<std::shared_ptr<Entry>[]> entries_;
  size_t capacity_ = 0;
  size_t inUse_ = 0;
};

template <typename Operation>
uint32_t clsComList::RunBusy(int handle, Operation&& operation) {
  return RunBusyWithin(handle, Q7M_INFINITE,
                       [&](clsDevice& device, uint32_t) { return operation(device); });
}

template <typename Operation>
uint32_t clsComList::RunBusyWithin(int handle, uint32_t timeLimit, Operation&& operation) {
  std::shared_ptr<Entry> entry;
  if (uint32_t r = EnterBusy(handle, &timeLimit, &entry); r != 0) return r;
  const uint32_t result = operation(*entry->device, timeLimit);
  LeaveBusy(entry.get());
  return result;
}

template <typename Operation>
uint32_t clsComList::RunLocked(int handle, Operation&& operation) {
  std::lock_guard<std::mutex> guard(lock_);
  std::shared_ptr<Entry> entry = Find(handle);
  if (!entry) return PDLNK_INVALID_HANDLE;
  return operation(*entry->device);
}

}  // namespace q7m
