// The reader's chip side: the contact chip of the card in the slot, the
// security modules in SAM slots 1 to 5 and a synchronous memory card. What
// the host sends in blocks is gathered here and what the card answers is
// handed out in parts, so a chained exchange (T=1) can run in both
// directions. Only the chip family's command file and its fields write it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "apdu_responder.h"

namespace q7msim {

// One exchange chained in both directions: the blocks received so far and
// the answer still to be sent.
struct ChainState {
  static constexpr size_t kInputCapacity = 4096;
  uint8_t input[kInputCapacity];
  size_t inputSize = 0;
  CardAnswer answer;
  size_t answerSent = 0;  // bytes of `answer` handed out so far
  bool answering = false;

  void Clear() {
    inputSize = 0;
    answerSent = 0;
    answering = false;
  }
  bool Take(const uint8_t* bytes, size_t size);  // false when it would not fit
  // The next part of at most `part` bytes; true when it is the last.
  bool NextPart(size_t part, const uint8_t** data, size_t* size);
};

// The contact chip of the card in the slot.
struct ChipCard {
  bool present = true;  // the card in the slot has a chip
  std::vector<uint8_t> atr{0x3B, 0x67, 0x00, 0x00, 0x2D, 0x20, 0x36, 0x00, 0x78, 0x90, 0x00};
  char protocol = '0';  // "0" T=0, "1" T=1
  // An error the reader reports with the answer to reset (e.g. "87"); the
  // answer to reset follows it. Empty: a plain positive answer.
  std::string atrError;
  ApduResponder apps;
  ChainState chain;
};

struct SamModule {
  bool present = false;
  bool active = false;
  std::vector<uint8_t> atr{0x3B, 0x02, 0x14, 0x50};
  char protocol = '0';
  std::array<char, 2> status{'4', '0'};  // what the SAM status query reports
  ChainState chain;
};

// Synchronous memory cards: SLE 4442, 4432, 4428 and 4418 (types 0 to 3).
struct MemoryCard {
  bool present = false;
  uint8_t type = 0;
  std::vector<uint8_t> data = std::vector<uint8_t>(256, 0xFF);
  std::vector<uint8_t> psc{0xFF, 0xFF, 0xFF};  // the verification data
  uint32_t triesLeft = 3;
  bool verified = false;

  static size_t SizeOf(uint8_t type) { return type >= 2 ? 1024 : 256; }
  static size_t PscSizeOf(uint8_t type) { return type == 0 ? 3 : type == 2 ? 2 : 0; }
  static uint32_t TriesOf(uint8_t type) { return type == 0 ? 3 : type == 2 ? 8 : 0; }
  bool Locked() const { return PscSizeOf(type) != 0 && triesLeft == 0; }
};

constexpr size_t kEmulatedSamSlots = 5;

struct ChipSide {
  ChipSide() { sams[0].present = true; }
  ChipCard card;
  std::array<SamModule, kEmulatedSamSlots> sams;
  MemoryCard memory;
  ApduResponder samApps;  // what every SAM answers
  // Data bytes per reply part of a chained answer.
  uint32_t partSize = 256;
  // The error code for a chip, SAM or memory card that is not there.
  std::array<char, 2> missingError{'A', '0'};
};

}  // namespace q7msim
