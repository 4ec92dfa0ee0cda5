#include "detect/WineProcessMap.h"

#include "base/Text.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace detect {

namespace {

std::string ProcPath(uint32_t pid, const char* rest) {
    return "/proc/" + std::to_string(pid) + "/" + rest;
}

// The value of `name` in an environment block (NUL-separated NAME=value entries).
std::optional<std::string> EnvironmentValue(const std::string& block, const std::string& name) {
    const std::string wanted = name + "=";
    for (size_t at = 0; at < block.size();) {
        size_t end = block.find('\0', at);
        if (end == std::string::npos)
            end = block.size();
        if (block.compare(at, wanted.size(), wanted) == 0)
            return block.substr(at + wanted.size(), end - at - wanted.size());
        at = end + 1;
    }
    return std::nullopt;
}

// A prefix folder as Wine takes it: trailing slashes do not count, and an empty value is none.
std::string PrefixFolder(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

// A program file's path in the form both sides compare: lower-case ASCII, and the 32-bit
// system folder under the name its own programs see.
std::string PathKey(const std::string& path) {
    std::string key = base::ToLowerAscii(path);
    for (const char* folder : {"\\syswow64\\", "\\sysnative\\"}) {
        const size_t at = key.find(folder);
        if (at != std::string::npos)
            key.replace(at, std::strlen(folder), "\\system32\\");
    }
    return key;
}

// A file name in the form both sides compare: lower-case ASCII, cut where Linux cuts a
// thread's name (15 bytes).
std::string NameKey(const std::string& name) {
    return base::ToLowerAscii(name.substr(0, 15));
}

// The last part of a Linux path.
std::string LinuxFileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A program as the command line names it, in Windows form: a Linux path from the root is on
// drive Z:; a relative one, as a shell was given it, has none (empty).
std::string WindowsForm(const std::string& program) {
    if (program.empty() || program[0] != '/')
        return program.size() > 1 && (program[1] == ':' || program[0] == '\\') ? PathKey(program)
                                                                               : std::string();
    std::string path = "z:" + program;
    std::replace(path.begin(), path.end(), '/', '\\');
    return PathKey(path);
}

bool IsWineLoader(const std::string& path) {
    const std::string name = LinuxFileName(path);
    return name == "wine" || name == "wine64" || name == "wine-preloader" ||
           name == "wine64-preloader";
}

} // namespace

std::string ProgramOf(const std::string& commandLine) {
    // The first three arguments are all it takes.
    std::vector<std::string> arguments;
    for (size_t at = 0; at < commandLine.size() && arguments.size() < 3;) {
        size_t end = commandLine.find('\0', at);
        if (end == std::string::npos)
            end = commandLine.size();
        arguments.push_back(commandLine.substr(at, end - at));
        at = end + 1;
    }
    arguments.resize(3);
    if (IsWineLoader(arguments[1]))
        return arguments[2];
    return LinuxFileName(arguments[0]).compare(0, 5, "qemu-") == 0 ? arguments[1] : arguments[0];
}

std::optional<uint64_t> WriteCalls(const std::string& io) {
    static const std::string kField = "syscw:";
    for (size_t at = 0; at < io.size();) {
        size_t end = io.find('\n', at);
        if (end == std::string::npos)
            end = io.size();
        if (io.compare(at, kField.size(), kField) == 0) {
            size_t digit = at + kField.size();
            while (digit < end && io[digit] == ' ')
                ++digit;
            if (digit == end)
                return std::nullopt;
            uint64_t value = 0;
            for (; digit < end; ++digit) {
                const char c = io[digit];
                if (c < '0' || c > '9' || value > (UINT64_MAX - 9) / 10)
                    return std::nullopt;
                value = value * 10 + static_cast<uint64_t>(c - '0');
            }
            return value;
        }
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<uint64_t> ReadWakes(ProcFiles& proc, uint32_t pid, uint32_t tid) {
    std::string io;
    if (!proc.Read(ProcPath(pid, "task/") + std::to_string(tid) + "/io", io))
        return std::nullopt;
    return WriteCalls(io);
}

void AppendThreadWakes(ProcFiles& proc, uint32_t process, uint32_t pid,
                       std::vector<ThreadWakes>& threads) {
    std::vector<uint32_t> tids = proc.Numbers(ProcPath(pid, "task"));
    std::sort(tids.begin(), tids.end());
    for (uint32_t tid : tids) {
        if (const auto count = ReadWakes(proc, pid, tid))
            threads.push_back({process, tid, *count});
    }
}

WineProcessMap::WineProcessMap(ProcFiles& proc, std::string ownPrefix)
    : proc_(proc), ownPrefix_(PrefixFolder(std::move(ownPrefix))) {}

WineProcessMap::Known WineProcessMap::ReadProcess(uint32_t pid) {
    Known known;
    std::string environment;
    if (!proc_.Read(ProcPath(pid, "environ"), environment))
        return known;
    known.readable = true;
    known.ours =
        PrefixFolder(EnvironmentValue(environment, "WINEPREFIX").value_or("")) == ownPrefix_;
    std::string commandLine;
    if (!known.ours || !proc_.Read(ProcPath(pid, "cmdline"), commandLine))
        return known;
    const std::string program = ProgramOf(commandLine);
    known.emulated = program != commandLine.substr(0, commandLine.find('\0'));
    known.path = WindowsForm(program);
    // Wine names a process's main thread after its program file, also where the command
    // line is the emulator's and names the program as a shell was given it.
    std::string thread;
    if (proc_.Read(ProcPath(pid, "comm"), thread)) {
        while (!thread.empty() && (thread.back() == '\n' || thread.back() == '\0'))
            thread.pop_back();
        known.name = NameKey(thread);
    }
    if (known.name.empty())
        known.name = NameKey(LinuxFileName(base::FileNameOf(program)));
    return known;
}

void WineProcessMap::Refresh(const std::vector<WindowsProcess>& processes) {
    std::vector<uint32_t> listed = proc_.Numbers("/proc");
    std::sort(listed.begin(), listed.end());
    listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
    // Only the pids listed now are kept.
    std::map<uint32_t, Known> known;
    for (uint32_t pid : listed) {
        const auto old = known_.find(pid);
        if (old != known_.end() && old->second.settled) {
            known.emplace(pid, std::move(old->second));
            continue;
        }
        Known now = ReadProcess(pid);
        now.settled = old != known_.end() && old->second == now;
        known.emplace(pid, std::move(now));
    }
    known_.swap(known);

    std::vector<const WindowsProcess*> windows;
    for (const WindowsProcess& process : processes) {
        if (!process.imagePath.empty())
            windows.push_back(&process);
    }
    std::sort(windows.begin(), windows.end(),
              [](const WindowsProcess* a, const WindowsProcess* b) { return a->id < b->id; });
    pids_.clear();
    std::set<uint32_t> taken;
    // The full paths first; what is left over, by file name.
    for (bool byPath : {true, false}) {
        std::map<std::string, std::pair<std::vector<const WindowsProcess*>, std::vector<uint32_t>>>
            groups;
        for (const WindowsProcess* process : windows) {
            if (!pids_.count(process->id))
                groups[byPath ? PathKey(process->imagePath)
                              : NameKey(base::FileNameOf(PathKey(process->imagePath)))]
                    .first.push_back(process);
        }
        for (const auto& [pid, linux] : known_) {
            const std::string& key = byPath ? linux.path : linux.name;
            if (!linux.ours || key.empty() || taken.count(pid))
                continue;
            const auto group = groups.find(key);
            if (group != groups.end())
                group->second.second.push_back(pid);
        }
        for (const auto& group : groups)
            Pair(group.second.first, group.second.second, taken);
    }
}

void WineProcessMap::Pair(const std::vector<const WindowsProcess*>& windows,
                          const std::vector<uint32_t>& pids, std::set<uint32_t>& taken) {
    if (windows.empty() || pids.empty())
        return;
    // One of each needs no thread count.
    std::vector<size_t> threads(pids.size(), 0);
    if (windows.size() > 1 || pids.size() > 1) {
        for (size_t i = 0; i < pids.size(); ++i) {
            threads[i] = proc_.Numbers(ProcPath(pids[i], "task")).size();
            // The emulator runs a thread of its own beside the program's.
            if (known_[pids[i]].emulated && threads[i] > 0)
                --threads[i];
        }
    }
    for (bool sameThreads : {true, false}) {
        for (const WindowsProcess* process : windows) {
            if (pids_.count(process->id))
                continue;
            for (size_t i = 0; i < pids.size(); ++i) {
                if (taken.count(pids[i]) || (sameThreads && threads[i] != process->threads))
                    continue;
                pids_[process->id] = pids[i];
                taken.insert(pids[i]);
                break;
            }
        }
    }
}

} // namespace detect
