#include "inspect/Autostart.h"

#include "base/Unique.h"
#include "ui/Com.h"
#include "ui/Handles.h"
#include "ui/WideText.h"

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <shlobj.h>
#include <taskschd.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>

namespace inspect {

namespace {

using ui::Com;
using ui::ComApartment;
using ui::Create;
using ui::Query;

// ---- Owners of what the places are read with ----

struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { ::CloseServiceHandle(h); }
};
using ServiceHandle = base::Unique<ServiceHandleTraits>;

struct BstrTraits {
    using Type = BSTR;
    static Type Invalid() { return nullptr; }
    static void Close(Type s) { ::SysFreeString(s); }
};
using Bstr = base::Unique<BstrTraits>;

// Calls `object->method(args..., &value)` and hands the value to `owner`, which holds nothing
// when the call gave nothing.
template <class Owner, class Object, class Method, class... Args>
HRESULT Receive(Owner* owner, Object* object, Method method, Args... args) {
    typename Owner::Type value = nullptr;
    const HRESULT result = (object->*method)(args..., &value);
    owner->reset(value);
    return result;
}

// ---- The list being built ----

class EntryList {
public:
    void Add(std::string where, std::string name, std::string command) {
        if (command.empty())
            return;
        std::string key = where + '\0' + name + '\0' + command;
        if (!seen_.insert(std::move(key)).second)
            return;
        entries_.push_back({std::move(where), std::move(name), std::move(command)});
    }
    std::vector<AutostartEntry> Take() { return std::move(entries_); }

private:
    std::vector<AutostartEntry> entries_;
    std::set<std::string> seen_;
};

std::string Narrow(const Bstr& text) {
    return text ? ui::Narrow(text.get(), static_cast<int>(::SysStringLen(text.get())))
                : std::string();
}

// A program and its arguments as one command line, the program quoted unless it already is;
// the program alone when there are no arguments.
std::string CommandLine(const std::string& program, const std::string& arguments) {
    if (program.empty() || arguments.empty())
        return program;
    return (program[0] == '"' ? program : '"' + program + '"') + ' ' + arguments;
}

bool EndsWithNoCase(const std::string& text, const char* suffix) {
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && ::lstrcmpiA(text.c_str() + (text.size() - length), suffix) == 0;
}

// ---- Registry ----

// The text of a value as stored: a REG_SZ or REG_EXPAND_SZ up to its first NUL or its end
// (it need not be terminated), the strings of a REG_MULTI_SZ joined by blanks. Other types
// hold no command.
bool ValueText(DWORD type, const BYTE* data, DWORD size, std::string* text) {
    const char* chars = reinterpret_cast<const char*>(data);
    text->clear();
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        text->assign(chars, ::strnlen(chars, size));
        return true;
    case REG_MULTI_SZ:
        for (DWORD at = 0; at < size;) {
            const std::size_t length = ::strnlen(chars + at, size - at);
            if (length > 0) {
                if (!text->empty())
                    *text += ' ';
                text->append(chars + at, length);
            }
            at += static_cast<DWORD>(length) + 1;
        }
        return true;
    default:
        return false;
    }
}

// Tries a registry read whose buffer may turn out too small (the value can grow between the
// calls): a few times, with the size the system asked for and some room more.
template <class Read> LONG ReadGrowing(std::vector<BYTE>* buffer, DWORD initial, Read read) {
    buffer->assign(static_cast<std::size_t>(initial) + 16, 0);
    LONG status = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < 4 && status == ERROR_MORE_DATA; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer->size());
        status = read(buffer->data(), &size);
        if (status == ERROR_MORE_DATA) {
            const std::size_t grown = std::max<std::size_t>(size, buffer->size() * 2) + 16;
            buffer->assign(grown, 0);
        } else if (status == ERROR_SUCCESS) {
            buffer->resize(std::min<std::size_t>(size, buffer->size()));
        }
    }
    return status;
}

