#include "tests/support/autostart.h"

#include "ui/Com.h"
#include "ui/Handles.h"
#include "ui/WideText.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace testing_support {

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Writes a shortcut file at `path` to `target` with `arguments`.
bool CreateShortcut(const std::string& path, const std::string& target,
                    const std::string& arguments) {
    const ui::ComApartment com;
    ui::Com<IShellLinkA> link;
    ui::Com<IPersistFile> file;
    const std::wstring widePath = ui::Widen(path);
    return SUCCEEDED(ui::Create(CLSID_ShellLink, &link)) &&
           SUCCEEDED(link.get()->SetPath(target.c_str())) &&
           SUCCEEDED(link.get()->SetArguments(arguments.c_str())) &&
           SUCCEEDED(ui::Query(link.get(), &file)) && !widePath.empty() &&
           SUCCEEDED(file.get()->Save(widePath.c_str(), TRUE));
}

} // namespace

std::string UserStartupFolder() {
    char path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_STARTUP | CSIDL_FLAG_CREATE, nullptr, 0, path)))
        return std::string();
    return std::string(path) + "\\";
}

PlantedAutostart::~PlantedAutostart() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        ui::RegKey run(key);
        for (const std::string& name : runValues_)
            ::RegDeleteValueA(run.get(), name.c_str());
    }
    for (const std::string& path : shortcuts_)
        ::DeleteFileA(path.c_str());
}

bool PlantedAutostart::AddRunValue(const std::string& name, const std::string& command) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return false;
    ui::RegKey run(key);
    runValues_.push_back(name);
    return ::RegSetValueExA(run.get(), name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(command.c_str()),
                            static_cast<DWORD>(command.size() + 1)) == ERROR_SUCCESS;
}

bool PlantedAutostart::AddStartupShortcut(const std::string& name, const std::string& target,
                                          const std::string& arguments) {
    const std::string folder = UserStartupFolder();
    if (folder.empty())
        return false;
    shortcuts_.push_back(folder + name + ".lnk");
    return CreateShortcut(shortcuts_.back(), target, arguments);
}

} // namespace testing_support
