// The main dialog on the whole stack: q7m-sim runs a serial reader for COM3
// (PDLNK.INI in the test's directory points COM3 at it) and a USB reader,
// and the test presses the window's buttons as an engineer would.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>

#include "api_list.h"
#include "dialog_harness.h"
#include "log_mask.h"
#include "q7m_test.h"
#include "sim_process.h"

namespace {

using namespace rigtooltest;

constexpr const char* kOpened = "Result\t\t: lpcRdax = ";

class DialogOnSim : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = q7mtest::MakeTempDir("dialog");
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    ASSERT_TRUE(sim_.Start({"--serial", "--pdlnk-ini", dir_ + "/PDLNK.INI", "--com", "3", "--usb",
                            "--set", "UsbSerial=RIG001"}));
    ui_.Get<QCheckBox>("timeStamps")->setChecked(false);
    ui_.Type("logName", QString::fromStdString(dir_ + "/Q7MDATA.LOG"));
  }

  void OpenCom3() {
    ui_.Get<QRadioButton>("com3")->click();
    ui_.Type("field", "38400");
    ui_.Click("openDevice");
    ASSERT_TRUE(ui_.dialog().core().IsOpen());
    ASSERT_TRUE(ui_.LogShows(kOpened));
  }

  std::string WriteList(const std::string& name, const std::string& content) {
    q7mtest::WriteFile(dir_ + "/" + name, content);
    return dir_ + "/" + name;
  }

  void Load(const std::string& path) {
    ui_.boxes.file = QString::fromStdString(path);
    ui_.Click("load");
  }

  int Rows() { return ui_.Get<QTableWidget>("commandList")->rowCount(); }

  std::string dir_;
  q7mtest::SimProcess sim_;
  DialogHarness ui_;
};

TEST_F(DialogOnSim, AnAsynchronousCallIsAcceptedAwaitedAndGetResultLogsItsFinalResult) {
  OpenCom3();
  ui_.ChooseApi("SendCommand");
  ui_.TypeParam(1, "C00");
  ui_.TypeParam(2, "5");
  ui_.TypeParam(3, "5");
  ui_.Click("execute");
  ASSERT_TRUE(ui_.WorkerIdle());
  EXPECT_EQ(ui_.dialog().core().LastRunEnd(), RunEnd::kReported);
  EXPECT_TRUE(
      ui_.LogShows("Command  \t: SendCommand\r\nParameter 1\t: C00\r\nParameter 2\t: 5\r\n"
                   "Parameter 3\t: 5\r\nResult\t\t: 0x00000001\r\n"));
  ui_.Click("getResult");
  EXPECT_TRUE(ui_.LogShows("Command  \t: GetResult\r\nResult\t\t: 0x00000000\r\n"));
  EXPECT_TRUE(ui_.boxes.shown.empty()) << ui_.boxes.shown.front();
}

TEST_F(DialogOnSim, WhileACallRunsTheDirectButtonsAnswerAndCancelEndsIt) {
  OpenCom3();
  sim_.Control("fault r1 no-answer");
  ui_.ChooseApi("SendCommand");
  ui_.TypeParam(1, "C00");
  ui_.TypeParam(2, "60");  // time-outs far beyond the test's waits
  ui_.TypeParam(3, "60");
  ui_.Click("execute");
  ASSERT_TRUE(sim_.WaitForLog("C00")) << "the reader holds the command";
  ASSERT_TRUE(ui_.LogShows("Result\t\t: 0x00000001\r\n"));
  EXPECT_EQ(ui_.dialog().core().LastRunEnd(), RunEnd::kNone) << "still waiting for the reader";

  ui_.Click("getResult");
  ui_.Click("startRestriction");
  ui_.Click("endRestriction");
  ui_.Click("execute");
  EXPECT_TRUE(ui_.LogShows("Command  \t: GetResult\r\nResult\t\t: 0x"));
  EXPECT_TRUE(ui_.LogShows("Command  \t: StartRestriction\r\nResult\t\t: 0x"));
  EXPECT_TRUE(ui_.LogShows("Command  \t: EndRestriction\r\nResult\t\t: 0x"));
  EXPECT_EQ(ui_.boxes.shown,
            std::vector<std::string>{"Warning: Cannot continue! Currently executing API!"})
      << ui_.LogView();

  ui_.Click("cancel");
  EXPECT_TRUE(ui_.LogShows("Command  \t: Cancel\r\nResult\t\t: 0x00000000\r\n"));
  ASSERT_TRUE(ui_.WorkerIdle()) << "the cancelled call was reported long before its wait ran out";
  EXPECT_EQ(ui_.dialog().core().LastRunEnd(), RunEnd::kReported);
  ui_.Click("getResult");
  const std::string log = ui_.LogView();
  EXPECT_EQ(log.rfind("Command  \t: GetResult\nResult\t\t: 0x00000000\n"), std::string::npos)
      << "the held command did not succeed\n"
      << log;
}

