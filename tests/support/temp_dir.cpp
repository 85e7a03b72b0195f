#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "q7m_test.h"

namespace q7mtest {

namespace fs = std::filesystem;

std::string& ScratchDirStorage() {
  static std::string dir;
  return dir;
}

const std::string& ScratchDir() { return ScratchDirStorage(); }

std::string MakeTempDir(const std::string& stem) {
  static std::atomic<int> counter{0};
  std::string path = ScratchDir() + "/" + stem + std::to_string(counter++);
  fs::create_directories(path);
  return path;
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out.good()) << "cannot write " << path;
  out << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

static std::string ExeDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  return fs::path(buf).parent_path().string();
}

// Test executables live in <build>/tests; programs and libraries beside it.
std::string BuildBinDir() { return (fs::path(ExeDir()).parent_path() / "bin").string(); }
std::string BuildLibDir() { return (fs::path(ExeDir()).parent_path() / "lib").string(); }

}  // namespace q7mtest
