// The threat list's row model: columns, status texts, state icons and verdict codes.
// Portable: no Win32 types.
#pragma once

#include <array>

namespace detect {

// Headings of the four columns; "Stato " ends with a blank.
constexpr std::array<const char*, 4> kColumnHeadings = {"Minacce", "Stato ", "Company", "Product"};

// Column widths from the list control's outer width: 15/32, 5/32, 6/32 and 6/32 of it.
std::array<int, 4> ColumnWidths(int listWidth);

// Status texts of column 1, blanks included.
constexpr const char kStatusDetected[] = " Attivo";
constexpr const char kStatusDetectedBlocked[] = " Attivo & Bloccato  ";
constexpr const char kStatusDetectedAllowed[] = " Attivo & Lecito ";
constexpr const char kStatusBlocked[] = "Bloccato  ";
constexpr const char kStatusAllowed[] = " Lecito";

// Indices of the state icons in the list's image list.
enum StateImage : int {
    kImageDetected = 0,
    kImageBlocked = 1,
    kImageAllowed = 2,
    kImageDetectedBlocked = 3,
    kImageDetectedAllowed = 4,
};

// A row's item data: its verdict code.
enum VerdictCode : long {
    kCodeNone = 0,
    kCodeBlocked = 1,
    kCodeAllowed = 2,
};

} // namespace detect
