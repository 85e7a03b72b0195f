#include "reader_commands.h"

#include <string_view>

namespace q7msim {

namespace {

using F = CommandFamily;

const CommandCodeInfo kCodes[] = {
    {"N0", F::kDevice, "capabilities"},
    {"10", F::kDevice, "device status"},
    {"11", F::kDevice, "card status"},
    {"L0", F::kDevice, "sensor levels"},
    {"V0", F::kDevice, "versions: boot mask, loader, firmware"},
    {"V1", F::kDevice, "chip module firmware version"},
    {"V2", F::kDevice, "SAM firmware version"},
    {"UE", F::kDevice, "model and serial number"},
    {"M0", F::kDevice, "counters"},
    {"Y0", F::kDevice, "chip card and SAM standards"},
    {"Y6", F::kDevice, "set the chip card standard"},
    {"Y7", F::kDevice, "set the SAM standard"},
    {"N3", F::kDevice, "LED control mode"},
    {"P6", F::kDevice, "LED off"},
    {"P7", F::kDevice, "LED on"},
    {"P8", F::kDevice, "LED blinking"},
    {"00", F::kCardTransport, "reset"},
    {":6", F::kCardTransport, "transaction setting"},
    {"92", F::kCardTransport, "card status monitoring"},
    {"6a", F::kCardTransport, "magnetic track read"},
    {"6s", F::kCardTransport, "clear read data"},
    {"C0", F::kCardTransport, "card lock on"},
    {"C1", F::kCardTransport, "card lock off"},
    {"G1", F::kChip, "chip card cold reset"},
    {"E1", F::kChip, "chip card warm reset"},
    {"C6", F::kChip, "chip card deactivation"},
    {"F0", F::kChip, "chip card exchange"},
    {"F1", F::kChip, "chip card exchange, last block"},
    {"F2", F::kChip, "chip card exchange, block"},
    {"F3", F::kChip, "chip card exchange, next reply part"},
    {"e0", F::kChip, "SAM status"},
    {"e2", F::kChip, "SAM deactivation"},
    {"e3", F::kChip, "SAM cold reset"},
    {"e4", F::kChip, "SAM warm reset"},
    {"f0", F::kChip, "SAM exchange"},
    {"f1", F::kChip, "SAM exchange, last block"},
    {"f2", F::kChip, "SAM exchange, block"},
    {"f3", F::kChip, "SAM exchange, next reply part"},
    {"m5", F::kChip, "memory card activation"},
    {"m6", F::kChip, "memory card deactivation"},
    {"m7", F::kChip, "memory card exchange"},
    {"m8", F::kChip, "memory card verification"},
    {"n0", F::kContactless, "contactless activation"},
    {"n1", F::kContactless, "contactless deactivation"},
    {"n2", F::kContactless, "Mifare authenticate, read, write"},
    {"n3", F::kContactless, "Type B attribute and exchange"},
    {"SX", F::kSecurity, "set tamper detection"},
    {"SY", F::kSecurity, "tamper detection mode"},
    {"Sa", F::kSecurity, "set rear-destroy detection"},
    {"Sb", F::kSecurity, "rear-destroy detection mode"},
    {"XZ", F::kSecurity, "recovery"},
    {"W9", F::kSecurity, "host watchdog"},
    {"d0", F::kDownload, "download start"},
    {"d1", F::kDownload, "download block"},
    {"d2", F::kDownload, "download end"},
    {"d3", F::kDownload, "download announce"},
};

void NotBuilt(CommandContext& c) {
  c.RefuseCommand();
}

bool Listed(const CommandDispatcher& d) {
  // A family may only answer codes of the list.
  for (int a = 0x20; a < 0x7F; ++a) {
    for (int b = 0x20; b < 0x7F; ++b) {
      const char code[2] = {static_cast<char>(a), static_cast<char>(b)};
      std::string_view view(code, 2);
      if (!d.Knows(view)) continue;
      bool found = false;
      for (const CommandCodeInfo& info : kCodes) found = found || view == info.code;
      if (!found) return false;
    }
  }
  return true;
}

}  // namespace

const char* FamilyName(CommandFamily family) {
  switch (family) {
    case F::kDevice:
      return "device";
    case F::kCardTransport:
      return "card transport";
    case F::kChip:
      return "chip";
    case F::kContactless:
      return "contactless";
    case F::kSecurity:
      return "security";
    case F::kDownload:
      return "download";
  }
  return "?";
}

const CommandCodeInfo* ReaderCommandCodes(size_t* count) {
  *count = sizeof kCodes / sizeof kCodes[0];
  return kCodes;
}

bool RegisterReaderCommands(CommandDispatcher* d) {
  bool ok = RegisterDeviceCommands(d);
  ok = RegisterCardTransportCommands(d) && ok;
  ok = RegisterChipCommands(d) && ok;
  ok = RegisterContactlessCommands(d) && ok;
  ok = RegisterSecurityCommands(d) && ok;
  ok = RegisterDownloadCommands(d) && ok;
  ok = Listed(*d) && ok;
  for (const CommandCodeInfo& info : kCodes) {
    if (!d->Knows(info.code)) ok = d->Register(info.code, NotBuilt) && ok;
  }
  return ok;
}

}  // namespace q7msim
