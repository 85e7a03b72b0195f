#include "response_buffer.h"

#include <cstring>

namespace q7msim {

void ResponseBuffer::Positive(const char* code, const char* status) {
  Clear();
  AppendChar('P');
  AppendBytes(code, 2);
  AppendBytes(status, 2);
}

void ResponseBuffer::Negative(const char* code, const char* error) {
  Clear();
  AppendChar('N');
  AppendBytes(code, 2);
  AppendBytes(error, 2);
}

void ResponseBuffer::Cancel() {
  Clear();
  AppendChar('E');
}

void ResponseBuffer::AppendChar(char c) {
  if (size_ >= kMaxResponseBytes) {
    overflow_ = true;
    return;
  }
  data_[size_++] = static_cast<uint8_t>(c);
}

void ResponseBuffer::AppendBytes(const void* bytes, size_t count) {
  size_t room = kMaxResponseBytes - size_;
  if (count > room) {
    overflow_ = true;
    count = room;
  }
  std::memcpy(data_ + size_, bytes, count);
  size_ += count;
}

void ResponseBuffer::AppendPadded(std::string_view text, size_t width, char pad) {
  for (size_t i = 0; i < width; ++i) AppendChar(i < text.size() ? text[i] : pad);
}

void ResponseBuffer::AppendDecimal(uint64_t value, size_t width) {
  char digits[24];
  if (width == 0 || width > 20) {
    overflow_ = true;
    return;
  }
  uint64_t limit = 1;
  for (size_t i = 0; i < width && limit <= UINT64_MAX / 10; ++i) limit *= 10;
  bool tooWide = width < 20 && value >= limit;
  for (size_t i = width; i-- > 0;) {
    digits[i] = tooWide ? '9' : static_cast<char>('0' + value % 10);
    value /= 10;
  }
  AppendBytes(digits, width);
}

void ResponseBuffer::AppendHex(uint64_t value, size_t width) {
  static const char kDigits[] = "0123456789ABCDEF";
  char digits[16];
  if (width == 0 || width > 16) {
    overflow_ = true;
    return;
  }
  bool tooWide = width < 16 && (value >> (4 * width)) != 0;
  for (size_t i = width; i-- > 0;) {
    digits[i] = tooWide ? 'F' : kDigits[value & 0xF];
    value >>= 4;
  }
  AppendBytes(digits, width);
}

}  // namespace q7msim
