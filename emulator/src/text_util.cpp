#include "text_util.h"

#include <cctype>
#include <cstdio>

namespace q7msim {

namespace {
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && !IsBlank(text[i])) ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

std::vector<std::string_view> SplitList(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == separator) {
      std::string_view piece = Trim(text.substr(start, i - start));
      if (!piece.empty()) pieces.push_back(piece);
      start = i + 1;
    }
  }
  return pieces;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool ParseHexDigits(std::string_view text, uint64_t max, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    int d = HexValue(c);
    if (d < 0) return false;
    if (v > (max >> 4)) return false;
    v = (v << 4) | static_cast<uint64_t>(d);
    if (v > max) return false;
  }
  *value = v;
  return true;
}

bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t* value) {
  text = Trim(text);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    return ParseHexDigits(text.substr(2), max, value);
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (max - d) / 10) return false;
    v = v * 10 + d;
  }
  *value = v;
  return true;
}

bool ParseRate(std::string_view text, double* rate) {
  text = Trim(text);
  bool percent = !text.empty() && text.back() == '%';
  if (percent) text.remove_suffix(1);
  if (text.empty() || text.size() > 32) return false;
  // Parsed by hand: strtod would accept "inf", "nan" and locale forms.
  double whole = 0;
  size_t i = 0;
  bool digits = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    whole = whole * 10 + (text[i] - '0');
    ++i;
    digits = true;
  }
  if (i < text.size() && text[i] == '.') {
    ++i;
    double scale = 0.1;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      whole += (text[i] - '0') * scale;
      scale /= 10;
      ++i;
      digits = true;
    }
  }
  if (!digits || i != text.size()) return false;
  if (percent) whole /= 100;
  if (whole > 1.0) return false;
  *rate = whole;
  return true;
}

bool IsPrintable(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
  }
  return true;
}

bool ParseSwitch(std::string_view text, bool* value) {
  text = Trim(text);
  for (const char* on : {"on", "yes", "true", "1"}) {
    if (EqualsNoCase(text, on)) {
      *value = true;
      return true;
    }
  }
  for (const char* off : {"off", "no", "false", "0"}) {
    if (EqualsNoCase(text, off)) {
      *value = false;
      return true;
    }
  }
  return false;
}

std::string FormatHex(uint64_t value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%0*llX", width, static_cast<unsigned long long>(value));
  return text;
}

}  // namespace q7msim
