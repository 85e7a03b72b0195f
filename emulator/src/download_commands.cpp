// The download family: announce, start, blocks and end of a firmware
// download. The reader checks the order of the four commands, that the
// announce names its running firmware, that one of the compatibility
// entries names its mask (or that there are none), the size and count of
// the blocks, and then takes the new firmware: its type and revision from
// the first 14 characters of the download text, its sum as the 32-bit sum
// of the image bytes, reported by "V0" from then on.
#include "download_commands.h"

#include <string>

#include "reader_commands.h"
#include "text_util.h"

namespace q7msim {

namespace {

constexpr uint32_t kMaxBlockSize = 2048;
constexpr size_t kEntrySize = kVersionTypeWidth + kVersionRevisionWidth + 6;
constexpr size_t kMaxEntries = 10;
// A command out of its place in the sequence; an image for another mask.
constexpr char kSequenceError[] = "70";
constexpr char kIncompatibleError[] = "73";

std::string_view Text(const CommandContext& c, size_t offset, size_t size) {
  return {reinterpret_cast<const char*>(c.params) + offset, size};
}

bool Decimal(const CommandContext& c, size_t offset, size_t size, uint32_t* value) {
  uint32_t v = 0;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t d = c.params[offset + i];
    if (d < '0' || d > '9') return false;
    v = v * 10 + (d - '0');
  }
  *value = v;
  return true;
}

std::string VersionText(const VersionInfo& v, int sumDigits) {
  ResponseBuffer r;
  r.AppendPadded(v.type, kVersionTypeWidth);
  r.AppendPadded(v.revision, kVersionRevisionWidth);
  r.AppendHex(v.sum, static_cast<size_t>(sumDigits));
  return std::string(reinterpret_cast<const char*>(r.data()), r.size());
}

void Refuse(CommandContext& c, const char* error) {
  c.state.Count(ReaderCounter::kDownloadErrors);
  c.response.Negative(c.code, error);
}

void RefuseParameters(CommandContext& c) {
  c.state.Count(ReaderCounter::kDownloadErrors);
  c.RefuseParameters();
}

void Abandon(ReaderState& s) {
  s.download.phase = DownloadPhase::kIdle;
}

// "d3" + the running firmware version (type 12, revision 2, sum 8 hex).
void Announce(CommandContext& c) {
  DownloadState& d = c.state.download;
  if (!c.HasParams(kVersionTypeWidth + kVersionRevisionWidth + 8)) return RefuseParameters(c);
  if (Text(c, 0, c.paramSize) != VersionText(c.state.firmware, 8)) return RefuseParameters(c);
  d.phase = DownloadPhase::kAnnounced;
  c.Accept();
}

// "d0" + block size (4) + block count (4) + download text (20) + entry
// count (2) + entries (20 each).
void Start(CommandContext& c) {
  DownloadState& d = c.state.download;
  if (d.phase != DownloadPhase::kAnnounced) return Refuse(c, kSequenceError);
  uint32_t size = 0, count = 0, entries = 0;
  if (c.paramSize < 30 || !Decimal(c, 0, 4, &size) || !Decimal(c, 4, 4, &count) ||
      !Decimal(c, 28, 2, &entries) || size == 0 || size > kMaxBlockSize || count == 0 ||
      entries > kMaxEntries || c.paramSize != 30 + kEntrySize * entries)
    return RefuseParameters(c);
  if (entries > 0) {
    const std::string mask = VersionText(c.state.mask, 6);
    bool fits = false;
    for (uint32_t i = 0; i < entries && !fits; ++i)
      fits = Text(c, 30 + kEntrySize * i, kEntrySize) == mask;
    if (!fits) return Refuse(c, kIncompatibleError);
  }
  d.phase = DownloadPhase::kReceiving;
  d.blockSize = size;
  d.blockCount = count;
  d.blocksReceived = 0;
  d.imageSum = 0;
  d.text = std::string(Text(c, 8, 20));
  c.Accept();
}

// "d1" + one block of the announced size.
void Block(CommandContext& c) {
  DownloadState& d = c.state.download;
  if (d.phase != DownloadPhase::kReceiving || d.blocksReceived >= d.blockCount)
    return Refuse(c, kSequenceError);
  if (c.paramSize != d.blockSize) return RefuseParameters(c);
  for (size_t i = 0; i < c.paramSize; ++i) d.imageSum += c.params[i];
  ++d.blocksReceived;
  c.Accept();
}

// "d2": the end. With every block received the new firmware is in place.
void End(CommandContext& c) {
  DownloadState& d = c.state.download;
  if (!c.HasParams(0)) return RefuseParameters(c);
  if (d.phase != DownloadPhase::kReceiving || d.blocksReceived != d.blockCount) {
    Abandon(c.state);
    return Refuse(c, kSequenceError);
  }
  std::string type = d.text.substr(0, kVersionTypeWidth);
  type.erase(type.find_last_not_of(' ') + 1);
  std::string revision = d.text.substr(kVersionTypeWidth, kVersionRevisionWidth);
  revision.erase(revision.find_last_not_of(' ') + 1);
  c.state.firmware = VersionInfo{type, revision, d.imageSum};
  ++d.completed;
  Abandon(c.state);
  c.Accept();
}

}  // namespace

bool RegisterDownloadCommands(CommandDispatcher* d) {
  // A cancel ends a download in progress: the reader keeps its firmware.
  d->AddCancelHook(&Abandon);
  bool ok = d->Register("d0", Start);
  ok = d->Register("d1", Block) && ok;
  ok = d->Register("d2", End) && ok;
  ok = d->Register("d3", Announce) && ok;
  return ok;
}

void AddDownloadFields(ReaderState* state, FieldTable* fields) {
  const DownloadState* d = &state->download;
  fields->Add("DownloadPhase", "idle, announced or receiving", [d] {
    switch (d->phase) {
      case DownloadPhase::kIdle:
        return std::string("idle");
      case DownloadPhase::kAnnounced:
        return std::string("announced");
      case DownloadPhase::kReceiving:
        break;
    }
    return "receiving " + std::to_string(d->blocksReceived) + "/" + std::to_string(d->blockCount) +
           " of " + std::to_string(d->blockSize);
  });
  fields->Add("DownloadsCompleted", "downloads ended with every block",
              [d] { return std::to_string(d->completed); });
}

}  // namespace q7msim
