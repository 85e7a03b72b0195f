// What the emulated reader knows about itself and about the card in its
// slot: identity, versions, counters, sensor levels, the card's position and
// chip contact, and the front LED. It is separate from the links so that the
// same reader serves the serial line and the HID bus, and it lives as long as
// the reader does, so it persists across commands and across hosts that come
// and go. Each command family keeps its state in a member of its own: the card
// slot now; the chip and SAM modules, the contactless field, security and
// download add theirs when they are built. Commands change the state through
// their family's handlers, tests and operators through the field table.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "card_slot.h"
#include "download_state.h"
#include "security_state.h"
#include "chip_model.h"
#include "contactless_model.h"

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

// Where the card is. A card that enters the slot counts as an insertion.
enum class CardPosition : uint8_t { kNone, kGate, kInside };

// The chip contacts of a card inside: released, lowered onto the card,
// powering the chip card, or powering a memory card of type 0 to 3.
enum class ChipContact : uint8_t { kReleased, kLowered, kPowered, kMemoryCard };

struct CardSlot {
  CardPosition position = CardPosition::kNone;
  ChipContact chip = ChipContact::kReleased;
  uint8_t memoryCardType = 0;  // with kMemoryCard: 0 to 3
  // Status characters set by hand that no position stands for; cleared by
  // the next change of position or contact.
  bool statusOverridden = false;
  std::array<char, 2> statusOverride{'0', '0'};
};

// The twenty counters of the counter query, by index (offset 5 + 8 x index).
// Indexes 0, 1, 2 and 7 are action counters, the others error counters;
// what each counts is listed in docs/emulator.md. The unnamed ones keep the
// value they were set to.
enum class ReaderCounter : uint8_t {
  kInsertions = 0,          // a card entered the slot
  kTrackReads = 1,          // magnetic track reads (card transport family)
  kChipActivations = 2,     // chip, SAM and memory card activations (chip family)
  kNegativeAnswers = 3,     // every "N" answer, injected ones included
  kParameterErrors = 4,     // commands refused for their parameters
  kUndefinedCommands = 5,   // commands the reader does not know
  kLinkErrors = 6,          // damaged serial frames, refused output reports
  kResets = 7,              // resets executed
  kDeviceErrors = 8,        // status queries answered with the hardware fault
  kTrackErrors = 9,         // tracks read with an error (card transport family)
  kChipErrors = 10,         // chip exchanges that failed (chip family)
  kContactlessErrors = 11,  // contactless exchanges that failed (contactless family)
  kSecurityEvents = 12,     // tamper and rear-destroy detections (security family)
  kDownloadErrors = 13,     // refused download blocks (download family)
  kCancels = 14,            // cancels received
};

constexpr size_t kCounterCount = 20;
constexpr uint32_t kCounterMax = 99999999;  // eight decimal digits
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

  CardSlot slot;
  // The magnetic side of the slot: tracks, transaction setting, read
  // buffer, lock, jam (card_slot.h). Written by the card transport family,
  // by a moving card (CardMoved) and by the card verbs of the control
  // socket (card_control.cpp), which stand for the customer at the slot.
  CardTransport transport;
  // Told after every movement of the card (the card status monitoring
  // waits for one).
  std::function<void()> onCardMoved;
  // A hardware fault the status queries report negatively; empty: none.
  std::string deviceError;

  uint8_t readableTracks = 7;  // bit 0 track 1, bit 1 track 2, bit 2 track 3
  char contactless = '0';      // capability digit of the contactless unit
  char samSupport = '1';       // "0" none, "1" or "2" SAM kinds
  std::array<char, kSamSlotCount> samSlots{'1', '0', '0', '0', '0'};

  int iccStandard = 0;
  int samStandard = 0;

  LedState led;

  SecurityState security;  // security_commands.cpp
  DownloadState download;  // download_commands.cpp
  // The chip card's chip, the SAMs and a memory card (chip family), and the
  // contactless field with its cards (contactless family).
  ChipSide chipSide;
  ContactlessSide contactlessSide;

  // The error codes the reader answers with for a command it does not know
  // and for parameters it refuses.
  std::array<char, 2> undefinedCommandError{'0', '0'};
  std::array<char, 2> parameterError{'0', '2'};

  // The two status characters of every positive answer, from the card slot:
  // "00" no card, "01" at the gate, "02" inside, "10" contacts lowered, "11"
  // chip powered, "2t" memory card of type t powered.
  std::array<char, 2> StatusCharacters() const;
  // Moves the card; a card that was not in the slot counts as an insertion.
  // Leaving the inside releases the contacts.
  void MoveCard(CardPosition position);
  void SetChipContact(ChipContact chip, uint8_t memoryCardType = 0);

  // One more of `counter`, stopping at the largest value it can show.
  void Count(ReaderCounter counter);
  uint32_t Counter(ReaderCounter counter) const { return counters[static_cast<size_t>(counter)]; }
};

}  // namespace q7msim
