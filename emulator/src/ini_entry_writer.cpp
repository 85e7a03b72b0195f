#include "ini_entry_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "text_util.h"

namespace q7msim {

namespace {

struct Line {
  std::string_view text;  // without its line ending
  std::string_view ending;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) {
      lines.push_back({text.substr(start), {}});
      break;
    }
    size_t end = nl;
    if (end > start && text[end - 1] == '\r') --end;
    lines.push_back({text.substr(start, end - start), text.substr(end, nl + 1 - end)});
    start = nl + 1;
  }
  return lines;
}

// "[name]" with optional blanks: the section name, else empty.
bool SectionName(std::string_view line, std::string_view* name) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  *name = Trim(line.substr(1, close - 1));
  return true;
}

bool IsKeyLine(std::string_view line, std::string_view key) {
  std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';') return false;
  size_t eq = trimmed.find('=');
  return eq != std::string_view::npos && EqualsNoCase(Trim(trimmed.substr(0, eq)), key);
}

}  // namespace

std::string SetIniEntry(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value) {
  std::vector<Line> lines = SplitLines(text);
  std::string eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  std::string entry = std::string(key) + "=" + std::string(value);

  // Find the first matching section, its key line and its last content line.
  size_t sectionLine = lines.size(), keyLine = lines.size(), lastContent = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (SectionName(lines[i].text, &name)) {
      if (sectionLine != lines.size()) break;  // the next section ends ours
      if (EqualsNoCase(name, section)) sectionLine = lastContent = i;
      continue;
    }
    if (sectionLine == lines.size()) continue;
    if (!Trim(lines[i].text).empty()) lastContent = i;
    if (keyLine == lines.size() && IsKeyLine(lines[i].text, key)) keyLine = i;
  }

  std::string out;
  out.reserve(text.size() + entry.size() + section.size() + 8);
  auto emit = [&](const Line& line) {
    out += line.text;
    out += line.ending.empty() ? std::string_view(eol) : line.ending;
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i == keyLine) {
      out += entry;
      out += lines[i].ending.empty() ? std::string_view(eol) : lines[i].ending;
      continue;
    }
    emit(lines[i]);
    if (keyLine == lines.size() && i == lastContent) out += entry + eol;
  }
  if (sectionLine == lines.size()) {
    if (!out.empty() && !Trim(lines.back().text).empty()) out += eol;
    out += "[" + std::string(section) + "]" + eol + entry + eol;
  }
  return out;
}

bool WriteIniEntry(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value, std::string* error) {
  std::string text;
  mode_t mode = 0644;
  int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (in >= 0) {
    struct stat st {};
    if (fstat(in, &st) == 0) mode = st.st_mode & 07777;
    char buffer[4096];
    for (;;) {
      ssize_t n = read(in, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
      if (text.size() > (1u << 20)) {
        close(in);
        *error = path + " is larger than 1 MiB; not an INI file";
        return false;
      }
    }
    close(in);
  } else if (errno != ENOENT) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }

  std::string out = SetIniEntry(text, section, key, value);
  std::string temp = path + ".q7m-sim.tmp";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) {
    *error = "cannot write " + temp + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = write(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == out.size() && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace q7msim
