#include "download_file.h"

#include <cstdio>
#include <cstring>

namespace q7m::rdax {

namespace {

constexpr size_t kMarkOffset = 0;
constexpr size_t kNumberOffset = 6;
constexpr size_t kCommentOffset = 10;
constexpr size_t kImageTypeOffset = 266;
constexpr size_t kImageRevisionOffset = 278;
constexpr size_t kImageSumOffset = 280;
constexpr size_t kBlockSizeOffset = 288;
constexpr size_t kBlockCountOffset = 292;
constexpr size_t kDownloadTextOffset = 296;
constexpr size_t kEntryCountOffset = 316;
constexpr size_t kEntrySumSize = 6;

// The characters of a text field up to its first NUL.
std::string Text(const uint8_t* field, size_t width) {
  const void* nul = std::memchr(field, '\0', width);
  const size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - field) : width;
  return std::string(reinterpret_cast<const char*>(field), length);
}

// A decimal field: blanks, at least one digit, then only blanks or NULs.
bool StrictDecimal(const uint8_t* field, size_t width, uint32_t* value) {
  size_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  const size_t first = i;
  uint32_t v = 0;
  for (; i < width && field[i] >= '0' && field[i] <= '9'; ++i) v = v * 10 + (field[i] - '0');
  if (i == first) return false;
  for (; i < width; ++i) {
    if (field[i] != ' ' && field[i] != '\0') return false;
  }
  *value = v;
  return true;
}

// A decimal scan that stops at the first non-digit (unused fields).
uint32_t LooseDecimal(const uint8_t* field, size_t width) {
  size_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  uint32_t v = 0;
  for (; i < width && field[i] >= '0' && field[i] <= '9'; ++i) v = v * 10 + (field[i] - '0');
  return v;
}

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Every character a hexadecimal digit.
bool StrictHex(const uint8_t* field, size_t width, uint32_t* value) {
  uint32_t v = 0;
  for (size_t i = 0; i < width; ++i) {
    const int digit = HexDigit(field[i]);
    if (digit < 0) return false;
    v = v * 16 + static_cast<uint32_t>(digit);
  }
  *value = v;
  return true;
}

uint32_t LooseHex(const uint8_t* field, size_t width) {
  uint32_t v = 0;
  for (size_t i = 0; i < width; ++i) {
    const int digit = HexDigit(field[i]);
    if (digit < 0) break;
    v = v * 16 + static_cast<uint32_t>(digit);
  }
  return v;
}

bool Printable(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

}  // namespace

const char* DescribeDownloadFileError(DownloadFileError error) {
  switch (error) {
    case DownloadFileError::kNone:
      return "no error";
    case DownloadFileError::kShortHeader:
      return "the file is shorter than a download file's header (318 bytes)";
    case DownloadFileError::kBadMark:
      return "the file does not begin with the mark TALVOB";
    case DownloadFileError::kBadBlockSize:
      return "the block size is not a number from 1 to 2048";
    case DownloadFileError::kBadBlockCount:
      return "the block count is not a number from 1 to 9999";
    case DownloadFileError::kBadDownloadText:
      return "the download text holds control characters";
    case DownloadFileError::kBadEntryCount:
      return "the number of compatibility entries is not a number";
    case DownloadFileError::kTooManyEntries:
      return "more than 10 compatibility entries";
    case DownloadFileError::kShortList:
      return "the file ends inside the compatibility list";
    case DownloadFileError::kBadEntry:
      return "a compatibility entry's sum is not six hexadecimal digits, or its text holds "
             "control characters";
    case DownloadFileError::kShortImage:
      return "the file is shorter than the image its header announces";
  }
  return "unknown error";
}

DownloadFileError ParseDownloadHead(const uint8_t* data, size_t size, DownloadHeader* header) {
  if (data == nullptr || size < kDownloadHeadSize) return DownloadFileError::kShortHeader;
  if (std::memcmp(data + kMarkOffset, kDownloadMark, 6) != 0) return DownloadFileError::kBadMark;
  DownloadHeader h;
  h.number = LooseDecimal(data + kNumberOffset, 4);
  h.comment = Text(data + kCommentOffset, kDownloadCommentSize);
  h.image.type = Text(data + kImageTypeOffset, kVersionTypeSize);
  h.image.revision = Text(data + kImageRevisionOffset, kVersionRevisionSize);
  h.image.sum = LooseHex(data + kImageSumOffset, 8);
  if (!StrictDecimal(data + kBlockSizeOffset, 4, &h.blockSize) || h.blockSize == 0 ||
      h.blockSize > kMaxDownloadBlockSize)
    return DownloadFileError::kBadBlockSize;
  if (!StrictDecimal(data + kBlockCountOffset, 4, &h.blockCount) || h.blockCount == 0)
    return DownloadFileError::kBadBlockCount;
  h.downloadText = Text(data + kDownloadTextOffset, kDownloadTextSize);
  if (!Printable(h.downloadText)) return DownloadFileError::kBadDownloadText;
  if (!StrictDecimal(data + kEntryCountOffset, 2, &h.entryCount))
    return DownloadFileError::kBadEntryCount;
  if (h.entryCount > kMaxCompatibilityEntries) return DownloadFileError::kTooManyEntries;
  *header = std::move(h);
  return DownloadFileError::kNone;
}

DownloadFileError ParseCompatibilityList(const uint8_t* data, size_t size, DownloadHeader* header) {
  if (header->entryCount > kMaxCompatibilityEntries) return DownloadFileError::kTooManyEntries;
  if (size < ListSize(*header)) return DownloadFileError::kShortList;
  for (uint32_t i = 0; i < header->entryCount; ++i) {
    const uint8_t* entry = data + kCompatibilityEntrySize * i;
    VersionText& v = header->entries[i];
    v.type = Text(entry, kVersionTypeSize);
    v.revision = Text(entry + kVersionTypeSize, kVersionRevisionSize);
    if (!Printable(v.type) || !Printable(v.revision) ||
        !StrictHex(entry + kVersionTypeSize + kVersionRevisionSize, kEntrySumSize, &v.sum))
      return DownloadFileError::kBadEntry;
  }
  return DownloadFileError::kNone;
}

DownloadFileError CheckImageSize(const DownloadHeader& header, uint64_t fileSize) {
  if (fileSize < ImageOffset(header) + ImageSize(header)) return DownloadFileError::kShortImage;
  return DownloadFileError::kNone;
}

bool SameVersion(const VersionText& entry, const VersionText& mask) {
  return entry.type == mask.type && entry.revision == mask.revision && entry.sum == mask.sum;
}

void PutField(char* out, size_t width, std::string_view text) {
  if (text.size() > width) text = text.substr(0, width);
  const size_t pad = width - text.size();
  std::memset(out, ' ', pad);
  std::memcpy(out + pad, text.data(), text.size());
}

namespace {

// Left-aligned and blank-padded, as the reader reports its own texts.
bool PutText(std::string* out, size_t offset, size_t width, std::string_view text, const char* what,
             std::string* error) {
  if (text.size() > width || !Printable(text)) {
    *error =
        std::string(what) + " must be at most " + std::to_string(width) + " printable characters";
    return false;
  }
  std::memcpy(out->data() + offset, text.data(), text.size());
  return true;
}

void PutNumber(std::string* out, size_t offset, const char* format, uint32_t value, size_t width) {
  char digits[16];
  std::snprintf(digits, sizeof digits, format, value);
  std::memcpy(out->data() + offset, digits, width);
}

}  // namespace

bool FormatDownloadHeader(const DownloadHeader& h, std::string* out, std::string* error) {
  if (h.number > 9999) return *error = "the number must be 0 to 9999", false;
  if (h.blockSize == 0 || h.blockSize > kMaxDownloadBlockSize)
    return *error = "the block size must be 1 to 2048", false;
  if (h.blockCount == 0 || h.blockCount > kMaxDownloadBlockCount)
    return *error = "the block count must be 1 to 9999", false;
  if (h.entryCount > kMaxCompatibilityEntries)
    return *error = "at most 10 compatibility entries", false;
  std::string file(ImageOffset(h), ' ');
  std::memcpy(file.data(), kDownloadMark, 6);
  PutNumber(&file, kNumberOffset, "%04u", h.number, 4);
  if (!PutText(&file, kCommentOffset, kDownloadCommentSize, h.comment, "the comment", error) ||
      !PutText(&file, kImageTypeOffset, kVersionTypeSize, h.image.type, "a type", error) ||
      !PutText(&file, kImageRevisionOffset, kVersionRevisionSize, h.image.revision, "a revision",
               error) ||
      !PutText(&file, kDownloadTextOffset, kDownloadTextSize, h.downloadText, "the download text",
               error))
    return false;
  PutNumber(&file, kImageSumOffset, "%08X", h.image.sum, 8);
  PutNumber(&file, kBlockSizeOffset, "%04u", h.blockSize, 4);
  PutNumber(&file, kBlockCountOffset, "%04u", h.blockCount, 4);
  PutNumber(&file, kEntryCountOffset, "%02u", h.entryCount, 2);
  for (uint32_t i = 0; i < h.entryCount; ++i) {
    const size_t at = kDownloadHeadSize + kCompatibilityEntrySize * i;
    const VersionText& v = h.entries[i];
    if (v.sum > 0xFFFFFF)
      return *error = "a mask sum must be at most six hexadecimal digits", false;
    if (!PutText(&file, at, kVersionTypeSize, v.type, "a type", error) ||
        !PutText(&file, at + kVersionTypeSize, kVersionRevisionSize, v.revision, "a revision",
                 error))
      return false;
    PutNumber(&file, at + kVersionTypeSize + kVersionRevisionSize, "%06X", v.sum, 6);
  }
  *out = std::move(file);
  return true;
}

}  // namespace q7m::rdax
