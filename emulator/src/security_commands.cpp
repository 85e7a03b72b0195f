// The security family: tamper and rear-destroy detection, recovery and the
// host watchdog's setting (the watch itself runs on the event loop, see
// host_watchdog.h). The mode commands and the recovery must carry the
// reader's own mask version, as the "V0" reply shows it, or they are
// refused: a host proves it addresses this reader. While a detection is
// latched with its mode on, the card operations and the download are
// refused until the recovery.
#include "security_commands.h"

#include <string>

#include "reader_commands.h"
#include "text_util.h"

namespace q7msim {

namespace {

constexpr size_t kMaskTailSize = kVersionTypeWidth + kVersionRevisionWidth + 6;
// The errors of a reader that has latched a detection.
constexpr char kTamperedError[] = "0A";
constexpr char kRearDestroyedError[] = "0B";

// The mask version as the 20 characters at "V0" reply bytes 5 to 24.
std::string MaskTail(const ReaderState& s) {
  ResponseBuffer r;
  r.AppendPadded(s.mask.type, kVersionTypeWidth);
  r.AppendPadded(s.mask.revision, kVersionRevisionWidth);
  r.AppendHex(s.mask.sum, 6);
  return std::string(reinterpret_cast<const char*>(r.data()), r.size());
}

bool CarriesMaskTail(const CommandContext& c, size_t offset) {
  const std::string tail = MaskTail(c.state);
  return c.paramSize == offset + kMaskTailSize &&
         std::string_view(reinterpret_cast<const char*>(c.params) + offset, kMaskTailSize) == tail;
}

bool ModeDigit(const CommandContext& c, bool* on) {
  if (c.paramSize < 1 || (c.params[0] != '0' && c.params[0] != '1')) return false;
  *on = c.params[0] == '1';
  return true;
}

// "SX" / "Sa" + mode digit + mask version.
void SetMode(CommandContext& c, bool* mode) {
  bool on = false;
  if (!ModeDigit(c, &on) || !CarriesMaskTail(c, 1)) return c.RefuseParameters();
  *mode = on;
  c.Accept();
}

void SetTamperDetection(CommandContext& c) {
  SetMode(c, &c.state.security.tamperDetection);
}
void SetRearDestroyDetection(CommandContext& c) {
  SetMode(c, &c.state.security.rearDestroyDetection);
}

// "SY" / "Sb": the mode digit at reply byte 5.
void ReportMode(CommandContext& c, bool mode) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  c.Accept();
  c.response.AppendChar(mode ? '1' : '0');
}

void TamperDetectionMode(CommandContext& c) {
  ReportMode(c, c.state.security.tamperDetection);
}
void RearDestroyDetectionMode(CommandContext& c) {
  ReportMode(c, c.state.security.rearDestroyDetection);
}

// "XZ" + mask version: forgets the latched detections.
void Recover(CommandContext& c) {
  if (!CarriesMaskTail(c, 0)) return c.RefuseParameters();
  c.state.security.tampered = false;
  c.state.security.rearDestroyed = false;
  c.Accept();
}

bool Digits(const uint8_t* p, size_t n, uint32_t* value) {
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    v = v * 10 + (p[i] - '0');
  }
  *value = v;
  return true;
}

// "W9" + monitoring time (2 digits, seconds) + number of resets (1 digit) +
// retry reset time (2 digits, seconds).
void SetHostWatchdog(CommandContext& c) {
  HostWatchdogSetting w;
  if (!c.HasParams(5) || !Digits(c.params, 2, &w.monitoringSeconds) ||
      !Digits(c.params + 2, 1, &w.resets) || !Digits(c.params + 3, 2, &w.retrySeconds))
    return c.RefuseParameters();
  c.state.security.watchdog = w;
  c.Accept();
}