TEST_F(DialogOnSim, RunAllWithLoopTwoRunsTheListTwiceAndStopEndsAnEndlessRun) {
  OpenCom3();
  Load(WriteList("two.lst", "LogErrorData|row A||||\r\nLogErrorData|row B||||\r\n"));
  ASSERT_EQ(Rows(), 2);
  ui_.Get<QRadioButton>("synchronous")->click();
  ui_.Type("loops", "2");
  ui_.Click("runAll");
  ASSERT_TRUE(ui_.WorkerIdle());
  EXPECT_EQ(ui_.dialog().core().LastRunEnd(), RunEnd::kListDone);
  const std::string log = ui_.LogView();
  size_t at = log.find("No. of Runs\t: 2\nError Stop\t: 0\nOperation\t: Synchronous\n");
  ASSERT_NE(at, std::string::npos) << log;
  for (const char* step :
       {"Run: 1/2", "row A", "Run: 1/2", "row B", "Run: 2/2", "row A", "Run: 2/2", "row B"}) {
    at = log.find(step, at + 1);
    ASSERT_NE(at, std::string::npos) << step << "\n" << log;
  }
  EXPECT_EQ(log.find("row", at + 1), std::string::npos);

  ui_.Type("loops", "2147483647");
  ui_.Click("runAll");
  ASSERT_TRUE(ui_.LogShows("Run: 3/2147483647"));
  ui_.Click("runAll");
  EXPECT_EQ(ui_.boxes.shown, std::vector<std::string>{"Warning: Already running!"});
  ui_.Click("stop");
  ASSERT_TRUE(ui_.WorkerIdle());
  EXPECT_NE(ui_.dialog().core().LastRunEnd(), RunEnd::kNone);
  ui_.Click("runAll");
  EXPECT_EQ(ui_.boxes.shown.size(), 1u) << "idle again: a new run starts";
  ui_.Click("stop");
  ASSERT_TRUE(ui_.WorkerIdle());
}

TEST_F(DialogOnSim, ErrorStopTwoEndsTheRunAfterTheSecondFailingCall) {
  OpenCom3();
  Load(WriteList("fails.lst",
                 "SendCommand|{G1}||||\r\nLogErrorData|between||||\r\n"
                 "SendCommand|{A||||\r\nLogErrorData|never||||\r\n"));
  ui_.Type("errorStop", "2");
  ui_.Type("loops", "3");
  ui_.Click("runAll");
  ASSERT_TRUE(ui_.WorkerIdle());
  EXPECT_EQ(ui_.dialog().core().LastRunEnd(), RunEnd::kErrorStopped);
  const std::string tail =
      "Parameter 1\t: {A\nResult\t\t: 0x82000000\n\nLoop operation stopped! Errors: 2\n\n";
  const std::string log = ui_.LogView();
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
  EXPECT_EQ(log.find("never"), std::string::npos);
}

