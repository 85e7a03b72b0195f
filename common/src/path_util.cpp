#include "q7m/common/path_util.h"

#include <algorithm>

#include "q7m/platform_sys.h"

namespace q7m {

namespace {

size_t LastSeparator(const std::string& path) {
  return path.find_last_of("/\\");
}

}  // namespace

bool IsPathSeparator(char c) {
  return c == '/' || c == '\\';
}

std::string PathBaseName(const std::string& path) {
  std::string file = PathFilePart(path);
  size_t dot = file.rfind('.');
  if (dot != std::string::npos) file.resize(dot);
  return file;
}

std::string PathDirectory(const std::string& path) {
  size_t sep = LastSeparator(path);
  return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

std::string PathFilePart(const std::string& path) {
  size_t sep = LastSeparator(path);
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

bool PathHasExtension(const std::string& path) {
  return path.find('.') != std::string::npos;
}

bool PathHasDirectory(const std::string& path) {
  return std::any_of(path.begin(), path.end(), IsPathSeparator);
}

bool PathExists(const std::string& path) {
  return Q7M_PathExists(path.c_str()) != 0;
}

std::string PathToNative(const std::string& path) {
  std::string native = path;
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

}  // namespace q7m
