#include "encrypted_form.h"

#include <cstdlib>
#include <cstring>

#include "session_key_record.h"

namespace q7m {

size_t BuildPlainBlockArea(const uint8_t* message, size_t length, uint8_t* area, size_t capacity) {
  const size_t blocks = CipherBlocksFor(length);
  if (length > 0xFFFF || blocks * kCipherBlock > capacity) return 0;
  area[0] = static_cast<uint8_t>(length >> 8);
  area[1] = static_cast<uint8_t>(length);
  if (length > 0) std::memcpy(area + 2, message, length);
  // The padding is random so equal messages do not give equal cipher text;
  // the generator is seeded when the library is attached.
  for (size_t i = 2 + length; i < blocks * kCipherBlock; ++i)
    area[i] = static_cast<uint8_t>(std::rand());
  return blocks;
}

}  // namespace q7m
