// The test keyloggers themselves, in this build's bitness: the hook DLLs' version resources,
// making a file look old, and a planted hook that brings its DLL into a process the moment
// one of its threads reads a key.
#include "tests/e2e/keylogger.h"

#include "tests/e2e/fixture/hook_installer.h"
#include "tests/support/remote_ui.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace testing_support;

constexpr double kTicksPerDay = 24.0 * 60 * 60 * 10000000;

ULONGLONG Ticks(const FILETIME& time) {
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    return ticks.QuadPart;
}

// How many days before now the file was created, as a directory listing shows it.
double DaysSinceCreation(const std::string& path) {
    WIN32_FIND_DATAA data;
    ui::FindHandle find(::FindFirstFileA(path.c_str(), &data));
    if (!find)
        return -1;
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<double>(Ticks(now)) - static_cast<double>(Ticks(data.ftCreationTime))) /
           kTicksPerDay;
}

std::vector<char> VersionBlock(const std::string& path) {
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &handle);
    std::vector<char> block(size);
    if (size == 0 || !::GetFileVersionInfoA(path.c_str(), handle, size, block.data()))
        block.clear();
    return block;
}

std::string VersionString(std::vector<char>& block, const std::string& query) {
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueA(block.data(), query.c_str(), &value, &length) || !value)
        return std::string();
    return static_cast<const char*>(value);
}

TEST(HookDlls, CarryTheirVersionResources) {
    EXPECT_TRUE(VersionBlock(FixtureDll("kbhook_plain.dll")).empty());

    std::vector<char> block = VersionBlock(FixtureDll("kbhook_ms.dll"));
    ASSERT_FALSE(block.empty());
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0409);
    EXPECT_EQ(static_cast<const WORD*>(value)[1], 1200);
    EXPECT_EQ(VersionString(block, "\\StringFileInfo\\040904b0\\CompanyName"),
              "MICROSOFT Test Hooks");
    EXPECT_EQ(VersionString(block, "\\StringFileInfo\\040904b0\\ProductName"), "Keyboard probe");
}

TEST(AgeFile, MakesTheFileListAsCreatedThatLongAgo) {
    ScratchFolder folder("kbhook age");
    const std::string copy = folder.Path() + "old hook.dll";
    ASSERT_TRUE(::CopyFileA(FixtureDll("kbhook_plain.dll").c_str(), copy.c_str(), FALSE));

    constexpr double kSlack = 1.0 / 24; // an hour
    ASSERT_TRUE(AgeFile(copy, 40));
    EXPECT_NEAR(DaysSinceCreation(copy), 40, kSlack);
    // Younger again: the time is set, not only ever moved back.
    ASSERT_TRUE(AgeFile(copy, 2));
    EXPECT_NEAR(DaysSinceCreation(copy), 2, kSlack);

    EXPECT_FALSE(AgeFile(folder.Path() + "missing.dll", 40));
}

TEST(TestKeylogger, InstallFailsAtOnceWithoutDllOrHookProcedure) {
    ScratchFolder folder("kbhook missing");
    char system[MAX_PATH] = {};
    ASSERT_GT(::GetSystemDirectoryA(system, MAX_PATH), 0u);
    const struct {
        std::string dll;
        DWORD exitCode;
    } cases[] = {
        {folder.Path() + "missing.dll", hook_installer::kNoLibrary},
        {std::string(system) + "\\version.dll", hook_installer::kNoExport},
    };
    for (const auto& failing : cases) {
        TestKeylogger keylogger;
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_FALSE(keylogger.Install(failing.dll)) << failing.dll;
        EXPECT_LT(::GetTickCount64() - start, kWaitLimitMs / 2) << failing.dll;
        EXPECT_FALSE(keylogger.Installed());
        DWORD code = 0;
        ASSERT_TRUE(keylogger.Installer().WaitForExit(0, &code)) << failing.dll;
        EXPECT_EQ(code, failing.exitCode) << failing.dll;
    }
}

// key_reader.exe, started from the test folder: a window in front whose thread reads keys.
// Hook DLLs go into that process, not this one, so their copies can be deleted afterwards.
class KeyReader {
public:
    bool Start() {
        if (!process_.Start(OwnDirectory() + "key_reader.exe"))
            return false;
        window_ = WaitForWindow(process_.Pid(), "SnoopsweepKeyReader", "Key reader");
        return window_ && WaitFor([this] { return ::GetForegroundWindow() == window_; });
    }
    DWORD Pid() const noexcept { return process_.Pid(); }
    bool Has(const std::string& module) const { return ProcessHasModule(Pid(), module); }

private:
    ChildProcess process_;
    HWND window_ = nullptr;
};

void PressF11() {
    ::keybd_event(VK_F11, 0, 0, 0);
    ::keybd_event(VK_F11, 0, KEYEVENTF_KEYUP, 0);
}

TEST(TestKeylogger, HookBringsItsDllIntoAProcessReadingAKey) {
    ScratchFolder folder("kbhook planted");
    const std::string plain = folder.Path() + "spy hook.dll";
    const std::string ms = folder.Path() + "probe.dll";
    ASSERT_TRUE(::CopyFileA(FixtureDll("kbhook_plain.dll").c_str(), plain.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileA(FixtureDll("kbhook_ms.dll").c_str(), ms.c_str(), FALSE));
    ASSERT_TRUE(AgeFile(plain, 40));

    KeyReader reader;
    ASSERT_TRUE(reader.Start());
    TestKeylogger plainLogger;
    TestKeylogger msLogger;
    ASSERT_TRUE(plainLogger.Install(plain));
    ASSERT_TRUE(msLogger.Install(ms));
    EXPECT_TRUE(plainLogger.Installed());
    ASSERT_TRUE(reader.Has(OwnDirectory() + "key_reader.exe")); // the module walk works
    EXPECT_FALSE(reader.Has(plain));                            // not before a key is read

    PressF11();
    EXPECT_TRUE(WaitFor([&] { return reader.Has(plain) && reader.Has(ms); }))
        << "plain " << reader.Has(plain) << ", ms " << reader.Has(ms);

    // Removing the hook ends its installer, cleanly; the DLL stays where it was loaded.
    const ui::Handle installer(::OpenProcess(SYNCHRONIZE, FALSE, plainLogger.Installer().Pid()));
    ASSERT_TRUE(installer);
    EXPECT_TRUE(plainLogger.Remove());
    EXPECT_EQ(::WaitForSingleObject(installer.get(), 0), WAIT_OBJECT_0);
    EXPECT_FALSE(plainLogger.Installed());
    EXPECT_TRUE(msLogger.Installed());
    EXPECT_TRUE(reader.Has(plain));
}

} // namespace
