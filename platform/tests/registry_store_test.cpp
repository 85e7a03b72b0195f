// The .reg-file registry store: value kinds, lookups, several files with
// overrides and deletions, and files that are damaged or hostile.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>

#include "q7m/platform_sys.h"
#include "q7m_test.h"

namespace {

constexpr uint32_t HKLM = Q7M_HKEY_LOCAL_MACHINE;
constexpr uint32_t HKCU = Q7M_HKEY_CURRENT_USER;
const char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

class RegistryStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = q7mtest::MakeTempDir("reg");
    const char* old = getenv("Q7M_REGISTRY");
    saved_ = old ? old : "";
  }
  void TearDown() override { setenv("Q7M_REGISTRY", saved_.c_str(), 1); }

  // Writes `content` to file `name` and makes the given files the registry.
  std::string File(const std::string& name, const std::string& content) {
    std::string path = dir_ + "/" + name;
    q7mtest::WriteFile(path, content);
    return path;
  }
  void Use(const std::string& list) { setenv("Q7M_REGISTRY", list.c_str(), 1); }

  // The REG_SZ text of a value, or "<rc N>" / "<type N>".
  std::string Text(uint32_t root, const char* key, const char* name) {
    char data[512];
    uint32_t type = 99, size = sizeof data;
    uint32_t rc = Q7M_RegQueryValue(root, key, name, &type, data, &size);
    if (rc != 0) return "<rc " + std::to_string(rc) + ">";
    if (type != Q7M_REG_SZ) return "<type " + std::to_string(type) + ">";
    EXPECT_GE(size, 1u);
    EXPECT_EQ(data[size - 1], '\0') << "REG_SZ size counts the terminator";
    return std::string(data, size - 1);
  }
  // A REG_DWORD value, or -(rc) / -1000-type on mismatch.
  int64_t Dword(uint32_t root, const char* key, const char* name) {
    unsigned char data[64];
    uint32_t type = 99, size = sizeof data;
    uint32_t rc = Q7M_RegQueryValue(root, key, name, &type, data, &size);
    if (rc != 0) return -static_cast<int64_t>(rc);
    if (type != Q7M_REG_DWORD || size != 4) return -1000 - static_cast<int64_t>(type);
    return data[0] | data[1] << 8 | data[2] << 16 | static_cast<int64_t>(data[3]) << 24;
  }

  std::string dir_;
  std::string saved_;
};

TEST_F(RegistryStoreTest, StringsDwordsAndDefaultValues) {
  Use(File("a.reg", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q7M\\Trace]\r\n"
                                           "\"FilePath\"=\"C:\\\\logs\\\\trace\"\r\n"
                                           "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
                                           "\"Literal\"=\"/opt\\q7m\"\r\n"
                                           "\"Mask\"=dword:0000001f\r\n"
                                           "\"Big\"=DWORD:FFFFFFFF\r\n"
                                           "\"Short\"=dword:7\r\n"
                                           "\"Empty\"=\"\"\r\n"
                                           "@=\"the default\"\r\n"));
  EXPECT_EQ(Text(HKLM, "SOFTWARE\\Q7M\\Trace", "FilePath"), "C:\\logs\\trace");
  EXPECT_EQ(Text(HKLM, "SOFTWARE\\Q7M\\Trace", "Quote"), "say \"hi\"");
  EXPECT_EQ(Text(HKLM, "SOFTWARE\\Q7M\\Trace", "Literal"), "/opt\\q7m");
  EXPECT_EQ(Text(HKLM, "SOFTWARE\\Q7M\\Trace", "Empty"), "");
  EXPECT_EQ(Dword(HKLM, "SOFTWARE\\Q7M\\Trace", "Mask"), 31);
  EXPECT_EQ(Dword(HKLM, "SOFTWARE\\Q7M\\Trace", "Big"), 0xFFFFFFFFll);
  EXPECT_EQ(Dword(HKLM, "SOFTWARE\\Q7M\\Trace", "Short"), 7);
  EXPECT_EQ(Text(HKLM, "SOFTWARE\\Q7M\\Trace", ""), "the default");
  EXPECT_EQ(Text(HKLM, "SOFTWARE\\Q7M\\Trace", nullptr), "the default");
  // Key paths and value names are compared without case; stray separators
  // do not matter.
  EXPECT_EQ(Dword(HKLM, "software\\q7m\\TRACE", "MASK"), 31);
  EXPECT_EQ(Dword(HKLM, "\\SOFTWARE\\\\Q7M\\Trace\\", "Mask"), 31);
  // Kinds are reported as stored: a string is no number and vice versa.
  EXPECT_EQ(Dword(HKLM, "SOFTWARE\\Q7M\\Trace", "FilePath"), -1000 - int64_t{Q7M_REG_SZ});
  EXPECT_EQ(Text(HKLM, "SOFTWARE\\Q7M\\Trace", "Mask"), "<type 4>");
  // Another root does not see the key.
  EXPECT_EQ(Text(HKCU, "SOFTWARE\\Q7M\\Trace", "FilePath"), "<rc 2>");
}

