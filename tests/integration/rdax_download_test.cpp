// The firmware download on an emulated reader, on the serial and the USB
// link: the commands of a good download in their order and sizes, files
// that are foreign, damaged or for another reader, a reader that refuses to
// start, a download cancelled in its blocks, and a file made by q7m-dlfile.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "download_file.h"
#include "q7m/sequor.h"
#include "rdax_sim_fixture.h"

namespace rdaxsim {
namespace {

using q7m::rdax::DownloadHeader;
using q7m::rdax::VersionText;

const VersionText kReaderMask{"Q7M-MASK    ", "01", 0x1A2B3C};
const std::string kAnnounce = "Cd3Q7M-FW      1012345678";

// A printable image, so the wire log shows it as it is.
std::string Image(size_t size) {
  std::string image(size, ' ');
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<char>('A' + i % 26);
  return image;
}

DownloadHeader Header(uint32_t blockSize, uint32_t blockCount,
                      std::vector<VersionText> entries = {kReaderMask}) {
  DownloadHeader h;
  h.image = {"Q7M-FW", "11", 0};
  h.blockSize = blockSize;
  h.blockCount = blockCount;
  h.downloadText = "Q7M-FW      11";
  h.entryCount = static_cast<uint32_t>(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) h.entries[i] = entries[i];
  return h;
}

std::string FileBytes(const DownloadHeader& h, const std::string& image) {
  std::string file, error;
  EXPECT_TRUE(q7m::rdax::FormatDownloadHeader(h, &file, &error)) << error;
  return file + image;
}

// Descriptors of this process open on files of `dir`.
int OpenFilesIn(const std::string& dir) {
  int count = 0;
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  while (dirent* entry = readdir(fds)) {
    char target[4096];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)).rfind(dir + "/", 0) == 0) ++count;
  }
  closedir(fds);
  return count;
}

class DownloadOnSim : public RdaxOnSim {
 protected:
  std::vector<std::string> Commands() const {
    std::vector<std::string> texts;
    for (const std::string& line : sim_.process().LogLines(reader(), "CMD")) {
      const size_t first = line.find('|');
      const size_t last = line.rfind('|');
      if (first != std::string::npos && last > first)
        texts.push_back(line.substr(first + 1, last - first - 1));
    }
    return texts;
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    q7mtest::WriteFile(path, bytes);
    return path;
  }
  // Downloads `bytes` as a file; the commands the reader got meanwhile.
  uint32_t Download(const std::string& bytes, std::vector<std::string>* sent) {
    const size_t mark = Commands().size();
    const uint32_t r = RDAX_ExecuteDownload(handle_, Write("image.dl", bytes).c_str(), nullptr);
    const std::vector<std::string> all = Commands();
    sent->assign(all.begin() + static_cast<long>(mark), all.end());
    return r;
  }
  std::string FirmwareVersion() {
    std::string versions;
    EXPECT_EQ(Send("CV0", &versions), RDAX_OK);
    return versions.size() == 67 ? versions.substr(45, 22) : versions;
  }
};

TEST_P(DownloadOnSim, AnAsynchronousDownloadSendsEveryStepAndTheReaderTakesTheImage) {
  // Only the third of three entries names the reader's mask.
  const DownloadHeader h = Header(
      512, 3, {{"OTHER-MASK", "01", 0x1A2B3C}, {"Q7M-MASK    ", "02", 0x1A2B3C}, kReaderMask});
  const std::string image = Image(512 * 3);
  const std::string path = Write("good.dl", FileBytes(h, image));
  const size_t mark = Commands().size();

  Q7M_HANDLE event = Q7M_CreateEvent(1, 0, nullptr);
  ASSERT_EQ(RDAX_ExecuteDownload(handle_, path.c_str(), event), RDAX_I_ASYNC_STARTED);
  ASSERT_EQ(Q7M_WaitForSingleObject(event, 60000), Q7M_WAIT_OBJECT_0);
  Q7M_CloseHandle(event);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_OK);

  std::vector<std::string> sent = Commands();
  sent.erase(sent.begin(), sent.begin() + static_cast<long>(mark));
  ASSERT_EQ(sent.size(), 8u);
  EXPECT_EQ(sent[0], "CV0");
  EXPECT_EQ(sent[1], kAnnounce);
  EXPECT_EQ(sent[2], "C00");
  EXPECT_EQ(sent[3].size(), 33u + 20 * 3);
  EXPECT_EQ(sent[3].substr(0, 11), "Cd005120003");
  EXPECT_EQ(sent[3].substr(11, 22), "Q7M-FW      11      03");
  EXPECT_EQ(sent[3].substr(33 + 40), "Q7M-MASK    011A2B3C");
  for (int block = 0; block < 3; ++block) {
    EXPECT_EQ(sent[4 + block], "Cd1" + image.substr(512 * block, 512)) << "block " << block;
  }
  EXPECT_EQ(sent[7], "Cd2");

  uint32_t sum = 0;
  for (unsigned char c : image) sum += c;
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", sum);
  EXPECT_EQ(FirmwareVersion(), std::string("Q7M-FW      11") + hex);
}

