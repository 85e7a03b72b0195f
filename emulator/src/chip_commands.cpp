// The chip family: the chip card (cold and warm reset, deactivation,
// exchanges), the SAM modules and memory cards. Not built yet: its codes are
// listed in reader_commands.cpp and answered as undefined until its handlers
// register here.
#include "reader_commands.h"

namespace q7msim {

bool RegisterChipCommands(CommandDispatcher*) {
  return true;
}

}  // namespace q7msim
