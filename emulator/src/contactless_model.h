// The reader's contactless field and the cards in it: Mifare cards with their
// sectors, keys and blocks, Type B cards with their identity and a card
// application, and cards of other kinds. Cards come and go while the field is
// on (the control command sets their slots). Only the contactless family's
// command file and its fields write it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "chip_model.h"

namespace q7msim {

constexpr size_t kMifareSectors = 16;
constexpr size_t kMifareBlocks = 64;
constexpr size_t kMifareBlockSize = 16;
constexpr size_t kFieldCardSlots = 8;

enum class FieldCardKind : uint8_t { kNone, kMifare, kTypeB, kOther };

struct FieldCard {
  FieldCardKind kind = FieldCardKind::kNone;
  std::array<uint8_t, 4> id{};
  // Mifare: keys A and B of each sector and the 64 blocks of 16 bytes.
  std::array<std::array<uint8_t, 6>, kMifareSectors> keyA{};
  std::array<std::array<uint8_t, 6>, kMifareSectors> keyB{};
  std::array<std::array<uint8_t, kMifareBlockSize>, kMifareBlocks> blocks{};
  // Type B: application data, protocol bytes and the answer to the selection.
  std::array<uint8_t, 4> application{};
  std::array<uint8_t, 3> protocol{};
  std::vector<uint8_t> attributes{0x00};
};

struct ContactlessSide {
  bool fieldOn = false;
  std::array<FieldCard, kFieldCardSlots> cards;
  // The Mifare card and sector last authenticated (slot -1: none).
  int authenticatedSlot = -1;
  uint8_t authenticatedSector = 0;
  // The Type B card selected (slot -1: none), its exchange and application.
  int selectedSlot = -1;
  ChainState chain;
  ApduResponder typeBApps;

  // Forgets what was authenticated or selected on the card in `slot` (it
  // left the field) or on every card (slot -1).
  void Forget(int slot) {
    if (slot < 0 || authenticatedSlot == slot) authenticatedSlot = -1;
    if (slot < 0 || selectedSlot == slot) {
      selectedSlot = -1;
      chain.Clear();
    }
  }
  // The slot of the card of `kind` with `id`, or -1.
  int Find(FieldCardKind kind, const uint8_t* id) const;
};

// The text of a field card slot, and setting one from such a text:
//   none
//   mifare uid=HEX8 [keyA=HEX12] [keyB=HEX12] [keyA.S=HEX12] [keyB.S=HEX12]
//          [block.N=HEX32]...
//   typeb id=HEX8 [app=HEX8] [protocol=HEX6] [attrib=HEX]
//   other
std::string FormatFieldCard(const FieldCard& card);
std::string ParseFieldCard(std::string_view text, FieldCard* card);

}  // namespace q7msim
