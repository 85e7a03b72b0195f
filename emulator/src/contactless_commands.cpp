// The contactless family: the field ("n0" on and looking for cards, "n1"
// off), Mifare authentication, block read and write ("n2"), and the Type B
// selection and chained exchange ("n3"). Behind the command head these
// commands carry binary bytes.
//
// The Type B exchange is chained in both directions: blocks (0x03) are
// answered "72", the last block (0x02) with the first part of the card's
// answer, "71" while more follows (fetched with 0x04) and "70" for the last
// part; every part carries its 16-bit big-endian length before its data.
#include <cstring>

#include "reader_commands.h"

namespace q7msim {

namespace {

constexpr char kWrongKey[2] = {'A', '4'};
constexpr char kNotAuthenticated[2] = {'A', '5'};

enum : uint8_t { kBlockMifare = 1, kBlockTypeB = 2, kBlockOther = 4 };
enum : uint8_t { kAuthenticate = 0x00, kRead = 0x01, kWrite = 0x02 };
enum : uint8_t { kSelect = 0x00, kLastBlock = 0x02, kBlock = 0x03, kFetch = 0x04 };

void Missing(CommandContext& c) {
  c.state.Count(ReaderCounter::kContactlessErrors);
  c.response.Negative(c.code, c.state.chipSide.missingError.data());
}

void Refused(CommandContext& c, const char* error) {
  c.state.Count(ReaderCounter::kContactlessErrors);
  c.response.Negative(c.code, error);
}

void AppendLength(ResponseBuffer& r, size_t length) {
  r.AppendChar(static_cast<char>(length >> 8));
  r.AppendChar(static_cast<char>(length & 0xFF));
}

// "n0" + time (2 digits) + three flags (Mifare, Type B, unused): the field
// goes on; the counts of Mifare, Type B and other cards at 7, 9 and 11 and a
// 17-byte block per card from 13. Other cards are reported whatever is asked.
void FieldOn(CommandContext& c) {
  const uint8_t* p = c.params;
  if (!c.HasParams(5) || p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9') {
    return c.RefuseParameters();
  }
  for (int i = 2; i < 5; ++i) {
    if (p[i] != '0' && p[i] != '1') return c.RefuseParameters();
  }
  ContactlessSide& side = c.state.contactlessSide;
  side.fieldOn = true;
  const bool wantMifare = p[2] == '1';
  const bool wantTypeB = p[3] == '1';
  auto reported = [&](const FieldCard& card) {
    return (card.kind == FieldCardKind::kMifare && wantMifare) ||
           (card.kind == FieldCardKind::kTypeB && wantTypeB) || card.kind == FieldCardKind::kOther;
  };
  unsigned counts[3] = {0, 0, 0};
  for (const FieldCard& card : side.cards) {
    if (!reported(card)) continue;
    ++counts[card.kind == FieldCardKind::kMifare ? 0 : card.kind == FieldCardKind::kTypeB ? 1 : 2];
  }
  c.Accept();
  c.response.AppendBytes("00", 2);
  for (unsigned count : counts) c.response.AppendDecimal(count, 2);
  for (const FieldCard& card : side.cards) {
    if (!reported(card)) continue;
    uint8_t block[17] = {};
    if (card.kind == FieldCardKind::kMifare) {
      block[0] = kBlockMifare;
      std::memcpy(block + 5, card.id.data(), 4);
    } else if (card.kind == FieldCardKind::kTypeB) {
      block[0] = kBlockTypeB;
      std::memcpy(block + 1, card.id.data(), 4);
      std::memcpy(block + 5, card.application.data(), 4);
      std::memcpy(block + 14, card.protocol.data(), 3);
    } else {
      block[0] = kBlockOther;
    }
    c.response.AppendBytes(block, sizeof block);
  }
}

// "n1": the field goes off; every authentication and selection ends.
void FieldOff(CommandContext& c) {
  if (!c.HasParams(0)) return c.RefuseParameters();
  ContactlessSide& side = c.state.contactlessSide;
  side.fieldOn = false;
  side.Forget(-1);
  c.Accept();
}

// The authenticated Mifare card if `address` lies in its sector.
FieldCard* AuthenticatedFor(ContactlessSide& side, uint8_t address) {
  if (side.authenticatedSlot < 0) return nullptr;
  FieldCard& card = side.cards[static_cast<size_t>(side.authenticatedSlot)];
  if (card.kind != FieldCardKind::kMifare || address / 4 != side.authenticatedSector)
    return nullptr;
  return &card;
}

// "n2" + 0x00 0x00 UID(4) keytype key(6) 0x00 0x00 sector: authenticate;
// "n2" + 0x01 address: the 16 bytes of a block at offset 7;
// "n2" + 0x02 address data(16) x: write a block.
void Mifare(CommandContext& c) {
  ContactlessSide& side = c.state.contactlessSide;
  if (c.paramSize < 2) return c.RefuseParameters();
  if (!side.fieldOn) return Missing(c);
  const uint8_t* p = c.params;
  switch (p[0]) {
    case kAuthenticate: {
      if (c.paramSize != 16 || p[6] > 1 || p[15] >= kMifareSectors) return c.RefuseParameters();
      const int slot = side.Find(FieldCardKind::kMifare, p + 2);
      if (slot < 0) return Missing(c);
      const FieldCard& card = side.cards[static_cast<size_t>(slot)];
      const auto& key = p[6] == 0 ? card.keyA[p[15]] : card.keyB[p[15]];
      side.authenticatedSlot = -1;
      if (std::memcmp(key.data(), p + 7, key.size()) != 0) return Refused(c, kWrongKey);
      side.authenticatedSlot = slot;
      side.authenticatedSector = p[15];
      return c.Accept();
    }
    case kRead: {
      if (c.paramSize != 2 || p[1] >= kMifareBlocks) return c.RefuseParameters();
      FieldCard* card = AuthenticatedFor(side, p[1]);
      if (card == nullptr) return Refused(c, kNotAuthenticated);
      c.Accept();
      c.response.AppendBytes("00", 2);
      return c.response.AppendBytes(card->blocks[p[1]].data(), kMifareBlockSize);
    }
    case kWrite: {
      if (c.paramSize != 19 || p[1] >= kMifareBlocks) return c.RefuseParameters();
      FieldCard* card = AuthenticatedFor(side, p[1]);
      // Block 0 holds the manufacturer's data and cannot be written.
      if (card == nullptr || p[1] == 0) return Refused(c, kNotAuthenticated);
      std::memcpy(card->blocks[p[1]].data(), p + 2, kMifareBlockSize);
      if (p[1] % 4 == 3) {
        // A sector trailer carries the sector's keys.
        const size_t sector = p[1] / 4;
        std::memcpy(card->keyA[sector].data(), p + 2, 6);
        std::memcpy(card->keyB[sector].data(), p + 12, 6);
      }
      return c.Accept();
    }
    default:
      return c.RefuseParameters();
  }
}

// One part of the Type B card's answer: chain status, length, data.
void SendTypeBPart(CommandContext& c, ChainState& chain) {
  const uint8_t* data = nullptr;
  size_t size = 0;
  const bool last = chain.NextPart(c.state.chipSide.partSize, &data, &size);
  c.Accept();
  c.response.AppendBytes(last ? "70" : "71", 2);
  AppendLength(c.response, size);
  c.response.AppendBytes(data, size);
}

// "n3" + operation + 16-bit big-endian length + that many bytes:
// 0x00 select (ID, application data, optional parameters and data; the
// card's answer to the selection from offset 9), 0x03 block, 0x02 last
// block, 0x04 fetch the next part.
void TypeB(CommandContext& c) {
  ContactlessSide& side = c.state.contactlessSide;
  if (c.paramSize < 3) return c.RefuseParameters();
  const uint8_t* p = c.params;
  const size_t length = static_cast<size_t>(p[1]) << 8 | p[2];
  const uint8_t* data = p + 3;
  if (length != c.paramSize - 3) return c.RefuseParameters();
  if (!side.fieldOn) return Missing(c);
  ChainState& chain = side.chain;
  switch (p[0]) {
    case kSelect: {
      if (length < 8) return c.RefuseParameters();
      const int slot = side.Find(FieldCardKind::kTypeB, data);
      if (slot < 0) return Missing(c);
      const FieldCard& card = side.cards[static_cast<size_t>(slot)];
      if (std::memcmp(card.application.data(), data + 4, 4) != 0) return Missing(c);
      side.selectedSlot = slot;
      chain.Clear();
      side.typeBApps.Reset();
      c.Accept();
      c.response.AppendBytes("70", 2);
      AppendLength(c.response, card.attributes.size());
      return c.response.AppendBytes(card.attributes.data(), card.attributes.size());
    }
    case kBlock:
    case kLastBlock: {
      if (side.selectedSlot < 0) return Missing(c);
      if (chain.answering) chain.Clear();
      if (!chain.Take(data, length)) {
        chain.Clear();
        return c.RefuseParameters();
      }
      if (p[0] == kBlock) {
        c.Accept();
        c.response.AppendBytes("72", 2);
        return AppendLength(c.response, 0);
      }
      side.typeBApps.Respond(chain.input, chain.inputSize, false, &chain.answer);
      chain.inputSize = 0;
      chain.answerSent = 0;
      chain.answering = true;
      return SendTypeBPart(c, chain);
    }
    case kFetch:
      if (length != 0 || !chain.answering) return c.RefuseParameters();
      return SendTypeBPart(c, chain);
    default:
      return c.RefuseParameters();
  }
}

}  // namespace

bool RegisterContactlessCommands(CommandDispatcher* d) {
  bool ok = d->Register("n0", FieldOn);
  ok = d->Register("n1", FieldOff) && ok;
  ok = d->Register("n2", Mifare) && ok;
  ok = d->Register("n3", TypeB) && ok;
  return ok;
}

}  // namespace q7msim