TEST_F(DialogOnSim, EnterInTheSerialFieldOpensTheReaderAndOnOpenDeviceExecutes) {
  ui_.Get<QRadioButton>("com3")->click();
  auto* field = ui_.Get<QLineEdit>("field");
  field->setText("38400");
  field->setFocus();
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_TRUE(ui_.dialog().core().IsOpen());
  EXPECT_TRUE(
      ui_.LogShows("Command  \t: OpenDevice\r\nParameter 1\t: 38400\r\n"
                   "Result\t\t: lpcRdax = "));
  EXPECT_EQ(ui_.closed, 0) << "Enter never closes the window";

  ui_.ChooseApi("LogErrorData");
  ui_.TypeParam(1, "by enter");
  auto* open = ui_.Get<QPushButton>("openDevice");
  open->setFocus();
  QTest::keyClick(open, Qt::Key_Return);
  ASSERT_TRUE(ui_.WorkerIdle());
  EXPECT_TRUE(
      ui_.LogShows("Command  \t: LogErrorData\r\nParameter 1\t: by enter\r\n"
                   "Result\t\t: 0x00000000\r\n"));

  const std::string before = ui_.LogView();
  auto* loops = ui_.Get<QLineEdit>("loops");
  loops->setFocus();
  QTest::keyClick(loops, Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_EQ(ui_.LogView(), before) << "Enter elsewhere does nothing";
  EXPECT_EQ(ui_.closed, 0);
}

TEST_F(DialogOnSim, EscapeClosesTheReaderAndAppendsTheLogToItsFile) {
  OpenCom3();
  const std::string text = ui_.dialog().core().log().Text();
  QTest::keyClick(&ui_.dialog(), Qt::Key_Escape);
  EXPECT_EQ(ui_.closed, 1);
  EXPECT_FALSE(ui_.dialog().core().IsOpen());
  EXPECT_EQ(q7mtest::ReadFile(dir_ + "/Q7MDATA.LOG"), text) << "no log entry for the close";
}

TEST_F(DialogOnSim, StartedWithTheRunnersOptionsTheWindowFillsItsFieldsOpensAndRuns) {
  CliOptions options;
  std::string error;
  ASSERT_TRUE(ParseCliOptions(
      {"--device", "COM3:38400", "--list", WriteList("one.lst", "LogErrorData|started||||\r\n"),
       "--sync", "--loop", "2", "--no-timestamps"},
      &options, &error))
      << error;
  ui_.dialog().StartWith(options);
  EXPECT_TRUE(ui_.Get<QRadioButton>("com3")->isChecked());
  EXPECT_EQ(ui_.Get<QLabel>("fieldLabel")->text(), "Baud Rate:");
  EXPECT_TRUE(ui_.Get<QRadioButton>("synchronous")->isChecked());
  EXPECT_EQ(ui_.Get<QLineEdit>("loops")->text(), "2");
  EXPECT_FALSE(ui_.Get<QCheckBox>("timeStamps")->isChecked());
  ASSERT_TRUE(ui_.WorkerIdle());
  EXPECT_TRUE(ui_.dialog().core().IsOpen());
  EXPECT_EQ(ui_.dialog().core().LastRunEnd(), RunEnd::kListDone);
  EXPECT_TRUE(
      ui_.LogShows("Run: 2/2\r\n\r\nCommand  \t: LogErrorData\r\nParameter 1\t: started\r\n"));
}

TEST_F(DialogOnSim, AWholeRunLogsTheSameTextAsRigtoolCli) {
  const std::string list = WriteList("golden.lst",
                                     "SendCommand|C00|5|5||\r\n"
                                     "|||||\r\n"
                                     "LogErrorData|rigtool golden run||||\r\n"
                                     "Xyz|1||||\r\n"
                                     "SendCommand|CV0|5|5||\r\n"
                                     "SendCommand|CXX|5|5||\r\n"
                                     "SendCommand|{G1}|5|5||\r\n");
  OpenCom3();
  Load(list);
  ui_.Type("loops", "2");
  ui_.Type("errorStop", "3");
  ui_.Click("runAll");
  ASSERT_TRUE(ui_.WorkerIdle());
  const std::string dialogLog = ui_.dialog().core().log().Text();
  ui_.Click("closeDevice");  // the serial line is the reader's only one

  const std::string out = dir_ + "/cli.out";
  q7mtest::ChildProcess cli;
  ASSERT_TRUE(cli.StartProgram(
      "/bin/sh", {"-c", "exec \"$0\" \"$@\" >'" + out + "'",
                  q7mtest::BuildBinDir() + "/rigtool-cli", "--device", "COM3:38400", "--list", list,
                  "--loop", "2", "--error-stop", "3", "--no-timestamps"}));
  cli.Wait(std::chrono::seconds(60));
  EXPECT_EQ(Masked(dialogLog), Masked(q7mtest::ReadFile(out)));
  EXPECT_EQ(ui_.LogView().substr(0, Lines(dialogLog).size()), Lines(dialogLog))
      << "the view shows the log as it is";
}

}  // namespace
