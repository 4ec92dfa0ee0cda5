#include "detect/HelperReport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using detect::HelperReportReader;
using Paths = std::vector<std::string>;

TEST(HelperReport, RecordsReadBackInPiecesOfAnySize) {
    const std::string stream = detect::WindowRecord(0x2004A) +
                               detect::ModuleRecord("Z:\\spy\\a b.dll") +
                               detect::KeyRecord(0x100, 0x41, 0xC01E0001) +
                               detect::ModuleRecord("C:\\windows\\syswow64\\USER32.dll") +
                               detect::EndRecord() + detect::ModuleRecord("Z:\\next.dll");
    for (size_t piece : {size_t{1}, size_t{3}, stream.size()}) {
        SCOPED_TRACE(piece);
        HelperReportReader reader;
        Paths modules = {"stale"};
        EXPECT_FALSE(reader.TakeModules(modules));
        for (size_t at = 0; at < stream.size(); at += piece)
            ASSERT_TRUE(reader.Feed(stream.data() + at, std::min(piece, stream.size() - at)));
        EXPECT_EQ(reader.Window(), 0x2004Au);
        ASSERT_TRUE(reader.TakeModules(modules));
        EXPECT_EQ(modules, (Paths{"Z:\\spy\\a b.dll", "C:\\windows\\syswow64\\USER32.dll"}));
        // The list after it is not complete yet.
        EXPECT_FALSE(reader.TakeModules(modules));
        const auto keys = reader.TakeKeys();
        ASSERT_EQ(keys.size(), 1u);
        EXPECT_EQ(keys[0].message, 0x100u);
        EXPECT_EQ(keys[0].wParam, 0x41u);
        EXPECT_EQ(keys[0].lParam, 0xC01E0001u);
        EXPECT_TRUE(reader.TakeKeys().empty());
    }
}

TEST(HelperReport, AnythingElseIsRefused) {
    const std::string tooLong = "M " + std::string(HelperReportReader::kMaxLine, 'x') + "\n";
    for (const std::string& bad :
         {std::string("X y\n"), std::string("W \n"), std::string("W 12G\n"), std::string("W -1\n"),
          std::string("W 11112222333344445\n"), std::string("K 100 41\n"),
          std::string("K 100000000 41 1\n"), std::string("M a\tb\n"), std::string("E \n"),
          std::string("M\n"), tooLong}) {
        HelperReportReader reader;
        EXPECT_FALSE(reader.Feed(bad.data(), bad.size())) << bad.substr(0, 20);
    }
    // Too many modules in one list.
    HelperReportReader reader;
    const std::string one = detect::ModuleRecord("Z:\\m.dll");
    bool refused = false;
    for (size_t i = 0; i <= HelperReportReader::kMaxModules && !refused; ++i)
        refused = !reader.Feed(one.data(), one.size());
    EXPECT_TRUE(refused);
}

} // namespace
