// The trace client: tracing off without the library, a symbol or the INI
// file; exactly the lines of the mask's bits; and the port driver's dumps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "q7m/trace_client.h"
#include "q7m_test.h"
#include "scribel_test_support.h"

namespace {

using namespace scribeltest;

// An address inside this program: the client's "own module".
void Anchor() {}
const void* AnchorAddress() {
  return reinterpret_cast<const void*>(&Anchor);
}

// The INI section of a client carried by the module that holds `anchor`.
std::string SectionOf(const void* anchor) {
  char name[300] = {};
  Q7M_GetModuleBaseName(anchor, name, sizeof name);
  return name;
}

// The section a client in this program reads its mask from.
std::string OwnSection() {
  return SectionOf(AnchorAddress());
}

std::string LibraryPath() {
  return q7mtest::BuildLibDir() + "/libSCRIBEL.so";
}

// An address inside a library of the build tree's lib/ directory, where
// libSCRIBEL.so is too: a client carried by that library finds the trace
// library beside itself by name.
const void* LibraryDirAnchor() {
  return reinterpret_cast<const void*>(&Q7M_GetTickCount);
}

// args: directory to run in, trace library to load ("" = by its name),
// "lib" to be carried by a library beside the trace library. Tests a set of
// bits, writing one line for each one that is on, and reports which were on.
Q7M_CHILD(client_lines) {
  if (chdir(args[0].c_str()) != 0) return 10;
  q7m::TraceClient client(args[1].empty() ? "SCRIBEL" : args[1].c_str());
  client.Attach(args.size() > 2 && args[2] == "lib" ? LibraryDirAnchor() : AnchorAddress());
  Q7M_SetLastError(4321);
  std::string on;
  for (uint32_t bits : {0x1u, 0x2u, 0x4u, 0x8u, 0x10u, 0x20u, 0x10000u, 0x11u}) {
    if (client.IsOn(bits)) {
      client.Write("line for 0x%X", bits);
      on += " " + std::to_string(bits);
    }
  }
  if (Q7M_GetLastError() != 4321) return 20;  // loading must not disturb the caller
  q7mtest::Say("on:" + on);
  client.Detach();
  if (client.IsOn(0xFFFFFFFF)) return 21;  // off for good
  client.Write("after detach");
  return 0;
}

std::string RunClient(const std::string& dir, const std::string& library,
                      const std::string& carrier = "exe") {
  q7mtest::ChildProcess child;
  EXPECT_TRUE(child.Start("client_lines", {dir, library, carrier}));
  std::string line;
  EXPECT_TRUE(child.ReadLine(&line));
  EXPECT_EQ(child.Wait(), 0);
  return line;
}

std::string TracingIni(const std::string& dir, const std::string& trace,
                       const std::string& section = OwnSection()) {
  return "[SCRIBEL]\nFILEPATH=" + dir + "\nFILENAME=client.log\nRECORDLENGTH=40\n" +
         "FILEFLUSH=OFF\n[" + section + "]\n" + trace;
}

TEST(TraceClient, OffWithoutTheLibraryOrOneOfItsExports) {
  std::string dir = q7mtest::MakeTempDir("client");
  q7mtest::WriteFile(dir + "/SCRIBEL.INI", TracingIni(dir, "TRACE=0xFFFFFFFF\n"));
  EXPECT_EQ(RunClient(dir, "/nonexistent/libSCRIBEL.so"), "on:");
  // A library without the trace exports.
  EXPECT_EQ(RunClient(dir, q7mtest::BuildLibDir() + "/libq7mplatform.so"), "on:");
  EXPECT_EQ(q7mtest::ReadFile(dir + "/client.log"), "");
}

TEST(TraceClient, OffWithoutTheIniFile) {
  std::string dir = q7mtest::MakeTempDir("noini");
  EXPECT_EQ(RunClient(dir, LibraryPath()), "on:");
}

TEST(TraceClient, WritesExactlyTheLinesOfTheMasksBits) {
  std::string dir = q7mtest::MakeTempDir("mask");
  q7mtest::WriteFile(dir + "/SCRIBEL.INI", TracingIni(dir, "TRACE=0x10\n"));
  EXPECT_EQ(RunClient(dir, LibraryPath()), "on: 16 17");
  std::vector<std::string> texts;
  for (const auto& r : ReadRing(dir + "/client.log", 40)) texts.push_back(Trimmed(r.text));
  EXPECT_EQ(texts, (std::vector<std::string>{"line for 0x10", "line for 0x11"}));
}

TEST(TraceClient, NoMaskOrANonNumericOneWritesNothing) {
  for (const char* trace : {"", "TRACE=0\n", "TRACE=-1\n"}) {
    std::string dir = q7mtest::MakeTempDir("nomask");
    q7mtest::WriteFile(dir + "/SCRIBEL.INI", TracingIni(dir, trace));
    EXPECT_EQ(RunClient(dir, LibraryPath()), "on:") << trace;
    EXPECT_EQ(q7mtest::ReadFile(dir + "/client.log"), "") << trace;
  }
}

TEST(TraceClient, LibraryFoundByNameBesideTheCarryingLibrary) {
  std::string dir = q7mtest::MakeTempDir("byname");
  q7mtest::WriteFile(dir + "/SCRIBEL.INI",
                     TracingIni(dir, "TRACE=0x01\n", SectionOf(LibraryDirAnchor())));
  EXPECT_EQ(RunClient(dir, "", "lib"), "on: 1 17");
}

// args: directory to run in. Writes the dumps the dump tests check while
// another thread keeps writing ordinary lines.
Q7M_CHILD(client_dumps) {
  if (chdir(args[0].c_str()) != 0) return 10;
  const std::string library = LibraryPath();
  q7m::TraceClient client(library.c_str());
  client.Attach(AnchorAddress());
  if (!client.IsOn(0x5)) return 11;
  std::atomic<bool> stop{false};
  std::thread noise([&] {
    while (!stop) client.Write("noise");
  });
  unsigned char bytes[200];
  for (int i = 0; i < 200; ++i) bytes[i] = static_cast<unsigned char>(i < 20 ? i : 0xAB);
  using q7m::MessageDump;
  using q7m::TransferDump;
  client.DumpMessage(MessageDump::kCommand, "COM3", bytes, 20);
  client.DumpTransfer(TransferDump::kSent, "COM3", bytes, 20);
  client.DumpTransfer(TransferDump::kReceived, "COM3", bytes, 20);
  client.DumpMessage(MessageDump::kResponse, "COM3", bytes, 0);
  client.DumpMessage(MessageDump::kResponse, "COM3", bytes, 200);
  client.DumpMessage(MessageDump::kCommand, "SERIAL1234", bytes + 1, 2);
  client.DumpMessage(MessageDump::kCommand, nullptr, bytes + 1, 1);
  client.DumpMessage(MessageDump::kCommand, std::string(40, 'L').c_str(), bytes, 4);
  stop = true;
  noise.join();
  q7mtest::Say("length " + std::to_string(client.recordLength()));
  client.Detach();
  return 0;
}

// The ring's lines without the noise, and whether every dump's lines were
// contiguous (no noise between the lines of one dump).
std::vector<std::string> DumpLines(const std::string& path, uint32_t length, bool* contiguous) {
  std::vector<std::string> lines;
  *contiguous = true;
  bool inDump = false;
  for (const auto& r : ReadRing(path, length)) {
    std::string text = Trimmed(r.text);
    if (text == "noise") {
      inDump = false;
      continue;
    }
    bool continuation = !text.empty() && text[0] == ' ';
    if (continuation && !inDump) *contiguous = false;
    inDump = true;
    lines.push_back(text);
  }
  return lines;
}

TEST(TraceClient, DumpsFitTheRecordLengthAndKeepTheirLinesTogether) {
  std::string dir = q7mtest::MakeTempDir("dump");
  q7mtest::WriteFile(dir + "/SCRIBEL.INI", "[SCRIBEL]\nFILEPATH=" + dir +
                                               "\nFILENAME=client.log\nRECORDLENGTH=40\n"
                                               "MAXRECORD=1000000\nFILEFLUSH=OFF\n[" +
                                               OwnSection() + "]\nTRACE=0x05\n");
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("client_dumps", {dir}));
  EXPECT_TRUE(child.Expect("length 40"));
  ASSERT_EQ(child.Wait(), 0);

