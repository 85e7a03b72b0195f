// Fuzz target: whatever a reader (or a broken line) sends goes through the
// byte receiver and the link state machine without reading or writing out
// of bounds. The first input byte plants line errors at the checks.
#include <cstddef>
#include <cstdint>

#include "byte_receiver.h"
#include "link_state.h"

namespace {

class FuzzHooks : public q7m::serial::ByteReceiver::Hooks {
 public:
  explicit FuzzHooks(uint8_t plan) : plan_(plan) {}
  uint32_t CheckLine(const char*) override {
    // Bits of the plan decide, check by check, whether a line error shows.
    const bool error = (plan_ >> (checks_++ % 8)) & 1;
    return error ? 10 + (checks_ % 4) : 0;
  }
  void OnFrameStart() override { state_ = q7m::serial::NextLinkState(state_, 2).next; }
  uint32_t state_ = q7m::serial::kStateAwaitResponse;

 private:
  uint8_t plan_;
  uint32_t checks_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // Small buffers so that overflows are reached with short inputs.
  uint8_t frame[64];
  uint8_t raw[128];
  q7m::serial::ByteReceiver receiver(frame, sizeof frame, raw, sizeof raw);
  FuzzHooks hooks(data[0]);
  receiver.StartHunt();
  for (size_t i = 1; i < size; ++i) {
    uint32_t event = receiver.Feed(data[i], hooks);
    if (event != 0) {
      hooks.state_ = q7m::serial::NextLinkState(hooks.state_, event).next;
      receiver.StartHunt();
    }
  }
  const uint32_t last = receiver.OnSilence(hooks);
  q7m::serial::NextLinkState(hooks.state_, last);
  if (receiver.dataCount() > sizeof frame || receiver.rawCount() > sizeof raw) __builtin_trap();
  return 0;
}
