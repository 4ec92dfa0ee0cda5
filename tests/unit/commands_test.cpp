#include "neutralise/Commands.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

using neutralise::Command;
using neutralise::DisabledName;

TEST(DisabledName, ReplacesTheThirdCharacterAfterTheLastDot) {
    EXPECT_EQ(DisabledName("C:\\spy\\hook.dll"), "C:\\spy\\hook.dl_");
    EXPECT_EQ(DisabledName("C:\\spy\\hook.exe"), "C:\\spy\\hook.ex_");
    EXPECT_EQ(DisabledName("C:\\spy\\hook.dlls"), "C:\\spy\\hook.dl_s");
    // The last dot of the whole path, even in a folder name.
    EXPECT_EQ(DisabledName("C:\\tools.new\\hook"), "C:\\tools.ne_\\hook");
    // No dot: the third character.
    EXPECT_EQ(DisabledName("C:\\spy\\hook"), "C:_spy\\hook");
    EXPECT_EQ(DisabledName("abc"), "ab_");
    // A character of the ANSI code page is just a byte.
    EXPECT_EQ(DisabledName("C:\\sp\xE0\\h\xF2.dll"), "C:\\sp\xE0\\h\xF2.dl_");
}

TEST(DisabledName, NoNameWhenThePlaceLiesPastTheEndOrIsDisabledAlready) {
    for (const char* path : {"C:\\spy\\hook.dl", "C:\\spy\\hook.d", "C:\\spy\\hook.", "ab", "",
                             "C:\\x.y\\z.", "a.b", "C:\\spy\\hook.dl_", "C:_spy\\hook"})
        EXPECT_FALSE(DisabledName(path).has_value()) << path;
}

class FakeRows : public detect::ThreatList {
public:
    std::vector<detect::Row> rows;
    int Find(const std::string&) override { return -1; }
    int Insert(const detect::Row& row) override {
        rows.push_back(row);
        return static_cast<int>(rows.size()) - 1;
    }
    void Update(int index, const detect::Row& row) override { rows.at(index) = row; }
    void Clear() override { rows.clear(); }
    void Remove(int index) override { rows.erase(rows.begin() + index); }
};

// Records what the command does, in order.
class FakeHost : public neutralise::CommandHost {
public:
    int mark = 0;
    bool renameWorks = true;
    bool throwOnRename = false;
    bool answerYes = false;
    std::vector<std::string> log;
    FakeRows rows;

    int SelectionMark() override { return mark; }
    long ItemData(int row) override { return rows.rows.at(row).code; }
    std::string RowPath(int row) override { return rows.rows.at(row).path; }
    detect::ThreatList& Rows() override { return rows; }
    detect::VendorNames Vendor(const std::string& path) override {
        log.push_back("vendor " + path);
        return {"ACME Corp", "Spy PRO"};
    }
    bool Rename(const std::string& source, const std::string& target) override {
        log.push_back("rename " + source + " -> " + target);
        if (throwOnRename)
            throw std::runtime_error("file error");
        return renameWorks;
    }
    void ShowRefusal(const std::string& text) override { log.push_back("refuse " + text); }
    bool AskRestart() override {
        log.push_back("ask");
        return answerYes;
    }
    void ShowRenameFailure() override { log.push_back("failure box"); }
    void RestartWindows() override { log.push_back("restart"); }
    void SaveLists() override { log.push_back("save"); }
};

class Commands : public ::testing::Test {
protected:
    Commands() {
        host.rows.Insert(detect::MakeRow(detect::RowState::Detected, "C:\\spy\\hook.dll", "", ""));
    }
    std::string Verdict(const std::string& key) {
        std::string value = "none";
        map.Lookup(key, value);
        return value;
    }
    detect::TrustMap map;
    FakeHost host;
};

TEST_F(Commands, DisableRenamesRecordsUpdatesAsksThenSaves) {
    neutralise::Run(Command::Disable, map, host);
    EXPECT_EQ(host.log, (std::vector<std::string>{"rename C:\\spy\\hook.dll -> C:\\spy\\hook.dl_",
                                                  "vendor C:\\spy\\hook.dll", "ask", "save"}));
    EXPECT_EQ(Verdict("C:\\spy\\hook.dll"), "1");
    const detect::Row& row = host.rows.rows[0];
    EXPECT_EQ(row.path, "C:\\spy\\hook.dll");
    EXPECT_EQ(row.status, "Bloccato  ");
    EXPECT_EQ(row.image, 1);
    EXPECT_EQ(row.code, 1);
    EXPECT_EQ(row.company, "acme corp");
    EXPECT_EQ(row.product, "spy pro");

    // Disable again: refused, nothing else happens.
    host.log.clear();
    neutralise::Run(Command::Disable, map, host);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{std::string("refuse ") + neutralise::kRefusedDisable}));

    // Allow renames back, and a Yes restarts before the lists are saved.
    host.log.clear();
    host.answerYes = true;
    neutralise::Run(Command::Allow, map, host);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{"rename C:\\spy\\hook.dl_ -> C:\\spy\\hook.dll",
                                        "vendor C:\\spy\\hook.dll", "ask", "restart", "save"}));
    EXPECT_EQ(Verdict("C:\\spy\\hook.dll"), "2");
    EXPECT_EQ(host.rows.rows[0].status, " Lecito");
    EXPECT_EQ(host.rows.rows[0].image, 2);
    EXPECT_EQ(host.rows.rows[0].code, 2);

    host.log.clear();
    neutralise::Run(Command::Allow, map, host);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{std::string("refuse ") + neutralise::kRefusedAllow}));
}

