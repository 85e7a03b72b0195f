#include "fault_plan.h"

#include <cstdio>

#include "text_util.h"

namespace q7msim {

namespace {

const FaultInfo kFaults[] = {
    {"nak", "answer good command frames with DLE NAK", true, false},
    {"no-ack", "ignore command frames (neither ACK nor NAK)", true, false},
    {"bad-bcc", "send response frames with a wrong BCC", true, false},
    {"oversize", "send responses in frames of more than 1050 data bytes", true, false},
    {"late", "answer ms=N milliseconds late", true, true},
    {"no-answer", "take commands but never answer them", true, true},
    {"zero-length", "send input reports with length field 0", false, true},
    {"long-length", "send input reports whose length field exceeds the report", false, true},
    {"report-id-0", "send input reports with report id 0 (raw form)", false, true},
    {"busy", "refuse opens as if another host held the device exclusively", false, true},
    {"unplug-on-command", "unplug instead of answering (ms=N: replug after N ms)", false, true},
};
static_assert(sizeof kFaults / sizeof kFaults[0] == static_cast<size_t>(FaultKind::kCount));

constexpr uint32_t kMaxCount = 1000000;
constexpr uint32_t kMaxMs = 3600000;

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

bool FaultPlan::Take(FaultKind kind, uint32_t* ms) {
  Slot& slot = slots_[Index(kind)];
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
    text += '\n';
  }
  return text;
}

}  // namespace q7msim
