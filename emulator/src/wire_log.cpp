#include "wire_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>

namespace q7msim {

namespace {
uint64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}
}  // namespace

WireLog::WireLog() : startNs_(NowNs()) {}

WireLog::~WireLog() {
  Close();
}

bool WireLog::Open(const std::string& path, std::string* error) {
  Close();
  file_ = std::fopen(path.c_str(), "ae");
  if (!file_) {
    *error = "cannot open log file " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void WireLog::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void WireLog::Prefix(const char* reader, const char* tag) {
  uint64_t ms = (NowNs() - startNs_) / 1000000ull;
  std::fprintf(file_, "%llu.%03llu %s %s", static_cast<unsigned long long>(ms / 1000),
               static_cast<unsigned long long>(ms % 1000), reader, tag);
}

void WireLog::Hex(const uint8_t* data, size_t size) {
  // Formatted in chunks on the stack: no allocation on the exchange path.
  char chunk[3 * 64 + 1];
  size_t i = 0;
  while (i < size) {
    size_t n = 0;
    for (; i < size && n + 3 < sizeof chunk; ++i) {
      static const char kDigits[] = "0123456789ABCDEF";
      chunk[n++] = ' ';
      chunk[n++] = kDigits[data[i] >> 4];
      chunk[n++] = kDigits[data[i] & 0xF];
    }
    std::fwrite(chunk, 1, n, file_);
  }
}

void WireLog::Bytes(const char* reader, const char* tag, const uint8_t* data, size_t size) {
  if (!file_) return;
  size_t shown = size;
  while (shown > 1 && data[shown - 1] == 0) --shown;
  if (size - shown < 2) shown = size;
  Prefix(reader, tag);
  Hex(data, shown);
  if (shown < size) std::fprintf(file_, " +%zu*00", size - shown);
  std::fputc('\n', file_);
  std::fflush(file_);
}

void WireLog::Message(const char* reader, const char* tag, const uint8_t* data, size_t size) {
  if (!file_) return;
  Prefix(reader, tag);
  std::fprintf(file_, " %zu", size);
  Hex(data, size);
  std::fputs(" |", file_);
  for (size_t i = 0; i < size; ++i)
    std::fputc(data[i] >= 0x20 && data[i] < 0x7F ? data[i] : '.', file_);
  std::fputs("|\n", file_);
  std::fflush(file_);
}

void WireLog::Note(const char* reader, const char* tag, const char* format, ...) {
  if (!file_) return;
  Prefix(reader, tag);
  std::fputc(' ', file_);
  va_list args;
  va_start(args, format);
  std::vfprintf(file_, format, args);
  va_end(args);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace q7msim
