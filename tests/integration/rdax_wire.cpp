#include "rdax_wire.h"

#include <cstdio>
#include <sstream>

namespace rdaxsim {

std::vector<std::string> WireMessages(const sequorsim::SimReader& sim, const std::string& reader,
                                      const std::string& kind) {
  // Each line: "<size> <hex byte>... |<printable>|".
  std::vector<std::string> messages;
  for (const std::string& line : sim.process().LogLines(reader, kind)) {
    std::istringstream words(line);
    size_t size = 0;
    words >> size;
    std::string bytes;
    for (size_t i = 0; i < size; ++i) {
      std::string hex;
      words >> hex;
      bytes += static_cast<char>(std::stoul(hex, nullptr, 16));
    }
    messages.push_back(bytes);
  }
  return messages;
}

std::string HexBytes(const std::string& bytes) {
  std::string hex;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02X", c);
    hex += two;
  }
  return hex;
}

std::string Pattern(size_t count, uint8_t seed) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<char>((i * 7 + seed * 13 + i / 251) & 0xFF);
  return bytes;
}

}  // namespace rdaxsim
