// The profile reader: where it finds its INI file, the registry as second
// source, the number and switch rules, and file paths with macros.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "q7m/common/profile.h"
#include "q7m/platform_sys.h"
#include "q7m_test.h"

namespace {

namespace fs = std::filesystem;
using q7m::Profile;

std::string ExeDirectory() {
  return fs::read_symlink("/proc/self/exe").parent_path().string();
}

// A file that is removed again when the test ends (also beside the test
// executable, where the INI search looks).
class ScopedFile {
 public:
  ScopedFile(std::string path, const std::string& content) : path_(std::move(path)) {
    q7mtest::WriteFile(path_, content);
  }
  ~ScopedFile() { Remove(); }
  void Remove() {
    std::error_code ec;
    fs::remove(path_, ec);
  }

 private:
  std::string path_;
};

// The test body runs in a fresh current directory, with a module of its own
// (a copy of a probe library named libPROFMOD.so in a directory of its own)
// and a registry file of its own.
class ProfileTest : public testing::Test {
 protected:
  void SetUp() override {
    oldCwd_ = fs::current_path();
    cwd_ = fs::canonical(q7mtest::MakeTempDir("cwd")).string();
    fs::current_path(cwd_);
    moduleDir_ = fs::canonical(q7mtest::MakeTempDir("mod")).string();
    std::string probe = q7mtest::BuildLibDir() + "/../tests/probe/libq7manchor.so";
    fs::copy_file(probe, moduleDir_ + "/libPROFMOD.so");
    module_ = Q7M_LoadLibrary((moduleDir_ + "/libPROFMOD.so").c_str(), nullptr);
    ASSERT_NE(module_, nullptr);
    anchor_ = Q7M_GetProcAddress(module_, "q7m_probe_id");
    regPath_ = q7mtest::MakeTempDir("reg") + "/profile.reg";
    WriteRegistry("");
    const char* old = getenv("Q7M_REGISTRY");
    oldRegistry_ = old ? old : "";
    setenv("Q7M_REGISTRY", regPath_.c_str(), 1);
  }
  void TearDown() override {
    fs::current_path(oldCwd_);
    setenv("Q7M_REGISTRY", oldRegistry_.c_str(), 1);
    if (module_) Q7M_FreeLibrary(module_);
  }
  void WriteRegistry(const std::string& body) {
    q7mtest::WriteFile(regPath_,
                       "Windows Registry Editor Version 5.00\n\n"
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ProfTest]\n"
                       "\"Text\"=\"from registry\"\n"
                       "\"TextNumber\"=\"123\"\n"
                       "\"Number\"=dword:0000002a\n"
                       "\"Off\"=\"OFF\"\n"
                       "\"Dir\"=\"/var/tmp\"\n"
                       "@=\"root default\"\n"
                       "[HKEY_CURRENT_USER\\SOFTWARE\\ProfTest]\n"
                       "\"Text\"=\"user text\"\n" +
                           body);
  }
  // A profile on an INI file in the current directory with `content`.
  Profile OpenWith(const std::string& content) {
    q7mtest::WriteFile(cwd_ + "/TEST.INI", content);
    Profile p(anchor_);
    EXPECT_TRUE(p.Open("TEST"));
    return p;
  }
  std::string String(const Profile& p, const char* key, const char* def = "<def>",
                     uint32_t capacity = 256) {
    char buffer[1024];
    uint32_t n = p.GetString("S", key, def, buffer, capacity);
    EXPECT_EQ(n, std::strlen(buffer));
    return buffer;
  }
  std::string FilePath(const Profile& p, const char* section, uint32_t capacity = 262) {
    char buffer[1024];
    uint32_t n = p.GetFilePath(section, "FILEPATH", "FILENAME", buffer, capacity, "<def>");
    EXPECT_EQ(n, std::strlen(buffer));
    return buffer;
  }

  fs::path oldCwd_;
  std::string oldRegistry_;
  std::string cwd_;
  std::string moduleDir_;
  std::string regPath_;
  Q7M_HMODULE module_ = nullptr;
  const void* anchor_ = nullptr;
};

