#include "result_lines.h"

#include <algorithm>
#include <cstdio>

namespace q7m::rigtool {
namespace {

std::string Format(const char* format, auto... values) {
  char buffer[160];
  const int n = std::snprintf(buffer, sizeof buffer, format, values...);
  if (n < 0) return {};
  return std::string(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
}

}  // namespace

std::string CommandBlock(std::string_view name, const std::array<std::string, 4>& params,
                         const std::optional<Q7M_SYSTEMTIME>& time) {
  std::string block;
  if (time) {
    block += Format("#%d/%02d/%02d %02d:%02d:%02d#", time->wYear, time->wMonth, time->wDay,
                    time->wHour, time->wMinute, time->wSecond);
    block += kCrLf;
  }
  block += "Command  \t: ";
  block += name;
  for (size_t i = 0; i < params.size(); ++i) {
    if (params[i].empty()) continue;
    block += kCrLf;
    block += "Parameter " + std::to_string(i + 1) + "\t: ";
    block += params[i];
  }
  return block;
}

std::string ResultLine(uint32_t result) {
  return Format("Result\t\t: 0x%08X", result) + std::string(kCrLf);
}

std::string ResultTextLine(std::string_view text) {
  return "Result\t\t: " + std::string(text) + std::string(kCrLf);
}

std::string OpenedLine(const void* handle) {
  return Format("Result\t\t: lpcRdax = %08lX",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle))) +
         std::string(kCrLf);
}

std::string RunAllHeader(int loops, int errorStop, bool asynchronous) {
  const std::string end(kCrLf);
  return Format("No. of Runs\t: %d", loops) + end + Format("Error Stop\t: %d", errorStop) + end +
         "Operation\t: " + (asynchronous ? "Asynchronous" : "Synchronous") + end;
}

std::string RunLine(int pass, int loops) {
  return Format("Run: %d/%d", pass, loops) + std::string(kCrLf);
}

std::string ErrorStopLine(int errors) {
  return Format("Loop operation stopped! Errors: %d", errors) + std::string(kCrLf);
}

std::string HexDump(const void* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const auto* p = static_cast<const uint8_t*>(bytes);
  std::string dump;
  dump.reserve(count * 3);
  for (size_t i = 0; i < count; ++i) {
    dump += kDigits[p[i] >> 4];
    dump += kDigits[p[i] & 15];
    dump += ' ';
  }
  return dump;
}

}  // namespace q7m::rigtool
