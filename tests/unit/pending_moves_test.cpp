#include "neutralise/PendingMoves.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using neutralise::JoinMultiString;
using neutralise::SplitMultiString;
using neutralise::TakeOutPendingMove;
using Names = std::vector<std::string>;

TEST(PendingMoves, TheListKeepsADeletionsEmptyTarget) {
    // Z:\a deleted, Z:\b onto Z:\c: the empty target stands inside the list.
    const std::string data("\\??\\Z:\\a\0\0\\??\\Z:\\b\0!\\??\\Z:\\c\0\0", 30);
    const Names names = {"\\??\\Z:\\a", "", "\\??\\Z:\\b", "!\\??\\Z:\\c"};
    EXPECT_EQ(SplitMultiString(data), names);
    EXPECT_EQ(JoinMultiString(names), data);
    // Without its closing NUL, or its last one, the list reads the same.
    EXPECT_EQ(SplitMultiString(data.substr(0, 29)), names);
    EXPECT_EQ(SplitMultiString(data.substr(0, 28)), names);
    EXPECT_EQ(SplitMultiString(std::string()), Names());
}

TEST(PendingMoves, OnlyThatMoveIsTakenOut) {
    const std::string dll = "Z:\\Spy\\Hook.dll", disabled = "Z:\\Spy\\Hook.dl_";
    const Names others = {"\\??\\Z:\\spy\\hook.dll", "",                        // a deletion
                          "\\??\\Z:\\spy\\hook.dl_", "\\??\\Z:\\spy\\hook.dll", // the other way
                          "\\??\\Z:\\spy\\hook.dll", "\\??\\Z:\\spy\\other.dl_"};
    for (const char* target : {"\\??\\z:\\spy\\hook.dl_", "!\\??\\Z:\\SPY\\HOOK.DL_"}) {
        Names names = others;
        names.insert(names.begin() + 2, {"\\??\\Z:\\spy\\hook.dll", target});
        EXPECT_TRUE(TakeOutPendingMove(names, dll, disabled)) << target;
        EXPECT_EQ(names, others);
    }
    Names names = others;
    EXPECT_FALSE(TakeOutPendingMove(names, dll, disabled));
    EXPECT_EQ(names, others);
    // A name that stands as a target is never read as a source.
    names = {"\\??\\Z:\\x", "\\??\\Z:\\spy\\hook.dll", "\\??\\Z:\\spy\\hook.dl_", "\\??\\Z:\\y"};
    EXPECT_FALSE(TakeOutPendingMove(names, dll, disabled));
}

} // namespace
