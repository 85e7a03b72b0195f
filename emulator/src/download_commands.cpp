// The download family: announce, start, blocks and end of a firmware
// download. Not built yet: its codes are listed in reader_commands.cpp and
// answered as undefined until its handlers register here.
#include "reader_commands.h"

namespace q7msim {

bool RegisterDownloadCommands(CommandDispatcher*) {
  return true;
}

}  // namespace q7msim
