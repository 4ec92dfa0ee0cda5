// The real program with list files and module paths that anyone may have made hostile: it
// starts, shows what the reading rules give, and handles long and odd paths whole.
#include "tests/e2e/session.h"

#include "neutralise/Commands.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using namespace testing_support;

using BadInput = KeyloggerSession;

TEST_F(BadInput, TheProgramStartsWithHostileListFiles) {
    const int kAllowed = 2000;
    std::string blocked = std::string("C:\\bin\\\x01\xFF\x80.dll\r\n") +
                          std::string("C:\\nul\\a\0b.dll\r\n", 17) + std::string(1 << 20, 'x') +
                          "\r\nC:\\z\\before\x1A"
                          "after\r\n";
    std::string allowed;
    char line[32];
    for (int i = 0; i < kAllowed; ++i) {
        std::snprintf(line, sizeof(line), "C:\\dir\\f%06d.dll\r\n", i);
        allowed += line;
    }
    WriteLists(blocked, allowed);
    Launch();
    // Four blocked keys (the Ctrl-Z ends the text after "C:\z\before") and the allowed ones.
    ASSERT_TRUE(WaitFor(
        [&] { return ::SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0) == kAllowed + 4; }, 120000));
    // The program still answers and ends as usual.
    Quit();
}

} // namespace
