// SHA-256, for turning over-long object names into fixed-size file names
// without two names ever sharing a file in practice.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace q7m::platform {

std::array<uint8_t, 32> Sha256(const void* data, size_t length);

}  // namespace q7m::platform
