// The x64 program sees the hooks of 32-bit keyloggers through its helper of 32 bits: both
// bitnesses in one window, the helper's faults, and the helper gone with the program.
#include "tests/e2e/session.h"

#include "detect/ThreatRows.h"
#include "neutralise/Commands.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

#ifdef _WIN64

// The helpers that the program `parent` started, running now.
std::vector<DWORD> Helpers(DWORD parent) {
    std::vector<DWORD> found;
    ui::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && ::Process32First(snapshot.get(), &entry); more;
         more = ::Process32Next(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parent &&
            base::ToLowerAscii(entry.szExeFile) == "snoopsweephelper32.exe")
            found.push_back(entry.th32ProcessID);
    }
    return found;
}

// Whether the process `pid`, of either bitness, has the module at `path` loaded.
bool HasModule(DWORD pid, const std::string& path) {
    ui::Handle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    HMODULE modules[1024];
    DWORD bytes = 0;
    if (!process ||
        !::EnumProcessModulesEx(process.get(), modules, sizeof(modules), &bytes, LIST_MODULES_ALL))
        return false;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 1024; ++i) {
        char name[MAX_PATH] = {};
        if (::GetModuleFileNameExA(process.get(), modules[i], name, MAX_PATH) &&
            base::ToLowerAscii(name) == base::ToLowerAscii(path))
            return true;
    }
    return false;
}

class Helper32 : public KeyloggerSession {
protected:
    // A 32-bit keylogger: the x86 build's hook DLL under `name`, hooked in by the x86
    // installer as a keyboard hook.
    std::string PlantHook32(const std::string& name) {
        const std::string path = spies.Path() + name;
        EXPECT_TRUE(::CopyFileA((X86Fixtures() + "kbhook_plain.dll").c_str(), path.c_str(), FALSE))
            << X86Fixtures() << " (the x86 build's fixtures)";
        EXPECT_TRUE(AgeFile(path, 40));
        keyloggers.push_back(std::make_unique<TestKeylogger>(X86Fixtures()));
        EXPECT_TRUE(keyloggers.back()->Install(path)) << path;
        return path;
    }
};

TEST_F(Helper32, BothBitnessesInOneWindowAndTheHelperEndsWithTheProgram) {
    ASSERT_FALSE(BuiltHelper().empty());
    // In chains of their own: a keyboard hook of one bitness would keep the other's out.
    const std::string hook64 = spies.Path() + "hook64.dll";
    ASSERT_TRUE(::CopyFileA(FixtureDll("kbhook_plain.dll").c_str(), hook64.c_str(), FALSE));
    ASSERT_TRUE(AgeFile(hook64, 40));
    keyloggers.push_back(std::make_unique<TestKeylogger>());
    ASSERT_TRUE(keyloggers.back()->Install(hook64, true));
    const std::string hook32 = PlantHook32("hook32.dll");
    Launch();
    RemoteRow row;
    ASSERT_TRUE(WaitForRow(hook64, " Attivo", nullptr));
    ASSERT_TRUE(WaitForRow(hook32, " Attivo", &row, 0));
    const std::string path = row.texts[0];
    EXPECT_EQ(Rows().size(), 2u);
    ASSERT_EQ(Helpers(program->Process().Pid()).size(), 1u);
    // The dialog stayed the active window with its focus all along.
    EXPECT_EQ(::GetForegroundWindow(), program->Dialog());

    // The 32-bit row is disabled and allowed like any other.
    ASSERT_TRUE(Select(path));
    PostClick(program->Control(IDC_DISABLE));
    HWND box = WaitForBox(neutralise::kAlertCaption);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(Answer(box, IDNO));
    EXPECT_TRUE(WaitForListFile("bloccati.txt", path + "\r\n"));
    EXPECT_TRUE(FileExists(hook32.substr(0, hook32.size() - 1) + "_"));
    PostClick(program->Control(IDC_ALLOW));
    box = WaitForBox(neutralise::kAlertCaption);
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(Answer(box, IDNO));
    EXPECT_TRUE(WaitForListFile("leciti.txt", path + "\r\n"));
    EXPECT_TRUE(FileExists(hook32));

    // The helper ended from outside: the next one sees a 32-bit hook planted since.
    for (DWORD pid : Helpers(program->Process().Pid())) {
        ui::Handle helper(::OpenProcess(PROCESS_TERMINATE, FALSE, pid));
        ASSERT_TRUE(helper && ::TerminateProcess(helper.get(), 9));
    }
    const std::string later = PlantHook32("later32.dll");
    EXPECT_TRUE(WaitForRow(later, " Attivo", nullptr));

    // The program ended from outside: its helper goes with it.
    const DWORD pid = program->Process().Pid();
    ASSERT_EQ(Helpers(pid).size(), 1u);
    program->Process().Terminate();
    EXPECT_TRUE(WaitFor([&] { return Helpers(pid).empty(); }));
}

TEST_F(Helper32, WithoutTheHelperTheProgramGoesOnWithItsOwnBitness) {
    const std::string hook = PlantHook("kbhook_plain.dll", "hook.dll", 40);
    Launch(false);
    ASSERT_TRUE(WaitForRow(hook, " Attivo", nullptr));
    EXPECT_TRUE(Helpers(program->Process().Pid()).empty());
    EXPECT_EQ(Rows().size(), 1u);
}

// Keyloggers of 32 bits without a DLL, and a 32-bit process in the box of who is behind a row.
TEST_F(Helper32, TheProbesAndTheBoxReachThe32BitSide) {
    // Named by its program across bitnesses.
    const std::string spyKey = detect::NamedKey(
        StartSpyAt("low-level-hook", "spy32", 0, X86Fixtures()), detect::kLowLevelHookKey);
    const std::string hook32 = PlantHook32("spy32.dll");
    // A 32-bit program that reads keys takes the DLL in.
    ChildProcess reader;
    ASSERT_TRUE(reader.Start(X86Fixtures() + "key_reader.exe"));
    ASSERT_TRUE(WaitFor([&] {
        ::keybd_event(VK_F11, 0, 0, 0);
        ::keybd_event(VK_F11, 0, KEYEVENTF_KEYUP, 0);
        return HasModule(reader.Pid(), hook32);
    }));
    Launch();
    RemoteRow row;
    ASSERT_TRUE(WaitForRow(spyKey, " Attivo", nullptr, 0));
    ASSERT_TRUE(WaitForRow(hook32, " Attivo", &row));
    const auto rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].texts[0] != row.texts[0])
            continue;
        ASSERT_TRUE(ClickRow(List(), static_cast<int>(i), true));
        HWND box = WaitForBox("Snoopsweep");
        ASSERT_NE(box, nullptr);
        const std::string text = base::ToLowerAscii(MessageBoxText(box));
        EXPECT_NE(text.find("\n  key_reader.exe (pid " + std::to_string(reader.Pid()) + ")\n"),
                  std::string::npos)
            << text;
        EXPECT_TRUE(Answer(box, IDOK));
    }
    reader.Terminate();
}

#endif

} // namespace
