// Driving a running emulator: the control socket, `q7m-sim ctl`, the
// command line and the wire log.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "sim_host.h"

namespace simtest {
namespace {

// Runs `q7m-sim args...` to its end; its exit code and what it printed.
int RunProgram(const std::vector<std::string>& args, std::string* output) {
  q7mtest::ChildProcess child;
  if (!child.StartProgram(ProgramPath(), args)) return -1;
  output->clear();
  std::string line;
  while (child.ReadLine(&line)) *output += line + "\n";
  return child.Wait();
}

int Ctl(const SimProcess& sim, const std::string& command, std::string* output) {
  std::vector<std::string> args{"ctl", "--control", sim.controlPath()};
  size_t start = 0;
  while (start <= command.size()) {
    size_t blank = command.find(' ', start);
    if (blank == std::string::npos) blank = command.size();
    if (blank > start) args.push_back(command.substr(start, blank - start));
    start = blank + 1;
  }
  return RunProgram(args, output);
}

TEST(Control, CtlListsReadsAndChangesTheReaders) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--serial=front", "--usb=back"}));
  std::string out;
  ASSERT_EQ(Ctl(sim, "list", &out), 0);
  EXPECT_EQ(out,
            "front serial " + sim.Address("front") + "\nback usb " + sim.Address("back") + "\n");

  ASSERT_EQ(Ctl(sim, "set back SerialNumber 777777", &out), 0);
  ASSERT_EQ(Ctl(sim, "get back SerialNumber", &out), 0);
  EXPECT_EQ(out, "777777\n");
  // A model number with blanks is taken as typed.
  ASSERT_EQ(Ctl(sim, "set back Model TYPE A 1", &out), 0);
  BusHost host;
  ASSERT_EQ(host.Open(sim.Address("back"), BusHost::kReports), 0);
  EXPECT_EQ(host.Exchange("CUE"), "PUE00TYPE A 1" + std::string(12, ' ') + "777777");

  ASSERT_EQ(Ctl(sim, "status front", &out), 0);
  EXPECT_NE(out.find("Name=front\n"), std::string::npos);
  EXPECT_NE(out.find("Link=serial\n"), std::string::npos);
  EXPECT_NE(out.find("BaudRate=38400\n"), std::string::npos);
  EXPECT_NE(out.find("Faults=none\n"), std::string::npos);
  ASSERT_EQ(Ctl(sim, "fault front late ms=250 count=2", &out), 0);
  ASSERT_EQ(Ctl(sim, "status front", &out), 0);
  EXPECT_NE(out.find("Fault=late count=2 ms=250\n"), std::string::npos);
  ASSERT_EQ(Ctl(sim, "clear front", &out), 0);
  ASSERT_EQ(Ctl(sim, "status", &out), 0);
  EXPECT_NE(out.find("Name=back\n"), std::string::npos);
  EXPECT_EQ(out.find("Fault=late"), std::string::npos);
  EXPECT_EQ(sim.Quit(), 0);
}

TEST(Control, RefusalsAreReportedWithExitCodes) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--serial"}));
  std::string out;
  EXPECT_EQ(Ctl(sim, "get r9 Model", &out), 1);
  EXPECT_EQ(Ctl(sim, "set r1 Sensor1 100", &out), 1);
  EXPECT_EQ(Ctl(sim, "set r1 NoSuchField 1", &out), 1);
  EXPECT_EQ(Ctl(sim, "fault r1 unplug", &out), 1);  // not a USB reader
  EXPECT_EQ(Ctl(sim, "fault r1 explode", &out), 1);
  EXPECT_EQ(Ctl(sim, "frobnicate", &out), 1);
  // An empty packet reads like the end of the connection: no answer.
  EXPECT_EQ(sim.Control(""), "");
  EXPECT_EQ(sim.Control("   "), "ERR empty command\n");
  EXPECT_EQ(sim.Control(std::string(17000, 'x')), "ERR request longer than 16384 bytes\n");
  // The emulator is unharmed by all of it.
  EXPECT_EQ(Ctl(sim, "get r1 Model", &out), 0);
  EXPECT_EQ(sim.Quit(), 0);
  // Nobody listens any more.
  EXPECT_EQ(Ctl(sim, "list", &out), 2);
  struct stat st {};
  EXPECT_NE(lstat(sim.controlPath().c_str(), &st), 0);
}

TEST(Control, QuitRemovesTheBusDevicesAndEndsCleanly) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb", "--usb"}));
  struct stat st {};
  ASSERT_EQ(lstat(sim.Address("r2").c_str(), &st), 0);
  BusHost host;
  ASSERT_EQ(host.Open(sim.Address("r1"), BusHost::kReports), 0);
  EXPECT_EQ(sim.Quit(), 0);
  EXPECT_TRUE(host.WaitForHangup());
  EXPECT_NE(lstat(sim.Address("r1").c_str(), &st), 0);
  EXPECT_NE(lstat(sim.Address("r2").c_str(), &st), 0);
}

