// The one list of every command code the reader's command format knows, by
// family, and the registration of all of them. Each family has its own file
// of handlers; a code whose family is not built yet is still registered and
// answered "N" with the undefined-command error, as the reader answers any
// command it does not know.
#pragma once

#include <cstddef>
#include <cstdint>

#include "command_dispatcher.h"
#include "device_commands.h"

namespace q7msim {

enum class CommandFamily : uint8_t {
  kDevice,         // device_commands.cpp: information, status, standards, LED
  kCardTransport,  // card_transport_commands.cpp: reset, card intake, tracks, lock
  kChip,           // chip_commands.cpp: chip card, SAM modules, memory cards
  kContactless,    // contactless_commands.cpp: field, Mifare, Type B
  kSecurity,       // security_commands.cpp: detection modes, recovery, host watchdog
  kDownload,       // download_commands.cpp: firmware download
};

const char* FamilyName(CommandFamily family);

struct CommandCodeInfo {
  const char* code;  // the two characters after "C"
  CommandFamily family;
  const char* what;
};

const CommandCodeInfo* ReaderCommandCodes(size_t* count);

// Each family registers its handlers (the device family in
// device_commands.h); false when a code was taken already.
bool RegisterCardTransportCommands(CommandDispatcher* dispatcher);
bool RegisterChipCommands(CommandDispatcher* dispatcher);
bool RegisterContactlessCommands(CommandDispatcher* dispatcher);
bool RegisterSecurityCommands(CommandDispatcher* dispatcher);
bool RegisterDownloadCommands(CommandDispatcher* dispatcher);

// Registers every family, then answers the listed codes still without a
// handler as undefined. False when two handlers claim one code or a family
// registers a code that is not in the list.
bool RegisterReaderCommands(CommandDispatcher* dispatcher);

}  // namespace q7msim
