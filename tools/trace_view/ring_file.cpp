#include "ring_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace q7m::traceview {

using trace::kHeaderLength;
using trace::kMaxTextLength;
using trace::kRecordOverhead;

namespace {

// How many slots from slot 0 are checked when the record length is worked out.
constexpr uint64_t kDetectSlots = 32;

bool IsWholeRecord(std::string_view bytes) {
  trace::RecordHeader unused;
  size_t n = bytes.size();
  return n >= kRecordOverhead && bytes[n - 2] == '\r' && bytes[n - 1] == '\n' &&
         trace::ParseRecordHeader(bytes.data(), n, &unused);
}

}  // namespace

bool ParseSlot(std::string_view bytes, uint64_t slot, TraceRecord* out) {
  size_t n = bytes.size();
  if (n < kRecordOverhead || bytes[n - 2] != '\r' || bytes[n - 1] != '\n') return false;
  if (!trace::ParseRecordHeader(bytes.data(), n, &out->header)) return false;
  out->slot = slot;
  out->text = bytes.substr(kHeaderLength, n - kRecordOverhead);
  return true;
}

std::optional<uint32_t> DetectRecordLength(std::string_view head, uint64_t fileSize) {
  uint32_t best = 0;
  uint64_t bestRun = 0;
  bool bestDivides = false;
  for (uint32_t length = 0; length <= kMaxTextLength; ++length) {
    const uint64_t size = length + kRecordOverhead;
    if (size > head.size()) break;
    uint64_t run = 0;
    while (run < kDetectSlots && (run + 1) * size <= head.size() &&
           IsWholeRecord(head.substr(run * size, size))) {
      ++run;
    }
    if (run == 0) continue;
    bool divides = fileSize % size == 0;
    if (run > bestRun || (run == bestRun && divides && !bestDivides)) {
      best = length;
      bestRun = run;
      bestDivides = divides;
    }
  }
  if (bestRun == 0) return std::nullopt;
  return best;
}

RingFile::~RingFile() {
  Close();
}

bool RingFile::Open(const std::string& path, std::string* error) {
  Close();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? "is a directory" : "is not a regular file";
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

void RingFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

uint64_t RingFile::FileSize() const {
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

uint64_t RingFile::SlotCount() const {
  return FileSize() / recordSize();
}

bool RingFile::DetectLength(std::string* error) {
  uint64_t size = FileSize();
  if (size == 0) {
    *error = "the ring is empty";
    return false;
  }
  const uint64_t want = kDetectSlots * (kMaxTextLength + kRecordOverhead);
  std::vector<char> head(size < want ? size : want);
  ssize_t got = pread(fd_, head.data(), head.size(), 0);
  if (got < 0) {
    *error = std::strerror(errno);
    return false;
  }
  auto length = DetectRecordLength(std::string_view(head.data(), static_cast<size_t>(got)), size);
  if (!length) {
    *error = "not a trace ring (no whole record at its start)";
    return false;
  }
  recordLength_ = *length;
  return true;
}

uint64_t RingFile::ReadSlots(uint64_t first, uint64_t count, std::vector<char>* buffer) const {
  const uint64_t size = recordSize();
  buffer->resize(count * size);
  uint64_t done = 0;
  const uint64_t want = count * size;
  while (done < want) {
    ssize_t got =
        pread(fd_, buffer->data() + done, want - done, static_cast<off_t>(first * size + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<uint64_t>(got);
  }
  return done / size;
}

bool RingFile::ReadRecord(uint64_t slot, std::vector<char>* buffer, TraceRecord* out) const {
  if (ReadSlots(slot, 1, buffer) != 1) return false;
  return ParseSlot(std::string_view(buffer->data(), recordSize()), slot, out);
}

}  // namespace q7m::traceview
