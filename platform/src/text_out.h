// Copying a result text into a caller's buffer, in the two ways the Win32
// functions we stand in for do it.
#pragma once

#include <cstdint>
#include <string_view>

namespace q7m::platform {

// Copies `text`, cut to size-1 characters, and zero-terminates it. Returns
// the number of characters placed. A cut text sets the last error to
// INSUFFICIENT_BUFFER (size 0: nothing is written, 0 is returned).
uint32_t CopyTextCut(std::string_view text, char* buffer, uint32_t size);

// Copies `text` only when it fits with its terminator and returns its
// length; otherwise leaves the buffer alone and returns the size needed,
// terminator included (GetCurrentDirectory/GetFullPathName style).
uint32_t CopyTextOrNeed(std::string_view text, char* buffer, uint32_t size);

}  // namespace q7m::platform
