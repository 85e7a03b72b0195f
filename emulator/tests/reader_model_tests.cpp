// The reader model: the card slot behind the status characters and the
// counters that count what the reader did, in one reader and through both
// links across hosts that come and go.
#include <gtest/gtest.h>

#include <string>

#include "reader.h"
#include "reader_commands.h"
#include "sim_host.h"

namespace q7msim {
namespace {

class ReaderModel : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(RegisterReaderCommands(&dispatcher_)); }
  std::string Run(const std::string& command) {
    ResponseBuffer response;
    reader_.Execute(reinterpret_cast<const uint8_t*>(command.data()), command.size(), &response);
    return std::string(reinterpret_cast<const char*>(response.data()), response.size());
  }
  std::string Set(const std::string& field, const std::string& value) {
    return reader_.fields().Set(field, value);
  }
  std::string Get(const std::string& field) {
    std::string value;
    EXPECT_TRUE(reader_.fields().Get(field, &value)) << field;
    return value;
  }
  // Counter n (1 to 20) as the counter query lays it out.
  std::string CounterOf(const std::string& reply, size_t n) {
    return reply.substr(5 + 8 * (n - 1), 8);
  }

  CommandDispatcher dispatcher_;
  WireLog log_;
  Reader reader_{"r1", &dispatcher_, &log_, 1};
};

TEST_F(ReaderModel, CardPositionAndChipContactGiveTheStatusCharacters) {
  EXPECT_EQ(Run("C11"), "P1100");
  ASSERT_EQ(Set("CardPosition", "gate"), "");
  EXPECT_EQ(Run("C11"), "P1101");
  EXPECT_NE(Set("ChipContact", "powered"), "");  // nothing inside to contact
  ASSERT_EQ(Set("CardPosition", "INSIDE"), "");
  EXPECT_EQ(Run("C11"), "P1102");
  EXPECT_EQ(Run("C10"), "P1002");
  const std::pair<const char*, const char*> kContacts[] = {
      {"lowered", "10"}, {"powered", "11"}, {"memory0", "20"}, {"memory3", "23"}};
  for (const auto& [contact, status] : kContacts) {
    ASSERT_EQ(Set("ChipContact", contact), "") << contact;
    EXPECT_EQ(Run("C11"), std::string("P11") + status) << contact;
    EXPECT_EQ(Get("ChipContact"), contact);
  }
  EXPECT_NE(Set("ChipContact", "memory4"), "");
  // Every positive answer carries them, not only the status queries.
  EXPECT_EQ(Run("CL0").substr(0, 5), "PL023");

  // Back to the gate: the contacts are released on the way out.
  ASSERT_EQ(Set("CardPosition", "gate"), "");
  EXPECT_EQ(Get("ChipContact"), "released");
  EXPECT_EQ(Run("C11"), "P1101");

  // The status characters set directly move the card; a pair no position
  // stands for is reported until the card moves.
  ASSERT_EQ(Set("CardStatus", "11"), "");
  EXPECT_EQ(Get("CardPosition"), "inside");
  EXPECT_EQ(Get("ChipContact"), "powered");
  ASSERT_EQ(Set("CardStatus", "7Q"), "");
  EXPECT_EQ(Run("C11"), "P117Q");
  EXPECT_EQ(Get("CardStatus"), "7Q");
  ASSERT_EQ(Set("CardPosition", "none"), "");
  EXPECT_EQ(Run("C11"), "P1100");
  EXPECT_NE(Set("CardStatus", "1"), "");
  EXPECT_NE(Set("CardPosition", "outside"), "");
}

TEST_F(ReaderModel, ResetReleasesTheChipAndLeavesTheCardWhereItIs) {
  ASSERT_EQ(Set("CardStatus", "11"), "");
  Run("CP72");
  EXPECT_EQ(Run("C00"), "P0002");  // answered as it is afterwards
  EXPECT_EQ(Run("C11"), "P1102");
  EXPECT_EQ(Get("Led"), "off control=automatic");
  EXPECT_EQ(Get("CardPosition"), "inside");
}

