// Files through handles: the Win32 creation dispositions, the file pointer,
// positioned I/O, access checks, and what the descriptor looks like to the
// system (mode, close-on-exec).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "q7m/platform_sys.h"
#include "q7m_test.h"

namespace {

namespace fs = std::filesystem;
constexpr uint32_t kRW = Q7M_GENERIC_READ | Q7M_GENERIC_WRITE;
constexpr uint32_t kShare = Q7M_FILE_SHARE_READ | Q7M_FILE_SHARE_WRITE;

class FileIoTest : public testing::Test {
 protected:
  void SetUp() override { dir_ = q7mtest::MakeTempDir("files"); }
  std::string Path(const char* name) { return dir_ + "/" + name; }
  std::string dir_;
};

// The descriptor a handle uses, found through /proc by the file it refers to.
int DescriptorOf(const std::string& path) {
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path(), ec) == path) return std::stoi(entry.path().filename());
  }
  return -1;
}

TEST_F(FileIoTest, DispositionsCreateOpenTruncateAndReportExistence) {
  std::string p = Path("a.dat");
  // CREATE_NEW: only when absent.
  Q7M_HANDLE h = Q7M_CreateFile(p.c_str(), kRW, kShare, Q7M_CREATE_NEW);
  ASSERT_NE(h, nullptr);
  uint32_t n = 0;
  EXPECT_EQ(Q7M_WriteFile(h, "hello", 5, &n), 1);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(Q7M_CloseHandle(h), 1);
  EXPECT_EQ(Q7M_CreateFile(p.c_str(), kRW, kShare, Q7M_CREATE_NEW), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_EXISTS);

  // OPEN_ALWAYS: opens the existing file (last error 183), keeps content.
  Q7M_SetLastError(77);
  h = Q7M_CreateFile(p.c_str(), kRW, kShare, Q7M_OPEN_ALWAYS);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ALREADY_EXISTS);
  uint64_t size = 0;
  EXPECT_EQ(Q7M_GetFileSize(h, &size), 1);
  EXPECT_EQ(size, 5u);
  Q7M_CloseHandle(h);
  // ... and creates a missing one (last error 0).
  Q7M_SetLastError(77);
  h = Q7M_CreateFile(Path("b.dat").c_str(), kRW, kShare, Q7M_OPEN_ALWAYS);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Q7M_GetLastError(), 0u);
  Q7M_CloseHandle(h);

  // CREATE_ALWAYS truncates (183), TRUNCATE_EXISTING truncates (needs
  // write access), OPEN_EXISTING needs the file.
  Q7M_SetLastError(77);
  h = Q7M_CreateFile(p.c_str(), kRW, kShare, Q7M_CREATE_ALWAYS);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ALREADY_EXISTS);
  EXPECT_EQ(Q7M_GetFileSize(h, &size), 1);
  EXPECT_EQ(size, 0u);
  Q7M_WriteFile(h, "xyz", 3, &n);
  Q7M_CloseHandle(h);
  EXPECT_EQ(Q7M_CreateFile(p.c_str(), Q7M_GENERIC_READ, kShare, Q7M_TRUNCATE_EXISTING), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
  h = Q7M_CreateFile(p.c_str(), Q7M_GENERIC_WRITE, kShare, Q7M_TRUNCATE_EXISTING);
  ASSERT_NE(h, nullptr);
  Q7M_CloseHandle(h);
  EXPECT_EQ(fs::file_size(p), 0u);
  EXPECT_EQ(Q7M_CreateFile(Path("none").c_str(), kRW, kShare, Q7M_TRUNCATE_EXISTING), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(Q7M_CreateFile(Path("none").c_str(), kRW, kShare, Q7M_OPEN_EXISTING), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Q7M_CreateFile(Path("nodir/x").c_str(), kRW, kShare, Q7M_CREATE_ALWAYS), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Q7M_CreateFile(p.c_str(), kRW, kShare, 0), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Q7M_CreateFile(nullptr, kRW, kShare, Q7M_OPEN_EXISTING), nullptr);
  // A directory is no file.
  EXPECT_EQ(Q7M_CreateFile(dir_.c_str(), Q7M_GENERIC_READ, kShare, Q7M_OPEN_EXISTING), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
  EXPECT_EQ(Q7M_CreateFile(dir_.c_str(), kRW, kShare, Q7M_OPEN_EXISTING), nullptr);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
}

TEST_F(FileIoTest, NewFilesAreMode0644AndDescriptorsCloseOnExec) {
  mode_t old = umask(022);
  std::string p = Path("mode.dat");
  Q7M_HANDLE h = Q7M_CreateFile(p.c_str(), kRW, kShare, Q7M_CREATE_NEW);
  umask(old);
  ASSERT_NE(h, nullptr);
  struct stat st {};
  ASSERT_EQ(stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  int fd = DescriptorOf(p);
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(Q7M_CloseHandle(h), 1);
  EXPECT_EQ(DescriptorOf(p), -1) << "closing the handle closes the descriptor";
  EXPECT_EQ(Q7M_CloseHandle(h), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
}

TEST_F(FileIoTest, FilePointerReadsWritesAndEndOfFile) {
  Q7M_HANDLE h = Q7M_CreateFile(Path("ptr.dat").c_str(), kRW, kShare, Q7M_CREATE_ALWAYS);
  ASSERT_NE(h, nullptr);
  uint32_t n = 0;
  ASSERT_EQ(Q7M_WriteFile(h, "0123456789", 10, &n), 1);
  ASSERT_EQ(Q7M_SetFilePointer(h, 4), 1);
  char buf[16] = {};
  EXPECT_EQ(Q7M_ReadFile(h, buf, 3, &n), 1);
  EXPECT_EQ(std::string(buf, n), "456");
  // Reading continues at the pointer and is short only at end of file.
  EXPECT_EQ(Q7M_ReadFile(h, buf, sizeof buf, &n), 1);
  EXPECT_EQ(std::string(buf, n), "789");
  EXPECT_EQ(Q7M_ReadFile(h, buf, sizeof buf, &n), 1);
  EXPECT_EQ(n, 0u);
  // Writing past the end leaves a hole of zeros.
  ASSERT_EQ(Q7M_SetFilePointer(h, 12), 1);
  ASSERT_EQ(Q7M_WriteFile(h, "Z", 1, &n), 1);
  uint64_t size = 0;
  EXPECT_EQ(Q7M_GetFileSize(h, &size), 1);
  EXPECT_EQ(size, 13u);
  EXPECT_EQ(Q7M_ReadFileAt(h, 9, buf, 4, &n), 1);
  EXPECT_EQ(std::string(buf, n), std::string("9\0\0Z", 4));
  EXPECT_EQ(Q7M_FlushFileBuffers(h), 1);
  EXPECT_EQ(Q7M_SetFilePointer(h, ~0ull), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Q7M_WriteFile(h, nullptr, 0, &n), 1);
  EXPECT_EQ(Q7M_GetFileSize(h, nullptr), 0);
  Q7M_CloseHandle(h);
}

TEST_F(FileIoTest, PositionedIoLeavesThePointerAndServesManyThreads) {
  static constexpr uint32_t kRecord = 64;
  static constexpr int kThreads = 4, kPerThread = 50;
  Q7M_HANDLE h = Q7M_CreateFile(Path("rec.dat").c_str(), kRW, kShare, Q7M_CREATE_ALWAYS);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(Q7M_SetFilePointer(h, 3), 1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([h, t] {
      for (int i = 0; i < kPerThread; ++i) {
        int record = i * kThreads + t;
        std::string data(kRecord, static_cast<char>('A' + record % 26));
        uint32_t n = 0;
        EXPECT_EQ(Q7M_WriteFileAt(h, uint64_t(record) * kRecord, data.data(), kRecord, &n), 1);
        EXPECT_EQ(n, kRecord);
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int record = 0; record < kThreads * kPerThread; ++record) {
    char buf[kRecord];
    uint32_t n = 0;
    ASSERT_EQ(Q7M_ReadFileAt(h, uint64_t(record) * kRecord, buf, kRecord, &n), 1);
    ASSERT_EQ(std::string(buf, n), std::string(kRecord, static_cast<char>('A' + record % 26)));
  }
  // The file pointer did not move.
  char c = 0;
  uint32_t n = 0;
  EXPECT_EQ(Q7M_ReadFile(h, &c, 1, &n), 1);
  EXPECT_EQ(c, 'A');
  EXPECT_EQ(Q7M_WriteFileAt(h, ~0ull, "x", 1, &n), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
  Q7M_CloseHandle(h);
}

TEST_F(FileIoTest, AccessRightsAndBadHandlesAreRefused) {
  std::string p = Path("ro.dat");
  q7mtest::WriteFile(p, "data");
  Q7M_HANDLE ro = Q7M_CreateFile(p.c_str(), Q7M_GENERIC_READ, kShare, Q7M_OPEN_EXISTING);
  ASSERT_NE(ro, nullptr);
  uint32_t n = 99;
  EXPECT_EQ(Q7M_WriteFile(ro, "x", 1, &n), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Q7M_WriteFileAt(ro, 0, "x", 1, &n), 0);
  EXPECT_EQ(Q7M_FlushFileBuffers(ro), 0);
  Q7M_HANDLE wo = Q7M_CreateFile(p.c_str(), Q7M_GENERIC_WRITE, kShare, Q7M_OPEN_EXISTING);
  ASSERT_NE(wo, nullptr);
  char buf[4];
  EXPECT_EQ(Q7M_ReadFile(wo, buf, 4, &n), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_ACCESS_DENIED);
  EXPECT_EQ(Q7M_ReadFileAt(wo, 0, buf, 4, &n), 0);
  Q7M_CloseHandle(wo);
  Q7M_CloseHandle(ro);

  // Closed and made-up handles.
  EXPECT_EQ(Q7M_ReadFile(ro, buf, 4, &n), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  int dummy = 0;
  EXPECT_EQ(Q7M_WriteFile(&dummy, "x", 1, &n), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  EXPECT_EQ(Q7M_SetFilePointer(nullptr, 0), 0);
  EXPECT_EQ(Q7M_CloseHandle(nullptr), 0);

  // A handle of another kind is no file.
  Q7M_HANDLE event = Q7M_CreateEvent(1, 0, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(Q7M_ReadFile(event, buf, 4, &n), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
  uint64_t size = 0;
  EXPECT_EQ(Q7M_GetFileSize(event, &size), 0);
  EXPECT_EQ(Q7M_CloseHandle(event), 1);
}

TEST_F(FileIoTest, AFullDeviceReportsDiskFullAndThePartialCount) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Q7M_HANDLE h = Q7M_CreateFile("/dev/full", Q7M_GENERIC_WRITE, kShare, Q7M_OPEN_EXISTING);
  ASSERT_NE(h, nullptr);
  uint32_t n = 99;
  EXPECT_EQ(Q7M_WriteFile(h, "abc", 3, &n), 0);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_DISK_FULL);
  EXPECT_EQ(n, 0u);
  Q7M_CloseHandle(h);
}

}  // namespace
