// The device strings come from the HID provider as UTF-16; callers get
// 8-bit text in fixed 256-byte fields. The 8-bit encoding on this platform
// is UTF-8 (the system's narrow encoding).
#pragma once

#include <cstddef>

namespace q7m {

constexpr size_t kDeviceStringSize = 256;
// A device string as the provider fills it: 512 bytes of UTF-16.
constexpr size_t kWideStringUnits = 256;

// Converts up to `units` UTF-16 units (less when a zero comes first) into
// `out`, at most `outSize` - 1 bytes and a terminating zero; a character
// that does not fit whole is left out; an unpaired surrogate becomes '?'.
void WideToNarrow(const char16_t* text, size_t units, char* out, size_t outSize);

}  // namespace q7m
