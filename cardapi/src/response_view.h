// A bounded reader of a reader's response. Responses are outside input: a
// field that did not arrive is absent (std::nullopt), and nothing is ever
// read beyond the length that arrived, whatever offsets a caller asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace q7m::rdax {

class ResponseView {
 public:
  ResponseView(const char* data, uint32_t length) : data_(data), length_(data ? length : 0) {}

  uint32_t length() const { return length_; }
  // True when `count` bytes from `offset` arrived.
  bool Has(uint32_t offset, uint32_t count = 1) const {
    return offset <= length_ && count <= length_ - offset;
  }
  std::optional<char> At(uint32_t offset) const {
    if (!Has(offset)) return std::nullopt;
    return data_[offset];
  }
  std::optional<std::string_view> Field(uint32_t offset, uint32_t count) const {
    if (!Has(offset, count)) return std::nullopt;
    return std::string_view(data_ + offset, count);
  }
  // The bytes from `offset` to the end (empty when none arrived).
  std::string_view Rest(uint32_t offset) const {
    if (offset >= length_) return {};
    return std::string_view(data_ + offset, length_ - offset);
  }
  // A decimal field: its digits up to the first non-digit (0 when it starts
  // with none).
  std::optional<uint32_t> Decimal(uint32_t offset, uint32_t count) const {
    const auto field = Field(offset, count);
    if (!field) return std::nullopt;
    // A field longer than any the reader sends must not wrap round into a
    // plausible small number: it stops at the largest value.
    uint32_t value = 0;
    for (char c : *field) {
      if (c < '0' || c > '9') break;
      const uint32_t digit = static_cast<uint32_t>(c - '0');
      if (value > (UINT32_MAX - digit) / 10) return UINT32_MAX;
      value = value * 10 + digit;
    }
    return value;
  }
  // A hexadecimal field of upper-case digits; absent when a character is no
  // such digit.
  std::optional<uint32_t> Hex(uint32_t offset, uint32_t count) const {
    const auto field = Field(offset, count);
    if (!field) return std::nullopt;
    uint32_t value = 0;
    for (char c : *field) {
      uint32_t digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint32_t>(c - '0');
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return std::nullopt;
      }
      value = value * 16 + digit;
    }
    return value;
  }

  // The message parts every response has: its kind ("P", "N", "E"), the
  // echoed command code and the two status or error characters.
  std::optional<char> Kind() const { return At(0); }
  std::optional<std::string_view> EchoedCode() const { return Field(1, 2); }
  std::optional<std::string_view> Status() const { return Field(3, 2); }

 private:
  const char* data_;
  uint32_t length_;
};

}  // namespace q7m::rdax
