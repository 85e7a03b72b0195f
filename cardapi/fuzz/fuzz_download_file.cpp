// libFuzzer target: a firmware download file as it arrives from disk. The
// head, the compatibility list and the image size are checked in the order
// the download reads them; whatever is accepted must describe a file that
// fits the bytes given.
#include <cstddef>
#include <cstdint>

#include "download_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using q7m::rdax::DownloadFileError;
  q7m::rdax::DownloadHeader header;
  if (size < q7m::rdax::kDownloadHeadSize) {
    return 0;
  }
  if (q7m::rdax::ParseDownloadHead(data, q7m::rdax::kDownloadHeadSize, &header) !=
      DownloadFileError::kNone) {
    return 0;
  }
  if (header.entryCount > q7m::rdax::kMaxCompatibilityEntries || header.blockSize == 0 ||
      header.blockSize > q7m::rdax::kMaxDownloadBlockSize || header.blockCount == 0) {
    __builtin_trap();
  }
  size_t listSize = q7m::rdax::ListSize(header);
  if (size - q7m::rdax::kDownloadHeadSize < listSize) {
    return 0;
  }
  if (q7m::rdax::ParseCompatibilityList(data + q7m::rdax::kDownloadHeadSize, listSize, &header) !=
      DownloadFileError::kNone) {
    return 0;
  }
  if (q7m::rdax::CheckImageSize(header, size) == DownloadFileError::kNone &&
      q7m::rdax::ImageOffset(header) + q7m::rdax::ImageSize(header) > size) {
    __builtin_trap();
  }
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    (void)q7m::rdax::SameVersion(header.entries[i], header.entries[0]);
  }
  return 0;
}
