// The log texts around a call: the command block, the result lines and the
// lines of a list run. Every line ends in CR LF except where the log adds
// it (the command block, whose entry the log ends).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "q7m/platform_sys.h"

namespace q7m::rigtool {

inline constexpr std::string_view kCrLf = "\r\n";
inline constexpr std::string_view kNotOpened = "The device is not opened!";

// "#Y/MM/DD hh:mm:ss#" CR LF (when `time` is given), "Command  \t: NAME",
// then CR LF "Parameter n\t: TEXT" for every parameter that is not empty.
std::string CommandBlock(std::string_view name, const std::array<std::string, 4>& params,
                         const std::optional<Q7M_SYSTEMTIME>& time);

// "Result\t\t: 0x%08X" CR LF.
std::string ResultLine(uint32_t result);
// "Result\t\t: TEXT" CR LF.
std::string ResultTextLine(std::string_view text);
// "Result\t\t: lpcRdax = %08lX" CR LF, the handle of a successful open.
std::string OpenedLine(const void* handle);

// The header entry of Run All.
std::string RunAllHeader(int loops, int errorStop, bool asynchronous);
// "Run: %d/%d" CR LF.
std::string RunLine(int pass, int loops);
// "Loop operation stopped! Errors: %d" CR LF.
std::string ErrorStopLine(int errors);

// Two upper-case hexadecimal digits and a space per byte.
std::string HexDump(const void* bytes, size_t count);

}  // namespace q7m::rigtool
