// Q7M_GetPrivateProfileString: the Win32 private-profile rules the stack's
// INI files are written against, and hostile files that must neither crash
// the reader nor leak garbage into a value.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "q7m/platform_sys.h"
#include "q7m_test.h"

namespace {

struct Read {
  uint32_t length;
  std::string text;
};

class PrivateProfileTest : public testing::Test {
 protected:
  void SetUp() override { path_ = q7mtest::MakeTempDir("ini") + "/TEST.INI"; }
  void Write(const std::string& content) { q7mtest::WriteFile(path_, content); }
  Read Get(const char* section, const char* key, const char* def = "<def>", uint32_t size = 256) {
    std::vector<char> buffer(size + 1, '#');
    uint32_t n = Q7M_GetPrivateProfileString(section, key, def, buffer.data(), size, path_.c_str());
    return {n, std::string(buffer.data(), size ? n : 0)};
  }
  std::string path_;
};

TEST_F(PrivateProfileTest, SectionsAndKeysIgnoreCaseAndTheFirstMatchWins) {
  Write(
      "[Trace]\n"
      "Level=1\n"
      "LEVEL=2\n"
      "OnlyInFirst=a\n"
      "[other]\n"
      "Level=9\n"
      "[TRACE]\n"
      "Level=3\n"
      "OnlyInSecond=b\n");
  EXPECT_EQ(Get("Trace", "Level").text, "1");
  EXPECT_EQ(Get("trace", "level").text, "1");
  EXPECT_EQ(Get("TrAcE", "onlyinfirst").text, "a");
  EXPECT_EQ(Get("OTHER", "level").text, "9");
  // A repeated section is not searched: its keys are unreachable.
  EXPECT_EQ(Get("Trace", "OnlyInSecond").text, "<def>");
  // Requested names are trimmed like the file's names.
  EXPECT_EQ(Get(" Trace ", " Level\t").text, "1");
}

TEST_F(PrivateProfileTest, CommentsBlankLinesAndLinesWithoutEqualsCarryNoValue) {
  Write(
      "; leading comment\n"
      "[S]\n"
      ";Key=commented\n"
      "   ; indented comment Key=x\n"
      "\n"
      "Key\n"
      "Key=real ; not a comment\n"
      "[Broken\n"
      "After=still in S\n");
  EXPECT_EQ(Get("S", "Key").text, "real ; not a comment");
  EXPECT_EQ(Get("S", ";Key").text, "<def>");
  // "[Broken" has no ']' and so does not open a section.
  EXPECT_EQ(Get("S", "After").text, "still in S");
  EXPECT_EQ(Get("Broken", "After").text, "<def>");
}

TEST_F(PrivateProfileTest, BlanksAreTrimmedAndOnePairOfQuotesRemoved) {
  Write(
      "  [ Paths ]  \n"
      "  Dir  =   /var/log  \t\n"
      "Quoted=\"  spaced  \"\n"
      "Single='single'\n"
      "Twice=\"\"inner\"\"\n"
      "Unbalanced=\"open\n"
      "Mixed=\"mixed'\n"
      "Lone=\"\n"
      "Empty=\n"
      "EmptyQuotes=\"\"\n"
      "Equals=a=b=c\n");
  EXPECT_EQ(Get("Paths", "Dir").text, "/var/log");
  EXPECT_EQ(Get("Paths", "Quoted").text, "  spaced  ");
  EXPECT_EQ(Get("Paths", "Single").text, "single");
  EXPECT_EQ(Get("Paths", "Twice").text, "\"inner\"");
  EXPECT_EQ(Get("Paths", "Unbalanced").text, "\"open");
  EXPECT_EQ(Get("Paths", "Mixed").text, "\"mixed'");
  EXPECT_EQ(Get("Paths", "Lone").text, "\"");
  // An empty value is a value: the default is not used.
  EXPECT_EQ(Get("Paths", "Empty").length, 0u);
  EXPECT_EQ(Get("Paths", "Empty").text, "");
  EXPECT_EQ(Get("Paths", "EmptyQuotes").text, "");
  EXPECT_EQ(Get("Paths", "Equals").text, "a=b=c");
}

TEST_F(PrivateProfileTest, LineEndingsLfCrLfAndCrAreAllLineBreaks) {
  for (const char* eol : {"\n", "\r\n", "\r"}) {
    std::string e = eol;
    Write("[A]" + e + "One=1" + e + "[B]" + e + "Two=2  " + e + "Last=end");
    EXPECT_EQ(Get("A", "One").text, "1") << "eol " << int(eol[0]) << int(eol[1]);
    EXPECT_EQ(Get("B", "Two").text, "2");
    EXPECT_EQ(Get("B", "Last").text, "end");
    EXPECT_EQ(Get("A", "Two").text, "<def>");
  }
}

TEST_F(PrivateProfileTest, ValueIsCutToSizeMinusOneAndAlwaysTerminated) {
  Write("[S]\nKey=abcdef\nQuoted=\"abcdef\"\n");
  Read r = Get("S", "Key", "", 4);
  EXPECT_EQ(r.length, 3u);
  EXPECT_EQ(r.text, "abc");
  // Exactly size-1 characters fit completely.
  EXPECT_EQ(Get("S", "Key", "", 7).text, "abcdef");
  EXPECT_EQ(Get("S", "Key", "", 7).length, 6u);
  EXPECT_EQ(Get("S", "Quoted", "", 7).text, "abcdef");
  EXPECT_EQ(Get("S", "Quoted", "", 3).text, "ab");
  EXPECT_EQ(Get("S", "Key", "", 1).length, 0u);

  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(Q7M_GetPrivateProfileString("S", "Key", "", buffer, 0, path_.c_str()), 0u);
  EXPECT_STREQ(buffer, "xxxxxxx");  // size 0: nothing written
  EXPECT_EQ(Q7M_GetPrivateProfileString("S", "Key", "", buffer, 4, path_.c_str()), 3u);
  EXPECT_EQ(buffer[3], '\0');
  EXPECT_EQ(buffer[4], 'x');  // nothing written past size
}

TEST_F(PrivateProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
  Write("[S]\nKey=v\n");
  EXPECT_EQ(Get("S", "Nope").text, "<def>");
  EXPECT_EQ(Get("Nope", "Key").text, "<def>");
  EXPECT_EQ(Get("S", "Nope", nullptr).text, "");
  // Trailing blanks of a default are dropped, as on Win32.
  EXPECT_EQ(Get("S", "Nope", "dflt  \t").text, "dflt");
  EXPECT_EQ(Get("S", "Nope", "longdefault", 5).text, "long");

  Q7M_SetLastError(0);
  char buffer[32];
  std::string missing = q7mtest::ScratchDir() + "/no-such.ini";
  EXPECT_EQ(Q7M_GetPrivateProfileString("S", "Key", "d", buffer, sizeof buffer, missing.c_str()),
            1u);
  EXPECT_STREQ(buffer, "d");
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Q7M_GetPrivateProfileString("S", "Key", "d", buffer, sizeof buffer, nullptr), 1u);
  EXPECT_EQ(Q7M_GetPrivateProfileString("S", "Key", "d", nullptr, 8, path_.c_str()), 0u);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
}

