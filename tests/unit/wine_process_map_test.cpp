#include "detect/WineProcessMap.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using detect::WindowsProcess;
using Pids = std::map<uint32_t, uint32_t>;

// NUL-terminated fields, as /proc's cmdline and environ hold them.
std::string Fields(const std::vector<std::string>& fields) {
    std::string bytes;
    for (const std::string& field : fields)
        bytes += field + '\0';
    return bytes;
}

std::string Io(uint64_t writes) {
    return "rchar: 10\nwchar: 20\nsyscr: 3\nsyscw: " + std::to_string(writes) +
           "\nread_bytes: 0\nwrite_bytes: 0\ncancelled_write_bytes: 0\n";
}

// A made-up /proc: the files' paths tell the folders.
class FakeProc : public detect::ProcFiles {
public:
    std::vector<uint32_t> Numbers(const std::string& folder) override {
        const std::string lead = folder + "/";
        std::set<uint32_t> numbers;
        for (const auto& file : files) {
            if (file.first.compare(0, lead.size(), lead) != 0)
                continue;
            const std::string name =
                file.first.substr(lead.size(), file.first.find('/', lead.size()) - lead.size());
            if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos)
                numbers.insert(static_cast<uint32_t>(std::stoul(name)));
        }
        return {numbers.begin(), numbers.end()};
    }
    bool Read(const std::string& path, std::string& bytes) override {
        ++reads;
        const auto file = files.find(path);
        if (file == files.end())
            return false;
        bytes = file->second;
        return true;
    }

    // A process whose threads are pid, pid + 1, ...; no WINEPREFIX when `prefix` is empty.
    void Process(uint32_t pid, const std::vector<std::string>& argv, const std::string& prefix,
                 uint32_t threads = 1) {
        const std::string at = "/proc/" + std::to_string(pid) + "/";
        files[at + "cmdline"] = Fields(argv);
        files[at + "environ"] =
            Fields(prefix.empty() ? std::vector<std::string>{"HOME=/root"}
                                  : std::vector<std::string>{"HOME=/root", "WINEPREFIX=" + prefix});
        for (uint32_t tid = pid; tid < pid + threads; ++tid)
            files[at + "task/" + std::to_string(tid) + "/io"] = Io(tid * 10);
    }
    void Remove(uint32_t pid) {
        const std::string at = "/proc/" + std::to_string(pid) + "/";
        for (auto file = files.lower_bound(at);
             file != files.end() && file->first.compare(0, at.size(), at) == 0;)
            file = files.erase(file);
    }

    std::map<std::string, std::string> files;
    int reads = 0;
};

constexpr char kOwn[] = "/home/u/.wine-a";
constexpr char kOther[] = "/home/u/.wine-b";
constexpr char kNotepad[] = "C:\\windows\\system32\\notepad.exe";

TEST(WineProcessMap, FindsTheOwnPrefixsProcessesByProgramThenThreads) {
    FakeProc proc;
    proc.Process(100, {kNotepad}, kOther);
    proc.Process(200, {"C:\\WINDOWS\\system32\\NOTEPAD.EXE"}, kOwn, 3);
    proc.Process(210, {kNotepad, "a.txt"}, kOwn);
    proc.Process(220, {"start.exe", "/exec", "Z:\\spy\\spy.exe"}, kOwn);
    proc.Process(230, {"Z:\\spy\\spy.exe", "-quiet"}, kOwn, 2);
    proc.Process(235, {"Z:\\old\\winemine.exe"}, kOwn); // not listed on the Windows side
    proc.Process(240, {"C:\\windows\\system32\\winemine.exe"}, kOwn);
    proc.Process(250, {"/usr/lib/wine/wineserver64", "-p0"}, kOwn);
    proc.Process(300, {"Z:\\only\\elsewhere.exe"}, kOther);
    proc.Process(400, {"Z:\\twin.exe"}, kOwn, 2);
    proc.Process(410, {"Z:\\twin.exe"}, kOwn, 2);
    proc.files["/proc/2/cmdline"] = "";
    proc.files["/proc/2/environ"] = "";
    const std::vector<WindowsProcess> windows = {
        {0x20, kNotepad, 1},
        {0x24, kNotepad, 3},
        {0x30, "Z:\\spy\\spy.exe", 2},
        {0x34, "C:\\windows\\syswow64\\start.exe", 1},
        {0x38, "C:\\windows\\syswow64\\winemine.exe", 1},
        {0x40, "Z:\\only\\elsewhere.exe", 1},
        {0x44, "", 1},
        {0x50, "Z:\\twin.exe", 2},
        {0x4C, "Z:\\twin.exe", 2},
    };
    detect::WineProcessMap map(proc, std::string(kOwn) + "/");
    map.Refresh(windows);
    // The thread counts settle the notepads against the pids' order; equal counts pair in
    // ascending order; the start.exe that started spy.exe is start.exe.
    EXPECT_EQ(map.Pids(), (Pids{{0x20, 210},
                                {0x24, 200},
                                {0x30, 230},
                                {0x34, 220},
                                {0x38, 240},
                                {0x4C, 400},
                                {0x50, 410}}));

    // With its program gone, spy.exe is not found in the start.exe that named it.
    proc.Remove(230);
    map.Refresh(windows);
    EXPECT_EQ(map.Pids().count(0x30), 0u);
    EXPECT_EQ(map.Pids().at(0x34), 220u);
}

