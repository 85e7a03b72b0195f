// What the emulated reader knows about itself: identity, versions, counters,
// sensor levels, status and the front LED. It is separate from the links so
// that the same reader logic serves the serial line and the HID bus, and so
// that later command families (card model, firmware download) add state here
// without touching the transports.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace q7msim {

// One version entry as the reader reports it: a 12-character type, a
// 2-character revision and a check sum written in hexadecimal.
struct VersionInfo {
  std::string type;
  std::string revision;
  uint32_t sum = 0;
};

enum class LedMode { kOff, kOn, kBlink };

struct LedState {
  LedMode mode = LedMode::kOff;
  char colour = '0';  // "1" green, "2" red, "3" orange
  char cycle = '0';   // blink cycle digit "1" to "5"
  bool automatic = true;
};

constexpr size_t kCounterCount = 20;
constexpr size_t kSensorCount = 4;
constexpr size_t kModelWidth = 20;
constexpr size_t kSerialWidth = 6;
constexpr size_t kVersionTypeWidth = 12;
constexpr size_t kVersionRevisionWidth = 2;
constexpr size_t kSamSlotCount = 5;

// A chip standard the reader reports as two digits; -1 stands for "??"
// (not set).
constexpr int kStandardUnknown = -1;

struct ReaderState {
  ReaderState();

  std::string model;   // up to 20 characters, reported space-padded
  std::string serial;  // up to 6 characters

  VersionInfo mask;        // boot mask: 6-digit sum
  VersionInfo loader;      // second entry of the version reply: 6-digit sum
  VersionInfo firmware;    // main firmware: 8-digit sum
  VersionInfo icFirmware;  // chip module firmware: 8-digit sum
  VersionInfo samFirmware;

  std::array<uint32_t, kCounterCount> counters{};  // 8 decimal digits each
  std::array<uint32_t, kSensorCount> sensors{};    // 2 decimal digits each

  // The two status characters of every positive answer; the status query
  // reports the card position with them ("00" no card, "01" at the gate,
  // "02"/"10" inside, "11" and "2x" chip contacted).
  std::array<char, 2> cardStatus{'0', '0'};
  // A hardware fault the status queries report negatively; empty: none.
  std::string deviceError;

  uint8_t readableTracks = 7;  // bit 0 track 1, bit 1 track 2, bit 2 track 3
  char contactless = '0';      // capability digit of the contactless unit
  char samSupport = '1';       // "0" none, "1" or "2" SAM kinds
  std::array<char, kSamSlotCount> samSlots{'1', '0', '0', '0', '0'};

  int iccStandard = 0;
  int samStandard = 0;

  LedState led;

  // The error codes the reader answers with for a command it does not know
  // and for parameters it refuses.
  std::array<char, 2> undefinedCommandError{'0', '0'};
  std::array<char, 2> parameterError{'0', '2'};

  uint32_t resetCount = 0;
  uint32_t cancelCount = 0;
};

}  // namespace q7msim
