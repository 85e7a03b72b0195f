// The main dialog against a stand-in for the API library: what the window
// shows at start, how choosing an API sets up the rows, the list and log
// buttons with their files and questions, and a close that fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QTableWidget>

#include "api_list.h"
#include "dialog_harness.h"
#include "fake_rdax.h"
#include "parameter_rows.h"
#include "q7m_test.h"

namespace {

using namespace rigtooltest;

const void* const kHandle = reinterpret_cast<const void*>(0x1234);

class Dialog : public ::testing::Test {
 protected:
  void SetUp() override {
    fakerdax::Reset();
    dir_ = q7mtest::MakeTempDir("dialog");
    // The window appends its log to Q7MDATA.LOG here when it goes.
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void Open() {
    fakerdax::openHandle = kHandle;
    ui_.Get<QRadioButton>("com2")->click();
    ui_.Type("field", "0x2580");
    ui_.Click("openDevice");
    ASSERT_TRUE(ui_.dialog().core().IsOpen());
  }
  QTableWidget* List() { return ui_.Get<QTableWidget>("commandList"); }
  std::string Cell(int row, int column) {
    const QTableWidgetItem* item = List()->item(row, column);
    return item == nullptr ? "<none>" : item->text().toStdString();
  }

  std::string dir_;
  DialogHarness ui_;
};

TEST_F(Dialog, StartsWithEveryDefault) {
  MainDialog& dialog = ui_.dialog();
  EXPECT_EQ(dialog.windowTitle(), "Q7M-R Test Application");
  EXPECT_TRUE(ui_.Get<QRadioButton>("usb")->isChecked());
  EXPECT_EQ(ui_.Get<QLabel>("fieldLabel")->text(), "Serial Number:");
  EXPECT_EQ(ui_.Get<QLineEdit>("field")->text(), "");
  auto* apis = ui_.Get<QComboBox>("apis");
  EXPECT_FALSE(apis->isEditable());
  EXPECT_EQ(apis->count(), kApiCount);
  EXPECT_EQ(apis->itemText(0), "GetCapabilities");
  EXPECT_EQ(apis->currentIndex(), -1);
  for (int row = 1; row <= 4; ++row) {
    const std::string n = std::to_string(row);
    EXPECT_EQ(ui_.Get<QLabel>(("rowLabel" + n).c_str())->text(), "<NONE>");
    EXPECT_FALSE(ui_.Get<QComboBox>(("param" + n).c_str())->isEnabled());
    EXPECT_TRUE(ui_.Get<QComboBox>(("param" + n).c_str())->isEditable());
    EXPECT_FALSE(ui_.Get<QPushButton>(("paramFile" + n).c_str())->isEnabled());
  }
  QTableWidget* list = List();
  EXPECT_EQ(list->rowCount(), 0);
  ASSERT_EQ(list->columnCount(), 5);
  EXPECT_EQ(list->horizontalHeaderItem(0)->text(), "API Function");
  EXPECT_EQ(list->columnWidth(0), 150);
  for (int column = 1; column < 5; ++column) {
    EXPECT_EQ(list->horizontalHeaderItem(column)->text(), QString("Parameter %1").arg(column));
    EXPECT_EQ(list->columnWidth(column), 100);
  }
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_TRUE(list->showGrid());
  EXPECT_TRUE(ui_.Get<QRadioButton>("asynchronous")->isChecked());
  EXPECT_FALSE(ui_.Get<QRadioButton>("synchronous")->isChecked());
  EXPECT_EQ(ui_.Get<QLineEdit>("loops")->text(), "1");
  EXPECT_EQ(ui_.Get<QLineEdit>("errorStop")->text(), "0");
  for (const char* check : {"logging", "timeStamps", "appendOnExit"}) {
    EXPECT_TRUE(ui_.Get<QCheckBox>(check)->isChecked()) << check;
  }
  EXPECT_EQ(ui_.Get<QLineEdit>("logName")->text(), "Q7MDATA.LOG");
  auto* log = ui_.Get<QPlainTextEdit>("log");
  EXPECT_TRUE(log->isReadOnly());
  EXPECT_EQ(log->toPlainText(), "");
  EXPECT_FALSE(dialog.core().IsOpen());
  EXPECT_NE(dialog.findChild<QAction*>("about"), nullptr);

  ui_.Get<QRadioButton>("com2")->click();
  EXPECT_EQ(ui_.Get<QLabel>("fieldLabel")->text(), "Baud Rate:");
  ui_.Get<QRadioButton>("usb")->click();
  EXPECT_EQ(ui_.Get<QLabel>("fieldLabel")->text(), "Serial Number:");
}

TEST_F(Dialog, ChoosingAnApiRelabelsAndEnablesItsRowsAndFillsTheirTables) {
  ui_.ChooseApi("BlinkLED");
  const auto& rows = ParamRowsOf(ApiIndexOfName("BlinkLED"));
  for (int row = 1; row <= 4; ++row) {
    const std::string n = std::to_string(row);
    const ParamRow& want = rows[row - 1];
    auto* box = ui_.Get<QComboBox>(("param" + n).c_str());
    EXPECT_EQ(ui_.Get<QLabel>(("rowLabel" + n).c_str())->text().toStdString(), RowLabel(want));
    EXPECT_EQ(box->isEnabled(), want.kind != ParamKind::kNone) << row;
    ASSERT_EQ(box->count(), static_cast<int>(want.table.size())) << row;
    for (size_t i = 0; i < want.table.size(); ++i) {
      EXPECT_EQ(box->itemText(static_cast<int>(i)).toStdString(), want.table[i].label);
    }
    EXPECT_FALSE(ui_.Get<QPushButton>(("paramFile" + n).c_str())->isEnabled());
  }
  EXPECT_TRUE(ui_.Get<QComboBox>("param1")->isEnabled());
  EXPECT_GT(ui_.Get<QComboBox>("param1")->count(), 0);

  ui_.ChooseApi("ExecuteDownload");
  EXPECT_TRUE(ui_.Get<QPushButton>("paramFile1")->isEnabled());
  for (const char* other : {"paramFile2", "paramFile3", "paramFile4"}) {
    EXPECT_FALSE(ui_.Get<QPushButton>(other)->isEnabled()) << other;
  }
  ui_.boxes.file = "/tmp/firmware.bin";
  ui_.Click("paramFile1");
  EXPECT_EQ(ui_.boxes.choices, std::vector<FileChoice>{FileChoice::kOpenDownload});
  EXPECT_EQ(ui_.Get<QComboBox>("param1")->currentText(), "/tmp/firmware.bin");
}

TEST_F(Dialog, ExecuteDoesNothingWithoutAnApiAndWithoutAReaderLogsTheNameAlone) {
  ui_.Get<QCheckBox>("timeStamps")->setChecked(false);
  ui_.Click("execute");
  ASSERT_TRUE(ui_.WorkerIdle());
  EXPECT_EQ(ui_.LogView(), "");
  EXPECT_TRUE(fakerdax::calls.empty());
  ui_.ChooseApi("Lock");
  ui_.Click("execute");
  ASSERT_TRUE(ui_.WorkerIdle());
  EXPECT_EQ(ui_.LogView(), "Command  \t: Lock\nResult\t\t: The device is not opened!\n\n");
  EXPECT_TRUE(fakerdax::calls.empty());
}

TEST_F(Dialog, APickedEntrySendsItsNumberAndTheComPortItsBaudRate) {
  Open();
  EXPECT_EQ(fakerdax::openName, "COM2");
  ASSERT_GE(fakerdax::openSettings.size(), 2u);
  EXPECT_EQ(fakerdax::openSettings[1] & 0xFFFFFFFFu, 9600u);
  ui_.ChooseApi("ReadMagTrack");
  auto* box = ui_.Get<QComboBox>("param1");
  ASSERT_GT(box->count(), 0);
  box->setCurrentIndex(0);
  const ParamRow& row = ParamRowsOf(kReadMagTrack)[0];
  ui_.Click("set");
  EXPECT_EQ(Cell(0, 0), "ReadMagTrack");
  EXPECT_EQ(Cell(0, 1), std::to_string(row.table[0].number));
  box->setEditText("0x05");
  ui_.Click("set");
  EXPECT_EQ(Cell(1, 1), "0x05") << "typed text stays as typed";
}

TEST_F(Dialog, ACloseDeviceThatFailsKeepsTheHandleForTheNextCall) {
  Open();
  ui_.Get<QCheckBox>("timeStamps")->setChecked(false);
  fakerdax::answers["RDAX_CloseDevice"] = 0x82000000u;
  ui_.Click("closeDevice");
  EXPECT_TRUE(ui_.dialog().core().IsOpen());
  EXPECT_TRUE(ui_.LogShows("Command  \t: CloseDevice\r\nResult\t\t: 0x82000000\r\n"));
  fakerdax::calls.clear();
  ui_.Click("getResult");
  ASSERT_EQ(fakerdax::calls.size(), 1u);
  EXPECT_EQ(fakerdax::calls[0].name, "RDAX_GetResult");
  EXPECT_EQ(fakerdax::calls[0].args[0], reinterpret_cast<uintptr_t>(kHandle));
  fakerdax::answers.clear();
  ui_.Click("closeDevice");
  EXPECT_FALSE(ui_.dialog().core().IsOpen());
}

TEST_F(Dialog, SaveAndLoadRoundTripAndLoadingIntoRowsAsksToAddClearOrCancel) {
  ui_.ChooseApi("LogErrorData");
  ui_.TypeParam(1, "first");
  ui_.Click("set");
  ui_.ChooseApi("Lock");
  ui_.Click("set");
  const std::string path = dir_ + "/round.lst";
  ui_.boxes.file = QString::fromStdString(path);
  ui_.Click("saveList");
  EXPECT_EQ(q7mtest::ReadFile(path), "LogErrorData|first||||\r\nLock|||||\r\n");
  ui_.Click("clearList");
  EXPECT_EQ(List()->rowCount(), 0);
  ui_.Click("load");
  EXPECT_TRUE(ui_.boxes.asked.empty()) << "an empty list takes the file without asking";
  ASSERT_EQ(List()->rowCount(), 2);
  EXPECT_EQ(Cell(0, 0), "LogErrorData");
  EXPECT_EQ(Cell(0, 1), "first");
  EXPECT_EQ(Cell(1, 0), "Lock");

  ui_.boxes.answer = Answer::kCancel;
  ui_.Click("load");
  ASSERT_EQ(ui_.boxes.asked.size(), 1u);
  EXPECT_EQ(ui_.boxes.asked[0],
            "Information: A list of commands already exist! Add to existing command list?\n"
            "\tClick Yes to add or No to clear contents.\n");
  EXPECT_EQ(List()->rowCount(), 2);
  ui_.boxes.answer = Answer::kNo;
  ui_.Click("load");
  EXPECT_EQ(List()->rowCount(), 2);
  ui_.boxes.answer = Answer::kYes;
  ui_.Click("load");
  EXPECT_EQ(List()->rowCount(), 4);
  EXPECT_EQ(
      ui_.boxes.choices,
      (std::vector<FileChoice>{FileChoice::kSaveList, FileChoice::kOpenList, FileChoice::kOpenList,
                               FileChoice::kOpenList, FileChoice::kOpenList}));

  List()->selectRow(1);
  ui_.Click("insert");
  ASSERT_EQ(List()->rowCount(), 5);
  EXPECT_EQ(Cell(1, 0), "") << "a placeholder above the selected row";
  EXPECT_EQ(Cell(2, 0), "Lock");
  List()->selectRow(0);
  ui_.Click("delete");
  EXPECT_EQ(List()->rowCount(), 4);
  EXPECT_EQ(Cell(0, 0), "");
}

TEST_F(Dialog, TheLogButtonsSaveAppendSaveAsPickAndClear) {
  ui_.Get<QCheckBox>("timeStamps")->setChecked(false);
  const std::string file = dir_ + "/run.log";
  ui_.Type("logName", QString::fromStdString(file));
  ui_.Click("getResult");
  const std::string text =
      "Command  \t: GetResult\r\nResult\t\t: The device is not opened!\r\n\r\n";
  ASSERT_TRUE(ui_.LogShows(text));
  ui_.Click("saveLog");
  EXPECT_EQ(q7mtest::ReadFile(file), text);
  ui_.Click("appendLog");
  EXPECT_EQ(q7mtest::ReadFile(file), text + text);
  ui_.Click("saveLog");
  EXPECT_EQ(q7mtest::ReadFile(file), text) << "Save replaces";

  const std::string other = dir_ + "/other.log";
  ui_.boxes.file = QString::fromStdString(other);
  ui_.Click("saveLogAs");
  EXPECT_EQ(q7mtest::ReadFile(other), text);
  EXPECT_EQ(ui_.Get<QLineEdit>("logName")->text().toStdString(), file) << "the name stays";
  ui_.Click("pickLog");
  EXPECT_EQ(ui_.Get<QLineEdit>("logName")->text().toStdString(), other);
  EXPECT_EQ(ui_.boxes.choices,
            (std::vector<FileChoice>{FileChoice::kSaveLogAs, FileChoice::kPickLogName}));

  ui_.Click("clearLog");
  EXPECT_EQ(ui_.LogView(), "");
  EXPECT_EQ(ui_.dialog().core().log().Text(), "");
  ui_.Get<QCheckBox>("logging")->setChecked(false);
  ui_.Click("getResult");
  QCoreApplication::processEvents();
  EXPECT_EQ(ui_.LogView(), "") << "logging off";
}

TEST_F(Dialog, ALoopCountOutsideItsRangeIsRefusedAndTheFieldKeepsItsValue) {
  ui_.Type("loops", "5");
  ui_.Click("getResult");
  ui_.Type("loops", "2147483648");
  ui_.Click("getResult");
  EXPECT_EQ(ui_.boxes.shown, std::vector<std::string>{"Q7M-R Test Application: Please enter an "
                                                      "integer between 0 and 2147483647."});
  EXPECT_EQ(ui_.Get<QLineEdit>("loops")->text(), "5");
  EXPECT_EQ(ui_.dialog().core().loops.load(), 5);
}

}  // namespace
