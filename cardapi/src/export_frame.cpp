// The export frame and its trace lines.
#include "export_frame.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "q7m/last_error_keeper.h"
#include "q7m/sequor.h"
#include "rdax_trace.h"

namespace q7m::rdax {

namespace {

// Lines are composed into a buffer of this size; the trace record is
// shorter, so nothing of a line that could be kept is lost.
constexpr size_t kLineCapacity = 512;

class Line {
 public:
  void Add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (used_ >= sizeof text_ - 1) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text_ + used_, sizeof text_ - used_, format, args);
    va_end(args);
    if (n > 0) used_ = std::min(sizeof text_ - 1, used_ + static_cast<size_t>(n));
  }
  void AddFields(const char* fields, TraceValues values) {
    for (size_t i = 0; fields[i] != '\0' && i < values.size(); ++i) {
      const int label = static_cast<int>(i) + 1;
      switch (fields[i]) {
        case 'b':
          Add(" P%d=0x%02X", label, TraceWord(values[i]));
          break;
        case 's': {
          const char* text = reinterpret_cast<const char*>(values[i]);
          Add(" P%d=%s", label, text != nullptr ? text : "(null)");
          break;
        }
        default:
          Add(" P%d=0x%08X", label, TraceWord(values[i]));
          break;
      }
    }
  }
  void Write() const { LibraryTrace().Write("%s", text_); }

 private:
  char text_[kLineCapacity] = {};
  size_t used_ = 0;
};

void WriteTagged(const ExportDesc& desc, uint32_t bit, const char* tag, uint32_t value,
                 TraceValues values) {
  if (!LibraryTrace().IsOn(bit)) return;
  Line line;
  line.Add("%s=0x%08X API=%s", tag, value, desc.api);
  line.AddFields(desc.errorFields != nullptr ? desc.errorFields : desc.entryFields, values);
  line.Write();
}

}  // namespace

void TraceEntry(const ExportDesc& desc, TraceValues values) {
  LastErrorKeeper keep;
  if (!LibraryTrace().IsOn(kTraceEntryExit)) return;
  Line line;
  line.Add("RDAX:Entry=%s", desc.api);
  line.AddFields(desc.entryFields, values);
  line.Write();
}

void TraceFatal(const ExportDesc& desc, uint32_t value, TraceValues values) {
  LastErrorKeeper keep;
  WriteTagged(desc, kTraceFatal, "RDAX:FatalError", value, values);
}

void TraceOutcome(const ExportDesc& desc, uint32_t result, TraceValues values) {
  LastErrorKeeper keep;
  if (result == RDAX_F_SYSTEM) {
    WriteTagged(desc, kTraceFatal, "RDAX:FatalError", Q7M_GetLastError(), values);
    return;
  }
  switch (RDAX_SEVERITY(result)) {
    case RDAX_SEVERITY_FATAL:
      WriteTagged(desc, kTraceFatal, "RDAX:FatalError", result, values);
      break;
    case RDAX_SEVERITY_ERROR:
      WriteTagged(desc, kTraceError, "RDAX:Error", result, values);
      break;
    case RDAX_SEVERITY_WARNING:
      WriteTagged(desc, kTraceWarning, "RDAX:Warning", result, values);
      break;
    default:
      break;
  }
}

void TraceExit(const ExportDesc& desc, uint32_t p1, uint32_t result, TraceValues values,
               uintptr_t q1) {
  LastErrorKeeper keep;
  if (!LibraryTrace().IsOn(kTraceEntryExit)) return;
  Line line;
  line.Add("RDAX:Exit=%s P1=0x%08X", desc.api, p1);
  const uintptr_t argument = desc.exitArgument < values.size() ? values[desc.exitArgument] : 0;
  // An output is only read once the operation has completed on this thread:
  // after a failure or an asynchronous start it holds nothing of ours.
  const bool outputReady = result == RDAX_OK && argument != 0;
  switch (desc.exit) {
    case ExitExtra::kQ1Value:
      line.Add(" Q1=0x%08X", TraceWord(q1));
      break;
    case ExitExtra::kQ1Pointee: {
      int32_t value = -1;
      if (outputReady) std::memcpy(&value, reinterpret_cast<const void*>(argument), sizeof value);
      line.Add(" Q1=0x%02X", static_cast<unsigned>(value));
      break;
    }
    case ExitExtra::kQ2Text: {
      const char* text = outputReady ? reinterpret_cast<const char*>(argument) : "";
      line.Add(" Q2=%.*s", static_cast<int>(strnlen(text, desc.exitTextLength)), text);
      break;
    }
    case ExitExtra::kNone:
      break;
  }
  line.Write();
}

uint32_t FinishExport(const ExportDesc& desc, uint32_t result, TraceValues values, uintptr_t q1) {
  TraceOutcome(desc, result, values);
  TraceExit(desc, result, result, values, q1);
  return result;
}

namespace {

// Fills the request parameters from the arguments after the handle.
void FillParameters(const ExportDesc& desc, std::initializer_list<uintptr_t> args,
                    RdaxRequest* request) {
  const uintptr_t* arg = args.begin();
  const size_t count = args.size();
  size_t packed = 0;
  if (desc.packing == Packing::kThreeBytes) packed = 3;
  if (desc.packing == Packing::kTwoBytes) packed = 2;
  if (packed == 0 || count < 1 + packed) {
    for (size_t i = 0; i < count && i < 7; ++i) request->param[i] = arg[i];
    return;
  }
  request->param[0] = arg[0];
  uint8_t bytes[sizeof(uintptr_t)] = {};
  for (size_t i = 0; i < packed; ++i) bytes[i] = static_cast<uint8_t>(arg[1 + i]);
  std::memcpy(&request->param[1], bytes, sizeof bytes);
  for (size_t i = 1 + packed, p = 2; i < count && p < 7; ++i, ++p) request->param[p] = arg[i];
}

}  // namespace

uint32_t RunDispatchedExport(const ExportDesc& desc, const RDAX* handle, Q7M_HANDLE event,
                             std::initializer_list<uintptr_t> args) {
  // The trace values: the handle, the arguments, the completion event.
  uintptr_t values[9] = {Word(handle)};
  size_t count = 1;
  for (uintptr_t arg : args) {
    if (count < 8) values[count++] = arg;
  }
  values[count++] = Word(event);
  const TraceValues traced(values, count);
  TraceEntry(desc, traced);

  if (handle == nullptr) return FinishExport(desc, RDAX_E_NULL_ARGUMENT, traced);
  SEQUOR_HANDLE session = reinterpret_cast<SEQUOR_HANDLE>(const_cast<RDAX*>(handle));
  if (desc.guarded && SEQUOR_IsXfsLocked(session) == SEQUOR_LOCKED_BY_OTHER) {
    SEQUOR_SetResult(session, RDAX_E_RESTRICTED);
    return FinishExport(desc, RDAX_E_RESTRICTED, traced);
  }
  RdaxRequest request{};
  request.handle = Word(handle);
  request.completionEvent = Word(event);
  request.operation = static_cast<uintptr_t>(desc.operation);
  FillParameters(desc, args, &request);
  if (desc.prepare != nullptr) {
    const uint32_t refused = desc.prepare(request);
    if (refused != RDAX_OK) return FinishExport(desc, refused, traced);
  }
  return FinishExport(desc, RdaxDispatch(request), traced);
}

}  // namespace q7m::rdax
