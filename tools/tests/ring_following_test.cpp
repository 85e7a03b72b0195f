// Following a ring while it is written: new records, the wrap, being lapped,
// and the program's follow mode driven by real file changes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "q7m_test.h"
#include "ring_builder.h"
#include "ring_file.h"
#include "ring_follower.h"

namespace {

using namespace q7m::traceview;
using q7mtest::MakeRun;

constexpr uint32_t kLength = 20;
constexpr uint32_t kSize = kLength + 42;

// Writes `bytes` at slot `slot` of the file, as the trace writer would.
void PutSlots(const std::string& path, uint64_t slot, const std::string& bytes) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!f) f.open(path, std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(slot * kSize));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Collects what a follower prints, without a watch.
class FollowerHarness {
 public:
  explicit FollowerHarness(const std::string& path) : path_(path) {
    std::string error;
    EXPECT_TRUE(file_.Open(path, &error)) << error;
    file_.SetRecordLength(kLength);
    out_ = std::tmpfile();
    err_ = std::tmpfile();
    follower_ = std::make_unique<RingFollower>(file_, true, true, filter_, style_, out_, err_);
  }
  ~FollowerHarness() {
    std::fclose(out_);
    std::fclose(err_);
  }
  // New output since the last call, texts only (one per line).
  std::string CatchUp() {
    follower_->CatchUp(&cursor_);
    std::string all = ReadAll(out_);
    std::string fresh = all.substr(seen_);
    seen_ = all.size();
    std::string texts;
    size_t start = 0;
    while (start < fresh.size()) {
      size_t nl = fresh.find('\n', start);
      std::string line = fresh.substr(start, nl - start);
      texts += (line.rfind("--", 0) == 0 ? line : line.substr(43)) + "|";
      start = nl + 1;
    }
    return texts;
  }
  FollowCursor cursor_;

 private:
  static std::string ReadAll(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    return s;
  }
  std::string path_;
  RingFile file_;
  RecordFilter filter_;
  PrintStyle style_;
  std::FILE* out_;
  std::FILE* err_;
  std::unique_ptr<RingFollower> follower_;
  size_t seen_ = 0;
};

TEST(RingFollowing, ShowsNewRecordsAndFollowsTheWriterBackToSlotZero) {
  std::string path = q7mtest::MakeTempDir("follow") + "/ring.log";
  q7mtest::WriteFile(path, "");
  FollowerHarness h(path);
  EXPECT_EQ(h.CatchUp(), "");
  PutSlots(path, 0, MakeRun(kLength, 0x10, 3, "a"));
  EXPECT_EQ(h.CatchUp(), "a0|a1|a2|");
  EXPECT_EQ(h.CatchUp(), "");
  PutSlots(path, 3, MakeRun(kLength, 0x13, 1, "b"));
  EXPECT_EQ(h.CatchUp(), "b0|");
  // A ring of four slots wraps: the next record goes to slot 0.
  PutSlots(path, 0, MakeRun(kLength, 0x14, 2, "c"));
  EXPECT_EQ(h.CatchUp(), "c0|c1|");
  EXPECT_EQ(h.cursor_.nextSlot, 2u);
  EXPECT_EQ(h.cursor_.expectedSequence, 0x16u);
}

TEST(RingFollowing, AWriterThatLapsTheFollowerIsReportedAsLostRecords) {
  std::string path = q7mtest::MakeTempDir("lapped") + "/ring.log";
  q7mtest::WriteFile(path, MakeRun(kLength, 0, 4, "old"));
  FollowerHarness h(path);
  EXPECT_EQ(h.CatchUp(), "old0|old1|old2|old3|");
  // Six records written into the four-slot ring meanwhile (seq 4..9): the
  // ring now holds 6..9, and 4 and 5 are gone.
  PutSlots(path, 0, MakeRun(kLength, 8, 2, "n") + MakeRun(kLength, 6, 2, "m"));
  EXPECT_EQ(h.CatchUp(), "-- 2 records overwritten before they could be shown --|m0|m1|n0|n1|");
}

TEST(RingFollowing, StaleSlotsBeyondTheRingAreNotTakenForNewRecords) {
  // The file still holds slots of an earlier, larger ring after slot 3.
  std::string path = q7mtest::MakeTempDir("stale") + "/ring.log";
  q7mtest::WriteFile(path, MakeRun(kLength, 0x50, 4, "now") + MakeRun(kLength, 0x20, 2, "stale"));
  FollowerHarness h(path);
  h.cursor_ = FollowCursor{true, 4, 0x54};
  EXPECT_EQ(h.CatchUp(), "");
  PutSlots(path, 0, MakeRun(kLength, 0x54, 1, "next"));
  EXPECT_EQ(h.CatchUp(), "next0|");
}

