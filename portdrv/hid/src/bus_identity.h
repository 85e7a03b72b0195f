// A bus device's identity from the accept packet it answered with.
#pragma once

#include "bus_protocol.h"
#include "device_identity.h"

namespace q7m::hid::bus {

// The packet's report lengths are authoritative; the report descriptor,
// when it parses, adds the top-level usage and whether reports are
// numbered (a device without one numbers them, as the card reader does).
DeviceIdentity IdentityFromAnnouncement(const hidbus::Identity& announced);

}  // namespace q7m::hid::bus
