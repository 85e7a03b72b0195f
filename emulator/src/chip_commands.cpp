// The chip family: the chip card (cold and warm reset, deactivation, single
// and chained exchanges), the SAM modules in slots 1 to 5 and synchronous
// memory cards with their verification.
//
// Chained exchanges (T=1) run in both directions: the host sends blocks
// ("F2"/"f2", answered "22"/"52"), then the last block ("F1"/"f1"); the
// card's answer comes back in parts of ChainPartSize bytes, "21"/"51" while
// more follows (fetched with "F3"/"f3") and "20"/"50" for the last part. The
// chip card reports the chain status in place of the status characters, a
// SAM after them.
#include "reader_commands.h"

namespace q7msim {

namespace {

// Refusals of the card itself: wrong verification data, and a card (or
// sector) that is locked or not unlocked.
constexpr char kWrongData[2] = {'A', '4'};
constexpr char kLocked[2] = {'A', '5'};

void Missing(CommandContext& c) {
  c.state.Count(ReaderCounter::kChipErrors);
  c.response.Negative(c.code, c.state.chipSide.missingError.data());
}

bool ChipReachable(const ReaderState& s) {
  return s.slot.position == CardPosition::kInside && s.chipSide.card.present;
}
bool ChipPowered(const ReaderState& s) {
  return ChipReachable(s) && s.slot.chip == ChipContact::kPowered;
}
bool MemoryPowered(const ReaderState& s) {
  return s.slot.position == CardPosition::kInside && s.chipSide.memory.present &&
         s.slot.chip == ChipContact::kMemoryCard;
}

// "G1" cold and "E1" warm reset, parameter "0": the protocol character and
// the answer to reset from offset 5. With an answer-to-reset error set, the
// answer is "N", the code, the error, then the same.
void ResetChip(CommandContext& c) {
  if (!c.HasParams(1) || c.params[0] != '0') return c.RefuseParameters();
  if (!ChipReachable(c.state)) return Missing(c);
  ChipCard& card = c.state.chipSide.card;
  c.state.SetChipContact(ChipContact::kPowered);
  c.state.Count(ReaderCounter::kChipActivations);
  card.chain.Clear();
  card.apps.Reset();
  if (card.atrError.size() == 2) {
    c.response.Negative(c.code, card.atrError.data());
  } else {
    c.Accept();
  }
  c.response.AppendChar(card.protocol);
  c.response.AppendBytes(card.atr.data(), card.atr.size());
}

// "C6": the chip card is switched off and its contacts released.
void DeactivateChip(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  if (c.state.slot.position == CardPosition::kInside && c.state.slot.chip == ChipContact::kPowered)
    c.state.SetChipContact(ChipContact::kReleased);
  c.state.chipSide.card.chain.Clear();
  c.Accept();
}

// One part of a chained answer: the chip card puts the chain status where
// the status characters go, a SAM after them.
void SendPart(CommandContext& c, ChainState& chain, char family, bool afterStatus) {
  const uint8_t* data = nullptr;
  size_t size = 0;
  const bool last = chain.NextPart(c.state.chipSide.partSize, &data, &size);
  const char status[2] = {family, last ? '0' : '1'};
  if (afterStatus) {
    c.Accept();
    c.response.AppendBytes(status, 2);
  } else {
    c.response.Positive(c.code, status);
  }
  c.response.AppendBytes(data, size);
}

// The block commands of a chained exchange, for the chip card (family '2')
// and a SAM (family '5'). `kind` is the code's second character.
void ChainStep(CommandContext& c, ChainState& chain, ApduResponder& apps, bool t0, char family,
               bool afterStatus, const uint8_t* data, size_t size) {
  const char kind = c.code[1];
  if (kind == '3') {
    if (!chain.answering || size != 0) return c.RefuseParameters();
    return SendPart(c, chain, family, afterStatus);
  }
  // A new block starts a new exchange once the last answer was handed out
  // or given up.
  if (chain.answering) chain.Clear();
  if (!chain.Take(data, size)) {
    chain.Clear();
    return c.RefuseParameters();
  }
  if (kind == '2') {
    const char status[2] = {family, '2'};
    if (afterStatus) {
      c.Accept();
      c.response.AppendBytes(status, 2);
    } else {
      c.response.Positive(c.code, status);
    }
    return;
  }
  apps.Respond(chain.input, chain.inputSize, t0, &chain.answer);
  chain.inputSize = 0;
  chain.answerSent = 0;
  chain.answering = true;
  SendPart(c, chain, family, afterStatus);
}

// "F0" + APDU: one exchange, the card's answer from offset 5. "F1" to "F3":
// the chained exchange.
void ChipExchange(CommandContext& c) {
  if (!ChipPowered(c.state)) return Missing(c);
  ChipCard& card = c.state.chipSide.card;
  const bool t0 = card.protocol == '0';
  if (c.code[1] == '0') {
    if (c.paramSize == 0) return c.RefuseParameters();
    card.chain.Clear();
    CardAnswer& answer = card.chain.answer;
    card.apps.Respond(c.params, c.paramSize, t0, &answer);
    c.Accept();
    c.response.AppendBytes(answer.bytes, answer.size);
    return;
  }
  ChainStep(c, card.chain, card.apps, t0, '2', false, c.params, c.paramSize);
}

// The SAM of the slot digit in the first parameter, or null (refused).
SamModule* SamOf(CommandContext& c) {
  if (c.paramSize < 1 || c.params[0] < '1' || c.params[0] > '5') {
    c.RefuseParameters();
    return nullptr;
  }
  SamModule& sam = c.state.chipSide.sams[static_cast<size_t>(c.params[0] - '1')];
  if (!sam.present) {
    Missing(c);
    return nullptr;
  }
  return &sam;
}

// "e0" + slot: the SAM's status characters at offset 5.
void SamStatus(CommandContext& c) {
  if (c.paramSize != 1) return c.RefuseParameters();
  SamModule* sam = SamOf(c);
  if (sam == nullptr) return;
  c.Accept();
  c.response.AppendBytes(sam->status.data(), 2);
}

// "e2" + slot: the SAM is switched off.
void SamDeactivate(CommandContext& c) {
  if (c.paramSize != 1) return c.RefuseParameters();
  SamModule* sam = SamOf(c);
  if (sam == nullptr) return;
  sam->active = false;
  sam->chain.Clear();
  c.Accept();
}

// "e3" cold and "e4" warm reset, + slot + "0": status characters at 5, the
// protocol character at 7 and the answer to reset from 8.
void SamReset(CommandContext& c) {
  if (c.paramSize != 2 || c.params[1] != '0') return c.RefuseParameters();
  SamModule* sam = SamOf(c);
  if (sam == nullptr) return;
  sam->active = true;
  sam->chain.Clear();
  c.state.chipSide.samApps.Reset();
  c.state.Count(ReaderCounter::kChipActivations);
  c.Accept();
  c.response.AppendBytes(sam->status.data(), 2);
  c.response.AppendChar(sam->protocol);
  c.response.AppendBytes(sam->atr.data(), sam->atr.size());
}

// "f0" + slot + APDU: the answer from offset 7. "f1" to "f3": chained.
void SamExchange(CommandContext& c) {
  SamModule* sam = SamOf(c);
  if (sam == nullptr) return;
  if (!sam->active) return Missing(c);
  ApduResponder& apps = c.state.chipSide.samApps;
  const bool t0 = sam->protocol == '0';
  if (c.code[1] == '0') {
    if (c.paramSize < 2) return c.RefuseParameters();
    sam->chain.Clear();
    apps.Respond(c.params + 1, c.paramSize - 1, t0, &sam->chain.answer);
    c.Accept();
    c.response.AppendBytes("50", 2);
    c.response.AppendBytes(sam->chain.answer.bytes, sam->chain.answer.size);
    return;
  }
  ChainStep(c, sam->chain, apps, t0, '5', true, c.params + 1, c.paramSize - 1);
}

// "m5" + type digit: the memory card of that type is powered; four bytes of
// its answer to reset from offset 5.
void MemoryActivate(CommandContext& c) {
  if (!c.HasParams(1) || c.params[0] < '0' || c.params[0] > '3') return c.RefuseParameters();
  MemoryCard& m = c.state.chipSide.memory;
  const auto type = static_cast<uint8_t>(c.params[0] - '0');
  if (c.state.slot.position != CardPosition::kInside || !m.present || m.type != type)
    return Missing(c);
  c.state.SetChipContact(ChipContact::kMemoryCard, type);
  c.state.Count(ReaderCounter::kChipActivations);
  m.verified = false;
  static const uint8_t kAnswers[2][4] = {{0xA2, 0x13, 0x10, 0x91}, {0x92, 0x23, 0x10, 0x91}};
  c.Accept();
  c.response.AppendBytes(kAnswers[type >= 2 ? 1 : 0], 4);
}

// "m6": the memory card is switched off.
void MemoryDeactivate(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  if (c.state.slot.position == CardPosition::kInside &&
      c.state.slot.chip == ChipContact::kMemoryCard)
    c.state.SetChipContact(ChipContact::kReleased);
  c.state.chipSide.memory.verified = false;
  c.Accept();
}

// "m7" + operation: 30 AH AL LEN reads LEN bytes (0: 256) from address
// AH AL; 38 AH AL DATA writes (after a verification where the type has
// one); 31 reads the verification tries left.
void MemoryExchange(CommandContext& c) {
  if (!MemoryPowered(c.state)) return Missing(c);
  MemoryCard& m = c.state.chipSide.memory;
  const uint8_t* p = c.params;
  const size_t n = c.paramSize;
  if (n == 1 && p[0] == 0x31) {
    c.Accept();
    return c.response.AppendChar(static_cast<char>(m.triesLeft));
  }
  if (n < 3 || (p[0] != 0x30 && p[0] != 0x38)) return c.RefuseParameters();
  const size_t address = static_cast<size_t>(p[1]) << 8 | p[2];
  if (p[0] == 0x30) {
    if (n != 4) return c.RefuseParameters();
    const size_t count = p[3] == 0 ? 256 : p[3];
    if (address + count > m.data.size()) return c.RefuseParameters();
    c.Accept();
    return c.response.AppendBytes(m.data.data() + address, count);
  }
  const size_t count = n - 3;
  if (count == 0 || address + count > m.data.size()) return c.RefuseParameters();
  if (MemoryCard::PscSizeOf(m.type) != 0 && (!m.verified || m.Locked())) {
    c.state.Count(ReaderCounter::kChipErrors);
    return c.response.Negative(c.code, kLocked);
  }
  std::copy(p + 3, p + n, m.data.begin() + static_cast<std::ptrdiff_t>(address));
  c.Accept();
}

// "m8" + verification data: right data unlocks the card and restores its
// tries; wrong data costs a try, and a card without tries is locked for good.
void MemoryVerify(CommandContext& c) {
  if (!MemoryPowered(c.state)) return Missing(c);
  MemoryCard& m = c.state.chipSide.memory;
  const size_t pscSize = MemoryCard::PscSizeOf(m.type);
  if (pscSize == 0 || c.paramSize != pscSize) return c.RefuseParameters();
  if (m.Locked()) {
    c.state.Count(ReaderCounter::kChipErrors);
    return c.response.Negative(c.code, kLocked);
  }
  if (std::equal(m.psc.begin(), m.psc.end(), c.params)) {
    m.triesLeft = MemoryCard::TriesOf(m.type);
    m.verified = true;
    return c.Accept();
  }
  --m.triesLeft;
  m.verified = false;
  c.state.Count(ReaderCounter::kChipErrors);
  c.response.Negative(c.code, m.Locked() ? kLocked : kWrongData);
}

}  // namespace

bool RegisterChipCommands(CommandDispatcher* d) {
  struct Entry {
    const char* code;
    CommandHandler handler;
  };
  static const Entry kEntries[] = {
      {"G1", ResetChip},      {"E1", ResetChip},        {"C6", DeactivateChip},
      {"F0", ChipExchange},   {"F1", ChipExchange},     {"F2", ChipExchange},
      {"F3", ChipExchange},   {"e0", SamStatus},        {"e2", SamDeactivate},
      {"e3", SamReset},       {"e4", SamReset},         {"f0", SamExchange},
      {"f1", SamExchange},    {"f2", SamExchange},      {"f3", SamExchange},
      {"m5", MemoryActivate}, {"m6", MemoryDeactivate}, {"m7", MemoryExchange},
      {"m8", MemoryVerify},
  };
  bool ok = true;
  for (const Entry& e : kEntries) ok = d->Register(e.code, e.handler) && ok;
  return ok;
}

}  // namespace q7msim
