#include "neutralise/WinInitEdit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using neutralise::AddRename;
using neutralise::RenameEdit;

const std::string kHeader = "[Rename]\r\n";
const std::string kDll = "C:\\PROGRA~1\\SPY\\HOOK.DLL";
const std::string kDisabled = "C:\\PROGRA~1\\SPY\\HOOK.DL_";
// Disable: HOOK.DLL onto HOOK.DL_.
const std::string kLine = kDisabled + "=" + kDll + "\r\n";

struct Edited {
    RenameEdit edit;
    std::string text;
};

// The edit of `old`, with the room after it holding headers: they lie past the old contents,
// so the edit must neither find them nor leave them in the result.
Edited Edit(const std::string& old, const std::string& target, const std::string& source) {
    std::string buffer = old;
    const size_t room = neutralise::RenameRoom(target, source);
    while (buffer.size() < old.size() + room)
        buffer += kHeader;
    const auto result = AddRename(&buffer[0], old.size(), target, source);
    EXPECT_LE(result.size, old.size() + room);
    return {result.edit, buffer.substr(0, result.size)};
}

TEST(WinInitEdit, AnEmptyFileGetsTheHeaderAndTheLine) {
    EXPECT_EQ(neutralise::RenameLine(kDisabled, kDll), kLine);
    EXPECT_EQ(neutralise::RenameRoom(kDisabled, kDll), kLine.size() + 10);
    Edited edited = Edit("", kDisabled, kDll);
    EXPECT_EQ(edited.edit, RenameEdit::HeaderAppended);
    EXPECT_EQ(edited.text, kHeader + kLine);

    // A deletion.
    edited = Edit("", "NUL", kDll);
    EXPECT_EQ(edited.text, kHeader + "NUL=C:\\PROGRA~1\\SPY\\HOOK.DLL\r\n");
}

TEST(WinInitEdit, TheNewestLineStandsDirectlyUnderTheHeader) {
    const std::string before = "[boot]\r\nshell=x\r\n";
    const std::string after = "C:\\A.NEW=C:\\A.OLD\r\nNUL=C:\\B.TMP\r\n[Other]\r\nk=v\r\n";
    const Edited edited = Edit(before + kHeader + after, kDisabled, kDll);
    EXPECT_EQ(edited.edit, RenameEdit::Inserted);
    EXPECT_EQ(edited.text, before + kHeader + kLine + after);

    // x[Rename] at the end of a line is a header too.
    EXPECT_EQ(Edit("x[Rename]\r\nC:\\A=C:\\B\r\n", kDisabled, kDll).text,
              "x[Rename]\r\n" + kLine + "C:\\A=C:\\B\r\n");
    // A NUL byte after the header: the header counts, the bytes after it move along.
    const std::string tail("k=v\r\n\0\0junk", 12);
    EXPECT_EQ(Edit(kHeader + tail, kDisabled, kDll).text, kHeader + kLine + tail);
}

TEST(WinInitEdit, WithoutAnExactHeaderBeforeTheFirstNulOneIsAppended) {
    const std::string nulFirst = std::string("[boot]\r\n\0\r\n", 11) + kHeader + "C:\\A=C:\\B\r\n";
    for (const std::string& old : {
             std::string("[rename]\r\nC:\\A=C:\\B\r\n"), // another case
             std::string("[Rename]\nC:\\A=C:\\B\n"),     // LF alone
             std::string("[Rename] \r\n"),
             std::string("[boot]\r\nshell=x"), // no line break: the header is glued to it
             std::string("[Rename]\r"),        // cut short
             nulFirst,
         }) {
        const Edited edited = Edit(old, kDisabled, kDll);
        EXPECT_EQ(edited.edit, RenameEdit::HeaderAppended) << old;
        EXPECT_EQ(edited.text, old + kHeader + kLine) << old;
    }
}

TEST(WinInitEdit, AMoveBackTakesOutThePendingMoveInstead) {
    // Disable, then Allow before the restart: nothing is left to do.
    const std::string disabled = Edit("", kDisabled, kDll).text;
    Edited edited = Edit(disabled, kDll, kDisabled);
    EXPECT_EQ(edited.edit, RenameEdit::Cancelled);
    EXPECT_EQ(edited.text, kHeader);

    // Only that line goes; letter case aside, and also when it ends in LF alone.
    const std::string lower = "c:\\progra~1\\spy\\hook.dl_=c:\\progra~1\\spy\\hook.dll";
    for (const std::string& pending : {lower + "\r\n", kDisabled + "=" + kDll + "\n"}) {
        edited = Edit(kHeader + "C:\\A=C:\\B\r\n" + pending + "NUL=C:\\C\r\n", kDll, kDisabled);
        EXPECT_EQ(edited.edit, RenameEdit::Cancelled) << pending;
        EXPECT_EQ(edited.text, kHeader + "C:\\A=C:\\B\r\nNUL=C:\\C\r\n") << pending;
    }
    // A '[' within a line does not end the section.
    EXPECT_EQ(Edit(kHeader + "C:\\[A]=C:\\B\r\n" + kLine, kDll, kDisabled).text,
              kHeader + "C:\\[A]=C:\\B\r\n");
    // The last line, without a line end.
    EXPECT_EQ(Edit(kHeader + "C:\\A=C:\\B\r\n" + lower, kDll, kDisabled).text,
              kHeader + "C:\\A=C:\\B\r\n");
}

TEST(WinInitEdit, OnlyTheExactOppositeInTheSectionIsTakenOut) {
    const std::string allow = kDll + "=" + kDisabled + "\r\n";
    for (const std::string& rest : {
             "[Other]\r\n" + kLine,               // in another section
             std::string("k=v\0\r\n", 6) + kLine, // past the first NUL byte
             "x" + kLine,                         // a longer line
             allow,                               // the same move again
             kDisabled + "=" + kDll + "x\r\n",    // another source
         }) {
        const Edited edited = Edit(kHeader + rest, kDll, kDisabled);
        EXPECT_EQ(edited.edit, RenameEdit::Inserted) << rest;
        EXPECT_EQ(edited.text, kHeader + allow + rest) << rest;
    }
    // A deletion undoes nothing.
    const std::string pending = kHeader + kDll + "=NUL\r\n";
    EXPECT_EQ(Edit(pending, "NUL", kDll).text,
              kHeader + "NUL=" + kDll + "\r\n" + kDll + "=NUL\r\n");
}

TEST(WinInitEdit, TakingOutAMoveThatIsNotPendingChangesNothing) {
    const std::string other = kHeader + "C:\\A=C:\\B\r\n";
    for (const std::string& old : {std::string(), kLine, other, "[rename]\r\n" + kLine}) {
        std::string text = old;
        EXPECT_FALSE(neutralise::TakeOutRename(&text[0], text.size(), kDisabled, kDll)) << old;
        EXPECT_EQ(text, old);
    }
    std::string pending = other + kLine;
    EXPECT_EQ(neutralise::TakeOutRename(&pending[0], pending.size(), kDisabled, kDll),
              other.size());
    EXPECT_EQ(pending.substr(0, other.size()), other);
}

} // namespace
