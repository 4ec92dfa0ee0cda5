// Keyloggers that load no DLL into the program, found by the real Snoopsweep.exe: a
// low-level hook, a poller of every key, a grabber of every letter and digit; and programs
// that look like them but are harmless.
#include "tests/e2e/session.h"

#include "detect/ThreatRows.h"
#include "detect/Win32ProbePlatform.h"
#include "neutralise/Commands.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using namespace testing_support;

class KeyboardProbes : public KeyloggerSession {
protected:
    void Spy(const std::string& mode) {
        keyloggers.push_back(std::make_unique<TestKeylogger>());
        ASSERT_TRUE(keyloggers.back()->StartSpy(mode)) << mode;
    }
};

struct Case {
    const char* mode;
    const char* key;
};

class EachKeylogger : public KeyboardProbes, public ::testing::WithParamInterface<Case> {};

TEST_P(EachKeylogger, IsListedCannotBeDisabledAndIsAllowedAndRemembered) {
    const std::string key = GetParam().key;
    // A program of a "microsoft" vendor: named, it is trusted, and the kind alone is listed.
    const std::string spy =
        StartSpyAt(GetParam().mode, "trusted", 0, OwnDirectory(), "key_spy_ms.exe");
    Launch();
    RemoteRow row;
    ASSERT_TRUE(WaitForRow(key, " Attivo", &row, 0)) << "not found";
    EXPECT_EQ(row.texts[0], key);
    EXPECT_EQ(row.data, 0);
    EXPECT_EQ(row.texts[2], "");
    EXPECT_EQ(row.texts[3], "");
    EXPECT_EQ(Rows().size(), 1u);

    // The box lists the trusted programs that reacted to the test keys. (The poller's row asks
    // first whether it may pause programs: tests/e2e/named_test.cpp.)
    if (key != detect::kKeyStatePollerKey) {
        const std::string expected = "Programmi che hanno reagito ai tasti di prova:\n  " + spy +
                                     " (pid " +
                                     std::to_string(keyloggers.back()->Installer().Pid()) + ")";
        const std::string text = AskWhoIsBehind(key);
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), expected.size())), expected);
    }

    ASSERT_TRUE(Select(key));
    PostClick(program->Control(IDC_DISABLE));
    HWND box = WaitForBox("Snoopsweep");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), neutralise::kNoFileToDisable);
    EXPECT_EQ(::GetWindow(box, GW_OWNER), program->Dialog());
    EXPECT_EQ(::GetDlgItem(box, IDCANCEL), nullptr);
    ASSERT_TRUE(Answer(box, IDOK));
    EXPECT_FALSE(ListFileExists("bloccati.txt"));
    EXPECT_FALSE(ListFileExists("leciti.txt"));
    EXPECT_EQ(Rows().at(0).data, 0);

    PostClick(program->Control(IDC_ALLOW));
    EXPECT_TRUE(WaitForListFile("leciti.txt", key + "\r\n"));
    EXPECT_EQ(ListFile("bloccati.txt"), "");
    // No rename, so no restart to offer.
    EXPECT_TRUE(
        TopLevelWindows(program->Process().Pid(), "#32770", neutralise::kAlertCaption).empty());
    ASSERT_TRUE(WaitForRow(key, " Attivo & Lecito ", &row, 4));
    EXPECT_EQ(row.data, 2);
    Quit();

    Launch();
    ASSERT_TRUE(WaitForRow(key, " Attivo & Lecito ", &row, 4));
    EXPECT_EQ(Rows().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EachKeylogger,
                         ::testing::Values(Case{"low-level-hook", detect::kLowLevelHookKey},
                                           Case{"poll-all", detect::kKeyStatePollerKey},
                                           Case{"grab-keys", detect::kHotkeyGrabberKey}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return TestNameOfMode(info.param.mode);
                         });

TEST_F(KeyboardProbes, HarmlessReadersOfKeysAreNotListedEvenWithBothCoresBusy) {
    Spy("poll-modifiers");
    Spy("ctrl-alt-hotkeys");
    Spy("busy");
    Spy("busy");
    // A keylogger that loads a DLL shows that the passes ran with the window in front.
    const std::string hook = PlantHook("kbhook_plain.dll", "hook.dll", 40);
    Launch();
    ASSERT_TRUE(WaitForRow(hook, " Attivo", nullptr));
    // Every probe has voted five times and more by then.
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < 12000) {
        ASSERT_EQ(Rows().size(), 1u) << Rows().back().texts[0];
        ::Sleep(200);
    }
}