TEST_F(ReaderModel, CountersCountWhatTheReaderDid) {
  ASSERT_EQ(Set("Counter8", "40"), "");  // a reader that has been reset before
  Run("C00");
  Run("C00");
  Run("C00x");  // refused: no reset
  Run("Czz");
  Run("Cq1");  // no command code at all: undefined too
  Run("CP79");
  ASSERT_EQ(reader_.ApplyFault("error code=46 cmd=10"), "");
  Run("C10");
  ASSERT_EQ(Set("DeviceError", "18"), "");
  Run("C11");
  ASSERT_EQ(Set("DeviceError", "none"), "");
  Run("E");
  Run("E");
  ASSERT_EQ(Set("CardPosition", "gate"), "");
  ASSERT_EQ(Set("CardPosition", "inside"), "");  // the same card, pushed in
  ASSERT_EQ(Set("CardPosition", "none"), "");
  ASSERT_EQ(Set("CardStatus", "02"), "");  // a second card

  std::string m = Run("CM0");
  ASSERT_EQ(m.size(), 165u);
  EXPECT_EQ(CounterOf(m, 1), "00000002");   // insertions
  EXPECT_EQ(CounterOf(m, 4), "00000006");   // negative answers: 00x, zz, q1, P79, 10, 11
  EXPECT_EQ(CounterOf(m, 5), "00000002");   // refused parameters: 00x, P79
  EXPECT_EQ(CounterOf(m, 6), "00000002");   // undefined: zz, q1
  EXPECT_EQ(CounterOf(m, 8), "00000042");   // resets, from where they were
  EXPECT_EQ(CounterOf(m, 9), "00000001");   // device errors
  EXPECT_EQ(CounterOf(m, 15), "00000002");  // cancels
  EXPECT_EQ(CounterOf(m, 2), "00000000");
  EXPECT_EQ(Get("Resets"), "42");
  EXPECT_EQ(Get("Cancels"), "2");

  // A counter stops at the largest value its eight digits show.
  ASSERT_EQ(Set("Counter8", "99999999"), "");
  Run("C00");
  EXPECT_EQ(CounterOf(Run("CM0"), 8), "99999999");
}

}  // namespace
}  // namespace q7msim

namespace simtest {
namespace {

class ReaderModelOnLink : public testing::TestWithParam<const char*> {
 protected:
  bool serial() const { return std::string(GetParam()) == "serial"; }
  void TearDown() override {
    if (sim_.process().pid() > 0) {
      EXPECT_EQ(sim_.Quit(), 0);
    }
  }
  // A fresh host for each exchange: the reader must not notice hosts coming
  // and going.
  std::string ExchangeAsNewHost(const std::string& command) {
    if (serial()) {
      SerialHost host;
      if (!host.Open(sim_.Address("r1"))) return "(no open)";
      return host.Exchange(command);
    }
    BusHost host;
    if (host.Open(sim_.Address("r1"), BusHost::kReports) != 0) return "(no open)";
    return host.Exchange(command);
  }
  // Something the link refuses before the reader sees a command.
  void SendDamaged() {
    if (serial()) {
      SerialHost host;
      ASSERT_TRUE(host.Open(sim_.Address("r1")));
      ASSERT_TRUE(host.Send(SerialHost::Frame("C10", /*wrongCheck=*/true)));
      EXPECT_EQ(host.ReadControl(), std::string("\x10\x15", 2));
      return;
    }
    BusHost host;
    ASSERT_EQ(host.Open(sim_.Address("r1"), BusHost::kReports), 0);
    std::vector<uint8_t> packet(host.identity().outputLength, 0);
    packet[0] = 1;
    packet[2] = 200;  // more than report id 1 holds
    ASSERT_TRUE(host.SendPacket(packet));
    ASSERT_TRUE(sim_.WaitForLog("output report refused"));
  }

  SimProcess sim_;
};

TEST_P(ReaderModelOnLink, StateAndCountersOutliveTheHosts) {
  ASSERT_TRUE(sim_.Start({serial() ? "--serial" : "--usb", "--set", "CardPosition=inside"}));
  EXPECT_EQ(ExchangeAsNewHost("C11"), "P1102");
  ASSERT_EQ(sim_.Control("set r1 ChipContact powered"), "OK\n");
  EXPECT_EQ(ExchangeAsNewHost("C11"), "P1111");
  EXPECT_EQ(ExchangeAsNewHost("C00"), "P0002");
  EXPECT_EQ(ExchangeAsNewHost("CY604"), "PY602");
  EXPECT_EQ(ExchangeAsNewHost("CY0").substr(5, 2), "04");
  SendDamaged();
  EXPECT_EQ(ExchangeAsNewHost("CQQ"), "NQQ00");

  std::string m = ExchangeAsNewHost("CM0");
  ASSERT_EQ(m.size(), 165u);
  EXPECT_EQ(m.substr(5, 8), "00000001");   // the card given at start
  EXPECT_EQ(m.substr(29, 8), "00000001");  // negative answers
  EXPECT_EQ(m.substr(45, 8), "00000001");  // undefined commands
  EXPECT_EQ(m.substr(53, 8), "00000001");  // link errors
  EXPECT_EQ(m.substr(61, 8), "00000001");  // resets
  EXPECT_EQ(sim_.Control("get r1 Counter7"), "OK\n1\n");
  std::string status = sim_.Control("status r1");
  EXPECT_NE(status.find("CardStatus=02\n"), std::string::npos);
  EXPECT_NE(status.find("Counters=1,0,0,1,0,1,1,1,0,"), std::string::npos);

  if (!serial()) {
    // Pulling the plug does not reset the reader either.
    ASSERT_EQ(sim_.Control("unplug r1"), "OK\n");
    ASSERT_EQ(sim_.Control("replug r1"), "OK\n");
    EXPECT_EQ(ExchangeAsNewHost("CM0").substr(61, 8), "00000001");
    EXPECT_EQ(ExchangeAsNewHost("C11"), "P1102");
  }
}

INSTANTIATE_TEST_SUITE_P(BothLinks, ReaderModelOnLink, testing::Values("serial", "usb"));

}  // namespace
}  // namespace simtest
