// One trace handle: a configured writer of one trace ring.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "q7m/common/cls_record_file.h"
#include "q7m/common/cls_share_memory.h"
#include "q7m/common/profile.h"
#include "ring_state.h"

namespace q7m::trace {

// Result of Configure when the configuration refuses a handle (no INI file,
// no trace file name, MAXRECORD 0, record length 0).
constexpr uint32_t kConfigRefused = 12;

class TraceHandle {
 public:
  // `libraryAnchor`: an address inside the trace library (its directory is
  // searched for the INI file and named by $DLLPATH).
  explicit TraceHandle(const void* libraryAnchor) : profile_(libraryAnchor) {}
  ~TraceHandle();
  TraceHandle(const TraceHandle&) = delete;
  TraceHandle& operator=(const TraceHandle&) = delete;

  // Reads the configuration, joins (or creates) the ring of the trace file
  // and opens the file; the first handle on a ring rebuilds its position
  // from the file. kOk; kConfigRefused; kSystemFailure (the last error tells
  // why); or a
  // code of clsShareMemory::Create.
  uint32_t Configure(const char* iniName, const char* moduleName, const char* librarySection);

  // Writes one record with `count` bytes of text. The ring lock is waited
  // for at most `lockLimitMs`; a record that cannot be written is lost and
  // leaves the ring as it was.
  void WriteRecord(const void* text, uint32_t count, uint32_t lockLimitMs = Q7M_INFINITE);
  // Formats with the trace formatter and writes one record.
  void WriteFormatted(const char* format, va_list args, uint32_t lockLimitMs = Q7M_INFINITE);
  void WriteLine(uint32_t lockLimitMs, const char* format, ...)
      __attribute__((format(printf, 3, 4)));

  void LockRing();
  void UnlockRing();

  // The integer value of `key` (null: TRACE) in the module's section, 0 when absent.
  uint32_t GetModuleInteger(const char* key) const;
  // The integer value of `key` in the library's section, 0 when absent.
  uint32_t GetLibraryInteger(const char* librarySection, const char* key) const;

  uint32_t recordLength() const { return recordLength_; }
  const std::string& moduleName() const { return moduleName_; }

  // Process bookkeeping, guarded by the registry's lock.
  TraceHandle* next = nullptr;
  uint32_t busy = 0;
  uint32_t ownFlags = 0;

 private:
  RingState* ring() const { return static_cast<RingState*>(ring_.Data()); }
  uint32_t JoinRing(uint32_t recordLength, uint32_t maxRecords);

  Profile profile_;
  std::string moduleName_;
  clsShareMemory ring_;
  std::unique_ptr<clsRecordFile> file_;
  std::unique_ptr<char[]> record_;  // header, text, CR LF and one spare byte
  uint32_t recordLength_ = 0;
  uint32_t recordSize_ = 0;
  // The process that made the handle: the only one that can write through
  // it (a forked child does not inherit the platform's handles). Kept here
  // because asking the system for it costs a call per record.
  uint32_t processId_ = 0;
  bool flush_ = true;
};

}  // namespace q7m::trace