// A low-level keyboard hook of the test's own, on a thread of its own: it counts the keys that
// the program presses (its F11 and its probes' marked keys) from a moment after a modifier
// went down on, and it is itself a keylogger to find.
class ProgramKeyCounter {
public:
    ProgramKeyCounter() {
        ready_.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        thread_.reset(::CreateThread(nullptr, 0, Main, this, 0, &id_));
        EXPECT_TRUE(thread_ && ::WaitForSingleObject(ready_.get(), 10000) == WAIT_OBJECT_0);
        EXPECT_TRUE(hooked_);
    }
    ~ProgramKeyCounter() {
        ::PostThreadMessageA(id_, WM_QUIT, 0, 0);
        ::WaitForSingleObject(thread_.get(), 10000);
    }
    // Keys of the program's since the modifier went down, a tick in progress then aside.
    int WhileHeld() const { return whileHeld_.load(); }
    int All() const { return all_.load(); }
    bool ModifierSeen() const { return modifierDown_.load() != 0; }

private:
    static DWORD WINAPI Main(void* parameter) {
        auto* self = static_cast<ProgramKeyCounter*>(parameter);
        current_ = self;
        MSG msg;
        ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        ui::Hook hook(::SetWindowsHookExA(WH_KEYBOARD_LL, Count, ::GetModuleHandleA(nullptr), 0));
        self->hooked_ = static_cast<bool>(hook);
        ::SetEvent(self->ready_.get());
        while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        }
        return 0;
    }
    static LRESULT CALLBACK Count(int code, WPARAM wParam, LPARAM lParam) {
        const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        ProgramKeyCounter* self = current_;
        if (code == HC_ACTION && self) {
            const bool modifier = key->vkCode != VK_F11 && key->dwExtraInfo == kTestKeyMark;
            if (modifier && !(key->flags & LLKHF_UP))
                self->modifierDown_.store(::GetTickCount64());
            else if (!modifier &&
                     (key->vkCode == VK_F11 || key->dwExtraInfo == detect::kProbeKeyMark ||
                      key->dwExtraInfo == detect::kChainKeyMark)) {
                ++self->all_;
                const ULONGLONG down = self->modifierDown_.load();
                if (down != 0 && ::GetTickCount64() > down + kGraceMs)
                    ++self->whileHeld_;
            }
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline ProgramKeyCounter* current_ = nullptr;
    ui::Handle ready_;
    ui::Handle thread_;
    DWORD id_ = 0;
    bool hooked_ = false;
    std::atomic<int> all_{0};
    std::atomic<int> whileHeld_{0};
    std::atomic<ULONGLONG> modifierDown_{0}; // when it went down; 0 before

public:
    static constexpr ULONG_PTR kTestKeyMark = 0x54455354;
    // A tick under way when the modifier went down may still finish: under emulation (x86 on
    // a kernel without 32-bit support), and behind low-level hooks that Wine waits for, its
    // keys can pass here well after the modifier's.
    static constexpr ULONGLONG kGraceMs = 2000;
};

// A key the test holds down, as the user would; let go at the latest with the object.
class HeldKey {
public:
    explicit HeldKey(BYTE key) : key_(key) { Press(0); }
    ~HeldKey() { Release(); }
    void Release() {
        if (down_)
            Press(KEYEVENTF_KEYUP);
    }

private:
    void Press(DWORD flags) {
        ::keybd_event(key_, static_cast<BYTE>(::MapVirtualKeyA(key_, MAPVK_VK_TO_VSC)), flags,
                      ProgramKeyCounter::kTestKeyMark);
        down_ = !(flags & KEYEVENTF_KEYUP);
    }
    BYTE key_;
    bool down_ = false;
};

// While the user holds a modifier the program presses no key of its own, which would make a
// shortcut with it; its probes still come to their finding once the modifier is let go.
TEST_F(KeyboardProbes, NoKeyIsPressedWhileAModifierIsHeld) {
    for (BYTE modifier : {VK_LSHIFT, VK_RCONTROL}) {
        SCOPED_TRACE(static_cast<int>(modifier));
        ProgramKeyCounter counter;
        Launch();
        // The program at work in front before the modifier goes down.
        ASSERT_TRUE(WaitFor([&] { return counter.All() > 0; }));
        HeldKey held(modifier);
        ASSERT_TRUE(WaitFor([&] { return counter.ModifierSeen(); }));
        // Four ticks and more after the grace.
        const DWORD start = ::GetTickCount();
        while (::GetTickCount() - start < ProgramKeyCounter::kGraceMs + 4000) {
            ASSERT_EQ(counter.WhileHeld(), 0);
            ::Sleep(100);
        }
        EXPECT_TRUE(Rows().empty());
        EXPECT_EQ(::GetForegroundWindow(), program->Dialog());

        held.Release();
        // The test's own hook: its program named, or the kind alone.
        EXPECT_TRUE(WaitFor([&] {
            for (const auto& row : Rows()) {
                if (row.texts[0] == detect::kLowLevelHookKey || detect::ParseNamedKey(row.texts[0]))
                    return true;
            }
            return false;
        }));
        Quit();
    }
}

} // namespace
