// Path helpers. '/' separates directories; a '\' (as found in names read
// from INI files or the registry) is accepted as a separator too.
#pragma once

#include <string>

namespace q7m {

bool IsPathSeparator(char c);
// Text after the last separator, with the extension cut at the last dot.
std::string PathBaseName(const std::string& path);
// Full path up to and including its last separator ("" when none).
std::string PathDirectory(const std::string& path);
// Text after the last separator, or all of it.
std::string PathFilePart(const std::string& path);
// A dot anywhere in the text.
bool PathHasExtension(const std::string& path);
// A separator anywhere in the text.
bool PathHasDirectory(const std::string& path);
// A directory entry of exactly this name exists.
bool PathExists(const std::string& path);
// Backslashes turned into '/'.
std::string PathToNative(const std::string& path);

}  // namespace q7m
