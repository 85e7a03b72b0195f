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
  // Security and download.
  table[kOpExecuteDownload] = &HandleExecuteDownload;
  table[40] = &HandleRecovery;
  table[41] = &HandleSetHostWatchdog;
  table[50] = &HandleSetTamperDetectionMode;
  table[51] = &HandleGetTamperDetectionMode;
  table[52] = &HandleSetRearDestroyDetectionMode;
  table[53] = &HandleGetRearDestroyDetectionMode;
  return table;
}

constexpr std::array<Handler, kOperationCount> kHandlers = BuildTable();

}  // namespace

Handler HandlerFor(uintptr_t operation) {
  return operation < kHandlers.size() ? kHandlers[operation] : nullptr;
}

}  // namespace q7m::rdax
