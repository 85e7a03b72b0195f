// The reader's device commands: versions, serial and model number,
// capabilities, status, sensor levels, counters, chip standards and the front
// LED, each answer laid out at the offsets the card-reader API reads it from.
// The reset belongs to the card transport family; reader_commands.h lists
// every family.
#pragma once

#include "command_dispatcher.h"

namespace q7msim {

// Registers the handlers of this family; false if a code was taken already.
bool RegisterDeviceCommands(CommandDispatcher* dispatcher);

}  // namespace q7msim
