// Scenario files: readers, fields and faults set up at start from an INI
// file, read with the platform's INI rules.
#include <gtest/gtest.h>

#include <string>

#include "sim_host.h"

namespace simtest {
namespace {

int RunToEnd(const std::vector<std::string>& args) {
  q7mtest::ChildProcess child;
  if (!child.StartProgram(ProgramPath(), args)) return -1;
  std::string line;
  while (child.ReadLine(&line)) {
  }
  return child.Wait();
}

TEST(Scenario, SetsUpReadersFieldsAndFaults) {
  std::string dir = q7mtest::MakeTempDir("scenario");
  std::string ini = dir + "/PDLNK.INI";
  q7mtest::WriteFile(ini, "[COM7]\nDSR=OFF\n");
  q7mtest::WriteFile(dir + "/lab.ini",
                     "; two readers\n"
                     "[simulator]\n"
                     "Readers = front, back\n"
                     "Seed=5\n"
                     "\n"
                     "[FRONT]\n"
                     "link=Serial\n"
                     "PdlnkIni=" +
                         ini +
                         "\n"
                         "ComPort=7\n"
                         "SerialNumber=100200\n"
                         "Fault1=nak count=1\n"
                         "\n"
                         "[back]\n"
                         "Link=usb\n"
                         "ProductId=83\n"
                         "UsbSerial=\"SN 9\"\n"
                         "Counters=10,20,30\n"
                         ";Counter1=99\n"
                         "Fault2=late ms=300\n");
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--scenario", dir + "/lab.ini", "--usb=extra"}));
  EXPECT_EQ(sim.Control("list"), "OK\nfront serial " + sim.Address("front") + "\nback usb " +
                                     sim.Address("back") + "\nextra usb " + sim.Address("extra") +
                                     "\n");
  EXPECT_EQ(q7mtest::ReadFile(ini), "[COM7]\nDSR=OFF\nDevicePath=" + sim.Address("front") + "\n");

  SerialHost serial;
  ASSERT_TRUE(serial.Open(sim.Address("front")));
  ASSERT_TRUE(serial.SendFrame("CUE"));
  EXPECT_EQ(serial.ReadControl(), std::string("\x10\x15", 2));  // the armed NAK
  EXPECT_EQ(serial.Exchange("CUE").substr(25), "100200");

  BusHost bus;
  BusIdentity id;
  ASSERT_EQ(bus.Open(sim.Address("back"), BusHost::kReports, &id), 0);
  EXPECT_EQ(id.productId, 83);
  EXPECT_EQ(id.serial, "SN 9");
  std::string counters = bus.Exchange("CM0");  // late, but it comes
  ASSERT_GE(counters.size(), 29u);
  EXPECT_EQ(counters.substr(5, 24), "000000100000002000000030");
  EXPECT_TRUE(sim.WaitForLog("back FAULT late ms=300"));
  EXPECT_EQ(sim.Quit(), 0);
}

TEST(Scenario, CommandLineOverridesTheSimulatorSection) {
  std::string dir = q7mtest::MakeTempDir("scenario");
  q7mtest::WriteFile(dir + "/s.ini", "[Simulator]\nReaders=a\nLog=" + dir +
                                         "/from-scenario.log\nControl=" + dir +
                                         "/scenario.ctl\n[a]\nLink=usb\n");
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--scenario", dir + "/s.ini"}));  // --log and --control given
  EXPECT_TRUE(sim.WaitForLog("a LINK PLUG"));
  EXPECT_EQ(q7mtest::ReadFile(dir + "/from-scenario.log"), "");
  EXPECT_EQ(sim.Quit(), 0);

  // Without them on the command line, the scenario's values hold.
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.StartProgram(ProgramPath(), {"--scenario", dir + "/s.ini"}));
  ASSERT_TRUE(child.Expect("control " + dir + "/scenario.ctl"));
  ASSERT_TRUE(child.Expect("ready"));
  q7mtest::ChildProcess ctl;
  ASSERT_TRUE(ctl.StartProgram(ProgramPath(), {"ctl", "--control", dir + "/scenario.ctl", "quit"}));
  EXPECT_EQ(ctl.Wait(), 0);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_NE(q7mtest::ReadFile(dir + "/from-scenario.log").find("a LINK PLUG"), std::string::npos);
}

TEST(Scenario, MalformedScenariosStopTheStart) {
  std::string dir = q7mtest::MakeTempDir("scenario");
  std::string control = "--control=" + dir + "/c.ctl";
  struct Case {
    const char* text;
    int exitCode;
  };
  const Case cases[] = {
      {"[Simulator]\n", 2},                             // no readers
      {"[Simulator]\nReaders=a\n", 2},                  // no section a
      {"[Simulator]\nReaders=a\n[a]\nLink=usb2\n", 2},  // unknown link
      {"[Simulator]\nReaders=a\n[a]\nLink=serial\nComPort=0\n", 2},
      {"[Simulator]\nReaders=a\nSeed=x\n[a]\nLink=usb\n", 2},
      {"[Simulator]\nReaders=a\n[a]\nLink=usb\nProductId=99999\n", 1},  // bad field value
      {"[Simulator]\nReaders=a\n[a]\nLink=usb\nFault3=nak\n", 1},       // serial fault on USB
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string path = dir + "/bad" + std::to_string(i++) + ".ini";
    q7mtest::WriteFile(path, c.text);
    EXPECT_EQ(RunToEnd({"--scenario", path, control}), c.exitCode) << c.text;
  }
  EXPECT_EQ(RunToEnd({"--scenario", dir + "/missing.ini", control}), 2);
}

}  // namespace
}  // namespace simtest