TEST_F(ProfileTest, OpenSearchesCurrentThenExecutableThenModuleDirectory) {
  // A name unique to this process: the executable's directory is shared.
  std::string name = "q7mprof" + std::to_string(getpid());
  ScopedFile inModule(moduleDir_ + "/" + name + ".INI", "[S]\nWhere=module\n");
  ScopedFile inExe(ExeDirectory() + "/" + name + ".INI", "[S]\nWhere=exe\n");
  ScopedFile inCwd(cwd_ + "/" + name + ".INI", "[S]\nWhere=cwd\n");

  Profile p(anchor_);
  ASSERT_TRUE(p.Open(name.c_str()));  // ".INI" appended to a name without a dot
  EXPECT_EQ(p.path(), cwd_ + "/" + name + ".INI");
  EXPECT_EQ(String(p, "Where"), "cwd");
  inCwd.Remove();
  ASSERT_TRUE(p.Open(name.c_str()));
  EXPECT_EQ(String(p, "Where"), "exe");
  inExe.Remove();
  ASSERT_TRUE(p.Open(name.c_str()));
  EXPECT_EQ(String(p, "Where"), "module");
  EXPECT_EQ(p.path(), moduleDir_ + "/" + name + ".INI");
  inModule.Remove();
  EXPECT_FALSE(p.Open(name.c_str()));
  EXPECT_FALSE(p.IsOpen());
  EXPECT_EQ(String(p, "Where"), "<def>");
}

TEST_F(ProfileTest, OpenTakesPathsMatchesCaseAndDefaultsToTheProgramOrModuleName) {
  fs::create_directories(cwd_ + "/sub");
  q7mtest::WriteFile(cwd_ + "/sub/CONF.INI", "[S]\nK=sub\n");
  Profile p(anchor_);
  // A separator makes the name a path; '\' counts as one.
  ASSERT_TRUE(p.Open("sub\\CONF.INI"));
  EXPECT_EQ(p.path(), cwd_ + "/sub/CONF.INI");
  ASSERT_TRUE(p.Open((cwd_ + "/sub/conf.ini").c_str()));  // case differs
  EXPECT_EQ(String(p, "K"), "sub");
  EXPECT_FALSE(p.Open((cwd_ + "/nowhere/CONF.INI").c_str()));
  // A name with a dot gets no ".INI".
  q7mtest::WriteFile(cwd_ + "/x.cfg", "[S]\nK=cfg\n");
  ASSERT_TRUE(p.Open("x.cfg"));
  EXPECT_EQ(String(p, "K"), "cfg");
  EXPECT_FALSE(p.Open("x"));

  // No name: the program's base name; the file may differ in case.
  q7mtest::WriteFile(cwd_ + "/common_tests.ini", "[S]\nK=program\n");
  ASSERT_TRUE(p.Open(nullptr));
  EXPECT_EQ(p.path(), cwd_ + "/common_tests.ini");
  // The path stays valid when the current directory changes.
  fs::current_path(moduleDir_);
  EXPECT_EQ(String(p, "K"), "program");

  // The module's own name: libPROFMOD.so reads PROFMOD.INI.
  q7mtest::WriteFile(moduleDir_ + "/PROFMOD.INI", "[S]\nK=module\n");
  ASSERT_TRUE(p.OpenForModule());
  EXPECT_EQ(String(p, "K"), "module");
}

