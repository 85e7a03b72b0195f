// Errors, cancels and raw bytes on demand: the answer faults and the command
// filter of the timing faults, parsed, counted and seen by hosts on both
// links.
#include <gtest/gtest.h>

#include <string>

#include "fault_plan.h"
#include "sim_host.h"

namespace q7msim {
namespace {

TEST(AnswerFaultRequest, ParsesCodesCommandsAndBytesAsWritten) {
  FaultRequest r;
  std::string error;
  ASSERT_TRUE(ParseFaultRequest("error code=46 cmd=6a count=2", &r, &error)) << error;
  EXPECT_EQ(r.kind, FaultKind::kError);
  EXPECT_EQ(std::string(r.errorCode.data(), 2), "46");
  EXPECT_FALSE(r.anyCommand);
  EXPECT_EQ(std::string(r.command.data(), 2), "6a");
  EXPECT_EQ(r.count, 2u);
  ASSERT_TRUE(ParseFaultRequest("error code=ZZ rate=1", &r, &error)) << error;
  EXPECT_TRUE(r.anyCommand);
  EXPECT_DOUBLE_EQ(r.rate, 1.0);
  ASSERT_TRUE(ParseFaultRequest("reply data=", &r, &error)) << error;
  EXPECT_TRUE(r.data.empty());
  ASSERT_TRUE(ParseFaultRequest("reply data=0a10fF cmd=10", &r, &error)) << error;
  EXPECT_EQ(r.data, (std::vector<uint8_t>{0x0A, 0x10, 0xFF}));
  ASSERT_TRUE(ParseFaultRequest("reply data=" + std::string(8192, '5'), &r, &error)) << error;
  EXPECT_EQ(r.data.size(), 4096u);
  ASSERT_TRUE(ParseFaultRequest("cancel-reply cmd=C0", &r, &error)) << error;
  EXPECT_EQ(r.kind, FaultKind::kCancelReply);
  ASSERT_TRUE(ParseFaultRequest("late ms=100 cmd=10", &r, &error)) << error;
  EXPECT_FALSE(r.anyCommand);
  ASSERT_TRUE(ParseFaultRequest("no-answer cmd=M0", &r, &error)) << error;
  ASSERT_TRUE(ParseFaultRequest("clear error", &r, &error)) << error;
  EXPECT_EQ(r.kind, FaultKind::kError);

  for (const char* bad :
       {"error", "error code=4", "error code=466", "error code=46 cmd=6", "error code=46 cmd=6ab",
        "error data=00", "reply", "reply data=ABC", "reply data=GG", "reply data=00 code=46",
        "cancel-reply data=00", "cancel-reply code=46", "nak cmd=10", "unplug-on-command cmd=10",
        "dsr-off cmd=10", "late ms=5 code=46"}) {
    EXPECT_FALSE(ParseFaultRequest(bad, &r, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  EXPECT_FALSE(ParseFaultRequest("reply data=" + std::string(8194, '0'), &r, &error));
}

TEST(AnswerFaultPlan, FilteredFaultsCountOnlyTheirCommand) {
  FaultPlan plan;
  FaultRequest r;
  std::string error;
  ASSERT_TRUE(ParseFaultRequest("error code=A1 cmd=6a count=2", &r, &error));
  plan.Arm(r);
  EXPECT_FALSE(plan.TakeFor(FaultKind::kError, "10"));
  EXPECT_FALSE(plan.TakeFor(FaultKind::kError, "6A"));  // case matters
  EXPECT_FALSE(plan.TakeFor(FaultKind::kError, ""));    // the cancel is no command
  EXPECT_FALSE(plan.Take(FaultKind::kError));
  EXPECT_TRUE(plan.TakeFor(FaultKind::kError, "6a"));
  EXPECT_EQ(std::string(plan.ErrorCode().data(), 2), "A1");
  EXPECT_EQ(plan.Describe(), "error count=1 cmd=6a code=A1\n");
  EXPECT_TRUE(plan.TakeFor(FaultKind::kError, "6a"));
  EXPECT_FALSE(plan.TakeFor(FaultKind::kError, "6a"));

  // Arming again without cmd= drops the filter.
  ASSERT_TRUE(ParseFaultRequest("error code=J1", &r, &error));
  plan.Arm(r);
  EXPECT_TRUE(plan.TakeFor(FaultKind::kError, "10"));
  ASSERT_TRUE(ParseFaultRequest("reply data=5031 cmd=10", &r, &error));
  plan.Arm(r);
  EXPECT_EQ(plan.Describe(), "reply count=1 cmd=10 data=5031\n");
}

}  // namespace
}  // namespace q7msim

namespace simtest {
namespace {

// One reader on the link named by the parameter, and a host on it.
class AnswerFaults : public testing::TestWithParam<const char*> {
 protected:
  bool serial() const { return std::string(GetParam()) == "serial"; }
  void StartReader(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{serial() ? "--serial" : "--usb"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(sim_.Start(args));
    if (serial()) {
      ASSERT_TRUE(serialHost_.Open(sim_.Address("r1")));
    } else {
      ASSERT_EQ(busHost_.Open(sim_.Address("r1"), BusHost::kReports), 0);
    }
  }
  void TearDown() override {
    serialHost_.Close();
    busHost_.Close();
    if (sim_.process().pid() > 0) {
      EXPECT_EQ(sim_.Quit(), 0);
    }
  }
  void Fault(const std::string& spec) {
    ASSERT_EQ(sim_.Control("fault r1 " + spec), "OK\n") << spec;
  }
  // Sends a command and waits for its answer: true with the answer's bytes
  // (which may be empty), false when none came.
  bool Exchange(const std::string& command, std::string* answer,
                std::chrono::milliseconds limit = 3s) {
    if (!serial()) return busHost_.SendMessage(command) && busHost_.ReceiveMessage(answer, limit);
    bool checkOk = false;
    return serialHost_.SendFrame(command) && serialHost_.ReadControl() == "\x10\x06" &&
           serialHost_.SendEnq() && serialHost_.ReadFrame(answer, &checkOk, limit) && checkOk;
  }
  std::string Exchange(const std::string& command) {
    std::string answer;
    return Exchange(command, &answer) ? answer : "(none)";
  }
  // Clears the serial reader's withheld answer so the next command starts clean.
  void Cancel() {
    if (serial()) {
      ASSERT_TRUE(serialHost_.SendEot());
      ASSERT_EQ(serialHost_.ReadControl(), "\x10\x04");
    } else {
      ASSERT_EQ(busHost_.Exchange("E"), "E");
    }
  }

  SimProcess sim_;
  SerialHost serialHost_;
  BusHost busHost_;
};

TEST_P(AnswerFaults, ErrorAnswersTheMatchingCommandsWithTheChosenCode) {
  StartReader();
  Fault("error code=46 cmd=6a count=2");
  EXPECT_EQ(Exchange("C10"), "P1000");
  EXPECT_EQ(Exchange("C6A"), "N6A00");  // another code: not matched
  EXPECT_EQ(Exchange("C6a11"), "N6a46");
  EXPECT_EQ(Exchange("C6a"), "N6a46");
  EXPECT_EQ(Exchange("C6a"), "N6a02");  // spent: the reader's own answer again

  // Without cmd= any command; the command itself does not run.
  Fault("error code=1Y");
  EXPECT_EQ(Exchange("CP71"), "NP71Y");
  EXPECT_NE(sim_.Control("status r1").find("Led=off"), std::string::npos);
  EXPECT_EQ(Exchange("C11"), "P1100");
  EXPECT_TRUE(sim_.WaitForLog("r1 FAULT error code=1Y"));
}

TEST_P(AnswerFaults, CancelReplyAndRawRepliesReplaceTheAnswer) {
  StartReader();
  Fault("cancel-reply cmd=M0");
  EXPECT_EQ(Exchange("C10"), "P1000");
  EXPECT_EQ(Exchange("CM0"), "E");
  Fault("reply data=50313030 cmd=10");
  EXPECT_EQ(Exchange("C11"), "P1100");
  EXPECT_EQ(Exchange("C10"), "P100");  // one byte short, as armed
  Fault("reply data=4e1000ff");
  EXPECT_EQ(Exchange("CV0"), std::string("N\x10\x00\xFF", 4));
  Fault("reply data=");
  std::string answer = "x";
  ASSERT_TRUE(Exchange("C10", &answer));
  EXPECT_EQ(answer, "");
  EXPECT_EQ(Exchange("C10"), "P1000");
  EXPECT_EQ(sim_.Control("status r1").find("Fault="), std::string::npos);
}

TEST_P(AnswerFaults, RatesAndClearWorkAsForTheOtherFaults) {
  StartReader();
  Fault("error code=90 cmd=10 rate=1");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Exchange("C10"), "N1090");
  EXPECT_NE(sim_.Control("status r1").find("Fault=error rate=1 cmd=10 code=90\n"),
            std::string::npos);
  Fault("clear error");
  EXPECT_EQ(Exchange("C10"), "P1000");
  Fault("cancel-reply rate=1");
  Fault("clear");
  EXPECT_EQ(Exchange("C10"), "P1000");
  // The largest reply fits a control request.
  Fault("reply data=" + std::string(8192, '0') + " cmd=Y0");
  EXPECT_NE(sim_.Control("status r1").find("Fault=reply count=1 cmd=Y0 data=0000"),
            std::string::npos);
  // Faults that only one link has still refuse a command filter.
  EXPECT_EQ(sim_.Control("fault r1 nak cmd=10").rfind("ERR", 0), 0u);
}

TEST_P(AnswerFaults, TimingFaultsCanBeLimitedToOneCommand) {
  StartReader();
  Fault("no-answer cmd=11");
  EXPECT_EQ(Exchange("C10"), "P1000");
  std::string answer;
  EXPECT_FALSE(Exchange("C11", &answer, std::chrono::milliseconds(200)));
  Cancel();
  EXPECT_EQ(Exchange("C11"), "P1100");

  Fault("late ms=300 cmd=L0");
  EXPECT_EQ(Exchange("C10"), "P1000");
  EXPECT_FALSE(sim_.Log().find("FAULT late") != std::string::npos);
  EXPECT_EQ(Exchange("CL0"), "PL00050505050");
  EXPECT_TRUE(sim_.WaitForLog("r1 FAULT late ms=300"));
  // Late and an answer fault together: the chosen answer, late.
  Fault("late ms=200 cmd=10");
  Fault("error code=A1 cmd=10");
  EXPECT_EQ(Exchange("C10"), "N10A1");
}

INSTANTIATE_TEST_SUITE_P(BothLinks, AnswerFaults, testing::Values("serial", "usb"));

TEST(AnswerFaultScenario, ScenarioFaultsAnswerFromTheStart) {
  std::string dir = q7mtest::MakeTempDir("answer-faults");
  q7mtest::WriteFile(dir + "/lab.ini",
                     "[Simulator]\nReaders=front,back\n"
                     "[front]\nLink=serial\nFault1=error code=46 cmd=6a\n"
                     "Fault2=reply data=" +
                         std::string(2000, 'A') +
                         " cmd=M0\n"
                         "[back]\nLink=usb\nFault3=cancel-reply cmd=10\n");
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--scenario", dir + "/lab.ini"}));
  SerialHost serial;
  ASSERT_TRUE(serial.Open(sim.Address("front")));
  EXPECT_EQ(serial.Exchange("C6a"), "N6a46");
  EXPECT_EQ(serial.Exchange("CM0"), std::string(1000, '\xAA'));
  BusHost bus;
  ASSERT_EQ(bus.Open(sim.Address("back"), BusHost::kReports), 0);
  EXPECT_EQ(bus.Exchange("C10"), "E");
  EXPECT_EQ(bus.Exchange("C10"), "P1000");
  EXPECT_EQ(sim.Quit(), 0);
}

}  // namespace
}  // namespace simtest
