// The time limits and response buffer of every command: one table, used by
// every handler through Exchange::Run.
#include "exchange.h"

namespace q7m::rdax {

namespace {

constexpr ExchangeLimits kStandard{30, 30, 1024};

struct LimitRow {
  std::string_view code;
  ExchangeUse use;
  ExchangeLimits limits;
  bool addsCallerTime;
};

// Every command that differs from the standard 30 s / 30 s / 1024 bytes.
// Rows of a particular use come before the ordinary row of the same code.
constexpr LimitRow kLimits[] = {
    {"00", ExchangeUse::kResetFirstAttempt, {30, 3, 1024}, false},
    {"00", ExchangeUse::kDownload, {10, 10, 4096}, false},
    {"V0", ExchangeUse::kDownload, {10, 10, 4096}, false},
    {"d0", ExchangeUse::kDownload, {10, 30, 4096}, false},
    {"d1", ExchangeUse::kDownload, {10, 10, 4096}, false},
    {"d2", ExchangeUse::kDownload, {10, 10, 4096}, false},
    {"d3", ExchangeUse::kDownload, {10, 10, 4096}, false},
    {"n3", ExchangeUse::kTypeBData, {30, 30, 4096}, false},
    {"E", ExchangeUse::kOrdinary, {1, 1, 1024}, false},
    {"92", ExchangeUse::kOrdinary, {2, 2, 1024}, true},
    {"n0", ExchangeUse::kOrdinary, {10, 10, 1024}, true},
    {"V0", ExchangeUse::kOrdinary, {30, 30, 4096}, false},
    {"V1", ExchangeUse::kOrdinary, {30, 30, 4096}, false},
    {"V2", ExchangeUse::kOrdinary, {30, 30, 4096}, false},
    {"F0", ExchangeUse::kOrdinary, {30, 30, 4096}, false},
    {"F1", ExchangeUse::kOrdinary, {30, 30, 4096}, false},
    {"F2", ExchangeUse::kOrdinary, {30, 30, 4096}, false},
    {"F3", ExchangeUse::kOrdinary, {30, 30, 4096}, false},
    {"f0", ExchangeUse::kOrdinary, {30, 30, 4096}, false},
    {"f1", ExchangeUse::kOrdinary, {30, 30, 4096}, false},
    {"f2", ExchangeUse::kOrdinary, {30, 30, 4096}, false},
    {"f3", ExchangeUse::kOrdinary, {30, 30, 4096}, false},
    {"m5", ExchangeUse::kOrdinary, {30, 30, 4096}, false},
    {"m7", ExchangeUse::kOrdinary, {30, 30, 2053}, false},
    {"m8", ExchangeUse::kOrdinary, {30, 30, 2053}, false},
};

}  // namespace

ExchangeLimits LimitsFor(std::string_view code, ExchangeUse use, uint32_t extraSeconds) {
  for (const LimitRow& row : kLimits) {
    if (row.code != code || (row.use != use && row.use != ExchangeUse::kOrdinary)) continue;
    ExchangeLimits limits = row.limits;
    if (row.addsCallerTime) {
      limits.sendSeconds += extraSeconds;
      limits.receiveSeconds += extraSeconds;
    }
    return limits;
  }
  return kStandard;
}

}  // namespace q7m::rdax
