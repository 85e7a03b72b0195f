#include "data_text.h"

namespace q7m::rigtool {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseDataText(std::string_view text, std::vector<uint8_t>* bytes) {
  bool inBraces = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!inBraces) {
      if (c == '{') {
        inBraces = true;
      } else {
        bytes->push_back(static_cast<uint8_t>(c));
      }
      continue;
    }
    if (c == '}') {
      inBraces = false;
      continue;
    }
    if (c == ' ' || c == ',') continue;
    const int high = HexValue(c);
    if (high < 0) return false;
    if (i + 1 >= text.size()) return false;  // a single digit at the very end
    const char next = text[i + 1];
    const int low = HexValue(next);
    if (low >= 0) {
      bytes->push_back(static_cast<uint8_t>(high * 16 + low));
      ++i;
    } else if (next == ' ' || next == ',' || next == '}') {
      bytes->push_back(static_cast<uint8_t>(high));
      if (next == '}') inBraces = false;
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace q7m::rigtool
