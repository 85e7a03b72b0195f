#include "device_commands.h"

namespace q7msim {

namespace {

void AppendVersion(ResponseBuffer& r, const VersionInfo& v, size_t sumDigits) {
  r.AppendPadded(v.type, kVersionTypeWidth);
  r.AppendPadded(v.revision, kVersionRevisionWidth);
  r.AppendHex(v.sum, sumDigits);
}

bool IsDigitIn(uint8_t c, char low, char high) {
  return c >= low && c <= high;
}

// "V0": boot mask (data offset 5, 6-digit sum), loader (offset 25) and
// firmware (offset 45, 8-digit sum).
void VersionMain(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  c.Accept();
  AppendVersion(c.response, c.state.mask, 6);
  AppendVersion(c.response, c.state.loader, 6);
  AppendVersion(c.response, c.state.firmware, 8);
}

// "V1" and "V2": one version at offset 5 with an 8-digit sum.
void VersionChip(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  c.Accept();
  AppendVersion(c.response, c.state.icFirmware, 8);
}

void VersionSam(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  c.Accept();
  AppendVersion(c.response, c.state.samFirmware, 8);
}

// "UE": model number (20 characters at offset 5), serial number (6 at 25).
void SerialAndModel(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  c.Accept();
  c.response.AppendPadded(c.state.model, kModelWidth);
  c.response.AppendPadded(c.state.serial, kSerialWidth);
}

// "N0": 26 capability characters from offset 5. Offsets 8 to 10 say which
// tracks can be read, 12 the contactless unit, 25 the SAM support, 26 to 30
// which SAM slots are fitted; the others are reported as "0".
void Capabilities(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  const ReaderState& s = c.state;
  c.Accept();
  ResponseBuffer& r = c.response;
  r.AppendPadded("", 3, '0');  // offsets 5 to 7
  for (int track = 0; track < 3; ++track) r.AppendChar((s.readableTracks >> track) & 1 ? '1' : '0');
  r.AppendChar('0');  // offset 11
  r.AppendChar(s.contactless);
  r.AppendPadded("", 12, '0');  // offsets 13 to 24
  r.AppendChar(s.samSupport);
  for (char slot : s.samSlots) r.AppendChar(slot);
}

// "10" and "11": the status queries. Their status characters tell where the
// card is and whether its chip is contacted; a reader with a hardware fault
// answers them negatively with its error code.
void Status(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  if (c.state.transport.jammed) {
    c.state.Count(ReaderCounter::kDeviceErrors);
    return c.response.Negative(c.code, c.state.transport.jamError.data());
  }
  if (c.state.deviceError.size() == 2) {
    c.state.Count(ReaderCounter::kDeviceErrors);
    return c.response.Negative(c.code, c.state.deviceError.data());
  }
  c.Accept();
}

// "L0": four two-digit sensor levels from offset 5.
void SensorLevels(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  c.Accept();
  for (uint32_t level : c.state.sensors) c.response.AppendDecimal(level, 2);
}

// "M0": twenty eight-digit counters from offset 5.
void Counters(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  c.Accept();
  for (uint32_t counter : c.state.counters) c.response.AppendDecimal(counter, 8);
}

// "Y0": chip card standard at offset 5, SAM standard at offset 12, each two
// digits or "??".
void Standards(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  c.Accept();
  auto append = [&](int standard) {
    if (standard == kStandardUnknown)
      c.response.AppendBytes("??", 2);
    else
      c.response.AppendDecimal(static_cast<uint64_t>(standard), 2);
  };
  append(c.state.iccStandard);
  c.response.AppendPadded("", 5, '0');  // offsets 7 to 11
  append(c.state.samStandard);
}

bool ParseStandard(const CommandContext& c, int* standard) {
  if (!c.HasParams(2) || !IsDigitIn(c.params[0], '0', '9') || !IsDigitIn(c.params[1], '0', '9'))
    return false;
  int value = (c.params[0] - '0') * 10 + (c.params[1] - '0');
  if (value != 0 && value != 4 && value != 5 && value != 6) return false;
  *standard = value;
  return true;
}

void SetIccStandard(CommandContext& c) {
  int standard = 0;
  if (!ParseStandard(c, &standard)) return c.RefuseParameters();
  c.state.iccStandard = standard;
  c.Accept();
}

void SetSamStandard(CommandContext& c) {
  int standard = 0;
  if (!ParseStandard(c, &standard)) return c.RefuseParameters();
  c.state.samStandard = standard;
  c.Accept();
}

// "P6": LED off.
void LedOff(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  c.state.led.mode = LedMode::kOff;
  c.Accept();
}

// "P7" + colour digit 1 to 3: LED on.
void LedOn(CommandContext& c) {
  if (!c.HasParams(1) || !IsDigitIn(c.params[0], '1', '3')) return c.RefuseParameters();
  c.state.led.mode = LedMode::kOn;
  c.state.led.colour = static_cast<char>(c.params[0]);
  c.Accept();
}

// "P8" + colour digit 1 to 3 + cycle digit 1 to 5: LED blinking.
void LedBlink(CommandContext& c) {
  if (!c.HasParams(2) || !IsDigitIn(c.params[0], '1', '3') || !IsDigitIn(c.params[1], '1', '5'))
    return c.RefuseParameters();
  c.state.led.mode = LedMode::kBlink;
  c.state.led.colour = static_cast<char>(c.params[0]);
  c.state.led.cycle = static_cast<char>(c.params[1]);
  c.Accept();
}

// "N3" + "0" manual or "1" automatic LED control.
void LedControlMode(CommandContext& c) {
  if (!c.HasParams(1) || !IsDigitIn(c.params[0], '0', '1')) return c.RefuseParameters();
  c.state.led.automatic = c.params[0] == '1';
  c.Accept();
}

}  // namespace

bool RegisterDeviceCommands(CommandDispatcher* d) {
  struct Entry {
    const char* code;
    CommandHandler handler;
  };
  static const Entry kEntries[] = {
      {"V0", VersionMain},  {"V1", VersionChip}, {"V2", VersionSam},     {"UE", SerialAndModel},
      {"N0", Capabilities}, {"10", Status},      {"11", Status},         {"L0", SensorLevels},
      {"M0", Counters},     {"Y0", Standards},   {"Y6", SetIccStandard}, {"Y7", SetSamStandard},
      {"P6", LedOff},       {"P7", LedOn},       {"P8", LedBlink},       {"N3", LedControlMode},
  };
  bool ok = true;
  for (const Entry& e : kEntries) ok = d->Register(e.code, e.handler) && ok;
  return ok;
}

}  // namespace q7msim