TEST_F(PrivateProfileTest, EditsTakeEffectOnTheNextCall) {
  Write("[S]\nKey=old\n");
  EXPECT_EQ(Get("S", "Key").text, "old");
  Write("[S]\nKey=new\n");
  EXPECT_EQ(Get("S", "Key").text, "new");
}

TEST_F(PrivateProfileTest, EntriesBeforeTheFirstHeaderAndAByteOrderMark) {
  Write("\xEF\xBB\xBFTop=t\n[S]\nKey=v\n");
  EXPECT_EQ(Get("", "Top").text, "t");
  EXPECT_EQ(Get("S", "Key").text, "v");
  Write("\xEF\xBB\xBF[S]\nKey=v\n");
  EXPECT_EQ(Get("S", "Key").text, "v");
}

TEST_F(PrivateProfileTest, NullSectionOrKeyListsNamesDoubleTerminated) {
  Write("[One]\na=1\nb=2\n[Two]\n[]\nc=3\n[One]\nd=4\n");
  std::vector<char> buffer(64, '#');
  uint32_t n = Q7M_GetPrivateProfileString(nullptr, nullptr, "", buffer.data(), 64, path_.c_str());
  EXPECT_EQ(std::string(buffer.data(), n), std::string("One\0Two\0One\0", 12));
  EXPECT_EQ(buffer[n], '\0');

  n = Q7M_GetPrivateProfileString("one", nullptr, "", buffer.data(), 64, path_.c_str());
  EXPECT_EQ(std::string(buffer.data(), n + 1), std::string("a\0b\0\0", 5));

  // Too small: the last name is cut and followed by two zeros; size-2.
  n = Q7M_GetPrivateProfileString(nullptr, nullptr, "", buffer.data(), 7, path_.c_str());
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(std::string(buffer.data(), 7), std::string("One\0T\0\0", 7));
}

TEST_F(PrivateProfileTest, HostileFilesNeitherCrashNorLeakBytesIntoValues) {
  // A NUL byte ends its line: what follows on that line is not read.
  static const char kWithNul[] = "[S]\nKey=ab\0cd\nNext=ok\n[T\0]\nX=1\n";
  Write(std::string(kWithNul, sizeof kWithNul - 1));
  EXPECT_EQ(Get("S", "Key").text, "ab");
  EXPECT_EQ(Get("S", "Next").text, "ok");
  EXPECT_EQ(Get("S", "X").text, "1");

  // Odd shapes: empty names, lone brackets, '=' lines.
  Write("[\n]\n[]\n=novalue\n[S]\n=anon\n[[x]]\nKey=[v]\n");
  EXPECT_EQ(Get("[x]", "Key").text, "[v]");
  EXPECT_EQ(Get("S", "").text, "anon");

  // A very long line: the value is cut, not overflowed.
  Write("[S]\nKey=" + std::string(1 << 20, 'z') + "\n");
  Read r = Get("S", "Key", "", 100);
  EXPECT_EQ(r.length, 99u);
  EXPECT_EQ(r.text, std::string(99, 'z'));

  // Every byte value, in lines of random length.
  std::string noise;
  uint32_t seed = 12345;
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 1103515245 + 12345;
    noise.push_back(static_cast<char>(seed >> 16));
  }
  Write(noise);
  (void)Get("S", "Key");
  (void)Get(nullptr, nullptr);
}

TEST_F(PrivateProfileTest, OversizedAndNonRegularFilesAreRefused) {
  // Beyond the 4 MiB bound the file is not read at all.
  Write("[S]\nKey=v\n" + std::string(4u << 20, ';'));
  Q7M_SetLastError(0);
  EXPECT_EQ(Get("S", "Key").text, "<def>");
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_DATA);

  // A directory, and a FIFO without writer (which must not block the read).
  std::string dir = q7mtest::MakeTempDir("inidir");
  char buffer[16];
  EXPECT_EQ(Q7M_GetPrivateProfileString("S", "Key", "d", buffer, sizeof buffer, dir.c_str()), 1u);
  std::string fifo = dir + "/fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(Q7M_GetPrivateProfileString("S", "Key", "d", buffer, sizeof buffer, fifo.c_str()), 1u);
  EXPECT_STREQ(buffer, "d");
}

}  // namespace
