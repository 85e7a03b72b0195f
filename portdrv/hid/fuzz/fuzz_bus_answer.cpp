// Fuzz target: whatever a bus device answers to the open packet is checked
// field by field against the packet's length; an accepted identity keeps
// its strings within their limits and printable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "bus_identity.h"
#include "bus_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  q7m::hidbus::Identity identity;
  const q7m::hidbus::Answer answer = q7m::hidbus::ParseAnswer(data, size, &identity);
  if (answer.kind != q7m::hidbus::AnswerKind::kAccept) return 0;
  for (const std::string* text :
       {&identity.manufacturer, &identity.product, &identity.serialNumber}) {
    if (text->size() > q7m::hidbus::kMaxStringLength) std::abort();
    for (char c : *text)
      if (c < 0x20 || c > 0x7E) std::abort();
  }
  if (identity.reportDescriptor.size() > q7m::hidbus::kMaxDescriptorLength) std::abort();
  q7m::hid::bus::IdentityFromAnnouncement(identity);
  return 0;
}
