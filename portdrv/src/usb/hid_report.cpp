#include "hid_report.h"

namespace q7m {

uint8_t ReportIdForLength(uint32_t usedLength) {
  for (uint8_t id = 1; id <= 8; ++id)
    if (kReportSizes[id - 1] >= usedLength) return id;
  return 9;
}

}  // namespace q7m