// One registry view to read a key through.
struct View {
    REGSAM flag;    // KEY_WOW64_64KEY, KEY_WOW64_32KEY, or 0 where the system has one view
    bool thirtyTwo; // the 32-bit view of a 64-bit system
};

bool IsWindows64() {
#ifdef _WIN64
    return true;
#else
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
#endif
}

std::vector<View> RegistryViews() {
    if (!IsWindows64())
        return {{0, false}};
    return {{KEY_WOW64_64KEY, false}, {KEY_WOW64_32KEY, true}};
}

// Whether an open key lives under a WOW6432Node key, going by the name the system itself
// gives it. Many keys are shared by both views, so the view alone does not tell.
bool IsUnderWow6432Node(HKEY key, bool* known) {
    *known = false;
    using NtQueryKeyFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    if (!ntdll)
        return false;
    // Through a plain function pointer: the compiler accepts that between function types.
    const auto queryKey = reinterpret_cast<NtQueryKeyFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "NtQueryKey")));
    if (!queryKey)
        return false;
    const int kKeyNameInformation = 3;
    // A ULONG with the name's byte count, then the name without a NUL.
    std::vector<ULONG> buffer(1024);
    ULONG size = 0;
    const ULONG bytes = static_cast<ULONG>(buffer.size() * sizeof(ULONG));
    if (queryKey(key, kKeyNameInformation, buffer.data(), bytes, &size) != 0)
        return false;
    const ULONG nameBytes = std::min<ULONG>(buffer[0], bytes - sizeof(ULONG));
    const wchar_t* name = reinterpret_cast<const wchar_t*>(buffer.data() + 1);
    std::wstring upper(name, name + nameBytes / sizeof(wchar_t));
    for (wchar_t& c : upper)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    *known = true;
    return upper.find(L"\\WOW6432NODE\\") != std::wstring::npos;
}

// A key of one view, opened for reading, and its name as regedit shows it.
struct OpenedKey {
    ui::RegKey key;
    std::string where;
};

bool OpenKey(HKEY root, const char* rootName, const std::string& path, const View& view,
             OpenedKey* opened) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE | view.flag, &key) != ERROR_SUCCESS)
        return false;
    opened->key.reset(key);
    bool redirected = false;
    if (view.thirtyTwo) {
        bool known = false;
        redirected = IsUnderWow6432Node(key, &known);
        // Without the system's word, only the machine's software is taken as redirected.
        if (!known)
            redirected = root == HKEY_LOCAL_MACHINE;
    }
    const std::string software = "Software\\";
    std::string shown = path;
    if (redirected && shown.compare(0, software.size(), software) == 0)
        shown.insert(software.size(), "WOW6432Node\\");
    opened->where = std::string(rootName) + '\\' + shown;
    return true;
}

// Every text value of a key, in the key's order.
void AddAllValues(const OpenedKey& opened, EntryList* list) {
    HKEY key = opened.key.get();
    DWORD nameMax = 0, dataMax = 0;
    if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           &nameMax, &dataMax, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<char> name(static_cast<std::size_t>(nameMax) * 2 + 16);
    std::vector<BYTE> data(static_cast<std::size_t>(dataMax) + 16);
    for (DWORD index = 0;; ++index) {
        DWORD type = 0, nameLength = 0, size = 0;
        LONG status = ERROR_MORE_DATA;
        // A value that grew since the key was measured: again with more room, a few times.
        for (int attempt = 0; attempt < 4 && status == ERROR_MORE_DATA; ++attempt) {
            if (attempt > 0) {
                name.assign(name.size() * 2, '\0');
                data.assign(std::max<std::size_t>(size, data.size() * 2) + 16, 0);
            }
            nameLength = static_cast<DWORD>(name.size());
            size = static_cast<DWORD>(data.size());
            status = ::RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type,
                                     data.data(), &size);
        }
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return;
        nameLength = std::min<DWORD>(nameLength, static_cast<DWORD>(name.size()));
        size = std::min<DWORD>(size, static_cast<DWORD>(data.size()));
        std::string text;
        if (ValueText(type, data.data(), size, &text))
            list->Add(opened.where, std::string(name.data(), ::strnlen(name.data(), nameLength)),
                      text);
    }
}