  bool contiguous = false;
  auto lines = DumpLines(dir + "/client.log", 40, &contiguous);
  EXPECT_TRUE(contiguous);
  const std::string pad(21, ' ');
  std::vector<std::string> expected = {
      // 21 header characters leave room for 6 bytes per line.
      "CMD:COM3   L=0x014 D=00 01 02 03 04 05",
      pad + "06 07 08 09 0A 0B",
      pad + "0C 0D 0E 0F 10 11",
      pad + "12 13",
      // A transfer dump is one line; 19 header characters leave room for 7.
      "S:COM3   L=0x014 D=00 01 02 03 04 05 06",
      "R:COM3   L=0x014 D=00 01 02 03 04 05 06",
      "RES:COM3   L=0x000 D=",
  };
  // A message dump stops after 64 / 6 + 1 = 11 lines.
  expected.push_back("RES:COM3   L=0x0C8 D=00 01 02 03 04 05");
  expected.push_back(pad + "06 07 08 09 0A 0B");
  expected.push_back(pad + "0C 0D 0E 0F 10 11");
  expected.push_back(pad + "12 13 AB AB AB AB");
  for (int i = 4; i < 11; ++i) expected.push_back(pad + "AB AB AB AB AB AB");
  expected.push_back("CMD:SERIAL1234 L=0x002 D=01 02");
  expected.push_back("CMD:       L=0x001 D=01");
  // The 40-character label leaves no room: nothing at all.
  EXPECT_EQ(lines, expected);
}