TEST(WineProcessMap, ReadsTheProgramPastAnEmulatorAndWinesLoader) {
    using detect::ProgramOf;
    EXPECT_EQ(ProgramOf(Fields({"Z:\\a.exe", "-x"})), "Z:\\a.exe");
    EXPECT_EQ(ProgramOf(Fields({"/usr/bin/qemu-i386", "/usr/lib/wine/wine", "C:\\b.exe", "1"})),
              "C:\\b.exe");
    EXPECT_EQ(ProgramOf(Fields({"/usr/bin/qemu-i386-static", "C:\\c.exe"})), "C:\\c.exe");
    // An interpreter of binfmt_misc by another name, with the loader after it.
    EXPECT_EQ(ProgramOf(Fields(
                  {"/usr/libexec/i386-binfmt-P", "/opt/wine/bin/wine-preloader", "C:\\d.exe"})),
              "C:\\d.exe");
    EXPECT_EQ(ProgramOf(Fields({"/usr/bin/qemu-i386"})), "");
    EXPECT_EQ(ProgramOf(""), "");
    EXPECT_EQ(ProgramOf(std::string("qemu-i386\0wine64", 16)), "");

    // Under the emulator: a 32-bit system program, started by Wine; a program typed in a shell
    // (`wine spia.exe`), named as typed; beside it the start.exe that a shell's `wine` left to
    // start a 64-bit program, named the same; and that 64-bit program. The emulator adds a
    // thread of its own to each.
    FakeProc proc;
    proc.Process(500, {"/usr/bin/qemu-i386", "/usr/lib/wine/wine", kNotepad}, kOwn, 3);
    proc.Process(505, {"/usr/bin/qemu-i386", "/usr/lib/wine/wine", kNotepad}, kOwn, 2);
    proc.Process(510, {"/usr/bin/qemu-i386", "/usr/lib/wine/wine", "spia.exe", "raw-input"}, kOwn,
                 2);
    proc.files["/proc/510/comm"] = "start.exe\n";
    proc.Process(520, {"/usr/bin/qemu-i386", "/usr/lib/wine/wine", "spia.exe", "raw-input"}, kOwn,
                 2);
    proc.files["/proc/520/comm"] = "spia.exe\n";
    proc.Process(530, {"Z:\\tmp\\m64\\spia.exe", "raw-input"}, kOwn);
    proc.Process(540, {"/usr/bin/qemu-i386", "/usr/lib/wine/wine", "/opt/a-long-program-name.exe"},
                 kOwn, 2);
    proc.files["/proc/540/comm"] = "a-long-program-\n";
    proc.Process(550, {"/usr/bin/qemu-i386", "/bin/sh", "-c", "wine notepad.exe"}, kOwn);
    detect::WineProcessMap map(proc, kOwn);
    map.Refresh({{0x10, "C:\\windows\\syswow64\\notepad.exe", 1},
                 {0x14, "C:\\windows\\syswow64\\notepad.exe", 2},
                 {0x18, "Z:\\tmp\\m32\\spia.exe", 1},
                 {0x1C, "C:\\windows\\syswow64\\start.exe", 1},
                 {0x20, "Z:\\tmp\\m64\\spia.exe", 1},
                 {0x24, "Z:\\opt\\A-Long-Program-Name.exe", 1}});
    EXPECT_EQ(map.Pids(),
              (Pids{{0x10, 505}, {0x14, 500}, {0x18, 520}, {0x1C, 510}, {0x20, 530}, {0x24, 540}}));
}

