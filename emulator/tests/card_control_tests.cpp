// The card handled from outside while the emulator runs: the card verbs of
// `q7m-sim ctl`, and card status monitoring held on both links until the
// card moves, the time is up, or the host sends something else.
#include <gtest/gtest.h>

#include <string>

#include "sim_host.h"

namespace simtest {
namespace {

int Ctl(const SimProcess& sim, const std::vector<std::string>& words, std::string* output) {
  std::vector<std::string> args{"ctl", "--control", sim.controlPath()};
  args.insert(args.end(), words.begin(), words.end());
  q7mtest::ChildProcess child;
  if (!child.StartProgram(ProgramPath(), args)) return -1;
  output->clear();
  for (std::string line; child.ReadLine(&line);) *output += line + "\n";
  return child.Wait();
}

TEST(CardControl, CardVerbsMoveTheCardAsACustomerWould) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb"}));
  std::string out;
  // Track data with blanks travels as one word.
  ASSERT_EQ(Ctl(sim, {"insert", "r1", "--track1", "%B41^DOE/JOHN Q^25?", "--gate"}, &out), 0);
  ASSERT_EQ(Ctl(sim, {"get", "r1", "Track1"}, &out), 0);
  EXPECT_EQ(out, "%B41^DOE/JOHN Q^25?\n");
  ASSERT_EQ(Ctl(sim, {"get", "r1", "CardPosition"}, &out), 0);
  EXPECT_EQ(out, "gate\n");
  EXPECT_EQ(Ctl(sim, {"insert", "r1", "--track2", "1"}, &out), 1) << "the throat is taken";
  ASSERT_EQ(Ctl(sim, {"insert", "r1"}, &out), 0);  // pushed in
  ASSERT_EQ(Ctl(sim, {"get", "r1", "CardPosition"}, &out), 0);
  EXPECT_EQ(out, "inside\n");

  ASSERT_EQ(Ctl(sim, {"jam", "r1", "code=07"}, &out), 0);
  EXPECT_EQ(Ctl(sim, {"remove", "r1"}, &out), 1) << "a jammed card does not move";
  ASSERT_EQ(Ctl(sim, {"unjam", "r1"}, &out), 0);
  ASSERT_EQ(Ctl(sim, {"set", "r1", "TransactionSetting", "0701"}, &out), 0);
  ASSERT_EQ(Ctl(sim, {"remove", "r1"}, &out), 0);
  EXPECT_EQ(out, "held in the throat by the pull-out lock\n");
  EXPECT_EQ(Ctl(sim, {"remove", "r1"}, &out), 1) << "locked";
  ASSERT_EQ(Ctl(sim, {"set", "r1", "CardLocked", "off"}, &out), 0);
  ASSERT_EQ(Ctl(sim, {"remove", "r1"}, &out), 0);
  ASSERT_EQ(Ctl(sim, {"get", "r1", "Counter1"}, &out), 0);
  EXPECT_EQ(out, "1\n") << "one card, one insertion";
  EXPECT_EQ(Ctl(sim, {"insert", "r1", "--track4", "x"}, &out), 1);
  EXPECT_EQ(Ctl(sim, {"pull", "r1"}, &out), 1);
}

TEST(CardControl, MonitoringOnTheBusAnswersWhenTheCardMovesAndEndsOnTheNextCommand) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb"}));
  BusHost host;
  ASSERT_EQ(host.Open(sim.Address("r1"), BusHost::kReports), 0);
  ASSERT_TRUE(host.SendMessage("C9230"));
  ASSERT_TRUE(sim.WaitForLog("HOLD card status monitoring for 30 s"));
  ASSERT_NE(sim.Control("insert r1").find("OK"), std::string::npos);
  std::string answer;
  ASSERT_TRUE(host.ReceiveMessage(&answer));
  EXPECT_EQ(answer, "P920212000");

  // A command sent while the reader waits ends the wait unanswered.
  ASSERT_TRUE(host.SendMessage("C9230"));
  ASSERT_TRUE(sim.WaitForLog("HOLD card status monitoring for 30 s"));
  EXPECT_EQ(host.Exchange("C10"), "P1002");
  ASSERT_NE(sim.Control("remove r1").find("OK"), std::string::npos);
  EXPECT_EQ(host.Exchange("C10"), "P1000") << "no late monitoring answer in between";
}

TEST(CardControl, MonitoringOnTheSerialLineAnswersTheEnquiryOnceTheTimeIsUp) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--serial"}));
  SerialHost host;
  ASSERT_TRUE(host.Open(sim.Address("r1")));
  ASSERT_TRUE(host.SendFrame("C9201"));
  ASSERT_EQ(host.ReadControl(), std::string("\x10\x06", 2));
  ASSERT_TRUE(host.SendEnq());
  std::string data;
  bool checkOk = false;
  ASSERT_TRUE(host.ReadFrame(&data, &checkOk, std::chrono::seconds(5)));
  EXPECT_TRUE(checkOk);
  EXPECT_EQ(data, "P920000000");

  // The cancel ends a wait too, and is answered at once.
  ASSERT_TRUE(host.SendFrame("C9230"));
  ASSERT_EQ(host.ReadControl(), std::string("\x10\x06", 2));
  ASSERT_TRUE(host.SendEot());
  EXPECT_EQ(host.ReadControl(), std::string("\x10\x04", 2));
  EXPECT_TRUE(sim.WaitForLog("card status monitoring ended without an answer"));
}

}  // namespace
}  // namespace simtest