TEST(TraceClient, DumpLineTakesAByteMoreWhenTwoCharactersRemain) {
  std::string dir = q7mtest::MakeTempDir("dump42");
  q7mtest::WriteFile(dir + "/SCRIBEL.INI", "[SCRIBEL]\nFILEPATH=" + dir +
                                               "\nFILENAME=client.log\nRECORDLENGTH=42\n"
                                               "MAXRECORD=1000000\nFILEFLUSH=OFF\n[" +
                                               OwnSection() + "]\nTRACE=0x05\n");
  q7mtest::ChildProcess child;
  ASSERT_TRUE(child.Start("client_dumps", {dir}));
  EXPECT_TRUE(child.Expect("length 42"));
  ASSERT_EQ(child.Wait(), 0);
  bool contiguous = false;
  auto lines = DumpLines(dir + "/client.log", 42, &contiguous);
  ASSERT_GE(lines.size(), 5u);
  // 42 - 19 = 23: seven bytes and two characters, so eight bytes, the last
  // one without its blank.
  EXPECT_EQ(lines[3], "S:COM3   L=0x014 D=00 01 02 03 04 05 06 07");
  // 42 - 21 = 21: seven bytes per line, at most 64 / 7 + 1 = 10 lines.
  size_t start = 0;
  while (start < lines.size() && lines[start].rfind("RES:COM3   L=0x0C8", 0) != 0) ++start;
  ASSERT_LT(start + 10, lines.size());
  EXPECT_EQ(lines[start + 9], std::string(21, ' ') + "AB AB AB AB AB AB AB");
  EXPECT_EQ(lines[start + 10].rfind("CMD:SERIAL1234", 0), 0u);
}

}  // namespace
