// The log with its switches and files; the command list, its files and the
// order in which runs take its rows.
#include <gtest/gtest.h>

#include "api_list.h"
#include "command_list.h"
#include "fake_ui.h"
#include "list_file.h"
#include "list_run.h"
#include "log_book.h"
#include "q7m_test.h"

namespace {

using namespace rigtooltest;

using Params = std::array<std::string, 4>;
Params P(std::string p1 = "") {
  return {p1, "", "", ""};
}

std::vector<std::string> Names(const CommandList& list) {
  std::vector<std::string> names;
  for (const ListRow& row : list.Rows()) names.push_back(row.name);
  return names;
}

class LogAndList : public ::testing::Test {
 protected:
  std::string File(const std::string& name) { return dir_ + "/" + name; }
  std::string dir_ = q7mtest::MakeTempDir("rigtool");
  FakeUi ui_;
  LogBook log_{ui_};
  CommandList list_;
};

TEST_F(LogAndList, EveryEntryIsFollowedByOneCrLfUnlessLoggingIsOff) {
  log_.Append("Command  \t: GetStatus");
  log_.Append("Result\t\t: 0x00000000\r\n");
  EXPECT_EQ(log_.Text(), "Command  \t: GetStatus\r\nResult\t\t: 0x00000000\r\n\r\n");
  EXPECT_EQ(ui_.view, log_.Text());
  log_.enabled = false;
  log_.Append("dropped");
  EXPECT_EQ(ui_.view, log_.Text());
  EXPECT_EQ(log_.Text().find("dropped"), std::string::npos);
  log_.Clear();
  EXPECT_EQ(log_.Text(), "");
}

TEST_F(LogAndList, SaveReplacesAppendCreatesOrExtendsAndSaveAsLeavesTheNameField) {
  log_.Append("one");
  log_.SetFileName(File("a.log"));
  log_.AppendToFile();
  EXPECT_EQ(q7mtest::ReadFile(File("a.log")), "one\r\n") << "Append creates a missing file";
  log_.AppendToFile();
  EXPECT_EQ(q7mtest::ReadFile(File("a.log")), "one\r\none\r\n");
  log_.Save();
  EXPECT_EQ(q7mtest::ReadFile(File("a.log")), "one\r\n");
  ui_.chosenFile = File("b.log");
  log_.SaveAs();
  EXPECT_EQ(q7mtest::ReadFile(File("b.log")), "one\r\n");
  EXPECT_EQ(log_.FileName(), File("a.log"));
  EXPECT_EQ(log_.Text(), "one\r\n") << "saving never changes the log";
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(LogAndList, SavingWithoutANameSaysSoAndAnUnwritableFileIsSkippedQuietly) {
  log_.Append("one");
  log_.SetFileName("");
  log_.Save();
  log_.AppendToFile();
  ui_.chosenFile = "";
  log_.SaveAs();
  EXPECT_EQ(ui_.messages, std::vector<std::string>(3, "Error: Cannot save data to file!"));
  log_.SetFileName(File("missing-dir/x.log"));
  log_.Save();
  EXPECT_EQ(ui_.messages.size(), 3u);
}

TEST_F(LogAndList, SetFillsAnInsertedPlaceholderInsteadOfAppending) {
  list_.AddRow("Lock", 7, P());
  list_.AddRow("Unlock", 8, P());
  list_.Select(1, true);
  list_.Insert();
  EXPECT_EQ(Names(list_), (std::vector<std::string>{"Lock", "", "Unlock"}));
  EXPECT_FALSE(list_.Row(2)->selected) << "the row the empty one went above is deselected";
  list_.AddRow("ReadMagTrack", 5, P("5"));
  EXPECT_EQ(Names(list_), (std::vector<std::string>{"Lock", "ReadMagTrack", "Unlock"}));
  EXPECT_EQ(list_.Row(1)->params[0], "5");
  list_.Insert();  // nothing selected: nothing happens
  EXPECT_EQ(list_.Size(), 3u);
  list_.Select(0, true);
  list_.Select(2, true);
  list_.DeleteSelected();
  EXPECT_EQ(Names(list_), (std::vector<std::string>{"ReadMagTrack"}));
}

TEST_F(LogAndList, ListFilesLoadWithEveryLineEndAndDropUnknownNames) {
  q7mtest::WriteFile(File("ends.lst"),
                     "Lock|||||\r\n"
                     "ReadMagTrack|7||||\r\r\n"
                     "Xyz|1||||\r\n"
                     "SendCommand|C00|5|5||\n"
                     "Unlock|||||extra text after the fifth bar\n"
                     "BlinkLED|1|2");
  ASSERT_TRUE(LoadListFile(File("ends.lst"), list_, ui_));
  EXPECT_EQ(Names(list_), (std::vector<std::string>{"Lock", "ReadMagTrack", "SendCommand", "Unlock",
                                                    "BlinkLED"}));
  EXPECT_EQ(list_.Row(0)->apiIndex, 7);
  EXPECT_EQ(list_.Row(1)->params, (Params{"7", "", "", ""})) << "CR CR LF leaves no CR behind";
  EXPECT_EQ(list_.Row(2)->params, (Params{"C00", "5", "5", ""}));
  EXPECT_EQ(list_.Row(4)->params, (Params{"1", "2", "", ""}))
      << "a short line: missing fields empty";
}

TEST_F(LogAndList, SavedPlaceholdersLoadAsAPlaceholderThatTheNextLineFills) {
  list_.AddRow("Lock", 7, P());
  list_.AddRow("ReadMagTrack", 5, P("7"));
  list_.Select(1, true);
  list_.Insert();
  ASSERT_TRUE(SaveListFile(File("saved.lst"), list_, ui_));
  EXPECT_EQ(q7mtest::ReadFile(File("saved.lst")), "Lock|||||\r\n|||||\r\nReadMagTrack|7||||\r\n");
  CommandList loaded;
  ASSERT_TRUE(LoadListFile(File("saved.lst"), loaded, ui_));
  EXPECT_EQ(Names(loaded), (std::vector<std::string>{"Lock", "ReadMagTrack"}));
}

TEST_F(LogAndList, LoadingIntoAListAsksAndFillsItsPlaceholderFirst) {
  q7mtest::WriteFile(File("two.lst"), "Lock|||||\r\nUnlock|||||\r\n");
  list_.AddRow("GetStatus", 1, P());
  list_.Select(0, true);
  list_.Insert();
  ASSERT_TRUE(LoadListFile(File("two.lst"), list_, ui_));
  EXPECT_EQ(Names(list_), (std::vector<std::string>{"Lock", "GetStatus", "Unlock"}));
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].rfind("Information: A list of commands already exist!", 0), 0u);