TEST_F(ProfileTest, GetStringFallsBackToRegistryStringsOnly) {
  Profile p = OpenWith(
      "[S]\n"
      "Direct=abc\n"
      "REGDirect=HKEY_LOCAL_MACHINE\\SOFTWARE\\ProfTest\\Text\n"
      "Empty=\n"
      "REGEmpty=HKEY_LOCAL_MACHINE\\SOFTWARE\\ProfTest\\Text\n"
      "REGAbsent=hkey_local_machine\\SOFTWARE\\ProfTest\\Text\n"
      "REGUser=HKEY_CURRENT_USER\\SOFTWARE\\ProfTest\\Text\n"
      "REGNumber=HKEY_LOCAL_MACHINE\\SOFTWARE\\ProfTest\\Number\n"
      "REGNoValue=HKEY_LOCAL_MACHINE\\SOFTWARE\\ProfTest\\Missing\n"
      "REGBadRoot=HKEY_NOWHERE\\SOFTWARE\\ProfTest\\Text\n"
      "REGDefault=HKEY_LOCAL_MACHINE\\SOFTWARE\\ProfTest\\\n"
      "REGRootOnly=HKEY_LOCAL_MACHINE\n");
  EXPECT_EQ(String(p, "Direct"), "abc");
  EXPECT_EQ(String(p, "Empty"), "from registry");
  EXPECT_EQ(String(p, "Absent"), "from registry");
  EXPECT_EQ(String(p, "User"), "user text");
  // A number in the registry is no string.
  EXPECT_EQ(String(p, "Number"), "<def>");
  EXPECT_EQ(p.GetInteger("S", "Number", 7), 42);
  EXPECT_EQ(String(p, "NoValue"), "<def>");
  EXPECT_EQ(String(p, "BadRoot"), "<def>");
  EXPECT_EQ(String(p, "Default"), "root default");
  EXPECT_EQ(String(p, "RootOnly"), "<def>");
  EXPECT_EQ(String(p, "Nothing", nullptr), "");

  // Cut to the capacity; a registry value too long for it is not used.
  EXPECT_EQ(String(p, "Direct", "", 3), "ab");
  EXPECT_EQ(String(p, "Absent", "dflt", 8), "dflt");
  EXPECT_EQ(String(p, "Nothing", "longdefault", 5), "long");
  char one[1] = {'x'};
  EXPECT_EQ(p.GetString("S", "Direct", "", one, 1), 0u);
  EXPECT_EQ(one[0], '\0');
}

TEST_F(ProfileTest, GetIntegerReadsDecimalHexAndRegistryNumbers) {
  Profile p = OpenWith(
      "[S]\n"
      "Hex=0x1F\n"
      "Dec=31\n"
      "Short=0x1\n"
      "X=x10\n"
      "REGX=HKEY_LOCAL_MACHINE\\SOFTWARE\\ProfTest\\Number\n"
      "Y=x10\n"
      "Trailing=12ab\n"
      "HexStop=0x1Fzz\n"
      "Upper=0X1F\n"
      "Negative=-5\n"
      "Huge=99999999999\n"
      "HexWide=0x1FFFFFFFF\n"
      "REGFromText=HKEY_LOCAL_MACHINE\\SOFTWARE\\ProfTest\\TextNumber\n"
      "REGWrongKind=HKEY_LOCAL_MACHINE\\SOFTWARE\\ProfTest\\Text\n");
  EXPECT_EQ(p.GetInteger("S", "Hex", -1), 31);
  EXPECT_EQ(p.GetInteger("S", "Dec", -1), 31);
  EXPECT_EQ(p.GetInteger("S", "Short", -1), 0);  // three characters: decimal
  EXPECT_EQ(p.GetInteger("S", "X", -1), 42);     // not a number: the registry
  EXPECT_EQ(p.GetInteger("S", "Y", -1), -1);     // ... or else the default
  EXPECT_EQ(p.GetInteger("S", "Trailing", -1), 12);
  EXPECT_EQ(p.GetInteger("S", "HexStop", -1), 31);
  EXPECT_EQ(p.GetInteger("S", "Upper", -1), 0);
  EXPECT_EQ(p.GetInteger("S", "Negative", -1), -1);  // must start with a digit
  EXPECT_EQ(p.GetInteger("S", "Huge", -1), 2147483647);
  EXPECT_EQ(p.GetInteger("S", "HexWide", 0), -1);  // 32 bits kept
  EXPECT_EQ(p.GetInteger("S", "FromText", -1), 123);
  EXPECT_EQ(p.GetInteger("S", "WrongKind", -1), -1);
  EXPECT_EQ(p.GetInteger("S", "Missing", 99), 99);
  EXPECT_EQ(p.GetInteger("Nope", "Hex", 5), 5);
}

