#include "detect/ThreatRows.h"

#include "ui/Text.h"

namespace detect {

std::array<int, 4> ColumnWidths(int listWidth) {
    return {listWidth * 15 / 32, listWidth * 5 / 32, listWidth * 6 / 32, listWidth * 6 / 32};
}

Row MakeRow(RowState state, const std::string& path, const std::string& company,
            const std::string& product) {
    Row row;
    row.path = path;
    row.company = ui::ToLowerAscii(company);
    row.product = ui::ToLowerAscii(product);
    switch (state) {
    case RowState::Detected:
        row.status = kStatusDetected;
        row.image = kImageDetected;
        row.code = kCodeNone;
        break;
    case RowState::DetectedBlocked:
        row.status = kStatusDetectedBlocked;
        row.image = kImageDetectedBlocked;
        row.code = kCodeBlocked;
        break;
    case RowState::DetectedAllowed:
        row.status = kStatusDetectedAllowed;
        row.image = kImageDetectedAllowed;
        row.code = kCodeAllowed;
        break;
    case RowState::Blocked:
        row.status = kStatusBlocked;
        row.image = kImageBlocked;
        row.code = kCodeBlocked;
        break;
    case RowState::Allowed:
        row.status = kStatusAllowed;
        row.image = kImageAllowed;
        row.code = kCodeAllowed;
        break;
    }
    return row;
}

} // namespace detect