  ui_.answer = Answer::kNo;
  ASSERT_TRUE(LoadListFile(File("two.lst"), list_, ui_));
  EXPECT_EQ(Names(list_), (std::vector<std::string>{"Lock", "Unlock"}));
  ui_.answer = Answer::kCancel;
  EXPECT_FALSE(LoadListFile(File("two.lst"), list_, ui_));
  EXPECT_EQ(list_.Size(), 2u);
}

TEST_F(LogAndList, AnUnreadableOrUncreatableFileIsReportedAndChangesNothing) {
  list_.AddRow("Lock", 7, P());
  EXPECT_FALSE(LoadListFile(File("none.lst"), list_, ui_));
  EXPECT_FALSE(SaveListFile(File("no-dir/x.lst"), list_, ui_));
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"Warning: Cannot read data from file!",
                                                    "Warning: Cannot save data to file!"}));
  EXPECT_EQ(list_.Size(), 1u);
}

TEST_F(LogAndList, TheDemoListLoadsEveryLineAsARow) {
  const std::string text = q7mtest::ReadFile(Q7M_RIGTOOL_DEMO_LIST);
  ASSERT_FALSE(text.empty());
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  ASSERT_TRUE(LoadListFile(Q7M_RIGTOOL_DEMO_LIST, list_, ui_));
  EXPECT_EQ(list_.Size(), lines) << "a misspelt name would be dropped silently";
  for (const ListRow& row : list_.Rows()) EXPECT_EQ(ApiName(row.apiIndex), row.name);
}