// --- the program ---

std::string Program() {
  return q7mtest::BuildBinDir() + "/q7m-trace";
}

TEST(TraceProgram, HelpUsageErrorsAndUnreadableFiles) {
  q7mtest::ChildProcess help;
  ASSERT_TRUE(help.StartProgram(Program(), {"--help"}));
  EXPECT_TRUE(help.Expect("Usage: q7m-trace [OPTION]... FILE"));
  EXPECT_EQ(help.Wait(), 0);

  q7mtest::ChildProcess usage;
  ASSERT_TRUE(usage.StartProgram(Program(), {"--pid"}));
  EXPECT_EQ(usage.Wait(), 2);

  q7mtest::ChildProcess missing;
  ASSERT_TRUE(missing.StartProgram(Program(), {q7mtest::ScratchDir() + "/nothing.log"}));
  EXPECT_EQ(missing.Wait(), 1);

  std::string foreign = q7mtest::MakeTempDir("foreign") + "/notes.txt";
  q7mtest::WriteFile(foreign, "just some notes\n");
  q7mtest::ChildProcess notRing;
  ASSERT_TRUE(notRing.StartProgram(Program(), {foreign}));
  EXPECT_EQ(notRing.Wait(), 1);
}

TEST(TraceProgram, PrintsFilteredRecordsOldestFirst) {
  // A wrapped ring of four slots: 3 and 4 at slots 0 and 1, then 1 and 2.
  std::string path = q7mtest::MakeTempDir("print") + "/ring.log";
  q7mtest::RecordFields other;
  other.sequence = 2;
  other.text = "T:other process";
  other.processId = 0x999;
  q7mtest::WriteFile(path, MakeRun(kLength, 3, 2, "T:new") + MakeRun(kLength, 1, 1, "T:old") +
                               q7mtest::MakeRecord(kLength, other));
  q7mtest::ChildProcess p;
  ASSERT_TRUE(p.StartProgram(Program(), {"--pid", "256", "--lib", "t", path}));
  std::string line;
  ASSERT_TRUE(p.ReadLine(&line));
  EXPECT_EQ(line.substr(0, 7), "000001 ");
  EXPECT_EQ(line.substr(43), "T:old0");
  ASSERT_TRUE(p.ReadLine(&line));
  EXPECT_EQ(line.substr(0, 7), "000003 ");
  EXPECT_EQ(line.substr(43), "T:new0");
  ASSERT_TRUE(p.ReadLine(&line));
  EXPECT_EQ(line.substr(43), "T:new1");
  EXPECT_FALSE(p.ReadLine(&line, std::chrono::seconds(5)));
  EXPECT_EQ(p.Wait(), 0);

  // Only the newest matching ones.
  q7mtest::ChildProcess last;
  ASSERT_TRUE(last.StartProgram(Program(), {"-n", "2", "-p", "0x999,256", "--raw", path}));
  ASSERT_TRUE(last.ReadLine(&line));
  EXPECT_EQ(line.substr(0, 40), "000003,20240501120000,00000100,00000101,");
  ASSERT_TRUE(last.ReadLine(&line));
  EXPECT_EQ(line.substr(0, 6), "000004");
  EXPECT_FALSE(last.ReadLine(&line, std::chrono::seconds(5)));
}

TEST(TraceProgram, FollowShowsRecordsAsTheyAreWrittenAndSurvivesARecreatedFile) {
  std::string dir = q7mtest::MakeTempDir("live");
  std::string path = dir + "/ring.log";
  q7mtest::WriteFile(path, MakeRun(kLength, 0, 1, "first"));
  q7mtest::ChildProcess p;
  ASSERT_TRUE(p.StartProgram(Program(), {"--follow", path}));
  std::string line;
  ASSERT_TRUE(p.ReadLine(&line));
  EXPECT_EQ(line.substr(43), "first0");

  PutSlots(path, 1, MakeRun(kLength, 1, 2, "more"));
  ASSERT_TRUE(p.ReadLine(&line));
  EXPECT_EQ(line.substr(43), "more0");
  ASSERT_TRUE(p.ReadLine(&line));
  EXPECT_EQ(line.substr(43), "more1");

  // Removed and written anew: following starts over with the new file.
  ASSERT_EQ(std::remove(path.c_str()), 0);
  q7mtest::WriteFile(path, MakeRun(kLength, 0, 1, "again"));
  ASSERT_TRUE(p.ReadLine(&line, std::chrono::seconds(20)));
  EXPECT_EQ(line.substr(43), "again0");
  p.Kill();
}

}  // namespace