// One text value of a key, if it is there, listed under `entryName`.
void AddValue(const OpenedKey& opened, const char* valueName, const std::string& entryName,
              EntryList* list) {
    std::vector<BYTE> data;
    DWORD type = 0;
    const LONG status = ReadGrowing(&data, MAX_PATH, [&](BYTE* buffer, DWORD* size) {
        return ::RegQueryValueExA(opened.key.get(), valueName, nullptr, &type, buffer, size);
    });
    std::string text;
    if (status == ERROR_SUCCESS &&
        ValueText(type, data.data(), static_cast<DWORD>(data.size()), &text))
        list->Add(opened.where, entryName, text);
}

struct Root {
    HKEY key;
    const char* name;
};
const Root kMachine = {HKEY_LOCAL_MACHINE, "HKLM"};
const Root kUser = {HKEY_CURRENT_USER, "HKCU"};

// `valueName` null: every value of the key.
void AddKeyValues(const Root& root, const std::string& path, const char* valueName,
                  const std::vector<View>& views, EntryList* list) {
    for (const View& view : views) {
        OpenedKey opened;
        if (!OpenKey(root.key, root.name, path, view, &opened))
            continue;
        if (valueName)
            AddValue(opened, valueName, valueName, list);
        else
            AddAllValues(opened, list);
    }
}

void AddRunKeys(const std::vector<View>& views, EntryList* list) {
    for (const Root& root : {kMachine, kUser})
        for (const char* key : {"Run", "RunOnce"})
            AddKeyValues(root, std::string("Software\\Microsoft\\Windows\\CurrentVersion\\") + key,
                         nullptr, views, list);
}

void AddWinlogon(const std::vector<View>& views, EntryList* list) {
    const std::string key = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    AddKeyValues(kMachine, key, "Shell", views, list);
    AddKeyValues(kMachine, key, "Userinit", views, list);
    AddKeyValues(kUser, key, "Shell", views, list);
}

void AddAppInitDlls(const std::vector<View>& views, EntryList* list) {
    AddKeyValues(kMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
                 "AppInit_DLLs", views, list);
}

// ---- Startup folders ----

// What a shortcut starts, or nothing when it names no file.
std::string ShortcutCommand(const std::string& path) {
    Com<IShellLinkA> link;
    Com<IPersistFile> file;
    if (FAILED(Create(CLSID_ShellLink, &link)) || FAILED(Query(link.get(), &file)))
        return {};
    const std::wstring widePath = ui::Widen(path);
    if (widePath.empty() || FAILED(file.get()->Load(widePath.c_str(), STGM_READ)))
        return {};
    std::vector<char> target(32768, '\0');
    if (link.get()->GetPath(target.data(), static_cast<int>(target.size()), nullptr, 0) != S_OK)
        return {};
    target.back() = '\0';
    std::vector<char> arguments(32768, '\0');
    if (FAILED(link.get()->GetArguments(arguments.data(), static_cast<int>(arguments.size()))))
        arguments[0] = '\0';
    arguments.back() = '\0';
    return CommandLine(target.data(), arguments.data());
}

void AddStartupFolder(int csidl, EntryList* list) {
    char buffer[MAX_PATH + 1] = {};
    if (::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK)
        return;
    buffer[MAX_PATH] = '\0';
    const std::string folder = buffer;
    if (folder.empty())
        return;
    WIN32_FIND_DATAA found;
    ui::FindHandle find(::FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!find)
        return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::string name(found.cFileName, ::strnlen(found.cFileName, MAX_PATH));
        const std::string path = folder + '\\' + name;
        std::string command;
        if (EndsWithNoCase(name, ".lnk"))
            command = ShortcutCommand(path);
        // A file that is no shortcut, or one that cannot be read, is what starts.
        if (command.empty())
            command = path;
        list->Add(folder, name, command);
    } while (::FindNextFileA(find.get(), &found));
}

