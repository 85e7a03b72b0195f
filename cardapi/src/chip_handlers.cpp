// The chip family: the contact chip card (ICC), the security modules in the
// SAM slots 1 to 5 and synchronous memory cards. Every command is built in a
// fixed buffer on the stack; card data travels as raw bytes behind the
// command head.
#include <cstring>

#include "chip_reply.h"
#include "handlers.h"

namespace q7m::rdax {

namespace {

// The largest command: a 2048-byte APDU behind the four-byte SAM head.
constexpr uint32_t kCommandCapacity = 4 + RDAX_CHIP_DATA_MAX;
// Blocks of a chained (T=1) exchange carry at most this many input bytes.
constexpr uint32_t kChainBlock = 353;

constexpr ChainForm kIccChain{3, 5, false, {'2', '1'}, {'2', '0'}};
constexpr ChainForm kSamChain{5, 7, false, {'5', '1'}, {'5', '0'}};

bool IsResetOption(uintptr_t reset) {
  return reset == RDAX_RESET_COLD || reset == RDAX_RESET_WARM;
}
bool IsSamNumber(uintptr_t sam) {
  return sam >= RDAX_SAM_FIRST && sam <= RDAX_SAM_LAST;
}
bool IsProtocol(int32_t kind) {
  return kind == RDAX_CHIPIO_PROTOCOL_T0 || kind == RDAX_CHIPIO_PROTOCOL_T1;
}
char Digit(uintptr_t value) {
  return static_cast<char>('0' + value % 10);
}

int32_t ProtocolOf(std::optional<char> c) {
  if (c == '0') return RDAX_CHIPIO_PROTOCOL_T0;
  if (c == '1') return RDAX_CHIPIO_PROTOCOL_T1;
  return RDAX_CHIPIO_PROTOCOL_UNKNOWN;
}

// A command head and data in one stack buffer.
class Command {
 public:
  explicit Command(std::string_view head) { Add(head.data(), head.size()); }
  Command& Add(const void* bytes, size_t count) {
    std::memcpy(bytes_ + length_, bytes, count);
    length_ += static_cast<uint32_t>(count);
    return *this;
  }
  Command& Add(char c) { return Add(&c, 1); }
  const char* data() const { return bytes_; }
  uint32_t length() const { return length_; }

