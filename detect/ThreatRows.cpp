#include "detect/ThreatRows.h"

namespace detect {

std::array<int, 4> ColumnWidths(int listWidth) {
    return {listWidth * 15 / 32, listWidth * 5 / 32, listWidth * 6 / 32, listWidth * 6 / 32};
}

} // namespace detect
