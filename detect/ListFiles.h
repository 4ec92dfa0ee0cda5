// Reading and saving the two list files next to the program.
#pragma once

#include "detect/TrustMap.h"

#include <string>

namespace detect {

// What reading a list file gave.
struct ListFileRead {
    enum State { Missing, Read, Unreadable } state = Missing;
    std::string text; // the whole content, when read
};

// Reads a list file whole, sharing it with every other program that has it open (a virus
// scanner, an indexer, a sync client). A file that is not there is Missing; one that is
// there but cannot be opened, or whose read fails part way, is Unreadable.
ListFileRead ReadListFile(const std::string& path);

// The list files as the start found them.
struct LoadedLists {
    ListFilePaths paths;
    // Files that are there but could not be read: the map lacks their verdicts, so this run
    // must never write them.
    bool blockedUnreadable = false;
    bool allowedUnreadable = false;
};

// Fills the map at start: the built-in names and the program's own file name, then the blocked
// list file and the allowed one (a file that cannot be read is passed over without a message).
LoadedLists LoadTrustMap(TrustMap& map, const std::string& executablePath);

// Which of the two files a save writes.
struct ListFileChoice {
    bool blocked = true;
    bool allowed = true;
};

// Rewrites the chosen list files from the map. Each file is written whole to a new file
// beside it first and only then put in place of the old one, so a save that fails (file
// read-only or held open, folder not writable, disk full) leaves the old file as it was.
// Raises a base::FileError naming the list file on failure.
void SaveListFiles(const TrustMap& map, const ListFilePaths& paths, ListFileChoice which = {});

// What the user is told, once, of a list file that the start could not read and that this
// run therefore leaves as it is.
std::string UnreadableListText(const std::string& path);

} // namespace detect
