// The client side of the control socket, for `q7m-sim ctl`.
#pragma once

#include <string>

namespace q7msim {

// Sends `command` and waits up to `timeoutMs` for the answer. False with a
// reason when the emulator cannot be reached.
bool SendControlCommand(const std::string& path, const std::string& command, int timeoutMs,
                        std::string* answer, std::string* error);

}  // namespace q7msim
