// The contactless family: the field, the card record it fills, Mifare
// authentication, block read and write, and the selection of and chained
// exchange with Type B cards. Behind the command head most commands carry
// binary bytes; each is built in a fixed buffer on the stack.
#include <cstdio>
#include <cstring>

#include "chip_reply.h"
#include "handlers.h"

namespace q7m::rdax {

namespace {

// The Type B exchange sends input blocks of up to 360 bytes behind a six-byte
// head ("Cn3", the block kind, the 16-bit length).
constexpr uint32_t kTypeBBlock = 360;
constexpr uint32_t kTypeBHead = 6;
constexpr uint32_t kTypeBCommandCapacity = kTypeBHead + RDAX_CHIP_DATA_MAX;
// Input data a Type B selection may carry.
constexpr uint32_t kSelectDataMax = 256;
// The card number arguments go no higher.
constexpr uint32_t kCardNumberMax = 100;
constexpr uint32_t kMifareSectorMax = 16;
constexpr uint32_t kMifareBlockMax = 64;
constexpr uint32_t kMifareBlockSize = 16;
constexpr uint32_t kMifareKeySize = 6;

// Activation reply: three two-digit counts, then one 17-byte block per card.
constexpr uint32_t kCountsOffset = 7;
constexpr uint32_t kBlocksOffset = 13;
constexpr uint32_t kCardBlockSize = 17;

enum ReaderCardKind : uint8_t { kBlockMifare = 1, kBlockTypeB = 2, kBlockOther = 4 };

enum TypeBOperation : uint8_t { kSelect = 0x00, kLastBlock = 0x02, kBlock = 0x03, kFetch = 0x04 };
enum MifareOperation : uint8_t { kAuthenticate = 0x00, kRead = 0x01, kWrite = 0x02 };

constexpr ChainForm kTypeBChain{5, 9, true, {'7', '1'}, {'7', '0'}};

// The 8-bit arguments packed into parameter 2 (card number first).
uint8_t PackedByte(const RdaxRequest& request, size_t index) {
  uint8_t bytes[sizeof(uintptr_t)];
  std::memcpy(bytes, &request.param[1], sizeof bytes);
  return bytes[index];
}

// The card entries an activation wrote: as many as the counts add up to, and
// never more than the record holds.
uint32_t EntriesInUse(const RdaxContactlessCards& cards) {
  const uint32_t sum = uint32_t{cards.mifareCount} + cards.typeBCount + cards.otherCount;
  return sum < RDAX_CONTACTLESS_MAX_CARDS ? sum : RDAX_CONTACTLESS_MAX_CARDS;
}

// The entry of `type` whose rank among the entries of that type is `number`.
const RDAX_CONTACTLESS_CARD* FindCard(const RdaxContactlessCards& cards, uint32_t type,
                                      uint32_t number) {
  uint32_t rank = 0;
  const uint32_t used = EntriesInUse(cards);
  for (uint32_t i = 0; i < used; ++i) {
    if (cards.card[i].type != type) continue;
    if (rank == number) return &cards.card[i];
    ++rank;
  }
  return nullptr;
}

uint32_t Exchanged(const RDAX* handle, Exchange& exchange, const void* command, uint32_t length,
                   ExchangeUse use = ExchangeUse::kOrdinary) {
  const uint32_t r = exchange.Run(handle, static_cast<const char*>(command), length, use);
  return r != RDAX_OK ? r : exchange.Check();
}

void PutLength(uint8_t* at, uint32_t length) {
  at[0] = static_cast<uint8_t>(length >> 8);
  at[1] = static_cast<uint8_t>(length);
}

// Every value limit of a Type B attribute record.
bool AttributeValid(const RDAX_TYPEB_ATTRIBUTE& a) {
  return a.mark == RDAX_TYPEB_ATTRIBUTE_MARK && a.tr0 <= 2 && a.tr1 <= 2 &&
         a.maxFrameSizeCode <= 8 && a.bitRateCode1 <= 3 && a.bitRateCode2 <= 3 &&
         a.protocolType == 1 && a.cardIdentifier == 15;
}

}  // namespace

// Operation 43: parameter 1 the card kinds to look for, 2 the time in
// seconds, 3 the card record.
uint32_t HandleActivateContactless(const RdaxRequest& request) {
  auto* cards = reinterpret_cast<RdaxContactlessCards*>(request.param[2]);
  if (cards == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uintptr_t type = request.param[0];
  const uintptr_t seconds = request.param[1];
  const char* flags = type == RDAX_CONTACTLESS_MIFARE  ? "100"
                      : type == RDAX_CONTACTLESS_TYPEB ? "010"
                      : type == RDAX_CONTACTLESS_BOTH  ? "110"
                                                       : nullptr;
  if (cards->mark != RDAX_CONTACTLESS_MARK || seconds >= 100 || flags == nullptr)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  char command[9];
  std::snprintf(command, sizeof command, "Cn0%02u%s", static_cast<unsigned>(seconds), flags);
  Exchange exchange;
  const uint32_t r = exchange.Run(request.device(), command, 8, ExchangeUse::kOrdinary,
                                  static_cast<uint32_t>(seconds));
  if (r != RDAX_OK) return r;
  const uint32_t evaluation = exchange.Check();
  if (evaluation != RDAX_OK) return evaluation;

  const ResponseView reply = exchange.response();
  const uint32_t mifare = reply.Decimal(kCountsOffset, 2).value_or(0);
  const uint32_t typeB = reply.Decimal(kCountsOffset + 2, 2).value_or(0);
  const uint32_t other = reply.Decimal(kCountsOffset + 4, 2).value_or(0);
  cards->mifareCount = static_cast<uint8_t>(mifare);
  cards->typeBCount = static_cast<uint8_t>(typeB);
  cards->otherCount = static_cast<uint8_t>(other);
  // Only blocks that arrived whole, and only as many as the record holds.
  const uint32_t blocks = mifare + typeB + other;
  for (uint32_t i = 0; i < blocks && i < RDAX_CONTACTLESS_MAX_CARDS; ++i) {
    const auto block = reply.Field(kBlocksOffset + i * kCardBlockSize, kCardBlockSize);
    if (!block) break;
    const auto* b = reinterpret_cast<const uint8_t*>(block->data());
    RDAX_CONTACTLESS_CARD& entry = cards->card[i];
    switch (b[0]) {
      case kBlockMifare:
        entry.type = RDAX_CARD_MIFARE;
        std::memcpy(entry.id, b + 5, 4);
        break;
      case kBlockTypeB:
        entry.type = RDAX_CARD_TYPEB;
        std::memcpy(entry.id, b + 1, 4);
        std::memcpy(entry.applicationData, b + 5, 4);
        std::memcpy(entry.protocolInfo, b + 14, 3);
        break;
      case kBlockOther:
        entry.type = RDAX_CARD_OTHER;
        break;
      default:
        break;
    }
  }
  return RDAX_OK;
}

// Operation 42.
uint32_t HandleDeactivateContactless(const RdaxRequest& request) {
  Exchange exchange;
  return Exchanged(request.device(), exchange, "Cn1", 3);
}

// Operation 44: parameter 1 the card record, 2 the card number, key type and
// sector (one byte each), 3 the six key bytes.
uint32_t HandleMifareAuthenticate(const RdaxRequest& request) {
  const auto* cards = reinterpret_cast<const RdaxContactlessCards*>(request.param[0]);
  const auto* key = reinterpret_cast<const uint8_t*>(request.param[2]);
  if (cards == nullptr || key == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uint8_t number = PackedByte(request, 0);
  const uint8_t keyType = PackedByte(request, 1);
  const uint8_t sector = PackedByte(request, 2);
  if (number > kCardNumberMax || keyType > RDAX_MIFARE_KEY_B || sector > kMifareSectorMax ||
      cards->mark != RDAX_CONTACTLESS_MARK || cards->mifareCount == 0)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  const RDAX_CONTACTLESS_CARD* card = FindCard(*cards, RDAX_CARD_MIFARE, number);
  if (card == nullptr) return StoreArgumentError(request, RDAX_E_PARAMETER);
  uint8_t command[19] = {'C', 'n', '2', kAuthenticate, 0x00};
  std::memcpy(command + 5, card->id, 4);
  command[9] = keyType;
  std::memcpy(command + 10, key, kMifareKeySize);
  command[18] = sector;
  Exchange exchange;
  return Exchanged(request.device(), exchange, command, sizeof command);
}

// Operation 45: parameter 1 the card record, 2 the card number and block
// address (one byte each), 3 the 16-byte block. The reader reads from the
// card last authenticated.
uint32_t HandleMifareRead(const RdaxRequest& request) {
  const auto* cards = reinterpret_cast<const RdaxContactlessCards*>(request.param[0]);
  auto* block = reinterpret_cast<uint8_t*>(request.param[2]);
  if (cards == nullptr || block == nullptr)
    return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uint8_t number = PackedByte(request, 0);
  const uint8_t address = PackedByte(request, 1);
  if (number > kCardNumberMax || address > kMifareBlockMax)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  const uint8_t command[5] = {'C', 'n', '2', kRead, address};
  Exchange exchange;
  const uint32_t r = Exchanged(request.device(), exchange, command, sizeof command);
  if (r != RDAX_OK) return r;
  const auto data = exchange.response().Field(7, kMifareBlockSize);
  // An accepted read that brings no whole block is no read.
  if (!data) return RDAX_E_FAULTY_REPLY;
  std::memcpy(block, data->data(), kMifareBlockSize);
  return RDAX_OK;
}

// Operation 46: as the read; the card number must name a Mifare card.
uint32_t HandleMifareWrite(const RdaxRequest& request) {
  const auto* cards = reinterpret_cast<const RdaxContactlessCards*>(request.param[0]);
  const auto* block = reinterpret_cast<const uint8_t*>(request.param[2]);
  if (cards == nullptr || block == nullptr)
    return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uint8_t number = PackedByte(request, 0);
  const uint8_t address = PackedByte(request, 1);
  if (number > kCardNumberMax || address > kMifareBlockMax)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  if (FindCard(*cards, RDAX_CARD_MIFARE, number) == nullptr)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  // The last byte has no meaning to the reader; it is sent as zero.
  uint8_t command[22] = {'C', 'n', '2', kWrite, address};
  std::memcpy(command + 5, block, kMifareBlockSize);
  Exchange exchange;
  return Exchanged(request.device(), exchange, command, sizeof command);
}

// Operation 47: parameter 1 the card record, 2 the card number, 3 the
// attribute record or null, 4 the input data or null, 5 the output.
uint32_t HandleTypeBAttribute(const RdaxRequest& request) {
  const auto* cards = reinterpret_cast<const RdaxContactlessCards*>(request.param[0]);
  const auto* attribute = reinterpret_cast<const RDAX_TYPEB_ATTRIBUTE*>(request.param[2]);
  const auto* input = reinterpret_cast<const RdaxChipData*>(request.param[3]);
  auto* outputRecord = reinterpret_cast<RdaxChipData*>(request.param[4]);
  if (cards == nullptr || outputRecord == nullptr)
    return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const auto number = static_cast<uint32_t>(request.param[1] & 0xFF);
  if (number > kCardNumberMax || cards->mark != RDAX_CONTACTLESS_MARK || cards->typeBCount == 0)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  // The input is read before the output is touched: a caller may pass one
  // record as both.
  const uint32_t inputLength = input != nullptr ? input->length : 0;
  outputRecord->length = 0;
  const RDAX_CONTACTLESS_CARD* card = FindCard(*cards, RDAX_CARD_TYPEB, number);
  if (card == nullptr) return StoreArgumentError(request, RDAX_E_PARAMETER);
  if (attribute != nullptr && !AttributeValid(*attribute))
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  if (inputLength > kSelectDataMax) return StoreArgumentError(request, RDAX_E_PARAMETER);

  uint8_t command[18 + kSelectDataMax] = {'C', 'n', '3', kSelect};
  std::memcpy(command + 6, card->id, 4);
  std::memcpy(command + 10, card->applicationData, 4);
  uint32_t length = 14;
  if (attribute != nullptr || input != nullptr) {
    if (attribute != nullptr) {
      command[14] =
          static_cast<uint8_t>(attribute->tr0 * 64 + attribute->tr1 * 16 +
                               (attribute->eofRequired ? 0 : 8) + (attribute->sofRequired ? 0 : 4));
      command[15] =
          static_cast<uint8_t>(attribute->bitRateCode2 * 64 + attribute->bitRateCode1 * 16 +
                               attribute->maxFrameSizeCode);
      command[16] = 1;
      command[17] = 15;
    } else {
      command[14] = 0x00;
      command[15] = 0x80;
      command[16] = 0x01;
      command[17] = 0x00;
    }
    if (input != nullptr) std::memcpy(command + 18, input->data, inputLength);
    length = 18 + inputLength;
  }
  PutLength(command + 4, length - 6);
  Exchange exchange;
  const uint32_t r = Exchanged(request.device(), exchange, command, length);
  if (r != RDAX_OK) return r;
  ChipOutput output(outputRecord);
  output.Append(exchange.response().Rest(9));
  return RDAX_OK;
}

// Operation 49: parameter 1 the card record, 2 the card number, 3 the input,
// 4 the output.
uint32_t HandleTypeBCommunication(const RdaxRequest& request) {
  const auto* cards = reinterpret_cast<const RdaxContactlessCards*>(request.param[0]);
  const auto* input = reinterpret_cast<const RdaxChipData*>(request.param[2]);
  auto* outputRecord = reinterpret_cast<RdaxChipData*>(request.param[3]);
  if (cards == nullptr || input == nullptr || outputRecord == nullptr)
    return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const auto number = static_cast<uint32_t>(request.param[1] & 0xFF);
  if (number > kCardNumberMax || cards->mark != RDAX_CONTACTLESS_MARK || cards->typeBCount == 0)
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  const uint32_t inputLength = input->length;
  outputRecord->length = 0;
  if (inputLength == 0 || inputLength > RDAX_CHIP_DATA_MAX)
    return StoreArgumentError(request, RDAX_E_PARAMETER);

  uint8_t command[kTypeBCommandCapacity] = {'C', 'n', '3'};
  const uint8_t* next = input->data;
  uint32_t remaining = inputLength;
  Exchange exchange;
  while (remaining > kTypeBBlock) {
    command[3] = kBlock;
    PutLength(command + 4, kTypeBBlock);
    std::memcpy(command + kTypeBHead, next, kTypeBBlock);
    const uint32_t r = Exchanged(request.device(), exchange, command, kTypeBHead + kTypeBBlock,
                                 ExchangeUse::kTypeBData);
    if (r != RDAX_OK) return r;
    next += kTypeBBlock;
    remaining -= kTypeBBlock;
    if (exchange.response().Field(5, 2) != "72") break;
  }
  command[3] = kLastBlock;
  PutLength(command + 4, remaining);
  std::memmove(command + kTypeBHead, next, remaining);
  const uint32_t r = exchange.Run(request.device(), reinterpret_cast<const char*>(command),
                                  kTypeBHead + remaining, ExchangeUse::kTypeBData);
  if (r != RDAX_OK) return r;
  const uint32_t evaluation = exchange.Check();
  if (evaluation != RDAX_OK) return evaluation;
  if (exchange.response().At(5) != '7') return RDAX_OK;
  ChipOutput output(outputRecord);
  const char fetch[6] = {'C', 'n', '3', static_cast<char>(kFetch), 0x00, 0x00};
  return ReadReplyChain(request.device(), exchange, kTypeBChain, fetch, sizeof fetch,
                        ExchangeUse::kTypeBData, output);
}

}  // namespace q7m::rdax
