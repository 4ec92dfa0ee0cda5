// Who is behind a listed module, gathered from the running system: the processes that have
// it loaded, in both bitnesses where this build can see them, and the autostart entries that
// name it or its likely origin. Read-only; may run on any thread.
#pragma once

#include "inspect/Provenance.h"

#include <string>
#include <vector>

namespace inspect {

// The processes other than this one that have the module at `path` loaded, by program name.
// Processes this program may not open are skipped.
std::vector<ProcessInfo> ProcessesHolding(const std::string& path);

// The names under which the system may know the file: its path as given and its short path.
std::vector<std::string> PathForms(const std::string& path);

// %NAME% references expanded from this process's environment.
std::string ExpandEnvironment(const std::string& text);

// Everything the box shows about the module at `path`.
Provenance GatherProvenance(const std::string& path);

} // namespace inspect
