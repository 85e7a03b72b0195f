#include "bus_identity.h"

namespace q7m::hid::bus {

DeviceIdentity IdentityFromAnnouncement(const hidbus::Identity& announced) {
  DeviceIdentity identity;
  identity.vendorId = announced.vendorId;
  identity.productId = announced.productId;
  identity.versionNumber = announced.versionNumber;
  identity.manufacturer = announced.manufacturer;
  identity.product = announced.product;
  identity.serialNumber = announced.serialNumber;
  ReportLayout parsed;
  if (!announced.reportDescriptor.empty() &&
      ParseReportDescriptor(announced.reportDescriptor.data(), announced.reportDescriptor.size(),
                            &parsed) == DescriptorError::kNone) {
    identity.layout = parsed;
  } else {
    identity.layout.numbered = true;
  }
  identity.layout.inputLength = announced.inputLength;
  identity.layout.outputLength = announced.outputLength;
  identity.layout.featureLength = announced.featureLength;
  identity.layoutKnown = true;
  return identity;
}

}  // namespace q7m::hid::bus
