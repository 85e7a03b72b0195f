// The firmware download: the file is checked whole against the reader's
// versions before the reader hears of it, then announced, started, sent
// block by block and ended. The file is closed on every way out.
#include <cstdio>
#include <cstring>

#include "download_file.h"
#include "exchange.h"
#include "handlers.h"
#include "q7m/last_error_keeper.h"
#include "q7m/platform_sys.h"
#include "q7m/rdax.h"
#include "q7m/sequor.h"

namespace q7m::rdax {

namespace {

// Where the "V0" reply carries the two versions the download needs.
constexpr uint32_t kMaskTypeOffset = 5;
constexpr uint32_t kMaskRevisionOffset = 17;
constexpr uint32_t kMaskSumOffset = 19;
constexpr uint32_t kFirmwareTypeOffset = 45;
constexpr uint32_t kFirmwareRevisionOffset = 57;
constexpr uint32_t kFirmwareSumOffset = 59;

// The reader takes a moment to change mode after the announce and after
// the end of the download.
constexpr uint32_t kSettleMilliseconds = 1000;

constexpr size_t kStartCommandSize = 33 + kCompatibilityEntrySize * kMaxCompatibilityEntries;

class OpenFile {
 public:
  explicit OpenFile(const char* name)
      : handle_(Q7M_CreateFile(name, Q7M_GENERIC_READ, Q7M_FILE_SHARE_READ, Q7M_OPEN_EXISTING)) {}
  ~OpenFile() {
    LastErrorKeeper keep;
    Close();
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  bool ok() const { return handle_ != nullptr; }
  // Exactly `count` bytes, or false (the last error tells a failed read;
  // a read that ends early leaves it 0).
  bool Read(void* buffer, uint32_t count) {
    uint32_t got = 0;
    Q7M_SetLastError(0);
    return Q7M_ReadFile(handle_, buffer, count, &got) != 0 && got == count;
  }
  bool Size(uint64_t* size) const { return Q7M_GetFileSize(handle_, size) != 0; }
  void Close() {
    if (handle_ != nullptr) Q7M_CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  Q7M_HANDLE handle_;
};

// Refusals the download lets pass where it only wants the reader's
// attention: "70" and "72", the reader being in a state it leaves for the
// download.
bool Passes(uint32_t evaluation, bool acceptStateRefusals) {
  if (RDAX_SEVERITY(evaluation) == RDAX_SEVERITY_SUCCESS) return true;
  return acceptStateRefusals && (evaluation == RDAX_E_READER_70 || evaluation == RDAX_E_READER_72);
}

VersionText VersionAt(const ResponseView& reply, uint32_t type, uint32_t revision, uint32_t sum,
                      uint32_t sumDigits) {
  VersionText v;
  auto text = [](std::optional<std::string_view> field) {
    if (!field) return std::string();
    return std::string(field->substr(0, field->find('\0')));
  };
  v.type = text(reply.Field(type, kVersionTypeSize));
  v.revision = text(reply.Field(revision, kVersionRevisionSize));
  v.sum = reply.Hex(sum, sumDigits).value_or(0);
  return v;
}

uint32_t Stored(const RdaxRequest& request, uint32_t result) {
  LastErrorKeeper keep;  // the fatal line reports why the file failed
  SEQUOR_SetResult(reinterpret_cast<SEQUOR_HANDLE>(request.handle), result);
  return result;
}

// Reads and checks everything before the image; the file is left at the
// first block.
uint32_t ReadHeader(const RdaxRequest& request, OpenFile& file, DownloadHeader* header) {
  uint8_t head[kDownloadHeadSize];
  uint64_t size = 0;
  if (!file.Size(&size)) return Stored(request, RDAX_F_SYSTEM);
  if (size < kDownloadHeadSize) return Stored(request, RDAX_E_DOWNLOAD_FILE);
  if (!file.Read(head, sizeof head)) return Stored(request, RDAX_F_SYSTEM);
  if (ParseDownloadHead(head, sizeof head, header) != DownloadFileError::kNone)
    return Stored(request, RDAX_E_DOWNLOAD_FILE);
  uint8_t list[kCompatibilityEntrySize * kMaxCompatibilityEntries];
  const auto listSize = static_cast<uint32_t>(ListSize(*header));
  if (size < kDownloadHeadSize + listSize) return Stored(request, RDAX_E_DOWNLOAD_FILE);
  if (listSize > 0 && !file.Read(list, listSize)) return Stored(request, RDAX_F_SYSTEM);
  if (ParseCompatibilityList(list, listSize, header) != DownloadFileError::kNone ||
      CheckImageSize(*header, size) != DownloadFileError::kNone)
    return Stored(request, RDAX_E_DOWNLOAD_FILE);
  return RDAX_OK;
}

bool Fits(const DownloadHeader& header, const VersionText& mask) {
  if (header.entryCount == 0) return true;
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    if (SameVersion(header.entries[i], mask)) return true;
  }
  return false;
}

// "Cd0", block size, block count, download text, the list: what the reader
// checks the coming blocks against.
uint32_t FormatStart(const DownloadHeader& h, char* out) {
  int n = std::snprintf(out, 16, "Cd0%04u%04u", h.blockSize, h.blockCount);
  PutField(out + n, kDownloadTextSize, h.downloadText);
  n += static_cast<int>(kDownloadTextSize);
  n += std::snprintf(out + n, 3, "%02u", h.entryCount);
  for (uint32_t i = 0; i < h.entryCount; ++i) {
    PutField(out + n, kVersionTypeSize, h.entries[i].type);
    PutField(out + n + kVersionTypeSize, kVersionRevisionSize, h.entries[i].revision);
    n += static_cast<int>(kVersionTypeSize + kVersionRevisionSize);
    n += std::snprintf(out + n, 7, "%06X", h.entries[i].sum & 0xFFFFFFu);
  }
  return static_cast<uint32_t>(n);
}

}  // namespace

uint32_t HandleExecuteDownload(const RdaxRequest& request) {
  const RDAX* device = request.device();
  const char* fileName = reinterpret_cast<const char*>(request.param[0]);
  Exchange exchange;

  uint32_t r = exchange.Run(device, "CV0", 3, ExchangeUse::kDownload);
  if (r != RDAX_OK) return r;
  if (!Passes(exchange.Check(), true)) return RDAX_OK;
  const ResponseView versions = exchange.response();
  const VersionText mask =
      VersionAt(versions, kMaskTypeOffset, kMaskRevisionOffset, kMaskSumOffset, 6);
  const VersionText firmware =
      VersionAt(versions, kFirmwareTypeOffset, kFirmwareRevisionOffset, kFirmwareSumOffset, 8);

  OpenFile file(fileName);
  if (!file.ok()) {
    Q7M_SetLastError(Q7M_ERROR_FILE_NOT_FOUND);
    return Stored(request, RDAX_F_SYSTEM);
  }
  DownloadHeader header;
  r = ReadHeader(request, file, &header);
  if (r != RDAX_OK) return r;
  if (!Fits(header, mask)) return Stored(request, RDAX_E_DOWNLOAD_MISMATCH);

  // Announce with the firmware now in the reader.
  char command[3 + kMaxDownloadBlockSize];
  std::memcpy(command, "Cd3", 3);
  PutField(command + 3, kVersionTypeSize, firmware.type);
  PutField(command + 15, kVersionRevisionSize, firmware.revision);
  std::snprintf(command + 17, 9, "%08X", firmware.sum);
  r = exchange.Run(device, command, 25, ExchangeUse::kDownload);
  if (r != RDAX_OK) return r;
  if (!Passes(exchange.Check(), true)) return RDAX_OK;

  Q7M_Sleep(kSettleMilliseconds);
  r = exchange.Run(device, "C00", 3, ExchangeUse::kDownload);
  if (r != RDAX_OK) return r;
  if (!Passes(exchange.Check(), true)) return RDAX_OK;

  char start[kStartCommandSize + 16];
  r = exchange.Run(device, start, FormatStart(header, start), ExchangeUse::kDownload);
  if (r != RDAX_OK) return r;
  if (!Passes(exchange.Check(), false)) return RDAX_OK;

  std::memcpy(command, "Cd1", 3);
  for (uint32_t block = 0; block < header.blockCount; ++block) {
    if (!file.Read(command + 3, header.blockSize)) {
      // The file was checked to hold the whole image: it changed under us.
      return Q7M_GetLastError() != 0 ? RDAX_F_SYSTEM : Stored(request, RDAX_E_DOWNLOAD_FILE);
    }
    r = exchange.Run(device, command, 3 + header.blockSize, ExchangeUse::kDownload);
    if (r != RDAX_OK) return r;
    if (!Passes(exchange.Check(), false)) return RDAX_OK;
  }

  r = exchange.Run(device, "Cd2", 3, ExchangeUse::kDownload);
  file.Close();
  if (r != RDAX_OK) return r;
  Q7M_Sleep(kSettleMilliseconds);
  return RDAX_OK;
}

}  // namespace q7m::rdax