TEST_F(RegistryStoreTest, ShortRootNamesAndTheOldHeader) {
  Use(File("b.reg",
           "REGEDIT4\n\n[hklm\\A]\n\"x\"=\"1\"\n[HKCU\\B]\n\"y\"=dword:2\n[HKCR\\C]\n\"z\"=\"3\"\n"
           "[HKU\\D]\n\"w\"=\"4\"\n"));
  EXPECT_EQ(Text(HKLM, "A", "x"), "1");
  EXPECT_EQ(Dword(HKCU, "B", "y"), 2);
  EXPECT_EQ(Text(Q7M_HKEY_CLASSES_ROOT, "C", "z"), "3");
  EXPECT_EQ(Text(Q7M_HKEY_USERS, "D", "w"), "4");
}

TEST_F(RegistryStoreTest, BufferSizesFollowRegQueryValueEx) {
  Use(File("c.reg", std::string(kHeader) + "[HKLM\\K]\n\"S\"=\"hello\"\n\"N\"=dword:12345678\n"));
  uint32_t type = 0, size = 3;
  char small[3] = {'x', 'x', 'x'};
  EXPECT_EQ(Q7M_RegQueryValue(HKLM, "K", "S", &type, small, &size), Q7M_ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);  // "hello" and its terminator
  EXPECT_EQ(type, Q7M_REG_SZ);
  EXPECT_EQ(small[0], 'x');  // nothing copied

  // No buffer: the size is reported.
  size = 0;
  EXPECT_EQ(Q7M_RegQueryValue(HKLM, "K", "S", nullptr, nullptr, &size), 0u);
  EXPECT_EQ(size, 6u);
  // Neither buffer nor size: just whether it exists, and its kind.
  EXPECT_EQ(Q7M_RegQueryValue(HKLM, "K", "N", &type, nullptr, nullptr), 0u);
  EXPECT_EQ(type, Q7M_REG_DWORD);
  // A buffer without a size is a caller error.
  EXPECT_EQ(Q7M_RegQueryValue(HKLM, "K", "S", &type, small, nullptr), Q7M_ERROR_INVALID_PARAMETER);

  unsigned char bytes[4];
  size = 4;
  EXPECT_EQ(Q7M_RegQueryValue(HKLM, "K", "N", &type, bytes, &size), 0u);
  EXPECT_EQ(bytes[0], 0x78);  // little-endian
  EXPECT_EQ(bytes[3], 0x12);

  EXPECT_EQ(Q7M_RegQueryValue(0x80000009u, "K", "S", &type, small, &size),
            Q7M_ERROR_INVALID_HANDLE);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_HANDLE);
}

