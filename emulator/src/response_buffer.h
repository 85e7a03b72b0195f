// The reader's answer to one command message, built in a fixed buffer: the
// exchange path never allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace q7msim {

// Room for the largest answer a host is prepared to take (its biggest
// response buffer holds 4096 bytes).
constexpr size_t kMaxResponseBytes = 4096;

class ResponseBuffer {
 public:
  void Clear() {
    size_ = 0;
    overflow_ = false;
  }

  // "P", the echoed command code and the two status characters.
  void Positive(const char* code, const char* status);
  // "N", the echoed command code and the two-character error code.
  void Negative(const char* code, const char* error);
  // The one-byte answer to a cancel.
  void Cancel();

  void AppendChar(char c);
  void AppendBytes(const void* bytes, size_t count);
  // `text` left-aligned in a field of `width` characters, padded with `pad`,
  // cut when longer.
  void AppendPadded(std::string_view text, size_t width, char pad = ' ');
  // Zero-padded decimal; a value too wide for the field shows as all nines
  // (the field setters keep values in range, this only guards the layout).
  void AppendDecimal(uint64_t value, size_t width);
  // Upper-case hexadecimal, zero-padded; too wide shows as all "F".
  void AppendHex(uint64_t value, size_t width);

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // Something did not fit; the content stops at the capacity.
  bool overflowed() const { return overflow_; }

 private:
  uint8_t data_[kMaxResponseBytes];
  size_t size_ = 0;
  bool overflow_ = false;
};

}  // namespace q7msim
