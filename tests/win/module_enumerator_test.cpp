// The module enumerator against this test program's own process. A loader standing in for
// the system's can hide a library or an entry point, watch EnumProcessModules or make one
// module's name unreadable.
#include "inspect/ModuleEnumerator.h"
#include "tests/support/process.h"
#include "base/Text.h"
#include "ui/WinApp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace testing_support;

using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, LPDWORD);
using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);

template <class To, class From> To FunctionCast(From function) {
    return reinterpret_cast<To>(reinterpret_cast<void (*)()>(function));
}

const DWORD kSelf = ::GetCurrentProcessId();
const char kUnreadable[] = "N/A (error)";

std::string PlainDll() {
    return OwnDirectory() + "inspect_plain.dll";
}

// ---- The stand-in loader: the system's own until told otherwise ----

struct FakeSystem {
    std::set<std::string> hiddenLibraries, hiddenEntries;
    HMODULE unreadable = nullptr;  // GetModuleFileNameExA fails for this module
    std::vector<DWORD> arrayBytes; // the array size of each EnumProcessModules call
    EnumProcessModulesFn enumProcessModules = nullptr;
    GetModuleFileNameExAFn getModuleFileNameExA = nullptr;
};
FakeSystem* g_system = nullptr;

BOOL WINAPI WatchedEnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes,
                                      LPDWORD needed) {
    g_system->arrayBytes.push_back(bytes);
    return g_system->enumProcessModules(process, modules, bytes, needed);
}

DWORD WINAPI SpoiledGetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR path, DWORD size) {
    if (module == g_system->unreadable)
        return 0;
    return g_system->getModuleFileNameExA(process, module, path, size);
}

HMODULE WINAPI FakeLoadLibrary(LPCSTR name) {
    return g_system->hiddenLibraries.count(name) ? nullptr : ::LoadLibraryA(name);
}

FARPROC WINAPI FakeGetProcAddress(HMODULE library, LPCSTR name) {
    const FARPROC real = ::GetProcAddress(library, name);
    const std::string entry = name;
    if (!real || g_system->hiddenEntries.count(entry))
        return nullptr;
    if (entry == "EnumProcessModules") {
        g_system->enumProcessModules = FunctionCast<EnumProcessModulesFn>(real);
        return FunctionCast<FARPROC>(&WatchedEnumProcessModules);
    }
    if (entry == "GetModuleFileNameExA") {
        g_system->getModuleFileNameExA = FunctionCast<GetModuleFileNameExAFn>(real);
        return FunctionCast<FARPROC>(&SpoiledGetModuleFileNameExA);
    }
    return real;
}

class Faked : public ::testing::Test {
protected:
    void SetUp() override {
        g_system = &system;
        if (CModuleEnumerator().GetAvailableModes() != (MODE_PSAPI | MODE_TOOLHELP | MODE_VDM))
            GTEST_SKIP() << "the system itself lacks one of the libraries";
    }
    void TearDown() override { g_system = nullptr; }
    static CModuleEnumerator::Loader Loader() { return {&FakeLoadLibrary, &FakeGetProcAddress}; }

    FakeSystem system;
};

// ---- What the system says, and walks ----

// This process's modules in EnumProcessModules order, asked of the kernel so as to load nothing.
std::vector<HMODULE> ListedBySystem() {
    const auto enumerate = FunctionCast<EnumProcessModulesFn>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "K32EnumProcessModules"));
    std::vector<HMODULE> modules(4096);
    DWORD needed = 0;
    if (!enumerate || !enumerate(::GetCurrentProcess(), modules.data(),
                                 static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed))
        return {};
    modules.resize(needed / sizeof(HMODULE));
    return modules;
}

using Module = std::pair<HMODULE, std::string>;

std::vector<Module> Walk(CModuleEnumerator& enumerator) {
    std::vector<Module> modules;
    ModuleEntry entry;
    for (BOOL more = enumerator.GetFirstModule(kSelf, entry); more && modules.size() < 10000;
         more = enumerator.GetNextModule(kSelf, entry))
        modules.emplace_back(entry.BaseAddress(), entry.Path());
    return modules;
}

std::vector<Module> Sorted(std::vector<Module> modules) {
    std::sort(modules.begin(), modules.end());
    return modules;
}

