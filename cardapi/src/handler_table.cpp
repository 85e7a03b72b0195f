// The handler of each operation code. A family adds its handlers here; an
// operation without one answers "line error" through the dispatcher.
#include <array>

#include "handlers.h"
#include "request.h"

namespace q7m::rdax {

namespace {

uint32_t DoNothing(const RdaxRequest&) {
  return RDAX_OK;
}

uint32_t NotOffered(const RdaxRequest&) {
  return RDAX_F_LINE;
}

constexpr std::array<Handler, kOperationCount> BuildTable() {
  std::array<Handler, kOperationCount> table{};
  table[kOpSendCommand] = &HandleSendCommand;
  table[kOpNothing] = &DoNothing;
  table[kOpNotOffered] = &NotOffered;
  return table;
}

constexpr std::array<Handler, kOperationCount> kHandlers = BuildTable();

}  // namespace

Handler HandlerFor(uintptr_t operation) {
  return operation < kHandlers.size() ? kHandlers[operation] : nullptr;
}

}  // namespace q7m::rdax
