// The real program with list files that anyone may have made hostile: it starts, shows what
// the reading rules give, and a later save writes back exactly what it holds.
#include "tests/e2e/session.h"

#include "neutralise/Commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

using namespace testing_support;

using BadInput = KeyloggerSession;

std::string SavedText(std::vector<std::string> keys) {
    std::sort(keys.begin(), keys.end());
    std::string text;
    for (const auto& key : keys)
        text += key + "\r\n";
    return text;
}

TEST_F(BadInput, HostileListFilesAreShownAndSavedBackAsRead) {
    // Binary bytes, a NUL byte inside a line, a 1 MB line, a Ctrl-Z that ends the text.
    const std::vector<std::string> blockedKeys = {"C:\\bin\\\x01\xFF\x80.dll",
                                                  std::string("C:\\nul\\a\0b.dll", 14),
                                                  std::string(1 << 20, 'x'), "C:\\z\\before"};
    const std::string blocked = blockedKeys[0] + "\r\n" + blockedKeys[1] + "\n" + blockedKeys[2] +
                                "\r\n" + blockedKeys[3] + "\x1A" + "after\r\nC:\\late.dll\r\n";
    // 100 000 lines; their folder sorts them below the keylogger's row.
    const int kAllowed = 100000;
    std::vector<std::string> allowedKeys;
    std::string allowed;
    char line[32];
    for (int i = 0; i < kAllowed; ++i) {
        std::snprintf(line, sizeof(line), "C:\\zz\\f%06d.dll", i);
        allowedKeys.push_back(line);
        allowed += allowedKeys.back() + "\r\n";
    }
    WriteLists(blocked, allowed);
    const std::string hook = PlantHook("kbhook_plain.dll", "hook.dll", 40);
    Launch();

    // The remembered rows and the keylogger's, near the top of the list.
    const int expected = kAllowed + static_cast<int>(blockedKeys.size()) + 1;
    int row = -1;
    std::string path;
    ASSERT_TRUE(WaitFor(
        [&] {
            if (::SendMessageA(List(), LVM_GETITEMCOUNT, 0, 0) != expected)
                return false;
            const auto top = ReadRows(List(), 4, 0, 8);
            for (size_t i = 0; i < top.size(); ++i) {
                if (SamePath(top[i].texts[0], hook) && top[i].texts[1] == " Attivo") {
                    row = static_cast<int>(i);
                    path = top[i].texts[0];
                }
            }
            return row >= 0;
        },
        180000));

    // Disable it: the save writes back every key as the program read it, and the new one.
    ASSERT_TRUE(ClickRow(List(), row));
    ASSERT_TRUE(WaitFor([&] { return ::SendMessageA(List(), LVM_GETSELECTIONMARK, 0, 0) == row; }));
    const auto selected = ReadRows(List(), 4, row, 1);
    ASSERT_EQ(selected.size(), 1u);
    ASSERT_EQ(selected[0].texts[0], path);
    const FileStamp allowedBefore = Stamp(folder.Path() + "leciti.txt");
    PostClick(program->Control(IDC_DISABLE));
    HWND box = WaitForBox(neutralise::kAlertCaption);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), neutralise::kRestartQuestion);
    ASSERT_TRUE(Answer(box, IDNO));
    std::vector<std::string> nowBlocked = blockedKeys;
    nowBlocked.push_back(path);
    const std::string blockedText = SavedText(nowBlocked);
    // The files are read only once written: leciti.txt anew, bloccati.txt at its new length.
    ASSERT_TRUE(WaitFor(
        [&] { return Stamp(folder.Path() + "leciti.txt").written != allowedBefore.written; },
        60000));
    EXPECT_TRUE(WaitForListFile("bloccati.txt", blockedText));
    EXPECT_TRUE(ListFile("leciti.txt") == SavedText(allowedKeys));

    // The program still answers and ends as usual.
    Quit();
}

} // namespace