TEST(WineProcessMap, TheDefaultPrefixHasNoWinePrefix) {
    FakeProc proc;
    proc.Process(100, {"C:\\x.exe"}, kOther);
    proc.Process(110, {"C:\\x.exe"}, "");
    detect::WineProcessMap map(proc, "");
    map.Refresh({{0x10, "C:\\x.exe", 1}});
    EXPECT_EQ(map.Pids(), (Pids{{0x10, 110}}));
}

TEST(WineProcessMap, RemembersWhatTwoRefreshesAgreeOnWhileThePidIsListed) {
    FakeProc proc;
    proc.Process(230, {"Z:\\spy\\spy.exe"}, kOwn, 2);
    proc.Process(500, {"Z:\\spy\\spy.exe"}, kOwn); // spy.exe's child before its exec
    proc.Process(600, {"/bin/bash"}, "");
    const std::vector<WindowsProcess> windows = {{0x30, "Z:\\spy\\spy.exe", 2},
                                                 {0x60, "Z:\\spy\\child.exe", 1}};
    detect::WineProcessMap map(proc, kOwn);
    map.Refresh(windows);
    EXPECT_EQ(map.Pids(), (Pids{{0x30, 230}}));
    EXPECT_EQ(proc.reads, 7); // three of each of ours, the environment of the other

    proc.Process(500, {"Z:\\spy\\child.exe"}, kOwn);
    map.Refresh(windows);
    EXPECT_EQ(map.Pids(), (Pids{{0x30, 230}, {0x60, 500}}));
    map.Refresh(windows);
    proc.reads = 0;
    map.Refresh(windows);
    EXPECT_EQ(proc.reads, 0);
    EXPECT_EQ(map.Pids(), (Pids{{0x30, 230}, {0x60, 500}}));

    // A process that ends is forgotten; one that comes is read.
    proc.Remove(500);
    proc.Process(700, {"Z:\\spy\\child.exe"}, kOwn);
    map.Refresh({{0x30, "Z:\\spy\\spy.exe", 2}, {0x64, "Z:\\spy\\child.exe", 1}});
    EXPECT_EQ(map.Pids(), (Pids{{0x30, 230}, {0x64, 700}}));
    EXPECT_EQ(map.Remembered(), 3u);
}

TEST(WineWakes, ComeFromEachThreadsIoFile) {
    EXPECT_EQ(detect::WriteCalls(Io(123456789012345ULL)), 123456789012345ULL);
    EXPECT_EQ(detect::WriteCalls("syscw:7"), 7u);
    for (const std::string& bad :
         {std::string(""), std::string("syscr: 3\n"), std::string("syscw: \n"),
          std::string("syscw: 12x\n"), std::string("syscw: -1\n"), std::string(" syscw: 1\n"),
          std::string("syscw: 99999999999999999999\n")})
        EXPECT_EQ(detect::WriteCalls(bad), std::nullopt) << bad;

    FakeProc proc;
    proc.Process(40, {"Z:\\a.exe"}, kOwn, 3);
    proc.files["/proc/40/task/41/io"] = "syscw: garbage\n";
    std::vector<detect::ThreadWakes> threads;
    detect::AppendThreadWakes(proc, 0x99, 40, threads);
    ASSERT_EQ(threads.size(), 2u);
    EXPECT_EQ(threads[0].process, 0x99u);
    EXPECT_EQ(threads[0].thread, 40u);
    EXPECT_EQ(threads[0].count, 400u);
    EXPECT_EQ(threads[1].thread, 42u);
    EXPECT_EQ(detect::ReadWakes(proc, 40, 42), 420u);
    proc.Remove(40);
    EXPECT_EQ(detect::ReadWakes(proc, 40, 42), std::nullopt);
    threads.clear();
    detect::AppendThreadWakes(proc, 0x99, 40, threads);
    EXPECT_TRUE(threads.empty());
}

} // namespace
