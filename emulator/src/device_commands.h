// The reader's device commands: reset, versions, serial and model number,
// capabilities, status, sensor levels, counters, chip standards and the front
// LED, plus their reply layouts.
#pragma once

#include "command_dispatcher.h"

namespace q7msim {

// Registers the handlers of this family; false if a code was taken already.
bool RegisterDeviceCommands(CommandDispatcher* dispatcher);

}  // namespace q7msim
