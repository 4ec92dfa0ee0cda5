// Under Wine every Windows process is a Linux process and every Windows thread a Linux thread,
// whose wake-ups Linux counts: /proc/<pid>/task/<tid>/io's `syscw` is the number of write
// system calls the thread made, and each request a Wine thread makes to the Wine server is
// one. This file tells which Linux process each Windows process is and reads those counts.
// Portable: the Win32 side (detect/Win32WakeCounters.cpp) reads /proc through Wine's file
// system and lists the Windows processes; the unit tests give it a made-up /proc.
#pragma once

#include "detect/WakeCounters.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace detect {

// The reads of /proc the program makes, by Linux path ("/proc/12/cmdline"). Files there
// report no size and may vanish at any moment with their process.
class ProcFiles {
public:
    virtual ~ProcFiles() = default;
    // The numeric names in a folder ("/proc", "/proc/12/task"), in any order; none when it
    // cannot be listed.
    virtual std::vector<uint32_t> Numbers(const std::string& folder) = 0;
    // A whole file, cut at kMaxProcFile bytes; false when it cannot be read.
    virtual bool Read(const std::string& path, std::string& bytes) = 0;
};

// The most the program reads of one file of /proc.
constexpr size_t kMaxProcFile = 64 * 1024;

// A Windows process as the system lists it.
struct WindowsProcess {
    uint32_t id = 0;
    // The full path of its program file as Linux spells it (UTF-8); empty when unknown.
    std::string imagePath;
    uint32_t threads = 0;
};

// The wake count in the text of an io file (its `syscw:` line); none when there is no such
// line or its number is malformed.
std::optional<uint64_t> WriteCalls(const std::string& io);

// The wake count of Linux thread `tid` of process `pid`; none when it cannot be read.
std::optional<uint64_t> ReadWakes(ProcFiles& proc, uint32_t pid, uint32_t tid);

// Appends the counts of every thread of Linux process `pid` as threads of Windows process
// `process`, each under its Linux thread id. Threads that cannot be read are left out.
void AppendThreadWakes(ProcFiles& proc, uint32_t process, uint32_t pid,
                       std::vector<ThreadWakes>& threads);

// The program a Linux command line (/proc's cmdline) runs: argv[0], as a Wine process shows its
// Windows program; or, for a process run through an emulator or a binfmt_misc interpreter
// (argv[0]'s file name starts with "qemu-", or argv[1] is Wine's loader), the argument after
// the emulator and the loader: "/usr/bin/qemu-i386 /usr/lib/wine/wine C:\x\prog.exe" runs
// C:\x\prog.exe. Empty when there is none.
std::string ProgramOf(const std::string& commandLine);

// Which Linux process each Windows process is. A Linux process is a Windows process when
// the program of its command line (ProgramOf) is that process's program file (letter case
// aside; a 32-bit program of the system folder shows it as system32, where Windows names
// syswow64; a Linux path from the root is on drive Z:) and its WINEPREFIX is the program's
// own: several Wine prefixes may run at once, each with its own processes and process ids.
// Among processes of one program file, the thread counts tell which is which (an emulator
// runs one thread of its own beside the program's), and the rest pair up in ascending id
// order. Left over after that, a Linux process pairs up by file name: the name Wine gives its
// main thread (/proc's comm, the program's file name cut to 15 bytes), or else its program's.
// That takes a program started from a shell under the emulator, whose command line names it
// as typed ("spia.exe"); a start.exe that started a program, and names it only in a later
// argument, is start.exe and never taken for it.
//
// What a Linux process's command line and environment say is remembered while its pid is
// listed, once two refreshes in a row read the same: a Wine process reads as its parent
// until its exec, so the first read of a process that is just starting may be a stale one.
// A pid that ends and goes to a new process between two refreshes (only once the kernel's
// pids wrap around) keeps what was remembered of the old one.
class WineProcessMap {
public:
    // `ownPrefix` is the program's WINEPREFIX (UTF-8); empty when it has none, as in Wine's
    // default prefix, where only processes without one are its.
    WineProcessMap(ProcFiles& proc, std::string ownPrefix);

    // Looks at /proc again and maps each of `processes` that it finds there. The program
    // itself and the processes it does not watch belong among them too: each takes its own
    // Linux process, which would otherwise go to another process of the same program file.
    void Refresh(const std::vector<WindowsProcess>& processes);

    // The Windows processes found by the last Refresh, each with its Linux pid.
    const std::map<uint32_t, uint32_t>& Pids() const { return pids_; }
    // How many Linux processes are remembered: those listed at the last Refresh at most.
    size_t Remembered() const { return known_.size(); }

private:
    // What a Linux process's files said.
    struct Known {
        bool readable = false;
        bool ours = false;     // of the program's own prefix
        bool emulated = false; // run through an emulator (ProgramOf skipped it)
        std::string path;      // its program in Windows form (PathKey), when ours and known
        std::string name;      // its program's file name (NameKey), when ours
        bool settled = false;
        bool operator==(const Known& other) const {
            return readable == other.readable && ours == other.ours && emulated == other.emulated &&
                   path == other.path && name == other.name;
        }
    };

    Known ReadProcess(uint32_t pid);
    // Pairs the Windows processes and the Linux pids of one program file, each list in
    // ascending order, into pids_; the pids it takes go into `taken`.
    void Pair(const std::vector<const WindowsProcess*>& windows, const std::vector<uint32_t>& pids,
              std::set<uint32_t>& taken);

    ProcFiles& proc_;
    std::string ownPrefix_;
    std::map<uint32_t, Known> known_;
    std::map<uint32_t, uint32_t> pids_;
};

} // namespace detect
