// The provider hands out device strings as UTF-16, as the system functions
// it stands in for do; the device tree and the bus give them as UTF-8.
#pragma once

#include <cstddef>
#include <string>

namespace q7m::hid {

// Converts `text` into at most `capacity` - 1 UTF-16 units plus a
// terminating zero (nothing when capacity is 0). Malformed UTF-8 becomes
// U+FFFD; a character whose two units do not both fit is left out.
// Returns the units written, without the terminator.
size_t Utf8ToUtf16(const std::string& text, char16_t* out, size_t capacity);

}  // namespace q7m::hid
