// rigtool-cli through the whole stack: q7m-sim runs a serial reader for
// COM3, rigtool-cli runs as a program of its own in the test's directory
// (where PDLNK.INI points COM3 at the emulator), and its output is checked
// byte for byte.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string_view>

#include "log_mask.h"
#include "q7m_test.h"
#include "sim_process.h"

namespace {

constexpr const char* kDevice = "COM3:38400";  // the emulator's line speed

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

using rigtooltest::Masked;

std::string Golden(const std::string& name) {
  return q7mtest::ReadFile(std::string(Q7M_RIGTOOL_GOLDEN_DIR) + "/" + name);
}

class RigtoolCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = q7mtest::MakeTempDir("rigtool");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    // A serial reader for COM3 and a USB reader on this test's own bus.
    ASSERT_TRUE(sim_.Start({"--serial", "--pdlnk-ini", dir_ + "/PDLNK.INI", "--com", "3", "--usb",
                            "--set", "UsbSerial=RIG001"}));
  }

  // Runs rigtool-cli with `args`; its standard output and error kept apart.
  CliRun Run(const std::vector<std::string>& args) {
    const std::string stem = dir_ + "/run" + std::to_string(++runs_);
    std::vector<std::string> shell = {"-c",
                                      "exec \"$0\" \"$@\" >'" + stem + ".out' 2>'" + stem + ".err'",
                                      q7mtest::BuildBinDir() + "/rigtool-cli"};
    shell.insert(shell.end(), args.begin(), args.end());
    q7mtest::ChildProcess cli;
    CliRun run;
    if (!cli.StartProgram("/bin/sh", shell)) return run;
    run.status = cli.Wait(std::chrono::seconds(60));
    run.out = q7mtest::ReadFile(stem + ".out");
    run.err = q7mtest::ReadFile(stem + ".err");
    return run;
  }

  std::string List(const std::string& name, const std::string& content) {
    q7mtest::WriteFile(dir_ + "/" + name, content);
    return dir_ + "/" + name;
  }

  std::string dir_;
  int runs_ = 0;
  q7mtest::SimProcess sim_;
};

const char* const kGoldenList =
    "SendCommand|C00|5|5||\r\n"
    "|||||\r\n"
    "LogErrorData|rigtool golden run||||\r\n"
    "Xyz|1||||\r\n"
    "SendCommand|CV0|5|5||\r\n"
    "SendCommand|CXX|5|5||\r\n"
    "SendCommand|{G1}|5|5||\r\n";

TEST_F(RigtoolCli, ASynchronousListRunWritesTheGoldenLogToStdoutAndTheLogFile) {
  const std::string list = List("golden.lst", kGoldenList);
  const std::string logFile = dir_ + "/Q7MDATA.LOG";
  CliRun run = Run({"--device", kDevice, "--list", list, "--sync", "--loop", "2", "--no-timestamps",
                    "--log", logFile});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Masked(run.out), Golden("list_run_sync.log"));
  EXPECT_EQ(q7mtest::ReadFile(logFile), run.out) << "--log creates the file with the log text";
  CliRun again = Run({"--device", kDevice, "--list", list, "--sync", "--loop", "2",
                      "--no-timestamps", "--log", logFile});
  EXPECT_EQ(q7mtest::ReadFile(logFile), run.out + again.out) << "and appends to it after";
}

TEST_F(RigtoolCli, AnAsynchronousRunWaitsEachCallStopsAtTheErrorStopAndEndsWithGetResult) {
  const std::string list = List("golden.lst", kGoldenList);
  CliRun run = Run({"--device", kDevice, "--list", list, "--error-stop", "1", "--get-result"});
  EXPECT_EQ(run.status, 1) << "Error Stop ended the run";
  EXPECT_EQ(Masked(run.out), Golden("list_run_async.log"));
}

