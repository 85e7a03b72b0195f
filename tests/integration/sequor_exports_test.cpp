// libSEQUOR.so as a caller that binds by ordinal sees it: every name of the
// module-definition file, in ordinal order, is exported by the library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "q7m_test.h"

namespace {

// "NAME @N" lines of the EXPORTS section, in file order.
std::vector<std::pair<std::string, int>> DefinitionFileExports(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::pair<std::string, int>> exports;
  std::string line;
  bool inExports = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string first, ordinal;
    words >> first;
    if (first.empty() || first[0] == ';') continue;
    if (first == "EXPORTS") {
      inExports = true;
      continue;
    }
    if (inExports && words >> ordinal && ordinal.size() > 1 && ordinal[0] == '@')
      exports.emplace_back(first, std::stoi(ordinal.substr(1)));
  }
  return exports;
}

}  // namespace

TEST(SequorExports, AllTwentyInOrdinalOrderAreExported) {
  const std::vector<std::string> expected = {"SEQUOR_Open",
                                             "SEQUOR_Close",
                                             "SEQUOR_Execute",
                                             "SEQUOR_GetResult",
                                             "SEQUOR_SetResult",
                                             "SEQUOR_Cancel",
                                             "SEQUOR_XfsLock",
                                             "SEQUOR_XfsUnlock",
                                             "SEQUOR_IsXfsLocked",
                                             "SEQUOR_ApiLock",
                                             "SEQUOR_ApiUnlock",
                                             "SEQUOR_IsApiLocked",
                                             "SEQUOR_CreateNewSessionKey",
                                             "SEQUOR_GetCryptoMode",
                                             "SEQUOR_DeviceReset",
                                             "SEQUOR_Exists",
                                             "SEQUOR_GetDeviceInfo",
                                             "SEQUOR_FindFirst",
                                             "SEQUOR_FindNext",
                                             "SEQUOR_FindClose"};
  const auto exports = DefinitionFileExports(Q7M_SEQUOR_DEF_FILE);
  ASSERT_EQ(exports.size(), expected.size());

  void* library = dlopen((q7mtest::BuildLibDir() + "/libSEQUOR.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(exports[i].first, expected[i]);
    EXPECT_EQ(exports[i].second, static_cast<int>(i + 1)) << expected[i];
    EXPECT_NE(dlsym(library, expected[i].c_str()), nullptr) << expected[i];
  }
  // Nothing of the library's inside is exported beside them.
  EXPECT_EQ(dlsym(library, "_ZN3q7m9MemObject7XfsLockEv"), nullptr);
  dlclose(library);
}
