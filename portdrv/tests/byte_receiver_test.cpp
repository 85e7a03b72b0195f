#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "byte_receiver.h"
#include "serial_frame.h"

namespace q7m::serial {
namespace {

// Records the receiver's calls; a line error can be planted at one label.
class FakeHooks : public ByteReceiver::Hooks {
 public:
  uint32_t CheckLine(const char* label) override {
    checks.push_back(label);
    auto it = errors.find(label);
    return it == errors.end() ? 0 : it->second;
  }
  void OnFrameStart() override { ++frameStarts; }

  std::map<std::string, uint32_t> errors;
  std::vector<std::string> checks;
  int frameStarts = 0;
};

class ByteReceiverTest : public ::testing::Test {
 protected:
  static constexpr size_t kData = 1050;
  static constexpr size_t kRaw = 2100;

  // Feeds bytes until the run ends; returns its event (0: still going).
  uint32_t FeedAll(const std::vector<uint8_t>& bytes, size_t* used = nullptr) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (uint32_t e = receiver.Feed(bytes[i], hooks); e != kEventNone) {
        if (used) *used = i + 1;
        return e;
      }
    }
    if (used) *used = bytes.size();
    return kEventNone;
  }
  std::string Data() const {
    return std::string(reinterpret_cast<const char*>(receiver.data()), receiver.dataCount());
  }
  static std::vector<uint8_t> FrameOf(const std::string& text) {
    std::vector<uint8_t> frame(MaxFrameLength(text.size()));
    frame.resize(BuildFrame(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                            frame.data(), frame.size()));
    return frame;
  }

  uint8_t data[kData];
  uint8_t raw[kRaw];
  FakeHooks hooks;
  ByteReceiver receiver{data, kData, raw, kRaw};
};

TEST_F(ByteReceiverTest, FrameWithDoubledDleEndsTheRunAtItsBcc) {
  receiver.StartHunt();
  std::vector<uint8_t> bytes{'x', 'y'};  // noise before the frame is skipped
  auto frame = FrameOf(std::string("P\x10Z", 3));
  bytes.insert(bytes.end(), frame.begin(), frame.end());
  bytes.push_back(kDle);  // must stay unread: the run ends with the BCC
  size_t used = 0;
  EXPECT_EQ(FeedAll(bytes, &used), kEventFrame);
  EXPECT_EQ(used, bytes.size() - 1);
  EXPECT_EQ(Data(), std::string("P\x10Z", 3));
  EXPECT_EQ(hooks.frameStarts, 1);
  EXPECT_EQ(receiver.rawCount(), used);
  EXPECT_EQ(hooks.checks, (std::vector<std::string>{"STX", "BCC"}));
}

TEST_F(ByteReceiverTest, WrongBccIsReportedAsSuch) {
  receiver.StartHunt();
  auto frame = FrameOf("PAB");
  frame.back() ^= 0x01;
  EXPECT_EQ(FeedAll(frame), kEventBadBcc);
}

TEST_F(ByteReceiverTest, ControlSequences) {
  const std::pair<uint8_t, uint32_t> cases[] = {
      {kAck, kEventAck}, {kNak, kEventNak}, {kEot, kEventEot}};
  for (auto [code, event] : cases) {
    receiver.StartHunt();
    EXPECT_EQ(FeedAll({'?', kDle, code}), event);
  }
  // DLE DLE ACK: the second DLE keeps waiting for the code.
  receiver.StartHunt();
  EXPECT_EQ(FeedAll({kDle, kDle, kAck}), kEventAck);
  // DLE followed by anything else goes back to hunting.
  receiver.StartHunt();
  EXPECT_EQ(FeedAll({kDle, 'A', kAck, kDle, kNak}), kEventNak);
}

TEST_F(ByteReceiverTest, OverlongFrameIsDiscardedUntilSilence) {
  receiver.StartHunt();
  std::vector<uint8_t> bytes{kDle, kStx};
  bytes.insert(bytes.end(), kData + 1, 'A');
  bytes.insert(bytes.end(), {kDle, kEtx, 0x00});
  EXPECT_EQ(FeedAll(bytes), kEventNone);
  EXPECT_EQ(receiver.mode(), ByteReceiver::Mode::kDiscard);
  EXPECT_EQ(receiver.dataCount(), kData);
  EXPECT_EQ(receiver.OnSilence(hooks), kEventOverflow);
}

TEST_F(ByteReceiverTest, DoubledDleAtTheBufferEndOverflowsToo) {
  receiver.StartHunt();
  std::vector<uint8_t> bytes{kDle, kStx};
  bytes.insert(bytes.end(), kData, 'A');
  bytes.insert(bytes.end(), {kDle, kDle});
  EXPECT_EQ(FeedAll(bytes), kEventNone);
  EXPECT_EQ(receiver.OnSilence(hooks), kEventOverflow);
  EXPECT_EQ(hooks.checks.back(), "ETX");
}

TEST_F(ByteReceiverTest, DleFollowedByGarbageInsideTheData) {
  receiver.StartHunt();
  EXPECT_EQ(FeedAll({kDle, kStx, 'A', kDle, 'B', kDle, kEtx, 0}), kEventNone);
  EXPECT_EQ(receiver.OnSilence(hooks), kEventBadDle);
}

TEST_F(ByteReceiverTest, LineErrorsTakePrecedenceOverTheProtocolResult) {
  // At the code after DLE: the run discards and reports the line error.
  hooks.errors["STX"] = kEventParity;
  receiver.StartHunt();
  EXPECT_EQ(FeedAll({kDle, kAck, kDle, kAck}), kEventNone);
  EXPECT_EQ(receiver.OnSilence(hooks), kEventParity);

  // At the BCC.
  hooks.errors.clear();
  hooks.errors["BCC"] = kEventFraming;
  receiver.StartHunt();
  EXPECT_EQ(FeedAll(FrameOf("PAB")), kEventNone);
  EXPECT_EQ(receiver.OnSilence(hooks), kEventFraming);

  // An overflow with a line error reports the line error.
  hooks.errors.clear();
  hooks.errors["DATA"] = kEventOverrun;
  receiver.StartHunt();
  std::vector<uint8_t> bytes{kDle, kStx};
  bytes.insert(bytes.end(), kData + 1, 'A');
  FeedAll(bytes);
  EXPECT_EQ(receiver.OnSilence(hooks), kEventOverrun);
}

TEST_F(ByteReceiverTest, SilenceOutsideDiscard) {
  receiver.StartHunt();
  EXPECT_EQ(receiver.OnSilence(hooks), kEventSilence);
  EXPECT_EQ(hooks.checks.back(), "Timeout");
  hooks.errors["Timeout"] = kEventIoError;
  receiver.StartHunt();
  FeedAll({kDle, kStx, 'A'});
  EXPECT_EQ(receiver.OnSilence(hooks), kEventIoError);
  // Discard mode started for a line error ends with that code.
  receiver.StartDiscard(kEventOverrun);
  FeedAll({kDle, kAck});
  EXPECT_EQ(receiver.OnSilence(hooks), kEventOverrun);
}

TEST_F(ByteReceiverTest, RawCopyKeepsTheFirstBytesOnly) {
  receiver.StartHunt();
  std::vector<uint8_t> noise(kRaw + 10, 'n');
  EXPECT_EQ(FeedAll(noise), kEventNone);
  EXPECT_EQ(receiver.rawCount(), kRaw);
  // A new run starts empty.
  receiver.StartHunt();
  EXPECT_EQ(receiver.rawCount(), 0u);
  EXPECT_EQ(receiver.dataCount(), 0u);
}

}  // namespace
}  // namespace q7m::serial
