// Numbers typed into a parameter box, read as the C library's unsigned
// conversion with base 0 reads them, in 32 bits.
#pragma once

#include <cstdint>
#include <string_view>

namespace q7m::rigtool {

// Leading white space skipped; an optional sign ("-" gives the two's
// complement); "0x"/"0X" hexadecimal, a leading "0" octal, else decimal;
// conversion stops at the first character that is no digit of the base. No
// digits give 0; a value beyond 32 bits gives 4294967295.
uint32_t ConvertNumber(std::string_view text);

}  // namespace q7m::rigtool
