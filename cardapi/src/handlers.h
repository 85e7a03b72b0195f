// The handlers of the operation families, one file per family.
#pragma once

#include "request.h"

namespace q7m::rdax {

// Chip cards (chip_handlers.cpp), operations 10 to 20.
uint32_t HandleActivateIcc(const RdaxRequest& request);
uint32_t HandleDeactivateIcc(const RdaxRequest& request);
uint32_t HandleCommunicateIcc(const RdaxRequest& request);
uint32_t HandleActivateSam(const RdaxRequest& request);
uint32_t HandleDeactivateSam(const RdaxRequest& request);
uint32_t HandleCommunicateSam(const RdaxRequest& request);
uint32_t HandleGetSamStatus(const RdaxRequest& request);
uint32_t HandleActivateMemoryCard(const RdaxRequest& request);
uint32_t HandleDeactivateMemoryCard(const RdaxRequest& request);
uint32_t HandleCommunicateMemoryCard(const RdaxRequest& request);
uint32_t HandleVerifyMemoryCard(const RdaxRequest& request);

// Contactless cards (contactless_handlers.cpp), operations 42 to 47 and 49.
uint32_t HandleDeactivateContactless(const RdaxRequest& request);
uint32_t HandleActivateContactless(const RdaxRequest& request);
uint32_t HandleMifareAuthenticate(const RdaxRequest& request);
uint32_t HandleMifareRead(const RdaxRequest& request);
uint32_t HandleMifareWrite(const RdaxRequest& request);
uint32_t HandleTypeBAttribute(const RdaxRequest& request);
uint32_t HandleTypeBCommunication(const RdaxRequest& request);

// Operation 0, the raw pass-through: parameter 1 the command copy, 2 its
// length, 3 the send time limit, 4 the response buffer, 5 its size, 6 the
// length pointer, 7 the receive time limit.
uint32_t HandleSendCommand(const RdaxRequest& request);

}  // namespace q7m::rdax
