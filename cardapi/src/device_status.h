// What a failed status query says about the device: the device status of
// RDAX_STATUS from the reader's refusal code, or from the result of an
// exchange that brought no usable answer.
#pragma once

#include <cstdint>

namespace q7m::rdax {

// RDAX_DEVICE_* for the two characters of a refusal; RDAX_DEVICE_ONLINE for
// codes that say nothing about the device.
uint16_t DeviceStatusFromCode(char c1, char c2);
// RDAX_DEVICE_* for the result of a failed exchange.
uint16_t DeviceStatusFromResult(uint32_t result);

}  // namespace q7m::rdax