TEST_F(Commands, AFailedRenameChangesNothingButStillSaves) {
    host.renameWorks = false;
    const detect::Row before = host.rows.rows[0];
    neutralise::Run(Command::Disable, map, host);
    EXPECT_EQ(host.log, (std::vector<std::string>{"rename C:\\spy\\hook.dll -> C:\\spy\\hook.dl_",
                                                  "failure box", "save"}));
    EXPECT_EQ(Verdict("C:\\spy\\hook.dll"), "none");
    EXPECT_EQ(host.rows.rows[0].status, before.status);
}

TEST_F(Commands, APathWithNoDisabledNameIsNotRenamed) {
    host.rows.rows[0].path = "C:\\spy\\hook.dl";
    neutralise::Run(Command::Allow, map, host);
    EXPECT_EQ(host.log, (std::vector<std::string>{"failure box", "save"}));
    EXPECT_EQ(map.size(), 0u);
}

TEST_F(Commands, NoSelectionDoesNothingAndAFileErrorEndsTheCommand) {
    host.mark = -1;
    neutralise::Run(Command::Disable, map, host);
    neutralise::Run(Command::Allow, map, host);
    EXPECT_TRUE(host.log.empty());

    host.mark = 0;
    host.throwOnRename = true;
    EXPECT_THROW(neutralise::Run(Command::Disable, map, host), std::runtime_error);
    EXPECT_EQ(host.log.size(), 1u); // no box, no save
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(host.rows.rows[0].status, " Attivo");
}

TEST_F(Commands, AFindingWithoutAFileIsAllowedWithoutARenameAndCannotBeDisabled) {
    host.rows.rows[0] =
        detect::MakeRow(detect::RowState::Detected, detect::kLowLevelHookKey, "", "");
    neutralise::Run(Command::Disable, map, host);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{std::string("refuse ") + neutralise::kNoFileToDisable}));
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(host.rows.rows[0].status, " Attivo");

    host.log.clear();
    neutralise::Run(Command::Allow, map, host);
    EXPECT_EQ(host.log, (std::vector<std::string>{"save"}));
    EXPECT_EQ(Verdict(detect::kLowLevelHookKey), "2");
    const detect::Row& row = host.rows.rows[0];
    EXPECT_EQ(row.status, " Lecito");
    EXPECT_EQ(row.image, 2);
    EXPECT_EQ(row.code, 2);
    EXPECT_EQ(row.company, "");

    host.log.clear();
    neutralise::Run(Command::Allow, map, host);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{std::string("refuse ") + neutralise::kRefusedAllow}));
}

TEST_F(Commands, ANamedFindingRenamesItsProgramAndKeepsTheVerdictUnderTheWholeKey) {
    const std::string key = "C:\\Strumenti\\spia.exe [hook di tastiera a basso livello]";
    host.rows.rows[0] = detect::MakeRow(detect::RowState::Detected, key, "", "");
    neutralise::Run(Command::Disable, map, host);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{"rename C:\\Strumenti\\spia.exe -> C:\\Strumenti\\spia.ex_",
                                        "vendor C:\\Strumenti\\spia.exe", "ask", "save"}));
    EXPECT_EQ(Verdict(key), "1");
    EXPECT_EQ(map.size(), 1u);
    const detect::Row& row = host.rows.rows[0];
    EXPECT_EQ(row.path, key);
    EXPECT_EQ(row.status, "Bloccato  ");
    EXPECT_EQ(row.code, 1);
    EXPECT_EQ(row.company, "acme corp");
    EXPECT_EQ(row.product, "spy pro");

    host.log.clear();
    neutralise::Run(Command::Allow, map, host);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{"rename C:\\Strumenti\\spia.ex_ -> C:\\Strumenti\\spia.exe",
                                        "vendor C:\\Strumenti\\spia.exe", "ask", "save"}));
    EXPECT_EQ(Verdict(key), "2");
    EXPECT_EQ(host.rows.rows[0].path, key);
    EXPECT_EQ(host.rows.rows[0].status, " Lecito");
}

TEST_F(Commands, ANamedFindingWhoseProgramHasNoDisabledNameIsNotRenamed) {
    host.rows.rows[0] =
        detect::MakeRow(detect::RowState::Detected,
                        "C:\\Strumenti\\spia.ex_ [tastiera ricevuta come input grezzo]", "", "");
    neutralise::Run(Command::Disable, map, host);
    EXPECT_EQ(host.log, (std::vector<std::string>{"failure box", "save"}));
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(host.rows.rows[0].status, " Attivo");
}

} // namespace
