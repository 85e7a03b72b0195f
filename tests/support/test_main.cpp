// main() of every test executable: a private namespace for named objects and
// the virtual HID bus, a scratch directory, and the child-process mode.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "q7m_test.h"

namespace q7mtest {
std::map<std::string, ChildBody>& ChildRegistry();
std::string& ScratchDirStorage();
}  // namespace q7mtest

int main(int argc, char** argv) {
  const char* childPrefix = "--q7m-child=";
  if (argc >= 2 && std::strncmp(argv[1], childPrefix, std::strlen(childPrefix)) == 0) {
    // A child inherits the parent's namespace and scratch directories.
    std::string name = argv[1] + std::strlen(childPrefix);
    const char* scratch = getenv("Q7M_TEST_SCRATCH");
    if (scratch) q7mtest::ScratchDirStorage() = scratch;
    auto& registry = q7mtest::ChildRegistry();
    auto it = registry.find(name);
    if (it == registry.end()) return 126;
    std::vector<std::string> args(argv + 2, argv + argc);
    return it->second(args);
  }

  std::string base = (std::filesystem::temp_directory_path() / "q7mtest.XXXXXX").string();
  std::vector<char> templ(base.begin(), base.end());
  templ.push_back('\0');
  if (!mkdtemp(templ.data())) {
    perror("mkdtemp");
    return 2;
  }
  std::string root = templ.data();
  std::filesystem::create_directories(root + "/objects");
  std::filesystem::create_directories(root + "/hidbus");
  std::filesystem::create_directories(root + "/scratch");
  setenv("Q7M_OBJECT_DIR", (root + "/objects").c_str(), 1);
  setenv("Q7M_HIDBUS_DIR", (root + "/hidbus").c_str(), 1);
  setenv("Q7M_TEST_SCRATCH", (root + "/scratch").c_str(), 1);
  // No registry file of the machine leaks into a test unless it sets one.
  setenv("Q7M_REGISTRY", (root + "/none.reg").c_str(), 1);
  q7mtest::ScratchDirStorage() = root + "/scratch";

  testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return rc;
}
