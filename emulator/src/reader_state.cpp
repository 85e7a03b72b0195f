#include "reader_state.h"

namespace q7msim {

ReaderState::ReaderState()
    : model("Q7M-SIM"),
      serial("000001"),
      mask{"Q7M-MASK", "01", 0x1A2B3C},
      loader{"Q7M-LOADER", "01", 0x000000},
      firmware{"Q7M-FW", "10", 0x12345678},
      icFirmware{"Q7M-ICFW", "02", 0x0000ABCD},
      samFirmware{"Q7M-SAMFW", "01", 0x00001234} {
  sensors = {50, 50, 50, 50};
}

std::array<char, 2> ReaderState::StatusCharacters() const {
  if (slot.statusOverridden) return slot.statusOverride;
  switch (slot.position) {
    case CardPosition::kNone:
      return {'0', '0'};
    case CardPosition::kGate:
      return {'0', '1'};
    case CardPosition::kInside:
      break;
  }
  switch (slot.chip) {
    case ChipContact::kReleased:
      return {'0', '2'};
    case ChipContact::kLowered:
      return {'1', '0'};
    case ChipContact::kPowered:
      return {'1', '1'};
    case ChipContact::kMemoryCard:
      return {'2', static_cast<char>('0' + slot.memoryCardType % 4)};
  }
  return {'0', '0'};
}

void ReaderState::MoveCard(CardPosition position) {
  const CardPosition from = slot.position;
  if (slot.position == CardPosition::kNone && position != CardPosition::kNone)
    Count(ReaderCounter::kInsertions);
  slot.position = position;
  if (position != CardPosition::kInside) slot.chip = ChipContact::kReleased;
  slot.statusOverridden = false;
  CardMoved(*this, from);
  if (onCardMoved && position != from) onCardMoved();
}

void ReaderState::SetChipContact(ChipContact chip, uint8_t memoryCardType) {
  slot.chip = chip;
  slot.memoryCardType = static_cast<uint8_t>(memoryCardType % 4);
  slot.statusOverridden = false;
}

void ReaderState::Count(ReaderCounter counter) {
  uint32_t& value = counters[static_cast<size_t>(counter)];
  if (value < kCounterMax) ++value;
}

}  // namespace q7msim
