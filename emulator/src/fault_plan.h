// Faults a test arms on one reader: each either for the next n occasions
// (exchanges, frames, reports or opens, by kind) or as a rate that fires at
// random on each occasion until cleared. The random source is seeded, so a run
// with the same seed fires the same faults. The answer faults (error,
// cancel-reply, reply) and the timing faults (late, no-answer) can be limited
// to one command code; they then only fire, and only count down, on commands
// with that code.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
  kError,            // both: the command is answered "N", its code and a chosen error code
  kCancelReply,      // both: the command is answered with the one-byte cancel answer "E"
  kReply,            // both: the command is answered with chosen raw bytes
  kCount
};

enum class LinkKind : uint8_t { kSerial, kUsb };

struct FaultInfo {
  const char* name;
  const char* help;
  bool serial;
  bool usb;
  bool perCommand;  // takes cmd=YY
};

const FaultInfo& DescribeFault(FaultKind kind);
bool FaultFromName(std::string_view name, FaultKind* kind);
bool FaultAppliesTo(FaultKind kind, LinkKind link);

// The largest answer the reply fault sends: what the biggest host buffer takes.
constexpr size_t kMaxFaultReplyBytes = 4096;

// A parsed `fault` request: arm a fault, clear one or all, or an immediate
// action on the link (DSR off/on, unplug, replug).
struct FaultRequest {
  enum class Action : uint8_t { kArm, kClear, kClearAll, kDsrOff, kDsrOn, kUnplug, kReplug };
  Action action = Action::kArm;
  FaultKind kind = FaultKind::kNak;
  uint32_t count = 1;      // with rate 0: how many occasions
  double rate = 0;         // > 0: fire with this probability on every occasion
  uint32_t ms = 0;         // kLate: the delay; kUnplug/kUnplugOnCommand: replug after (0 never)
  bool anyCommand = true;  // false: only commands with code `command`
  std::array<char, 2> command{};    // cmd=YY
  std::array<char, 2> errorCode{};  // kError: code=XX
  std::vector<uint8_t> data;        // kReply: data=HEX
};

// Text forms: "nak", "nak count=3", "late ms=500 [cmd=10]", "bad-bcc rate=0.25",
// "error code=46 [cmd=6a] [count=n|rate=r]", "cancel-reply [cmd=YY]",
// "reply data=HEX [cmd=YY]", "no-answer [cmd=YY]", "clear nak", "clear",
// "dsr-off", "dsr-on", "unplug [ms=N]", "replug". Command codes and error
// codes are two printable characters, taken as written (case matters).
bool ParseFaultRequest(std::string_view text, FaultRequest* request, std::string* error);

class FaultPlan {
 public:
  explicit FaultPlan(uint64_t seed = 1);

  void Arm(FaultKind kind, uint32_t count, double rate, uint32_t ms);
  // Arms `request.kind` with everything the request carries (command filter,
  // error code, reply bytes). The request must have been parsed.
  void Arm(const FaultRequest& request);
  void Clear(FaultKind kind);
  void ClearAll();

  // Called on each occasion of the kind: true when the fault fires now
  // (consuming one of its count). `ms` receives the fault's parameter. A fault
  // limited to one command code never fires here.
  bool Take(FaultKind kind, uint32_t* ms = nullptr) { return TakeFor(kind, {}, ms); }
  // The same for a command with code `code` (empty: the message is no
  // command): a fault limited to another code neither fires nor counts down.
  bool TakeFor(FaultKind kind, std::string_view code, uint32_t* ms = nullptr);

  // What the answer faults answer with, valid after they fired.
  const std::array<char, 2>& ErrorCode() const { return slots_[Index(FaultKind::kError)].code; }
  const std::vector<uint8_t>& ReplyData() const { return slots_[Index(FaultKind::kReply)].data; }

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
    bool anyCommand = true;
    std::array<char, 2> command{};
    std::array<char, 2> code{};
    std::vector<uint8_t> data;
  };
  static size_t Index(FaultKind kind) { return static_cast<size_t>(kind); }
  double NextRandom();

  std::array<Slot, static_cast<size_t>(FaultKind::kCount)> slots_{};
  uint64_t random_;
};

}  // namespace q7msim
