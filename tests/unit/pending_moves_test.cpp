#include "neutralise/PendingMoves.h"
#include "tests/unit/other_renames.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;
using namespace testing_support;
using neutralise::HoldsNoNames;
using neutralise::TakeOutPendingMoves;

const std::u16string kDll = u"Z:\\Spy\\Hook.dll", kDisabled = u"Z:\\Spy\\Hook.dl_";
// The program's own move, as the system records it.
const std::u16string kOwn = u"\\??\\Z:\\spy\\hook.dll\0\\??\\Z:\\spy\\hook.dl_\0"s;

TEST(PendingMoves, EveryOwnMoveGoesAndEveryOtherUnitStays) {
    struct Case {
        const char* name;
        std::u16string before;
        std::u16string after;
        size_t taken;
    };
    const Case cases[] = {
        {"between others", kPolish + kOwn + kCyrillicDeletion + kChinese + kEnd,
         kPolish + kCyrillicDeletion + kChinese + kEnd, 1},
        {"first and last", kOwn + kChinese + kPolish + kOwn + kEnd, kChinese + kPolish + kEnd, 2},
        {"twice in a row", kCyrillicDeletion + kOwn + kOwn + kPolish + kEnd,
         kCyrillicDeletion + kPolish + kEnd, 2},
        {"after a deletion of the same file", u"\\??\\Z:\\spy\\hook.dll\0\0"s + kOwn + kEnd,
         u"\\??\\Z:\\spy\\hook.dll\0\0"s + kEnd, 1},
        {"marked, unprefixed, in other letter case",
         kPolish + u"\\??\\z:\\SPY\\hook.DLL\0!\\??\\Z:\\Spy\\Hook.dl_\0"s +
             u"Z:\\spy\\hook.dll\0!Z:\\spy\\HOOK.dl_\0"s + kChinese + kEnd,
         kPolish + kChinese + kEnd, 2},
        {"no final NUL", kPolish + kOwn + kChinese, kPolish + kChinese, 1},
        {"last, without its NUL", kPolish + kOwn.substr(0, kOwn.size() - 1), kPolish, 1},
        {"alone", kOwn + kEnd, kEnd, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::u16string list = c.before;
        EXPECT_EQ(TakeOutPendingMoves(list, kDll, kDisabled), c.taken);
        EXPECT_EQ(list, c.after);
    }
    EXPECT_TRUE(HoldsNoNames(kEnd));
    EXPECT_TRUE(HoldsNoNames(u""));
    EXPECT_FALSE(HoldsNoNames(kEnd + kPolish));
}

TEST(PendingMoves, OnlyThatMoveIsTakenOut) {
    const std::u16string others[] = {
        u"\\??\\Z:\\spy\\hook.dll\0\0"s,                            // a deletion
        u"\\??\\Z:\\spy\\hook.dl_\0\\??\\Z:\\spy\\hook.dll\0"s,     // the other way
        u"\\??\\Z:\\spy\\hook.dll\0\\??\\Z:\\spy\\other.dl_\0"s,    // elsewhere
        u"\\??\\Z:\\spy\\hook.dll.bak\0\\??\\Z:\\spy\\hook.dl_\0"s, // a longer name
        // A name that stands as a target is never read as a source.
        u"\\??\\Z:\\x\0\\??\\Z:\\spy\\hook.dll\0\\??\\Z:\\spy\\hook.dl_\0\\??\\Z:\\y\0"s,
        // A source without its target.
        u"\\??\\Z:\\spy\\hook.dll\0"s,
        kEnd,
        u""s,
    };
    for (const std::u16string& other : others) {
        std::u16string list = other;
        EXPECT_EQ(TakeOutPendingMoves(list, kDll, kDisabled), 0u);
        EXPECT_EQ(list, other);
    }
}

} // namespace
