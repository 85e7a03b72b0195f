// Cost of the configuration reads the libraries make at open time: one INI
// value (the file is read anew each call), a value found only through the
// registry fallback, and a direct registry query.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "q7m/common/profile.h"
#include "q7m/platform_sys.h"

namespace {

struct Files {
  std::string dir;
  std::string ini;
  std::string reg;
  Files() {
    char templ[] = "/tmp/q7mbench.XXXXXX";
    dir = mkdtemp(templ);
    ini = dir + "/BENCH.INI";
    reg = dir + "/bench.reg";
    // A realistic file: a few sections of a dozen keys, comments between.
    std::ofstream out(ini);
    for (int s = 0; s < 6; ++s) {
      out << "; section " << s << "\r\n[Section" << s << "]\r\n";
      for (int k = 0; k < 12; ++k) out << "Key" << k << " = value " << s << "." << k << "\r\n";
    }
    out << "[Last]\r\nREGMask=HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\Mask\r\n";
    std::ofstream r(reg);
    r << "Windows Registry Editor Version 5.00\r\n\r\n";
    for (int k = 0; k < 40; ++k)
      r << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other" << k << "]\r\n\"V\"=\"x\"\r\n";
    r << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench]\r\n\"Mask\"=dword:0000001f\r\n";
    setenv("Q7M_REGISTRY", reg.c_str(), 1);
  }
  ~Files() {
    unlink(ini.c_str());
    unlink(reg.c_str());
    rmdir(dir.c_str());
  }
};

Files& TheFiles() {
  static Files files;
  return files;
}

void BM_IniValueLastSection(benchmark::State& state) {
  Files& f = TheFiles();
  char buffer[256];
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        Q7M_GetPrivateProfileString("Section5", "Key11", "", buffer, sizeof buffer, f.ini.c_str()));
  }
}
BENCHMARK(BM_IniValueLastSection);

void BM_ProfileIntegerThroughRegistry(benchmark::State& state) {
  Files& f = TheFiles();
  q7m::Profile profile(nullptr);
  if (!profile.Open(f.ini.c_str())) state.SkipWithError("no INI");
  for (auto _ : state) benchmark::DoNotOptimize(profile.GetInteger("Last", "Mask", 0));
}
BENCHMARK(BM_ProfileIntegerThroughRegistry);

void BM_RegistryDword(benchmark::State& state) {
  TheFiles();
  uint32_t value = 0, type = 0, size = 0;
  for (auto _ : state) {
    size = sizeof value;
    benchmark::DoNotOptimize(
        Q7M_RegQueryValue(Q7M_HKEY_LOCAL_MACHINE, "SOFTWARE\\Bench", "Mask", &type, &value, &size));
  }
}
BENCHMARK(BM_RegistryDword);

}  // namespace

BENCHMARK_MAIN();