TEST_F(RigtoolCli, APickedEntryLogsItsNumberWhileTypedTextStaysAsTyped) {
  CliRun picked = Run({"--device", kDevice, "--call", "ReadMagTrack", "ISO1 AND ISO3"});
  EXPECT_NE(picked.out.find("Command  \t: ReadMagTrack\r\nParameter 1\t: 5\r\n"), std::string::npos)
      << picked.out;
  CliRun typed = Run({"--device", kDevice, "--call", "ReadMagTrack", "0x05"});
  EXPECT_NE(typed.out.find("Command  \t: ReadMagTrack\r\nParameter 1\t: 0x05\r\n"),
            std::string::npos)
      << typed.out;
  CliRun blink = Run({"--device", kDevice, "--call", "BlinkLED", "RED", "RDAX_SET_LED_BLINK1HZ"});
  EXPECT_NE(blink.out.find("Parameter 1\t: 2\r\nParameter 2\t: 2\r\n"), std::string::npos)
      << blink.out;
}

TEST_F(RigtoolCli, LogErrorDataAnswersItsFinalResultEvenInAsynchronousMode) {
  CliRun run = Run({"--device", kDevice, "--call", "LogErrorData", "from the rig", "--async",
                    "--no-timestamps"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Command  \t: LogErrorData\r\nParameter 1\t: from the rig\r\n"
                         "Result\t\t: 0x00000000\r\n\r\n"),
            std::string::npos)
      << run.out;
  CliRun empty = Run({"--device", kDevice, "--call", "LogErrorData", "--no-timestamps"});
  EXPECT_EQ(empty.status, 1) << "an empty text is refused by the library";
  EXPECT_NE(empty.out.find("Result\t\t: 0x82000000\r\n"), std::string::npos) << empty.out;
}

TEST_F(RigtoolCli, AnAsynchronousSendCommandIsJudgedByGetResult) {
  CliRun run = Run({"--device", kDevice, "--call", "SendCommand", "C00", "5", "5", "--get-result",
                    "--no-timestamps"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Result\t\t: 0x00000001\r\n\r\nCommand  \t: GetResult\r\n"
                         "Result\t\t: 0x00000000\r\n\r\n"),
            std::string::npos)
      << "accepted, waited for, no detail for a result of 1, then the final result\n"
      << run.out;
}

TEST_F(RigtoolCli, RunOnceRunsOnlyTheChosenRowsWithoutRunLines) {
  const std::string list = List("four.lst",
                                "LogErrorData|row one||||\n"
                                "LogErrorData|row two||||\n"
                                "LogErrorData|row three||||\n"
                                "LogErrorData|row four||||\n");
  CliRun run = Run({"--device", kDevice, "--list", list, "--rows", "1,3", "--no-timestamps"});
  EXPECT_EQ(run.status, 0);
  const size_t one = run.out.find("row one");
  const size_t three = run.out.find("row three");
  EXPECT_NE(one, std::string::npos);
  EXPECT_NE(three, std::string::npos);
  EXPECT_LT(one, three);
  EXPECT_EQ(run.out.find("row two"), std::string::npos);
  EXPECT_EQ(run.out.find("row four"), std::string::npos);
  EXPECT_EQ(run.out.find("Run:"), std::string::npos);
  EXPECT_EQ(run.out.find("No. of Runs"), std::string::npos);
  EXPECT_EQ(Run({"--device", kDevice, "--list", list, "--rows", "5"}).status, 2);
}

TEST_F(RigtoolCli, ErrorStopTwoEndsTheRunRightAfterTheSecondFailingCall) {
  const std::string list = List("fails.lst",
                                "SendCommand|{G1}||||\r\n"
                                "LogErrorData|between||||\r\n"
                                "SendCommand|{A||||\r\n"
                                "LogErrorData|never||||\r\n");
  CliRun run = Run(
      {"--device", kDevice, "--list", list, "--error-stop", "2", "--loop", "3", "--no-timestamps"});
  EXPECT_EQ(run.status, 1);
  const std::string tail =
      "Command  \t: SendCommand\r\nParameter 1\t: {A\r\nResult\t\t: 0x82000000\r\n\r\n"
      "Loop operation stopped! Errors: 2\r\n\r\n";
  ASSERT_GE(run.out.size(), tail.size());
  EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail) << run.out;
  EXPECT_EQ(run.out.find("never"), std::string::npos);
}

