#include "trace_handle.h"

#include <cstdarg>
#include <cstring>
#include <new>

#include "q7m/common/object_name.h"
#include "q7m/common/path_util.h"
#include "q7m/common/results.h"
#include "q7m/trace/record_layout.h"
#include "q7m/trace/trace_format.h"
#include "ring_position.h"
#include "trace_config.h"

namespace q7m::trace {

namespace {

// The ring's lock is named after the trace path plus "MemLock" + "Mutex".
// Object names are cut from the front beyond their maximum length, so two
// long paths that differ only near their start would share one ring block;
// such paths are refused instead.
constexpr size_t kMaxTracePathLength =
    kMaxObjectName - (sizeof kObjectNamePrefix - 1) - (sizeof "MemLockMutex" - 1);

bool HasFilePart(const char* path) {
  size_t length = std::strlen(path);
  return length > 0 && !IsPathSeparator(path[length - 1]);
}

// Gives the ring lock back on every way out of a scope.
class RingLockHold {
 public:
  explicit RingLockHold(clsShareMemory& ring) : ring_(ring) {}
  ~RingLockHold() { ring_.Unlock(); }
  RingLockHold(const RingLockHold&) = delete;
  RingLockHold& operator=(const RingLockHold&) = delete;

 private:
  clsShareMemory& ring_;
};

}  // namespace

TraceHandle::~TraceHandle() {
  uint32_t saved = Q7M_GetLastError();
  file_.reset();
  ring_.Destroy();
  Q7M_SetLastError(saved);
}

uint32_t TraceHandle::Configure(const char* iniName, const char* moduleName,
                                const char* librarySection) {
  if (!profile_.Open(iniName)) {
    Q7M_SetLastError(Q7M_ERROR_FILE_NOT_FOUND);
    return kConfigRefused;
  }
  try {
    moduleName_ = moduleName != nullptr && *moduleName != 0 ? moduleName : librarySection;
  } catch (const std::bad_alloc&) {
    Q7M_SetLastError(Q7M_ERROR_OUTOFMEMORY);
    return kSystemFailure;
  }

  TraceConfig config = ReadTraceConfig(profile_, librarySection, moduleName_.c_str());
  flush_ = config.flush;
  if (config.maxRecords == 0 || !HasFilePart(config.path)) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_DATA);
    return kConfigRefused;
  }
  if (std::strlen(config.path) > kMaxTracePathLength) {
    Q7M_SetLastError(Q7M_ERROR_FILENAME_EXCED_RANGE);
    return kConfigRefused;
  }
  uint32_t rc = ring_.Create(config.path, sizeof(RingState));
  if (rc != kOk) return rc;
  if (ring_.Lock(Q7M_INFINITE) != kOk) return kSystemFailure;
  RingLockHold hold(ring_);

  RingState* state = ring();
  // The first handle on a ring fixes its record length for every later one.
  uint32_t length = state->initialised != 0 ? state->recordLength : config.recordLength;
  if (length == 0 || length > kMaxTextLength) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_DATA);
    return kConfigRefused;
  }
  record_.reset(new (std::nothrow) char[length + kRecordOverhead + 1]);
  file_.reset(new (std::nothrow) clsRecordFile(length + kRecordOverhead));
  if (!record_ || !file_) {
    Q7M_SetLastError(Q7M_ERROR_OUTOFMEMORY);
    return kSystemFailure;
  }
  if (file_->Open(config.path, Q7M_GENERIC_READ | Q7M_GENERIC_WRITE,
                  Q7M_FILE_SHARE_READ | Q7M_FILE_SHARE_WRITE) != kOk) {
    return kSystemFailure;
  }
  if (state->initialised == 0) {
    rc = RebuildRingPosition(*file_, config.maxRecords, state);
    if (rc != kOk) return rc;
    state->recordLength = length;
    state->initialised = 1;
  }
  recordLength_ = length;
  recordSize_ = length + kRecordOverhead;
  processId_ = Q7M_GetCurrentProcessId();
  return kOk;
}

void TraceHandle::WriteRecord(const void* text, uint32_t count, uint32_t lockLimitMs) {
  if (recordLength_ == 0) return;  // not configured
  RingState* state = ring();
  if (ring_.Lock(lockLimitMs) != kOk) return;
  RingLockHold hold(ring_);

  if (state->writeIndex >= state->maxRecords) state->writeIndex = 0;
  state->nextSequence &= kSequenceMask;

  Q7M_SYSTEMTIME now;
  Q7M_GetLocalTime(&now);
  RecordHeader header;
  header.sequence = state->nextSequence;
  header.year = now.wYear;
  header.month = now.wMonth;
  header.day = now.wDay;
  header.hour = now.wHour;
  header.minute = now.wMinute;
  header.second = now.wSecond;
  header.processId = processId_;
  header.threadId = Q7M_GetCurrentThreadId();

  char* record = record_.get();
  FormatRecordHeader(header, record);
  uint32_t used = text == nullptr ? 0 : (count < recordLength_ ? count : recordLength_);
  if (used > 0) std::memcpy(record + kHeaderLength, text, used);
  std::memset(record + kHeaderLength + used, ' ', recordLength_ - used);
  record[kHeaderLength + recordLength_] = '\r';
  record[kHeaderLength + recordLength_ + 1] = '\n';

  // A failed write leaves the ring as it was: the next record takes the slot.
  if (file_->WriteRecordAt(state->writeIndex, record, recordSize_) == kOk) {
    state->nextSequence = state->nextSequence + 1;
    state->writeIndex = state->writeIndex + 1;
    if (flush_) file_->Flush();
  }
}

void TraceHandle::WriteFormatted(const char* format, va_list args, uint32_t lockLimitMs) {
  // Formatting happens before the ring lock is taken, in the caller's
  // stack, so writers of other threads are not held up by it.
  char text[2 * kMaxFormattedLength];
  size_t length = FormatTraceText(text, sizeof text, format, args);
  WriteRecord(text, static_cast<uint32_t>(length), lockLimitMs);
}

void TraceHandle::WriteLine(uint32_t lockLimitMs, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteFormatted(format, args, lockLimitMs);
  va_end(args);
}

void TraceHandle::LockRing() {
  if (recordLength_ != 0) ring_.Lock(Q7M_INFINITE);
}

void TraceHandle::UnlockRing() {
  if (recordLength_ != 0) ring_.Unlock();
}

uint32_t TraceHandle::GetModuleInteger(const char* key) const {
  return static_cast<uint32_t>(
      profile_.GetInteger(moduleName_.c_str(), key != nullptr ? key : "TRACE", 0));
}

uint32_t TraceHandle::GetLibraryInteger(const char* librarySection, const char* key) const {
  return static_cast<uint32_t>(profile_.GetInteger(librarySection, key, 0));
}

}  // namespace q7m::trace
