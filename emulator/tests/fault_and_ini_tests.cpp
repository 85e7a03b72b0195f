// Fault requests and plans, and the INI entry writer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "fault_plan.h"
#include "ini_entry_writer.h"
#include "q7m_test.h"

namespace q7msim {
namespace {

TEST(FaultRequest, ParsesCountsRatesAndActions) {
  FaultRequest r;
  std::string error;
  ASSERT_TRUE(ParseFaultRequest("nak", &r, &error));
  EXPECT_EQ(r.action, FaultRequest::Action::kArm);
  EXPECT_EQ(r.kind, FaultKind::kNak);
  EXPECT_EQ(r.count, 1u);
  ASSERT_TRUE(ParseFaultRequest("  LATE   ms=250 count=3 ", &r, &error)) << error;
  EXPECT_EQ(r.kind, FaultKind::kLate);
  EXPECT_EQ(r.ms, 250u);
  EXPECT_EQ(r.count, 3u);
  ASSERT_TRUE(ParseFaultRequest("bad-bcc rate=25%", &r, &error));
  EXPECT_DOUBLE_EQ(r.rate, 0.25);
  EXPECT_EQ(r.count, 0u);
  ASSERT_TRUE(ParseFaultRequest("unplug ms=500", &r, &error));
  EXPECT_EQ(r.action, FaultRequest::Action::kUnplug);
  EXPECT_EQ(r.ms, 500u);
  ASSERT_TRUE(ParseFaultRequest("clear late", &r, &error));
  EXPECT_EQ(r.action, FaultRequest::Action::kClear);
  EXPECT_EQ(r.kind, FaultKind::kLate);
  ASSERT_TRUE(ParseFaultRequest("clear", &r, &error));
  EXPECT_EQ(r.action, FaultRequest::Action::kClearAll);

  for (const char* bad :
       {"", "explode", "nak count=x", "nak rate=1.5", "nak rate=nan", "nak count=2 rate=0.5",
        "late", "nak speed=3", "nak 3", "dsr-off count=2", "clear nak late", "late ms=99999999"}) {
    EXPECT_FALSE(ParseFaultRequest(bad, &r, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(FaultPlan, CountsFireExactlyAndRatesFollowTheSeed) {
  FaultPlan plan(7);
  uint32_t ms = 0;
  plan.Arm(FaultKind::kLate, 2, 0, 300);
  EXPECT_TRUE(plan.Take(FaultKind::kLate, &ms));
  EXPECT_EQ(ms, 300u);
  EXPECT_TRUE(plan.Take(FaultKind::kLate));
  EXPECT_FALSE(plan.Take(FaultKind::kLate));
  EXPECT_EQ(plan.Fired(FaultKind::kLate), 2u);
  EXPECT_FALSE(plan.Take(FaultKind::kNak));  // other kinds untouched

  plan.Arm(FaultKind::kNak, 0, 1.0, 0);
  for (int i = 0; i < 50; ++i) EXPECT_TRUE(plan.Take(FaultKind::kNak));
  plan.Clear(FaultKind::kNak);
  EXPECT_FALSE(plan.Take(FaultKind::kNak));

  // A rate fires about as often as asked, and the same seed repeats it.
  FaultPlan a(42), b(42);
  a.Arm(FaultKind::kBadBcc, 0, 0.3, 0);
  b.Arm(FaultKind::kBadBcc, 0, 0.3, 0);
  int fired = 0;
  for (int i = 0; i < 2000; ++i) {
    bool x = a.Take(FaultKind::kBadBcc);
    EXPECT_EQ(x, b.Take(FaultKind::kBadBcc));
    fired += x;
  }
  EXPECT_GT(fired, 450);
  EXPECT_LT(fired, 750);
  EXPECT_NE(a.Describe().find("bad-bcc rate=0.3"), std::string::npos);
  a.ClearAll();
  EXPECT_EQ(a.Describe(), "");
}

TEST(FaultPlan, FaultsBelongToTheirLink) {
  EXPECT_TRUE(FaultAppliesTo(FaultKind::kNak, LinkKind::kSerial));
  EXPECT_FALSE(FaultAppliesTo(FaultKind::kNak, LinkKind::kUsb));
  EXPECT_TRUE(FaultAppliesTo(FaultKind::kLate, LinkKind::kUsb));
  EXPECT_TRUE(FaultAppliesTo(FaultKind::kLate, LinkKind::kSerial));
  EXPECT_FALSE(FaultAppliesTo(FaultKind::kReportIdZero, LinkKind::kSerial));
}

TEST(IniEntry, ReplacesOrAddsTheEntryAndKeepsTheRest) {
  const std::string text =
      "; port settings\n"
      "[USB]\n"
      "Filter=0x0590.52\n"
      "\n"
      "[com3]\n"
      "BaudRate=9600\n"
      "devicepath = /dev/ttyS2\n"
      "DSR=OFF\n"
      "\n"
      "[COM4]\n"
      "DevicePath=/dev/ttyS3\n";
  std::string out = SetIniEntry(text, "COM3", "DevicePath", "/dev/pts/7");
  EXPECT_EQ(out,
            "; port settings\n[USB]\nFilter=0x0590.52\n\n[com3]\nBaudRate=9600\n"
            "DevicePath=/dev/pts/7\nDSR=OFF\n\n[COM4]\nDevicePath=/dev/ttyS3\n");

  // The section exists without the key: added after its last line, before
  // the blank line that separates it from the next section.
  out = SetIniEntry("[COM1]\nDSR=OFF\n\n[COM2]\nDSR=ON\n", "COM1", "DevicePath", "/dev/pts/1");
  EXPECT_EQ(out, "[COM1]\nDSR=OFF\nDevicePath=/dev/pts/1\n\n[COM2]\nDSR=ON\n");

  // No section: appended; an empty file gets just the section.
  EXPECT_EQ(SetIniEntry("[USB]\nX=1", "COM2", "DevicePath", "/p"),
            "[USB]\nX=1\n\n[COM2]\nDevicePath=/p\n");
  EXPECT_EQ(SetIniEntry("", "COM2", "DevicePath", "/p"), "[COM2]\nDevicePath=/p\n");

  // A comment that mentions the key is not the key; CRLF files stay CRLF.
  EXPECT_EQ(SetIniEntry("[COM1]\r\n;DevicePath=old\r\n", "COM1", "DevicePath", "/p"),
            "[COM1]\r\n;DevicePath=old\r\nDevicePath=/p\r\n");
}

TEST(IniEntry, WritesTheFileInPlaceKeepingItsMode) {
  std::string dir = q7mtest::MakeTempDir("ini");
  std::string path = dir + "/PDLNK.INI";
  std::string error;
  ASSERT_TRUE(WriteIniEntry(path, "COM5", "DevicePath", "/dev/pts/9", &error)) << error;
  EXPECT_EQ(q7mtest::ReadFile(path), "[COM5]\nDevicePath=/dev/pts/9\n");
  chmod(path.c_str(), 0600);
  ASSERT_TRUE(WriteIniEntry(path, "COM5", "DevicePath", "/dev/pts/10", &error)) << error;
  EXPECT_EQ(q7mtest::ReadFile(path), "[COM5]\nDevicePath=/dev/pts/10\n");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(WriteIniEntry(dir + "/missing/PDLNK.INI", "COM5", "DevicePath", "/p", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace q7msim
