// Path helpers: both separators, and the literal rules for dots.
#include <gtest/gtest.h>

#include "q7m/common/path_util.h"
#include "q7m_test.h"

namespace {

using namespace q7m;

TEST(PathUtilTest, PartsOfPathsWithEitherSeparator) {
  EXPECT_EQ(PathBaseName("/opt/q7m/trace.log"), "trace");
  EXPECT_EQ(PathBaseName("C:\\logs\\trace.old.log"), "trace.old");
  EXPECT_EQ(PathBaseName("noext"), "noext");
  EXPECT_EQ(PathBaseName("dir.d/file"), "file");
  EXPECT_EQ(PathDirectory("/opt/q7m/trace.log"), "/opt/q7m/");
  EXPECT_EQ(PathDirectory("conf\\PDLNK.INI"), "conf\\");
  EXPECT_EQ(PathDirectory("a/b\\c"), "a/b\\");
  EXPECT_EQ(PathDirectory("PDLNK.INI"), "");
  EXPECT_EQ(PathFilePart("/opt/q7m/trace.log"), "trace.log");
  EXPECT_EQ(PathFilePart("x\\y"), "y");
  EXPECT_EQ(PathFilePart("plain"), "plain");
  EXPECT_EQ(PathFilePart("ends/"), "");
}

TEST(PathUtilTest, ExtensionDirectoryAndConversion) {
  EXPECT_TRUE(PathHasExtension("PDLNK.INI"));
  EXPECT_TRUE(PathHasExtension("./PDLNK"));  // a dot anywhere counts
  EXPECT_FALSE(PathHasExtension("PDLNK"));
  EXPECT_TRUE(PathHasDirectory("conf/PDLNK"));
  EXPECT_TRUE(PathHasDirectory("conf\\PDLNK"));
  EXPECT_FALSE(PathHasDirectory("PDLNK.INI"));
  EXPECT_TRUE(IsPathSeparator('/'));
  EXPECT_TRUE(IsPathSeparator('\\'));
  EXPECT_FALSE(IsPathSeparator(':'));
  EXPECT_EQ(PathToNative("C:\\logs\\a/b"), "C:/logs/a/b");

  std::string dir = q7mtest::MakeTempDir("pu");
  q7mtest::WriteFile(dir + "/f", "");
  EXPECT_TRUE(PathExists(dir + "/f"));
  EXPECT_TRUE(PathExists(dir));
  EXPECT_FALSE(PathExists(dir + "/g"));
}

}  // namespace
