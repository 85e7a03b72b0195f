// Faults a test arms on one reader's link: each either for the next n
// occasions (exchanges, frames, reports or opens, by kind) or as a rate that
// fires at random on each occasion until cleared. The random source is seeded,
// so a run with the same seed fires the same faults.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace q7msim {

enum class FaultKind : uint8_t {
  kNak,              // serial: refuse a good command frame with DLE NAK
  kNoAck,            // serial: say nothing at all to a command frame
  kBadBcc,           // serial: send a response frame with a wrong check byte
  kOversize,         // serial: send the response in a frame of more than 1050 data bytes
  kLate,             // both: the answer comes `ms` milliseconds late
  kNoAnswer,         // both: the command is taken but never answered
  kZeroLength,       // HID: input report with length field 0
  kLongLength,       // HID: input report whose length field exceeds the report
  kReportIdZero,     // HID: input report with report id 0 (raw form)
  kBusy,             // HID: an open is refused as held exclusively elsewhere
  kUnplugOnCommand,  // HID: the device is unplugged instead of answering
  kCount
};

enum class LinkKind : uint8_t { kSerial, kUsb };

struct FaultInfo {
  const char* name;
  const char* help;
  bool serial;
  bool usb;
};

const FaultInfo& DescribeFault(FaultKind kind);
bool FaultFromName(std::string_view name, FaultKind* kind);
bool FaultAppliesTo(FaultKind kind, LinkKind link);

// A parsed `fault` request: arm a fault, clear one or all, or an immediate
// action on the link (DSR off/on, unplug, replug).
struct FaultRequest {
  enum class Action : uint8_t { kArm, kClear, kClearAll, kDsrOff, kDsrOn, kUnplug, kReplug };
  Action action = Action::kArm;
  FaultKind kind = FaultKind::kNak;
  uint32_t count = 1;  // with rate 0: how many occasions
  double rate = 0;     // > 0: fire with this probability on every occasion
  uint32_t ms = 0;     // kLate: the delay; kUnplug/kUnplugOnCommand: replug after (0 never)
};

// Text forms: "nak", "nak count=3", "late ms=500", "bad-bcc rate=0.25",
// "clear nak", "clear", "dsr-off", "dsr-on", "unplug [ms=N]", "replug".
bool ParseFaultRequest(std::string_view text, FaultRequest* request, std::string* error);

class FaultPlan {
 public:
  explicit FaultPlan(uint64_t seed = 1);

  void Arm(FaultKind kind, uint32_t count, double rate, uint32_t ms);
  void Clear(FaultKind kind);
  void ClearAll();

  // Called on each occasion of the kind: true when the fault fires now
  // (consuming one of its count). `ms` receives the fault's parameter.
  bool Take(FaultKind kind, uint32_t* ms = nullptr);

  bool Armed(FaultKind kind) const;
  uint32_t Fired(FaultKind kind) const { return slots_[Index(kind)].fired; }
  // One line per armed fault ("nak count=2"), empty when none.
  std::string Describe() const;

 private:
  struct Slot {
    uint32_t count = 0;
    double rate = 0;
    uint32_t ms = 0;
    uint32_t fired = 0;
  };
  static size_t Index(FaultKind kind) { return static_cast<size_t>(kind); }
  double NextRandom();

  std::array<Slot, static_cast<size_t>(FaultKind::kCount)> slots_{};
  uint64_t random_;
};

}  // namespace q7msim
