// Path names: the full path of a name (lexically, so it works for files
// that do not exist yet, such as a trace file about to be created), the
// current directory, and whether a name exists.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "q7m/platform_sys.h"
#include "text_out.h"

namespace {

bool CurrentDirectory(std::string* dir) {
  std::string buf(256, '\0');
  for (;;) {
    if (getcwd(buf.data(), buf.size()) != nullptr) {
      buf.resize(std::char_traits<char>::length(buf.c_str()));
      *dir = std::move(buf);
      return true;
    }
    if (errno != ERANGE || buf.size() >= (size_t{1} << 20)) {
      Q7M_SetLastErrorFromErrno();
      return false;
    }
    buf.resize(buf.size() * 2);
  }
}

// "/" joined parts of `path` with "." dropped and ".." taking away the part
// before it (never above the root). A trailing '/' is kept, as Win32 keeps a
// trailing backslash; "a/." and "a/.." end without one, as there.
std::string ResolveLexically(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (std::string_view part : parts) {
    out.push_back('/');
    out.append(part);
  }
  if (out.empty() || path.back() == '/') out.push_back('/');
  return out;
}

}  // namespace

extern "C" {

Q7M_EXPORT uint32_t Q7M_API Q7M_GetFullPathName(const char* path, char* buffer, uint32_t size) {
  if (path == nullptr) {
    Q7M_SetLastError(Q7M_ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (*path == '\0') {
    Q7M_SetLastError(Q7M_ERROR_INVALID_NAME);
    return 0;
  }
  std::string full;
  if (*path == '/') {
    full = ResolveLexically(path);
  } else {
    std::string cwd;
    if (!CurrentDirectory(&cwd)) return 0;
    full = ResolveLexically(cwd + "/" + path);
  }
  return q7m::platform::CopyTextOrNeed(full, buffer, size);
}

Q7M_EXPORT uint32_t Q7M_API Q7M_GetCurrentDirectory(char* buffer, uint32_t size) {
  std::string cwd;
  if (!CurrentDirectory(&cwd)) return 0;
  return q7m::platform::CopyTextOrNeed(cwd, buffer, size);
}

Q7M_EXPORT int Q7M_API Q7M_PathExists(const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  // lstat: the entry itself counts, even a link whose target is gone.
  struct stat st {};
  return lstat(path, &st) == 0 ? 1 : 0;
}

}  // extern "C"
