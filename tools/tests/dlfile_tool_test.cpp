// q7m-dlfile as a user runs it: a file built from an image and a header
// description, shown again with --info, and the refusals with their exit
// statuses, leaving no file behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "download_file.h"
#include "q7m_test.h"

namespace {

struct ToolRun {
  std::vector<std::string> lines;
  int status = -1;
};

ToolRun RunTool(const std::vector<std::string>& args) {
  q7mtest::ChildProcess tool;
  ToolRun run;
  if (!tool.StartProgram(q7mtest::BuildBinDir() + "/q7m-dlfile", args)) return run;
  std::string line;
  while (tool.ReadLine(&line)) run.lines.push_back(line);
  run.status = tool.Wait();
  return run;
}

class DlfileTool : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = q7mtest::MakeTempDir("dlfile"); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  ToolRun Build(const std::string& description, const std::string& image) {
    q7mtest::WriteFile(Path("header.txt"), description);
    q7mtest::WriteFile(Path("image.bin"), image);
    return RunTool(
        {"--header", Path("header.txt"), "--image", Path("image.bin"), "--output", Path("out.dl")});
  }
  std::string dir_;
};

TEST_F(DlfileTool, BuildsAFileThatReadsBackAndShowsWhatItHolds) {
  const std::string image(1000, '\x5A');
  ToolRun built = Build(
      "; comment\n# another\nImageType = Q7M-FW\nimagerevision=11\nBlockSize=512\n"
      "Number=42\nComment=nightly\nCompatible=Q7M-MASK,01,1a2b3c\nCompatible=OLD,00,0\n",
      image);
  ASSERT_EQ(built.status, 0);
  ASSERT_EQ(built.lines.size(), 1u);
  // 1000 bytes of 0x5A and 24 filler bytes of 0xFF.
  EXPECT_NE(built.lines[0].find("2 blocks of 512 bytes, image sum 00017778"), std::string::npos)
      << built.lines[0];

  const std::string file = q7mtest::ReadFile(Path("out.dl"));
  ASSERT_EQ(file.size(), 318u + 40 + 1024);
  EXPECT_EQ(file.substr(1000 + 358), std::string(24, '\xFF'));
  q7m::rdax::DownloadHeader h;
  const auto* data = reinterpret_cast<const uint8_t*>(file.data());
  ASSERT_EQ(q7m::rdax::ParseDownloadHead(data, file.size(), &h),
            q7m::rdax::DownloadFileError::kNone);
  ASSERT_EQ(q7m::rdax::ParseCompatibilityList(data + 318, file.size() - 318, &h),
            q7m::rdax::DownloadFileError::kNone);
  EXPECT_EQ(h.downloadText, "Q7M-FW      11      ");
  EXPECT_EQ(h.entries[0].sum, 0x1A2B3Cu);
  EXPECT_EQ(h.entries[1].type, "OLD         ");

  ToolRun info = RunTool({"--info", Path("out.dl")});
  ASSERT_EQ(info.status, 0);
  std::string all;
  for (const std::string& line : info.lines) all += line + "\n";
  EXPECT_NE(all.find("number:        42"), std::string::npos) << all;
  EXPECT_NE(all.find("type \"Q7M-FW\" revision \"11\" sum 00017778 (matches the blocks)"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("blocks:        2 of 512 bytes"), std::string::npos) << all;
  EXPECT_NE(all.find("type \"Q7M-MASK\" revision \"01\" sum 1A2B3C"), std::string::npos) << all;
}

TEST_F(DlfileTool, RefusesDescriptionsAndImagesThatMakeNoUsableFile) {
  const std::string ok = "ImageType=FW\nBlockSize=16\n";
  std::string elevenEntries = ok;
  for (int i = 0; i < 11; ++i) elevenEntries += "Compatible=M,01,1\n";
  const struct {
    const char* what;
    std::string description;
    std::string image;
  } cases[] = {
      {"no type", "BlockSize=16\n", "x"},
      {"no block size", "ImageType=FW\n", "x"},
      {"block size 0", "ImageType=FW\nBlockSize=0\n", "x"},
      {"block size beyond a message", "ImageType=FW\nBlockSize=2049\n", "x"},
      {"type too long", "ImageType=THIRTEEN-CHAR\nBlockSize=16\n", "x"},
      {"eleven entries", elevenEntries, "x"},
      {"sum of seven digits", ok + "Compatible=M,01,1234567\n", "x"},
      {"unknown key", ok + "Colour=red\n", "x"},
      {"line without a value", ok + "Compatible\n", "x"},
      {"empty image", ok, ""},
      {"more than 9999 blocks", "ImageType=FW\nBlockSize=1\n", std::string(10000, 'x')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    unlink(Path("out.dl").c_str());
    EXPECT_EQ(Build(c.description, c.image).status, 1);
    EXPECT_NE(access(Path("out.dl").c_str(), F_OK), 0) << "no file is left";
  }
}

TEST_F(DlfileTool, InfoRefusesDamagedFilesAndUsageMistakesAreStatusTwo) {
  q7mtest::WriteFile(Path("short.dl"), "TALVOB0001");
  EXPECT_EQ(RunTool({"--info", Path("short.dl")}).status, 1);
  EXPECT_EQ(RunTool({"--info", Path("missing.dl")}).status, 1);
  EXPECT_EQ(RunTool({}).status, 2);
  EXPECT_EQ(RunTool({"--info"}).status, 2);
  EXPECT_EQ(RunTool({"--frobnicate"}).status, 2);
  EXPECT_EQ(RunTool({"--info", "a", "--image", "b"}).status, 2);
  ToolRun help = RunTool({"--help"});
  EXPECT_EQ(help.status, 0);
  ASSERT_FALSE(help.lines.empty());
  EXPECT_EQ(help.lines[0].rfind("usage: q7m-dlfile", 0), 0u);
}

}  // namespace
