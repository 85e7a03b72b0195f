// q7m-dlfile: builds a firmware download file from an image and a header
// description, and shows what a download file holds.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "download_file.h"
#include "header_description.h"

namespace {

using q7m::rdax::DownloadFileError;
using q7m::rdax::DownloadHeader;

// Exit statuses: 0 done, 1 a file is unreadable or refused, 2 usage.
constexpr int kFailed = 1;
constexpr int kUsage = 2;
// Filler of the last block when the image does not fill it: the value of
// erased flash, which the reader writes as if nothing were there.
constexpr uint8_t kFiller = 0xFF;
// Far larger than any image a block count of 9999 blocks can carry.
constexpr long kMaxInputSize = 64L * 1024 * 1024;

const char kHelp[] =
    "usage: q7m-dlfile --header DESCRIPTION --image IMAGE --output FILE\n"
    "       q7m-dlfile --info FILE\n"
    "\n"
    "Builds a firmware download file for RDAX_ExecuteDownload from a binary\n"
    "image and a header description, or shows what a download file holds.\n"
    "\n"
    "The image is cut into blocks of BlockSize bytes; the last block is\n"
    "filled up with 0xFF bytes. The file's image sum is the 32-bit sum of all\n"
    "block bytes, which is what the reader reports as the new firmware's sum.\n"
    "\n"
    "The header description has lines of Key=Value (# and ; start comments):\n"
    "  ImageType=Q7M-FW         firmware type, up to 12 characters (required)\n"
    "  ImageRevision=11         revision, up to 2 characters\n"
    "  BlockSize=512            1 to 2048 (required)\n"
    "  DownloadText=...         20 characters sent to the reader; default: the\n"
    "                           type padded to 12 and the revision\n"
    "  Number=1                 0 to 9999, kept in the file\n"
    "  Comment=...              up to 256 characters, kept in the file\n"
    "  Compatible=TYPE,RV,SUM   a reader mask version the image fits (SUM up to\n"
    "                           6 hexadecimal digits); up to 10 lines; without\n"
    "                           any, the image fits every reader\n"
    "\n"
    "Exit status: 0 done, 1 a file could not be read, written or was refused,\n"
    "2 wrong usage.\n";

bool ReadWhole(const char* path, std::string* data, std::string* error) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return *error = std::string(path) + ": " + std::strerror(errno), false;
  data->clear();
  char chunk[65536];
  size_t n;
  bool ok = true;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    if (static_cast<long>(data->size() + n) > kMaxInputSize) {
      *error = std::string(path) + ": larger than 64 MiB";
      ok = false;
      break;
    }
    data->append(chunk, n);
  }
  if (ok && std::ferror(f)) {
    *error = std::string(path) + ": read error";
    ok = false;
  }
  std::fclose(f);
  return ok;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "q7m-dlfile: %s\n", message.c_str());
  return kFailed;
}

int Build(const char* descriptionPath, const char* imagePath, const char* outputPath) {
  std::string description, image, error;
  if (!ReadWhole(descriptionPath, &description, &error) || !ReadWhole(imagePath, &image, &error))
    return Fail(error);
  DownloadHeader header;
  if (!q7mdlfile::ParseHeaderDescription(description, &header, &error))
    return Fail(std::string(descriptionPath) + ": " + error);
  if (image.empty()) return Fail(std::string(imagePath) + ": the image is empty");
  const uint64_t blocks = (image.size() + header.blockSize - 1) / header.blockSize;
  if (blocks > q7m::rdax::kMaxDownloadBlockCount)
    return Fail(std::string(imagePath) + ": the image needs " + std::to_string(blocks) +
                " blocks of " + std::to_string(header.blockSize) + " bytes; at most 9999 fit");
  header.blockCount = static_cast<uint32_t>(blocks);
  image.resize(blocks * header.blockSize, static_cast<char>(kFiller));
  uint32_t sum = 0;
  for (unsigned char c : image) sum += c;
  header.image.sum = sum;
  std::string file;
  if (!q7m::rdax::FormatDownloadHeader(header, &file, &error))
    return Fail(std::string(descriptionPath) + ": " + error);
  file += image;
  FILE* out = std::fopen(outputPath, "wb");
  if (out == nullptr) return Fail(std::string(outputPath) + ": " + std::strerror(errno));
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  if (std::fclose(out) != 0 || !written) {
    std::remove(outputPath);
    return Fail(std::string(outputPath) + ": write error");
  }
  std::printf("%s: %zu bytes, %u blocks of %u bytes, image sum %08X\n", outputPath, file.size(),
              header.blockCount, header.blockSize, header.image.sum);
  return 0;
}

