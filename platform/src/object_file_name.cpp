#include "object_file_name.h"

#include <cstring>

#include "sha256.h"

namespace q7m::platform {

namespace {

// Well below NAME_MAX (255) so the longest escaped name plus the signal
// suffix still fits a directory entry.
constexpr size_t kMaxEscapedLength = 200;
// How much of the escaped text is kept before the hash of a long name.
constexpr size_t kReadablePrefixLength = 100;

constexpr char kHex[] = "0123456789ABCDEF";

bool KeptAsIs(unsigned char c, bool first) {
  if (c == '.') return !first;
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

bool IsUpperHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

bool IsObjectFileName(const char* fileName) {
  const size_t length = strlen(fileName);
  if (length == 0 || length > kMaxEscapedLength) return false;
  for (size_t i = 0; i < length;) {
    const auto c = static_cast<unsigned char>(fileName[i]);
    if (c != '%') {
      if (!KeptAsIs(c, i == 0)) return false;
      ++i;
    } else if (i + 2 < length && IsUpperHex(fileName[i + 1]) && IsUpperHex(fileName[i + 2])) {
      i += 3;
    } else if (fileName[i + 1] == 'h' && length - i == 2 + 64) {
      // The hash of a long name ends it: 64 hex digits.
      for (size_t j = i + 2; j < length; ++j)
        if (!IsUpperHex(fileName[j])) return false;
      return true;
    } else {
      return false;
    }
  }
  return true;
}

bool ObjectFileName(const char* name, std::string* fileName) {
  size_t length = strnlen(name, kMaxObjectNameLength + 1);
  if (length > kMaxObjectNameLength) return false;

  std::string escaped;
  escaped.reserve(length * 3);
  for (size_t i = 0; i < length; ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    if (KeptAsIs(c, i == 0)) {
      escaped.push_back(static_cast<char>(c));
    } else {
      escaped.push_back('%');
      escaped.push_back(kHex[c >> 4]);
      escaped.push_back(kHex[c & 15]);
    }
  }
  if (escaped.size() <= kMaxEscapedLength) {
    *fileName = std::move(escaped);
    return true;
  }

  // Cut the prefix on an escape boundary so it stays readable.
  size_t cut = kReadablePrefixLength;
  if (escaped[cut - 1] == '%')
    cut -= 1;
  else if (escaped[cut - 2] == '%')
    cut -= 2;
  std::string result = escaped.substr(0, cut);
  result += "%h";
  auto digest = Sha256(name, length);
  for (uint8_t b : digest) {
    result.push_back(kHex[b >> 4]);
    result.push_back(kHex[b & 15]);
  }
  *fileName = std::move(result);
  return true;
}

}  // namespace q7m::platform