TEST_P(DownloadOnSim, DamagedAndForeignFilesStopAfterTheVersionQuery) {
  const std::string good = FileBytes(Header(16, 2), Image(32));
  std::string badMark = good;
  badMark.replace(0, 6, "TALVOX");
  std::string eleven = good;  // ten entries, then announced as eleven
  DownloadHeader ten = Header(16, 2, std::vector<VersionText>(10, kReaderMask));
  eleven = FileBytes(ten, Image(32));
  eleven.replace(316, 2, "11");
  eleven.insert(318, "Q7M-MASK    011A2B3C");
  std::string hugeBlocks = good;
  hugeBlocks.replace(288, 4, "9999");
  std::string zeroBlocks = good;
  zeroBlocks.replace(292, 4, "0000");
  std::string lettersForSize = good;
  lettersForSize.replace(288, 4, "1x16");
  const struct {
    const char* what;
    std::string bytes;
    uint32_t result;
  } cases[] = {
      {"foreign mark", badMark, RDAX_E_DOWNLOAD_FILE},
      {"eleven entries", eleven, RDAX_E_DOWNLOAD_FILE},
      {"header only", good.substr(0, 318), RDAX_E_DOWNLOAD_FILE},
      {"shorter than its header", good.substr(0, 100), RDAX_E_DOWNLOAD_FILE},
      {"empty", std::string(), RDAX_E_DOWNLOAD_FILE},
      {"image cut short", good.substr(0, good.size() - 1), RDAX_E_DOWNLOAD_FILE},
      {"block size beyond a message", hugeBlocks, RDAX_E_DOWNLOAD_FILE},
      {"no blocks", zeroBlocks, RDAX_E_DOWNLOAD_FILE},
      {"letters in the block size", lettersForSize, RDAX_E_DOWNLOAD_FILE},
      {"for another reader",
       FileBytes(Header(16, 2, {{"Q7M-MASK    ", "01", 0x1A2B3D}}), Image(32)),
       RDAX_E_DOWNLOAD_MISMATCH},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> sent;
    EXPECT_EQ(Download(c.bytes, &sent), c.result);
    EXPECT_EQ(RDAX_GetResult(handle_), c.result);
    EXPECT_EQ(sent, std::vector<std::string>{"CV0"});
    EXPECT_EQ(OpenFilesIn(dir_), 0) << "the file is closed";
  }

  const size_t mark = Commands().size();
  EXPECT_EQ(RDAX_ExecuteDownload(handle_, (dir_ + "/missing.dl").c_str(), nullptr), RDAX_F_SYSTEM);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_F_SYSTEM);
  EXPECT_EQ(Commands().size(), mark + 1);
  EXPECT_EQ(RDAX_ExecuteDownload(handle_, nullptr, nullptr), RDAX_E_NULL_ARGUMENT);
}

TEST_P(DownloadOnSim, AnEmptyListFitsEveryReader) {
  std::vector<std::string> sent;
  EXPECT_EQ(Download(FileBytes(Header(8, 1, {}), Image(8)), &sent), RDAX_OK);
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(sent[3], "Cd000080001Q7M-FW      11      00");
}