// ---- Services ----

void AddService(SC_HANDLE manager, const std::string& name, const View& view, EntryList* list) {
    const std::string where = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\" + name;
    ServiceHandle service(::OpenServiceA(manager, name.c_str(), SERVICE_QUERY_CONFIG));
    if (service) {
        std::vector<BYTE> config;
        const LONG status = ReadGrowing(&config, 1024, [&](BYTE* buffer, DWORD* size) -> LONG {
            DWORD needed = 0;
            if (::QueryServiceConfigA(service.get(),
                                      reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer), *size,
                                      &needed))
                return ERROR_SUCCESS;
            const DWORD error = ::GetLastError();
            *size = needed;
            return error == ERROR_INSUFFICIENT_BUFFER ? ERROR_MORE_DATA : error;
        });
        // The buffer keeps its full size: the strings lie anywhere in it.
        if (status == ERROR_SUCCESS && config.size() >= sizeof(QUERY_SERVICE_CONFIGA)) {
            const auto* info = reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(config.data());
            if (info->lpBinaryPathName)
                list->Add(where, name, info->lpBinaryPathName);
        }
    }
    OpenedKey parameters;
    if (OpenKey(kMachine.key, kMachine.name,
                "SYSTEM\\CurrentControlSet\\Services\\" + name + "\\Parameters", view, &parameters))
        AddValue(parameters, "ServiceDll", name, list);
}

// The system's own view of the registry: the services' keys are not redirected anyway.
void AddServices(const View& view, EntryList* list) {
    ServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager)
        return;
    std::vector<std::string> names;
    DWORD resume = 0;
    std::vector<BYTE> buffer(64 * 1024);
    for (int round = 0; round < 64; ++round) {
        DWORD needed = 0, count = 0;
        const BOOL done = ::EnumServicesStatusExA(
            manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
            static_cast<DWORD>(buffer.size()), &needed, &count, &resume, nullptr);
        const DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
        if (!done && error != ERROR_MORE_DATA)
            return;
        const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSA*>(buffer.data());
        const DWORD fits = static_cast<DWORD>(buffer.size() / sizeof(*services));
        for (DWORD i = 0; i < count && i < fits; ++i)
            if (services[i].lpServiceName)
                names.emplace_back(services[i].lpServiceName);
        if (done)
            break;
        // Nothing fitted: room for at least the next one.
        if (count == 0)
            buffer.assign(std::max<std::size_t>(buffer.size() * 2, needed), 0);
    }
    for (const std::string& name : names)
        AddService(manager.get(), name, view, list);
}

// ---- Scheduled tasks ----

const char kTaskSchedulerPlace[] = "Utilit\xE0 di pianificazione";
// Deeper folders than this are not walked: a loop in what the scheduler answers ends here.
constexpr int kMaxFolderDepth = 32;

VARIANT IndexVariant(LONG index) {
    VARIANT variant;
    ::VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = index;
    return variant;
}

void AddTask(IRegisteredTask* task, const std::string& where, EntryList* list) {
    Bstr name;
    Com<ITaskDefinition> definition;
    Com<IActionCollection> actions;
    LONG count = 0;
    if (FAILED(Receive(&name, task, &IRegisteredTask::get_Name)) ||
        FAILED(Receive(&definition, task, &IRegisteredTask::get_Definition)) || !definition ||
        FAILED(Receive(&actions, definition.get(), &ITaskDefinition::get_Actions)) || !actions ||
        FAILED(actions.get()->get_Count(&count)))
        return;
    const std::string taskName = Narrow(name);
    for (LONG i = 1; i <= count; ++i) {
        Com<IAction> action;
        TASK_ACTION_TYPE type = TASK_ACTION_EXEC;
        if (FAILED(Receive(&action, actions.get(), &IActionCollection::get_Item, i)) || !action ||
            FAILED(action.get()->get_Type(&type)) || type != TASK_ACTION_EXEC)
            continue;
        Com<IExecAction> exec;
        if (FAILED(Query(action.get(), &exec)))
            continue;
        Bstr path, arguments;
        if (FAILED(Receive(&path, exec.get(), &IExecAction::get_Path)))
            continue;
        if (FAILED(Receive(&arguments, exec.get(), &IExecAction::get_Arguments)))
            arguments.reset();
        list->Add(where, taskName, CommandLine(Narrow(path), Narrow(arguments)));
    }
}