// A fixed-width text without the blanks that pad it.
std::string Shown(const std::string& text) {
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

int Info(const char* path) {
  std::string data, error;
  if (!ReadWhole(path, &data, &error)) return Fail(error);
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  DownloadHeader h;
  DownloadFileError e = q7m::rdax::ParseDownloadHead(bytes, data.size(), &h);
  if (e == DownloadFileError::kNone) {
    e = q7m::rdax::ParseCompatibilityList(bytes + q7m::rdax::kDownloadHeadSize,
                                          data.size() - q7m::rdax::kDownloadHeadSize, &h);
  }
  if (e == DownloadFileError::kNone) e = q7m::rdax::CheckImageSize(h, data.size());
  if (e != DownloadFileError::kNone)
    return Fail(std::string(path) +
                ": not a usable download file: " + q7m::rdax::DescribeDownloadFileError(e));
  const uint64_t offset = q7m::rdax::ImageOffset(h);
  const uint64_t size = q7m::rdax::ImageSize(h);
  uint32_t sum = 0;
  for (uint64_t i = 0; i < size; ++i) sum += bytes[offset + i];
  std::printf("file:          %s (%zu bytes)\n", path, data.size());
  std::printf("number:        %u\n", h.number);
  std::printf("comment:       \"%s\"\n", Shown(h.comment).c_str());
  std::printf("image:         type \"%s\" revision \"%s\" sum %08X (%s)\n",
              Shown(h.image.type).c_str(), Shown(h.image.revision).c_str(), h.image.sum,
              sum == h.image.sum ? "matches the blocks" : "the blocks sum to another value");
  std::printf("blocks:        %u of %u bytes (%llu bytes at offset %llu)\n", h.blockCount,
              h.blockSize, static_cast<unsigned long long>(size),
              static_cast<unsigned long long>(offset));
  std::printf("download text: \"%s\"\n", h.downloadText.c_str());
  if (h.entryCount == 0) std::printf("compatible:    every reader\n");
  for (uint32_t i = 0; i < h.entryCount; ++i) {
    std::printf("compatible:    type \"%s\" revision \"%s\" sum %06X\n",
                Shown(h.entries[i].type).c_str(), Shown(h.entries[i].revision).c_str(),
                h.entries[i].sum);
  }
  if (data.size() > offset + size)
    std::printf("after image:   %llu bytes (ignored by the download)\n",
                static_cast<unsigned long long>(data.size() - offset - size));
  return 0;
}

int Usage(const char* problem) {
  std::fprintf(stderr, "q7m-dlfile: %s\n(q7m-dlfile --help tells how to call it)\n", problem);
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const char* description = nullptr;
  const char* image = nullptr;
  const char* output = nullptr;
  const char* info = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    const char** target = arg == "--header"   ? &description
                          : arg == "--image"  ? &image
                          : arg == "--output" ? &output
                          : arg == "--info"   ? &info
                                              : nullptr;
    if (target == nullptr) return Usage(("unknown argument '" + arg + "'").c_str());
    if (i + 1 >= argc) return Usage((arg + " needs a file name").c_str());
    *target = argv[++i];
  }
  if (info != nullptr) {
    if (description || image || output) return Usage("--info goes alone");
    return Info(info);
  }
  if (!description || !image || !output)
    return Usage("give --header, --image and --output, or --info");
  return Build(description, image, output);
}