TEST_F(RegistryStoreTest, KeysExistWithTheirParentsAndTheRoot) {
  Use(File("d.reg", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendorless\\Deep]\n"));
  EXPECT_EQ(Q7M_RegKeyExists(HKLM, "SOFTWARE\\Vendorless\\Deep"), 1);
  EXPECT_EQ(Q7M_RegKeyExists(HKLM, "software\\vendorless"), 1);
  EXPECT_EQ(Q7M_RegKeyExists(HKLM, ""), 1);
  EXPECT_EQ(Q7M_RegKeyExists(HKLM, nullptr), 1);
  EXPECT_EQ(Q7M_RegKeyExists(HKLM, "SOFTWARE\\Vendor"), 0);  // a prefix is no parent
  EXPECT_EQ(Q7M_RegKeyExists(HKLM, "SOFTWARE\\Vendorless\\Deep\\More"), 0);
  EXPECT_EQ(Q7M_RegKeyExists(HKCU, "SOFTWARE"), 0);
  EXPECT_EQ(Text(HKLM, "SOFTWARE\\Vendorless\\Deep", "none"), "<rc 2>");
}

TEST_F(RegistryStoreTest, LaterFilesOverrideAndDeletionsAreHonoured) {
  std::string base = File("base.reg", std::string(kHeader) +
                                          "[HKLM\\App]\n\"A\"=\"base\"\n\"B\"=\"base\"\n"
                                          "\"C\"=\"base\"\n[HKLM\\App\\Sub]\n\"D\"=\"base\"\n"
                                          "[HKLM\\Gone\\Child]\n\"E\"=\"base\"\n");
  std::string site = File("site.reg", std::string(kHeader) +
                                          "[HKLM\\App]\n\"A\"=\"site\"\n\"B\"=-\n"
                                          "[-HKLM\\Gone]\n");
  Use(base + ":" + dir_ + "/missing.reg::" + site);
  EXPECT_EQ(Text(HKLM, "App", "A"), "site");
  EXPECT_EQ(Text(HKLM, "App", "B"), "<rc 2>");
  EXPECT_EQ(Text(HKLM, "App", "C"), "base");
  EXPECT_EQ(Text(HKLM, "App\\Sub", "D"), "base");
  // Deleting a key removes everything below it.
  EXPECT_EQ(Q7M_RegKeyExists(HKLM, "Gone"), 0);
  EXPECT_EQ(Q7M_RegKeyExists(HKLM, "Gone\\Child"), 0);
  EXPECT_EQ(Text(HKLM, "Gone\\Child", "E"), "<rc 2>");

  // Order matters: swapped, the base file wins.
  Use(site + ":" + base);
  EXPECT_EQ(Text(HKLM, "App", "A"), "base");
  EXPECT_EQ(Text(HKLM, "App", "B"), "base");
  EXPECT_EQ(Text(HKLM, "Gone\\Child", "E"), "base");

  // A key re-created after its deletion starts empty.
  Use(File("recreate.reg", std::string(kHeader) +
                               "[HKLM\\R]\n\"old\"=\"1\"\n[-HKLM\\R]\n\"ignored\"=\"x\"\n"
                               "[HKLM\\R]\n\"new\"=\"2\"\n"));
  EXPECT_EQ(Text(HKLM, "R", "old"), "<rc 2>");
  EXPECT_EQ(Text(HKLM, "R", "ignored"), "<rc 2>");
  EXPECT_EQ(Text(HKLM, "R", "new"), "2");
}

TEST_F(RegistryStoreTest, EditsAndTheVariableTakeEffectAtOnce) {
  std::string one = File("one.reg", std::string(kHeader) + "[HKLM\\K]\n\"V\"=\"1\"\n");
  std::string two = File("two.reg", std::string(kHeader) + "[HKLM\\K]\n\"V\"=\"2\"\n");
  Use(one);
  EXPECT_EQ(Text(HKLM, "K", "V"), "1");
  Use(two);
  EXPECT_EQ(Text(HKLM, "K", "V"), "2");
  File("two.reg", std::string(kHeader) + "[HKLM\\K]\n\"V\"=\"2b\"\n");
  EXPECT_EQ(Text(HKLM, "K", "V"), "2b");
}

TEST_F(RegistryStoreTest, UnsupportedKindsAndTheirContinuationLinesAreSkipped) {
  Use(File("e.reg", std::string(kHeader) + "[HKLM\\K]\n"
                                           "\"Bin\"=hex:01,02,03,\\\n"
                                           "  \"Fake\"=\"from a continuation line\",\\\n"
                                           "  04\n"
                                           "\"Multi\"=hex(7):41,00,00,00\n"
                                           "\"Qword\"=qword:0000000000000001\n"
                                           "\"After\"=\"ok\"\n"));
  EXPECT_EQ(Text(HKLM, "K", "Bin"), "<rc 2>");
  EXPECT_EQ(Text(HKLM, "K", "Fake"), "<rc 2>");
  EXPECT_EQ(Text(HKLM, "K", "Multi"), "<rc 2>");
  EXPECT_EQ(Text(HKLM, "K", "Qword"), "<rc 2>");
  EXPECT_EQ(Text(HKLM, "K", "After"), "ok");
}

TEST_F(RegistryStoreTest, DamagedLinesAreSkippedWithoutHarmingTheRest) {
  Use(File("f.reg", std::string(kHeader) + "\"Orphan\"=\"before any key\"\n"
                                           "[HKEY_NOWHERE\\K]\n\"Lost\"=\"1\"\n"
                                           "[HKLM\\K\n"
                                           "[HKLM\\K]\n"
                                           "\"Unterminated\"=\"abc\n"
                                           "\"Trailing\"=\"abc\" junk\n"
                                           "\"NineDigits\"=dword:000000001\n"
                                           "\"NotHex\"=dword:12g4\n"
                                           "\"NoDigits\"=dword:\n"
                                           "\"NoEquals\" \"x\"\n"
                                           "\"NameOpen=\"x\"\n"
                                           "; \"Commented\"=\"x\"\n"
                                           "  \"Spaced\" = \"fine\"  \n"
                                           "\"Good\"=dword:00000010\n"));
  EXPECT_EQ(Text(HKLM, "K", "Orphan"), "<rc 2>");
  EXPECT_EQ(Text(HKLM, "K", "Lost"), "<rc 2>");
  EXPECT_EQ(Text(HKLM, "K", "Unterminated"), "<rc 2>");
  EXPECT_EQ(Text(HKLM, "K", "Trailing"), "<rc 2>");
  EXPECT_EQ(Dword(HKLM, "K", "NineDigits"), -2);
  EXPECT_EQ(Dword(HKLM, "K", "NotHex"), -2);
  EXPECT_EQ(Dword(HKLM, "K", "NoDigits"), -2);
  EXPECT_EQ(Text(HKLM, "K", "Commented"), "<rc 2>");
  EXPECT_EQ(Text(HKLM, "K", "Spaced"), "fine");
  EXPECT_EQ(Dword(HKLM, "K", "Good"), 16);
}

TEST_F(RegistryStoreTest, FilesWithoutHeaderOversizedOrBinaryContributeNothing) {
  std::string noHeader = File("nohdr.reg", "[HKLM\\K]\n\"V\"=\"1\"\n");
  std::string big = File(
      "big.reg", std::string(kHeader) + "[HKLM\\K]\n\"V\"=\"2\"\n" + std::string(5u << 20, ';'));
  static const char kNul[] = "Windows Registry Editor Version 5.00\n[HKLM\\K]\n\"V\"=\"a\0b\"\n";
  std::string nul = File("nul.reg", std::string(kNul, sizeof kNul - 1));
  Use(noHeader + ":" + big);
  EXPECT_EQ(Text(HKLM, "K", "V"), "<rc 2>");
  EXPECT_EQ(Q7M_RegKeyExists(HKLM, "K"), 0);
  // A NUL ends the line: the string never closes, so the value is dropped.
  Use(nul);
  EXPECT_EQ(Text(HKLM, "K", "V"), "<rc 2>");
  EXPECT_EQ(Q7M_RegKeyExists(HKLM, "K"), 1);
  // A directory in the list is skipped.
  Use(dir_);
  EXPECT_EQ(Q7M_RegKeyExists(HKLM, "K"), 0);

  std::string noise;
  uint32_t seed = 99;
  for (int i = 0; i < 100000; ++i) {
    seed = seed * 1103515245 + 12345;
    char c = static_cast<char>(seed >> 16);
    noise.push_back((seed >> 8) % 5 == 0 ? "[\\\"=@\n"[(seed >> 4) % 6] : c);
  }
  Use(File("noise.reg", std::string(kHeader) + noise));
  (void)Text(HKLM, "K", "V");
  (void)Q7M_RegKeyExists(HKLM, "K");
}

TEST_F(RegistryStoreTest, Utf16FilesAsRegeditWritesThem) {
  // "é" (U+00E9) and a character outside the basic plane (U+1F600, a
  // surrogate pair in UTF-16).
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\U]\r\n"
      u"\"Name\"=\"wide\"\r\n\"Acc\"=\"\u00E9\"\r\n\"Emo\"=\"\U0001F600\"\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : text) {
    utf16.push_back(static_cast<char>(c & 0xFF));
    utf16.push_back(static_cast<char>(c >> 8));
  }
  Use(File("wide.reg", utf16));
  EXPECT_EQ(Text(HKLM, "U", "Name"), "wide");
  EXPECT_EQ(Text(HKLM, "U", "Acc"), "\xC3\xA9");
  EXPECT_EQ(Text(HKLM, "U", "Emo"), "\xF0\x9F\x98\x80");
}

}  // namespace
