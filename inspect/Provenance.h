// Who is behind a listed module: the other processes that have it loaded, the one that most
// likely put it there, and the autostart entries that name it or that process's program.
// Portable: the processes and the entries are gathered by the Win32 side
// (inspect/Win32Provenance.h, inspect/Autostart.h); here they are matched and written out.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace inspect {

// A running process as the report shows it.
struct ProcessInfo {
    uint32_t pid = 0;
    std::string imageName; // the program file's name, e.g. hook_installer.exe
    std::string imagePath; // its full path; empty when it could not be read
    bool hasVisibleWindow = false;
};

// One place from which the system starts a program or loads a DLL by itself.
struct AutostartEntry {
    // The place as a user finds it again, e.g.
    // "HKCU\Software\Microsoft\Windows\CurrentVersion\Run".
    std::string where;
    // The value, shortcut, service or task name.
    std::string name;
    // What it starts: the command line, with its arguments, or the shortcut's target.
    std::string command;
};

// Expands the %NAME% references of a text, as the system would for the current user.
using Expander = std::function<std::string(const std::string&)>;

// Whether `command` names a file known under any of `paths` (its full path, its short path):
// as a whole path, quoted or not, followed by arguments or by a ",Entry" (rundll32), or as one
// of a list separated by blanks, commas or semicolons. Letter case does not count; %NAME%
// references are expanded first, and the kernel's "\??\" and "\SystemRoot\" forms of service
// paths are understood.
bool CommandNames(const std::string& command, const std::vector<std::string>& paths,
                  const Expander& expand);

// Among the processes that hold a module, the one that most likely installed it: the program
// file lying in the module's folder counts most, having no visible window next; the highest
// score wins when it is above nothing and no other process shares it. None otherwise.
std::optional<ProcessInfo> ChooseOrigin(const std::vector<ProcessInfo>& holders,
                                        const std::string& modulePath);

// What the box says about the module at `path`, or about the program of a named finding: then
// the holders are the processes running the program and there is no origin (the program is
// its own).
struct Provenance {
    std::string path; // the box's first line: the module's path, or the finding's whole key
    std::vector<ProcessInfo> holders; // other processes that have the module loaded
    std::optional<ProcessInfo> origin;
    std::vector<AutostartEntry> autostart; // entries naming the module or the origin's file
};

// The autostart entries that name any of `paths`, in their order.
std::vector<AutostartEntry> EntriesNaming(const std::vector<AutostartEntry>& entries,
                                          const std::vector<std::string>& paths,
                                          const Expander& expand);

// The box's text, one line under another; without an origin, its line is left out.
std::string ReportText(const Provenance& provenance);
// The box's text for a finding that has no file, with the programs that reacted to the
// probes' keys (by their full paths).
std::string FilelessReportText(const std::string& key, const std::vector<ProcessInfo>& reactors);

} // namespace inspect
