// The renames that the system of the NT family carries out at its next start, as it keeps
// them: a list of names in pairs, the source first, then the target, each an NT path
// ("\??\C:\spy\hook.dll"), the target marked with a leading '!' when it may replace a file,
// and empty for a deletion. The list holds other programs' renames too, in UTF-16, and is
// edited as such so that theirs stay exactly as they were. Portable: no Win32 types.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace neutralise {

// Takes every pending move of `source` onto `target` (paths as the program names them, ASCII
// letter case aside) out of `list`: the list's UTF-16 units as stored, names each ended by a
// NUL, the list by one NUL more (a last name without its NUL counts, and empty names inside
// the list are deletions' targets). Only the units of those pairs go; everything else stays
// as it was, in its order, down to a missing final NUL. Returns how many pairs were taken out.
size_t TakeOutPendingMoves(std::u16string& list, std::u16string_view source,
                           std::u16string_view target);

// True when `list` names nothing: it is empty or holds NULs only.
bool HoldsNoNames(std::u16string_view list);

} // namespace neutralise
