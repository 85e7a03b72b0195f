// The viewer's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "record_filter.h"
#include "record_printer.h"

namespace q7m::traceview {

enum class ColorMode { kAuto, kAlways, kNever };

struct ViewerOptions {
  std::string path;
  RecordFilter filter;
  PrintStyle style;
  ColorMode color = ColorMode::kAuto;
  std::optional<uint32_t> recordLength;
  std::optional<uint64_t> last;
  bool follow = false;
  bool help = false;
};

// Parses the arguments after the program name. False with a message that
// names the offending argument.
bool ParseViewerOptions(const std::vector<std::string>& args, ViewerOptions* options,
                        std::string* error);

// The --help text.
const char* ViewerUsage();

}  // namespace q7m::traceview