void AddTaskFolder(ITaskFolder* folder, int depth, EntryList* list) {
    Bstr path;
    if (FAILED(Receive(&path, folder, &ITaskFolder::get_Path)))
        return;
    const std::string where = std::string(kTaskSchedulerPlace) + ' ' + Narrow(path);

    Com<IRegisteredTaskCollection> tasks;
    LONG count = 0;
    if (SUCCEEDED(Receive(&tasks, folder, &ITaskFolder::GetTasks, LONG{TASK_ENUM_HIDDEN})) &&
        tasks && SUCCEEDED(tasks.get()->get_Count(&count))) {
        for (LONG i = 1; i <= count; ++i) {
            Com<IRegisteredTask> task;
            if (SUCCEEDED(Receive(&task, tasks.get(), &IRegisteredTaskCollection::get_Item,
                                  IndexVariant(i))) &&
                task)
                AddTask(task.get(), where, list);
        }
    }

    if (depth >= kMaxFolderDepth)
        return;
    Com<ITaskFolderCollection> folders;
    count = 0;
    if (FAILED(Receive(&folders, folder, &ITaskFolder::GetFolders, LONG{0})) || !folders ||
        FAILED(folders.get()->get_Count(&count)))
        return;
    for (LONG i = 1; i <= count; ++i) {
        Com<ITaskFolder> child;
        if (SUCCEEDED(Receive(&child, folders.get(), &ITaskFolderCollection::get_Item,
                              IndexVariant(i))) &&
            child)
            AddTaskFolder(child.get(), depth + 1, list);
    }
}

// Whether a service is running now. Asked before the task scheduler is: connecting to it
// starts its service where that is stopped (and Wine's waits up to half a minute for it),
// and reading the places changes nothing.
bool IsServiceRunning(const char* name) {
    ServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return false;
    ServiceHandle service(::OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    return service && ::QueryServiceStatus(service.get(), &status) &&
           status.dwCurrentState == SERVICE_RUNNING;
}

void AddScheduledTasks(EntryList* list) {
    if (!IsServiceRunning("Schedule"))
        return;
    Com<ITaskService> service;
    if (FAILED(Create(__uuidof(TaskScheduler), &service)))
        return;
    VARIANT empty;
    ::VariantInit(&empty);
    if (FAILED(service.get()->Connect(empty, empty, empty, empty)))
        return;
    Bstr rootPath(::SysAllocString(L"\\"));
    Com<ITaskFolder> root;
    if (!rootPath ||
        FAILED(Receive(&root, service.get(), &ITaskService::GetFolder, rootPath.get())) || !root)
        return;
    AddTaskFolder(root.get(), 0, list);
}

} // namespace

std::vector<AutostartEntry> ReadAutostartEntries() {
    ComApartment com;
    const std::vector<View> views = RegistryViews();
    EntryList list;
    AddRunKeys(views, &list);
    AddStartupFolder(CSIDL_STARTUP, &list);
    AddStartupFolder(CSIDL_COMMON_STARTUP, &list);
    AddServices(views.front(), &list);
    AddWinlogon(views, &list);
    AddAppInitDlls(views, &list);
    AddScheduledTasks(&list);
    return list.Take();
}

} // namespace inspect