TEST_P(DownloadOnSim, ReaderRefusalsEndTheDownloadWithSuccessExceptStateRefusals) {
  const std::string file = FileBytes(Header(16, 2), Image(32));
  std::vector<std::string> sent;

  sim_.Control({"fault", reader(), "error", "code=99", "cmd=d0"});
  EXPECT_EQ(Download(file, &sent), RDAX_OK);
  EXPECT_EQ(OpenFilesIn(dir_), 0) << "the file is closed";
  ASSERT_EQ(sent.size(), 4u) << "no block after a refused start";
  EXPECT_EQ(sent[3].substr(0, 3), "Cd0");

  sim_.Control({"fault", reader(), "error", "code=70", "cmd=00"});
  EXPECT_EQ(Download(file, &sent), RDAX_OK);
  EXPECT_EQ(sent.size(), 7u) << "a refusal of the state lets the download go on";
  EXPECT_EQ(sent.back(), "Cd2");

  sim_.Control({"fault", reader(), "error", "code=99", "cmd=d3"});
  EXPECT_EQ(Download(file, &sent), RDAX_OK);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].substr(0, 3), "Cd3") << "the firmware is the one just downloaded";

  sim_.Control({"fault", reader(), "error", "code=99", "cmd=V0"});
  EXPECT_EQ(Download(file, &sent), RDAX_OK);
  EXPECT_EQ(sent, std::vector<std::string>{"CV0"});
}

TEST_P(DownloadOnSim, ACancelInTheBlocksEndsTheDownloadAndTheReaderForgetsIt) {
  const std::string path = Write("slow.dl", FileBytes(Header(16, 3), Image(48)));
  sim_.Control({"fault", reader(), "no-answer", "cmd=d1"});
  Q7M_HANDLE event = Q7M_CreateEvent(1, 0, nullptr);
  ASSERT_EQ(RDAX_ExecuteDownload(handle_, path.c_str(), event), RDAX_I_ASYNC_STARTED);
  ASSERT_TRUE(ReaderGot("Cd1" + Image(16)));
  EXPECT_EQ(RDAX_Cancel(handle_), RDAX_OK);
  ASSERT_EQ(Q7M_WaitForSingleObject(event, 30000), Q7M_WAIT_OBJECT_0);
  Q7M_CloseHandle(event);
  EXPECT_EQ(RDAX_GetResult(handle_), RDAX_W_CANCELLED);
  EXPECT_EQ(OpenFilesIn(dir_), 0) << "the file is closed";
  EXPECT_EQ(sim_.process().Status(reader())["DownloadPhase"], "idle");
  for (const std::string& command : Commands()) EXPECT_NE(command, "Cd2");
}

TEST_P(DownloadOnSim, AFileMadeByTheToolIsDownloaded) {
  q7mtest::WriteFile(dir_ + "/image.bin", Image(1000));
  q7mtest::WriteFile(dir_ + "/header.txt",
                     "# test image\nImageType=Q7M-FW2\nImageRevision=12\nBlockSize=256\n"
                     "Compatible=Q7M-MASK,01,1a2b3c\n");
  q7mtest::ChildProcess tool;
  ASSERT_TRUE(tool.StartProgram(q7mtest::BuildBinDir() + "/q7m-dlfile",
                                {"--header", dir_ + "/header.txt", "--image", dir_ + "/image.bin",
                                 "--output", dir_ + "/tool.dl"}));
  std::string line;
  ASSERT_TRUE(tool.ReadLine(&line));
  ASSERT_EQ(tool.Wait(), 0);
  const std::string sum = line.substr(line.size() - 8);

  EXPECT_EQ(RDAX_ExecuteDownload(handle_, (dir_ + "/tool.dl").c_str(), nullptr), RDAX_OK);
  EXPECT_EQ(FirmwareVersion(), "Q7M-FW2     12" + sum);
}

INSTANTIATE_TEST_SUITE_P(Links, DownloadOnSim, ::testing::Values(Link::kSerial, Link::kUsb),
                         LinkName);

}  // namespace
}  // namespace rdaxsim
