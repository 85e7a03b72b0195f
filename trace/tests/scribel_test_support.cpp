#include "scribel_test_support.h"

#include <gtest/gtest.h>

#include "q7m_test.h"

namespace scribeltest {

ScribelLibrary::ScribelLibrary() {
  std::string path = q7mtest::BuildLibDir() + "/libSCRIBEL.so";
  module = Q7M_LoadLibrary(path.c_str(), nullptr);
  if (module == nullptr) return;
  auto get = [&](const char* name) { return Q7M_GetProcAddress(module, name); };
  Initialize = reinterpret_cast<SCRIBEL_INITIALIZE_FN>(get("SCRIBEL_Initialize"));
  GetInteger = reinterpret_cast<SCRIBEL_GETINTEGER_FN>(get("SCRIBEL_GetInteger"));
  GetRecordLength = reinterpret_cast<SCRIBEL_GETRECORDLENGTH_FN>(get("SCRIBEL_GetRecordLength"));
  Lock = reinterpret_cast<SCRIBEL_LOCK_FN>(get("SCRIBEL_Lock"));
  UnLock = reinterpret_cast<SCRIBEL_UNLOCK_FN>(get("SCRIBEL_UnLock"));
  Output = reinterpret_cast<SCRIBEL_OUTPUT_FN>(get("SCRIBEL_Output"));
  Outputf = reinterpret_cast<SCRIBEL_OUTPUTF_FN>(get("SCRIBEL_Outputf"));
  vOutputf = reinterpret_cast<SCRIBEL_VOUTPUTF_FN>(get("SCRIBEL_vOutputf"));
}

void ScribelLibrary::Unload() {
  if (module != nullptr) Q7M_FreeLibrary(module);
  module = nullptr;
}

ScribelLibrary& Scribel() {
  static ScribelLibrary library;
  return library;
}

TraceDir MakeTraceDir(const std::string& iniText) {
  TraceDir d;
  d.dir = q7mtest::MakeTempDir("trace");
  d.ini = d.dir + "/SCRIBEL.INI";
  d.trace = d.dir + "/trace.log";
  q7mtest::WriteFile(d.ini, iniText);
  return d;
}

std::string BasicIni(const std::string& tracePath, uint32_t length, uint32_t records,
                     const std::string& extra) {
  size_t slash = tracePath.rfind('/');
  return "[SCRIBEL]\nFILEPATH=" + tracePath.substr(0, slash) +
         "\nFILENAME=" + tracePath.substr(slash + 1) + "\nRECORDLENGTH=" + std::to_string(length) +
         "\nMAXRECORD=" + std::to_string(records) + "\nFILEFLUSH=OFF\n" + extra;
}

SCRIBEL_HANDLE OpenHandle(const std::string& ini, const char* module) {
  SCRIBEL_HANDLE handle = nullptr;
  EXPECT_EQ(Scribel().Initialize(&handle, ini.c_str(), module), 1)
      << "last error " << Q7M_GetLastError();
  EXPECT_NE(handle, nullptr);
  return handle;
}

std::vector<StoredRecord> ReadRing(const std::string& path, uint32_t length) {
  std::string bytes = q7mtest::ReadFile(path);
  const size_t size = length + q7m::trace::kRecordOverhead;
  std::vector<StoredRecord> records;
  for (size_t at = 0; at + size <= bytes.size(); at += size) {
    StoredRecord r;
    r.whole = q7m::trace::ParseRecordHeader(bytes.data() + at, size, &r.header) &&
              bytes[at + size - 2] == '\r' && bytes[at + size - 1] == '\n';
    r.text = bytes.substr(at + q7m::trace::kHeaderLength, length);
    records.push_back(r);
  }
  return records;
}

std::string Trimmed(const std::string& text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? "" : text.substr(0, end + 1);
}

std::string SeedRecord(uint32_t length, uint32_t sequence, const std::string& text) {
  q7m::trace::RecordHeader h;
  h.sequence = sequence;
  h.year = 2023;
  h.month = 6;
  h.day = 7;
  h.processId = 1;
  h.threadId = 1;
  char header[q7m::trace::kHeaderLength];
  q7m::trace::FormatRecordHeader(h, header);
  std::string body = text.substr(0, length);
  body.resize(length, ' ');
  return std::string(header, sizeof header) + body + "\r\n";
}

std::string SeedRun(uint32_t length, uint32_t first, uint32_t count) {
  std::string out;
  for (uint32_t i = 0; i < count; ++i) {
    out += SeedRecord(length, (first + i) & q7m::trace::kSequenceMask, "seed " + std::to_string(i));
  }
  return out;
}

}  // namespace scribeltest
