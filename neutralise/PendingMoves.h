// The renames that the system of the NT family carries out at its next start, as it keeps
// them: a list of names in pairs, the source first, then the target, each an NT path
// ("\??\C:\spy\hook.dll"), the target marked with a leading '!' when it may replace a file,
// and empty for a deletion. Portable: no Win32 types.
#pragma once

#include <string>
#include <vector>

namespace neutralise {

// The names of a list of strings each ended by a NUL, the list ended by one NUL more; a last
// name without its NUL counts. Empty names inside the list are kept.
std::vector<std::string> SplitMultiString(const std::string& data);

// The names back as such a list: each ended by a NUL, then one NUL more.
std::string JoinMultiString(const std::vector<std::string>& names);

// Takes the pending move of `source` onto `target` (paths as the program names them, letter
// case aside) out of the list of pairs. True when there was one.
bool TakeOutPendingMove(std::vector<std::string>& names, const std::string& source,
                        const std::string& target);

} // namespace neutralise
