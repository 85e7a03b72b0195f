// The system-wide object-name rule.
#include <gtest/gtest.h>

#include <string>

#include "q7m/common/object_name.h"
#include "q7m/platform.h"

namespace {

using q7m::ComposeObjectName;

TEST(ObjectNameTest, PrefixBaseWithTabsForBackslashesAndSuffix) {
  EXPECT_EQ(ComposeObjectName("COM3", "Mutex"), "Global\\COM3Mutex");
  EXPECT_EQ(ComposeObjectName("C:\\logs\\trace.log", "Mem"), "Global\\C:\tlogs\ttrace.logMem");
  // Only the base is rewritten: the prefix keeps its backslash and a '/'
  // path stays as it is.
  EXPECT_EQ(ComposeObjectName("/var/log/q7m.trc", "MemLockMutex"),
            "Global\\/var/log/q7m.trcMemLockMutex");
  EXPECT_EQ(ComposeObjectName(nullptr, "Mutex"), "Global\\Mutex");
  EXPECT_EQ(ComposeObjectName("B", nullptr), "Global\\B");
}

TEST(ObjectNameTest, LongBasesAreCutFromTheFrontToExactly260Characters) {
  std::string base;
  for (int i = 0; i < 300; ++i) base.push_back(static_cast<char>('a' + i % 26));
  std::string name = ComposeObjectName(base.c_str(), "Mutex");
  EXPECT_EQ(name.size(), 260u);
  EXPECT_EQ(name, "Global\\" + base.substr(300 - 248) + "Mutex");

  // Just at the limit nothing is cut; one more drops the first character.
  std::string fits(260 - 7 - 5, 'x');
  EXPECT_EQ(ComposeObjectName(fits.c_str(), "Mutex").size(), 260u);
  std::string over = "y" + fits;
  EXPECT_EQ(ComposeObjectName(over.c_str(), "Mutex"), "Global\\" + fits + "Mutex");

  // Backslashes in the kept part become tabs, the cut-off part is gone.
  std::string slashed = std::string(100, '\\') + std::string(200, 'k') + "\\end";
  name = ComposeObjectName(slashed.c_str(), "Mem");
  EXPECT_EQ(name.size(), 260u);
  EXPECT_EQ(name.substr(name.size() - 7), "\tendMem");
  EXPECT_EQ(name.find('\\', 7), std::string::npos);
}

class NameHolder : public q7m::clsNamedObject {
 public:
  using clsNamedObject::FreeName;
  using clsNamedObject::MakeName;
};

TEST(ObjectNameTest, MakingAndFreeingANameKeepsTheLastError) {
  NameHolder holder;
  Q7M_SetLastError(Q7M_ERROR_ALREADY_EXISTS);
  EXPECT_STREQ(holder.MakeName("Base", "Mutex"), "Global\\BaseMutex");
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ALREADY_EXISTS);
  holder.FreeName();
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ALREADY_EXISTS);
}

}  // namespace
