// Log text with what differs from run to run (the reader handle, the time
// lines) replaced by fixed words, so that two runs compare byte for byte.
#pragma once

#include <string>

namespace rigtooltest {

std::string Masked(const std::string& log);

}  // namespace rigtooltest
