#include "chip_model.h"

#include <algorithm>
#include <cstring>

namespace q7msim {

bool ChainState::Take(const uint8_t* bytes, size_t size) {
  if (size > kInputCapacity - inputSize) return false;
  if (size > 0) std::memcpy(input + inputSize, bytes, size);
  inputSize += size;
  return true;
}

bool ChainState::NextPart(size_t part, const uint8_t** data, size_t* size) {
  const size_t remaining = answer.size - std::min(answer.size, answerSent);
  *size = std::min(part, remaining);
  *data = answer.bytes + answerSent;
  answerSent += *size;
  const bool last = *size == remaining;
  if (last) answering = false;
  return last;
}

}  // namespace q7msim
