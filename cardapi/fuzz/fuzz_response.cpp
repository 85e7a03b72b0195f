// libFuzzer target: a reader's response as the API evaluates it. The result
// code, the device status and the bounded field reads must stay inside the
// bytes that arrived; the first two bytes choose the offsets the reads ask for,
// as a family's reply reader would, the rest is the response.
#include <cstddef>
#include <cstdint>

#include "device_status.h"
#include "response_view.h"
#include "result_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) {
    return 0;
  }
  uint32_t offset = data[0];
  uint32_t count = data[1] & 0x0F;
  const char* response = reinterpret_cast<const char*>(data + 2);
  uint32_t length = static_cast<uint32_t>(size - 2);

  (void)q7m::rdax::RdaxCheckResponse(response, length);
  if (length >= 2) {
    (void)q7m::rdax::DeviceStatusFromCode(response[0], response[1]);
  }
  q7m::rdax::ResponseView view(response, length);
  auto field = view.Field(offset, count);
  if (field && (field->data() < response || field->data() + field->size() > response + length)) {
    __builtin_trap();
  }
  (void)view.At(offset);
  (void)view.Decimal(offset, count);
  (void)view.Hex(offset, count);
  if (view.Rest(offset).size() > length) {
    __builtin_trap();
  }
  return 0;
}
