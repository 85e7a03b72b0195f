#include "utf16_text.h"

namespace q7m::hid {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one character at text[*pos]; advances *pos past it.
char32_t NextCharacter(const std::string& text, size_t* pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(*pos);
  size_t extra;
  char32_t value;
  if (lead < 0x80) {
    ++*pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    value = lead & 0x07;
  } else {
    ++*pos;
    return kReplacement;
  }
  size_t i = *pos + 1;
  for (size_t k = 0; k < extra; ++k, ++i) {
    if (i >= text.size() || (byte(i) & 0xC0) != 0x80) {
      *pos = i;  // resume at the byte that broke the sequence
      return kReplacement;
    }
    value = (value << 6) | (byte(i) & 0x3F);
  }
  *pos = i;
  static constexpr char32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
  const bool overlong = value < kSmallest[extra];
  const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  if (overlong || surrogate || value > 0x10FFFF) return kReplacement;
  return value;
}

}  // namespace

size_t Utf8ToUtf16(const std::string& text, char16_t* out, size_t capacity) {
  if (capacity == 0) return 0;
  size_t written = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const char32_t c = NextCharacter(text, &pos);
    if (c == 0) break;
    if (c < 0x10000) {
      if (written + 1 >= capacity) break;
      out[written++] = static_cast<char16_t>(c);
    } else {
      if (written + 2 >= capacity) break;
      const char32_t v = c - 0x10000;
      out[written++] = static_cast<char16_t>(0xD800 + (v >> 10));
      out[written++] = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    }
  }
  out[written] = 0;
  return written;
}

}  // namespace q7m::hid
