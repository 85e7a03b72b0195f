// Choosing and showing records: filters, times, the command line and the
// output line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record_filter.h"
#include "record_printer.h"
#include "ring_builder.h"
#include "viewer_options.h"

namespace {

using namespace q7m::traceview;

// A parsed record over bytes that the holder keeps alive.
struct Held {
  std::string bytes;
  TraceRecord record;
};

Held Parsed(const q7mtest::RecordFields& fields, uint32_t length = 40) {
  Held h;
  h.bytes = q7mtest::MakeRecord(length, fields);
  EXPECT_TRUE(ParseSlot(h.bytes, 7, &h.record));
  return h;
}

q7mtest::RecordFields Fields(const std::string& text, uint32_t pid = 0x100, uint32_t tid = 0x101,
                             const std::string& time = "20240501120000") {
  q7mtest::RecordFields s;
  s.text = text;
  s.processId = pid;
  s.threadId = tid;
  s.time = time;
  return s;
}

TEST(RecordFilter, KindsCombineAndValuesOfOneKindAreAlternatives) {
  RecordFilter f;
  f.processIds = {0x100, 0x200};
  f.prefixes = {NormalisePrefix("rdax"), NormalisePrefix("E:")};
  EXPECT_TRUE(f.Matches(Parsed(Fields("RDAX:Entry=RDAX_Open")).record));
  EXPECT_TRUE(f.Matches(Parsed(Fields("E:clsDevice::Open failed", 0x200)).record));
  EXPECT_FALSE(f.Matches(Parsed(Fields("RDAX:Entry=RDAX_Open", 0x300)).record));
  EXPECT_FALSE(f.Matches(Parsed(Fields("SEQUOR:Open")).record));
  // "RDAX" must not match a line that merely starts with those letters.
  EXPECT_FALSE(f.Matches(Parsed(Fields("RDAXX:Entry")).record));

  RecordFilter severity;
  severity.prefixes = {NormalisePrefix("rdax:error")};
  EXPECT_TRUE(severity.Matches(Parsed(Fields("RDAX:Error P1=0x00000005")).record));
  EXPECT_FALSE(severity.Matches(Parsed(Fields("RDAX:Entry=RDAX_Open")).record));

  RecordFilter t;
  t.threadIds = {0x101};
  t.contains = {"Open"};
  EXPECT_TRUE(t.Matches(Parsed(Fields("T:PDLNK_Open")).record));
  EXPECT_FALSE(t.Matches(Parsed(Fields("T:PDLNK_Close")).record));
  EXPECT_FALSE(t.Matches(Parsed(Fields("T:PDLNK_Open", 0x100, 0x999)).record));
}

TEST(RecordFilter, TimeRangeIsInclusiveAndTimesOfDayTakeTheGivenDate) {
  RecordFilter f;
  f.since = ParseTimePoint("12:00", false);
  f.until = ParseTimePoint("12:30", true);
  f.ResolveDates(20240501);
  EXPECT_TRUE(f.Matches(Parsed(Fields("a", 1, 1, "20240501120000")).record));
  EXPECT_TRUE(f.Matches(Parsed(Fields("a", 1, 1, "20240501123059")).record));
  EXPECT_FALSE(f.Matches(Parsed(Fields("a", 1, 1, "20240501123100")).record));
  EXPECT_FALSE(f.Matches(Parsed(Fields("a", 1, 1, "20240501115959")).record));
  EXPECT_FALSE(f.Matches(Parsed(Fields("a", 1, 1, "20240430121500")).record));
}

TEST(TimePoint, AcceptedForms) {
  auto stamp = [](const char* text, bool end) {
    auto p = ParseTimePoint(text, end);
    return p ? p->stamp : 0;
  };
  EXPECT_EQ(stamp("2024-05-01 12:30:15", false), 20240501123015u);
  EXPECT_EQ(stamp("2024-05-01T12:30", false), 20240501123000u);
  EXPECT_EQ(stamp("2024-05-01T12:30", true), 20240501123059u);
  EXPECT_EQ(stamp("2024-05-01", true), 20240501235959u);
  EXPECT_EQ(stamp("20240501123015", false), 20240501123015u);
  EXPECT_EQ(stamp("202405011230", false), 20240501123000u);
  EXPECT_EQ(stamp("20240501", false), 20240501000000u);
  auto tod = ParseTimePoint("07:08:09", false);
  ASSERT_TRUE(tod);
  EXPECT_FALSE(tod->hasDate);
  EXPECT_EQ(tod->stamp, 70809u);
  for (const char* bad : {"", "12", "25:00", "12:60", "12:30:", "12:30:5", "2024-13-01",
                          "2024-05-01 12", "2024-05-01x12:00", "yesterday", "2024050", "12:30x"}) {
    EXPECT_FALSE(ParseTimePoint(bad, false)) << bad;
  }
}

TEST(RecordPrinter, ReadableLineShowsIdsInDecimalAndEscapesControlBytes) {
  Held h = Parsed(Fields("R:\r\n\t\x01\\ end", 1234, 1240, "20240501093005"));
  PrintStyle plain;
  EXPECT_EQ(FormatRecord(h.record, plain),
            "000000 2024-05-01 09:30:05    1234    1240 R:\\r\\n\\t\\x01\\\\ end\n");
  PrintStyle hex;
  hex.hexIds = true;
  EXPECT_EQ(FormatRecord(h.record, hex).substr(26, 19), " 000004D2 000004D8 ");
  PrintStyle raw;
  raw.raw = true;
  EXPECT_EQ(FormatRecord(h.record, raw), h.bytes.substr(0, h.bytes.size() - 2) + "\n");
}

TEST(RecordPrinter, ColourMarksErrorsAndAlwaysResets) {
  PrintStyle colour;
  colour.color = true;
  std::string error = FormatRecord(Parsed(Fields("E:failed")).record, colour);
  EXPECT_NE(error.find("\033[31mE:failed\033[0m"), std::string::npos) << error;
  std::string normal = FormatRecord(Parsed(Fields("T:entry")).record, colour);
  EXPECT_EQ(normal.find("\033[31m"), std::string::npos);
  EXPECT_EQ(normal.rfind("\033[0m"), normal.find("\033[0m"));  // only the header is dimmed
}

bool Parse(std::vector<std::string> args, ViewerOptions* o, std::string* error) {
  return ParseViewerOptions(args, o, error);
}

TEST(ViewerOptions, ShortLongAndAttachedForms) {
  ViewerOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"-f", "-n5", "--pid=0x4D2,77", "-t", "9", "--lib", "rdax,T:", "-g", "Open",
                     "--since", "12:00", "--until=2024-05-01", "-r", "86", "--raw", "--hex-ids",
                     "--color", "never", "ring.log"},
                    &o, &error))
      << error;
  EXPECT_TRUE(o.follow);
  EXPECT_EQ(o.last, 5u);
  EXPECT_EQ(o.filter.processIds, (std::vector<uint32_t>{1234, 77}));
  EXPECT_EQ(o.filter.threadIds, (std::vector<uint32_t>{9}));
  EXPECT_EQ(o.filter.prefixes, (std::vector<std::string>{"RDAX:", "T:"}));
  EXPECT_EQ(o.filter.contains, (std::vector<std::string>{"Open"}));
  EXPECT_EQ(o.recordLength, 86u);
  EXPECT_TRUE(o.style.raw && o.style.hexIds);
  EXPECT_EQ(o.color, ColorMode::kNever);
  EXPECT_EQ(o.path, "ring.log");

  ViewerOptions dash;
  ASSERT_TRUE(Parse({"--", "-odd-name.log"}, &dash, &error));
  EXPECT_EQ(dash.path, "-odd-name.log");
  ViewerOptions help;
  EXPECT_TRUE(Parse({"--help"}, &help, &error));
  EXPECT_TRUE(help.help);
}

