// The firmware download file: a header of fixed-width printable fields, a
// list of the reader mask versions the image fits, then the image in blocks
// of one size.
//
//   offset  size  field
//        0     6  file mark "TALVOB"
//        6     4  decimal number (not used by the download)
//       10   256  text (not used)
//      266    12  firmware type of the image (not used)
//      278     2  revision of the image (not used)
//      280     8  sum of the image, hexadecimal (not used)
//      288     4  block size in bytes, decimal
//      292     4  block count, decimal
//      296    20  download text, sent to the reader with the start command
//      316     2  number n of compatibility entries, decimal
//      318  20*n  entries: mask type (12), mask revision (2), mask sum (6 hex)
//  318+20n         the image: block size x block count bytes
//
// A download file comes from outside, so it is checked whole before the
// reader hears of it. Refused as damaged:
// - a file shorter than its header, its list or the image it announces;
// - a mark other than "TALVOB";
// - more than 10 entries;
// - a block size outside 1 to 2048 (the largest block a command message of
//   either link carries) or a block count of 0; a size, count or entry
//   count that is not blanks followed by digits;
// - a download text with control characters (it travels in a command; a NUL
//   ends it early, as in the reader's own tools), an entry whose sum is not
//   six hexadecimal digits.
// Bytes after the image are ignored. The fields the download does not use
// are kept for display and not checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace q7m::rdax {

constexpr char kDownloadMark[] = "TALVOB";
constexpr size_t kDownloadHeadSize = 318;  // up to the compatibility list
constexpr size_t kCompatibilityEntrySize = 20;
constexpr uint32_t kMaxCompatibilityEntries = 10;
constexpr uint32_t kMaxDownloadBlockSize = 2048;
constexpr uint32_t kMaxDownloadBlockCount = 9999;

constexpr size_t kVersionTypeSize = 12;
constexpr size_t kVersionRevisionSize = 2;
constexpr size_t kDownloadTextSize = 20;
constexpr size_t kDownloadCommentSize = 256;

// A version as text fields: the characters up to the first NUL within the
// field's width (a shorter text is right-aligned when sent).
struct VersionText {
  std::string type;      // at most 12 characters
  std::string revision;  // at most 2 characters
  uint32_t sum = 0;
};

struct DownloadHeader {
  uint32_t number = 0;  // not used by the download
  std::string comment;  // not used
  VersionText image;    // not used
  uint32_t blockSize = 0;
  uint32_t blockCount = 0;
  std::string downloadText;  // at most 20 characters
  uint32_t entryCount = 0;
  VersionText entries[kMaxCompatibilityEntries];
};

enum class DownloadFileError : uint8_t {
  kNone,
  kShortHeader,
  kBadMark,
  kBadBlockSize,
  kBadBlockCount,
  kBadDownloadText,
  kBadEntryCount,
  kTooManyEntries,
  kShortList,
  kBadEntry,
  kShortImage,
};

// What is wrong, in words for a user.
const char* DescribeDownloadFileError(DownloadFileError error);

// The fixed head (kDownloadHeadSize bytes); fills everything but the entries.
DownloadFileError ParseDownloadHead(const uint8_t* data, size_t size, DownloadHeader* header);
// The compatibility list that follows the head (ListSize bytes).
DownloadFileError ParseCompatibilityList(const uint8_t* data, size_t size, DownloadHeader* header);
// Whether a file of `fileSize` bytes holds the whole image.
DownloadFileError CheckImageSize(const DownloadHeader& header, uint64_t fileSize);

inline size_t ListSize(const DownloadHeader& header) {
  return kCompatibilityEntrySize * header.entryCount;
}
inline uint64_t ImageOffset(const DownloadHeader& header) {
  return kDownloadHeadSize + ListSize(header);
}
inline uint64_t ImageSize(const DownloadHeader& header) {
  return uint64_t{header.blockSize} * header.blockCount;
}

// Whether an entry names the mask version `mask` (type, revision, sum).
bool SameVersion(const VersionText& entry, const VersionText& mask);

// `text` right-aligned in `width` characters (longer text is cut), as the
// reader expects its fixed-width fields.
void PutField(char* out, size_t width, std::string_view text);

// The head and list of a download file for `header`; false (and `error` in
// words) when a field does not fit its width or its range.
bool FormatDownloadHeader(const DownloadHeader& header, std::string* out, std::string* error);

}  // namespace q7m::rdax
