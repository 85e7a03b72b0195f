// libFuzzer target: one line of a command-list file. The five fields must
// come from the line itself and hold no bar, and the name lookup must stay
// inside the API list.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "api_list.h"
#include "list_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const q7m::rigtool::ListLine parsed = q7m::rigtool::ParseListLine(line);
  size_t total = parsed.name.size();
  for (const auto& param : parsed.params) total += param.size();
  if (total > size) __builtin_trap();
  auto clean = [](std::string_view field) { return field.find('|') == std::string_view::npos; };
  if (!clean(parsed.name)) __builtin_trap();
  for (const auto& param : parsed.params) {
    if (!clean(param)) __builtin_trap();
  }
  const int index = q7m::rigtool::ApiIndexContaining(parsed.name);
  if (index < -1 || index >= q7m::rigtool::kApiCount) __builtin_trap();
  return 0;
}
