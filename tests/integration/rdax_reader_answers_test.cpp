// How the library reads what the reader answers, with the answers made by
// the emulator on request: refusals with chosen error codes, the cancel
// reply and raw track-read replies, on the serial and the USB link.
#include <gtest/gtest.h>

#include <cstdio>

#include "q7m/sequor.h"
#include "rdax_sim_fixture.h"

namespace rdaxsim {
namespace {

SEQUOR_HANDLE Session(const RDAX* handle) {
  return reinterpret_cast<SEQUOR_HANDLE>(const_cast<RDAX*>(handle));
}

class ReaderAnswersOnSim : public RdaxOnSim {
 protected:
  // One exchange through the execution service, which keeps the response
  // for RDAX_GetResult to evaluate.
  std::string Exchange(const std::string& command) {
    char response[1024];
    uint32_t length = 0;
    EXPECT_EQ(
        SEQUOR_Execute(Session(handle_), command.data(), static_cast<uint32_t>(command.size()), 2,
                       response, sizeof response, &length, 10, nullptr),
        SEQUOR_SUCCESS);
    return std::string(response, length);
  }
};

TEST_P(ReaderAnswersOnSim, RefusalsBecomeTheResultsOfTheErrorTable) {
  const struct {
    const char* code;
    uint32_t result;
  } cases[] = {
      {"46", 0x44040006u}, {"A1", 0x840000A1u}, {"J1", 0x84000131u}, {"1Y", 0x84010007u},
      {"60", 0x84000061u}, {"90", 0x440E0000u}, {"A0", 0x440E0000u}, {"X1", 0x84000000u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    sim_.Control({"fault", reader(), "error", std::string("code=") + c.code, "cmd=10"});
    EXPECT_EQ(Exchange("C10"), std::string("N10") + c.code);
    EXPECT_EQ(RDAX_GetResult(handle_), c.result);
  }
}

TEST_P(ReaderAnswersOnSim, RawCommandDeliversRefusalsAndCancelRepliesUnevaluated) {
  sim_.Control({"fault", reader(), "error", "code=46", "cmd=10"});
  std::string response;
  EXPECT_EQ(Send("C10", &response), RDAX_OK);
  EXPECT_EQ(response, "N1046");
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);

  sim_.Control({"fault", reader(), "cancel-reply", "cmd=10"});
  EXPECT_EQ(Send("C10", &response), RDAX_OK);
  EXPECT_EQ(response, "E");
}

TEST_P(ReaderAnswersOnSim, ACancelReplyIsCancelled) {
  sim_.Control({"fault", reader(), "cancel-reply", "cmd=11"});
  EXPECT_EQ(Exchange("C11"), "E");
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_W_CANCELLED);
}

TEST_P(ReaderAnswersOnSim, TrackReadRepliesAreJudgedByTheTracksOfTheirTrackSet) {
  sim_.Control({"fault", reader(), "reply", "data=" + Hex("P6a0050043"), "cmd=6a"});
  EXPECT_EQ(Exchange("C6a5"), "P6a0050043");
  EXPECT_EQ(RDAX_GetResult(handle_), 0x44040003u);

  sim_.Control({"fault", reader(), "reply", "data=" + Hex("P6a0050000"), "cmd=6a"});
  EXPECT_EQ(Exchange("C6a5"), "P6a0050000");
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);
}

INSTANTIATE_TEST_SUITE_P(Links, ReaderAnswersOnSim, ::testing::Values(Link::kSerial, Link::kUsb),
                         LinkName);

}  // namespace
}  // namespace rdaxsim
