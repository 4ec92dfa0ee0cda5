#include "detect/ThreatRows.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ThreatColumns, WidthsComeFromTheListWidth) {
    const auto widths = detect::ColumnWidths(586);
    EXPECT_EQ(widths[0], 274);
    EXPECT_EQ(widths[1], 91);
    EXPECT_EQ(widths[2], 109);
    EXPECT_EQ(widths[3], 109);
    for (int width : {0, 1, 31, 32, 100, 587, 1920}) {
        const auto w = detect::ColumnWidths(width);
        EXPECT_LE(w[0] + w[1] + w[2] + w[3], width) << width;
    }
}

TEST(ThreatColumns, TextsKeepTheirBlanks) {
    EXPECT_EQ(std::string(detect::kColumnHeadings[1]), "Stato ");
    EXPECT_EQ(std::string(detect::kStatusDetected), " Attivo");
    EXPECT_EQ(std::string(detect::kStatusDetectedBlocked), " Attivo & Bloccato  ");
    EXPECT_EQ(std::string(detect::kStatusDetectedAllowed), " Attivo & Lecito ");
    EXPECT_EQ(std::string(detect::kStatusBlocked), "Bloccato  ");
    EXPECT_EQ(std::string(detect::kStatusAllowed), " Lecito");
}

} // namespace