// ---- Modes ----

bool Exports(const char* library, std::initializer_list<const char*> names) {
    ui::Library module(::LoadLibraryA(library));
    return module && std::all_of(names.begin(), names.end(), [&](const char* name) {
               return ::GetProcAddress(module.get(), name) != nullptr;
           });
}

TEST(ModuleModes, FollowTheSystemToolHelpWinsAndLibrariesAreFreed) {
    int offered = 0;
    if (Exports("PSAPI", {"EnumProcesses", "EnumProcessModules", "GetModuleFileNameExA"}))
        offered |= MODE_PSAPI;
    if (Exports("Kernel32", {"CreateToolhelp32Snapshot", "Process32First", "Process32Next",
                             "Module32First", "Module32Next"}))
        offered |= MODE_TOOLHELP;
    if (offered != 0 && Exports("VDMDBG", {"VDMEnumTaskWOWEx"}))
        offered |= MODE_VDM;
    ASSERT_TRUE(offered & MODE_TOOLHELP);
    const bool vdmdbgLoaded = ::GetModuleHandleA("vdmdbg.dll") != nullptr;
    {
        CModuleEnumerator enumerator;
        EXPECT_EQ(enumerator.GetAvailableModes(), offered);
        EXPECT_EQ(enumerator.GetMode(), MODE_TOOLHELP | (offered & MODE_VDM));
        EXPECT_EQ(enumerator.SetMode(enumerator.GetMode()), enumerator.GetMode());
    }
    EXPECT_EQ(::GetModuleHandleA("vdmdbg.dll") != nullptr, vdmdbgLoaded);
}

TEST_F(Faked, MissingPiecesTakeTheirBitsAway) {
    struct Case {
        std::set<std::string> libraries, entries;
        int available, mode;
    } const cases[] = {
        {{"PSAPI"}, {}, 6, 6},    {{}, {"EnumProcesses"}, 6, 6}, // required, though never called
        {{"Kernel32"}, {}, 5, 5}, {{}, {"Process32Next"}, 5, 5}, // the same
        {{"VDMDBG"}, {}, 3, 2},   {{"PSAPI"}, {"Module32First"}, 0, 0}, // VDMDBG alone gives no bit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.available);
        system.hiddenLibraries = c.libraries;
        system.hiddenEntries = c.entries;
        CModuleEnumerator enumerator(Loader());
        EXPECT_EQ(enumerator.GetAvailableModes(), c.available);
        EXPECT_EQ(enumerator.GetMode(), c.mode);
        EXPECT_EQ(Walk(enumerator).empty(), c.mode == 0);
    }
}

TEST_F(Faked, SetModeTakesOnlyAvailableBits) {
    CModuleEnumerator enumerator(Loader());
    // Which walk ran shows in the calls of EnumProcessModules.
    auto walkAfterSetMode = [&](int mode) {
        system.arrayBytes.clear();
        EXPECT_EQ(enumerator.SetMode(mode), mode);
        if (Walk(enumerator).empty())
            return 0;
        return system.arrayBytes.empty() ? MODE_TOOLHELP : MODE_PSAPI;
    };
    EXPECT_EQ(walkAfterSetMode(1), MODE_PSAPI);
    EXPECT_EQ(walkAfterSetMode(5), MODE_PSAPI);
    EXPECT_EQ(walkAfterSetMode(3), MODE_TOOLHELP);
    EXPECT_EQ(walkAfterSetMode(6), MODE_TOOLHELP);
    EXPECT_EQ(enumerator.SetMode(MODE_VDM), 6);
    EXPECT_EQ(enumerator.SetMode(8), 6);
    EXPECT_EQ(walkAfterSetMode(0), 0);

    system.hiddenLibraries = {"PSAPI"};
    CModuleEnumerator withoutPsapi(Loader());
    EXPECT_EQ(withoutPsapi.SetMode(MODE_PSAPI), 6);
    EXPECT_EQ(withoutPsapi.SetMode(MODE_PSAPI | MODE_TOOLHELP), 6);
    EXPECT_EQ(withoutPsapi.SetMode(MODE_TOOLHELP), MODE_TOOLHELP);
}

// ---- Walks ----

