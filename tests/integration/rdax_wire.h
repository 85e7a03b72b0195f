// What a reader of the emulator received and answered, read back from its
// wire log as bytes: the chip and contactless tests check commands byte for
// byte, binary parts included.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sequor_sim_fixture.h"

namespace rdaxsim {

// The messages of `reader` logged as `kind` ("CMD" received, "RSP" sent), in
// order, as bytes.
std::vector<std::string> WireMessages(const sequorsim::SimReader& sim, const std::string& reader,
                                      const std::string& kind);

// Bytes as upper-case hexadecimal, for control commands and messages.
std::string HexBytes(const std::string& bytes);

// `count` bytes of a pattern that differs from block to block.
std::string Pattern(size_t count, uint8_t seed = 1);

}  // namespace rdaxsim
