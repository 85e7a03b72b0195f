// Data text: a byte string typed as plain characters, with hexadecimal bytes
// in braces ("C00", "{00 A4 04 00}", "AB{0D}", "{1,2,3}").
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace q7m::rigtool {

// Appends the bytes of `text` to `bytes`. False when the text does not
// parse (a character inside braces that is no hexadecimal digit, space,
// comma or "}", or a single digit followed by anything else, the end of the
// text included); `bytes` then holds what was read before the fault.
bool ParseDataText(std::string_view text, std::vector<uint8_t>* bytes);

}  // namespace q7m::rigtool
