// The security family: tamper and rear-destroy detection, recovery and the
// host watchdog. Not built yet: its codes are listed in reader_commands.cpp
// and answered as undefined until its handlers register here.
#include "reader_commands.h"

namespace q7msim {

bool RegisterSecurityCommands(CommandDispatcher*) {
  return true;
}

}  // namespace q7msim