TEST(ModuleWalk, EachWalkReportsEveryModuleOnceThenFalse) {
    CModuleEnumerator enumerator;
    std::vector<Module> walks[2];
    for (int mode : {MODE_PSAPI, MODE_TOOLHELP}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(enumerator.SetMode(mode), mode);
        std::vector<Module>& modules = walks[mode - 1];
        ModuleEntry entry;
        for (BOOL more = enumerator.GetFirstModule(kSelf, entry); more && modules.size() < 10000;
             more = enumerator.GetNextModule(kSelf, entry))
            modules.emplace_back(entry.BaseAddress(), entry.Path());
        for (int i = 0; i < 3; ++i)
            EXPECT_FALSE(enumerator.GetNextModule(kSelf, entry));
        ASSERT_FALSE(modules.empty());
        EXPECT_EQ(Module(entry.BaseAddress(), entry.Path()), modules.back());
        EXPECT_EQ(modules.front().second, ui::ModuleFileName());
    }
    // PSAPI: the system's list in its order, with the loader's paths; tool-help: the same.
    const std::vector<HMODULE> listed = ListedBySystem();
    ASSERT_EQ(walks[0].size(), listed.size());
    for (size_t i = 0; i < listed.size(); ++i)
        EXPECT_EQ(walks[0][i], Module(listed[i], ui::ModuleFileName(listed[i])));
    EXPECT_EQ(Sorted(walks[1]), Sorted(walks[0]));
}

TEST(ModuleWalk, NextBeforeFirstSecondFirstAndUnopenableProcess) {
    for (int mode : {MODE_PSAPI, MODE_TOOLHELP}) {
        SCOPED_TRACE(mode);
        CModuleEnumerator enumerator;
        ASSERT_EQ(enumerator.SetMode(mode), mode);
        ModuleEntry entry;
        EXPECT_FALSE(enumerator.GetNextModule(kSelf, entry));
        EXPECT_STREQ(entry.Path(), "");

        const std::vector<Module> whole = Walk(enumerator);
        ASSERT_TRUE(enumerator.GetFirstModule(kSelf, entry));
        ASSERT_TRUE(enumerator.GetNextModule(kSelf, entry));
        EXPECT_EQ(Walk(enumerator), whole); // started over, not carried on

        // A process that cannot be opened gives nothing, leaves the entry and ends the walk.
        ASSERT_TRUE(enumerator.GetFirstModule(kSelf, entry));
        EXPECT_FALSE(enumerator.GetFirstModule(0xFFFFFFF0, entry));
        EXPECT_FALSE(enumerator.GetNextModule(kSelf, entry));
        EXPECT_EQ(Module(entry.BaseAddress(), entry.Path()), whole.front());
    }
}

TEST_F(Faked, UnreadableNameIsReportedAndTheWalkGoesOn) {
    system.unreadable = ::GetModuleHandleA("kernel32.dll");
    CModuleEnumerator enumerator(Loader());
    ASSERT_EQ(enumerator.SetMode(MODE_PSAPI), MODE_PSAPI);
    const std::vector<Module> modules = Walk(enumerator);
    const std::vector<HMODULE> listed = ListedBySystem();
    ASSERT_EQ(modules.size(), listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        const bool unreadable = listed[i] == system.unreadable;
        EXPECT_EQ(modules[i],
                  Module(listed[i], unreadable ? kUnreadable : ui::ModuleFileName(listed[i])));
    }
    // An address that is no module: the process opens, the name does not come.
    ModuleEntry entry;
    const HMODULE notAModule = reinterpret_cast<HMODULE>(&entry);
    EXPECT_TRUE(enumerator.FillEntryFromHandle(kSelf, notAModule, entry));
    EXPECT_EQ(Module(entry.BaseAddress(), entry.Path()), Module(notAModule, kUnreadable));
}