TEST(ViewerOptions, MistakesAreNamed) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, "no trace file given"},
      {{"a", "b"}, "only one trace file at a time"},
      {{"--frobnicate", "a"}, "unknown option --frobnicate"},
      {{"-x", "a"}, "unknown option -x"},
      {{"a", "--pid"}, "option --pid needs a value"},
      {{"--pid", "12ab", "a"}, "--pid: '12ab' is not a number (decimal, or hex with 0x)"},
      {{"--pid", "-1", "a"}, "--pid: '-1' is not a number (decimal, or hex with 0x)"},
      {{"--pid", "0x100000000", "a"},
       "--pid: '0x100000000' is not a number (decimal, or hex with 0x)"},
      {{"--record-length", "983", "a"}, "--record-length: '983' is not a record length (0 to 982)"},
      {{"--since", "noon", "a"},
       "--since: 'noon' is not a time (YYYY-MM-DD HH:MM:SS, YYYYMMDDhhmmss or HH:MM[:SS])"},
      {{"--color", "blue", "a"}, "--color: 'blue' is not one of auto, always, never"},
      {{"--follow=yes", "a"}, "option --follow takes no value"},
      {{"-fx", "a"}, "option -f takes no value"},
      {{"--lib", ",", "a"}, "--lib needs a prefix such as RDAX, SEQUOR, T: or E:"},
  };
  for (const auto& c : cases) {
    ViewerOptions o;
    std::string error;
    EXPECT_FALSE(Parse(c.args, &o, &error)) << c.message;
    EXPECT_EQ(error, c.message);
  }
}

}  // namespace
