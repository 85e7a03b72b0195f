#include "command_dispatcher.h"

namespace q7msim {

namespace {
constexpr int kPrintableCount = 0x7F - 0x20;
constexpr char kCommandMark = 'C';
constexpr char kCancelMark = 'E';
}  // namespace

std::string_view CommandCodeOf(const uint8_t* message, size_t size) {
  if (size < 3 || message[0] != kCommandMark) return {};
  return {reinterpret_cast<const char*>(message + 1), 2};
}

CommandDispatcher::CommandDispatcher()
    : table_(static_cast<size_t>(kPrintableCount * kPrintableCount), nullptr) {}

int CommandDispatcher::Slot(char first, char second) {
  auto a = static_cast<unsigned char>(first);
  auto b = static_cast<unsigned char>(second);
  if (a < 0x20 || a > 0x7E || b < 0x20 || b > 0x7E) return -1;
  return (a - 0x20) * kPrintableCount + (b - 0x20);
}

bool CommandDispatcher::Register(std::string_view code, CommandHandler handler) {
  if (code.size() != 2 || !handler) return false;
  int slot = Slot(code[0], code[1]);
  if (slot < 0 || table_[static_cast<size_t>(slot)]) return false;
  table_[static_cast<size_t>(slot)] = handler;
  return true;
}

bool CommandDispatcher::Knows(std::string_view code) const {
  if (code.size() != 2) return false;
  int slot = Slot(code[0], code[1]);
  return slot >= 0 && table_[static_cast<size_t>(slot)] != nullptr;
}

void CommandDispatcher::Execute(ReaderState& state, const uint8_t* message, size_t size,
                                ResponseBuffer* response) const {
  if (size >= 1 && message[0] == kCancelMark) {
    state.Count(ReaderCounter::kCancels);
    for (CancelHook hook : cancelHooks_) hook(state);
    response->Cancel();
    return;
  }
  // The code is echoed as received, blanks standing in for missing bytes.
  char code[2] = {size > 1 ? static_cast<char>(message[1]) : ' ',
                  size > 2 ? static_cast<char>(message[2]) : ' '};
  CommandHandler handler = nullptr;
  if (size >= 3 && message[0] == kCommandMark) {
    int slot = Slot(code[0], code[1]);
    if (slot >= 0) handler = table_[static_cast<size_t>(slot)];
  }
  size_t paramSize = size >= 3 ? size - 3 : 0;
  CommandContext context{state, code, message + (size >= 3 ? 3 : size), paramSize, *response};
  response->Clear();
  if (!handler) return context.RefuseCommand();
  for (GateHook gate : gates_) {
    if (gate(context)) return;
  }
  handler(context);
}

}  // namespace q7msim
