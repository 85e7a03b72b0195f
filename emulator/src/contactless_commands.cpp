// The contactless family: the field, Mifare and Type B cards. Not built yet:
// its codes are listed in reader_commands.cpp and answered as undefined until
// its handlers register here.
#include "reader_commands.h"

namespace q7msim {

bool RegisterContactlessCommands(CommandDispatcher*) {
  return true;
}

}  // namespace q7msim
