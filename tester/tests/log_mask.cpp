#include "log_mask.h"

#include <cctype>
#include <string_view>

namespace rigtooltest {

std::string Masked(const std::string& log) {
  constexpr std::string_view kHandle = "lpcRdax = ";
  constexpr size_t kTimeLine = sizeof "#2026/01/01 00:00:00#" - 1;
  std::string masked;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    end = end == std::string::npos ? log.size() : end + 1;
    std::string line = log.substr(start, end - start);
    if (line.size() >= kTimeLine && line[0] == '#' && line[kTimeLine - 1] == '#') {
      line.replace(0, kTimeLine, "#TIME#");
    }
    if (size_t at = line.find(kHandle); at != std::string::npos) {
      size_t digits = at + kHandle.size();
      while (digits < line.size() && std::isxdigit(static_cast<unsigned char>(line[digits]))) {
        ++digits;
      }
      line.replace(at + kHandle.size(), digits - at - kHandle.size(), "HANDLE");
    }
    masked += line;
    start = end;
  }
  return masked;
}

}  // namespace rigtooltest
