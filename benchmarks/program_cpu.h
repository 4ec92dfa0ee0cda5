// The CPU time that a program started by a benchmark has used so far, in seconds.
#pragma once

#include "base/Text.h"
#include "tests/support/process.h"
#include "ui/Handles.h"

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

inline double CpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    auto ticks = [](const FILETIME& t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

// Under Wine, GetProcessTimes on another process gives the caller's own times; there the
// program's come from Linux's /proc (drive Z: is the Linux root), found by the program's folder
// and `name` on its command line: the process id, or empty where there is none (on Windows).
inline std::string LinuxProcess(const std::string& programPath,
                                const std::string& name = "snoopsweep.exe") {
    WIN32_FIND_DATAA data;
    ui::FindHandle find(::FindFirstFileA("Z:\\proc\\*", &data));
    if (!find)
        return std::string();
    const std::string wanted = base::ToLowerAscii(base::FileNameOf(
        base::DirectoryOf(programPath).substr(0, base::DirectoryOf(programPath).size() - 1)));
    do {
        const std::string pid = data.cFileName;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string commandLine =
            base::ToLowerAscii(testing_support::ReadFileBytes("Z:\\proc\\" + pid + "\\cmdline"));
        if (commandLine.find(wanted) != std::string::npos &&
            commandLine.find(name) != std::string::npos)
            return pid;
    } while (::FindNextFileA(find.get(), &data));
    return std::string();
}

// That process's CPU seconds from /proc; -1 where there is none.
inline double LinuxCpuSeconds(const std::string& programPath,
                              const std::string& name = "snoopsweep.exe") {
    const std::string pid = LinuxProcess(programPath, name);
    if (pid.empty())
        return -1;
    const std::string stat = testing_support::ReadFileBytes("Z:\\proc\\" + pid + "\\stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    // Fields after the command: state is the 3rd field, utime the 14th, stime the 15th.
    std::vector<std::string> fields;
    size_t at = close + 2;
    while (at < stat.size()) {
        const auto space = stat.find(' ', at);
        fields.push_back(stat.substr(at, space - at));
        if (space == std::string::npos)
            break;
        at = space + 1;
    }
    if (fields.size() <= 12)
        return -1;
    return (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) / 100.0;
}

// That process's resident memory in KiB from /proc; -1 where there is none.
inline long LinuxResidentKiB(const std::string& programPath,
                             const std::string& name = "snoopsweep.exe") {
    const std::string pid = LinuxProcess(programPath, name);
    if (pid.empty())
        return -1;
    const std::string status = testing_support::ReadFileBytes("Z:\\proc\\" + pid + "\\status");
    const auto at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

// The program's CPU seconds by whichever way works here: /proc under Wine, else
// GetProcessTimes.
inline double ProgramCpuSeconds(const std::string& programPath, HANDLE process) {
    const double fromProc = LinuxCpuSeconds(programPath);
    return fromProc >= 0 ? fromProc : CpuSeconds(process);
}

} // namespace bench