bool StoppedByDetection(CommandContext& c) {
  const SecurityState& s = c.state.security;
  if (!s.Abnormal()) return false;
  size_t count = 0;
  const CommandCodeInfo* codes = ReaderCommandCodes(&count);
  for (size_t i = 0; i < count; ++i) {
    if (codes[i].code[0] != c.code[0] || codes[i].code[1] != c.code[1]) continue;
    switch (codes[i].family) {
      case CommandFamily::kCardTransport:
      case CommandFamily::kChip:
      case CommandFamily::kContactless:
      case CommandFamily::kDownload:
        c.response.Negative(c.code,
                            s.tampered && s.tamperDetection ? kTamperedError : kRearDestroyedError);
        return true;
      default:
        return false;
    }
  }
  return false;
}

std::string SetLatched(ReaderState* state, bool* target, std::string_view value) {
  if (value != "0" && value != "1") return "0 or 1";
  const bool on = value == "1";
  if (on && !*target) state->Count(ReaderCounter::kSecurityEvents);
  *target = on;
  return {};
}

std::string SetWatchdog(HostWatchdogSetting* target, std::string_view value) {
  auto parts = SplitList(value, ',');
  HostWatchdogSetting w;
  uint64_t n[3] = {};
  const uint64_t max[3] = {99, 9, 99};
  if (parts.size() != 3) return "expected MONITORING,RESETS,RETRY";
  for (size_t i = 0; i < 3; ++i) {
    if (!ParseUnsigned(parts[i], max[i], &n[i])) return "MONITORING 0-99, RESETS 0-9, RETRY 0-99";
  }
  w.monitoringSeconds = static_cast<uint32_t>(n[0]);
  w.resets = static_cast<uint32_t>(n[1]);
  w.retrySeconds = static_cast<uint32_t>(n[2]);
  *target = w;
  return {};
}

}  // namespace

bool RegisterSecurityCommands(CommandDispatcher* d) {
  d->AddGate(&StoppedByDetection);
  bool ok = d->Register("SX", SetTamperDetection);
  ok = d->Register("SY", TamperDetectionMode) && ok;
  ok = d->Register("Sa", SetRearDestroyDetection) && ok;
  ok = d->Register("Sb", RearDestroyDetectionMode) && ok;
  ok = d->Register("XZ", Recover) && ok;
  ok = d->Register("W9", SetHostWatchdog) && ok;
  return ok;
}

void AddSecurityFields(ReaderState* state, FieldTable* fields) {
  SecurityState* s = &state->security;
  fields->AddSwitch("TamperDetection", "tamper detection mode (SX/SY)", &s->tamperDetection);
  fields->AddSwitch("RearDestroyDetection", "rear-destroy detection mode (Sa/Sb)",
                    &s->rearDestroyDetection);
  fields->Add(
      "Tampered", "1: a tamper detection is latched until the recovery XZ",
      [s] { return std::string(s->tampered ? "1" : "0"); },
      [state, s](std::string_view v) { return SetLatched(state, &s->tampered, v); });
  fields->Add(
      "RearDestroyed", "1: a rear-destroy detection is latched until the recovery XZ",
      [s] { return std::string(s->rearDestroyed ? "1" : "0"); },
      [state, s](std::string_view v) { return SetLatched(state, &s->rearDestroyed, v); });
  fields->Add(
      "HostWatchdog",
      "host watchdog as W9 sets it: MONITORING,RESETS,RETRY (seconds, 0-9 resets, seconds); "
      "0 monitoring or 0 resets: off; takes effect with the next command",
      [s] {
        return std::to_string(s->watchdog.monitoringSeconds) + "," +
               std::to_string(s->watchdog.resets) + "," + std::to_string(s->watchdog.retrySeconds);
      },
      [s](std::string_view v) { return SetWatchdog(&s->watchdog, v); });
  fields->Add("WatchdogResets", "resets the host watchdog has made",
              [s] { return std::to_string(s->watchdogResets); });
}

}  // namespace q7msim
