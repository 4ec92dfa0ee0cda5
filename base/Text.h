// Small text helpers for paths and names. Portable: no Win32 types.
#pragma once

#include <string>

namespace base {

// The application's title: the executable's file name without its extension, as the
// caption of the program's own message boxes ("C:\x\Snoopsweep.exe" gives "Snoopsweep").
std::string TitleFromModulePath(const std::string& modulePath);

// The text after the last backslash, or the whole text when it holds none.
std::string FileNameOf(const std::string& path);

// The text up to and including the last backslash; empty when there is none.
std::string DirectoryOf(const std::string& path);

// Lower-cases ASCII letters only, byte by byte, leaving other code-page bytes alone.
std::string ToLowerAscii(std::string text);

} // namespace base