TEST_F(ProfileTest, GetSwitchIsOffOnlyForOff) {
  Profile p = OpenWith(
      "[S]\n"
      "a=off\nb=OFF\nc=Off  \nd=0\ne=NO\nf=\ng=on\nh=\"OFF\"\n"
      "REGr=HKEY_LOCAL_MACHINE\\SOFTWARE\\ProfTest\\Off\n");
  for (const char* key : {"a", "b", "c", "h", "r"}) {
    EXPECT_FALSE(p.GetSwitch("S", key, true)) << key;
  }
  for (const char* key : {"d", "e", "g"}) {
    EXPECT_TRUE(p.GetSwitch("S", key, true)) << key;
    EXPECT_TRUE(p.GetSwitch("S", key, false)) << key;
  }
  // An empty value is no value: the default decides.
  EXPECT_TRUE(p.GetSwitch("S", "f", true));
  EXPECT_FALSE(p.GetSwitch("S", "f", false));
  EXPECT_TRUE(p.GetSwitch("S", "missing", true));
  EXPECT_FALSE(p.GetSwitch("S", "missing", false));
}

TEST_F(ProfileTest, GetFilePathExpandsMacrosAndBuildsFullPaths) {
  Profile p = OpenWith(
      "[Dll]\nFILEPATH=$dllpath\nFILENAME=trace.log\n"
      "[Exe]\nFILEPATH=$EXEPATHlogs\nFILENAME=trace.log\n"
      "[Ini]\nFILEPATH=$IniPath\\sub\\..\\logs\\\nFILENAME=a\\trace.log\n"
      "[Rel]\nFILEPATH=rel\nFILENAME=trace.log\n"
      "[Abs]\nFILEPATH=/var/tmp/\nFILENAME=trace.log\n"
      "[NoDir]\nFILENAME=trace.log\n"
      "[NoName]\nFILEPATH=/var/tmp\n"
      "[Colon]\nFILEPATH=rel:\nFILENAME=x\n"
      "[Reg]\nREGFILEPATH=HKEY_LOCAL_MACHINE\\SOFTWARE\\ProfTest\\Dir\nFILENAME=r.log\n"
      "[Short]\nFILEPATH=$DLLPATH\nFILENAME=n\n"
      "[Long]\nFILEPATH=/" +
      std::string(300, 'd') + "\nFILENAME=x\n");
  EXPECT_EQ(FilePath(p, "Dll"), moduleDir_ + "/trace.log");
  EXPECT_EQ(FilePath(p, "Exe"), ExeDirectory() + "/logs/trace.log");
  EXPECT_EQ(FilePath(p, "Ini"), cwd_ + "/logs/a/trace.log");
  EXPECT_EQ(FilePath(p, "Rel"), cwd_ + "/rel/trace.log");
  EXPECT_EQ(FilePath(p, "Abs"), "/var/tmp/trace.log");
  EXPECT_EQ(FilePath(p, "NoDir"), cwd_ + "/trace.log");
  EXPECT_EQ(FilePath(p, "NoName"), "<def>");
  EXPECT_EQ(FilePath(p, "Colon"), cwd_ + "/rel:x");
  EXPECT_EQ(FilePath(p, "Reg"), "/var/tmp/r.log");
  EXPECT_EQ(FilePath(p, "Long"), "<def>");
  // Exactly capacity-1 characters fit; one more gives the default.
  std::string full = moduleDir_ + "/n";
  EXPECT_EQ(FilePath(p, "Short", static_cast<uint32_t>(full.size() + 1)), full);
  EXPECT_EQ(FilePath(p, "Short", static_cast<uint32_t>(full.size())), "<def>");
}

}  // namespace
