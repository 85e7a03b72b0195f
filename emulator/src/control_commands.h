// The control commands, shared by the control socket and the tests:
//   list                          readers, links and addresses
//   status [READER]               every field, link counter and armed fault
//   get READER FIELD
//   set READER FIELD VALUE...
//   fault READER SPEC...          arm a fault ("nak count=2", "late ms=300",
//                                 "bad-bcc rate=0.1", "error code=46 cmd=6a",
//                                 "reply data=HEX", "dsr-off", "unplug ms=500",
//                                 "clear nak", "clear")
//   clear READER                  clear every armed fault
//   unplug READER [ms=N] / replug READER
//   mark TEXT...                  a MARK line in the wire log
//   quit                          stop the emulator
//   help
#pragma once

#include <string>
#include <string_view>

namespace q7msim {

class Simulator;

// Runs one command. The answer's first line is "OK" or "ERR <reason>"; what
// the command reports follows on the next lines.
std::string RunControlCommand(Simulator* simulator, std::string_view request);

// The text of `help`, also printed by `q7m-sim --help`.
const char* ControlCommandHelp();

}  // namespace q7msim