 private:
  char bytes_[kCommandCapacity];
  uint32_t length_ = 0;
};

// Sends a command and evaluates the reply: 0 when it was accepted.
uint32_t RunChecked(const RDAX* handle, Exchange& exchange, const Command& command) {
  const uint32_t r = exchange.Run(handle, command.data(), command.length());
  return r != RDAX_OK ? r : exchange.Check();
}

// The T=1 exchange of the chip card and of a SAM: input blocks of 353 bytes
// while the reader asks for more, the last block, then the reply parts.
// `head` is the block command's head; its third character (the code's second)
// becomes "2" for a block, "1" for the last one and "3" for a fetch.
uint32_t ChainedExchange(const RDAX* handle, std::string_view head, const ChainForm& form,
                         const RdaxChipData& input, uint32_t inputLength, ChipOutput& output,
                         int32_t outputKind) {
  Exchange exchange;
  const char* next = reinterpret_cast<const char*>(input.data);
  uint32_t remaining = inputLength;
  char blockHead[4];
  std::memcpy(blockHead, head.data(), head.size());
  const char accepted[2] = {form.more[0], '2'};  // "22" or "52": send the next block
  while (remaining > kChainBlock) {
    blockHead[2] = '2';
    Command block({blockHead, head.size()});
    block.Add(next, kChainBlock);
    const uint32_t r = RunChecked(handle, exchange, block);
    if (r != RDAX_OK) return r;
    next += kChainBlock;
    remaining -= kChainBlock;
    const auto status = exchange.response().Field(form.statusOffset, 2);
    if (!status || (*status)[0] != accepted[0] || (*status)[1] != accepted[1]) break;
  }
  blockHead[2] = '1';
  Command last({blockHead, head.size()});
  last.Add(next, remaining);
  const uint32_t r = exchange.Run(handle, last.data(), last.length());
  if (r != RDAX_OK) return r;
  output.Start(outputKind);
  blockHead[2] = '3';
  return ReadReplyChain(handle, exchange, form, blockHead, static_cast<uint32_t>(head.size()),
                        ExchangeUse::kOrdinary, output);
}

}  // namespace

// Operation 10: parameter 1 the reset option, 2 the output record.
uint32_t HandleActivateIcc(const RdaxRequest& request) {
  auto* answer = reinterpret_cast<RdaxChipData*>(request.param[1]);
  if (answer == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uintptr_t reset = request.param[0];
  if (!IsResetOption(reset)) return StoreArgumentError(request, RDAX_E_PARAMETER);
  Exchange exchange;
  const uint32_t r = exchange.Run(request.device(), reset == RDAX_RESET_COLD ? "CG10" : "CE10", 4);
  if (r != RDAX_OK) return r;
  const uint32_t evaluation = exchange.Check();
  // A card whose answer to reset the reader finds irregular ("87") is still
  // delivered, with its protocol unknown.
  if (evaluation != RDAX_OK && evaluation != RDAX_W_ICC_ATR_87) return evaluation;
  const ResponseView reply = exchange.response();
  ChipOutput output(answer);
  output.Start(evaluation == RDAX_OK ? ProtocolOf(reply.At(5)) : RDAX_CHIPIO_PROTOCOL_UNKNOWN);
  output.Append(reply.Rest(6));
  return evaluation;
}

// Operation 11.
uint32_t HandleDeactivateIcc(const RdaxRequest& request) {
  Exchange exchange;
  const uint32_t r = exchange.Run(request.device(), "CC6", 3);
  return r != RDAX_OK ? r : exchange.Check();
}

// Operation 12: parameter 1 the input record, 2 the output record.
uint32_t HandleCommunicateIcc(const RdaxRequest& request) {
  const auto* input = reinterpret_cast<const RdaxChipData*>(request.param[0]);
  auto* outputRecord = reinterpret_cast<RdaxChipData*>(request.param[1]);
  if (input == nullptr || outputRecord == nullptr)
    return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uint32_t length = input->length;
  const int32_t kind = input->kind;
  if (length > RDAX_CHIP_DATA_MAX || !IsProtocol(kind))
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  ChipOutput output(outputRecord);
  if (kind == RDAX_CHIPIO_PROTOCOL_T1)
    return ChainedExchange(request.device(), "CF2", kIccChain, *input, length, output, kind);
  Command command("CF0");
  command.Add(input->data, length);
  Exchange exchange;
  const uint32_t r = RunChecked(request.device(), exchange, command);
  if (r != RDAX_OK) return r;
  output.Start(RDAX_CHIPIO_PROTOCOL_T0);
  output.Append(exchange.response().Rest(5));
  return RDAX_OK;
}

// Operation 13: parameter 1 the SAM number, 2 the reset option, 3 the output.
uint32_t HandleActivateSam(const RdaxRequest& request) {
  auto* answer = reinterpret_cast<RdaxChipData*>(request.param[2]);
  if (answer == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uintptr_t sam = request.param[0];
  const uintptr_t reset = request.param[1];
  if (!IsSamNumber(sam) || !IsResetOption(reset))
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  Command command(reset == RDAX_RESET_COLD ? "Ce3" : "Ce4");
  command.Add(Digit(sam)).Add('0');
  Exchange exchange;
  const uint32_t r = RunChecked(request.device(), exchange, command);
  if (r != RDAX_OK) return r;
  const ResponseView reply = exchange.response();
  ChipOutput output(answer);
  output.Start(ProtocolOf(reply.At(7)));
  output.Append(reply.Rest(8));
  return RDAX_OK;
}

// Operation 14: parameter 1 the SAM number.
uint32_t HandleDeactivateSam(const RdaxRequest& request) {
  const uintptr_t sam = request.param[0];
  if (!IsSamNumber(sam)) return StoreArgumentError(request, RDAX_E_PARAMETER);
  Command command("Ce2");
  command.Add(Digit(sam));
  Exchange exchange;
  return RunChecked(request.device(), exchange, command);
}

// Operation 15: parameter 1 the SAM number, 2 the input, 3 the output.
uint32_t HandleCommunicateSam(const RdaxRequest& request) {
  const auto* input = reinterpret_cast<const RdaxChipData*>(request.param[1]);
  auto* outputRecord = reinterpret_cast<RdaxChipData*>(request.param[2]);
  if (input == nullptr || outputRecord == nullptr)
    return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uintptr_t sam = request.param[0];
  const uint32_t length = input->length;
  const int32_t kind = input->kind;
  if (length > RDAX_CHIP_DATA_MAX || !IsSamNumber(sam) || !IsProtocol(kind))
    return StoreArgumentError(request, RDAX_E_PARAMETER);
  ChipOutput output(outputRecord);
  if (kind == RDAX_CHIPIO_PROTOCOL_T1) {
    const char head[4] = {'C', 'f', '2', Digit(sam)};
    return ChainedExchange(request.device(), {head, 4}, kSamChain, *input, length, output, kind);
  }
  Command command("Cf0");
  command.Add(Digit(sam)).Add(input->data, length);
  Exchange exchange;
  const uint32_t r = RunChecked(request.device(), exchange, command);
  if (r != RDAX_OK) return r;
  output.Start(RDAX_CHIPIO_PROTOCOL_T0);
  output.Append(exchange.response().Rest(7));
  return RDAX_OK;
}

// Operation 16: parameter 1 the SAM number, 2 the 16-bit status. The query
// itself succeeds whatever the reader says about the SAM.
uint32_t HandleGetSamStatus(const RdaxRequest& request) {
  auto* status = reinterpret_cast<uint16_t*>(request.param[1]);
  if (status == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uintptr_t sam = request.param[0];
  if (!IsSamNumber(sam)) return StoreArgumentError(request, RDAX_E_PARAMETER);
  Command command("Ce0");
  command.Add(Digit(sam));
  Exchange exchange;
  const uint32_t r = exchange.Run(request.device(), command.data(), command.length());
  if (r != RDAX_OK) {
    *status = RDAX_SAM_STATUS_NO_ANSWER;
    return r;
  }
  const ResponseView reply = exchange.response();
  if (reply.Kind() != 'P') {
    *status = RDAX_SAM_STATUS_REFUSED;
  } else {
    *status = reply.Field(5, 2) == "40" ? RDAX_SAM_STATUS_PRESENT : RDAX_SAM_STATUS_OTHER;
  }
  return RDAX_OK;
}

// Operation 17: parameter 1 the card type, 2 the output.
uint32_t HandleActivateMemoryCard(const RdaxRequest& request) {
  auto* answer = reinterpret_cast<RdaxChipData*>(request.param[1]);
  if (answer == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uintptr_t type = request.param[0];
  if (type > RDAX_MEMCARD_SLE4418) return StoreArgumentError(request, RDAX_E_PARAMETER);
  Command command("Cm5");
  command.Add(Digit(type));
  Exchange exchange;
  const uint32_t r = RunChecked(request.device(), exchange, command);
  if (r != RDAX_OK) return r;
  ChipOutput output(answer);
  output.Start(static_cast<int32_t>(type));
  output.Append(exchange.response().Rest(5));
  return RDAX_OK;
}

// Operation 18.
uint32_t HandleDeactivateMemoryCard(const RdaxRequest& request) {
  Exchange exchange;
  const uint32_t r = exchange.Run(request.device(), "Cm6", 3);
  return r != RDAX_OK ? r : exchange.Check();
}

// Operation 19: parameter 1 the input, 2 the output.
uint32_t HandleCommunicateMemoryCard(const RdaxRequest& request) {
  const auto* input = reinterpret_cast<const RdaxChipData*>(request.param[0]);
  auto* outputRecord = reinterpret_cast<RdaxChipData*>(request.param[1]);
  if (input == nullptr || outputRecord == nullptr)
    return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uint32_t length = input->length;
  const int32_t kind = input->kind;
  if (length > RDAX_CHIP_DATA_MAX) return StoreArgumentError(request, RDAX_E_PARAMETER);
  Command command("Cm7");
  command.Add(input->data, length);
  Exchange exchange;
  const uint32_t r = RunChecked(request.device(), exchange, command);
  if (r != RDAX_OK) return r;
  ChipOutput output(outputRecord);
  output.Start(kind);
  output.Append(exchange.response().Rest(5));
  return RDAX_OK;
}

// Operation 20: parameter 1 the verification data.
uint32_t HandleVerifyMemoryCard(const RdaxRequest& request) {
  const auto* input = reinterpret_cast<const RdaxChipData*>(request.param[0]);
  if (input == nullptr) return StoreArgumentError(request, RDAX_E_NULL_ARGUMENT);
  const uint32_t length = input->length;
  if (length > RDAX_CHIP_DATA_MAX) return StoreArgumentError(request, RDAX_E_PARAMETER);
  Command command("Cm8");
  command.Add(input->data, length);
  Exchange exchange;
  return RunChecked(request.device(), exchange, command);
}

}  // namespace q7m::rdax
