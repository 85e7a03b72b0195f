#include "header_description.h"

#include <strings.h>

#include <cstdint>
#include <cstdlib>

namespace q7mdlfile {

namespace {

using q7m::rdax::DownloadHeader;
using q7m::rdax::VersionText;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool Same(std::string_view a, const char* b) {
  return a.size() == std::char_traits<char>::length(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

bool Number(std::string_view text, int base, uint32_t max, uint32_t* value) {
  if (text.empty() || text.size() > 8) return false;
  uint64_t v = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return false;
    }
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  if (v > max) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

bool Entry(std::string_view value, VersionText* entry) {
  const size_t a = value.find(',');
  const size_t b = a == std::string_view::npos ? a : value.find(',', a + 1);
  if (b == std::string_view::npos) return false;
  entry->type = std::string(Trim(value.substr(0, a)));
  entry->revision = std::string(Trim(value.substr(a + 1, b - a - 1)));
  return entry->type.size() <= q7m::rdax::kVersionTypeSize &&
         entry->revision.size() <= q7m::rdax::kVersionRevisionSize &&
         Number(Trim(value.substr(b + 1)), 16, 0xFFFFFF, &entry->sum);
}

}  // namespace

bool ParseHeaderDescription(std::string_view text, DownloadHeader* header, std::string* error) {
  DownloadHeader h;
  bool haveType = false, haveBlockSize = false, haveText = false;
  size_t lineNumber = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return *error = where + "expected Key=Value", false;
    const std::string_view key = Trim(line.substr(0, eq));
    const std::string_view value = Trim(line.substr(eq + 1));
    if (Same(key, "ImageType")) {
      h.image.type = std::string(value);
      haveType = true;
    } else if (Same(key, "ImageRevision")) {
      h.image.revision = std::string(value);
    } else if (Same(key, "BlockSize")) {
      if (!Number(value, 10, q7m::rdax::kMaxDownloadBlockSize, &h.blockSize) || h.blockSize == 0)
        return *error = where + "BlockSize must be 1 to 2048", false;
      haveBlockSize = true;
    } else if (Same(key, "DownloadText")) {
      h.downloadText = std::string(value);
      haveText = true;
    } else if (Same(key, "Number")) {
      if (!Number(value, 10, 9999, &h.number))
        return *error = where + "Number must be 0 to 9999", false;
    } else if (Same(key, "Comment")) {
      h.comment = std::string(value);
    } else if (Same(key, "Compatible")) {
      if (h.entryCount == q7m::rdax::kMaxCompatibilityEntries)
        return *error = where + "at most 10 Compatible lines", false;
      if (!Entry(value, &h.entries[h.entryCount]))
        return *error = where +
                        "Compatible must be TYPE,REVISION,SUM (12 and 2 characters, "
                        "up to 6 hexadecimal digits)",
               false;
      ++h.entryCount;
    } else {
      return *error = where + "unknown key '" + std::string(key) + "'", false;
    }
  }
  if (!haveType) return *error = "ImageType is missing", false;
  if (!haveBlockSize) return *error = "BlockSize is missing", false;
  if (h.image.type.size() > q7m::rdax::kVersionTypeSize)
    return *error = "ImageType must be at most 12 characters", false;
  if (h.image.revision.size() > q7m::rdax::kVersionRevisionSize)
    return *error = "ImageRevision must be at most 2 characters", false;
  if (!haveText) {
    h.downloadText = h.image.type;
    h.downloadText.resize(q7m::rdax::kVersionTypeSize, ' ');
    h.downloadText += h.image.revision;
  }
  *header = std::move(h);
  return true;
}

}  // namespace q7mdlfile
