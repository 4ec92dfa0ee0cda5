// Who is behind a listed module, gathered from the running system: the processes that have
// it loaded, in both bitnesses where this build can see them, and the autostart entries that
// name it or its likely origin; for a named finding, the processes running its program and
// the entries that name that. Read-only; may run on any thread.
#pragma once

#include "inspect/Provenance.h"

#include <string>
#include <vector>

namespace inspect {

// The processes other than this one that have the module at `path` loaded, by program name.
// Processes this program may not open are skipped.
std::vector<ProcessInfo> ProcessesHolding(const std::string& path);

// The processes other than this one whose program file is `image`, in any letter case or by
// its short path, by program name. Processes whose program file cannot be read are skipped.
std::vector<ProcessInfo> ProcessesRunning(const std::string& image);

// The names under which the system may know the file: its path as given and its short path.
std::vector<std::string> PathForms(const std::string& path);

// %NAME% references expanded from this process's environment.
std::string ExpandEnvironment(const std::string& text);

// Everything the box shows about the module at `path`.
Provenance GatherProvenance(const std::string& path);

// Everything the box shows about the program file `image` of a named finding: the processes
// running it and the autostart entries that name it; no origin. Its path is the image: the box
// puts the finding's whole key in its place.
Provenance GatherProgramProvenance(const std::string& image);

} // namespace inspect
