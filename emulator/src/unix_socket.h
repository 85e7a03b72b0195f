// Unix sequenced-packet sockets for the HID bus and the control socket.
#pragma once

#include <string>

namespace q7msim {

// Creates a listening SOCK_SEQPACKET socket at `path` (non-blocking,
// close-on-exec). A socket file nobody listens on any more (left by a killed
// process) is replaced; one that is alive is refused as in use. -1 with a
// reason on failure.
int ListenSeqpacket(const std::string& path, int backlog, std::string* error);

// Connects to `path`; -1 with errno set on failure.
int ConnectSeqpacket(const std::string& path);

// The largest path a socket address holds.
bool FitsSocketPath(const std::string& path);

}  // namespace q7msim
