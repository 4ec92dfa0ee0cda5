// Reading and saving the two list files next to the program.
#pragma once

#include "detect/TrustMap.h"

#include <optional>
#include <string>

namespace detect {

// The whole content of a list file, opened for reading without sharing; none when it is
// missing or cannot be opened or read (passed over without a message).
std::optional<std::string> ReadListFile(const std::string& path);

// Fills the map at start: the built-in names and the program's own name, then the blocked
// list file and the allowed one. Returns the two files' paths.
ListFilePaths LoadTrustMap(TrustMap& map, const std::string& executablePath);

// Rewrites both list files from the map. Each file is written whole to a new file beside it
// first and only then put in place of the old one, so a save that fails (file read-only or
// held open, folder not writable, disk full) leaves the old file as it was. Raises a
// base::FileError naming the list file on failure.
void SaveListFiles(const TrustMap& map, const ListFilePaths& paths);

} // namespace detect
