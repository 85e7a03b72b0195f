#include "sim_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace q7mtest {

std::string EnterFreshWorkingDirectory() {
  const std::string dir = MakeTempDir("cwd");
  EXPECT_EQ(::chdir(dir.c_str()), 0);
  return dir;
}

bool SimReader::Start(int com, const std::vector<std::string>& options) {
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return false;
  std::vector<std::string> args{"--serial=r1", "--pdlnk-ini", std::string(cwd) + "/PDLNK.INI",
                                "--com", std::to_string(com)};
  args.insert(args.end(), options.begin(), options.end());
  return sim_.Start(args, 1);
}

}  // namespace q7mtest