TEST(ModuleWalk, PathOfMaxPathLengthComesWhole) {
    ScratchFolder folder("inspect-long");
    std::vector<std::string> directories = {folder.Path()};
    while (directories.back().size() < 200) {
        directories.push_back(directories.back() + std::string(40, 'd') + "\\");
        ASSERT_TRUE(::CreateDirectoryA(directories.back().c_str(), nullptr));
    }
    std::string path = directories.back();
    ASSERT_LT(path.size(), static_cast<size_t>(MAX_PATH - 10));
    path += std::string(MAX_PATH - 1 - path.size() - 4, 'm') + ".dll"; // 259 and the NUL
    ASSERT_TRUE(::CopyFileA(PlainDll().c_str(), path.c_str(), FALSE));
    {
        ui::Library module(::LoadLibraryA(path.c_str()));
        ASSERT_TRUE(module);
        CModuleEnumerator enumerator;
        for (int mode : {MODE_PSAPI, MODE_TOOLHELP}) {
            ASSERT_EQ(enumerator.SetMode(mode), mode);
            const std::vector<Module> modules = Walk(enumerator);
            EXPECT_EQ(std::count(modules.begin(), modules.end(), Module(module.get(), path)), 1);
        }
    }
    ::DeleteFileA(path.c_str());
    for (size_t i = directories.size() - 1; i > 0; --i)
        ::RemoveDirectoryA(directories[i].c_str());
}

// ---- Hundreds of modules: copies of a small DLL ----

class ManyModules : public Faked {
protected:
    void LoadUpTo(size_t total) {
        for (size_t now = ListedBySystem().size(); now < total; ++now) {
            const std::string path = folder.Path() + std::to_string(extras.size()) + ".dll";
            ASSERT_TRUE(::CopyFileA(PlainDll().c_str(), path.c_str(), FALSE));
            extras.emplace_back(::LoadLibraryA(path.c_str()));
            ASSERT_TRUE(extras.back()) << path;
        }
        ASSERT_EQ(ListedBySystem().size(), total);
    }

    // A new enumerator lists the modules with arrays of these sizes (in modules); its next
    // walk starts with the last size.
    void ExpectListings(std::vector<DWORD> sizes) {
        for (DWORD& size : sizes)
            size *= sizeof(HMODULE);
        CModuleEnumerator enumerator(Loader());
        ASSERT_EQ(enumerator.SetMode(MODE_PSAPI), MODE_PSAPI);
        ModuleEntry entry;
        system.arrayBytes.clear();
        EXPECT_TRUE(enumerator.GetFirstModule(kSelf, entry));
        EXPECT_EQ(system.arrayBytes, sizes);
        system.arrayBytes.clear();
        EXPECT_TRUE(enumerator.GetFirstModule(kSelf, entry));
        EXPECT_EQ(system.arrayBytes, std::vector<DWORD>{sizes.back()});
    }

    CModuleEnumerator holder; // keeps the enumerator's own libraries, and so the counts, steady
    ScratchFolder folder{"inspect-modules"};
    std::vector<ui::Library> extras; // freed before the folder goes
};

TEST_F(ManyModules, PsapiArrayGrowsBy256AndEveryModuleComesOnce) {
    const size_t natural = ListedBySystem().size();
    ASSERT_LT(natural + 300, 512u);
    ASSERT_NO_FATAL_FAILURE(LoadUpTo(256));
    ExpectListings({256, 512}); // exactly full counts as too small

    ASSERT_NO_FATAL_FAILURE(LoadUpTo(natural + 300));
    ExpectListings({256, 512});
    // A whole PSAPI walk reads every name through the whole module list: seconds at this size,
    // so only this one goes to the end.
    CModuleEnumerator enumerator;
    ASSERT_EQ(enumerator.SetMode(MODE_PSAPI), MODE_PSAPI);
    const std::vector<Module> psapi = Walk(enumerator);
    const std::vector<HMODULE> listed = ListedBySystem();
    ASSERT_EQ(psapi.size(), listed.size());
    for (size_t i = 0; i < listed.size(); ++i)
        ASSERT_EQ(psapi[i], Module(listed[i], ui::ModuleFileName(listed[i]))) << i;
    EXPECT_EQ(std::set<Module>(psapi.begin(), psapi.end()).size(), psapi.size());
    ASSERT_EQ(enumerator.SetMode(MODE_TOOLHELP), MODE_TOOLHELP);
    EXPECT_EQ(Sorted(Walk(enumerator)), Sorted(psapi));

    ASSERT_NO_FATAL_FAILURE(LoadUpTo(512));
    ExpectListings({256, 512, 768});
}

} // namespace
