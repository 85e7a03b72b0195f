// Helpers of the trace library's tests: the library loaded at run time (as
// its clients load it), trace directories with their INI file, and reading
// back the records of a ring.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "q7m/platform_sys.h"
#include "q7m/scribel.h"
#include "q7m/trace/record_layout.h"

namespace scribeltest {

// libSCRIBEL.so of the build tree, loaded by path, with its exports.
struct ScribelLibrary {
  ScribelLibrary();
  bool loaded() const { return module != nullptr && Outputf != nullptr; }
  // Unloads it (runs its detach when this was the last reference).
  void Unload();

  Q7M_HMODULE module = nullptr;
  SCRIBEL_INITIALIZE_FN Initialize = nullptr;
  SCRIBEL_GETINTEGER_FN GetInteger = nullptr;
  SCRIBEL_GETRECORDLENGTH_FN GetRecordLength = nullptr;
  SCRIBEL_LOCK_FN Lock = nullptr;
  SCRIBEL_UNLOCK_FN UnLock = nullptr;
  SCRIBEL_OUTPUT_FN Output = nullptr;
  SCRIBEL_OUTPUTF_FN Outputf = nullptr;
  SCRIBEL_VOUTPUTF_FN vOutputf = nullptr;
};

// The process's copy of the library (loaded once, never unloaded).
ScribelLibrary& Scribel();

// A fresh directory holding SCRIBEL.INI with `iniText`. trace = dir +
// "/trace.log", the file name tests usually configure.
struct TraceDir {
  std::string dir;
  std::string ini;
  std::string trace;
};
TraceDir MakeTraceDir(const std::string& iniText);

// The usual INI: a library section writing to `trace` with the given text
// length and ring size, FILEFLUSH OFF, and any extra text appended.
std::string BasicIni(const std::string& tracePath, uint32_t length, uint32_t records,
                     const std::string& extra = "");

// A handle on the ring configured by `ini` (a path) for module `module`;
// fails the test when there is none.
SCRIBEL_HANDLE OpenHandle(const std::string& ini, const char* module = "TESTMOD");

// One record as stored.
struct StoredRecord {
  q7m::trace::RecordHeader header;
  std::string text;    // the text area, padding included
  bool whole = false;  // header well formed and CR LF at the end
};

// The slots of a ring of text length `length`, as stored.
std::vector<StoredRecord> ReadRing(const std::string& path, uint32_t length);
// The text of a record without its padding.
std::string Trimmed(const std::string& text);

// Bytes of a record written the way the library does, for seeding files.
std::string SeedRecord(uint32_t length, uint32_t sequence, const std::string& text);
std::string SeedRun(uint32_t length, uint32_t first, uint32_t count);

}  // namespace scribeltest
