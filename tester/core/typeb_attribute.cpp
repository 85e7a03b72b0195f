#include "typeb_attribute.h"

namespace q7m::rigtool {

RDAX_TYPEB_ATTRIBUTE BuildTypeBAttribute(const std::array<uint8_t, 9>& b) {
  RDAX_TYPEB_ATTRIBUTE record{};
  // Without the mark the library refuses the record as a whole.
  record.mark = RDAX_TYPEB_ATTRIBUTE_MARK;
  record.sofRequired = b[0] != 0 ? 1 : 0;
  record.eofRequired = b[1] != 0 ? 1 : 0;
  record.tr0 = b[2];
  record.tr1 = b[3];
  record.maxFrameSizeCode = b[4];
  record.bitRateCode1 = b[5];
  record.bitRateCode2 = b[6];
  record.protocolType = b[7];
  record.cardIdentifier = b[8];
  return record;
}

}  // namespace q7m::rigtool
