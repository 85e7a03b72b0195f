// Where the running program and a library live, for INI search and the
// $EXEPATH / $DLLPATH macros.
#pragma once

#include <string>

namespace q7m {

// Full path of the module containing `anchor` (null: the executable); ""
// when it cannot be found.
std::string ModuleFilePath(const void* anchor);
// Its directory, ending with '/' ("" when unknown).
std::string ModuleDirectory(const void* anchor);
// Its base name: libPDLNK.so -> PDLNK, /opt/bin/rigtool -> rigtool.
std::string ModuleBaseName(const void* anchor);
// The full path of `path` (relative to the current directory); "" on
// failure.
std::string FullPathOf(const std::string& path);
// The current directory ("" on failure).
std::string CurrentDirectory();

}  // namespace q7m