TEST(Control, SigtermEndsTheEmulatorCleanly) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb"}));
  sim.process().Kill(SIGTERM);
  EXPECT_EQ(sim.process().Wait(), 0);
  struct stat st {};
  EXPECT_NE(lstat(sim.Address("r1").c_str(), &st), 0);
  EXPECT_NE(lstat(sim.controlPath().c_str(), &st), 0);
}

TEST(Control, WireLogShowsEveryByteAndMessage) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--serial", "--usb"}));
  SerialHost serial;
  ASSERT_TRUE(serial.Open(sim.Address("r1")));
  ASSERT_EQ(serial.Exchange("C10"), "P1000");
  BusHost bus;
  ASSERT_EQ(bus.Open(sim.Address("r2"), BusHost::kReports), 0);
  ASSERT_EQ(bus.Exchange("C11"), "P1100");
  ASSERT_NE(sim.Control("mark checkpoint one").find("OK"), std::string::npos);
  EXPECT_TRUE(sim.WaitForLog("- MARK checkpoint one"));
  std::string log = sim.Log();
  for (const char* expected : {
           "r1 RX 10 02 43 31 30 10 03 41",  // the command frame as sent
           "r1 LINK ACK",
           "r1 TX 10 06",
           "r1 CMD 3 43 31 30 |C10|",
           "r1 RSP 5 50 31 30 30 30 |P1000|",
           "r1 RX 10 05",
           "r1 TX 10 02 50 31 30 30 30 10 03 52",
           "r2 LINK OPEN host=1",
           "r2 RX 02 00 03 43 31 31 +2062*00",  // a whole output report
           "r2 TX 02 00 05 50 31 31 30 30 +2060*00",
       }) {
    EXPECT_NE(log.find(expected), std::string::npos) << expected << "\n" << log;
  }
  EXPECT_EQ(sim.Quit(), 0);
}

TEST(Control, CommandLineIsCheckedBeforeAnythingStarts) {
  std::string out;
  EXPECT_EQ(RunProgram({}, &out), 2);
  EXPECT_EQ(RunProgram({"--set", "Model=X"}, &out), 2);  // no reader yet
  EXPECT_EQ(RunProgram({"--usb", "--pdlnk-ini", "x.ini"}, &out), 2);
  EXPECT_EQ(RunProgram({"--serial", "--com", "0"}, &out), 2);
  EXPECT_EQ(RunProgram({"--bogus"}, &out), 2);
  EXPECT_EQ(RunProgram({"ctl"}, &out), 2);
  // Values are checked when the readers are built: nothing is left behind.
  std::string dir = q7mtest::MakeTempDir("bad");
  EXPECT_EQ(RunProgram({"--usb", "--set", "ProductId=70000", "--control", dir + "/c.ctl"}, &out),
            1);
  EXPECT_EQ(RunProgram({"--serial", "--fault", "zero-length", "--control", dir + "/c.ctl"}, &out),
            1);
  EXPECT_EQ(RunProgram({"--usb=a", "--usb=a", "--control", dir + "/c.ctl"}, &out), 1);
  struct stat st {};
  EXPECT_NE(lstat((dir + "/c.ctl").c_str(), &st), 0);
  EXPECT_NE(lstat((BusDir() + "/a.hid").c_str(), &st), 0);
}

TEST(Control, HelpExplainsLinksFaultsControlAndScenario) {
  std::string out;
  ASSERT_EQ(RunProgram({"--help"}, &out), 0);
  for (const char* topic :
       {"--serial", "--usb", "--pdlnk-ini", "--scenario", "--log", "ctl", "unplug", "dsr-off",
        "Q7M_HIDBUS_DIR", "DevicePath", "[Simulator]", "virtual-hid-bus.md"}) {
    EXPECT_NE(out.find(topic), std::string::npos) << topic;
  }
  ASSERT_EQ(RunProgram({"--list-faults"}, &out), 0);
  for (const char* fault : {"unplug-on-command", "error ", "cancel-reply", "reply ", "cmd=YY"})
    EXPECT_NE(out.find(fault), std::string::npos) << fault;
  ASSERT_EQ(RunProgram({"--list-fields"}, &out), 0);
  for (const char* field :
       {"InputReportLength", "FirmwareVersion", "CardPosition", "ChipContact", "Counter20", "Led "})
    EXPECT_NE(out.find(field), std::string::npos) << field;
}

}  // namespace
}  // namespace simtest
