#include "fault_plan.h"

#include <cstdio>

#include "text_util.h"

namespace q7msim {

namespace {

const FaultInfo kFaults[] = {
    {"nak", "answer good command frames with DLE NAK", true, false, false},
    {"no-ack", "ignore command frames (neither ACK nor NAK)", true, false, false},
    {"bad-bcc", "send response frames with a wrong BCC", true, false, false},
    {"oversize", "send responses in frames of more than 1050 data bytes", true, false, false},
    {"late", "answer ms=N milliseconds late [cmd=YY]", true, true, true},
    {"no-answer", "take commands but never answer them [cmd=YY]", true, true, true},
    {"zero-length", "send input reports with length field 0", false, true, false},
    {"long-length", "send input reports whose length field exceeds the report", false, true, false},
    {"report-id-0", "send input reports with report id 0 (raw form)", false, true, false},
    {"busy", "refuse opens as if another host held the device exclusively", false, true, false},
    {"unplug-on-command", "unplug instead of answering (ms=N: replug after N ms)", false, true,
     false},
    {"error", "answer N, the code and code=XX instead of running the command [cmd=YY]", true, true,
     true},
    {"cancel-reply", "answer the one-byte cancel answer E [cmd=YY]", true, true, true},
    {"reply", "answer exactly the bytes data=HEX (up to 4096, may be empty) [cmd=YY]", true, true,
     true},
};
static_assert(sizeof kFaults / sizeof kFaults[0] == static_cast<size_t>(FaultKind::kCount));

constexpr uint32_t kMaxCount = 1000000;
constexpr uint32_t kMaxMs = 3600000;

// Two printable, non-blank characters, kept as written.
bool ParseTwoCharacters(std::string_view text, std::array<char, 2>* out) {
  if (text.size() != 2 || !IsPrintable(text) || text[0] == ' ' || text[1] == ' ') return false;
  (*out)[0] = text[0];
  (*out)[1] = text[1];
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Pairs of hexadecimal digits, any case; empty is an empty reply.
bool ParseHexBytes(std::string_view text, std::vector<uint8_t>* bytes) {
  if (text.size() % 2 != 0 || text.size() / 2 > kMaxFaultReplyBytes) return false;
  bytes->clear();
  bytes->reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = HexValue(text[i]);
    int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

}  // namespace

const FaultInfo& DescribeFault(FaultKind kind) {
  return kFaults[static_cast<size_t>(kind)];
}

bool FaultFromName(std::string_view name, FaultKind* kind) {
  for (size_t i = 0; i < static_cast<size_t>(FaultKind::kCount); ++i) {
    if (EqualsNoCase(name, kFaults[i].name)) {
      *kind = static_cast<FaultKind>(i);
      return true;
    }
  }
  return false;
}

bool FaultAppliesTo(FaultKind kind, LinkKind link) {
  const FaultInfo& info = DescribeFault(kind);
  return link == LinkKind::kSerial ? info.serial : info.usb;
}

bool ParseFaultRequest(std::string_view text, FaultRequest* request, std::string* error) {
  auto words = SplitWords(text);
  if (words.empty()) {
    *error = "no fault named";
    return false;
  }
  FaultRequest r;
  std::string_view verb = words[0];
  size_t first = 1;
  if (EqualsNoCase(verb, "clear")) {
    if (words.size() == 1) {
      r.action = FaultRequest::Action::kClearAll;
      *request = r;
      return true;
    }
    r.action = FaultRequest::Action::kClear;
    if (words.size() != 2 || !FaultFromName(words[1], &r.kind)) {
      *error = "clear takes one fault name";
      return false;
    }
    *request = r;
    return true;
  }
  if (EqualsNoCase(verb, "dsr-off")) {
    r.action = FaultRequest::Action::kDsrOff;
  } else if (EqualsNoCase(verb, "dsr-on")) {
    r.action = FaultRequest::Action::kDsrOn;
  } else if (EqualsNoCase(verb, "unplug")) {
    r.action = FaultRequest::Action::kUnplug;
    r.count = 0;
  } else if (EqualsNoCase(verb, "replug")) {
    r.action = FaultRequest::Action::kReplug;
  } else if (!FaultFromName(verb, &r.kind)) {
    *error = "unknown fault '" + std::string(verb) + "'";
    return false;
  }

  bool haveCount = false;
  bool haveCode = false;
  bool haveData = false;
  for (size_t i = first; i < words.size(); ++i) {
    std::string_view word = words[i];
    size_t eq = word.find('=');
    if (eq == std::string_view::npos) {
      *error = "expected NAME=VALUE, got '" + std::string(word) + "'";
      return false;
    }
    std::string_view name = word.substr(0, eq);
    std::string_view value = word.substr(eq + 1);
    uint64_t number = 0;
    if (EqualsNoCase(name, "count")) {
      if (!ParseUnsigned(value, kMaxCount, &number)) {
        *error = "count: a number up to 1000000";
        return false;
      }
      r.count = static_cast<uint32_t>(number);
      haveCount = true;
    } else if (EqualsNoCase(name, "rate")) {
      if (!ParseRate(value, &r.rate)) {
        *error = "rate: a fraction from 0 to 1, or a percentage";
        return false;
      }
    } else if (EqualsNoCase(name, "ms")) {
      if (!ParseUnsigned(value, kMaxMs, &number)) {
        *error = "ms: milliseconds up to 3600000";
        return false;
      }
      r.ms = static_cast<uint32_t>(number);
    } else if (EqualsNoCase(name, "cmd")) {
      if (!ParseTwoCharacters(value, &r.command)) {
        *error = "cmd: a command code of two printable characters";
        return false;
      }
      r.anyCommand = false;
    } else if (EqualsNoCase(name, "code")) {
      if (!ParseTwoCharacters(value, &r.errorCode)) {
        *error = "code: an error code of two printable characters";
        return false;
      }
      haveCode = true;
    } else if (EqualsNoCase(name, "data")) {
      if (!ParseHexBytes(value, &r.data)) {
        *error = "data: pairs of hexadecimal digits, at most 4096 bytes";
        return false;
      }
      haveData = true;
    } else {
      *error = "unknown setting '" + std::string(name) + "'";
      return false;
    }
  }
  bool armed = r.action == FaultRequest::Action::kArm;
  if (!armed && (haveCount || r.rate > 0)) {
    *error = std::string(verb) + " takes no count or rate";
    return false;
  }
  if (haveCount && r.rate > 0) {
    *error = "give either count or rate, not both";
    return false;
  }
  if (armed && r.kind == FaultKind::kLate && r.ms == 0) {
    *error = "late needs ms=N";
    return false;
  }
  if (!r.anyCommand && (!armed || !DescribeFault(r.kind).perCommand)) {
    *error = std::string(verb) + " takes no cmd=";
    return false;
  }
  bool wantsCode = armed && r.kind == FaultKind::kError;
  if (haveCode != wantsCode) {
    *error = wantsCode ? "error needs code=XX" : std::string(verb) + " takes no code=";
    return false;
  }
  bool wantsData = armed && r.kind == FaultKind::kReply;
  if (haveData != wantsData) {
    *error = wantsData ? "reply needs data=HEX" : std::string(verb) + " takes no data=";
    return false;
  }
  if (r.rate > 0) r.count = 0;
  *request = r;
  return true;
}

FaultPlan::FaultPlan(uint64_t seed) : random_(seed ? seed : 0x9E3779B97F4A7C15ull) {}

void FaultPlan::Arm(FaultKind kind, uint32_t count, double rate, uint32_t ms) {
  Slot& slot = slots_[Index(kind)];
  slot.count = rate > 0 ? 0 : count;
  slot.rate = rate;
  slot.ms = ms;
  slot.anyCommand = true;
}

void FaultPlan::Arm(const FaultRequest& request) {
  Arm(request.kind, request.count, request.rate, request.ms);
  Slot& slot = slots_[Index(request.kind)];
  slot.anyCommand = request.anyCommand;
  slot.command = request.command;
  slot.code = request.errorCode;
  slot.data = request.data;
}

void FaultPlan::Clear(FaultKind kind) {
  Slot& slot = slots_[Index(kind)];
  slot.count = 0;
  slot.rate = 0;
}

void FaultPlan::ClearAll() {
  for (Slot& slot : slots_) {
    slot.count = 0;
    slot.rate = 0;
  }
}

double FaultPlan::NextRandom() {
  // xorshift64*: small, fast and reproducible from its seed.
  random_ ^= random_ >> 12;
  random_ ^= random_ << 25;
  random_ ^= random_ >> 27;
  uint64_t value = random_ * 0x2545F4914F6CDD1Dull;
  return static_cast<double>(value >> 11) / static_cast<double>(1ull << 53);
}

bool FaultPlan::TakeFor(FaultKind kind, std::string_view code, uint32_t* ms) {
  Slot& slot = slots_[Index(kind)];
  if (!slot.anyCommand &&
      (code.size() != 2 || code[0] != slot.command[0] || code[1] != slot.command[1]))
    return false;
  bool fire = false;
  if (slot.count > 0) {
    --slot.count;
    fire = true;
  } else if (slot.rate > 0) {
    fire = NextRandom() < slot.rate;
  }
  if (fire) {
    ++slot.fired;
    if (ms) *ms = slot.ms;
  }
  return fire;
}

bool FaultPlan::Armed(FaultKind kind) const {
  const Slot& slot = slots_[Index(kind)];
  return slot.count > 0 || slot.rate > 0;
}

std::string FaultPlan::Describe() const {
  std::string text;
  for (size_t i = 0; i < slots_.size(); ++i) {
    const Slot& slot = slots_[i];
    if (slot.count == 0 && slot.rate <= 0) continue;
    char line[128];
    if (slot.rate > 0)
      std::snprintf(line, sizeof line, "%s rate=%.4g", kFaults[i].name, slot.rate);
    else
      std::snprintf(line, sizeof line, "%s count=%u", kFaults[i].name, slot.count);
    text += line;
    if (slot.ms) text += " ms=" + std::to_string(slot.ms);
    if (!slot.anyCommand) text += " cmd=" + std::string(slot.command.data(), 2);
    if (static_cast<FaultKind>(i) == FaultKind::kError)
      text += " code=" + std::string(slot.code.data(), 2);
    if (static_cast<FaultKind>(i) == FaultKind::kReply) {
      text += " data=";
      for (uint8_t byte : slot.data) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
      }
    }
    text += '\n';
  }
  return text;
}

}  // namespace q7msim
