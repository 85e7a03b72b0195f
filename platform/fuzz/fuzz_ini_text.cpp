// libFuzzer target: INI text scanning and lookups on arbitrary bytes. The
// first bytes choose the section and key looked up, the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "ini_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.size() < 8 ? input.size() : 8;
  std::string_view names = input.substr(0, split);
  std::string_view text = input.substr(split);
  std::string_view section = names.substr(0, names.size() / 2);
  std::string_view key = names.substr(names.size() / 2);

  std::string_view value;
  if (q7m::platform::FindIniValue(text, section, key, &value)) {
    // The value must lie inside the text and carry no line break or NUL.
    if (value.data() < text.data() || value.data() + value.size() > text.data() + text.size()) {
      __builtin_trap();
    }
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
      __builtin_trap();
    }
    (void)q7m::platform::StripQuotes(value);
  }
  std::vector<std::string_view> list;
  q7m::platform::ListIniSections(text, &list);
  q7m::platform::ListIniKeys(text, section, &list);
  return 0;
}
