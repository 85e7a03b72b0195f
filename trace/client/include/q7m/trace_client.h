// The trace client that libRDAX, libSEQUOR and libPDLNK each carry: it loads
// the trace library by name at the first level test, opens one trace handle
// for the carrying library and reads that library's trace mask. Without the
// trace library, one of its exports or its INI file, tracing is silently off
// for the life of the process and nothing else changes.
//
// Every line is a level test followed by a write, so a line is only built
// when its bit is on:
//
//   if (q7m::LibraryTrace().IsOn(0x2)) q7m::LibraryTrace().Write("T:PDLNK_Open P1=%s", name);
//
// or, the same, Q7M_TRACE(0x2, "T:PDLNK_Open P1=%s", name).
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <type_traits>

#include "q7m/scribel.h"

namespace q7m {

// The port driver's raw transfer dumps: "S:" (sent) and "R:" (received).
enum class TransferDump { kSent, kReceived };
// The port driver's message dumps: "CMD:" (command) and "RES:" (response).
enum class MessageDump { kCommand, kResponse };

class TraceClient {
 public:
  // `libraryName`: the trace library to load, by name ("SCRIBEL" is
  // libSCRIBEL.so searched beside the carrying library first) or by path.
  constexpr explicit TraceClient(const char* libraryName = "SCRIBEL") : libraryName_(libraryName) {}

  // The carrying library has been attached to the process; `ownModule` is
  // an address inside it (its directory is searched first for the trace
  // library, its base name names its INI section). Nothing is loaded yet.
  void Attach(const void* ownModule);
  // True when tracing is on and the mask has one of `bits`. The first call
  // in the process loads the trace library and opens the handle. The
  // thread's last-error value is left as it was.
  bool IsOn(uint32_t bits);
  // Writes one line (printf directives, no floating point). Does not test
  // the mask: call it only after IsOn.
  void Write(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void WriteV(const char* format, va_list args) __attribute__((format(printf, 2, 0)));
  // The carrying library leaves the process: unloads the trace library.
  // The trace handle is not closed; the trace library destroys its handles
  // when it is unloaded. Tracing stays off afterwards.
  void Detach();

  // Hex dump of a raw transfer, "S:%-6s L=0x%03.3lX D=" or "R:...": the
  // first line only. `label` names the device (serial number or port).
  void DumpTransfer(TransferDump kind, const char* label, const void* data, uint32_t count);
  // Hex dump of a reader message, "CMD:%-6s L=0x%03.3lX D=" or "RES:...":
  // at most 64 / (bytes per line) + 1 lines.
  void DumpMessage(MessageDump kind, const char* label, const void* data, uint32_t count);

  // The trace library's record length (text characters per record); 0 while off.
  uint32_t recordLength() const { return recordLength_.load(std::memory_order_relaxed); }

 private:
  struct Binding;
  void Start();
  bool Bind(Binding* binding);
  static void Release(Binding* binding);
  void WriteDump(const char* headerFormat, const char* label, const void* data, uint32_t count,
                 bool firstLineOnly);

  const char* libraryName_;
  const void* ownModule_ = nullptr;
  Binding* record_ = nullptr;              // created at attach, guarded by startMutex_
  std::atomic<Binding*> active_{nullptr};  // published once bound; null while off
  std::atomic<bool> started_{false};
  std::mutex startMutex_;
  std::atomic<uint32_t> mask_{0};
  std::atomic<uint32_t> recordLength_{0};
};

// A client may be used from its carrying library's constructor and
// destructor functions, so it needs no construction or destruction order.
static_assert(std::is_trivially_destructible_v<TraceClient>);

// The trace client of the library this code is linked into (one per shared
// library: the symbol is hidden, so every carrying library has its own).
__attribute__((visibility("hidden"))) TraceClient& LibraryTrace();

}  // namespace q7m

// A level test followed by a write: the arguments are only evaluated when
// the line is on.
#define Q7M_TRACE(bits, ...)                                                        \
  do {                                                                              \
    if (::q7m::LibraryTrace().IsOn(bits)) ::q7m::LibraryTrace().Write(__VA_ARGS__); \
  } while (0)
