// Small text helpers for the emulator's command line, control commands and
// scenario values. All of them work on views and never allocate unless they
// return a string.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace q7msim {

std::string_view Trim(std::string_view text);

// Splits at runs of blanks and tabs; no empty pieces.
std::vector<std::string_view> SplitWords(std::string_view text);

// Splits at `separator`, trimming each piece; empty pieces are dropped.
std::vector<std::string_view> SplitList(std::string_view text, char separator);

bool EqualsNoCase(std::string_view a, std::string_view b);

// A decimal number, or hexadecimal after "0x"/"0X"; the whole text must be a
// number no larger than `max`.
bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t* value);

// Hexadecimal digits only (no prefix), at most `max`.
bool ParseHexDigits(std::string_view text, uint64_t max, uint64_t* value);

// A probability: a decimal fraction from 0 to 1 ("0.25", "1", ".5") or a
// percentage ("25%").
bool ParseRate(std::string_view text, double* rate);

// Printable ASCII (0x20..0x7E) only.
bool IsPrintable(std::string_view text);

// "on"/"off", "yes"/"no", "true"/"false", "1"/"0", any case.
bool ParseSwitch(std::string_view text, bool* value);

std::string FormatHex(uint64_t value, int width);

}  // namespace q7msim
