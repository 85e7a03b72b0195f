// libFuzzer target: what an engineer may type into a parameter box or a
// list file may carry, read as data text and as a number. Data text never
// yields more bytes than characters; numbers never fail.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "data_text.h"
#include "number_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<uint8_t> bytes;
  q7m::rigtool::ParseDataText(text, &bytes);
  if (bytes.size() > size) __builtin_trap();
  (void)q7m::rigtool::ConvertNumber(text);
  return 0;
}
