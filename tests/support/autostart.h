// Autostart entries a test plants for the user and takes away again: a value under the
// user's Run key, a shortcut in the user's Startup folder.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// The user's Startup folder, with its trailing backslash; empty when the system has none.
std::string UserStartupFolder();

// Everything added through it is removed when it goes.
class PlantedAutostart {
public:
    PlantedAutostart() = default;
    ~PlantedAutostart();
    PlantedAutostart(const PlantedAutostart&) = delete;
    PlantedAutostart& operator=(const PlantedAutostart&) = delete;

    // The value `name` under HKCU\Software\Microsoft\Windows\CurrentVersion\Run.
    bool AddRunValue(const std::string& name, const std::string& command);
    // The shortcut `name`.lnk in the user's Startup folder.
    bool AddStartupShortcut(const std::string& name, const std::string& target,
                            const std::string& arguments);

private:
    std::vector<std::string> runValues_;
    std::vector<std::string> shortcuts_;
};

} // namespace testing_support