TEST_F(RigtoolCli, ATypeBAttributeThatIsNotNineBytesMakesNoCallAndEndsTheRun) {
  CliRun call =
      Run({"--device", kDevice, "--call", "TypeBAttribute", "{01 02}", "--no-timestamps"});
  EXPECT_EQ(call.status, 1);
  EXPECT_EQ(call.err, "Warning: Parameters should be 9 bytes only\n");
  const size_t block = call.out.find("Command  \t: TypeBAttribute\r\nParameter 1\t: {01 02}\r\n");
  ASSERT_NE(block, std::string::npos) << call.out;
  EXPECT_EQ(call.out.find("Result", block), std::string::npos) << "no result line";

  const std::string list = List("typeb.lst",
                                "TypeBAttribute|{G}||||\r\n"
                                "LogErrorData|after||||\r\n");
  CliRun run = Run({"--device", kDevice, "--list", list});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.find("after"), std::string::npos);
}

TEST_F(RigtoolCli, WithoutLoggingNothingIsWrittenWhileTheCallsStillRun) {
  const std::string logFile = dir_ + "/quiet.log";
  CliRun run = Run({"--device", kDevice, "--call", "SendCommand", "CXX", "5", "5", "--sync",
                    "--no-log", "--log", logFile});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(q7mtest::ReadFile(logFile), "");
  EXPECT_TRUE(sim_.WaitForLog("CXX")) << "the command reached the reader";
}

TEST_F(RigtoolCli, UsbReadersOpenByAnEmptyOrAMatchingSerialNumberField) {
  CliRun any = Run({"--device", "USB", "--call", "LogErrorData", "usb", "--no-timestamps"});
  EXPECT_EQ(any.status, 0) << any.out << any.err;
  EXPECT_EQ(
      any.out.rfind("Command  \t: OpenDevice\r\nParameter 1\t: NULL\r\nResult\t\t: lpcRdax = ", 0),
      0u)
      << any.out;
  CliRun named = Run({"--device", "USB:RIG001", "--call", "LogErrorData", "usb"});
  EXPECT_EQ(named.status, 0) << named.out << named.err;
  EXPECT_NE(named.out.find("Parameter 1\t: RIG001\r\n"), std::string::npos);
  EXPECT_EQ(Run({"--device", "USB:OTHER", "--call", "LogErrorData", "usb"}).status, 2);
}

TEST_F(RigtoolCli, UsageErrorsUnknownApisUnreadableListsAndFailedOpensExitWithTwo) {
  EXPECT_EQ(Run({"--call", "GetStatus"}).status, 2) << "no device";
  EXPECT_EQ(Run({"--device", kDevice}).status, 2) << "neither list nor call";
  EXPECT_EQ(Run({"--device", "LPT1", "--call", "GetStatus"}).status, 2);
  EXPECT_EQ(Run({"--device", kDevice, "--call", "GetStatus", "--loop", "-1"}).status, 2);
  EXPECT_EQ(Run({"--device", kDevice, "--call", "GetStatus", "--error-stop", "2147483648"}).status,
            2);
  CliRun unknown = Run({"--device", kDevice, "--call", "Lock2"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.out, "") << "nothing was opened";

  CliRun unreadable = Run({"--device", kDevice, "--list", dir_ + "/absent.lst"});
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_EQ(unreadable.err, "Warning: Cannot read data from file!\n");

  CliRun failed = Run({"--device", "COM7", "--call", "GetStatus", "--no-timestamps"});
  EXPECT_EQ(failed.status, 2);
  EXPECT_EQ(failed.out.rfind("Command  \t: OpenDevice\r\nParameter 1\t: NULL\r\nResult\t\t: 0x", 0),
            0u)
      << failed.out;
  EXPECT_EQ(failed.err.rfind("Error: ", 0), 0u) << "the system's text for the code";

  CliRun help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option :
       {"--device", "--list", "--rows", "--call", "--sync", "--async", "--loop", "--error-stop",
        "--no-timestamps", "--no-log", "--get-result", "--log"}) {
    EXPECT_NE(help.out.find(std::string("e.g. ") + option), std::string::npos) << option;
  }
}

}  // namespace
