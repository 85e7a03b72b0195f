// The serial link's framing from the reader's side: DLE STX <data, DLE
// doubled> DLE ETX BCC, where BCC is the XOR of the data bytes (each DLE
// counted once) and ETX; plus the two-byte control sequences DLE ENQ, DLE
// EOT, DLE ACK and DLE NAK.
#pragma once

#include <cstddef>
#include <cstdint>

namespace q7msim {

namespace ctl {
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kEot = 0x04;
constexpr uint8_t kEnq = 0x05;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kNak = 0x15;
}  // namespace ctl

// The longest command a host puts into one frame.
constexpr size_t kMaxCommandBytes = 2100;
// A host drops a response frame with more data bytes than this.
constexpr size_t kHostReceiveLimit = 1050;

uint8_t FrameCheck(const uint8_t* data, size_t size);

// Room a frame of `size` data bytes may need (every byte a DLE).
constexpr size_t MaxFrameSize(size_t size) {
  return 2 * size + 5;
}

// Writes the frame of `data` to `out`; returns its length, 0 when `capacity`
// is too small. `corruptCheck` sends a wrong BCC on purpose.
size_t EncodeFrame(const uint8_t* data, size_t size, uint8_t* out, size_t capacity,
                   bool corruptCheck = false);

// Takes the host's bytes one at a time and reports what they form.
class FrameReceiver {
 public:
  enum class Event {
    kNone,      // nothing complete yet
    kFrame,     // a frame with a correct BCC: data() / size()
    kBadCheck,  // a complete frame with a wrong BCC
    kOverflow,  // a complete frame with more than kMaxCommandBytes data bytes
    kGarbled,   // DLE inside a frame followed by neither DLE nor ETX
    kRestart,   // DLE STX inside a frame: the host started over
    kEnq,       // DLE ENQ
    kEot,       // DLE EOT
    kAck,       // DLE ACK (a host never sends it)
    kNak,       // DLE NAK (a host never sends it)
  };

  Event Feed(uint8_t byte);
  void Reset();
  // A frame has begun and not ended yet.
  bool inFrame() const;
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  enum class State { kHunt, kAfterDle, kData, kDataAfterDle, kCheck };
  void Store(uint8_t byte);

  State state_ = State::kHunt;
  uint8_t data_[kMaxCommandBytes];
  size_t size_ = 0;
  uint8_t check_ = 0;
  bool overflow_ = false;
};

}  // namespace q7msim
