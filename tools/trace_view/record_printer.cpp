#include "record_printer.h"

#include <cstdio>
#include <string_view>

namespace q7m::traceview {

namespace {

constexpr const char* kDim = "\033[2m";
constexpr const char* kRed = "\033[31m";
constexpr const char* kBoldRed = "\033[1;31m";
constexpr const char* kYellow = "\033[33m";
constexpr const char* kCyan = "\033[36m";
constexpr const char* kReset = "\033[0m";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Errors stand out, warnings less so, entry and exit lines are quiet.
const char* ColourOf(std::string_view text) {
  if (StartsWith(text, "RDAX:FatalError")) return kBoldRed;
  if (StartsWith(text, "E:") || StartsWith(text, "RDAX:Error")) return kRed;
  if (StartsWith(text, "RDAX:Warning")) return kYellow;
  if (StartsWith(text, "CMD:") || StartsWith(text, "RES:") || StartsWith(text, "S:") ||
      StartsWith(text, "R:")) {
    return kCyan;
  }
  return nullptr;
}

void AppendEscaped(std::string* out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '\r':
        out->append("\\r");
        break;
      case '\n':
        out->append("\\n");
        break;
      case '\t':
        out->append("\\t");
        break;
      case '\0':
        out->append("\\0");
        break;
      case '\\':
        out->append("\\\\");
        break;
      default:
        if (u < 0x20 || u == 0x7F) {
          out->append("\\x");
          out->push_back(kHex[u >> 4]);
          out->push_back(kHex[u & 0xF]);
        } else {
          out->push_back(c);
        }
    }
  }
}

std::string_view TrimPadding(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  return text.substr(0, end);
}

}  // namespace

std::string FormatRecord(const TraceRecord& record, const PrintStyle& style) {
  std::string out;
  if (style.raw) {
    char header[trace::kHeaderLength];
    trace::FormatRecordHeader(record.header, header);
    out.assign(header, sizeof header);
    out.append(record.text);
    out.push_back('\n');
    return out;
  }
  const auto& h = record.header;
  char head[96];
  std::snprintf(head, sizeof head, "%06X %04u-%02u-%02u %02u:%02u:%02u", h.sequence, h.year,
                h.month, h.day, h.hour, h.minute, h.second);
  char ids[48];
  if (style.hexIds) {
    std::snprintf(ids, sizeof ids, " %08X %08X ", h.processId, h.threadId);
  } else {
    std::snprintf(ids, sizeof ids, " %7u %7u ", h.processId, h.threadId);
  }
  std::string_view text = TrimPadding(record.text);
  const char* colour = style.color ? ColourOf(text) : nullptr;
  if (style.color) out.append(kDim);
  out.append(head);
  if (style.color) out.append(kReset);
  out.append(ids);
  if (colour) out.append(colour);
  AppendEscaped(&out, text);
  if (colour) out.append(kReset);
  out.push_back('\n');
  return out;
}

}  // namespace q7m::traceview