class ListRuns : public LogAndList {
 protected:
  // The names a run yields, in order.
  std::vector<std::string> Drain(int loops) {
    std::vector<std::string> names;
    while (std::optional<ListRow> row = run_.NextRow(list_, log_, loops)) {
      names.push_back(row->name);
    }
    return names;
  }
  ListRun run_;
};

TEST_F(ListRuns, RunAllTakesEveryRowEachPassAndLogsTheRunLines) {
  list_.AddRow("Lock", 7, P());
  list_.AddRow("Unlock", 8, P());
  run_.StartAll();
  EXPECT_EQ(Drain(2), (std::vector<std::string>{"Lock", "Unlock", "Lock", "Unlock"}));
  EXPECT_EQ(log_.Text(), "Run: 1/2\r\n\r\nRun: 1/2\r\n\r\nRun: 2/2\r\n\r\nRun: 2/2\r\n\r\n");
}

TEST_F(ListRuns, PlaceholdersAreSkippedAndAListOfThemAloneRunsNothing) {
  list_.AddRow("Lock", 7, P());
  list_.Select(0, true);
  list_.Insert();
  list_.Select(1, true);
  list_.Insert();
  run_.StartAll();
  EXPECT_EQ(Drain(3), (std::vector<std::string>{"Lock", "Lock", "Lock"}));
  CommandList empties;
  empties.AddRow("", 0, P());
  empties.AddRow("", 0, P());  // fills the same placeholder
  empties.Select(0, true);
  empties.Insert();
  run_.StartAll();
  EXPECT_FALSE(run_.NextRow(empties, log_, 2147483647));
  run_.StartAll();
  EXPECT_TRUE(Drain(0).empty()) << "no passes, no rows";
}

TEST_F(ListRuns, RunOnceTakesTheSelectedRowsInOrderDeselectingEach) {
  for (const char* name : {"Lock", "Unlock", "GetStatus", "TurnoffLED"}) list_.AddRow(name, 0, P());
  list_.Select(0, true);
  list_.Select(2, true);
  run_.StartSelected(0);
  std::optional<ListRow> first = run_.NextRow(list_, log_, 1);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->name, "Lock");
  EXPECT_FALSE(list_.Row(0)->selected);
  EXPECT_TRUE(list_.Row(2)->selected) << "row 3 waits its turn";
  EXPECT_EQ(Drain(1), (std::vector<std::string>{"GetStatus"}));
  EXPECT_FALSE(list_.Row(2)->selected);
  EXPECT_EQ(log_.Text(), "") << "Run 1x logs no run lines";
}

TEST_F(ListRuns, ErrorStopCountsWarningsErrorsAndFatalsUntilItsLimit) {
  list_.AddRow("Lock", 7, P());
  run_.StartAll();
  run_.CountResult(0x00000001u, 2);
  run_.CountResult(0x40000000u, 2);
  EXPECT_FALSE(run_.ErrorStopReached(2));
  run_.CountResult(0xC1000002u, 2);
  EXPECT_TRUE(run_.ErrorStopReached(2));
  EXPECT_EQ(run_.Errors(), 2);
  EXPECT_FALSE(run_.ErrorStopReached(0)) << "an error stop of 0 never stops";
  list_.Select(0, true);
  run_.End(list_);
  EXPECT_FALSE(run_.Active());
  EXPECT_EQ(run_.Errors(), 0);
  EXPECT_FALSE(list_.Row(0)->selected);
  run_.CountResult(0x80000000u, 2);
  EXPECT_EQ(run_.Errors(), 0) << "outside a run nothing is counted";
}

}  // namespace
