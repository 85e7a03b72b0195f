// Full path names (lexical), the current directory, and existence checks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "q7m/platform_sys.h"
#include "q7m_test.h"

namespace {

namespace fs = std::filesystem;

std::string Full(const char* path) {
  char buffer[4096];
  uint32_t n = Q7M_GetFullPathName(path, buffer, sizeof buffer);
  return std::string(buffer, n < sizeof buffer ? n : 0);
}

// Runs the test body in `dir` and returns to the old directory after.
class InDirectory {
 public:
  explicit InDirectory(const std::string& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~InDirectory() { fs::current_path(old_); }

 private:
  fs::path old_;
};

TEST(PathNamesTest, FullPathsAreResolvedLexically) {
  EXPECT_EQ(Full("/a/b/../c/./d"), "/a/c/d");
  EXPECT_EQ(Full("/a//b///c"), "/a/b/c");
  EXPECT_EQ(Full("/../.."), "/");
  EXPECT_EQ(Full("/"), "/");
  EXPECT_EQ(Full("/a/b/"), "/a/b/");  // a trailing separator is kept
  EXPECT_EQ(Full("/a/b/.."), "/a");
  EXPECT_EQ(Full("/a/b/."), "/a/b");

  std::string dir = fs::canonical(q7mtest::MakeTempDir("cwd")).string();
  InDirectory in(dir);
  EXPECT_EQ(Full("x.ini"), dir + "/x.ini");
  EXPECT_EQ(Full("./sub/../y"), dir + "/y");
  EXPECT_EQ(Full("."), dir);
  // The file need not exist, and ".." above the current directory works.
  EXPECT_EQ(Full("../not-there/z"), fs::path(dir).parent_path().string() + "/not-there/z");
}

TEST(PathNamesTest, BufferSizesFollowTheWin32Convention) {
  // Fits: the length; too small: the size needed with the terminator.
  char buffer[8] = "#######";
  EXPECT_EQ(Q7M_GetFullPathName("/abc/def", buffer, 8), 9u);
  EXPECT_STREQ(buffer, "#######");  // untouched
  EXPECT_EQ(Q7M_GetFullPathName("/abc/de", buffer, 8), 7u);
  EXPECT_STREQ(buffer, "/abc/de");
  EXPECT_EQ(Q7M_GetFullPathName("/abc", nullptr, 0), 5u);
  EXPECT_EQ(Q7M_GetFullPathName("", buffer, 8), 0u);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_NAME);
  EXPECT_EQ(Q7M_GetFullPathName(nullptr, buffer, 8), 0u);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);

  std::string dir = fs::canonical(q7mtest::MakeTempDir("cur")).string();
  InDirectory in(dir);
  char cwd[4096];
  EXPECT_EQ(Q7M_GetCurrentDirectory(cwd, sizeof cwd), dir.size());
  EXPECT_EQ(std::string(cwd), dir);
  EXPECT_EQ(Q7M_GetCurrentDirectory(cwd, 2), dir.size() + 1);
  EXPECT_EQ(Q7M_GetCurrentDirectory(nullptr, 0), dir.size() + 1);
}

TEST(PathNamesTest, ExistenceOfFilesDirectoriesAndDanglingLinks) {
  std::string dir = q7mtest::MakeTempDir("exists");
  q7mtest::WriteFile(dir + "/file", "");
  fs::create_symlink(dir + "/gone", dir + "/dangling");
  EXPECT_EQ(Q7M_PathExists(dir.c_str()), 1);
  EXPECT_EQ(Q7M_PathExists((dir + "/file").c_str()), 1);
  EXPECT_EQ(Q7M_PathExists((dir + "/dangling").c_str()), 1);
  EXPECT_EQ(Q7M_PathExists((dir + "/gone").c_str()), 0);
  EXPECT_EQ(Q7M_PathExists((dir + "/file/below").c_str()), 0);
  EXPECT_EQ(Q7M_PathExists(""), 0);
  EXPECT_EQ(Q7M_PathExists(nullptr), 0);
}

}  // namespace
